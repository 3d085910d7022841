#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/dating/exif_reader.h"

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
    // The first track's tkhd creation time, else its mdia/mdhd one, read alike: some recorders
    // leave the movie header at 0 and date only the tracks.
    std::optional<std::int64_t> trackCreated;
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

// What the first bytes of a file (at least 12) say it is, by its brands and its boxes:
//   Heif   a HEIF or AVIF still (or sequence): its major brand is a still brand (mif1, msf1,
//          heic, heif, avif, MiHB, ...), or a top-level "meta" box in the head declares the
//          "pict" handler, or a compatible brand is a still brand and no "moov" box is in the
//          head;
//   Cr3    a Canon CR3 (brand "crx ");
//   Movie  any other "ftyp" file, or, as in old QuickTime files, one that starts with a
//          "moov", "mdat", "wide", "free" or "skip" box;
//   Other  anything else.
enum class BoxFileKind { Other, Heif, Cr3, Movie };
BoxFileKind KindOfBoxFile(std::span<const std::uint8_t> head);

// The limits a box file keeps before it goes to a library's box parser (exiv2 reads the whole
// body of every box it meets, once more at each level of nesting; libheif descends by box
// type): boxes that parsers descend into (moov, trak, mdia, minf, stbl, udta, edts, meta, iinf,
// iprp, ipco, dinf, dref, grpl, Canon's uuid), wherever they stand, nest at most kMaxBoxDepth
// deep; at most kMaxVideoBoxes box headers; and the bodies of the boxes on any one path of
// nesting add up to at most the file's size and kBoxSlackBytes. Reads box headers only.
inline constexpr int kMaxBoxDepth = 32;
inline constexpr std::uint64_t kBoxSlackBytes = 1 << 20;
bool BoxTreeWithinLimits(ByteSource& source);

// Canon CR3: the TIFF blocks of moov/uuid(Canon)/CMT1 (IFD0: Make, Model, DateTime) and CMT2
// (the Exif IFD), at most kMaxCmtBytes each; empty when missing.
inline constexpr std::size_t kMaxCmtBytes = 64 << 10;
struct CanonBlocks {
    std::vector<std::uint8_t> cmt1, cmt2;
};
CanonBlocks ReadCanonBlocks(ByteSource& source);

// Walks the top-level boxes to moov and reads mvhd and the Apple keys. Seeks over every other
// box and reads at most kMaxVideoBytesRead bytes. Box sizes: 32-bit, 64-bit (size 1), or 0
// (to the end of the enclosing box or file); a box that does not fit its parent ends the walk
// at that level, keeping what was read before. Never throws on file contents.
VideoTags ReadVideoTags(ByteSource& source);

// The capture date and camera of a video in ExifInfo's fields: the creation-date key's local
// date and time as written (its offset ignored) when it holds a valid date, else the movie
// header's time, else the track's, in this machine's local time; CameraName from the
// Make/Model keys (HasExif set when either is present).
engine::ExifInfo VideoCaptureInfo(const VideoTags& tags);

} // namespace media
