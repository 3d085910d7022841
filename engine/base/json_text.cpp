#include "engine/base/json_text.h"

#include <cstdio>

#include "engine/base/utf8.h"

namespace engine {

std::string JsonQuoted(std::string_view text)
{
    std::string out = "\"";
    out.reserve(text.size() + 2);
    char escape[8];
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        char32_t codePoint = 0;
        const std::size_t n = DecodeUtf8(text, i, codePoint);
        if (n == 0) {
            std::snprintf(escape, sizeof escape, "\\udc%02x", c);
            out += escape;
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    out += '"';
    return out;
}

} // namespace engine
