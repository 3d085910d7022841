// libFuzzer entry for the EXIF head parser: any bytes, no crash, no read outside the head,
// and the parser's promises about what it hands on hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/exif_reader.h"

namespace {

bool HasPathOrControl(const std::string& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '/' || c == '\\' || c < 32 || c == 0x7F)
            return true;
        // U+0080..U+009F (C1 controls) in UTF-8: C2 80..C2 9F.
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F)
            return true;
    }
    return false;
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
    // Date fields also never hold a dot: a folder of dots would be hidden or climb up.
    for (const auto* field :
         {&info.Year4, &info.Year2, &info.Month, &info.Day, &info.Hour, &info.Minute, &info.Second})
        if (HasPathOrControl(*field) || field->find('.') != std::string::npos)
            __builtin_trap();
    return 0;
}
