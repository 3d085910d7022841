#include "engine/name_date.h"

#include <array>

#include "engine/date_source.h"

namespace engine {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A character that may stand beside a date: not an ASCII letter or digit, nor part of a
// non-ASCII character (which may be a letter).
bool IsBoundary(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u < 0x80 && !IsDigit(c) && !(u >= 'A' && u <= 'Z') && !(u >= 'a' && u <= 'z');
}

// True when text at pos matches pattern: "D" a digit, any other character itself.
bool Matches(std::string_view text, std::size_t pos, std::string_view pattern)
{
    if (pos > text.size() || text.size() - pos < pattern.size())
        return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = text[pos + i];
        if (pattern[i] == 'D' ? !IsDigit(c) : c != pattern[i])
            return false;
    }
    return true;
}

int Number(std::string_view text, std::size_t pos, std::size_t digits)
{
    int value = 0;
    for (std::size_t i = 0; i < digits; ++i)
        value = value * 10 + (text[pos + i] - '0');
    return value;
}

// True when nothing but a boundary (or the end) follows pos.
bool EndsAt(std::string_view text, std::size_t pos)
{
    return pos >= text.size() || IsBoundary(text[pos]);
}

// A form: its pattern, where its fields start, and how many digits may follow it.
struct Form {
    std::string_view pattern;
    std::array<std::size_t, 6> at; // year, month, day, hour, minute, second
    bool hasClock;
    std::size_t optionalDigits; // an exact number of digits that may follow (milliseconds)
};

constexpr std::size_t kNone = 0; // no digits may follow
constexpr std::array<Form, 4> kForms = {{
    {"DDDDDDDD_DDDDDD", {0, 4, 6, 9, 11, 13}, true, 3},
    {"DDDD-DD-DD-DD-DD-DD", {0, 5, 8, 11, 14, 17}, true, kNone},
    {"DDDD-DD-DD DD.DD.DD", {0, 5, 8, 11, 14, 17}, true, kNone},
    {"DDDDDDDD-WADDDD", {0, 4, 6, 0, 0, 0}, false, kNone},
}};

std::optional<NameDate> DateAt(std::string_view name, std::size_t pos, const Form& form)
{
    if (!Matches(name, pos, form.pattern))
        return std::nullopt;
    std::size_t end = pos + form.pattern.size();
    if (!EndsAt(name, end)) {
        // Only the form's optional digits, all of them, may follow: "223101123" but not
        // "2231011" or "22310112345".
        for (std::size_t i = 0; i < form.optionalDigits; ++i, ++end)
            if (end >= name.size() || !IsDigit(name[end]))
                return std::nullopt;
        if (form.optionalDigits == kNone || !EndsAt(name, end))
            return std::nullopt;
    }
    NameDate date;
    date.year = Number(name, pos + form.at[0], 4);
    date.month = Number(name, pos + form.at[1], 2);
    date.day = Number(name, pos + form.at[2], 2);
    date.hasClock = form.hasClock;
    if (form.hasClock) {
        date.hour = Number(name, pos + form.at[3], 2);
        date.minute = Number(name, pos + form.at[4], 2);
        date.second = Number(name, pos + form.at[5], 2);
    }
    if (date.year < 1970 || date.year > 2099 || !IsValidDate(date.year, date.month, date.day) ||
        !IsValidClock(date.hour, date.minute, date.second))
        return std::nullopt;
    return date;
}

} // namespace

std::optional<NameDate> DateInFileName(std::string_view name)
{
    for (std::size_t pos = 0; pos < name.size(); ++pos) {
        if (!IsDigit(name[pos]) || (pos > 0 && !IsBoundary(name[pos - 1])))
            continue;
        for (const Form& form : kForms)
            if (const auto date = DateAt(name, pos, form))
                return date;
    }
    return std::nullopt;
}

} // namespace engine
