#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "engine/base/unique_fd.h"

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

// Hashes whole files (HashFile) on a thread of its own, in the order they were handed in, so
// that a run copies its next files while the last ones are hashed. Used by one thread.
class FileHasher {
public:
    FileHasher() = default;
    ~FileHasher(); // waits for the file being hashed, drops the others
    FileHasher(const FileHasher&) = delete;
    FileHasher& operator=(const FileHasher&) = delete;

    // Hands in the file open as fd (closed once hashed): size bytes from offset 0.
    void Add(UniqueFd fd, std::uint64_t size);
    // Files handed in and not yet taken.
    std::size_t Pending() const { return pending_; }
    struct Hashed {
        bool ok = false; // false: it could not be read, or ended before size bytes
        std::uint64_t hash = 0;
    };
    // The result of the oldest file not yet taken; with wait, waits for it. Nothing when it
    // is not hashed yet (or none is pending).
    std::optional<Hashed> Take(bool wait);

private:
    struct Job {
        UniqueFd fd;
        std::uint64_t size = 0;
        bool done = false;
        Hashed result;
    };
    void Work();

    std::mutex mutex_;
    std::condition_variable added_, finished_;
    std::deque<Job> jobs_; // oldest first; the worker hashes the first not done
    bool stop_ = false;
    std::size_t pending_ = 0;
    std::thread worker_; // started with the first file
};

} // namespace engine
