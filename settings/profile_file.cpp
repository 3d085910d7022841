#include "settings/profile_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/base/path_text.h"

namespace settings {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

std::string_view Trim(std::string_view text)
{
    text = TrimLeft(text);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

// The name of a section line, or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line)
{
    line = TrimLeft(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    line.remove_prefix(1);
    return Trim(line.substr(0, line.find(']')));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line)
{
    if (SectionName(line))
        return std::nullopt;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return KeyLine{Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

bool IsLineOfKey(std::string_view line, std::string_view key)
{
    const auto parsed = ParseKeyLine(line);
    return parsed && EqualsNoCase(parsed->key, key);
}

std::string_view Unquote(std::string_view value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

// The value as it goes into the file: a line break would split the line and could forge
// further keys or sections, so the value ends before it; blanks or quotes at either end would
// be lost or taken away when read, so such a value is put in quotes.
std::string EncodeValue(std::string_view value)
{
    value = value.substr(0, value.find_first_of("\r\n"));
    if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                           value.front() == '"' || value.back() == '"'))
        return std::string(1, '"').append(value).append(1, '"');
    return std::string(value);
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A name for the temporary file that no one else uses now; the exclusive create in the caller
// settles a clash.
std::string TemporaryName(const std::string& target)
{
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld-%u-%llx", static_cast<long>(::getpid()),
                  counter.fetch_add(1), ticks & 0xFFFFFFFFull);
    return folder + "." + name + suffix;
}

} // namespace

std::string_view CutAtCharBoundary(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    // text[cut] is the first byte left out; when it continues a character, that character
    // started within the kept part and goes too. A UTF-8 character has at most three
    // continuation bytes, which also bounds the walk on text that is not UTF-8.
    std::size_t cut = maxBytes;
    for (int step = 0; step < 3 && cut > 0; ++step) {
        if ((static_cast<unsigned char>(text[cut]) & 0xC0) != 0x80)
            break;
        --cut;
    }
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        cut = maxBytes; // not UTF-8 after all: a plain byte cut
    return text.substr(0, cut);
}

ProfileDocument::ProfileDocument(std::string_view text)
{
    if (text.substr(0, ByteOrderMark.size()) == ByteOrderMark) {
        byteOrderMark_ = true;
        text.remove_prefix(ByteOrderMark.size());
    }
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines_.emplace_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

std::optional<ProfileDocument::SectionSpan>
ProfileDocument::FindSection(std::string_view section) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i]);
        if (!name || !EqualsNoCase(*name, section))
            continue;
        std::size_t end = i + 1;
        while (end < lines_.size() && !SectionName(lines_[end]))
            ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

std::string ProfileDocument::Get(std::string_view section, std::string_view key,
                                 std::string_view defaultValue, std::size_t limit) const
{
    if (const auto span = FindSection(section)) {
        for (std::size_t i = span->header + 1; i < span->end; ++i) {
            const auto parsed = ParseKeyLine(lines_[i]);
            if (parsed && EqualsNoCase(parsed->key, key))
                return std::string(CutAtCharBoundary(Unquote(parsed->value), limit));
        }
    }
    return std::string(CutAtCharBoundary(defaultValue, limit));
}

void ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value)
{
    std::string line = std::string(key) + "=" + EncodeValue(value);
    const auto span = FindSection(section);
    if (!span) {
        if (!lines_.empty() && !Trim(lines_.back()).empty())
            lines_.emplace_back();
        lines_.push_back(std::string(1, '[').append(section).append(1, ']'));
        lines_.push_back(std::move(line));
        return;
    }
    std::size_t insertAt = span->header + 1;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        const auto parsed = ParseKeyLine(lines_[i]);
        if (!parsed)
            continue;
        if (EqualsNoCase(parsed->key, key)) {
            lines_[i] = std::move(line);
            return;
        }
        insertAt = i + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
}

bool ProfileDocument::Remove(std::string_view section, std::string_view key)
{
    const auto span = FindSection(section);
    if (!span)
        return false;
    bool removed = false;
    for (std::size_t i = span->end; i > span->header + 1; --i) {
        if (IsLineOfKey(lines_[i - 1], key)) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i - 1));
            removed = true;
        }
    }
    return removed;
}

std::string ProfileDocument::Text() const
{
    std::string text = byteOrderMark_ ? std::string(ByteOrderMark) : std::string();
    for (const std::string& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void ProfileDocument::EraseLine(std::size_t index)
{
    if (index < lines_.size())
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
}

std::optional<std::string> ReadWholeFile(const std::string& file, std::error_code& error)
{
    error.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error.assign(errno, std::generic_category());
        return std::nullopt;
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error.assign(errno, std::generic_category());
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

bool ReplaceFileAtomically(const std::string& file, std::string_view bytes,
                           const BeforeReplaceHook& beforeReplace)
{
    // Renaming over a link would replace the link itself; write beside the file it names.
    std::string target = file;
    struct stat info {};
    if (::lstat(file.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* resolved = ::realpath(file.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    const bool hadFile = ::stat(target.c_str(), &info) == 0;

    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = TemporaryName(target);
        // Mode 0666 lets the umask decide, as for any new file.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    if (hadFile)
        (void)::fchmod(fd, info.st_mode & 07777); // best effort: the content matters more

    const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || (beforeReplace && !beforeReplace(temporary)) ||
        ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }

    // Make the rename itself durable. Some file systems cannot flush a folder; the file is in
    // place by now, so that is not a failure.
    const int folder =
        ::open(engine::FolderOfPath(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}

std::optional<ProfileDocument> LoadProfileForUpdate(const std::string& file)
{
    std::error_code error;
    const auto bytes = ReadWholeFile(file, error);
    if (bytes)
        return ProfileDocument(*bytes);
    if (error == std::errc::no_such_file_or_directory)
        return ProfileDocument();
    return std::nullopt;
}

std::string ReadProfileString(const std::string& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue)
{
    std::error_code error;
    const auto bytes = ReadWholeFile(file, error);
    return ProfileDocument(bytes ? std::string_view(*bytes) : std::string_view())
        .Get(section, key, defaultValue);
}

bool WriteProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value)
{
    auto document = LoadProfileForUpdate(file);
    if (!document)
        return false;
    document->Set(section, key, value);
    return ReplaceFileAtomically(file, document->Text());
}

bool RemoveProfileKey(const std::string& file, std::string_view section, std::string_view key)
{
    auto document = LoadProfileForUpdate(file);
    if (!document)
        return false;
    if (!document->Remove(section, key))
        return true;
    return ReplaceFileAtomically(file, document->Text());
}

} // namespace settings
