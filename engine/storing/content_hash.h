#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace engine {

// The content hash the run history keeps of stored files: XXH3, 64 bits (libxxhash). Feed the
// bytes in any pieces; Digest() may be called at any point and does not end the hash.
class ContentHash {
public:
    ContentHash();
    ~ContentHash();
    ContentHash(const ContentHash&) = delete;
    ContentHash& operator=(const ContentHash&) = delete;
    void Update(const void* data, std::size_t size);
    std::uint64_t Digest() const;

private:
    void* state_; // XXH3_state_t, kept out of this header
};

std::uint64_t HashBytes(std::string_view bytes);

// The hash of the whole content of the file open as fd, read by pread from offset 0: exactly
// size bytes. False when it cannot be read or ends before size bytes.
bool HashFile(int fd, std::uint64_t size, std::uint64_t& hash);

} // namespace engine
