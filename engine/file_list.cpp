#include "engine/file_list.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

namespace engine {

std::vector<std::string> ListFolderFiles(const std::string& folder, std::error_code& error)
{
    error.clear();
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        error.assign(errno, std::generic_category());
        return names;
    }
    const int dirFd = ::dirfd(dir);
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.')
            continue;
        // Links count when they lead to a regular file; the d_type shortcut avoids a stat for
        // the common case of plain files.
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            regular = ::fstatat(dirFd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (regular)
            names.emplace_back(name);
        errno = 0;
    }
    if (errno != 0)
        error.assign(errno, std::generic_category());
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace engine
