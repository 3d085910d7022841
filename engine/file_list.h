#pragma once

#include <string>
#include <system_error>
#include <vector>

namespace engine {

// The files of a folder that a run classifies: regular files and symbolic links to regular
// files whose names do not begin with ".", sorted by name (byte order). The window's file list
// and velmora-cli both show exactly this.
std::vector<std::string> ListFolderFiles(const std::string& folder, std::error_code& error);

} // namespace engine
