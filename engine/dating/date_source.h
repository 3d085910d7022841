#pragma once

// Dating: the date a file is sorted by. The EXIF reader of camera JPEGs and the one raw format,
// dates in file names, and the order in which the sources are asked; the media-date reader
// comes in from outside as a DateSource. Uses the standard library and engine/base only.

#include <string>
#include <system_error>

#include "engine/base/file_entry.h"
#include "engine/base/run_options.h"
#include "engine/dating/exif_reader.h"

namespace engine {

// Where the date of a file comes from. The sources are asked in this fixed order, and the first
// that gives a date decides:
//
//   1. the EXIF reader (exif_reader.h): the first 5001 bytes of camera JPEGs and of one raw
//      format, always;
//   2. media dates, when RunOptions::MediaDates is 1: the capture date embedded in HEIC/HEIF,
//      AVIF, CR3, TIFF-based raw, TIFF, PNG, WebP and JPEG pictures and in MP4/MOV/M4V/3GP
//      videos, read by the DateSource that the front end hands in (RunHost::MediaDateSource);
//   3. name dates, when RunOptions::NameDates is 1: a date written in the file's name by a
//      phone or camera app (name_date.h); a name with a date only keeps the file time's clock;
//   4. the file's modification time, in local time.
//
// The camera tag (option Model) is the EXIF reader's when it found EXIF data, else the media
// source's when that one names the camera. With both options 0, a record is dated exactly as by
// ReadExifInfo alone.

// Reads capture dates from media files. Implemented outside the engine (media/), so the engine
// needs no library for it. Called on the thread that runs ClassificationRun, once per file.
class DateSource {
public:
    virtual ~DateSource() = default;

    // The capture date and camera of the file at path. Result fields as in ExifInfo: HasDate and
    // the date texts when the file holds a qualifying capture date (QualifiesAsDate's rules for
    // EXIF texts, valid calendar dates for the others); HasExif and CameraName when it names
    // its camera (Make or Model). Opens only regular files and never blocks; a file it cannot
    // read or understand gives an empty result. Never throws.
    virtual ExifInfo ReadDates(const std::string& path) = 0;
};

// True for a date of the Gregorian calendar with year 1..9999, month 1..12 and a day the month
// has; and for a clock time with hour < 24, minute and second < 60.
bool IsValidDate(int year, int month, int day);
bool IsValidClock(int hour, int minute, int second);

// Fills info's date fields with fixed-width digit texts ("2023", "23", "07", ...) and sets
// HasDate; false (info unchanged) when the date or clock is not valid or the year is before
// 1000 (the texts must keep their widths).
bool SetCaptureDate(ExifInfo& info, int year, int month, int day, int hour, int minute, int second);

// Which of the sources above gave a record its date.
enum class DateFrom { Exif, Media, Name, File };

// "exif", "media", "name" or "file": the word velmora-cli prints for it.
const char* DateFromText(DateFrom from);

// The record's date and time as ISO 8601 local time, "2024-03-15T10:00:00" (a year of fewer
// than four digits is padded with zeros).
std::string IsoDateText(const FileEntry& entry);

// Dates one record by the order above. The record's name fields must be filled, its date fields
// hold the file time and its CameraModel be empty; listedName is the name the file was listed
// by, path its full path. media may be null (no media source). Returns the error of reading the
// file's head; the record is then unchanged. from, when given, is set to the source that
// dated the record.
std::error_code ReadFileDates(const std::string& path, const std::string& listedName,
                              FileEntry& entry, const RunOptions& options, DateSource* media,
                              DateFrom* from = nullptr);

} // namespace engine
