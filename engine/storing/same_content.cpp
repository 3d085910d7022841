#include "engine/storing/same_content.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "engine/base/unique_fd.h"
#include "engine/storing/content_hash.h"

namespace engine {

namespace {

// Reads up to size bytes; fewer only at the end of the file. -1 on an error.
ssize_t ReadFull(int fd, char* data, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

SameContent Compare(int storedFd, int sourceFd, bool durable)
{
    SameContent result;
    struct stat a {
    }, b{};
    if (::fstat(storedFd, &a) != 0 || ::fstat(sourceFd, &b) != 0 || !S_ISREG(a.st_mode) ||
        !S_ISREG(b.st_mode) || a.st_size != b.st_size ||
        (a.st_dev == b.st_dev && a.st_ino == b.st_ino))
        return result;
    ::posix_fadvise(storedFd, 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(sourceFd, 0, 0, POSIX_FADV_SEQUENTIAL);
    constexpr std::size_t kChunk = 256 * 1024;
    static thread_local std::vector<char> left(kChunk), right(kChunk);
    off_t total = 0;
    ContentHash stored;
    for (;;) {
        const ssize_t n = ReadFull(storedFd, left.data(), kChunk);
        const ssize_t m = ReadFull(sourceFd, right.data(), kChunk);
        if (n < 0 || m < 0 || n != m ||
            std::memcmp(left.data(), right.data(), static_cast<std::size_t>(n)) != 0)
            return result;
        stored.Update(left.data(), static_cast<std::size_t>(n));
        total += n;
        if (static_cast<std::size_t>(n) < kChunk)
            break;
    }
    struct stat afterA {
    }, afterB{};
    if (total != a.st_size || ::fstat(storedFd, &afterA) != 0 || ::fstat(sourceFd, &afterB) != 0 ||
        !SameFile(IdentityOf(a), IdentityOf(afterA)) ||
        !SameFile(IdentityOf(b), IdentityOf(afterB)))
        return result;
    result.existingHash = stored.Digest();
    if (durable && ::fsync(storedFd) != 0)
        return result;
    result.same = true;
    result.existing = IdentityOf(a);
    result.source = IdentityOf(b);
    return result;
}

constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Compares the stored file open as stored (not open: no match) with source.
SameContent CompareWithSource(const UniqueFd& stored, const SourceRef& source, bool durable)
{
    if (stored.get() < 0)
        return {};
    const OpenedSource in = OpenSourceFile(source);
    if (in.error)
        return {};
    return Compare(stored.get(), in.fd.get(), durable);
}

} // namespace

SameContent CompareWithStored(int dirFd, const std::string& name, const SourceRef& source,
                              bool durable)
{
    return CompareWithSource(UniqueFd(::openat(dirFd, name.c_str(), kReadFlags | O_NOFOLLOW)),
                             source, durable);
}

SameContent CompareFiles(const std::string& stored, const SourceRef& source, bool followStored)
{
    return CompareWithSource(
        UniqueFd(::open(stored.c_str(), kReadFlags | (followStored ? 0 : O_NOFOLLOW))), source,
        false);
}

bool SameBytes(int a, int b)
{
    return Compare(a, b, false).same;
}

} // namespace engine
