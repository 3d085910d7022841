// Capture dates of real files: pictures and videos made by the usual tools, raw layouts built
// byte by byte, and the same files cut short or spoilt.
#include "media/media_dates.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

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
std::string Box(const std::string& type, const std::string& body)
{
    return Be32(static_cast<std::uint32_t>(8 + body.size())) + type + body;
}

// A little-endian TIFF block as cameras write it: "II", magic, IFD0 offset, header bytes, then
// IFD0 (ASCII Make and Model, LONG Exif pointer when the Exif IFD is wanted), the Exif IFD
// (DateTimeOriginal) and the values.
std::string Tiff(const std::string& make, const std::string& model, const std::string& taken,
                 const std::string& magic = std::string("\x2a\0", 2),
                 const std::string& header = "")
{
    const std::size_t ifd0 = 8 + header.size();
    const bool hasExif = !taken.empty();
    const std::size_t ifd0Entries = 2 + (hasExif ? 1 : 0);
    const std::size_t exifIfd = ifd0 + 2 + 12 * ifd0Entries + 4;
    std::size_t data = exifIfd + (hasExif ? 2 + 12 + 4 : 0);
    std::string values;
    const auto ascii = [&](std::uint16_t tag, const std::string& text) {
        const std::string entry = Le16(tag) + Le16(2) +
                                  Le32(static_cast<std::uint32_t>(text.size() + 1)) +
                                  Le32(static_cast<std::uint32_t>(data + values.size()));
        values += text + '\0';
        return entry;
    };
    std::string out = "II" + magic + Le32(static_cast<std::uint32_t>(ifd0)) + header;
    out += Le16(static_cast<unsigned>(ifd0Entries)) + ascii(0x010F, make) + ascii(0x0110, model);
    if (hasExif)
        out += Le16(0x8769) + Le16(4) + Le32(1) + Le32(static_cast<std::uint32_t>(exifIfd));
    out += Le32(0);
    if (hasExif)
        out += Le16(1) + ascii(0x9003, taken) + Le32(0);
    return out + values;
}

std::string JpegWithExifAfterComment(const std::string& tiff)
{
    const std::string comment = "made by a scanner";
    return std::string("\xFF\xD8\xFF\xFE", 4) + Be32(2 + comment.size()).substr(2) + comment +
           "\xFF\xE1" + Be32(2 + 6 + tiff.size()).substr(2) + std::string("Exif\0\0", 6) + tiff +
           "\xFF\xD9";
}

// Fujifilm RAF: a header naming an embedded JPEG (with the EXIF data) and the raw data.
std::string Raf(const std::string& tiff)
{
    const std::string jpeg = std::string("\xFF\xD8\xFF\xE1", 4) +
                             Be32(2 + 6 + tiff.size()).substr(2) + std::string("Exif\0\0", 6) +
                             tiff + "\xFF\xD9";
    std::string raf = "FUJIFILMCCD-RAW 0201FF383501";
    raf.resize(84, '\0');
    const std::uint32_t at = 160, rawAt = at + static_cast<std::uint32_t>(jpeg.size());
    raf += Be32(at) + Be32(static_cast<std::uint32_t>(jpeg.size())) + Be32(rawAt) +
           Be32(static_cast<std::uint32_t>(tiff.size())) + Be32(rawAt) +
           Be32(static_cast<std::uint32_t>(tiff.size()));
    raf.resize(at, '\0');
    return raf + jpeg + tiff;
}

// Canon CR3: an ISO-BMFF file whose moov holds Canon's box with IFD0 (CMT1) and the Exif IFD
// (CMT2) as TIFF blocks.
std::string Cr3(const std::string& make, const std::string& model, const std::string& taken)
{
    const std::string canon = "\x85\xC0\xB6\x87\x82\x0F\x11\xE0\x81\x11\xF4\xCE\x46\x2B\x6A\x48";
    std::string exif = "II" + std::string("\x2a\0", 2) + Le32(8) + Le16(1) + Le16(0x9003) +
                       Le16(2) + Le32(static_cast<std::uint32_t>(taken.size() + 1)) + Le32(26) +
                       Le32(0) + taken + '\0';
    return Box("ftyp", "crx " + Be32(1) + "crx isom") +
           Box("moov", Box("uuid", canon + Box("CNCV", "CanonCR3_001/00.09.00/00.00.00") +
                                       Box("CMT1", Tiff(make, model, "")) + Box("CMT2", exif)));
}

bool Have(const char* tool)
{
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

// Makes the files of the tools in folder; returns the tools that are missing.
std::string MakeToolFiles(const fs::path& folder)
{
    std::string missing;
    for (const char* tool : {"convert", "exiftool", "heif-enc", "cwebp", "ffmpeg"})
        if (!Have(tool))
            missing += std::string(" ") + tool;
    if (!missing.empty())
        return missing;
    const std::string tags = "-DateTimeOriginal='2021:03:04 05:06:07' -Make=Acme -Model='Acme Z10'";
    const std::string video = "ffmpeg -loglevel error -y -f lavfi -i color=c=blue:s=176x144:d=0.1 ";
    const std::string script =
        "set -e; cd '" + folder.string() + "'; " +
        "convert -size 128x128 xc:red base.jpg; convert -size 128x128 xc:red base.png; "
        // heif-enc keeps the EXIF data of the JPEG it encodes.
        "exiftool -q -overwrite_original " +
        tags +
        " base.jpg; "
        "heif-enc -q 50 -o pic.heic base.jpg >/dev/null; heif-enc -A -o pic.avif base.jpg "
        ">/dev/null; "
        "cwebp -quiet base.png -o pic.webp; convert base.png pic.tif; cp base.png pic.png; "
        "exiftool -q -overwrite_original " +
        tags +
        " pic.png pic.webp pic.tif; "
        "for ext in nef arw dng pef nrw; do cp pic.tif pic.\\$ext; done; " +
        video + "-c:v mpeg4 -metadata creation_time=2020-01-02T03:04:05Z pic.mp4; " + video +
        "-c:v mpeg4 -metadata creation_time=2020-01-02T03:04:05Z pic.m4v; " + video +
        "-c:v h263 -metadata creation_time=2020-01-02T03:04:05Z pic.3gp; " + video +
        "-c:v mpeg4 -metadata creation_time=2020-01-02T03:04:05Z -movflags use_metadata_tags "
        "-metadata com.apple.quicktime.creationdate=2019-05-06T07:08:09+0200 "
        "-metadata com.apple.quicktime.make=Apple -metadata 'com.apple.quicktime.model=iPhone 12' "
        "pic.mov; rm base.jpg base.png";
    if (std::system(("sh -c \"" + script + "\" >/dev/null 2>&1").c_str()) != 0)
        return " (a tool failed)";
    return {};
}

void MakeByteFiles(const fs::path& folder)
{
    const std::string make = "Canon", model = "Canon EOS R5", taken = "2022:01:02 03:04:05";
    test::WriteFile(folder / "raw.cr2", Tiff(make, model, taken, std::string("\x2a\0", 2),
                                             std::string("CR\x02\0\0\0\0\0", 8)));
    test::WriteFile(folder / "raw.orf", Tiff(make, model, taken, "RO"));
    // Its directories 3 MB into the file, past the part a first reading looks at.
    test::WriteFile(folder / "late.tif",
                    Tiff(make, model, taken, std::string("\x2a\0", 2), std::string(3 << 20, '\0')));
    test::WriteFile(folder / "raw.rw2", Tiff(make, model, taken, std::string("\x55\0", 2)));
    test::WriteFile(folder / "raw.raf", Raf(Tiff(make, model, taken)));
    test::WriteFile(folder / "raw.cr3", Cr3(make, model, taken));
    test::WriteFile(folder / "scan.jpg", JpegWithExifAfterComment(Tiff(make, model, taken)));
}

std::string DateOf(const engine::ExifInfo& info)
{
    return info.HasDate ? info.Year4 + info.Month + info.Day + info.Hour + info.Minute + info.Second
                        : "";
}

class MediaDatesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeByteFiles(dir.path());
        missing = MakeToolFiles(dir.path());
    }
    test::TempFolder dir;
    std::string missing;
    media::MediaDateReader reader;
};

TEST_F(MediaDatesTest, EveryFormatGivesItsCaptureDateAndCamera)
{
    std::tm local{};
    const std::time_t when = 1577934245; // 2020-01-02 03:04:05 UTC, the videos' creation time
    ASSERT_NE(::localtime_r(&when, &local), nullptr);
    char videoDate[16];
    std::strftime(videoDate, sizeof videoDate, "%Y%m%d%H%M%S", &local);

    struct Case {
        const char* name;
        std::string date, camera;
        bool byTool;
    };
    const Case cases[] = {
        {"raw.cr2", "20220102030405", "Canon EOS R5", false},
        {"raw.orf", "20220102030405", "Canon EOS R5", false},
        {"late.tif", "20220102030405", "Canon EOS R5", false},
        {"raw.rw2", "20220102030405", "Canon EOS R5", false},
        {"raw.raf", "20220102030405", "Canon EOS R5", false},
        {"raw.cr3", "20220102030405", "Canon EOS R5", false},
        {"scan.jpg", "20220102030405", "Canon EOS R5", false},
        {"pic.heic", "20210304050607", "Acme Z10", true},
        {"pic.avif", "20210304050607", "Acme Z10", true},
        {"pic.png", "20210304050607", "Acme Z10", true},
        {"pic.webp", "20210304050607", "Acme Z10", true},
        {"pic.tif", "20210304050607", "Acme Z10", true},
        {"pic.nef", "20210304050607", "Acme Z10", true},
        {"pic.arw", "20210304050607", "Acme Z10", true},
        {"pic.dng", "20210304050607", "Acme Z10", true},
        {"pic.pef", "20210304050607", "Acme Z10", true},
        {"pic.nrw", "20210304050607", "Acme Z10", true},
        {"pic.mp4", videoDate, "", true},
        {"pic.m4v", videoDate, "", true},
        {"pic.3gp", videoDate, "", true},
        {"pic.mov", "20190506070809", "Apple iPhone 12", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.byTool && !missing.empty())
            continue;
        const engine::ExifInfo info = reader.ReadDates((dir / c.name).string());
        EXPECT_EQ(DateOf(info), c.date);
        EXPECT_EQ(info.HasExif, !c.camera.empty());
        EXPECT_EQ(info.CameraName, c.camera);
    }
    if (!missing.empty())
        GTEST_SKIP() << "the byte-built files passed; tool-made files need:" << missing;
}

TEST_F(MediaDatesTest, CutAndSpoiltFilesGiveNoDate)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        files.push_back(entry.path());
    for (const fs::path& file : files) {
        const std::string bytes = test::ReadFile(file);
        const std::string name = file.filename().string();
        // The head alone; the head and noise; everything but the last third, with its
        // directories and boxes pointing past the end; the same with noise over the end.
        const std::pair<std::string, std::string> spoilt[] = {
            {"head-", bytes.substr(0, 24)},
            {"noise-", bytes.substr(0, 16) + std::string(4000, '\xFF')},
            {"zeros-", bytes.substr(0, 12) + std::string(bytes.size(), '\0')},
        };
        for (const auto& [prefix, content] : spoilt) {
            SCOPED_TRACE(prefix + name);
            test::WriteFile(dir / (prefix + name), content);
            EXPECT_EQ(DateOf(reader.ReadDates((dir / (prefix + name)).string())), "");
        }
        // Cut anywhere: may or may not keep its date, never more than that.
        for (std::size_t cut = 1; cut < bytes.size(); cut += 1 + bytes.size() / 97) {
            test::WriteFile(dir / ("cut-" + name), bytes.substr(0, cut));
            const engine::ExifInfo info = reader.ReadDates((dir / ("cut-" + name)).string());
            EXPECT_TRUE(DateOf(info).empty() || DateOf(info).size() == 14) << name << " " << cut;
        }
    }
}

TEST_F(MediaDatesTest, OnlyRegularFilesAreOpenedAndNothingBlocks)
{
    ASSERT_EQ(::mkfifo((dir / "fifo.mov").c_str(), 0600), 0); // no writer: a blocking open hangs
    fs::create_directory(dir / "folder.heic");
    fs::create_symlink(dir / "raw.cr3", dir / "link.cr3");
    test::WriteFile(dir / "empty.mp4", "");
    for (const char* name : {"fifo.mov", "folder.heic", "missing.heic", "empty.mp4"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(DateOf(reader.ReadDates((dir / name).string())), "");
    }
    // A link stands for its file.
    EXPECT_EQ(DateOf(reader.ReadDates((dir / "link.cr3").string())), "20220102030405");
}

} // namespace
