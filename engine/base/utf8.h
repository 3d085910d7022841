#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace engine {

// Decodes one UTF-8 sequence at text[pos] (pos < text.size()); returns its length, or 0 when it
// is not valid (overlong forms, surrogates and values past U+10FFFF are not).
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& cp);

// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t cp);

} // namespace engine
