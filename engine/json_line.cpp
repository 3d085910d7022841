#include "engine/json_line.h"

#include <cstdio>

#include "engine/base/json_text.h"

namespace engine {

void JsonLine::Key(std::string_view key)
{
    if (text_.size() > 1)
        text_ += ',';
    text_ += JsonQuoted(key);
    text_ += ':';
}

JsonLine& JsonLine::Add(std::string_view key, std::string_view value)
{
    Key(key);
    text_ += JsonQuoted(value);
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, std::int64_t value)
{
    Key(key);
    text_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::AddUnsigned(std::string_view key, std::uint64_t value)
{
    Key(key);
    text_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::AddSeconds(std::string_view key, double seconds)
{
    Key(key);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    text_ += text;
    return *this;
}

JsonLine& JsonLine::AddBool(std::string_view key, bool value)
{
    Key(key);
    text_ += value ? "true" : "false";
    return *this;
}

} // namespace engine
