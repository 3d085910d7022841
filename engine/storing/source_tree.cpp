#include "engine/storing/source_tree.h"

#include <cerrno>
#include <unistd.h>
#include <utility>
#include <vector>

#include "engine/base/path_text.h"

namespace engine {

namespace {

constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Folders kept open at once; a deep or wide card is reopened level by level past this.
constexpr std::size_t kOpenFolders = 64;

std::string ParentOf(const std::string& relative)
{
    const std::size_t slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

} // namespace

FolderId FolderIdOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino};
}

bool MayFollowLinkOf(uid_t owner)
{
    return owner == ::geteuid() || owner == 0;
}

OpenedSource OpenSourceFile(const SourceRef& source)
{
    OpenedSource opened;
    const auto fail = [&](int code) {
        opened.fd = UniqueFd();
        opened.error.assign(code, std::generic_category());
        return std::move(opened);
    };
    int fd = ::openat(source.dirFd, source.name.c_str(), kReadFlags | O_NOFOLLOW);
    if (fd < 0 && errno == ELOOP) {
        // A link: decide by the link itself, and follow the target read from it, so a link
        // put in its place after the check is never the one followed.
        const UniqueFd link(::openat(source.dirFd, source.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (link.get() < 0 ||
            ::fstatat(link.get(), "", &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
            return fail(errno);
        if (!S_ISLNK(st.st_mode))
            return fail(ELOOP);
        if (!MayFollowLinkOf(st.st_uid)) {
            opened.message = "\"" + source.path +
                             "\" is a symbolic link that belongs to another user, so it was not "
                             "followed.";
            return fail(EPERM);
        }
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
        const ssize_t n = ::readlinkat(link.get(), "", target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size())
            return fail(n < 0 ? errno : ELOOP);
        std::string to(target.data(), static_cast<std::size_t>(n));
        if (to.front() != '/' && source.dirFd == AT_FDCWD &&
            source.name.find('/') != std::string::npos)
            to = JoinPath(FolderOfPath(source.name), to);
        fd = ::openat(source.dirFd, to.c_str(), kReadFlags);
    }
    opened.fd = UniqueFd(fd);
    if (fd < 0 || ::fstat(fd, &opened.st) != 0)
        return fail(errno);
    if (!S_ISREG(opened.st.st_mode))
        return fail(S_ISDIR(opened.st.st_mode) ? EISDIR : EINVAL);
    return opened;
}

SourceTree::SourceTree(std::string folder, FolderIds listed)
    : folder_(std::move(folder)), ids_(std::move(listed))
{}

SourceTree::~SourceTree()
{
    for (const auto& [path, fd] : open_)
        ::close(fd);
}

int SourceTree::Folder(const std::string& relative, std::error_code& error, std::string& message)
{
    if (const auto found = open_.find(relative); found != open_.end())
        return found->second;
    const std::string path = relative.empty() ? folder_ : JoinPath(folder_, relative);
    int fd = -1;
    if (relative.empty()) {
        // The source folder itself may be a link: the user chose it.
        fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    } else {
        const int parent = Folder(ParentOf(relative), error, message);
        if (parent < 0)
            return -1;
        fd = ::openat(parent, NameOfPath(relative).c_str(),
                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    }
    int code = fd < 0 ? errno : 0;
    struct stat st {};
    if (code == 0 && ::fstat(fd, &st) != 0)
        code = errno;
    if (code == 0) {
        const auto [known, added] = ids_.emplace(relative, FolderIdOf(st));
        if (!added && (known->second.device != st.st_dev || known->second.inode != st.st_ino))
            code = ESTALE;
    }
    if (code != 0) {
        if (fd >= 0)
            ::close(fd);
        error.assign(code, std::generic_category());
        if (code == ELOOP || code == ENOTDIR || code == ESTALE)
            message = "\"" + path +
                      "\" is no longer the folder that was listed (a link or another folder "
                      "took its place), so nothing in it was read.";
        return -1;
    }
    open_.emplace(relative, fd);
    return fd;
}

SourceRef SourceTree::Reach(const std::string& relative, std::error_code& error,
                            std::string& message)
{
    error.clear();
    message.clear();
    if (open_.size() >= kOpenFolders) {
        for (const auto& [path, fd] : open_)
            ::close(fd);
        open_.clear();
    }
    SourceRef ref;
    ref.path = JoinPath(folder_, relative);
    ref.name = NameOfPath(relative);
    ref.dirFd = Folder(ParentOf(relative), error, message);
    if (ref.dirFd < 0 && message.empty())
        message = "Cannot open the folder of \"" + ref.path + "\": " + error.message() +
                  " (error " + std::to_string(error.value()) + ").";
    return ref;
}

} // namespace engine
