#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/dating/exif_reader.h"

// Small bounded readers of picture metadata that need no library: the tags of a TIFF block
// (a CR3's CMT boxes), a PNG's "Creation Time" text, and the date texts of XMP and PNG.
namespace media {

// The date and camera tags of a TIFF block ("II" or "MM", magic 42, IFD0 offset), from IFD0
// and from the Exif IFD it points to (tag 0x8769); a block that is itself an Exif IFD (CMT2)
// has the Exif tags in its IFD0. Values are the raw ASCII bytes without trailing zeros, at
// most kMaxTiffText each; empty when missing. Entries or values outside the block are skipped.
inline constexpr std::size_t kMaxTiffText = 255;
struct TiffTags {
    std::string dateTimeOriginal, dateTimeDigitized, dateTime, make, model;
};
TiffTags ReadTiffTags(std::span<const std::uint8_t> tiff);

// The text of a PNG's tEXt or iTXt chunk (uncompressed) with the keyword "Creation Time",
// looked for among the chunks before the first IDAT, in at most kMaxPngBytes of the file's
// start (head); at most kMaxTiffText bytes; empty when none.
inline constexpr std::size_t kMaxPngBytes = 64 << 10;
std::string PngCreationTime(std::span<const std::uint8_t> head);

// Takes a capture date written as text into info (engine::SetCaptureDate), as written: an
// offset ("+02:00", "Z", "GMT") is never applied. Forms: "2023-07-08T22:31:01" and
// "2023-07-08 22:31[:01]" with optional fractions and offset (XMP, ISO 8601), EXIF's
// "2023:07:08 22:31:01", and RFC 1123's "[Sat, ]08 Jul 2023 22:31:01 [+0200]". A date without a
// clock, or a field out of range, gives false (info unchanged).
bool TakeTextDate(std::string_view text, engine::ExifInfo& info);

// engine::TakeExifDate, and then only when the date and clock it cut are valid (month 1..12,
// a day the month has, hour below 24, ...): true when info took the date.
bool TakeValidExifDate(std::string_view text, engine::ExifInfo& info);

} // namespace media
