#include "engine/content_hash.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace engine {

namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr std::uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;
constexpr std::uint64_t kPrime5 = 0x27D4EB2F165667C5ULL;

std::uint64_t Rotl(std::uint64_t x, int r)
{
    return (x << r) | (x >> (64 - r));
}

// Little-endian reads, whatever the machine's order.
std::uint64_t Read64(const unsigned char* p)
{
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

std::uint32_t Read32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t Round(std::uint64_t acc, std::uint64_t input)
{
    acc += input * kPrime2;
    acc = Rotl(acc, 31);
    return acc * kPrime1;
}

std::uint64_t MergeRound(std::uint64_t acc, std::uint64_t lane)
{
    acc ^= Round(0, lane);
    return acc * kPrime1 + kPrime4;
}

} // namespace

ContentHash::ContentHash(std::uint64_t seed)
    : lanes_{seed + kPrime1 + kPrime2, seed + kPrime2, seed, seed - kPrime1}, seed_(seed)
{}

void ContentHash::Update(const void* data, std::size_t size)
{
    const auto* p = static_cast<const unsigned char*>(data);
    total_ += size;
    if (buffered_ + size < 32) {
        if (size > 0)
            std::memcpy(buffer_ + buffered_, p, size);
        buffered_ += size;
        return;
    }
    if (buffered_ > 0) {
        const std::size_t fill = 32 - buffered_;
        std::memcpy(buffer_ + buffered_, p, fill);
        for (int i = 0; i < 4; ++i)
            lanes_[i] = Round(lanes_[i], Read64(buffer_ + 8 * i));
        p += fill;
        size -= fill;
        buffered_ = 0;
    }
    while (size >= 32) {
        for (int i = 0; i < 4; ++i)
            lanes_[i] = Round(lanes_[i], Read64(p + 8 * i));
        p += 32;
        size -= 32;
    }
    if (size > 0)
        std::memcpy(buffer_, p, size);
    buffered_ = size;
}

std::uint64_t ContentHash::Digest() const
{
    std::uint64_t h;
    if (total_ >= 32) {
        h = Rotl(lanes_[0], 1) + Rotl(lanes_[1], 7) + Rotl(lanes_[2], 12) + Rotl(lanes_[3], 18);
        for (const std::uint64_t lane : lanes_)
            h = MergeRound(h, lane);
    } else {
        h = seed_ + kPrime5;
    }
    h += total_;
    const unsigned char* p = buffer_;
    std::size_t left = buffered_;
    while (left >= 8) {
        h ^= Round(0, Read64(p));
        h = Rotl(h, 27) * kPrime1 + kPrime4;
        p += 8;
        left -= 8;
    }
    if (left >= 4) {
        h ^= static_cast<std::uint64_t>(Read32(p)) * kPrime1;
        h = Rotl(h, 23) * kPrime2 + kPrime3;
        p += 4;
        left -= 4;
    }
    while (left > 0) {
        h ^= *p * kPrime5;
        h = Rotl(h, 11) * kPrime1;
        ++p;
        --left;
    }
    h ^= h >> 33;
    h *= kPrime2;
    h ^= h >> 29;
    h *= kPrime3;
    h ^= h >> 32;
    return h;
}

std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed)
{
    ContentHash hash(seed);
    hash.Update(bytes.data(), bytes.size());
    return hash.Digest();
}

std::string HashHex(std::uint64_t hash)
{
    static const char digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4)
        text[static_cast<std::size_t>(i)] = digits[hash & 15];
    return text;
}

bool HashFromHex(std::string_view text, std::uint64_t& hash)
{
    if (text.size() != 16)
        return false;
    std::uint64_t value = 0;
    for (const char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return false;
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    hash = value;
    return true;
}

bool SampleHash(int fd, std::uint64_t size, std::uint64_t& hash)
{
    static thread_local std::vector<unsigned char> buffer(kSampleBytes);
    ContentHash content;
    const unsigned char sizeBytes[8] = {
        static_cast<unsigned char>(size),       static_cast<unsigned char>(size >> 8),
        static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24),
        static_cast<unsigned char>(size >> 32), static_cast<unsigned char>(size >> 40),
        static_cast<unsigned char>(size >> 48), static_cast<unsigned char>(size >> 56)};
    content.Update(sizeBytes, sizeof sizeBytes);
    // The head, then the tail where it does not overlap the head.
    const auto hashRange = [&](std::uint64_t from, std::uint64_t to) {
        while (from < to) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(to - from, buffer.size()));
            const ssize_t got = ::pread(fd, buffer.data(), want, static_cast<off_t>(from));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            content.Update(buffer.data(), static_cast<std::size_t>(got));
            from += static_cast<std::uint64_t>(got);
        }
        return true;
    };
    const std::uint64_t headEnd = std::min<std::uint64_t>(size, kSampleBytes);
    const std::uint64_t tailStart = size > 2 * kSampleBytes ? size - kSampleBytes : headEnd;
    if (!hashRange(0, headEnd) || !hashRange(tailStart, size))
        return false;
    hash = content.Digest();
    return true;
}

} // namespace engine
