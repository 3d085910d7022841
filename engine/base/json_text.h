#pragma once

#include <string>
#include <string_view>

namespace engine {

// text as a JSON string, quotes included. File names are bytes, not always UTF-8: each byte
// that is not part of a valid UTF-8 sequence is written as the escape \udcXX (U+DC00 + the
// byte), the convention of Python's "surrogateescape", so a reader gets every name back
// exactly. Control characters, the quote and the backslash are escaped as JSON requires.
std::string JsonQuoted(std::string_view text);

} // namespace engine
