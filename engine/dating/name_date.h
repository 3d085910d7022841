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
// except where a form says otherwise):
//
//   IMG_20230708_223101.jpg  VID_20230708_223101.mp4   yyyymmdd_hhmmss
//   PXL_20230708_223101123.jpg                           yyyymmdd_hhmmss + 3 digits
//   Screenshot_20230708-223101_Chrome.jpg                yyyymmdd-hhmmss
//   Screenshot_2023-07-08-22-31-01.png                   yyyy-mm-dd-hh-mm-ss
//   signal-2023-07-08-223101.jpg                         yyyy-mm-dd-hhmmss
//   photo_2023-07-08_22-31-01.jpg                        yyyy-mm-dd_hh-mm-ss
//   2023-07-08 22.31.01.jpg                              yyyy-mm-dd hh.mm.ss
//   Screenshot 2023-07-08 at 22.31.01.png                yyyy-mm-dd at hh.mm.ss
//   Screen Shot 2023-07-08 at 10.31.01 PM.png            the same, hour 1..12 and AM or PM
//   Screenshot 2023-07-08 223101.png                     yyyy-mm-dd hhmmss
//   Photo 08-07-2023, 22 31 01.jpg                       dd-mm-yyyy, hh mm ss
//   DJI_20230708223101_0001_D.JPG                        "DJI_" yyyymmddhhmmss
//   mmexport1688823061000.jpg  FB_IMG_1688823061000.jpg  "mmexport" or "FB_IMG_" and 13 digits:
//                                                        milliseconds since 1970 UTC, in local
//                                                        time, 1990..2100 only
//   IMG-20230708-WA0001.jpg                              yyyymmdd "-WA" digits (date only)
//   IMG_20230708.jpg                                     "_" yyyymmdd, 1990 on (date only)
//   2023-07-08.jpg                                       yyyy-mm-dd (date only)
//
// A date alone must end the name's stem (the extension, " (2)" or "~1" may follow).
// Only complete, valid dates count: year 1970..2099, month 1..12, a day the month has, hour
// below 24, minute and second below 60. Anything else, and any other run of digits, gives none.
// The first form found from the left wins.
std::optional<NameDate> DateInFileName(std::string_view name);

} // namespace engine
