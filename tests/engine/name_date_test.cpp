// Dates written in file names: the forms of common apps, and the near misses that must not
// date a file.
#include <cstdlib>
#include <ctime>
#include <string>
#include <gtest/gtest.h>

#include "engine/dating/name_date.h"

namespace {

struct Case {
    const char* name;
    bool dated;
    int year = 0, month = 0, day = 0;
    bool hasClock = false;
    int hour = 0, minute = 0, second = 0;
};

TEST(NameDateTest, FormsOfCommonAppsAndNearMisses)
{
    // Millisecond times are read in local time: this table's are written for UTC.
    const char* zone = std::getenv("TZ");
    const std::string oldZone = zone ? zone : "";
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const Case cases[] = {
        // The forms, as apps write them.
        {"IMG_20230708_223101.jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"VID_20230708_223101.mp4", true, 2023, 7, 8, true, 22, 31, 1},
        {"PXL_20230708_223101123.jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"PXL_20230708_223101123.MP.jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"20230708_223101.jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"IMG_20230708_223101_1.jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"Screenshot_2023-07-08-22-31-01.png", true, 2023, 7, 8, true, 22, 31, 1},
        {"2023-07-08 22.31.01.jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"IMG-20230708-WA0001.jpg", true, 2023, 7, 8, false},
        {"VID-20230708-WA0012.mp4", true, 2023, 7, 8, false},
        {"IMG_20240229_000000.jpg", true, 2024, 2, 29, true, 0, 0, 0}, // a leap day
        {"IMG_20231231_235959", true, 2023, 12, 31, true, 23, 59, 59}, // no extension
        {"copy of 2023-07-08 22.31.01 (2).jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"Screenshot_20230708-223101.png", true, 2023, 7, 8, true, 22, 31, 1},
        {"Screenshot_20230708-223101_Chrome.jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"Screenshot 2023-07-08 at 22.31.01.png", true, 2023, 7, 8, true, 22, 31, 1},
        {"Screen Shot 2023-07-08 at 10.31.01 PM.png", true, 2023, 7, 8, true, 22, 31, 1},
        {"Screen Shot 2023-07-08 at 12.31.01\xE2\x80\xAF" "AM.png", true, 2023, 7, 8, true, 0, 31, 1},
        {"Screen Shot 2023-07-08 at 12.31.01 pm (2).png", true, 2023, 7, 8, true, 12, 31, 1},
        {"Screenshot 2023-07-08 223101.png", true, 2023, 7, 8, true, 22, 31, 1},
        {"photo_2023-07-08_22-31-01.jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"signal-2023-07-08-223101.jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"DJI_20230708223101_0001_D.JPG", true, 2023, 7, 8, true, 22, 31, 1},
        {"Photo 08-07-2023, 22 31 01.jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"mmexport1688855461000.jpg", true, 2023, 7, 8, true, 22, 31, 1}, // in UTC
        {"FB_IMG_1688855461999.jpg", true, 2023, 7, 8, true, 22, 31, 1},
        {"IMG_20230708.jpg", true, 2023, 7, 8, false},
        {"2023-07-08.jpg", true, 2023, 7, 8, false},
        {"2023-07-08 (1).JPG", true, 2023, 7, 8, false},
        // Invalid dates and clocks.
        {"IMG_20231308_223101.jpg", false}, // month 13
        {"IMG_20230008_223101.jpg", false}, // month 0
        {"IMG_20230700_223101.jpg", false}, // day 0
        {"IMG_20230431_223101.jpg", false}, // 31 April
        {"IMG_20230229_223101.jpg", false}, // 29 February of a common year
        {"IMG_21000229_120000.jpg", false}, // 2100 is no leap year, and out of range
        {"IMG_20230708_243101.jpg", false}, // hour 24
        {"IMG_20230708_226001.jpg", false}, // minute 60
        {"IMG_20230708_223160.jpg", false}, // second 60
        {"IMG_19690708_223101.jpg", false}, // before 1970
        {"Screenshot_2023-02-30-10-00-00.png", false},
        {"2023-07-08 25.31.01.jpg", false},
        {"IMG-20231332-WA0001.jpg", false},
        // Digits that only look like a date.
        {"IMG_2023070_223101.jpg", false},      // seven date digits
        {"IMG_202307088_223101.jpg", false},    // nine date digits
        {"IMG_20230708_22310.jpg", false},      // five clock digits
        {"IMG_20230708_2231011.jpg", false},    // seven clock digits
        {"IMG_20230708_22310112.jpg", false},   // eight clock digits
        {"IMG_20230708_2231011234.jpg", false}, // ten clock digits
        {"IMG_20230708.223101.jpg", false},     // wrong separator
        {"IMG_20230708-2231.jpg", false},       // a date alone must end the stem
        {"IMG_20230708_223101x.jpg", false},    // a letter touches the clock
        {"X20230708_223101.jpg", false},        // a letter touches the date
        {"120230708_223101.jpg", false},        // a digit touches the date
        {"2023-07-08_1.jpg", false},            // a date alone, then a counter
        {"IMG_20230708_22.jpg", false},
        {"DSC_19890708.JPG", false},            // a counter, not a date from 1990 on
        {"IMG_00231231.jpg", false},
        {"20230708.jpg", false},                // eight digits alone: a counter
        {"P20230708.jpg", false},               // a letter touches the digits
        {"Screen Shot 2023-07-08 at 13.31.01 PM.png", false},
        {"Screen Shot 2023-07-08 at 00.31.01 AM.png", false},
        {"Photo 31-02-2023, 22 31 01.jpg", false},
        {"DJI_20231308223101_0001.JPG", false},
        {"DJX_20230708223101_0001.JPG", false}, // fourteen digits only after DJI_
        {"mmexport631151999000.jpg", false},    // twelve digits
        {"mmexport0631151999000.jpg", false},   // 1989
        {"mmexport4133980800000.jpg", false},   // 2101
        {"xmmexport1688855461000.jpg", false},
        {"FB_IMG_16888554610001.jpg", false},   // fourteen digits
        {"IMG_1688855461000.jpg", false},       // milliseconds only after the apps' prefixes
        {"2023-07-08 22-31-01.jpg", false},     // mixed separators
        {"2023-07-08-22.31.01.jpg", false},     // mixed separators
        {"2023_07_08_22_31_01.jpg", false},     // not a form of these apps
        {"Screenshot_2023-07-08-22-31.png", false},
        {"IMG-20230708-WA001.jpg", false},   // three digits after WA
        {"IMG-20230708-WA00012.jpg", false}, // five digits after WA
        {"IMG-20230708-XY0001.jpg", false},
        {"DSC01234.JPG", false},
        {"1234567890123456.jpg", false},
        {"20230708223101.jpg", false},
        {"", false},
        {"_", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto date = engine::DateInFileName(c.name);
        ASSERT_EQ(date.has_value(), c.dated);
        if (!date)
            continue;
        EXPECT_EQ(date->year, c.year);
        EXPECT_EQ(date->month, c.month);
        EXPECT_EQ(date->day, c.day);
        EXPECT_EQ(date->hasClock, c.hasClock);
        EXPECT_EQ(date->hour, c.hour);
        EXPECT_EQ(date->minute, c.minute);
        EXPECT_EQ(date->second, c.second);
    }
    zone ? ::setenv("TZ", oldZone.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
}

} // namespace
