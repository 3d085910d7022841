#include "engine/naming/naming.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace engine {

std::string SuffixText(long number, int& width)
{
    if (width == 0) {
        if (number < 1)
            return "_";
        static constexpr const char* letters = "abcdefghijklmnopqrstuvwxyz";
        const long q = (number - 1) / 26;
        const long r = (number - 1) % 26;
        return std::string(static_cast<std::size_t>(q), '~') + letters[r];
    }
    const std::string digits = std::to_string(number);
    if (static_cast<long>(digits.size()) > width)
        width = static_cast<int>(digits.size());
    // The last width characters of ten zeros and the digits: never more than ten zeros in front.
    const std::string padded = "0000000000" + digits;
    const std::size_t keep = std::min(padded.size(), static_cast<std::size_t>(width));
    return padded.substr(padded.size() - keep);
}

long SerialCounter::BeforeFile(const FileEntry* previous, const FileEntry& current)
{
    if (previous != nullptr && current.DateKey == previous->DateKey)
        ++value_;
    else
        value_ = 1;
    return value_;
}

void SerialCounter::AfterFile(const FileEntry& current, const FileEntry& next)
{
    // IMG1.JPG and IMG1.WAV side by side share their number; the next file adds 1 again.
    if (current.BaseName == next.BaseName)
        --value_;
}

std::string NameStem(const FileEntry& entry, int renamePattern, std::int16_t yyyy,
                     long serialNumber)
{
    const std::string& year = yyyy == 4 ? entry.Year4 : entry.Year2;
    switch (renamePattern) {
    case 2:
        return year + entry.Month + entry.Day + entry.BaseName;
    case 3:
        return entry.Month + entry.Day + entry.BaseName;
    case 4: {
        int width = 4;
        return year + entry.Month + entry.Day + SuffixText(serialNumber, width);
    }
    case 5:
        return entry.Month + entry.Day + entry.Hour + entry.Minute + entry.Second;
    case 6:
        return year + entry.Month + entry.Day + entry.Hour + entry.Minute;
    default:
        return entry.BaseName;
    }
}

std::string NameTail(const FileEntry& entry)
{
    return entry.CameraModel + entry.Extension;
}

bool NameTaken(const std::string& folder, const std::string& name)
{
    return NameTakenAt(AT_FDCWD, folder + "/" + name);
}

bool NameTakenAt(int folderFd, const std::string& name)
{
    struct stat st {};
    // The entry itself, not what a link points to: a dangling link still holds the name.
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    // Any other answer counts as free. That is safe because a store never replaces an entry:
    // a name that cannot be used (too long, a folder without access) then fails at the store
    // with its real error, instead of trying 999 suffixes and reporting an overflow.
    return false;
}

std::string SuffixedName(const std::string& stem, const std::string& tail, std::int16_t suffixStyle,
                         int n)
{
    if (n == 0)
        return stem + tail;
    int width = suffixStyle == 0 ? 3 : 0;
    const std::string number = SuffixText(n, width);
    return stem + (suffixStyle == 0 ? "[" + number + "]" : number) + tail;
}

DestPath ResolveDestName(const std::string& folder, const std::string& stem,
                         const std::string& tail, std::int16_t suffixStyle,
                         const NameTakenTest& isTaken)
{
    for (int n = 0; n <= MaxSuffix; ++n) {
        const std::string candidate = SuffixedName(stem, tail, suffixStyle, n);
        if (!isTaken(folder, candidate))
            return {folder + "/" + candidate, false};
    }
    return {{}, true};
}

DestPath MakeDestFilePath(const FileEntry& entry, const std::string& destFolder, int renamePattern,
                          long serialNumber, const RunOptions& options,
                          const NameTakenTest& isTaken)
{
    return ResolveDestName(destFolder, NameStem(entry, renamePattern, options.YYYY, serialNumber),
                           NameTail(entry), options.Suffix, isTaken);
}

} // namespace engine
