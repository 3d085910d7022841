#include "engine/json_line.h"

#include <cstdio>

#include "engine/json_text.h"
#include "engine/utf8.h"

namespace engine {

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    std::optional<JsonObject> Object()
    {
        JsonObject object;
        Blanks();
        if (!Take('{'))
            return std::nullopt;
        Blanks();
        if (Take('}'))
            return End(std::move(object));
        for (;;) {
            if (object.members.size() >= kMaxJsonMembers)
                return std::nullopt;
            std::string key;
            Blanks();
            if (!String(key))
                return std::nullopt;
            Blanks();
            if (!Take(':'))
                return std::nullopt;
            Blanks();
            JsonValue value;
            if (!Value(value))
                return std::nullopt;
            object.members.emplace_back(std::move(key), std::move(value));
            Blanks();
            if (Take('}'))
                return End(std::move(object));
            if (!Take(','))
                return std::nullopt;
        }
    }

private:
    std::optional<JsonObject> End(JsonObject object)
    {
        Blanks();
        if (pos_ != s_.size())
            return std::nullopt;
        return object;
    }

    void Blanks()
    {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r'))
            ++pos_;
    }

    bool Take(char c)
    {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool Word(std::string_view word)
    {
        if (s_.substr(pos_, word.size()) != word)
            return false;
        pos_ += word.size();
        return true;
    }

    bool Value(JsonValue& value)
    {
        if (pos_ >= s_.size())
            return false;
        const char c = s_[pos_];
        if (c == '"') {
            value.kind = JsonValue::Kind::String;
            return String(value.text);
        }
        if (Word("true")) {
            value.kind = JsonValue::Kind::Bool;
            value.flag = true;
            return true;
        }
        if (Word("false")) {
            value.kind = JsonValue::Kind::Bool;
            return true;
        }
        if (Word("null")) {
            value.kind = JsonValue::Kind::Null;
            return true;
        }
        value.kind = JsonValue::Kind::Number;
        if (Take('-'))
            value.text += '-';
        const std::size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
            ++pos_;
        const std::size_t digits = pos_ - start;
        if (digits == 0 || digits > 20 || (digits > 1 && s_[start] == '0'))
            return false;
        value.text += s_.substr(start, digits);
        return true;
    }

    bool Hex4(std::uint32_t& value)
    {
        if (s_.size() - pos_ < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            std::uint32_t digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return false;
            value = value << 4 | digit;
        }
        return true;
    }

    bool String(std::string& out)
    {
        if (!Take('"'))
            return false;
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                return false;
            const char e = s_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                std::uint32_t cp;
                if (!Hex4(cp))
                    return false;
                if (cp >= 0xDC80 && cp <= 0xDCFF) { // a raw byte, as JsonQuoted writes it
                    out += static_cast<char>(cp - 0xDC00);
                } else if (cp >= 0xD800 && cp <= 0xDBFF) {
                    std::uint32_t low;
                    if (!Take('\\') || !Take('u') || !Hex4(low) || low < 0xDC00 || low > 0xDFFF)
                        return false;
                    AppendUtf8(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return false;
                } else {
                    AppendUtf8(out, cp);
                }
                break;
            }
            default:
                return false;
            }
        }
        return false; // no closing quote
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

} // namespace

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

const JsonValue* JsonObject::Find(std::string_view key) const
{
    for (const auto& [name, value] : members)
        if (name == key)
            return &value;
    return nullptr;
}

std::optional<std::string> JsonObject::GetString(std::string_view key) const
{
    const JsonValue* value = Find(key);
    if (value == nullptr || value->kind != JsonValue::Kind::String)
        return std::nullopt;
    return value->text;
}

std::optional<std::uint64_t> JsonObject::GetUnsigned(std::string_view key) const
{
    const JsonValue* value = Find(key);
    if (value == nullptr || value->kind != JsonValue::Kind::Number || value->text[0] == '-')
        return std::nullopt;
    std::uint64_t result = 0;
    for (const char digit : value->text) {
        const auto d = static_cast<std::uint64_t>(digit - '0');
        if (result > (UINT64_MAX - d) / 10)
            return std::nullopt;
        result = result * 10 + d;
    }
    return result;
}

std::optional<std::int64_t> JsonObject::GetInt(std::string_view key) const
{
    const JsonValue* value = Find(key);
    if (value == nullptr || value->kind != JsonValue::Kind::Number)
        return std::nullopt;
    const bool negative = value->text[0] == '-';
    std::uint64_t magnitude = 0;
    for (std::size_t i = negative ? 1 : 0; i < value->text.size(); ++i) {
        const auto d = static_cast<std::uint64_t>(value->text[i] - '0');
        if (magnitude > (UINT64_MAX - d) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + d;
    }
    if (!negative && magnitude > static_cast<std::uint64_t>(INT64_MAX))
        return std::nullopt;
    if (negative && magnitude > static_cast<std::uint64_t>(INT64_MAX) + 1)
        return std::nullopt;
    return negative ? static_cast<std::int64_t>(0 - magnitude)
                    : static_cast<std::int64_t>(magnitude);
}

std::optional<bool> JsonObject::GetBool(std::string_view key) const
{
    const JsonValue* value = Find(key);
    if (value == nullptr || value->kind != JsonValue::Kind::Bool)
        return std::nullopt;
    return value->flag;
}

std::optional<JsonObject> ParseJsonLine(std::string_view line)
{
    if (line.size() > kMaxJsonLine)
        return std::nullopt;
    return Parser(line).Object();
}

} // namespace engine
