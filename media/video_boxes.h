#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "engine/exif_reader.h"

namespace media {

// Random access to the bytes of one file, or of a buffer (tests, the fuzzer).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads exactly n bytes at offset into out; false when they cannot all be read.
    virtual bool ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) = 0;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) override;

private:
    std::span<const std::uint8_t> bytes_;
};

// What the boxes of an MP4, MOV, M4V or 3GP file say about its recording.
struct VideoTags {
    // moov/mvhd creation time in seconds since 1970-01-01 UTC; none when the box is missing or
    // its time is 0 or before 1970.
    std::optional<std::int64_t> movieCreated;
    // The values of Apple's keys com.apple.quicktime.creationdate, .make and .model in
    // moov/meta (or moov/udta/meta), as written; empty when absent.
    std::string creationDate, make, model;
};

// Limits of one file's reading: bytes read in all, box headers looked at, bytes taken from one
// keys box and from one value.
inline constexpr std::uint64_t kMaxVideoBytesRead = 1 << 20;
inline constexpr int kMaxVideoBoxes = 4096;
inline constexpr std::size_t kMaxKeysBytes = 64 << 10;
inline constexpr std::size_t kMaxValueBytes = 256;

// True when the first bytes of a file (at least 12) begin an ISO-BMFF or QuickTime movie:
// an "ftyp" box whose major brand is not one of a still picture (HEIF, AVIF, Canon CR3), or,
// as in old QuickTime files, a "moov", "mdat", "wide", "free" or "skip" box.
bool LooksLikeMovie(std::span<const std::uint8_t> head);

// Walks the top-level boxes to moov and reads mvhd and the Apple keys. Seeks over every other
// box and reads at most kMaxVideoBytesRead bytes. Box sizes: 32-bit, 64-bit (size 1), or 0
// (to the end of the enclosing box or file); a box that does not fit its parent ends the walk
// at that level, keeping what was read before. Never throws on file contents.
VideoTags ReadVideoTags(ByteSource& source);

// The capture date and camera of a video in ExifInfo's fields: the creation-date key's local
// date and time as written (its offset ignored) when it holds a valid date, else the movie
// header's time in this machine's local time; CameraName from the Make/Model keys (HasExif
// set when either is present).
engine::ExifInfo VideoCaptureInfo(const VideoTags& tags);

} // namespace media
