#include "engine/dating/date_source.h"

#include "engine/dating/name_date.h"
#include "engine/dating/open_dates.h"

namespace engine {

namespace {

std::string Digits(int value, std::size_t width)
{
    std::string text = std::to_string(value);
    if (text.size() < width)
        text.insert(0, width - text.size(), '0');
    return text;
}

} // namespace

bool IsValidDate(int year, int month, int day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool IsValidClock(int hour, int minute, int second)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

bool SetCaptureDate(ExifInfo& info, int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1000 || !IsValidDate(year, month, day) || !IsValidClock(hour, minute, second))
        return false;
    info.HasDate = true;
    info.Year4 = Digits(year, 4);
    info.Year2 = info.Year4.substr(2);
    info.Month = Digits(month, 2);
    info.Day = Digits(day, 2);
    info.Hour = Digits(hour, 2);
    info.Minute = Digits(minute, 2);
    info.Second = Digits(second, 2);
    return true;
}

const char* DateFromText(DateFrom from)
{
    switch (from) {
    case DateFrom::Exif:
        return "exif";
    case DateFrom::Media:
        return "media";
    case DateFrom::Name:
        return "name";
    case DateFrom::File:
        break;
    }
    return "file";
}

std::string IsoDateText(const FileEntry& entry)
{
    std::string year = entry.Year4;
    if (year.size() < 4)
        year.insert(0, 4 - year.size(), '0');
    return year + "-" + entry.Month + "-" + entry.Day + "T" + entry.Hour + ":" + entry.Minute +
           ":" + entry.Second;
}

namespace {

std::error_code DatesOfHead(const HeadBuffer& head, const std::string& path,
                            const std::string& listedName, FileEntry& entry,
                            const RunOptions& options, DateSource* media, DateFrom* from);

} // namespace

std::error_code ReadFileDates(const std::string& path, const std::string& listedName,
                              FileEntry& entry, const RunOptions& options, DateSource* media,
                              DateFrom* from)
{
    HeadBuffer head;
    if (const auto error = ReadHead(path, head))
        return error;
    return DatesOfHead(head, path, listedName, entry, options, media, from);
}

std::error_code ReadOpenFileDates(int fd, const struct stat& st, const std::string& path,
                                  const std::string& listedName, FileEntry& entry,
                                  const RunOptions& options, DateSource* media, DateFrom* from)
{
    std::tm local{};
    const time_t seconds = st.st_mtim.tv_sec;
    if (::localtime_r(&seconds, &local) == nullptr)
        return {errno != 0 ? errno : EOVERFLOW, std::generic_category()};
    HeadBuffer head;
    if (const auto error = ReadHeadAt(fd, st.st_size, head))
        return error;
    SetDateFields(entry, local);
    return DatesOfHead(head, path, listedName, entry, options, media, from);
}

namespace {

std::error_code DatesOfHead(const HeadBuffer& head, const std::string& path,
                            const std::string& listedName, FileEntry& entry,
                            const RunOptions& options, DateSource* media, DateFrom* from)
{
    DateFrom unused = DateFrom::File;
    DateFrom& source = from != nullptr ? *from : unused;
    source = DateFrom::File;
    const ExifInfo exif = ParseExifHead(head);
    ApplyExifInfo(exif, entry, options);
    if (exif.HasDate) {
        source = DateFrom::Exif;
        return {};
    }

    if (options.MediaDates == 1 && media != nullptr) {
        const ExifInfo found = media->ReadDates(path);
        if (found.HasExif && !exif.HasExif && options.Model == 1)
            entry.CameraModel = "[" + found.CameraName + "]";
        if (found.HasDate) {
            CopyDateFields(found, entry);
            source = DateFrom::Media;
            return {};
        }
    }

    if (options.NameDates == 1) {
        const auto date = DateInFileName(listedName);
        ExifInfo named;
        if (date && SetCaptureDate(named, date->year, date->month, date->day, date->hour,
                                   date->minute, date->second)) {
            if (!date->hasClock) { // a date only: the clock stays the file time's
                named.Hour = entry.Hour;
                named.Minute = entry.Minute;
                named.Second = entry.Second;
            }
            CopyDateFields(named, entry);
            source = DateFrom::Name;
        }
    }
    return {};
}

} // namespace

} // namespace engine
