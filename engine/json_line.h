#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace engine {

// One flat JSON object on one line: string keys, values that are strings, whole numbers or
// true/false. Enough for the undo journal, and bounded so that a damaged file cannot make the
// reader work without end.
//
// Strings are byte strings (file names need not be UTF-8), written by JsonQuoted
// (json_text.h): a byte that is not part of valid UTF-8 as \udcXX; the reader turns \udcXX
// back into the byte.
class JsonLine {
public:
    JsonLine& Add(std::string_view key, std::string_view value);
    JsonLine& Add(std::string_view key, std::int64_t value);
    JsonLine& AddUnsigned(std::string_view key, std::uint64_t value);
    JsonLine& AddBool(std::string_view key, bool value); // not Add: a char pointer would pick it
    // A number with three decimals (a duration in seconds); for writing only: the reader below
    // takes whole numbers.
    JsonLine& AddSeconds(std::string_view key, double seconds);
    // The object's text with a line end.
    std::string Text() const { return text_ + "}\n"; }

private:
    void Key(std::string_view key);
    std::string text_ = "{";
};

struct JsonValue {
    enum class Kind { String, Number, Bool, Null };
    Kind kind = Kind::Null;
    std::string text; // the string's bytes, or the number's digits (with a leading "-")
    bool flag = false;
};

// A parsed line: its members in order. Get* answer nothing when the key is missing or of
// another kind (or, for numbers, does not fit).
class JsonObject {
public:
    std::vector<std::pair<std::string, JsonValue>> members;

    const JsonValue* Find(std::string_view key) const;
    std::optional<std::string> GetString(std::string_view key) const;
    std::optional<std::int64_t> GetInt(std::string_view key) const;
    std::optional<std::uint64_t> GetUnsigned(std::string_view key) const;
    std::optional<bool> GetBool(std::string_view key) const;
};

// Limits of ParseJsonLine.
inline constexpr std::size_t kMaxJsonLine = 64 * 1024;
inline constexpr std::size_t kMaxJsonMembers = 64;

// Parses one line (without its line end) holding one object as JsonLine writes it; blanks
// around tokens are allowed. Nothing for anything else: nesting, arrays, fractions or
// exponents, numbers of more than 20 digits, bad escapes, trailing text, a line longer than
// kMaxJsonLine or with more than kMaxJsonMembers members.
std::optional<JsonObject> ParseJsonLine(std::string_view line);

} // namespace engine
