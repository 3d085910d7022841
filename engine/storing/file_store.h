#pragma once

// Storing: everything that writes the disk or reads a file's bytes. The destination base and
// its date folders, reaching a source through its folders without following links, storing a
// file without ever replacing one (a hidden name first, then linked or renamed into place, then
// flushed), same-content checks and content hashes. Uses the standard library, libxxhash and
// engine/base only.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <system_error>

#include "engine/base/unique_fd.h"
#include "engine/storing/source_tree.h"

namespace engine {

// How every name a run or an undo gives a file for a moment begins (".velmora-part-...",
// "-moved-", "-undo-"): hidden, so no listing shows it, and clearly this program's.
inline constexpr std::string_view kHiddenNamePrefix = ".velmora-";

// A source file as its copy read it. A source is removed after a copy only while it is still
// this very file, unchanged.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
};
bool SameFile(const FileIdentity& a, const FileIdentity& b);
FileIdentity IdentityOf(const struct stat& st);

// A destination folder opened for storing. Every store happens relative to fd, so a folder
// that is swapped for a link after it was opened cannot redirect a file. The handle does not
// own fd; path is for messages.
struct FolderHandle {
    int fd = -1;
    std::string path;
    // The umask, when a file made here gets the mode it is made with less the umask and
    // nothing else (no default ACL); -1 when unknown. A copy whose permission bits that
    // umask keeps is made with them and needs no change of mode afterwards.
    int umask = -1;
};

// The process's umask, read without changing it; -1 when it cannot be read.
int ProcessUmask();

// The umask of files made in the folder open as fd (FolderHandle::umask): processUmask
// (ProcessUmask()), or -1 when the folder has a default ACL or that cannot be told.
int CreationUmask(int fd, int processUmask);

// The outcome of storing one file under a final name.
struct StoreResult {
    enum class Status {
        Stored,    // the final name now holds a complete copy (or the moved file)
        NameTaken, // the final name appeared meanwhile; nothing was changed, resolve again
        Failed,    // nothing is left under the final name; error and errorPath say why
    };
    Status status = Status::Stored;
    std::error_code error;
    std::string errorPath; // the file the failing step worked on
    std::string step;      // "open", "read", "write", "create", "delete", ...
    std::string message;   // a full sentence, where the step alone would mislead

    // StoreMove to another file system: the copy is stored, the source is still in place and
    // waits for RemoveMovedSource once the copy is flushed.
    bool sourceLeft = false;
    FileIdentity copied;     // the source as it was copied (copies only)
    std::uint64_t bytes = 0; // bytes copied
    // The stored file as it is under its final name, for the run history (renames and files
    // found already there). A copy made with keepContent instead hands over the stored file
    // itself, open (content), with only its size in stored: its identity and its hash are to
    // be read from it, and whoever closes it must treat a failed close as a failed write of
    // the copy.
    FileIdentity stored;
    UniqueFd content;
};

// Copies source (a symbolic link is followed; only a regular file is read, opened without
// blocking) into folder under name, which must not exist. The copy is written under a name
// nobody sees and linked to the final name only when it is complete, so the final name never
// holds a partial file and an existing entry is never replaced. The copy keeps holes, the
// modification time, the permission bits (mode & 0777: never setuid, setgid or sticky), the
// "user." extended attributes and the POSIX access ACL where the destination keeps them. A
// source whose size or times change while it is copied fails the store (the copy is
// discarded). durable: the copy and its folder are flushed before returning; otherwise the
// caller flushes the file system (FlushFileSystem) before it relies on the copy.
// The source is opened by OpenSourceFile: a link is followed only when it is the running
// user's or root's.
// keepContent: the result holds the copy, open (StoreResult::content), for the history.
StoreResult StoreCopy(const SourceRef& source, const FolderHandle& folder, const std::string& name,
                      bool durable, bool keepContent = false);
inline StoreResult StoreCopy(const std::string& source, const FolderHandle& folder,
                             const std::string& name, bool durable)
{
    return StoreCopy(SourceRef{AT_FDCWD, source, source}, folder, name, durable);
}

// Moves source into folder under name, which must not exist. A regular file on the same file
// system is renamed with no-replace semantics (no data copied, the file stays as it is).
// Otherwise the file is copied as StoreCopy does and the result says sourceLeft: the caller
// flushes the copy and then calls RemoveMovedSource. For a symbolic link only the link is
// ever removed.
StoreResult StoreMove(const SourceRef& source, const FolderHandle& folder, const std::string& name,
                      bool durable, bool keepContent = false);
inline StoreResult StoreMove(const std::string& source, const FolderHandle& folder,
                             const std::string& name, bool durable)
{
    return StoreMove(SourceRef{AT_FDCWD, source, source}, folder, name, durable);
}

// Removes a moved file's source, but only while it is still the file that was copied: it is
// first renamed to a hidden name in its folder, and what was renamed is compared with copied
// (device, inode, size, modification and change times; a link's target is compared). A
// different file is put back without replacing anything and the result is a failure naming
// it and the copy at copyPath. A source that is already gone is no failure.
StoreResult RemoveMovedSource(const SourceRef& source, const FileIdentity& copied,
                              const std::string& copyPath);
inline StoreResult RemoveMovedSource(const std::string& source, const FileIdentity& copied,
                                     const std::string& copyPath)
{
    return RemoveMovedSource(SourceRef{AT_FDCWD, source, source}, copied, copyPath);
}

// Flushes everything written to the file system that holds fd.
std::error_code FlushFileSystem(int fd);

// True when a flush of the whole file system cannot be trusted there (FUSE file systems may
// answer it without flushing), so each stored file must be flushed on its own.
bool NeedsPerFileFlush(int fd);

} // namespace engine
