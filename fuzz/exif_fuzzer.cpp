// libFuzzer entry for the EXIF head parser: any bytes, no crash, no read outside the head,
// and the parser's promises about what it hands on hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/dating/exif_reader.h"
#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    engine::HeadBuffer head{};
    std::copy_n(data, std::min(size, head.size()), head.begin());
    const engine::ExifInfo info = engine::ParseExifHead(head);
    if (!info.HasExif && (info.HasDate || !info.CameraName.empty()))
        __builtin_trap();
    if (fuzz::HasPathOrControl(info.CameraName))
        __builtin_trap();
    // Date fields also never hold a dot: a folder of dots would be hidden or climb up.
    for (const auto* field :
         {&info.Year4, &info.Year2, &info.Month, &info.Day, &info.Hour, &info.Minute, &info.Second})
        if (fuzz::HasPathOrControl(*field) || field->find('.') != std::string::npos)
            __builtin_trap();
    return 0;
}
