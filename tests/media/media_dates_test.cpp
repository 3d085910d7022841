// Capture dates of real files: pictures and videos made by the usual tools, raw layouts built
// byte by byte, and the same files cut short or spoilt.
#include "media/media_dates.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
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

std::string BeN(std::uint64_t v, int bytes)
{
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>(v >> (8 * i));
    return out;
}
std::string FullBox(const std::string& type, int version, const std::string& body)
{
    return Box(type, BeN(static_cast<std::uint64_t>(version) << 24, 4) + body);
}

// One layout of a HEIF or AVIF still: an av01 image (item 1, never decoded), its Exif item (2)
// and an XMP item (3), placed by an item location table of the given shape.
struct HeifLayout {
    const char* name;
    std::string major = "heic";
    int ilocVersion = 0, offsetSize = 4, lengthSize = 4, baseSize = 0;
    bool relative = false; // extents relative to a base offset at the data's start
    int exifExtents = 1, imageExtents = 1;
    int infeVersion = 2;
    std::string exifOffsetField = {}; // the Exif item's first 4 bytes; empty: the right one
    std::string tiff = {};            // empty: no Exif item
    std::string xmp = {};             // empty: no XMP item
    std::size_t imageBytes = 64, exifPadding = 0;
};

std::string Heif(const HeifLayout& l)
{
    struct Item {
        int id;
        std::string type, content, data;
        int extents;
    };
    std::vector<Item> items = {{1, "av01", "", std::string(l.imageBytes, 'P'), l.imageExtents}};
    if (!l.tiff.empty()) {
        const std::string field = l.exifOffsetField.empty() ? BeN(6, 4) : l.exifOffsetField;
        items.push_back({2, "Exif", "", field + std::string("Exif\0\0", 6) + l.tiff +
                                        std::string(l.exifPadding, '\0'), l.exifExtents});
    }
    if (!l.xmp.empty())
        items.push_back({3, "mime", "application/rdf+xml", l.xmp, 1});
    const auto meta = [&](std::uint64_t dataStart, std::string& mdat) {
        // The extents of every item, each item's pieces stored in reverse order so that only a
        // reader that follows the extents finds the bytes.
        std::string iloc = std::string(1, static_cast<char>(l.offsetSize << 4 | l.lengthSize)) +
                           std::string(1, static_cast<char>(l.baseSize << 4)) +
                           BeN(items.size(), l.ilocVersion < 2 ? 2 : 4);
        mdat.clear();
        std::string iinf, iref;
        for (const Item& item : items) {
            const std::size_t piece = item.data.size() / item.extents;
            std::vector<std::uint64_t> at(item.extents);
            for (int e = item.extents - 1; e >= 0; --e) {
                at[e] = mdat.size();
                const std::size_t from = e * piece;
                mdat += item.data.substr(from, e == item.extents - 1 ? std::string::npos : piece);
            }
            iloc += BeN(item.id, l.ilocVersion < 2 ? 2 : 4);
            if (l.ilocVersion > 0)
                iloc += BeN(0, 2); // construction method 0: in the file
            iloc += BeN(0, 2) + BeN(l.relative ? dataStart : 0, l.baseSize) + BeN(item.extents, 2);
            for (int e = 0; e < item.extents; ++e) {
                const std::size_t length = e == item.extents - 1 ? item.data.size() - e * piece : piece;
                iloc += BeN(l.relative ? at[e] : dataStart + at[e], l.offsetSize) + BeN(length, l.lengthSize);
            }
            iinf += FullBox("infe", l.infeVersion,
                            BeN(item.id, l.infeVersion == 3 ? 4 : 2) + BeN(0, 2) + item.type +
                                std::string(1, '\0') +
                                (item.content.empty() ? "" : item.content + std::string(1, '\0')));
            if (item.id != 1)
                iref += Box("cdsc", BeN(item.id, 2) + BeN(1, 2) + BeN(1, 2));
        }
        return FullBox(
            "meta", 0,
            FullBox("hdlr", 0, BeN(0, 4) + "pict" + std::string(13, '\0')) +
                FullBox("pitm", 0, BeN(1, 2)) + FullBox("iloc", l.ilocVersion, iloc) +
                FullBox("iinf", 0, BeN(items.size(), 2) + iinf) + FullBox("iref", 0, iref) +
                Box("iprp", Box("ipco", Box("av1C", std::string("\x81\x00\x0C\x00", 4)) +
                                            FullBox("ispe", 0, BeN(64, 4) + BeN(64, 4))) +
                                FullBox("ipma", 0, BeN(1, 4) + BeN(1, 2) + "\x02\x81\x02")));
    };
    const std::string ftyp = Box("ftyp", l.major + BeN(0, 4) + "mif1" + l.major);
    std::string mdat;
    const std::uint64_t dataStart = ftyp.size() + meta(0, mdat).size() + 8;
    const std::string box = meta(dataStart, mdat);
    return ftyp + box + Box("mdat", mdat);
}

std::string Xmp(const std::string& properties)
{
    return "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
           "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
           "<rdf:Description rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/' "
           "xmlns:exif='http://ns.adobe.com/exif/1.0/' "
           "xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/' " +
           properties + "/></rdf:RDF></x:xmpmeta><?xpacket end='r'?>";
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
        "pic.mov; "
        // Dates added afterwards by a metadata tool, dates in XMP alone (beside an IFD0
        // modification date), a PNG's Creation Time text.
        "convert -size 128x128 xc:blue plain.jpg; heif-enc -q 50 -o later.heic plain.jpg >/dev/null; "
        "cp later.heic xmp.heic; cp plain.jpg xmp.jpg; convert plain.jpg xmp.png; "
        "convert plain.jpg xmp.tif; cwebp -quiet xmp.png -o xmp.webp; cp xmp.png created.png; "
        "exiftool -q -overwrite_original " + tags + " later.heic; "
        "exiftool -q -overwrite_original -XMP-xmp:CreateDate='2022:05:06 07:08:09+02:00' "
        "-IFD0:ModifyDate='2001:01:01 01:01:01' xmp.heic xmp.jpg xmp.tif; "
        "exiftool -q -overwrite_original -XMP-exif:DateTimeOriginal='2022:05:06 07:08:09-07:00' "
        "xmp.png; "
        "exiftool -q -overwrite_original -XMP-photoshop:DateCreated='2022:05:06 07:08:09' "
        "xmp.webp; "
        "exiftool -q -overwrite_original -PNG:CreationTime='2022:05:06 07:08:09' created.png; "
        "rm base.jpg base.png plain.jpg";
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
    // A broken box after the movie box: exiv2 refuses the file; the CMT boxes are intact.
    test::WriteFile(folder / "broken.cr3",
                    Cr3(make, model, taken) + Be32(0x7FFFFFF0) + "uuid" + std::string(40, 'p'));
    // HEIF layouts: item location tables of every version and width, base offsets, items in
    // several extents, brands that are not the usual ones, XMP alone, a wrong Exif offset.
    const std::string tiff = Tiff(make, model, taken);
    const std::string xmp = Xmp("xmp:CreateDate='2023-07-08T22:31:01+02:00'");
    const HeifLayout layouts[] = {
        {"heif-v0.heic"},
        {"heif-v1.heic", "heic", 1},
        {"heif-v2.heic", "heic", 2, 4, 4, 0, false, 1, 1, 3},
        {"heif-base0.heic", "heic", 1, 4, 4, 4},
        {"heif-base.heic", "heic", 1, 4, 4, 4, true},
        {"heif-wide.heic", "heic", 2, 8, 8, 8, true},
        {"heif-exif2.heic", "heic", 1, 4, 4, 0, false, 2},
        {"heif-tile2.heic", "heic", 0, 4, 4, 0, false, 1, 2},
        {"heif-brand.heic", "heif"},
        {"heif-mihb.heic", "MiHB"},
        {"avif-v1.avif", "avif", 1},
        {"heif-offset.heic", "heic", 0, 4, 4, 0, false, 1, 1, 2, std::string("\0\0\0\x40", 4)},
        {"heif-xmp.heic", "heic", 0, 4, 4, 0, false, 1, 1, 2, "", "", xmp},
        {"heif-both.heic", "heic", 0, 4, 4, 0, false, 1, 1, 2, "", tiff, xmp},
        // Large items beyond the head: the image's reads skipped, the Exif item's done.
        {"heif-large.heic", "heic", 1, 4, 4, 0, false, 1, 2, 2, "", tiff, "", 300000},
        {"heif-largeexif.heic", "heic", 1, 4, 4, 0, false, 2, 2, 2, "", tiff, "", 300000, 20000},
    };
    for (HeifLayout layout : layouts) {
        if (std::string(layout.name) != "heif-xmp.heic")
            layout.tiff = tiff;
        test::WriteFile(folder / layout.name, Heif(layout));
    }
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
        {"broken.cr3", "20220102030405", "Canon EOS R5", false},
        {"heif-v0.heic", "20220102030405", "Canon EOS R5", false},
        {"heif-v1.heic", "20220102030405", "Canon EOS R5", false},
        {"heif-v2.heic", "20220102030405", "Canon EOS R5", false},
        {"heif-base0.heic", "20220102030405", "Canon EOS R5", false},
        {"heif-base.heic", "20220102030405", "Canon EOS R5", false},
        {"heif-wide.heic", "20220102030405", "Canon EOS R5", false},
        {"heif-exif2.heic", "20220102030405", "Canon EOS R5", false},
        {"heif-tile2.heic", "20220102030405", "Canon EOS R5", false},
        {"heif-brand.heic", "20220102030405", "Canon EOS R5", false},
        {"heif-mihb.heic", "20220102030405", "Canon EOS R5", false},
        {"avif-v1.avif", "20220102030405", "Canon EOS R5", false},
        {"heif-offset.heic", "20220102030405", "Canon EOS R5", false},
        {"heif-xmp.heic", "20230708223101", "", false},       // the offset is not applied
        {"heif-both.heic", "20220102030405", "Canon EOS R5", false}, // EXIF's original first
        {"heif-large.heic", "20220102030405", "Canon EOS R5", false},
        {"heif-largeexif.heic", "20220102030405", "Canon EOS R5", false},
        {"later.heic", "20210304050607", "Acme Z10", true},
        {"xmp.heic", "20220506070809", "", true},
        {"xmp.jpg", "20220506070809", "", true}, // not IFD0's modification date
        {"xmp.tif", "20220506070809", "", true},
        {"xmp.png", "20220506070809", "", true},
        {"xmp.webp", "20220506070809", "", true},
        {"created.png", "20220506070809", "", true},
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

TEST_F(MediaDatesTest, DeepNestingIsRefusedBeforeTheLibrariesAndCostsLittle)
{
    // 20,000 nested boxes, about 480 KB: Canon's uuid in a CR3, meta/iprp in a HEIC; and a
    // dated CR3 whose last box nests 40 deep: its CMT boxes still date it.
    const std::string canon = "\x85\xC0\xB6\x87\x82\x0F\x11\xE0\x81\x11\xF4\xCE\x46\x2B\x6A\x48";
    const auto nest = [](const std::string& type, const std::string& head, int levels) {
        std::string out;
        std::size_t size = levels * (8 + head.size());
        for (int i = 0; i < levels; ++i, size -= 8 + head.size())
            out += Be32(static_cast<std::uint32_t>(size)) + type + head;
        return out;
    };
    test::WriteFile(dir / "nested.cr3", Box("ftyp", "crx " + Be32(1)) + nest("uuid", canon, 20000));
    test::WriteFile(dir / "nested.heic", Box("ftyp", "heic" + Be32(0) + "mif1") +
                                             Box("meta", Be32(0) + nest("iprp", "", 20000)));
    test::WriteFile(dir / "deep.cr3", Cr3("Canon", "Canon EOS R5", "2022:01:02 03:04:05") +
                                          nest("moov", "", 40));
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    EXPECT_EQ(DateOf(reader.ReadDates((dir / "nested.cr3").string())), "");
    EXPECT_EQ(DateOf(reader.ReadDates((dir / "nested.heic").string())), "");
    EXPECT_EQ(DateOf(reader.ReadDates((dir / "deep.cr3").string())), "20220102030405");
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 << 10); // KiB: far below the file × depth
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
