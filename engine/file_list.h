#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/base/run_options.h"
#include "engine/storing/dest_folder.h"
#include "engine/storing/source_tree.h"

namespace engine {

// The files of a folder that a run classifies: regular files and symbolic links to regular
// files whose names do not begin with ".", sorted by name (byte order); a link of another user
// is left out. The window's file list and velmora-cli both show exactly this.
std::vector<std::string> ListFolderFiles(const std::string& folder, std::error_code& error);

// Tells whether a subfolder is a date folder of the run's own: name is the subfolder's name,
// below the destination base.
using DateFolderTest = std::function<bool(std::string_view name)>;

// Something of the folder a run does not take, and why.
struct SkippedEntry {
    std::string path;   // the folder or file, as source folder + relative path
    std::string reason; // "cannot be read: Permission denied", ...
};

// What a listing found: the files, what it passed over and must name, and the folders it read.
struct FolderListing {
    std::vector<std::string> names;
    std::vector<SkippedEntry> skipped;
    FolderIds folders; // each folder read, by its path relative to the source folder
    // A name that a run or undo gives a file for a moment (".velmora-...") was passed over:
    // one that was killed may have left it, and the history puts it back (History::
    // RecoverKilledRuns), after which the folder should be read again.
    bool hiddenByRun = false;
};

// Folders nested deeper than this below the source folder are not read (and are named).
inline constexpr int kMaxFolderDepth = 128;

// The files of folder and of every folder below it, as paths relative to folder
// ("DCIM/100CANON/IMG_0001.JPG"), sorted by those paths (byte order); files as
// ListFolderFiles takes them. Each folder is opened relative to the one above it without
// following links, and its identity kept in folders. Never entered: hidden folders, symbolic
// links to folders, a root-owned "lost+found" at the top of a file system, and the folders
// directly below destBase (when the walk meets it) for which isDateFolder is true. A subfolder
// that cannot be read (or lies deeper than kMaxFolderDepth) is skipped and named in skipped;
// folder itself that cannot be read is an error. A link to a file that belongs to another user
// (MayFollowLinkOf) is skipped and named, here as in ListFolderFiles.
FolderListing ListFolderTree(const std::string& folder, const std::string& destBase,
                             const DateFolderTest& isDateFolder, std::error_code& error);

// The files a run of options takes from options.SourceFolder, as the window lists them and
// velmora-cli hands them to the run: the folder's files, or with Recursive ListFolderTree.
// Folders directly in the destination base that the run history records as made by an earlier
// run (and not removed by an undo) are not entered, whatever pattern made them. Files that
// already lie in their date folder below the destination base are passed over by the run
// itself (it knows their dates).
FolderListing ListRunFolder(const RunOptions& options, SpecialFolders& folders,
                            std::error_code& error);

// ListRunFolder's names.
std::vector<std::string> ListRunFiles(const RunOptions& options, SpecialFolders& folders,
                                      std::error_code& error);

} // namespace engine
