// libFuzzer entry for the video box reader: any bytes, no crash, no read outside the input,
// and what it hands on is a valid date and a clean camera name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/date_source.h"
#include "fuzz/fuzz_checks.h"
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    media::MemorySource source({data, size});
    const media::VideoTags tags = media::ReadVideoTags(source);
    if (tags.movieCreated && *tags.movieCreated <= 0)
        __builtin_trap();
    if (tags.creationDate.size() > media::kMaxValueBytes ||
        tags.make.size() > media::kMaxValueBytes || tags.model.size() > media::kMaxValueBytes)
        __builtin_trap();
    const engine::ExifInfo info = media::VideoCaptureInfo(tags);
    if (info.HasDate) {
        if (!Digits(info.Year4, 4) || !Digits(info.Year2, 2) || !Digits(info.Month, 2) ||
            !Digits(info.Day, 2) || !Digits(info.Hour, 2) || !Digits(info.Minute, 2) ||
            !Digits(info.Second, 2))
            __builtin_trap();
        if (!engine::IsValidDate(std::stoi(info.Year4), std::stoi(info.Month),
                                 std::stoi(info.Day)) ||
            !engine::IsValidClock(std::stoi(info.Hour), std::stoi(info.Minute),
                                  std::stoi(info.Second)))
            __builtin_trap();
    }
    if (fuzz::HasPathOrControl(info.CameraName))
        __builtin_trap();
    return 0;
}
