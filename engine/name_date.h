#pragma once

#include <optional>
#include <string_view>

namespace engine {

// A date that a phone or camera app wrote into a file name.
struct NameDate {
    int year = 0, month = 0, day = 0;
    bool hasClock = false; // false: the name holds a date only
    int hour = 0, minute = 0, second = 0;
};

// The date in a file name, in one of these forms (the date may follow a prefix ending in "_",
// "-" or a space, or start the name; it must not touch a digit or letter on either side,
// except the milliseconds of the first form and the "WA" of the last):
//
//   IMG_20230708_223101.jpg  VID_20230708_223101.mp4   yyyymmdd_hhmmss
//   PXL_20230708_223101123.jpg                           yyyymmdd_hhmmss + 3 digits
//   Screenshot_2023-07-08-22-31-01.png                   yyyy-mm-dd-hh-mm-ss
//   2023-07-08 22.31.01.jpg                              yyyy-mm-dd hh.mm.ss
//   IMG-20230708-WA0001.jpg                              yyyymmdd "-WA" digits (date only)
//
// Only complete, valid dates count: year 1970..2099, month 1..12, a day the month has, hour
// below 24, minute and second below 60. Anything else, and any other run of digits, gives none.
// The first form found from the left wins.
std::optional<NameDate> DateInFileName(std::string_view name);

} // namespace engine
