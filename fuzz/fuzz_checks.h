#pragma once

#include <cstddef>
#include <string>

namespace fuzz {

// True when a text handed on to the naming steps holds a path separator or a control
// character (C0, DEL, or a C1 control U+0080..U+009F in its UTF-8 form C2 80..C2 9F).
inline bool HasPathOrControl(const std::string& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '/' || c == '\\' || c < 32 || c == 0x7F)
            return true;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F)
            return true;
    }
    return false;
}

} // namespace fuzz
