// libFuzzer entry for the EXIF head parser: any bytes, no crash, no read outside the head,
// and the parser's promises about what it hands on hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/exif_reader.h"

namespace {

bool HasPathOrControl(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c == '/' || c == '\\' || c < 32 || c == 0x7F;
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    engine::HeadBuffer head{};
    std::copy_n(data, std::min(size, head.size()), head.begin());
    const engine::ExifInfo info = engine::ParseExifHead(head);
    if (!info.HasExif && (info.HasDate || !info.CameraName.empty()))
        __builtin_trap();
    if (HasPathOrControl(info.CameraName))
        __builtin_trap();
    for (const auto* field :
         {&info.Year4, &info.Year2, &info.Month, &info.Day, &info.Hour, &info.Minute, &info.Second})
        if (HasPathOrControl(*field))
            __builtin_trap();
    return 0;
}
