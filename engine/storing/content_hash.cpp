#include "engine/storing/content_hash.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <unistd.h>
#include <xxhash.h>
#if defined(__x86_64__) || defined(__i386__)
// The library's plain XXH3 entry points use SSE2 only; these pick AVX2 or AVX-512 where the
// processor has them (the same hash, about four times as fast): the history hashes every byte
// a run stores.
#include <xxh_x86dispatch.h>
#endif

namespace engine {

ContentHash::ContentHash() : state_(XXH3_createState())
{
    if (state_ == nullptr)
        throw std::bad_alloc();
    XXH3_64bits_reset(static_cast<XXH3_state_t*>(state_));
}

ContentHash::~ContentHash()
{
    XXH3_freeState(static_cast<XXH3_state_t*>(state_));
}

void ContentHash::Update(const void* data, std::size_t size)
{
    XXH3_64bits_update(static_cast<XXH3_state_t*>(state_), data, size);
}

std::uint64_t ContentHash::Digest() const
{
    return XXH3_64bits_digest(static_cast<const XXH3_state_t*>(state_));
}

std::uint64_t HashBytes(std::string_view bytes)
{
    return XXH3_64bits(bytes.data(), bytes.size());
}

bool HashFile(int fd, std::uint64_t size, std::uint64_t& hash)
{
    // Small enough to stay in the processor's cache between the read and the hash.
    constexpr std::size_t kBlock = 256 * 1024;
    static thread_local const std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBlock]);
    ContentHash content;
    std::uint64_t pos = 0;
    while (pos < size) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size - pos, kBlock));
        const ssize_t got = ::pread(fd, buffer.get(), want, static_cast<off_t>(pos));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        content.Update(buffer.get(), static_cast<std::size_t>(got));
        pos += static_cast<std::uint64_t>(got);
    }
    hash = content.Digest();
    return true;
}

} // namespace engine
