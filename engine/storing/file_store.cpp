#include "engine/storing/file_store.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <random>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "engine/base/open_file.h"
#include "engine/base/path_text.h"
#include "engine/base/unique_fd.h"

namespace engine {

FileIdentity IdentityOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec &&
           a.changed.tv_sec == b.changed.tv_sec && a.changed.tv_nsec == b.changed.tv_nsec;
}

namespace {

StoreResult Failure(int error, const std::string& path, const char* step)
{
    StoreResult result;
    result.status = StoreResult::Status::Failed;
    result.error.assign(error, std::generic_category());
    result.errorPath = path;
    result.step = step;
    return result;
}

StoreResult Taken()
{
    StoreResult result;
    result.status = StoreResult::Status::NameTaken;
    return result;
}

bool IsWriteSideError(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EROFS;
}

// Why a copy failed, and on which side.
struct CopyError {
    int code = 0;
    bool readSide = false;
};

// Copies the bytes [from, to) of in to the same offsets of out: the kernel's copy first, plain
// reads and writes where it cannot serve this pair of files or answers an early end of file.
bool CopyRange(int in, int out, off_t from, off_t to, bool& kernelCopy, CopyError& error)
{
    off_t pos = from;
    while (pos < to) {
        if (kernelCopy) {
            loff_t inPos = pos, outPos = pos;
            const ssize_t n =
                ::copy_file_range(in, &inPos, out, &outPos, static_cast<std::size_t>(to - pos), 0);
            if (n > 0) {
                pos += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            // "End of file" before the file's size: some file systems answer so for copies
            // they cannot make. Plain reads go on from here and tell the truth.
            if (n == 0 || errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                errno == EOPNOTSUPP || errno == EBADF || errno == ETXTBSY) {
                kernelCopy = false;
                continue;
            }
            error = {errno, !IsWriteSideError(errno)};
            return false;
        }
        static thread_local std::vector<char> buffer(std::size_t{1} << 20);
        const std::size_t want =
            static_cast<std::size_t>(std::min<off_t>(to - pos, static_cast<off_t>(buffer.size())));
        const ssize_t got = ::pread(in, buffer.data(), want, pos);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = {errno, true};
            return false;
        }
        if (got == 0) {
            // The file ended before its size: it shrank meanwhile, or the device failed
            // without saying so. Such a copy must not stand for the file.
            error = {EIO, true};
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::pwrite(out, buffer.data() + done,
                                         static_cast<std::size_t>(got - done), pos + done);
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0) {
                error = {errno, false};
                return false;
            }
            done += put;
        }
        pos += got;
    }
    return true;
}

// Files at least this big get the sequential read-ahead advice.
constexpr off_t kAdviseSize = off_t{128} << 10;

// A file whose allocated blocks cover its size has no holes to keep (cp decides alike).
bool MayHaveHoles(const struct stat& st)
{
    return st.st_blocks < st.st_size / 512;
}

// Copies the data of in (size bytes when opened) to out and keeps its holes (with holes
// false: the file has none): only the ranges that hold data are copied, and the size is set
// at the end, so a sparse file stays sparse.
bool CopyBytes(int in, int out, off_t size, bool holes, std::uint64_t& copied, CopyError& error)
{
    bool kernelCopy = true;
    if (!holes) { // one range: no search for holes that cannot be there
        if (size > 0 && !CopyRange(in, out, 0, size, kernelCopy, error))
            return false;
        copied += static_cast<std::uint64_t>(size);
        return true;
    }
    off_t pos = 0;
    off_t written = 0; // end of the last range copied
    while (pos < size) {
        off_t data = ::lseek(in, pos, SEEK_DATA);
        off_t hole = size;
        if (data < 0 && errno == ENXIO) {
            break; // only a hole is left
        } else if (data < 0) {
            data = pos; // no hole support here: copy the rest as data
        } else {
            hole = ::lseek(in, data, SEEK_HOLE);
            if (hole < 0 || hole > size)
                hole = size;
        }
        if (data >= size)
            break;
        if (!CopyRange(in, out, data, hole, kernelCopy, error))
            return false;
        copied += static_cast<std::uint64_t>(hole - data);
        written = hole;
        pos = hole;
    }
    if (written < size && ::ftruncate(out, size) != 0) {
        error = {errno, false};
        return false;
    }
    return true;
}

// POSIX ACL in its extended-attribute form: a 4-byte version, then entries of tag (2 bytes),
// permissions (2 bytes) and id (4 bytes), little-endian.
constexpr const char* kAccessAclName = "system.posix_acl_access";
constexpr unsigned kAclGroupObj = 0x04, kAclMask = 0x10;

// The group permission bits that keep an ACL's meaning where the ACL itself cannot be kept:
// with an ACL the group bits of the mode show the mask, which would otherwise widen the
// owning group's access. The owning group gets its own entry limited by the mask.
mode_t NarrowGroupBits(mode_t mode, const std::vector<char>& acl)
{
    int groupObj = -1, mask = -1;
    for (std::size_t pos = 4; acl.size() >= 8 && pos <= acl.size() - 8; pos += 8) {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(acl[pos + i]); };
        const unsigned tag = byte(0) | byte(1) << 8;
        const int perm = static_cast<int>((byte(2) | byte(3) << 8) & 7u);
        if (tag == kAclGroupObj)
            groupObj = perm;
        else if (tag == kAclMask)
            mask = perm;
    }
    if (groupObj < 0)
        return mode;
    const int group = mask < 0 ? groupObj : (groupObj & mask);
    return (mode & ~static_cast<mode_t>(070)) | static_cast<mode_t>(group << 3);
}

bool IsNotKeptHere(int error)
{
    return error == ENOTSUP || error == EOPNOTSUPP || error == EPERM || error == EACCES ||
           error == E2BIG || error == ERANGE || error == EINVAL;
}

// Gives out the permission bits, the "user." extended attributes and the access ACL of in.
// What the destination does not keep is left out; running out of space is an error.
// modeSet: out already has the permission bits (it was made with them).
int CopyAttributes(int in, int out, mode_t mode, bool modeSet)
{
    mode &= 0777; // the copy belongs to whoever sorts: never setuid, setgid or sticky
    // Most files have no attributes: the list is read into a buffer on the stack, and only a
    // longer one into memory of its own.
    char shortList[1024];
    std::vector<char> longList;
    const char* names = shortList;
    ssize_t length = ::flistxattr(in, shortList, sizeof shortList);
    if (length < 0 && errno == ERANGE) {
        length = ::flistxattr(in, nullptr, 0);
        if (length > 0) {
            longList.resize(static_cast<std::size_t>(length));
            length = ::flistxattr(in, longList.data(), longList.size());
            names = longList.data();
        }
    }
    std::vector<char> acl;
    std::vector<char> value;
    const auto get = [&](const char* name, std::vector<char>& into) {
        const ssize_t size = ::fgetxattr(in, name, nullptr, 0);
        if (size < 0)
            return false;
        into.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::fgetxattr(in, name, into.data(), into.size());
        if (got < 0)
            return false;
        into.resize(static_cast<std::size_t>(got));
        return true;
    };
    for (ssize_t pos = 0; length > 0 && pos < length;) {
        const char* name = names + pos;
        pos += static_cast<ssize_t>(std::strlen(name)) + 1;
        if (std::strcmp(name, kAccessAclName) == 0) {
            get(name, acl);
            continue;
        }
        if (std::strncmp(name, "user.", 5) != 0 || !get(name, value))
            continue;
        if (::fsetxattr(out, name, value.data(), value.size(), 0) != 0 && !IsNotKeptHere(errno))
            return errno;
    }
    if (!modeSet && ::fchmod(out, mode) != 0 && !IsNotKeptHere(errno))
        return errno;
    if (!acl.empty() && ::fsetxattr(out, kAccessAclName, acl.data(), acl.size(), 0) != 0) {
        if (!IsNotKeptHere(errno))
            return errno;
        ::fchmod(out, NarrowGroupBits(mode, acl));
    }
    return 0;
}

std::string HiddenName(const char* kind, const std::string& name)
{
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = std::random_device{}();
    char tag[48];
    std::snprintf(tag, sizeof tag, ".velmora-%s-%x-%x-%x-", kind, static_cast<unsigned>(::getpid()),
                  seed, counter.fetch_add(1));
    // Hidden, so the file list never shows it, and clearly ours.
    return tag + name.substr(0, 150);
}

// How the copy is written before it gets its final name.
enum class Staging {
    Unnamed, // O_TMPFILE: a crash leaves nothing behind
    Hidden,  // a hidden name in the destination folder, renamed without replacing
};

// Gives the complete copy at hidden its final name where the file system has neither
// no-replace renames nor hard links (exFAT or FAT through FUSE): the final name is first taken
// by an empty file made exclusively, and the copy is renamed over that file of ours. So nothing
// that appeared meanwhile is replaced, and the final name never holds part of a copy (a crash
// between the two steps leaves it empty). The hidden file is gone afterwards in every case.
StoreResult RenameOverHeldName(const FolderHandle& folder, const std::string& hidden,
                               const std::string& name)
{
    const int dir = folder.fd;
    const int held = ::openat(dir, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (held < 0) {
        const int error = errno;
        ::unlinkat(dir, hidden.c_str(), 0);
        return error == EEXIST ? Taken() : Failure(error, JoinPath(folder.path, name), "create");
    }
    // Closed only afterwards: on FUSE every call is a round trip, and the empty file should be
    // visible for as short a time as can be.
    const bool renamed = ::renameat(dir, hidden.c_str(), dir, name.c_str()) == 0;
    const int error = errno;
    ::close(held);
    if (!renamed) {
        ::unlinkat(dir, name.c_str(), 0); // the empty file made just now
        ::unlinkat(dir, hidden.c_str(), 0);
        return Failure(error, JoinPath(folder.path, name), "create");
    }
    return {};
}

// Gives the unnamed file open as fd the name name in folder dir, never replacing anything (-1
// with errno EEXIST when the name is taken). By the descriptor itself where the kernel allows
// it to whoever opened the file (Linux 6.10 and later, or with CAP_DAC_READ_SEARCH): cheaper
// than the path through /proc, which every kernel takes and which is used once the direct
// way has been refused.
int LinkUnnamed(int fd, int dir, const std::string& name)
{
    static std::atomic<bool> direct{true};
    if (direct.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        if (errno != ENOENT && errno != EPERM && errno != EINVAL)
            return -1;
        direct.store(false, std::memory_order_relaxed);
    }
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, procPath, dir, name.c_str(), AT_SYMLINK_FOLLOW);
}

StoreResult CopyStaged(const SourceRef& sourceRef, const FolderHandle& folder,
                       const std::string& name, bool durable, bool keepContent, Staging staging)
{
    const std::string& source = sourceRef.path;
    OpenedSource opened = OpenSourceFile(sourceRef);
    if (opened.error) {
        StoreResult failed = Failure(opened.error.value(), source, "open");
        failed.message = opened.message;
        return failed;
    }
    const UniqueFd in = std::move(opened.fd);
    const struct stat st = opened.st;
    // The kernel's own read-ahead covers a small file; the advice pays for big ones.
    if (st.st_size >= kAdviseSize)
        ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const int dir = folder.fd;
    const std::string destination = JoinPath(folder.path, name);
    std::string hidden;
    int outFd = -1;
    // An unnamed copy is made with the source's permission bits where they come out
    // unchanged (nobody can open it until it has its name); a hidden one stays private.
    const mode_t bits = st.st_mode & 0777;
    const bool modeSet = staging == Staging::Unnamed && folder.umask >= 0 &&
                         (bits & static_cast<mode_t>(folder.umask)) == 0;
    if (staging == Staging::Unnamed) {
        // Readable too: the run history hashes what was stored through it.
        outFd = ::openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, modeSet ? bits : 0600);
        if (outFd < 0) {
            if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
                return CopyStaged(sourceRef, folder, name, durable, keepContent, Staging::Hidden);
            return Failure(errno, destination, "create");
        }
    } else {
        hidden = HiddenName("part", name);
        outFd = ::openat(dir, hidden.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        if (outFd < 0)
            return Failure(errno, destination, "create");
    }
    UniqueFd out(outFd);
    // Anything that goes wrong from here removes what was written (an unnamed file needs no
    // removal: it vanishes with its descriptor).
    const auto abandon = [&](int error, const std::string& path, const char* step) {
        if (!hidden.empty())
            ::unlinkat(dir, hidden.c_str(), 0);
        return Failure(error, path, step);
    };

    StoreResult result;
    CopyError copyError;
    const bool holes = MayHaveHoles(st);
    if (!CopyBytes(in.get(), out.get(), st.st_size, holes, result.bytes, copyError))
        return abandon(copyError.code, copyError.readSide ? source : destination,
                       copyError.readSide ? "read" : "write");
    // A file edited or replaced in place while it was read: the copy may mix two versions.
    struct stat after {};
    if (::fstat(in.get(), &after) != 0)
        return abandon(errno, source, "read");
    result.copied = IdentityOf(after);
    if (!SameFile(IdentityOf(st), result.copied)) {
        StoreResult changed = abandon(ECANCELED, source, "copy");
        changed.message = "\"" + source +
                          "\" changed while it was copied, so its copy was discarded; the file "
                          "was left as it is.";
        return changed;
    }
    if (const int error = CopyAttributes(in.get(), out.get(), st.st_mode, modeSet))
        return abandon(error, destination, "write");
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out.get(), times) != 0)
        return abandon(errno, destination, "set the time of");
    if (durable && ::fsync(out.get()) != 0)
        return abandon(errno, destination, "flush");

    if (staging == Staging::Unnamed) {
        if (LinkUnnamed(out.get(), dir, name) != 0) {
            if (errno == EEXIST)
                return Taken();
            if (errno == ENOENT || errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV)
                return CopyStaged(sourceRef, folder, name, durable, keepContent, Staging::Hidden);
            return Failure(errno, destination, "create");
        }
    } else if (::renameat2(dir, hidden.c_str(), dir, name.c_str(), RENAME_NOREPLACE) != 0) {
        const int renameError = errno;
        if (renameError == EEXIST) {
            ::unlinkat(dir, hidden.c_str(), 0);
            return Taken();
        }
        if (renameError != EINVAL && renameError != ENOSYS && renameError != EOPNOTSUPP)
            return abandon(renameError, destination, "create");
        // No no-replace rename here: a hard link never replaces either.
        if (::linkat(dir, hidden.c_str(), dir, name.c_str(), 0) != 0) {
            const int linkError = errno;
            if (linkError == EPERM || linkError == EOPNOTSUPP || linkError == EMLINK) {
                StoreResult renamed = RenameOverHeldName(folder, hidden, name);
                if (renamed.status != StoreResult::Status::Stored)
                    return renamed;
                // Some of these file systems give a renamed file the time of the rename.
                ::futimens(out.get(), times);
            } else {
                ::unlinkat(dir, hidden.c_str(), 0);
                return linkError == EEXIST ? Taken() : Failure(linkError, destination, "create");
            }
        } else {
            ::unlinkat(dir, hidden.c_str(), 0);
        }
    }
    if (keepContent) {
        // The history reads the copy's identity (its link changed its change time) and hash
        // from it, and closes it, on a thread of its own: the bytes are read a second time,
        // but not by the thread that copies.
        result.stored.size = st.st_size;
        result.content = std::move(out);
    } else if (out.Close() != 0) {
        const int closeError = errno;
        ::unlinkat(dir, name.c_str(), 0); // the name is ours: we just made it
        return Failure(closeError, destination, "write");
    }
    if (durable && ::fsync(dir) != 0 && errno != EINVAL && errno != EROFS) {
        // The copy is complete but may not survive a crash yet; keep it and the source.
        return Failure(errno, folder.path, "flush");
    }
    return result;
}

// The failure of a move whose source changed after it was copied: the source is kept (as
// keptAs when it could not get its name back) and the message names it and the copy.
StoreResult Changed(const std::string& source, const std::string& copyPath,
                    const std::string* keptAs)
{
    StoreResult changed = Failure(ECANCELED, source, "delete");
    changed.message = "\"" + source + "\" changed while it was moved, so it was kept";
    if (keptAs != nullptr)
        changed.message += " as \"" + *keptAs + "\" (a new file took its name)";
    changed.message += "; the copy made before the change is \"" + copyPath + "\".";
    return changed;
}

// A rename moves whatever holds the source's name at that moment. When that is no longer the
// regular file that was looked at (a FIFO, a link or a folder swapped in meanwhile), it is put
// back without replacing anything and the store fails: only listed files are ever moved.
StoreResult CheckRenamed(const SourceRef& sourceRef, const FolderHandle& folder,
                         const std::string& name, const struct stat& before)
{
    const std::string& source = sourceRef.path;
    struct stat now {};
    if (::fstatat(folder.fd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        now.st_dev == before.st_dev && now.st_ino == before.st_ino && S_ISREG(now.st_mode)) {
        StoreResult moved;
        moved.stored = IdentityOf(now);
        return moved;
    }
    StoreResult swapped = Failure(EINVAL, source, "move");
    swapped.message = "\"" + source +
                      "\" was replaced by something that is not the listed file while it was "
                      "moved, so it was left where it was.";
    if (::renameat2(folder.fd, name.c_str(), sourceRef.dirFd, sourceRef.name.c_str(),
                    RENAME_NOREPLACE) != 0)
        swapped.message = "\"" + source +
                          "\" was replaced by something that is not the listed file while it "
                          "was moved; that entry is now \"" +
                          JoinPath(folder.path, name) + "\".";
    return swapped;
}

} // namespace

StoreResult StoreCopy(const SourceRef& source, const FolderHandle& folder, const std::string& name,
                      bool durable, bool keepContent)
{
    return CopyStaged(source, folder, name, durable, keepContent, Staging::Unnamed);
}

StoreResult StoreMove(const SourceRef& sourceRef, const FolderHandle& folder,
                      const std::string& name, bool durable, bool keepContent)
{
    const std::string& source = sourceRef.path;
    const int dir = sourceRef.dirFd;
    const char* from = sourceRef.name.c_str();
    struct stat st {};
    if (::fstatat(dir, from, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Failure(errno, source, "open");
    if (S_ISREG(st.st_mode)) {
        if (::renameat2(dir, from, folder.fd, name.c_str(), RENAME_NOREPLACE) == 0)
            return CheckRenamed(sourceRef, folder, name, st);
        const int renameError = errno;
        if (renameError == EEXIST)
            return Taken();
        if (renameError == EINVAL || renameError == ENOSYS || renameError == EOPNOTSUPP) {
            // The file system lacks no-replace renames: link, then drop the old name.
            if (::linkat(dir, from, folder.fd, name.c_str(), 0) == 0) {
                if (::unlinkat(dir, from, 0) != 0)
                    return Failure(errno, source, "delete");
                StoreResult moved;
                struct stat now {};
                if (::fstatat(folder.fd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0)
                    moved.stored = IdentityOf(now);
                return moved;
            }
            if (errno == EEXIST)
                return Taken();
        } else if (renameError != EXDEV) {
            return Failure(renameError, source, "move");
        }
    }
    // Another file system, or a link: copy; the source goes once the copy is on disk.
    StoreResult copied = StoreCopy(sourceRef, folder, name, durable, keepContent);
    copied.sourceLeft = copied.status == StoreResult::Status::Stored;
    return copied;
}

StoreResult RemoveMovedSource(const SourceRef& sourceRef, const FileIdentity& copied,
                              const std::string& copyPath)
{
    const std::string& source = sourceRef.path;
    const int dir = sourceRef.dirFd;
    const char* name = sourceRef.name.c_str();
    // The hidden name goes beside the source, in the same folder.
    std::string hiddenName = HiddenName("moved", NameOfPath(sourceRef.name));
    if (dir == AT_FDCWD)
        hiddenName = JoinPath(FolderOfPath(sourceRef.name), hiddenName);
    const char* hidden = hiddenName.c_str();
    // The whole identity is compared before the name is taken away (taking it away changes
    // the change time), and what was taken away is compared again, so what is removed is
    // what was copied even if the name was replaced in between.
    struct stat before {};
    if (::fstatat(dir, name, &before, 0) != 0)
        return errno == ENOENT ? StoreResult{} // gone already: the copy stands for it
                               : Failure(errno, source, "delete");
    if (!SameFile(IdentityOf(before), copied))
        return Changed(source, copyPath, nullptr);
    bool plainRename = false;
    if (::renameat2(dir, name, dir, hidden, RENAME_NOREPLACE) != 0) {
        const int error = errno;
        if (error == ENOENT)
            return {}; // gone already: the copy stands for it
        if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
            return Failure(error, source, "delete");
        // No no-replace rename here (FAT through FUSE); the hidden name is ours and new.
        struct stat none {};
        if (::fstatat(dir, hidden, &none, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
            return Failure(EEXIST, hiddenName, "delete");
        if (::renameat(dir, name, dir, hidden) != 0)
            return errno == ENOENT ? StoreResult{} : Failure(errno, source, "delete");
        plainRename = true;
    }
    struct stat now {};
    bool same = false;
    if (::fstatat(dir, hidden, &now, 0) == 0) {
        FileIdentity renamed = IdentityOf(now);
        renamed.changed = copied.changed; // the rename itself set it
        if (plainRename) // such file systems may also give it the time of the rename
            renamed.modified = copied.modified;
        same = SameFile(renamed, copied);
    }
    if (same) {
        if (::unlinkat(dir, hidden, 0) == 0)
            return {};
        const int error = errno;
        ::renameat2(dir, hidden, dir, name, RENAME_NOREPLACE);
        return Failure(error, source, "delete");
    }
    bool putBack = ::renameat2(dir, hidden, dir, name, RENAME_NOREPLACE) == 0;
    if (!putBack && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        struct stat taken {};
        putBack = ::fstatat(dir, name, &taken, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT &&
                  ::renameat(dir, hidden, dir, name) == 0;
    }
    const std::string keptAs = JoinPath(FolderOfPath(source), NameOfPath(hiddenName));
    return Changed(source, copyPath, putBack ? nullptr : &keptAs);
}

// Read from /proc: the umask call would change it, for a moment, in every thread.
int ProcessUmask()
{
    FILE* status = std::fopen("/proc/self/status", "re");
    if (status == nullptr)
        return -1;
    char line[256];
    int found = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        unsigned value = 0;
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            found = static_cast<int>(value & 0777);
            break;
        }
    }
    std::fclose(status);
    return found;
}

int CreationUmask(int fd, int processUmask)
{
    if (processUmask < 0 || ::fgetxattr(fd, "system.posix_acl_default", nullptr, 0) >= 0 ||
        (errno != ENODATA && errno != ENOTSUP && errno != EOPNOTSUPP))
        return -1;
    return processUmask;
}

std::error_code FlushFileSystem(int fd)
{
    if (::syncfs(fd) != 0)
        return {errno, std::generic_category()};
    return {};
}

bool NeedsPerFileFlush(int fd)
{
    constexpr long kFuseMagic = 0x65735546;
    struct statfs fs {};
    return ::fstatfs(fd, &fs) == 0 && static_cast<long>(fs.f_type) == kFuseMagic;
}

} // namespace engine
