#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "engine/base/file_entry.h"
#include "engine/base/run_options.h"

namespace engine {

// The reader looks at the first 5001 bytes of a file, no more; past the end of a shorter file
// the buffer holds zeros.
inline constexpr std::size_t HeadBufferSize = 5001;
using HeadBuffer = std::array<std::uint8_t, HeadBufferSize>;

// Characters that may not appear in a file name; they are deleted from camera names.
inline constexpr std::array<char, 9> InvalidNameChars = {'*', '\\', '/', ':', '<',
                                                         '>', '|',  '"', '?'};

// Unsigned 16-bit value at pos in the byte order "II" (little end first) or "MM" (big end
// first). Empty when pos..pos+1 does not lie inside the buffer. Call only with "II" or "MM".
std::optional<std::uint16_t> ReadOrderedWord(const HeadBuffer& head, std::string_view order,
                                             std::int64_t pos);

// Signed 32-bit value at pos..pos+3 in the given byte order; 0 without reading for any order
// but "II" and "MM". Empty when the bytes lie outside the buffer or the value is 2^31 or more.
std::optional<std::int32_t> ReadOrderedLong(const HeadBuffer& head, std::string_view order,
                                            std::int64_t pos);

// What the head of one file says. Texts are UTF-8: every byte of the file is one character,
// bytes of 0x80 and above taken as the Latin-1 character of the same number.
struct ExifInfo {
    bool HasExif = false; // EXIF data with a known byte order, read within the buffer
    bool HasDate = false; // a qualifying picture date was found
    std::string Year4, Year2, Month, Day, Hour, Minute, Second;
    std::string CameraName; // maker and model, without the brackets; cleaned for file names
};

// The date rules of the reader, for every source of EXIF texts (the media-date readers too).
// A date text qualifies when it has at least 19 characters, starts with a digit 1..9, and none
// of its date and time fields ("YYYY:MM:DD HH:MM:SS", by position) holds "/", "\\", "." or a
// control character: such a date could leave the destination or make a hidden folder.
bool QualifiesAsDate(std::string_view text);

// When text qualifies, cuts it into info's date fields by position (bytes taken as Latin-1),
// sets HasDate and returns true; otherwise leaves info alone and returns false.
bool TakeExifDate(std::string_view text, ExifInfo& info);

// The camera name of a maker text already cut to its first word and a model text already cut
// at its first zero byte and trimmed of spaces: the model alone when it holds the maker, else
// maker, space, model; control characters and InvalidNameChars removed; UTF-8 (Latin-1 bytes).
std::string CameraNameOf(const std::string& makeText, const std::string& modelText);

// CameraNameOf for whole Make and Model tag values: the maker cut before its first space, the
// model at its first zero byte and trimmed of spaces, as the reader cuts them in a head.
std::string CameraNameFromTags(std::string_view make, std::string_view model);

// Parses a head buffer: a JPEG whose first segment, or the segment after a first APP0 segment,
// is an APP1 "Exif" block, or the raw file of one camera model (a big-endian TIFF). A head
// whose EXIF data points outside the buffer or holds a count or offset of 2^31 or more counts
// as one without EXIF data. Pure: depends on the bytes alone.
ExifInfo ParseExifHead(const HeadBuffer& head);

// Copies the date fields Year4..Second from one record to another (ExifInfo or FileEntry).
template <typename From, typename To>
void CopyDateFields(const From& from, To& to)
{
    to.Year4 = from.Year4;
    to.Year2 = from.Year2;
    to.Month = from.Month;
    to.Day = from.Day;
    to.Hour = from.Hour;
    to.Minute = from.Minute;
    to.Second = from.Second;
}

// Writes what the head says into a record whose date fields hold the file time: the date
// fields when a date was found, CameraModel ("[" name "]") when EXIF data was found and the
// Model option is 1.
void ApplyExifInfo(const ExifInfo& info, FileEntry& entry, const RunOptions& options);

// Opens the file, reads at most 5001 bytes into head (zeros after its end) and closes it.
std::error_code ReadHead(const std::string& path, HeadBuffer& head);

// Reads the head of the file at path and applies it to entry. The entry's date fields must
// already hold the file's modification time and its CameraModel be empty. Returns the error
// of opening or reading the file; the entry is then unchanged.
std::error_code ReadExifInfo(const std::string& path, FileEntry& entry, const RunOptions& options);

} // namespace engine
