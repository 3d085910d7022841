#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/dest_folder.h"
#include "engine/run_options.h"

namespace engine {

// The files of a folder that a run classifies: regular files and symbolic links to regular
// files whose names do not begin with ".", sorted by name (byte order). The window's file list
// and velmora-cli both show exactly this.
std::vector<std::string> ListFolderFiles(const std::string& folder, std::error_code& error);

// Tells whether a subfolder is a date folder of the run's own: name is the subfolder's name,
// below the destination base.
using DateFolderTest = std::function<bool(std::string_view name)>;

// The files of folder and of every folder below it, as paths relative to folder
// ("DCIM/100CANON/IMG_0001.JPG"), sorted by those paths (byte order); files as
// ListFolderFiles takes them. Never entered: hidden folders, symbolic links to folders, and
// the folders directly below destBase (when the walk meets it) for which isDateFolder is true,
// so that a second run never sorts again what the first one stored. A subfolder that cannot be
// read is an error, as the folder itself is.
std::vector<std::string> ListFolderTree(const std::string& folder, const std::string& destBase,
                                        const DateFolderTest& isDateFolder, std::error_code& error);

// The files a run of options takes from options.SourceFolder, as the window lists them and
// velmora-cli hands them to the run: ListFolderFiles, or with Recursive ListFolderTree, which
// leaves out the folders below the destination base (asked of folders, never made) that have
// the form of the date folders (DirTemplate's first level, else DirPattern's).
std::vector<std::string> ListRunFiles(const RunOptions& options, SpecialFolders& folders,
                                      std::error_code& error);

} // namespace engine
