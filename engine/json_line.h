#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

// One flat JSON object on one line (the --json lines of velmora-cli): string keys, values
// that are strings, numbers or true/false. Strings are byte strings (file names need not be
// UTF-8), written by JsonQuoted (json_text.h): a byte that is not part of valid UTF-8 as \udcXX.
class JsonLine {
public:
    JsonLine& Add(std::string_view key, std::string_view value);
    JsonLine& Add(std::string_view key, std::int64_t value);
    JsonLine& AddUnsigned(std::string_view key, std::uint64_t value);
    JsonLine& AddBool(std::string_view key, bool value); // not Add: a char pointer would pick it
    // A number with three decimals (a duration in seconds).
    JsonLine& AddSeconds(std::string_view key, double seconds);
    // The object's text with a line end.
    std::string Text() const { return text_ + "}\n"; }

private:
    void Key(std::string_view key);
    std::string text_ = "{";
};

} // namespace engine
