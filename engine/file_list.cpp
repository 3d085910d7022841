#include "engine/file_list.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <utility>

#include "engine/folder_template.h"
#include "engine/path_text.h"

namespace engine {

namespace {

// Reads one folder: its files into names (with prefix before each), its subfolders that are
// neither hidden nor links into folders (when folders is given).
std::error_code ReadFolder(const std::string& path, const std::string& prefix,
                           std::vector<std::string>& names, std::vector<std::string>* folders,
                           struct stat* self)
{
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return {errno, std::generic_category()};
    const int dirFd = ::dirfd(dir);
    if (self != nullptr && ::fstat(dirFd, self) != 0) {
        const int error = errno;
        ::closedir(dir);
        return {error, std::generic_category()};
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.')
            continue;
        // Links count when they lead to a regular file; the d_type shortcut avoids a stat for
        // the common case of plain files.
        bool regular = entry->d_type == DT_REG;
        bool folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            regular = ::fstatat(dirFd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
            // A link to a folder is never followed; only a real folder is walked into.
            folder = entry->d_type == DT_UNKNOWN &&
                     ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (regular)
            names.push_back(prefix + name);
        else if (folder && folders != nullptr)
            folders->emplace_back(name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    return {error, std::generic_category()};
}

} // namespace

std::vector<std::string> ListFolderFiles(const std::string& folder, std::error_code& error)
{
    std::vector<std::string> names;
    error = ReadFolder(folder, "", names, nullptr, nullptr);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ListFolderTree(const std::string& folder, const std::string& destBase,
                                        const DateFolderTest& isDateFolder, std::error_code& error)
{
    error.clear();
    struct stat base {};
    const bool haveBase = !destBase.empty() && ::stat(destBase.c_str(), &base) == 0;
    std::vector<std::string> names;
    // Relative paths of the folders still to read ("" is folder itself), depth first.
    std::vector<std::string> pending{""};
    std::vector<std::string> subfolders;
    std::set<std::pair<dev_t, ino_t>> visited; // a bind mount may lead back up the tree
    while (!pending.empty()) {
        const std::string relative = std::move(pending.back());
        pending.pop_back();
        const std::string path = relative.empty() ? folder : JoinPath(folder, relative);
        const std::string prefix = relative.empty() ? "" : relative + "/";
        subfolders.clear();
        struct stat self {};
        const std::size_t before = names.size();
        error = ReadFolder(path, prefix, names, &subfolders, &self);
        if (error) {
            names.clear();
            return names;
        }
        if (!visited.insert({self.st_dev, self.st_ino}).second) {
            names.resize(before);
            continue;
        }
        const bool inBase = haveBase && self.st_dev == base.st_dev && self.st_ino == base.st_ino;
        for (std::string& name : subfolders) {
            if (inBase && isDateFolder && isDateFolder(name))
                continue;
            pending.push_back(prefix + name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ListRunFiles(const RunOptions& options, SpecialFolders& folders,
                                      std::error_code& error)
{
    if (options.Recursive != 1)
        return ListFolderFiles(options.SourceFolder, error);
    const DestBaseResult base = SettleDestBase(options, options.SourceFolder, folders, false);
    std::string message;
    const FolderTemplate form = options.DirTemplate.empty()
                                    ? TemplateOfPattern(options.DirPattern)
                                    : ParseFolderTemplate(options.DirTemplate, message)
                                          .value_or(TemplateOfPattern(options.DirPattern));
    return ListFolderTree(
        options.SourceFolder, base.error ? std::string() : base.path,
        [&](std::string_view name) { return HasFirstLevelForm(form, name); }, error);
}

} // namespace engine
