// The EXIF reader against hostile heads: offsets and counts far outside the head, IFD loops,
// broken APP0 lengths, path and control characters in dates and camera names, long and
// non-ASCII texts, and every truncation of real-looking heads. Whatever the bytes, the reader
// keeps its promises: no crash, no read outside the head, and nothing it hands on can steer a
// path outside the destination or put a control character into a name.
#include "engine/dating/exif_reader.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "engine/storing/dest_folder.h"
#include "tests/support/exif_builder.h"
#include "tests/support/temp_folder.h"

namespace {

using engine::ExifInfo;
using test::Bytes;
using test::TiffBuilder;

constexpr std::uint16_t kMake = 0x010F, kModel = 0x0110, kDateTime = 0x0132;
constexpr std::uint16_t kExifIfd = 0x8769, kTaken = 0x9003, kDigitized = 0x9004;
constexpr const char* kDate = "2004:04:26 10:35:23";

ExifInfo Parse(const Bytes& bytes)
{
    return engine::ParseExifHead(test::ToHead(bytes));
}

// Decodes UTF-8; false when the text is not valid UTF-8.
bool CodePoints(const std::string& text, std::vector<char32_t>& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t n = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : 0;
        if (n == 0 || i + n > text.size())
            return false;
        char32_t cp = n == 1 ? lead : n == 2 ? (lead & 0x1F) : (lead & 0x0F);
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        out.push_back(cp);
        i += n;
    }
    return true;
}

bool IsControl(char32_t cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

// Every promise the reader makes about one result; an empty text when all hold.
std::string BrokenPromise(const ExifInfo& info)
{
    const bool datesEmpty = info.Year4.empty() && info.Year2.empty() && info.Month.empty() &&
                            info.Day.empty() && info.Hour.empty() && info.Minute.empty() &&
                            info.Second.empty();
    if (!info.HasExif && (info.HasDate || !info.CameraName.empty() || !datesEmpty))
        return "a result without EXIF data holds something";
    if (!info.HasDate && !datesEmpty)
        return "date fields without a date";
    std::vector<char32_t> cps;
    if (!CodePoints(info.CameraName, cps))
        return "camera name is not UTF-8";
    for (const char32_t cp : cps) {
        if (IsControl(cp))
            return "control character in the camera name";
        for (const char bad : engine::InvalidNameChars)
            if (cp == static_cast<unsigned char>(bad))
                return std::string("'") + bad + "' in the camera name";
    }
    if (!info.HasDate)
        return {};
    const std::pair<const std::string*, std::size_t> fields[] = {
        {&info.Year4, 4}, {&info.Year2, 2},  {&info.Month, 2}, {&info.Day, 2},
        {&info.Hour, 2},  {&info.Minute, 2}, {&info.Second, 2}};
    for (const auto& [field, length] : fields) {
        if (!CodePoints(*field, cps) || cps.size() != length)
            return "date field \"" + *field + "\" is not " + std::to_string(length) +
                   " characters of UTF-8";
        for (const char32_t cp : cps)
            if (cp == '/' || cp == '\\' || IsControl(cp))
                return "path separator or control character in date field \"" + *field + "\"";
    }
    if (info.Year4.substr(info.Year4.size() - info.Year2.size()) != info.Year2)
        return "Year2 is not the end of Year4";
    // No folder pattern can name the base itself or its parent.
    engine::FileEntry entry;
    entry.Year4 = info.Year4, entry.Year2 = info.Year2, entry.Month = info.Month;
    entry.Day = info.Day;
    for (const int pattern : {1, 3, 4, 5, 7}) {
        const std::string folder = engine::DateFolder("", pattern, entry).substr(1);
        if (folder == "." || folder == ".." || folder.find('/') != std::string::npos)
            return "date folder \"" + folder + "\" is no plain name";
    }
    return {};
}

#define EXPECT_PROMISES(info) EXPECT_EQ(BrokenPromise(info), "")

// A little-endian JPEG with maker, model, DateTime and both Exif dates: the usual camera head.
Bytes CameraHead(bool littleEndian = true, bool app0 = false)
{
    const Bytes tiff = TiffBuilder(littleEndian)
                           .Ascii(kMake, "ACME Corporation")
                           .Ascii(kModel, "Z10 Mark II")
                           .Ascii(kDateTime, "2001:01:01 01:01:01")
                           .ExifAscii(kTaken, kDate)
                           .ExifAscii(kDigitized, "2003:03:03 03:03:03")
                           .Build();
    return app0 ? test::JpegApp0App1(tiff) : test::JpegApp1(tiff);
}

void PutLong(Bytes& bytes, std::size_t pos, std::uint32_t value) // little-endian
{
    for (int i = 0; i < 4; ++i)
        bytes[pos + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

TEST(ExifHostileTest, OffsetsAndCountsOutsideTheHeadMeanNoExif)
{
    for (const std::uint32_t value : {5001u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(value);
        const Bytes heads[] = {
            test::JpegApp1(TiffBuilder().Ifd0Offset(value).ExifAscii(kTaken, kDate).Build()),
            test::JpegApp1(TiffBuilder().Raw(kMake, 5, value).ExifAscii(kTaken, kDate).Build()),
            test::JpegApp1(TiffBuilder().Raw(kModel, 5, value).ExifAscii(kTaken, kDate).Build()),
            test::JpegApp1(TiffBuilder().Raw(kDateTime, 20, value).Build()),
            test::JpegApp1(TiffBuilder().Raw(kExifIfd, 1, value).Build()),
        };
        for (const Bytes& head : heads) {
            const ExifInfo info = Parse(head);
            EXPECT_PROMISES(info);
            EXPECT_FALSE(info.HasExif) << &head - heads;
        }
    }
    // Counts of 2^31 or more, in any tag the reader looks at.
    for (const std::uint32_t count : {0x80000000u, 0xFFFFFFFFu})
        for (const std::uint16_t tag : {kMake, kModel, kDateTime, kExifIfd}) {
            const ExifInfo info = Parse(
                test::JpegApp1(TiffBuilder().ExifAscii(kTaken, kDate).Raw(tag, count, 8).Build()));
            EXPECT_PROMISES(info);
            EXPECT_FALSE(info.HasExif) << tag << " " << count;
        }
    // A model whose count is far too large still ends at its zero byte; a maker, which ends at
    // a space only, runs off the head.
    EXPECT_EQ(
        Parse(test::JpegApp1(TiffBuilder().Ascii(kModel, "Z10", 0x7FFFFFFF).Build())).CameraName,
        "Z10");
    EXPECT_FALSE(
        Parse(test::JpegApp1(TiffBuilder().Ascii(kMake, "ACME", 0x7FFFFFFF).Build())).HasExif);
}

TEST(ExifHostileTest, EntryCountsOf0xFFFFRunOffTheHead)
{
    // IFD0 count at 12 + 8; the Exif sub-IFD count right after IFD0 (one entry).
    Bytes ifd0 = test::JpegApp1(TiffBuilder().ExifAscii(kTaken, kDate).Build());
    ifd0[20] = ifd0[21] = 0xFF;
    EXPECT_FALSE(Parse(ifd0).HasExif);
    Bytes exif = test::JpegApp1(TiffBuilder().ExifAscii(kTaken, kDate).Build());
    const std::size_t exifCount = 12 + 8 + 2 + 12 + 4;
    exif[exifCount] = exif[exifCount + 1] = 0xFF;
    const ExifInfo info = Parse(exif);
    EXPECT_PROMISES(info);
    EXPECT_FALSE(info.HasExif);
}

TEST(ExifHostileTest, IfdLoopsEndWithoutHanging)
{
    // The Exif pointer leads back to IFD0 (offset 8): its entries are read as Exif entries.
    Bytes back = test::JpegApp1(TiffBuilder().Ascii(kModel, "Loop").Raw(kExifIfd, 1, 8).Build());
    ExifInfo info = Parse(back);
    EXPECT_PROMISES(info);
    EXPECT_TRUE(info.HasExif);
    EXPECT_EQ(info.CameraName, "Loop");
    EXPECT_FALSE(info.HasDate);
    // The Exif pointer leads to its own entry, and IFD0 starts at the TIFF header itself.
    Bytes self = test::JpegApp1(TiffBuilder().Raw(kExifIfd, 1, 8).Build());
    EXPECT_PROMISES(Parse(self));
    Bytes header = test::JpegApp1(TiffBuilder().Ifd0Offset(0).ExifAscii(kTaken, kDate).Build());
    EXPECT_PROMISES(Parse(header));
    EXPECT_FALSE(Parse(header).HasExif); // "II" read as a count of 0x4949 entries
    // The next-IFD offset pointing back at IFD0 is never followed.
    Bytes next = test::JpegApp1(TiffBuilder().ExifAscii(kTaken, kDate).Build());
    PutLong(next, 12 + 8 + 2 + 12, 8);
    EXPECT_EQ(Parse(next).Year4, "2004");
}

TEST(ExifHostileTest, App0LengthsZeroOneAndMaximum)
{
    const Bytes tiff = TiffBuilder().ExifAscii(kTaken, kDate).Build();
    for (const std::uint16_t length : {0, 1, 0xFFFF}) {
        const ExifInfo info = Parse(test::JpegApp0App1(tiff, length));
        EXPECT_PROMISES(info);
        EXPECT_FALSE(info.HasExif) << length; // the APP1 is not where the length says
    }
    EXPECT_EQ(Parse(test::JpegApp0App1(tiff, 2)).Year4, "2004"); // an empty APP0
}

TEST(ExifHostileTest, DatesWithPathDotOrControlCharactersDoNotQualify)
{
    // Each bad date is the DateTimeOriginal; the DigitizedDate behind it is good.
    const std::string bad[] = {
        std::string("2004:04:2\0 10:35:23", 19),
        std::string("\0"
                    "004:04:26 10:35:23",
                    19),
        "2004:0/:26 10:35:23",
        "2004:04:26 10:3/:23",
        "2004:04:26 10:35:\\3",
        "2004:04:26 10:35:2\x1b",
        "2004:04:26 10:35:2\x7f",
        "2004:04:26 1\x85:35:23", // Latin-1 C1 controls: NEL and CSI
        "2004:04:\x9b"
        "6 10:35:23",
        "1...:..:.. ..:..:..", // would make a folder "......" that file managers hide
        "2004:../26 ../35:23",
        "2004:04:26 10:35:2.",
    };
    for (const std::string& date : bad) {
        const Bytes tiff = TiffBuilder()
                               .ExifAscii(kTaken, date)
                               .ExifAscii(kDigitized, "2003:03:03 03:03:03")
                               .Build();
        const ExifInfo info = Parse(test::JpegApp1(tiff));
        EXPECT_PROMISES(info);
        EXPECT_EQ(info.Year4, "2003") << date;
    }
    // Letters and bytes above 0x9F are no path separators (nor is a "/" where the date has its
    // separators): such a date is taken as it is, and still makes plain folder names.
    ExifInfo info;
    const Bytes high =
        TiffBuilder().ExifAscii(kTaken, "2\xff\xfe\xe9:\xa0\xc0:26 10:35:23").Build();
    info = Parse(test::JpegApp1(high));
    EXPECT_PROMISES(info);
    EXPECT_EQ(info.Year4, "2\xC3\xBF\xC3\xBE\xC3\xA9");
    EXPECT_EQ(info.Month, "\xC2\xA0\xC3\x80");
}

TEST(ExifHostileTest, CameraNamesLoseSeparatorsAndControlCharacters)
{
    struct Case {
        std::string make, model, name;
    };
    const Case cases[] = {
        {"../../etc", "../../../tmp/x", "....etc ......tmpx"},
        {"A", std::string("Z\0/../x", 7), "A Z"},   // the model ends at its zero byte
        {std::string("AB\0/CD", 6), "Z", "ABCD Z"}, // the maker does not
        {"A", "B\x01\n\r\x1b[31m\x7f", "A B[31m"},
        {"A", "Euro\x80 Next\x85 CSI\x9b end", "A Euro Next CSI end"},
        {"A", "caf\xe9 \xff", "A caf\xC3\xA9 \xC3\xBF"},
    };
    for (const Case& c : cases) {
        const Bytes tiff = TiffBuilder().Ascii(kMake, c.make).Ascii(kModel, c.model).Build();
        const ExifInfo info = Parse(test::JpegApp1(tiff));
        EXPECT_PROMISES(info);
        EXPECT_EQ(info.CameraName, c.name) << c.model;
    }
}

TEST(ExifHostileTest, LongTextsAndEveryByteValue)
{
    // 300 characters of model: all kept (a name made with it is refused by the file system
    // later, and the run stops there cleanly).
    const std::string longModel(300, 'M');
    ExifInfo info = Parse(test::JpegApp1(TiffBuilder().Ascii(kModel, longModel).Build()));
    EXPECT_PROMISES(info);
    EXPECT_EQ(info.CameraName, longModel);
    // A 300-character date: its first 19 characters count.
    info = Parse(test::JpegApp1(
        TiffBuilder().ExifAscii(kTaken, std::string(kDate) + std::string(281, '9')).Build()));
    EXPECT_EQ(info.Year4 + info.Second, "200423");
    // A model of every byte 1..255 and a maker of every byte 0xFF..0x80.
    std::string every, high;
    for (int b = 1; b < 256; ++b)
        every += static_cast<char>(b);
    for (int b = 255; b >= 0x80; --b)
        high += static_cast<char>(b);
    info = Parse(test::JpegApp1(TiffBuilder().Ascii(kMake, high).Ascii(kModel, every).Build()));
    EXPECT_PROMISES(info);
    EXPECT_TRUE(info.HasExif);
    std::vector<char32_t> cps;
    ASSERT_TRUE(CodePoints(info.CameraName, cps));
    // The maker without the 32 C1 controls, a space, the model without 31 C0 controls, DEL,
    // the C1 controls and the nine characters no name may hold.
    EXPECT_EQ(cps.size(), std::size_t{96 + 1 + 182});
}

// Sample heads: the usual layouts, a raw file, and the fuzzer's seeds where the tree has them.
std::vector<std::pair<std::string, Bytes>> SampleHeads()
{
    std::vector<std::pair<std::string, Bytes>> samples = {
        {"little-endian APP1", CameraHead(true)},
        {"big-endian APP1", CameraHead(false)},
        {"APP0 then APP1", CameraHead(true, true)},
        {"raw", TiffBuilder(false)
                    .Ascii(kMake, "PENTAX")
                    .Ascii(kModel, "PENTAX *ist D      ")
                    .Ascii(kDateTime, "2005:06:07 08:09:10")
                    .Build()},
    };
    // The Model entry of the raw head is only looked at with its terminating zero byte.
    const std::filesystem::path seeds =
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz/seeds";
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(seeds, ignored)) {
        const std::string bytes = test::ReadFile(entry.path());
        samples.emplace_back(entry.path().filename().string(), Bytes(bytes.begin(), bytes.end()));
    }
    return samples;
}

TEST(ExifHostileTest, EveryTruncationOfSampleHeadsKeepsThePromises)
{
    for (const auto& [name, full] : SampleHeads()) {
        SCOPED_TRACE(name);
        const ExifInfo whole = Parse(full);
        for (std::size_t length = 0; length <= engine::HeadBufferSize; ++length) {
            const Bytes cut(full.begin(),
                            full.begin() + static_cast<long>(std::min(length, full.size())));
            const ExifInfo info = Parse(cut);
            ASSERT_EQ(BrokenPromise(info), "") << "cut at " << length;
            if (length >= full.size()) {
                ASSERT_EQ(info.HasDate, whole.HasDate) << length;
                ASSERT_EQ(info.Year4 + info.Month + info.Day + info.Hour + info.Minute +
                              info.Second,
                          whole.Year4 + whole.Month + whole.Day + whole.Hour + whole.Minute +
                              whole.Second);
                ASSERT_EQ(info.CameraName, whole.CameraName);
            }
            // The TIFF header alone promises nothing yet.
            if (length < 16) {
                ASSERT_FALSE(info.HasDate) << length;
            }
        }
    }
    // The usual head cut inside its taken date falls back to a later candidate, never to a
    // broken date.
    const Bytes head = CameraHead();
    const ExifInfo whole = Parse(head);
    ASSERT_EQ(whole.Year4, "2004");
    const std::string bytes = test::ToString(head);
    const std::size_t taken = bytes.find(kDate);
    ASSERT_NE(taken, std::string::npos);
    for (std::size_t cut = taken; cut < taken + 19; ++cut) {
        const ExifInfo info = Parse(Bytes(head.begin(), head.begin() + static_cast<long>(cut)));
        EXPECT_NE(info.Year4, "2004") << cut;
        EXPECT_PROMISES(info);
    }
}

TEST(ExifHostileTest, TruncatedFilesOnDiskReadLikeTheirZeroFilledHeads)
{
    const Bytes head = CameraHead();
    test::TempFolder dir;
    for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{12},
                                     std::size_t{60}, head.size() - 1, head.size()}) {
        const auto path = dir / ("cut" + std::to_string(length));
        test::WriteFile(
            path, test::ToString(Bytes(head.begin(), head.begin() + static_cast<long>(length))));
        engine::HeadBuffer fromDisk;
        ASSERT_FALSE(engine::ReadHead(path.string(), fromDisk));
        EXPECT_EQ(fromDisk,
                  test::ToHead(Bytes(head.begin(), head.begin() + static_cast<long>(length))));
    }
}

} // namespace
