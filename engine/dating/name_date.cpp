#include "engine/dating/name_date.h"

#include <array>
#include <ctime>

#include "engine/dating/date_source.h"

namespace engine {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
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

// True when the name's stem ends at pos: the end, an extension ("." and no digit), or a copy
// mark (" (2)", "~1"). A date alone must stand there: "IMG_20230708_2231011" is no date.
bool StemEndsAt(std::string_view text, std::size_t pos)
{
    if (pos >= text.size())
        return true;
    if (text[pos] == '.')
        return pos + 1 >= text.size() || !IsDigit(text[pos + 1]);
    return text.substr(pos, 2) == " (" || text[pos] == '~';
}

// The length of " AM" / " PM" at pos (a space or macOS's narrow no-break space before it);
// 0 when there is none. pm tells which.
std::size_t MeridiemAt(std::string_view text, std::size_t pos, bool& pm)
{
    std::size_t space = 0;
    if (text.substr(pos, 1) == " ")
        space = 1;
    else if (text.substr(pos, 3) == "\xE2\x80\xAF")
        space = 3;
    if (space == 0 || text.size() - pos < space + 2)
        return 0;
    const char first = Lower(text[pos + space]);
    if ((first != 'a' && first != 'p') || Lower(text[pos + space + 1]) != 'm' ||
        !EndsAt(text, pos + space + 2))
        return 0;
    pm = first == 'p';
    return space + 2;
}

enum class Clock {
    Full,      // hour, minute, second on a 24-hour clock
    TwelveHour, // hour 1..12 followed by " AM" or " PM"
    DateOnly,  // no clock; the date must end the stem
    Tag,       // no clock; the pattern itself ends in the app's tag ("-WA0001")
    EpochMillis, // 13 digits: milliseconds since 1970-01-01 UTC, read in local time
};

// A form: its pattern, where its fields start, the prefix that must come right before it
// (empty: any boundary), and how many digits may follow it.
struct Form {
    std::string_view pattern;
    std::array<std::size_t, 6> at; // year, month, day, hour, minute, second
    Clock clock;
    std::string_view prefix = {};    // compared without case; before it a boundary or the start
    std::size_t optionalDigits = 0;  // an exact number of digits that may follow (milliseconds)
};

// Longer forms first where one begins another; the first that matches at a position wins.
constexpr std::array<Form, 16> kForms = {{
    {"DDDDDDDD_DDDDDD", {0, 4, 6, 9, 11, 13}, Clock::Full, {}, 3},  // IMG_, VID_, PXL_
    {"DDDDDDDD-DDDDDD", {0, 4, 6, 9, 11, 13}, Clock::Full},         // Android screenshots
    {"DDDD-DD-DD-DD-DD-DD", {0, 5, 8, 11, 14, 17}, Clock::Full},    // older screenshots
    {"DDDD-DD-DD-DDDDDD", {0, 5, 8, 11, 13, 15}, Clock::Full},      // signal-
    {"DDDD-DD-DD_DD-DD-DD", {0, 5, 8, 11, 14, 17}, Clock::Full},    // Telegram's photo_
    {"DDDD-DD-DD DD.DD.DD", {0, 5, 8, 11, 14, 17}, Clock::Full},    // Dropbox's uploads
    {"DDDD-DD-DD at DD.DD.DD", {0, 5, 8, 14, 17, 20}, Clock::TwelveHour}, // macOS
    {"DDDD-DD-DD at DD.DD.DD", {0, 5, 8, 14, 17, 20}, Clock::Full},
    {"DDDD-DD-DD DDDDDD", {0, 5, 8, 11, 13, 15}, Clock::Full},      // Windows' Snipping Tool
    {"DD-DD-DDDD, DD DD DD", {6, 3, 0, 12, 15, 18}, Clock::Full},   // Photo dd-mm-yyyy, hh mm ss
    {"DDDDDDDDDDDDDD", {0, 4, 6, 8, 10, 12}, Clock::Full, "DJI_"},
    {"DDDDDDDDDDDDD", {}, Clock::EpochMillis, "mmexport"},
    {"DDDDDDDDDDDDD", {}, Clock::EpochMillis, "FB_IMG_"},
    {"DDDDDDDD-WADDDD", {0, 4, 6, 0, 0, 0}, Clock::Tag},
    {"DDDDDDDD", {0, 4, 6, 0, 0, 0}, Clock::DateOnly, "_"},           // IMG_20230708
    {"DDDD-DD-DD", {0, 5, 8, 0, 0, 0}, Clock::DateOnly},            // 2023-07-08
}};

// True when the form's prefix (or, without one, a boundary or the start) precedes pos.
bool PrefixBefore(std::string_view name, std::size_t pos, std::string_view prefix)
{
    if (prefix.empty())
        return pos == 0 || IsBoundary(name[pos - 1]);
    if (pos < prefix.size())
        return false;
    const std::size_t start = pos - prefix.size();
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Lower(name[start + i]) != Lower(prefix[i]))
            return false;
    // "_" alone is the tail of a word prefix ("IMG_"); a whole word prefix stands on its own.
    if (prefix == "_")
        return start > 0 && !IsDigit(name[start - 1]);
    return start == 0 || IsBoundary(name[start - 1]);
}

// Milliseconds since 1970 in local time; only 1990..2100.
std::optional<NameDate> FromEpochMillis(std::string_view digits)
{
    long long millis = 0;
    for (const char c : digits)
        millis = millis * 10 + (c - '0');
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr)
        return std::nullopt;
    NameDate date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, true,
                  local.tm_hour,      local.tm_min,     local.tm_sec > 59 ? 59 : local.tm_sec};
    if (date.year < 1990 || date.year > 2100)
        return std::nullopt;
    return date;
}

std::optional<NameDate> DateAt(std::string_view name, std::size_t pos, const Form& form)
{
    if (!PrefixBefore(name, pos, form.prefix) || !Matches(name, pos, form.pattern))
        return std::nullopt;
    std::size_t end = pos + form.pattern.size();
    bool pm = false;
    const std::size_t meridiem = MeridiemAt(name, end, pm);
    // A clock followed by AM or PM is read by the twelve-hour form only.
    if ((form.clock == Clock::TwelveHour) != (meridiem > 0))
        return std::nullopt;
    end += meridiem;
    if (form.clock == Clock::DateOnly ? !StemEndsAt(name, end) : !EndsAt(name, end)) {
        // Only the form's optional digits, all of them, may follow: "223101123" but not
        // "2231011" or "22310112345".
        for (std::size_t i = 0; i < form.optionalDigits; ++i, ++end)
            if (end >= name.size() || !IsDigit(name[end]))
                return std::nullopt;
        if (form.optionalDigits == 0 || !EndsAt(name, end))
            return std::nullopt;
    }
    if (form.clock == Clock::EpochMillis)
        return FromEpochMillis(name.substr(pos, form.pattern.size()));
    NameDate date;
    date.year = Number(name, pos + form.at[0], 4);
    date.month = Number(name, pos + form.at[1], 2);
    date.day = Number(name, pos + form.at[2], 2);
    date.hasClock = form.clock == Clock::Full || form.clock == Clock::TwelveHour;
    if (date.hasClock) {
        date.hour = Number(name, pos + form.at[3], 2);
        date.minute = Number(name, pos + form.at[4], 2);
        date.second = Number(name, pos + form.at[5], 2);
    }
    if (form.clock == Clock::TwelveHour) { // 12 AM is midnight, 12 PM noon
        if (date.hour < 1 || date.hour > 12)
            return std::nullopt;
        date.hour = date.hour % 12 + (pm ? 12 : 0);
    }
    // A compact date alone may be a camera's counter: only from 1990 on.
    const int firstYear = form.clock == Clock::DateOnly && form.prefix == "_" ? 1990 : 1970;
    if (date.year < firstYear || date.year > 2099 ||
        !IsValidDate(date.year, date.month, date.day) ||
        !IsValidClock(date.hour, date.minute, date.second))
        return std::nullopt;
    return date;
}

} // namespace

std::optional<NameDate> DateInFileName(std::string_view name)
{
    for (std::size_t pos = 0; pos < name.size(); ++pos) {
        // A date starts a run of digits: never in the middle of a number.
        if (!IsDigit(name[pos]) || (pos > 0 && IsDigit(name[pos - 1])))
            continue;
        for (const Form& form : kForms)
            if (const auto date = DateAt(name, pos, form))
                return date;
    }
    return std::nullopt;
}

} // namespace engine
