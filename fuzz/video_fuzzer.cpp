// libFuzzer entry for the own box readers and the small picture readers: the video box reader,
// the kind and nesting checks, the CR3 CMT reader with the TIFF reader, a PNG's Creation Time
// and the date texts. Any bytes, no crash, no read outside the input, and what they hand on
// is a valid date and a clean camera name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/dating/date_source.h"
#include "fuzz/fuzz_checks.h"
#include "media/avchd.h"
#include "media/picture_tags.h"
#include "media/video_boxes.h"

namespace {

bool Digits(const std::string& text, std::size_t n)
{
    if (text.size() != n)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

void CheckDate(const engine::ExifInfo& info)
{
    if (!info.HasDate)
        return;
    if (!Digits(info.Year4, 4) || !Digits(info.Year2, 2) || !Digits(info.Month, 2) ||
        !Digits(info.Day, 2) || !Digits(info.Hour, 2) || !Digits(info.Minute, 2) ||
        !Digits(info.Second, 2))
        __builtin_trap();
    if (!engine::IsValidDate(std::stoi(info.Year4), std::stoi(info.Month), std::stoi(info.Day)) ||
        !engine::IsValidClock(std::stoi(info.Hour), std::stoi(info.Minute), std::stoi(info.Second)))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    media::MemorySource source({data, size});
    const media::VideoTags tags = media::ReadVideoTags(source);
    if ((tags.movieCreated && *tags.movieCreated <= 0) || (tags.trackCreated && *tags.trackCreated <= 0))
        __builtin_trap();
    if (tags.creationDate.size() > media::kMaxValueBytes ||
        tags.make.size() > media::kMaxValueBytes || tags.model.size() > media::kMaxValueBytes)
        __builtin_trap();
    const engine::ExifInfo info = media::VideoCaptureInfo(tags);
    CheckDate(info);
    if (fuzz::HasPathOrControl(info.CameraName))
        __builtin_trap();

    const std::span<const std::uint8_t> bytes(data, size);
    media::KindOfBoxFile(bytes);
    media::BoxTreeWithinLimits(source);
    const media::CanonBlocks blocks = media::ReadCanonBlocks(source);
    if (blocks.cmt1.size() > media::kMaxCmtBytes || blocks.cmt2.size() > media::kMaxCmtBytes)
        __builtin_trap();
    for (const auto& tiff : {std::span<const std::uint8_t>(blocks.cmt1), bytes}) {
        const media::TiffTags tiffTags = media::ReadTiffTags(tiff);
        for (const std::string* text : {&tiffTags.dateTimeOriginal, &tiffTags.dateTime}) {
            if (text->size() > media::kMaxTiffText)
                __builtin_trap();
            engine::ExifInfo taken;
            media::TakeValidExifDate(*text, taken);
            CheckDate(taken);
        }
    }
    engine::ExifInfo text;
    media::TakeTextDate(media::PngCreationTime(bytes), text);
    CheckDate(text);
    media::LooksLikeTransportStream(bytes);
    CheckDate(media::ReadAvchdDate(source));
    engine::ExifInfo whole;
    media::TakeTextDate({reinterpret_cast<const char*>(data), size}, whole);
    CheckDate(whole);
    return 0;
}
