#pragma once

// Naming: the names of stored files and of date folders: rename patterns, letter case, clash
// suffixes, the serial number of a day, folder templates. Text work only, nothing here touches
// the disk. Uses the standard library and engine/base only.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/base/file_entry.h"
#include "engine/base/run_options.h"

namespace engine {

// Texts of the one message the engine hands to its front ends for a suffix overflow.
inline constexpr const char* SuffixOverflowMessage = "Suffix overflow for file name duplication.";
inline constexpr const char* ErrorTitle = "Velmora - Error";

// Highest clash suffix tried for one file.
inline constexpr int MaxSuffix = 999;

// Number text: width not 0 gives the decimal text of number, zero-padded on the left to width
// digits (at most ten zeros are put in front); a longer number raises width to its length.
// Width 0 gives the letter form: "a".."z", then "~a".."~z", "~~a", ...; "_" below 1.
std::string SuffixText(long number, int& width);

// The per-day serial number of a run. Before each file: 1 for the first file, the old value
// plus 1 when the file's DateKey equals the previous file's, else 1. After each file: lowered
// by 1 when the next record's BaseName equals this one's, so that file gets the same number.
class SerialCounter {
public:
    long BeforeFile(const FileEntry* previous, const FileEntry& current);
    void AfterFile(const FileEntry& current, const FileEntry& next);
    long Value() const { return value_; }

private:
    long value_ = 0;
};

// The stem of a stored name by rename pattern 1..6 (the suffix goes after it); any other
// pattern acts as 1. Patterns 2, 4 and 6 begin with Year4 when yyyy is 4, else with Year2.
std::string NameStem(const FileEntry& entry, int renamePattern, std::int16_t yyyy,
                     long serialNumber);
// The tail: CameraModel then Extension.
std::string NameTail(const FileEntry& entry);

// Tells whether a name is taken in a folder.
using NameTakenTest = std::function<bool(const std::string& folder, const std::string& name)>;

// The file system's own test: true when the folder holds an entry of that name of any kind,
// hidden or not, a dangling symbolic link included. When the test itself fails (a name too
// long, a folder without access) the name counts as free: storing under it then fails with
// that error, and a store never replaces anything.
bool NameTaken(const std::string& folder, const std::string& name);
// The same test for a name in the folder open as folderFd.
bool NameTakenAt(int folderFd, const std::string& name);

// The result of resolving a destination name.
struct DestPath {
    std::string path;      // folder + "/" + name, when not overflow
    bool overflow = false; // all 999 suffixes were taken; path is empty
};

// Tries stem+tail, then stem+suffix+tail for suffixes 1..999 ("[001]" when suffixStyle is 0,
// letters otherwise), asking isTaken each time (nothing cached). Creates nothing.
[[nodiscard]] DestPath ResolveDestName(const std::string& folder, const std::string& stem,
                                       const std::string& tail, std::int16_t suffixStyle,
                                       const NameTakenTest& isTaken = NameTaken);

// The name stem+suffix(n)+tail: n 0 gives stem+tail.
std::string SuffixedName(const std::string& stem, const std::string& tail, std::int16_t suffixStyle,
                         int n);

// The full destination path of a record: its name by the rename pattern, resolved against
// the folder's current content. Reads options.YYYY and options.Suffix.
[[nodiscard]] DestPath MakeDestFilePath(const FileEntry& entry, const std::string& destFolder,
                                        int renamePattern, long serialNumber,
                                        const RunOptions& options,
                                        const NameTakenTest& isTaken = NameTaken);

} // namespace engine
