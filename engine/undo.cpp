#include "engine/undo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/content_hash.h"
#include "engine/file_store.h"
#include "engine/journal.h"
#include "engine/path_text.h"
#include "engine/unique_fd.h"

namespace engine {

namespace {

// Opens folder for the *at calls. Below base, every level is opened without following a link
// (the date folders a run made are never links, and a link put there since must not lead the
// undo elsewhere); base itself, like any folder outside it, is opened as the user names it.
int OpenFolder(const std::string& base, const std::string& folder)
{
    const std::string prefix = base == "/" ? "/" : base + "/";
    if (base.empty() || folder.compare(0, prefix.size(), prefix) != 0)
        return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t pos = prefix.size();
    while (fd >= 0 && pos < folder.size()) {
        std::size_t end = folder.find('/', pos);
        if (end == std::string::npos)
            end = folder.size();
        const std::string level = folder.substr(pos, end - pos);
        pos = end + 1;
        if (level.empty())
            continue;
        const int next =
            ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        fd = next;
        errno = error;
    }
    return fd;
}

// Opens a source folder to put a file back into, making the missing levels again.
int OpenOrMakeFolder(const std::string& folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    const std::string parent = FolderOfPath(folder);
    if (parent == folder)
        return -1;
    const int parentFd = OpenOrMakeFolder(parent);
    if (parentFd < 0)
        return -1;
    const std::string name = NameOfPath(folder);
    if (::mkdirat(parentFd, name.c_str(), 0777) != 0 && errno != EEXIST) {
        ::close(parentFd);
        return -1;
    }
    fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(parentFd);
    return fd;
}

bool SameIdentity(const struct stat& st, const FileIdentity& journaled)
{
    return S_ISREG(st.st_mode) && SameFile(IdentityOf(st), journaled);
}

std::string HiddenName(const std::string& name)
{
    char tag[48];
    std::snprintf(tag, sizeof tag, ".velmora-undo-%x-", static_cast<unsigned>(::getpid()));
    return tag + name.substr(0, 150);
}

// Removes name from the folder while it is still the journaled file: it is renamed to a hidden
// name first and compared again there, so nothing that took its place meanwhile is removed.
bool RemoveIfSame(int dirFd, const std::string& name, const FileIdentity& journaled)
{
    const std::string hidden = HiddenName(name);
    if (::renameat2(dirFd, name.c_str(), dirFd, hidden.c_str(), RENAME_NOREPLACE) != 0)
        return false;
    struct stat st {};
    bool same = false;
    if (::fstatat(dirFd, hidden.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
        FileIdentity now = IdentityOf(st);
        now.changed = journaled.changed; // the rename itself set it
        same = SameFile(now, journaled);
    }
    if (same && ::unlinkat(dirFd, hidden.c_str(), 0) == 0)
        return true;
    ::renameat2(dirFd, hidden.c_str(), dirFd, name.c_str(), RENAME_NOREPLACE);
    return false;
}

bool HashMatches(int dirFd, const std::string& name, const JournalEntry& entry)
{
    if (!entry.hashed)
        return true;
    UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    std::uint64_t hash = 0;
    return fd.get() >= 0 &&
           SampleHash(fd.get(), static_cast<std::uint64_t>(entry.stored.size), hash) &&
           hash == entry.hash;
}

class Undo {
public:
    explicit Undo(const Journal& journal) : journal_(journal) {}

    void Entry(const JournalEntry& entry)
    {
        const std::string destFolder = FolderOfPath(entry.dest);
        const std::string destName = NameOfPath(entry.dest);
        UniqueFd dir(OpenFolder(journal_.base, destFolder));
        struct stat st {};
        const bool present =
            dir.get() >= 0 && ::fstatat(dir.get(), destName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        switch (entry.op) {
        case JournalEntry::Op::Copy:
            if (!present)
                return Done(); // the copy is gone already
            if (!SameIdentity(st, entry.stored) || !HashMatches(dir.get(), destName, entry))
                return Left(entry.dest, "it changed since it was stored");
            if (!RemoveIfSame(dir.get(), destName, entry.stored))
                return Left(entry.dest,
                            "it could not be removed: " + std::string(std::strerror(errno)));
            return Done();
        case JournalEntry::Op::Move:
            if (!present)
                return IsBack(entry) ? Done() : Left(entry.dest, "it is gone");
            if (!SameIdentity(st, entry.stored))
                return Left(entry.dest, "it changed since it was moved");
            return MoveBack(entry, dir.get(), destName, st);
        case JournalEntry::Op::Same:
            return CopyBack(entry, dir.get(), destName, present, st);
        }
    }

    void Folders()
    {
        for (auto it = journal_.folders.rbegin(); it != journal_.folders.rend(); ++it) {
            UniqueFd parent(OpenFolder(journal_.base, FolderOfPath(*it)));
            if (parent.get() >= 0 &&
                ::unlinkat(parent.get(), NameOfPath(*it).c_str(), AT_REMOVEDIR) == 0)
                ++result.foldersRemoved;
        }
    }

    UndoResult result;

private:
    void Done() { ++result.undone; }
    void Left(const std::string& path, const std::string& reason)
    {
        result.left.push_back({path, reason});
    }

    // The source path holds the very file that was moved (an earlier undo put it back).
    bool IsBack(const JournalEntry& entry)
    {
        struct stat st {};
        return ::lstat(entry.source.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
               st.st_ino == entry.stored.inode && st.st_dev == entry.stored.device &&
               st.st_size == entry.stored.size;
    }

    void MoveBack(const JournalEntry& entry, int dirFd, const std::string& destName,
                  const struct stat& before)
    {
        UniqueFd sourceDir(OpenOrMakeFolder(FolderOfPath(entry.source)));
        if (sourceDir.get() < 0)
            return Left(entry.dest, "its source folder could not be made: " +
                                        std::string(std::strerror(errno)));
        const std::string sourceName = NameOfPath(entry.source);
        if (::renameat2(dirFd, destName.c_str(), sourceDir.get(), sourceName.c_str(),
                        RENAME_NOREPLACE) == 0) {
            // What went back must be what was looked at; anything else goes back where it was.
            struct stat now {};
            if (::fstatat(sourceDir.get(), sourceName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                now.st_dev == before.st_dev && now.st_ino == before.st_ino)
                return Done();
            ::renameat2(sourceDir.get(), sourceName.c_str(), dirFd, destName.c_str(),
                        RENAME_NOREPLACE);
            return Left(entry.dest, "it was replaced while it was moved back");
        }
        if (errno == EEXIST)
            return Left(entry.dest, "\"" + entry.source + "\" is in the way");
        if (errno != EXDEV)
            return Left(entry.dest,
                        "it could not be moved back: " + std::string(std::strerror(errno)));
        // Another file system: a flushed copy back first, then the stored file goes.
        const std::string from = "/proc/self/fd/" + std::to_string(dirFd) + "/" + destName;
        const StoreResult copied =
            StoreCopy(from, {sourceDir.get(), FolderOfPath(entry.source)}, sourceName, true);
        if (copied.status == StoreResult::Status::NameTaken)
            return Left(entry.dest, "\"" + entry.source + "\" is in the way");
        if (copied.status != StoreResult::Status::Stored)
            return Left(entry.dest, "it could not be copied back: " + copied.error.message());
        if (!RemoveIfSame(dirFd, destName, entry.stored))
            return Left(entry.dest, "it was copied back to \"" + entry.source +
                                        "\" but changed meanwhile, so it was kept too");
        Done();
    }

    void CopyBack(const JournalEntry& entry, int dirFd, const std::string& destName, bool present,
                  const struct stat& st)
    {
        if (IsBackAsCopy(entry))
            return Done();
        if (!present)
            return Left(entry.dest, "it is gone, so \"" + entry.source + "\" cannot be restored");
        if (st.st_size != entry.stored.size || st.st_mtim.tv_sec != entry.stored.modified.tv_sec ||
            st.st_mtim.tv_nsec != entry.stored.modified.tv_nsec ||
            !HashMatches(dirFd, destName, entry))
            return Left(entry.dest, "it changed, so \"" + entry.source + "\" cannot be restored");
        UniqueFd sourceDir(OpenOrMakeFolder(FolderOfPath(entry.source)));
        if (sourceDir.get() < 0)
            return Left(entry.dest, "its source folder could not be made: " +
                                        std::string(std::strerror(errno)));
        const std::string from = "/proc/self/fd/" + std::to_string(dirFd) + "/" + destName;
        const StoreResult copied = StoreCopy(from, {sourceDir.get(), FolderOfPath(entry.source)},
                                             NameOfPath(entry.source), true);
        if (copied.status == StoreResult::Status::NameTaken)
            return Left(entry.dest, "\"" + entry.source + "\" is in the way");
        if (copied.status != StoreResult::Status::Stored)
            return Left(entry.dest, "it could not be copied back: " + copied.error.message());
        Done();
    }

    // The source of a "same" entry holds a file of the stored size and time again.
    bool IsBackAsCopy(const JournalEntry& entry)
    {
        struct stat st {};
        return ::lstat(entry.source.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
               st.st_size == entry.stored.size &&
               st.st_mtim.tv_sec == entry.stored.modified.tv_sec &&
               st.st_mtim.tv_nsec == entry.stored.modified.tv_nsec;
    }

    const Journal& journal_;
};

} // namespace

UndoResult UndoJournal(const std::string& path)
{
    Journal journal;
    std::error_code error;
    if (!ReadJournal(path, journal, error)) {
        UndoResult result;
        result.message = "Cannot read the journal \"" + path + "\": " + error.message() + ".";
        return result;
    }
    Undo undo(journal);
    for (auto it = journal.entries.rbegin(); it != journal.entries.rend(); ++it)
        undo.Entry(*it);
    undo.Folders();
    UndoResult result = std::move(undo.result);
    result.read = true;
    result.complete = result.left.empty();
    if (const std::error_code marked = MarkJournalUndone(path, result.complete))
        result.left.push_back({path, "the journal could not be marked: " + marked.message()});
    result.complete = result.left.empty();
    return result;
}

} // namespace engine
