#pragma once

#include <string>
#include <system_error>

#include "engine/base/file_entry.h"
#include "engine/base/run_options.h"

namespace engine {

// Folder made under the Desktop or Documents folder for destination patterns 2 and 3.
inline constexpr const char* ClassifiedFolderName = "分類";

// Where the special folders come from; the window and velmora-cli supply them.
struct SpecialFolders {
    virtual ~SpecialFolders() = default;
    virtual std::string DeskTopFolder() = 0;    // absolute, no trailing "/", or empty
    virtual std::string MyDocumentFolder() = 0; // likewise
};

struct DestBaseResult {
    std::string path;      // the destination base, when error is empty
    std::error_code error; // set when the base cannot be had
    std::string errorPath; // the path the error concerns
    std::string message;   // a sentence for the user, when error is set
    bool created = false;  // this call made the base ("分類", or the chosen folder)
};

// The destination base of a run by DestPattern: 1 the source folder; 2 Desktop + "/分類";
// 3 Documents + "/分類"; 4 options.DestPath, without trailing "/". For 2 and 3 the "分類"
// folder is created when missing (one level, inside the existing special folder); an unknown
// special folder is an error. For 4 the chosen folder is created when missing, one level only,
// so a path below a card or disk that is not mounted fails rather than filling the mount
// point; an empty or relative DestPath is an error. Anything other than 2, 3 or 4 acts as 1.
// Asks at most one of the two special folders. With create false (a dry run) a missing last
// level is not made; its path is still the result. The base may be a link: the user chose it.
DestBaseResult SettleDestBase(const RunOptions& options, const std::string& sourceFolder,
                              SpecialFolders& folders, bool create = true);

// DestBase + "/" + the pattern text of the record's date by DirPattern:
// 1 Year4 Month, 3 Year4 Month Day, 4 Year2 Month Day, 5 Year2 "_" Month Day, 7 Year2 Month.
// Any other value acts as 4.
std::string DateFolder(const std::string& destBase, int dirPattern, const FileEntry& entry);

// Opens the date folder name inside the destination base (baseFd, at basePath), creating it
// when create is true and it is missing. A date folder is never a link: it is opened with
// O_NOFOLLOW relative to the base, so a link in its place (or one swapped in later) can never
// lead a file out of the base. On success folder holds an owned descriptor, or -1 when the
// folder is missing and create is false; created tells whether this call made it. A link in
// its place gives ELOOP, any other non-folder ENOTDIR; message then names it for the user.
struct DateFolderResult {
    int fd = -1;
    bool created = false;
    std::error_code error;
    std::string message;
};
DateFolderResult OpenDateFolder(int baseFd, const std::string& basePath, const std::string& name,
                                bool create);

} // namespace engine
