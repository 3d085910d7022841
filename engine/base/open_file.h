#pragma once

#include <string>
#include <sys/stat.h>
#include <system_error>

#include "engine/base/unique_fd.h"

namespace engine {

// Opens a file the run reads (a listed file, a stored copy to compare): without blocking, so a
// FIFO or a device swapped in for the name cannot hang the run, and only when it is a regular
// file. A folder gives EISDIR, anything else that is not a regular file EINVAL, and the
// descriptor is then not valid. path is relative to dirFd (AT_FDCWD for a plain path);
// extraFlags may add O_NOFOLLOW. st receives the file's status.
UniqueFd OpenRegularFile(int dirFd, const std::string& path, int extraFlags, struct stat& st,
                         std::error_code& error);

} // namespace engine
