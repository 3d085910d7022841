#include "engine/file_list.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <utility>

#include "engine/base/path_text.h"
#include "engine/history/history.h"
#include "engine/storing/file_store.h"

namespace engine {

namespace {

// Reads the folder open as dirFd (the descriptor is taken over): its files into
// listing.names (with prefix before each), the links to files of other users into
// listing.skipped, and its subfolders that are neither hidden nor links into folders (when
// folders is given). path names the folder in messages.
std::error_code ReadFolder(int dirFd, const std::string& path, const std::string& prefix,
                           FolderListing& listing, std::vector<std::string>* folders)
{
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        const int error = errno;
        ::close(dirFd);
        return {error, std::generic_category()};
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.') {
            if (std::string_view(name).starts_with(kHiddenNamePrefix))
                listing.hiddenByRun = true;
            continue;
        }
        // Links count when they lead to a regular file; the d_type shortcut avoids a stat for
        // the common case of plain files.
        bool regular = entry->d_type == DT_REG;
        bool folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat own {};
            struct stat st {};
            const bool seen = ::fstatat(dirFd, name, &own, AT_SYMLINK_NOFOLLOW) == 0;
            // A link to a folder is never followed; only a real folder is walked into.
            folder = seen && S_ISDIR(own.st_mode);
            regular = seen && (S_ISREG(own.st_mode) ||
                               (S_ISLNK(own.st_mode) && ::fstatat(dirFd, name, &st, 0) == 0 &&
                                S_ISREG(st.st_mode)));
            if (regular && S_ISLNK(own.st_mode) && !MayFollowLinkOf(own.st_uid)) {
                listing.skipped.push_back(
                    {JoinPath(path, name), "a symbolic link that belongs to another user"});
                regular = false;
            }
        }
        if (regular)
            listing.names.push_back(prefix + name);
        else if (folder && folders != nullptr)
            folders->emplace_back(name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    return {error, std::generic_category()};
}

FolderListing ListOneFolder(const std::string& folder, std::error_code& error)
{
    FolderListing listing;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    error = fd < 0 ? std::error_code(errno, std::generic_category())
                   : ReadFolder(fd, folder, "", listing, nullptr);
    if (error)
        listing.names.clear();
    std::sort(listing.names.begin(), listing.names.end());
    return listing;
}

// True for "lost+found" made by root at the top of a file system (fsck's folder on every ext4
// card): never the user's pictures, and usually unreadable to the user.
bool IsLostAndFound(int parentFd, const char* name)
{
    struct stat st {}, parent {}, above {};
    return std::string_view(name) == "lost+found" &&
           ::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == 0 && ::fstat(parentFd, &parent) == 0 &&
           ::fstatat(parentFd, "..", &above, 0) == 0 &&
           (parent.st_dev != above.st_dev || parent.st_ino == above.st_ino);
}

struct Walk {
    const std::string& folder;
    const DateFolderTest& isDateFolder;
    std::optional<FolderId> base;
    FolderListing listing;
    std::set<std::pair<dev_t, ino_t>> visited; // a bind mount may lead back up the tree

    // Reads the folder open as fd (relative to folder; the caller keeps fd) and everything
    // below it. False when it could not be read.
    std::error_code Read(int fd, const std::string& relative, int depth)
    {
        const std::string path = relative.empty() ? folder : JoinPath(folder, relative);
        const std::string prefix = relative.empty() ? "" : relative + "/";
        const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (own < 0)
            return {errno, std::generic_category()};
        std::vector<std::string> subfolders;
        const std::size_t before = listing.names.size();
        if (const std::error_code error = ReadFolder(own, path, prefix, listing, &subfolders)) {
            listing.names.resize(before);
            return error;
        }
        const FolderId self = listing.folders[relative];
        const bool inBase =
            base && base->device == self.device && base->inode == self.inode && isDateFolder;
        for (const std::string& name : subfolders) {
            if (inBase && isDateFolder(name))
                continue;
            if (IsLostAndFound(fd, name.c_str()))
                continue;
            const std::string subPath = JoinPath(path, name);
            if (depth >= kMaxFolderDepth) {
                listing.skipped.push_back(
                    {subPath, "lies more than " + std::to_string(kMaxFolderDepth) +
                                  " folders deep, so it was not read"});
                continue;
            }
            const int sub =
                ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
            struct stat st {};
            std::error_code error;
            if (sub < 0 || ::fstat(sub, &st) != 0)
                error.assign(errno, std::generic_category());
            else if (!visited.insert({st.st_dev, st.st_ino}).second) {
                ::close(sub);
                continue;
            }
            const std::string subRelative = prefix + name;
            if (!error) {
                listing.folders[subRelative] = FolderIdOf(st);
                error = Read(sub, subRelative, depth + 1);
            }
            if (sub >= 0)
                ::close(sub);
            if (error) {
                listing.folders.erase(subRelative);
                listing.skipped.push_back({subPath, "cannot be read: " + error.message()});
            }
        }
        return {};
    }
};

} // namespace

std::vector<std::string> ListFolderFiles(const std::string& folder, std::error_code& error)
{
    return ListOneFolder(folder, error).names;
}

FolderListing ListFolderTree(const std::string& folder, const std::string& destBase,
                             const DateFolderTest& isDateFolder, std::error_code& error)
{
    error.clear();
    Walk walk{folder, isDateFolder, std::nullopt, {}, {}};
    struct stat base {};
    if (!destBase.empty() && ::stat(destBase.c_str(), &base) == 0)
        walk.base = FolderIdOf(base);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    struct stat self {};
    if (fd < 0 || ::fstat(fd, &self) != 0) {
        error.assign(errno, std::generic_category());
        if (fd >= 0)
            ::close(fd);
        return {};
    }
    walk.visited.insert({self.st_dev, self.st_ino});
    walk.listing.folders[""] = FolderIdOf(self);
    error = walk.Read(fd, "", 0);
    ::close(fd);
    if (error)
        return {};
    std::sort(walk.listing.names.begin(), walk.listing.names.end());
    return std::move(walk.listing);
}

FolderListing ListRunFolder(const RunOptions& options, SpecialFolders& folders,
                            std::error_code& error)
{
    if (options.Recursive != 1)
        return ListOneFolder(options.SourceFolder, error);
    const DestBaseResult base = SettleDestBase(options, options.SourceFolder, folders, false);
    if (base.error)
        return ListFolderTree(options.SourceFolder, std::string(), {}, error);
    // The date folders earlier runs made directly in the destination base hold their output,
    // whatever pattern made them: a run with another pattern must not sort them again.
    std::set<std::string> madeByRuns;
    const std::string prefix = AbsolutePath(base.path) + "/";
    for (const std::string& made : FoldersMadeByRuns(base.path)) {
        const std::string_view rest = std::string_view(made).substr(
            made.compare(0, prefix.size(), prefix) == 0 ? prefix.size() : made.size());
        if (!rest.empty() && rest.find('/') == std::string_view::npos)
            madeByRuns.emplace(rest);
    }
    DateFolderTest isDateFolder;
    if (!madeByRuns.empty())
        isDateFolder = [&madeByRuns](std::string_view name) {
            return madeByRuns.count(std::string(name)) != 0;
        };
    return ListFolderTree(options.SourceFolder, base.path, isDateFolder, error);
}

std::vector<std::string> ListRunFiles(const RunOptions& options, SpecialFolders& folders,
                                      std::error_code& error)
{
    return ListRunFolder(options, folders, error).names;
}

} // namespace engine
