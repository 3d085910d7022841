#include "engine/storing/content_hash.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <unistd.h>
#include <vector>
#include <xxhash.h>

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
    static thread_local std::vector<unsigned char> buffer(kBlock);
    ContentHash content;
    std::uint64_t pos = 0;
    while (pos < size) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size - pos, kBlock));
        const ssize_t got = ::pread(fd, buffer.data(), want, static_cast<off_t>(pos));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        content.Update(buffer.data(), static_cast<std::size_t>(got));
        pos += static_cast<std::uint64_t>(got);
    }
    hash = content.Digest();
    return true;
}

} // namespace engine

namespace engine {

FileHasher::~FileHasher()
{
    if (!worker_.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    added_.notify_one();
    worker_.join();
}

void FileHasher::Add(UniqueFd fd, std::uint64_t size)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(Job{std::move(fd), size, false, {}});
        ++pending_;
    }
    if (!worker_.joinable())
        worker_ = std::thread([this] { Work(); });
    added_.notify_one();
}

std::optional<FileHasher::Hashed> FileHasher::Take(bool wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (jobs_.empty())
        return std::nullopt;
    if (wait)
        finished_.wait(lock, [this] { return jobs_.front().done; });
    if (!jobs_.front().done)
        return std::nullopt;
    const Hashed result = jobs_.front().result;
    jobs_.pop_front();
    --pending_;
    return result;
}

void FileHasher::Work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        Job* job = nullptr;
        added_.wait(lock, [&] {
            if (stop_)
                return true;
            for (Job& j : jobs_)
                if (!j.done) {
                    job = &j;
                    return true;
                }
            return stop_;
        });
        if (job == nullptr)
            return;
        // A deque keeps its elements in place while others are added at the back or taken
        // from the front, and the front is taken only once it is done.
        const int fd = job->fd.get();
        const std::uint64_t size = job->size;
        lock.unlock();
        Hashed result;
        result.ok = HashFile(fd, size, result.hash);
        lock.lock();
        job->result = result;
        job->done = true;
        job->fd = UniqueFd();
        finished_.notify_one();
    }
}

} // namespace engine
