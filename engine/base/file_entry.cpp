#include "engine/base/file_entry.h"

#include <cerrno>
#include <cwctype>
#include <locale.h>
#include <sys/stat.h>
#include <wctype.h>

#include "engine/base/utf8.h"

namespace engine {

void SplitFileName(std::string_view name, std::string& baseName, std::string& extension)
{
    // Walk back from the end; the extension runs from the last "." to the end.
    std::size_t length = 0;
    while (length < name.size()) {
        ++length;
        if (name[name.size() - length] == '.')
            break;
    }
    if (length == name.size()) // no ".", or the only "." is the first character
        length = 0;
    extension.assign(name.substr(name.size() - length));
    baseName.assign(name.substr(0, name.size() - length));
}

std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& cp)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    std::size_t length;
    char32_t min;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - pos < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

// The C library's Unicode case table, independent of the process locale.
locale_t UnicodeLocale()
{
    static const locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (l == static_cast<locale_t>(nullptr))
            l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
        return l;
    }();
    return locale;
}

// Used only where the system has no UTF-8 locale: ASCII, Latin-1, and full-width letters.
char32_t LowerFallback(char32_t cp)
{
    if ((cp >= U'A' && cp <= U'Z') || (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7))
        return cp + 32;
    if (cp >= 0xFF21 && cp <= 0xFF3A)
        return cp + 32;
    return cp;
}

char32_t LowerChar(char32_t cp)
{
    if (cp < 0x80)
        return (cp >= U'A' && cp <= U'Z') ? cp + 32 : cp;
    const locale_t locale = UnicodeLocale();
    if (locale == static_cast<locale_t>(nullptr))
        return LowerFallback(cp);
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), locale));
}

std::string TwoDigits(int value)
{
    const std::string text = "00" + std::to_string(value);
    return text.substr(text.size() - 2);
}

} // namespace

std::string LowerText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        const std::size_t length = DecodeUtf8(text, pos, cp);
        if (length == 0) { // not UTF-8: keep the byte
            out += text[pos++];
            continue;
        }
        AppendUtf8(out, LowerChar(cp));
        pos += length;
    }
    return out;
}

void SetNameFields(FileEntry& entry, std::string_view listedName, const RunOptions& options)
{
    SplitFileName(listedName, entry.BaseName, entry.Extension);
    if (options.ExtCase == 1 || options.ExtCase == 2)
        entry.Extension = LowerText(entry.Extension);
    if (options.FileNameCase == 1)
        entry.BaseName = LowerText(entry.BaseName);
}

void SetDateFields(FileEntry& entry, const std::tm& local)
{
    entry.Year4 = std::to_string(local.tm_year + 1900);
    entry.Year2 = entry.Year4.size() > 2 ? entry.Year4.substr(entry.Year4.size() - 2) : entry.Year4;
    entry.Month = TwoDigits(local.tm_mon + 1);
    entry.Day = TwoDigits(local.tm_mday);
    entry.Hour = TwoDigits(local.tm_hour);
    entry.Minute = TwoDigits(local.tm_min);
    entry.Second = TwoDigits(local.tm_sec);
}

std::error_code SetDateFieldsFromFileTime(FileEntry& entry, const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {errno, std::generic_category()};
    std::tm local{};
    const time_t seconds = st.st_mtim.tv_sec;
    if (::localtime_r(&seconds, &local) == nullptr)
        return {errno != 0 ? errno : EOVERFLOW, std::generic_category()};
    SetDateFields(entry, local);
    return {};
}

void BuildKeys(FileEntry& entry)
{
    entry.DateKey = entry.Year4 + entry.Month + entry.Day;
    entry.SortKey =
        entry.DateKey + entry.Hour + entry.Minute + entry.Second + entry.BaseName + entry.Extension;
}

} // namespace engine
