#pragma once

#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <system_error>

#include "engine/base/unique_fd.h"

namespace engine {

// A listed file as a run reaches it: name inside the folder open as dirFd (with AT_FDCWD, a
// plain path). path is the file's full path, for messages only.
struct SourceRef {
    int dirFd = AT_FDCWD;
    std::string name;
    std::string path;
};

// A folder as it was listed: it is the same folder only while device and inode match.
struct FolderId {
    dev_t device = 0;
    ino_t inode = 0;
};
FolderId FolderIdOf(const struct stat& st);

// The listed folders by their paths relative to the source folder ("" is the folder itself,
// "DCIM/100CANON" one below it).
using FolderIds = std::map<std::string, FolderId>;

// True when a symbolic link owned by owner may be followed: it belongs to the user running the
// sort, or to root. A link planted by anybody else in a shared folder could lead to that
// user's private files, as the kernel's protected-symlinks rule knows for sticky folders.
bool MayFollowLinkOf(uid_t owner);

// The outcome of opening a listed file.
struct OpenedSource {
    UniqueFd fd;
    struct stat st {};
    std::error_code error;
    std::string message; // a sentence naming the file, when error is set
};

// Opens a listed file for reading as OpenRegularFile does (without blocking, a regular file
// only). A symbolic link at its name is followed only when MayFollowLinkOf its owner; the
// link's owner and target are read from the link itself, so a link swapped in after the check
// is never followed. A link of another user gives EPERM and a message that names it.
OpenedSource OpenSourceFile(const SourceRef& source);

// The folders of a run's source, each opened by walking from the source folder one level at a
// time without following links (O_NOFOLLOW), and each checked against the folder that was
// listed under that path: a subfolder swapped for a link or another folder after the listing
// is never entered, so no file outside the listed tree is read, moved or removed. Descriptors
// are kept for the folders in use, so a folder renamed away meanwhile is still the one read.
class SourceTree {
public:
    // folder is the source folder itself (it may be a link: the user chose it). listed holds
    // the listing's folders; a folder it lacks is taken as first seen by this tree.
    SourceTree(std::string folder, FolderIds listed);
    ~SourceTree();
    SourceTree(const SourceTree&) = delete;
    SourceTree& operator=(const SourceTree&) = delete;

    // The listed file at relative path (a name, or "DCIM/100CANON/IMG_0001.JPG") as a
    // SourceRef whose dirFd stays owned by the tree until the next call. On failure dirFd is -1
    // and error and message say why.
    SourceRef Reach(const std::string& relative, std::error_code& error, std::string& message);

    // The folders reached so far (and those listed), by relative path.
    const FolderIds& Folders() const { return ids_; }

private:
    int Folder(const std::string& relative, std::error_code& error, std::string& message);

    std::string folder_;
    FolderIds ids_;
    std::map<std::string, int> open_; // relative folder -> descriptor
};

} // namespace engine
