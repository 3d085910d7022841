#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

// XXH64, the 64-bit hash of the xxHash family: fast enough to hash what a copy has just read.
// Feed the bytes in any pieces; Digest() may be called at any point and does not end the hash.
class ContentHash {
public:
    explicit ContentHash(std::uint64_t seed = 0);
    void Update(const void* data, std::size_t size);
    std::uint64_t Digest() const;

private:
    std::uint64_t lanes_[4];
    std::uint64_t seed_;
    std::uint64_t total_ = 0;
    unsigned char buffer_[32];
    std::size_t buffered_ = 0;
};

std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed = 0);

// Sixteen lower-case hex digits; HashFromHex takes them back (false for anything else).
std::string HashHex(std::uint64_t hash);
bool HashFromHex(std::string_view text, std::uint64_t& hash);

// The hash a journal keeps of a stored file: of its size and of its first and last
// kSampleBytes bytes (the whole file when it is smaller than two samples), read from fd by
// pread. Cheap enough to take for every copy; together with the inode and change time it tells
// whether a copy was changed since. Returns false when the file could not be read.
inline constexpr std::size_t kSampleBytes = 64 * 1024;
bool SampleHash(int fd, std::uint64_t size, std::uint64_t& hash);

} // namespace engine
