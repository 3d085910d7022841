#include "engine/dating/exif_reader.h"

#include <gtest/gtest.h>

#include "tests/support/exif_builder.h"
#include "tests/support/temp_folder.h"

namespace {

using engine::ExifInfo;
using engine::ParseExifHead;
using test::Bytes;
using test::TiffBuilder;

constexpr std::uint16_t kMake = 0x010F, kModel = 0x0110, kDateTime = 0x0132;
constexpr std::uint16_t kTaken = 0x9003, kDigitized = 0x9004;

ExifInfo Parse(const Bytes& bytes)
{
    return ParseExifHead(test::ToHead(bytes));
}

std::string Date(const ExifInfo& i)
{
    return i.Year4 + "|" + i.Year2 + "|" + i.Month + "|" + i.Day + "|" + i.Hour + "|" + i.Minute +
           "|" + i.Second;
}

TEST(ExifReaderTest, TakenDateInEitherByteOrderAndBothJpegLayouts)
{
    for (bool little : {true, false}) {
        const Bytes tiff = TiffBuilder(little).ExifAscii(kTaken, "2004:04:26 10:35:23").Build();
        for (const Bytes& jpeg : {test::JpegApp1(tiff), test::JpegApp0App1(tiff, 16)}) {
            const ExifInfo info = Parse(jpeg);
            EXPECT_TRUE(info.HasExif);
            ASSERT_TRUE(info.HasDate);
            EXPECT_EQ(Date(info), "2004|04|04|26|10|35|23");
        }
    }
}

TEST(ExifReaderTest, App0LengthPlacesTheExifBlock)
{
    const Bytes tiff = TiffBuilder().ExifAscii(kTaken, "2004:04:26 10:35:23").Build();
    const Bytes jpeg = test::JpegApp0App1(tiff, 16);
    ASSERT_EQ(jpeg[20], 0xFF);
    ASSERT_EQ(jpeg[21], 0xE1);
    ASSERT_EQ(jpeg[30], 'I'); // TIFF header at 30
    EXPECT_TRUE(Parse(jpeg).HasDate);
    // Lengths that put the next marker elsewhere or outside the head find nothing.
    for (std::uint16_t length : {0, 1, 2, 0xFFFF}) {
        Bytes broken = jpeg;
        broken[4] = static_cast<std::uint8_t>(length >> 8);
        broken[5] = static_cast<std::uint8_t>(length & 0xFF);
        EXPECT_FALSE(Parse(broken).HasExif) << length;
    }
}

TEST(ExifReaderTest, OnlyTheFirstSegmentOrTheOneAfterApp0IsSearched)
{
    const Bytes tiff = TiffBuilder().ExifAscii(kTaken, "2004:04:26 10:35:23").Build();
    // An APP1 with another identifier first, then the EXIF block.
    Bytes other = test::JpegApp1(Bytes(10, 0), "XMP ");
    Bytes exif = test::JpegApp1(tiff);
    other.insert(other.end(), exif.begin() + 2, exif.end());
    EXPECT_FALSE(Parse(other).HasExif);
    // The EXIF block after a quantisation table (FF DB) instead of APP0.
    Bytes dqt = test::JpegApp0App1(tiff, 16);
    dqt[3] = 0xDB;
    EXPECT_FALSE(Parse(dqt).HasExif);
    // Not a JPEG at all, and an empty head.
    EXPECT_FALSE(Parse(tiff).HasExif);
    EXPECT_FALSE(Parse(Bytes{}).HasExif);
}

TEST(ExifReaderTest, DateCandidatesAreTriedTakenDigitizedThenDateTime)
{
    const auto info = [](const std::string& taken, const std::string& digitized,
                         const std::string& dateTime, std::int64_t dateTimeCount = -1) {
        TiffBuilder b;
        b.Ascii(kDateTime, dateTime, dateTimeCount);
        if (!taken.empty())
            b.ExifAscii(kTaken, taken);
        if (!digitized.empty())
            b.ExifAscii(kDigitized, digitized);
        return Parse(test::JpegApp1(b.Build()));
    };
    EXPECT_EQ(info("2001:01:01 01:01:01", "2002:02:02 02:02:02", "2003:03:03 03:03:03").Year4,
              "2001");
    EXPECT_EQ(info("", "2002:02:02 02:02:02", "2003:03:03 03:03:03").Year4, "2002");
    EXPECT_EQ(info("0000:00:00 00:00:00", "                   ", "2003:03:03 03:03:03").Year4,
              "2003");
    // DateTime counts only with a count of 20.
    const ExifInfo noDate =
        info("0000:00:00 00:00:00", "                   ", "2003:03:03 03:03:03", 19);
    EXPECT_TRUE(noDate.HasExif);
    EXPECT_FALSE(noDate.HasDate);
    // Characters are stored as they stand; separators and ranges are not checked.
    EXPECT_EQ(Date(info("1999x99y99z99a99b99", "", "")), "1999|99|99|99|99|99|99");
}

TEST(ExifReaderTest, DatesThatCouldLeaveTheFolderOrBreakANameDoNotQualify)
{
    for (const std::string& bad : std::vector<std::string>{
             "2004:0/:26 10:35:23", "2004:04:2\\ 10:35:23", std::string("2004:04:26 10:3\0:23", 19),
             "2004:04:26\t10:35:2\n"}) {
        const Bytes tiff =
            TiffBuilder().Ascii(kDateTime, "2003:03:03 03:03:03").ExifAscii(kTaken, bad).Build();
        const ExifInfo info = Parse(test::JpegApp1(tiff));
        EXPECT_EQ(info.Year4, "2003") << bad;
    }
    // The separator positions themselves are not looked at.
    const Bytes tiff = TiffBuilder()
                           .ExifAscii(kTaken, "2004/04/26\x01"
                                              "10/35/23")
                           .Build();
    EXPECT_EQ(Date(Parse(test::JpegApp1(tiff))), "2004|04|04|26|10|35|23");
}

TEST(ExifReaderTest, OnlyTheFirstNineteenCharactersOfRepeatedDateTagsCount)
{
    const Bytes tiff = TiffBuilder()
                           .ExifAscii(kTaken, "2001:01:01 01:01:01")
                           .ExifAscii(kTaken, "2009:09:09 09:09:09")
                           .Build();
    EXPECT_EQ(Parse(test::JpegApp1(tiff)).Year4, "2001");
}

struct NameCase {
    const char* make; // nullptr: no Make tag
    const char* model;
    const char* name;
};

TEST(ExifReaderTest, CameraNameFromMakerAndModel)
{
    const NameCase cases[] = {
        {"ACME Corporation", "Z10", "ACME Z10"}, // the maker's first word only
        {"ACME", "ACME Z10", "ACME Z10"},        // model already holds the maker
        {"Acme", "  Z/1:0  ", "Acme Z10"},       // trimmed, invalid characters removed
        {"A*B", "x\\y<z>|\"?", "AB xyz"},        // all nine characters
        {"ACME", nullptr, "ACME "},              // maker only keeps its space
        {nullptr, nullptr, " "},                 // neither tag
        {" ACME", "Z10", "Z10"},                 // a maker starting with a space is empty
        {nullptr, "Z10", "Z10"},                 // empty maker is in every model
        {"CAN\x01ON", "EOS\tR", "CANON EOSR"},   // control characters removed
        {"Caf\xE9", "X", "Caf\xC3\xA9 X"},       // Latin-1 byte becomes U+00E9
    };
    for (const auto& c : cases) {
        TiffBuilder b;
        if (c.make)
            b.Ascii(kMake, c.make);
        if (c.model)
            b.Ascii(kModel, c.model);
        const ExifInfo info = Parse(test::JpegApp1(b.Build()));
        EXPECT_TRUE(info.HasExif);
        EXPECT_FALSE(info.HasDate);
        EXPECT_EQ(info.CameraName, c.name) << (c.make ? c.make : "-");
    }
}

TEST(ExifReaderTest, ModelStopsAtZeroByteAndMakeAtSpace)
{
    // Make: a zero byte does not stop it (and is then removed); Model: it does.
    const Bytes tiff = TiffBuilder()
                           .Ascii(kMake, std::string("AB\0CD EF", 8))
                           .Ascii(kModel, std::string("Z1\0Z2", 5))
                           .Build();
    EXPECT_EQ(Parse(test::JpegApp1(tiff)).CameraName, "ABCD Z1");
}

TEST(ExifReaderTest, CameraModelTagFollowsTheModelOption)
{
    const Bytes tiff = TiffBuilder().Ascii(kMake, "ACME").Ascii(kModel, "Z10").Build();
    const ExifInfo info = Parse(test::JpegApp1(tiff));
    engine::FileEntry e;
    e.Year4 = "1999";
    engine::RunOptions o;
    o.Model = 1;
    engine::ApplyExifInfo(info, e, o);
    EXPECT_EQ(e.CameraModel, "[ACME Z10]");
    EXPECT_EQ(e.Year4, "1999"); // no date in the head: the file time stays
    o.Model = 0;
    engine::ApplyExifInfo(info, e, o);
    EXPECT_EQ(e.CameraModel, "");
    // No EXIF data: nothing changes, even with Model 1.
    engine::FileEntry plain;
    o.Model = 1;
    engine::ApplyExifInfo(Parse(Bytes{'h', 'i'}), plain, o);
    EXPECT_EQ(plain.CameraModel, "");
}

TEST(ExifReaderTest, ByteOrderOtherThanIIOrMMMeansNoExif)
{
    Bytes jpeg = test::JpegApp1(TiffBuilder().ExifAscii(kTaken, "2004:04:26 10:35:23").Build());
    jpeg[13] = 'i'; // "Ii"
    const ExifInfo info = Parse(jpeg);
    EXPECT_FALSE(info.HasExif);
    EXPECT_FALSE(info.HasDate);
}

Bytes RawCameraFile(const std::string& model, bool withDate = true)
{
    TiffBuilder b(false);
    b.Ascii(kMake, "PENTAX");
    b.Ascii(kModel, model);
    if (withDate)
        b.Ascii(kDateTime, "2005:06:07 08:09:10");
    return b.Build();
}

TEST(ExifReaderTest, RawFileOfOneCameraIsReadWithTiffBaseZero)
{
    const ExifInfo info = Parse(RawCameraFile("PENTAX *ist D      "));
    EXPECT_TRUE(info.HasExif);
    EXPECT_EQ(info.CameraName, "PENTAX ist D");
    EXPECT_EQ(Date(info), "2005|05|06|07|08|09|10");
    // Any other model, the same one without its six spaces, or little-endian order: no EXIF.
    EXPECT_FALSE(Parse(RawCameraFile("PENTAX *ist D")).HasExif);
    EXPECT_FALSE(Parse(RawCameraFile("PENTAX *ist DS     ")).HasExif);
    Bytes little = TiffBuilder(true).Ascii(kModel, "PENTAX *ist D      ").Build();
    EXPECT_FALSE(Parse(little).HasExif);
}

TEST(ExifReaderTest, DataOutsideTheHeadOrTooLargeMeansNoExif)
{
    // A DateTimeOriginal offset past the head.
    Bytes tiff = TiffBuilder().ExifAscii(kTaken, "2004:04:26 10:35:23").Build();
    Bytes jpeg = test::JpegApp1(tiff);
    const auto setLong = [&](std::size_t pos, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            jpeg[pos + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    // The sub-IFD sits right after IFD0 (one entry): 12 + 8 + 2 + 12 + 4 = 38; its entry's
    // value field at 38 + 2 + 8.
    const std::size_t valueField = 12 + 8 + 2 + 12 + 4 + 2 + 8;
    for (std::uint32_t offset : {4990u - 12u, 5001u - 12u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        setLong(valueField, offset);
        const ExifInfo info = Parse(jpeg);
        EXPECT_FALSE(info.HasExif) << offset;
        EXPECT_EQ(info.CameraName, "") << offset;
    }
    // The same date placed so that its last character is byte 5000 is read.
    setLong(valueField, 5001 - 12 - 19);
    jpeg.resize(5001, 0);
    const std::string date = "2004:04:26 10:35:23";
    std::copy(date.begin(), date.end(), jpeg.begin() + (5001 - 19));
    EXPECT_EQ(Parse(jpeg).Year4, "2004");
    // An IFD0 offset of 2^31 or more, and counts of 0xFFFF running off the head.
    EXPECT_FALSE(Parse(test::JpegApp1(TiffBuilder().Ifd0Offset(0x80000000u).Build())).HasExif);
    Bytes many = test::JpegApp1(TiffBuilder().Ascii(kMake, "A").Build());
    many[12 + 8] = 0xFF;
    many[12 + 9] = 0xFF;
    EXPECT_FALSE(Parse(many).HasExif);
}

TEST(ExifReaderTest, OrderedReads)
{
    engine::HeadBuffer head{};
    head[0] = 0x12, head[1] = 0x34, head[2] = 0x56, head[3] = 0x78;
    EXPECT_EQ(engine::ReadOrderedWord(head, "II", 0), 0x3412);
    EXPECT_EQ(engine::ReadOrderedWord(head, "MM", 0), 0x1234);
    EXPECT_EQ(engine::ReadOrderedLong(head, "II", 0), 0x78563412);
    EXPECT_EQ(engine::ReadOrderedLong(head, "MM", 0), 0x12345678);
    EXPECT_EQ(engine::ReadOrderedLong(head, "XX", 4999), 0); // no byte read
    EXPECT_EQ(engine::ReadOrderedWord(head, "II", 4999), 0);
    EXPECT_FALSE(engine::ReadOrderedWord(head, "II", 5000));
    EXPECT_FALSE(engine::ReadOrderedWord(head, "II", -1));
    EXPECT_TRUE(engine::ReadOrderedLong(head, "II", 4997));
    EXPECT_FALSE(engine::ReadOrderedLong(head, "II", 4998));
    head[3] = 0x80;
    EXPECT_FALSE(engine::ReadOrderedLong(head, "II", 0)); // 0x80563412: 2^31 or more
    EXPECT_EQ(engine::ReadOrderedLong(head, "MM", 0), 0x12345680);
}

TEST(ExifReaderTest, ReadsOnlyTheHeadOfARealFile)
{
    test::TempFolder dir;
    const Bytes tiff =
        TiffBuilder().Ascii(kMake, "ACME").ExifAscii(kTaken, "2004:04:26 10:35:23").Build();
    Bytes jpeg = test::JpegApp1(tiff);
    jpeg.resize(20000, 0xAB); // a body far past the head
    test::WriteFile(dir / "a.jpg", test::ToString(jpeg));
    test::WriteFile(dir / "short", "\xFF\xD8"); // shorter than the head: zeros after it

    engine::FileEntry e;
    e.Year4 = "1999";
    engine::RunOptions o;
    o.Model = 1;
    ASSERT_FALSE(engine::ReadExifInfo((dir / "a.jpg").string(), e, o));
    EXPECT_EQ(e.Year4, "2004");
    EXPECT_EQ(e.CameraModel, "[ACME ]");

    engine::FileEntry s;
    s.Year4 = "1999";
    ASSERT_FALSE(engine::ReadExifInfo((dir / "short").string(), s, o));
    EXPECT_EQ(s.Year4, "1999");

    engine::FileEntry m;
    EXPECT_EQ(engine::ReadExifInfo((dir / "missing").string(), m, o),
              std::errc::no_such_file_or_directory);
}

} // namespace
