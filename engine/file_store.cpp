#include "engine/file_store.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <random>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "engine/path_text.h"

namespace engine {

namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports the error, since a failed close can mean lost data.
    int Close()
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

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

// Copies the rest of in to out; size is what in held when it was opened. On failure sets
// error and whether the reading side failed.
bool CopyBytes(int in, int out, off_t size, int& error, bool& readSide)
{
    bool kernelCopy = true;
    off_t copied = 0;
    for (;;) {
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0);
            if (n > 0) {
                copied += n;
                continue;
            }
            if (n == 0 && copied >= size)
                return true;
            if (n == 0) {
                // "End of file" before the file's size: some file systems answer so for copies
                // they cannot make. Plain reads go on from here and tell the truth.
                kernelCopy = false;
                continue;
            }
            if (errno == EINTR)
                continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                errno == EBADF || errno == ETXTBSY) {
                kernelCopy = false; // this pair of files needs plain reads and writes
                continue;
            }
            error = errno;
            readSide = !IsWriteSideError(error);
            return false;
        }
        static thread_local std::vector<char> buffer(std::size_t{1} << 20);
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0 && copied < size) {
            // The file ended before its size: it shrank meanwhile, or the device failed
            // without saying so. Such a copy must not stand for the file.
            error = EIO;
            readSide = true;
            return false;
        }
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            readSide = true;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put =
                ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                error = errno;
                readSide = false;
                return false;
            }
            done += put;
        }
        copied += got;
    }
}

int SyncFolder(const std::string& folder)
{
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        return errno;
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    return 0;
}

std::string HiddenPartName(const std::string& folder, const std::string& destination)
{
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = std::random_device{}();
    const std::string name = NameOfPath(destination);
    char tag[40];
    std::snprintf(tag, sizeof tag, "%x-%x-%x", static_cast<unsigned>(::getpid()), seed,
                  counter.fetch_add(1));
    // Hidden, so the file list never shows it, and clearly ours.
    return (folder == "/" ? "" : folder) + "/.velmora-part-" + tag + "-" + name.substr(0, 150);
}

// How the copy is written before it gets its final name.
enum class Staging {
    Unnamed, // O_TMPFILE: a crash leaves nothing behind
    Hidden,  // a hidden name in the destination folder, renamed without replacing
};

// Gives the complete copy at hiddenPath its final name where the file system has neither
// no-replace renames nor hard links (exFAT or FAT through FUSE): the final name is first taken
// by an empty file made exclusively, and the copy is renamed over that file of ours. So nothing
// that appeared meanwhile is replaced, and the final name never holds part of a copy (a crash
// between the two steps leaves it empty). The hidden file is gone afterwards in every case.
StoreResult RenameOverHeldName(const std::string& hiddenPath, const std::string& destination)
{
    const int held = ::open(destination.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (held < 0) {
        const int error = errno;
        ::unlink(hiddenPath.c_str());
        return error == EEXIST ? Taken() : Failure(error, destination, "create");
    }
    // Closed only afterwards: on FUSE every call is a round trip, and the empty file should be
    // visible for as short a time as can be.
    const bool renamed = ::rename(hiddenPath.c_str(), destination.c_str()) == 0;
    const int error = errno;
    ::close(held);
    if (!renamed) {
        ::unlink(destination.c_str()); // the empty file made just now
        ::unlink(hiddenPath.c_str());
        return Failure(error, destination, "create");
    }
    return {};
}

StoreResult CopyStaged(const std::string& source, const std::string& destination, bool durable,
                       Staging staging)
{
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (in.get() < 0)
        return Failure(errno, source, "open");
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        return Failure(errno, source, "open");
    if (!S_ISREG(st.st_mode))
        return Failure(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, source, "open");
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const std::string folder = FolderOfPath(destination);
    std::string hiddenPath;
    int outFd = -1;
    if (staging == Staging::Unnamed) {
        outFd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (outFd < 0) {
            if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
                return CopyStaged(source, destination, durable, Staging::Hidden);
            return Failure(errno, destination, "create");
        }
    } else if (staging == Staging::Hidden) {
        hiddenPath = HiddenPartName(folder, destination);
        outFd = ::open(hiddenPath.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (outFd < 0)
            return Failure(errno, destination, "create");
    }
    UniqueFd out(outFd);
    // Anything that goes wrong from here removes what was written (an unnamed file needs no
    // removal: it vanishes with its descriptor).
    const auto abandon = [&](int error, const std::string& path, const char* step) {
        if (!hiddenPath.empty())
            ::unlink(hiddenPath.c_str());
        return Failure(error, path, step);
    };

    int error = 0;
    bool readSide = false;
    if (!CopyBytes(in.get(), out.get(), st.st_size, error, readSide))
        return abandon(error, readSide ? source : destination, readSide ? "read" : "write");
    ::fchmod(out.get(), st.st_mode & 07777); // not every file system keeps permissions
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out.get(), times) != 0)
        return abandon(errno, destination, "set the time of");
    if (durable && ::fsync(out.get()) != 0)
        return abandon(errno, destination, "flush");

    if (staging == Staging::Unnamed) {
        char procPath[64];
        std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", out.get());
        if (::linkat(AT_FDCWD, procPath, AT_FDCWD, destination.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST)
                return Taken();
            if (errno == ENOENT || errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV)
                return CopyStaged(source, destination, durable, Staging::Hidden);
            return Failure(errno, destination, "create");
        }
    } else if (staging == Staging::Hidden) {
        if (::renameat2(AT_FDCWD, hiddenPath.c_str(), AT_FDCWD, destination.c_str(),
                        RENAME_NOREPLACE) != 0) {
            const int renameError = errno;
            if (renameError == EEXIST) {
                ::unlink(hiddenPath.c_str());
                return Taken();
            }
            if (renameError != EINVAL && renameError != ENOSYS && renameError != EOPNOTSUPP)
                return abandon(renameError, destination, "create");
            // No no-replace rename here: a hard link never replaces either.
            if (::link(hiddenPath.c_str(), destination.c_str()) != 0) {
                const int linkError = errno;
                if (linkError == EPERM || linkError == EOPNOTSUPP || linkError == EMLINK) {
                    const StoreResult renamed = RenameOverHeldName(hiddenPath, destination);
                    if (renamed.status != StoreResult::Status::Stored)
                        return renamed;
                    // Some of these file systems give a renamed file the time of the rename.
                    ::futimens(out.get(), times);
                } else {
                    ::unlink(hiddenPath.c_str());
                    return linkError == EEXIST ? Taken()
                                               : Failure(linkError, destination, "create");
                }
            } else {
                ::unlink(hiddenPath.c_str());
            }
        }
    }
    if (out.Close() != 0) {
        const int closeError = errno;
        ::unlink(destination.c_str()); // the name is ours: we just made it
        return Failure(closeError, destination, "write");
    }
    if (durable) {
        if (const int syncError = SyncFolder(folder)) {
            // The copy is complete but may not survive a crash yet; keep it and the source.
            return Failure(syncError, folder, "flush");
        }
    }
    return {};
}

} // namespace

StoreResult StoreCopy(const std::string& source, const std::string& destination, bool durable)
{
    return CopyStaged(source, destination, durable, Staging::Unnamed);
}

StoreResult StoreMove(const std::string& source, const std::string& destination)
{
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0)
        return Failure(errno, source, "open");
    if (S_ISREG(st.st_mode)) {
        if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(),
                        RENAME_NOREPLACE) == 0)
            return {};
        const int renameError = errno;
        if (renameError == EEXIST)
            return Taken();
        if (renameError == EINVAL || renameError == ENOSYS || renameError == EOPNOTSUPP) {
            // The file system lacks no-replace renames: link, then drop the old name.
            if (::link(source.c_str(), destination.c_str()) == 0) {
                if (::unlink(source.c_str()) != 0)
                    return Failure(errno, source, "delete");
                return {};
            }
            if (errno == EEXIST)
                return Taken();
        } else if (renameError != EXDEV) {
            return Failure(renameError, source, "move");
        }
    }
    // Another file system, or a link: copy, make sure the copy is on disk, then delete.
    StoreResult copied = StoreCopy(source, destination, true);
    if (copied.status != StoreResult::Status::Stored)
        return copied;
    if (::unlink(source.c_str()) != 0)
        return Failure(errno, source, "delete");
    return {};
}

} // namespace engine
