// The small readers of picture metadata: date texts as XMP, PNG and EXIF write them, TIFF
// blocks, and a PNG's "Creation Time" chunk.
#include "media/picture_tags.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string DateOf(const engine::ExifInfo& info)
{
    return info.HasDate ? info.Year4 + info.Month + info.Day + info.Hour + info.Minute + info.Second
                        : "";
}

std::span<const std::uint8_t> Bytes(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(PictureTagsTest, DateTextsAreTakenAsWrittenAndRangeChecked)
{
    const std::pair<const char*, const char*> cases[] = {
        {"2023-07-08T22:31:01", "20230708223101"},
        {"2023-07-08T22:31:01+02:00", "20230708223101"}, // the offset is never applied
        {"2023-07-08T22:31:01.123-0700", "20230708223101"},
        {"2023-07-08T22:31:01Z", "20230708223101"},
        {"2023-07-08T22:31", "20230708223100"},
        {"2023-07-08 22:31:01", "20230708223101"},
        {"2023:07:08 22:31:01", "20230708223101"},
        {"  2023-07-08T22:31:01\0", "20230708223101"},
        {"Sat, 08 Jul 2023 22:31:01 +0200", "20230708223101"},
        {"8 Jul 2023 22:31:01 GMT", "20230708223101"},
        {"2023-07-08", ""}, // a date without a clock
        {"2023-13-08T22:31:01", ""},
        {"2023-02-29T22:31:01", ""},
        {"2023-07-08T24:00:00", ""},
        {"2023-07-08T22:60:01", ""},
        {"2023-07-08T22:31:01 and more", ""},
        {"2023-07-08T22:31:01+2", ""},
        {"2023-07-08/22:31:01", ""},
        {"0999-07-08T22:31:01", ""},
        {"Sat, 31 Feb 2023 22:31:01", ""},
        {"Sat, 08 Foo 2023 22:31:01", ""},
        {"", ""},
    };
    for (const auto& [text, date] : cases) {
        SCOPED_TRACE(text);
        engine::ExifInfo info;
        EXPECT_EQ(media::TakeTextDate(text, info), *date != '\0');
        EXPECT_EQ(DateOf(info), date);
    }
    // EXIF texts: the engine's rules, then a valid date and clock.
    const std::pair<const char*, const char*> exif[] = {
        {"2023:07:08 22:31:01", "20230708223101"},
        {"2023:13:08 22:31:01", ""},
        {"2023:02:30 22:31:01", ""},
        {"2023:07:08 25:31:01", ""},
        {"2023:07:08 22:31", ""},
        {"0000:00:00 00:00:00", ""},
    };
    for (const auto& [text, date] : exif) {
        SCOPED_TRACE(text);
        engine::ExifInfo info;
        EXPECT_EQ(media::TakeValidExifDate(text, info), *date != '\0');
        EXPECT_EQ(DateOf(info), date);
    }
}

std::string Le16(unsigned v)
{
    return {static_cast<char>(v), static_cast<char>(v >> 8)};
}
std::string Le32(std::uint32_t v)
{
    return Le16(v & 0xFFFF) + Le16(v >> 16);
}
std::string Be32(std::uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

TEST(PictureTagsTest, TiffBlocksAndPngTexts)
{
    // IFD0: Make (inline, 4 bytes), DateTime, Exif pointer; Exif IFD: DateTimeOriginal; then an
    // entry whose value lies past the end.
    const std::string date = "2023:07:08 22:31:01";
    std::string tiff = "II" + Le16(42) + Le32(8);
    tiff += Le16(3) + Le16(0x010F) + Le16(2) + Le32(4) + "Abc" + std::string(1, '\0') +
            Le16(0x0132) + Le16(2) + Le32(20) + Le32(80) + Le16(0x8769) + Le16(4) + Le32(1) +
            Le32(50) + Le32(0);
    tiff += Le16(2) + Le16(0x9003) + Le16(2) + Le32(20) + Le32(100) + Le16(0x9004) + Le16(2) +
            Le32(20) + Le32(5000) + Le32(0);
    tiff += date + '\0' + "2020:01:01 00:00:00" + '\0';
    const media::TiffTags tags = media::ReadTiffTags(Bytes(tiff));
    EXPECT_EQ(tags.make, "Abc");
    EXPECT_EQ(tags.dateTime, date);
    EXPECT_EQ(tags.dateTimeOriginal, "2020:01:01 00:00:00");
    EXPECT_EQ(tags.dateTimeDigitized, ""); // outside the block
    for (std::size_t cut = 0; cut < tiff.size(); ++cut) // never reads outside
        media::ReadTiffTags(Bytes(tiff.substr(0, cut)));
    // An empty big-endian block.
    EXPECT_EQ(media::ReadTiffTags(Bytes("MM" + std::string("\0*", 2) + Be32(8) + std::string(2, '\0')))
                  .make,
              "");

    const auto chunk = [](const std::string& type, const std::string& data) {
        return Be32(static_cast<std::uint32_t>(data.size())) + type + data + "CRC!";
    };
    const std::string png = "\x89PNG\r\n\x1A\n" + chunk("IHDR", std::string(13, '\0'));
    const std::string key("Creation Time\0", 14);
    const std::pair<std::string, std::string> pngs[] = {
        {png + chunk("tEXt", key + date) + chunk("IDAT", ""), date},
        {png + chunk("iTXt", key + std::string("\0\0en\0\0", 6) + date) + chunk("IEND", ""), date},
        {png + chunk("iTXt", key + std::string("\1\0en\0\0", 6) + date), ""}, // compressed
        {png + chunk("tEXt", "Comment" + std::string(1, '\0') + date), ""},
        {png + chunk("IDAT", "") + chunk("tEXt", key + date), ""},   // after the image data
        {png + Be32(1000) + "tEXt" + key + date, ""},                // longer than the file
        {"\x89PNX\r\n\x1A\n" + chunk("tEXt", key + date), ""},
    };
    for (const auto& [file, text] : pngs)
        EXPECT_EQ(media::PngCreationTime(Bytes(file)), text);
}

} // namespace
