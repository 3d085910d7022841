// The box reader of MP4/MOV files on byte-built files: box sizes of every kind, truncation,
// sizes that do not fit, deep nesting, and the Apple keys in both meta layouts.
#include "media/video_boxes.h"

#include <ctime>
#include <gtest/gtest.h>
#include <map>
#include <string>

namespace {

using Bytes = std::string;

Bytes Be32(std::uint64_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}
Bytes Be64(std::uint64_t v)
{
    return Be32(v >> 32) + Be32(v & 0xFFFFFFFFu);
}

// size(4) type(4) body; Box64 with size 1 and a 64-bit size; Box0 with size 0 (to the end).
Bytes Box(const Bytes& type, const Bytes& body)
{
    return Be32(8 + body.size()) + type + body;
}
Bytes Box64(const Bytes& type, const Bytes& body)
{
    return Be32(1) + type + Be64(16 + body.size()) + body;
}
Bytes Box0(const Bytes& type, const Bytes& body)
{
    return Be32(0) + type + body;
}

constexpr std::uint64_t k1904 = 2082844800;
constexpr std::int64_t kWhen = 1577934245; // 2020-01-02 03:04:05 UTC

Bytes Mvhd0(std::uint64_t created)
{
    return Box("mvhd", Bytes("\0\0\0\0", 4) + Be32(created) + Be32(created) + Be32(600) + Be32(60) +
                           Bytes(80, '\0'));
}
Bytes Mvhd1(std::uint64_t created)
{
    return Box("mvhd", Bytes("\1\0\0\0", 4) + Be64(created) + Be64(created) + Be32(600) + Be64(60) +
                           Bytes(80, '\0'));
}
const Bytes kFtyp = Box("ftyp", "qt  " + Be32(0) + "qt  ");

Bytes Keys(std::initializer_list<Bytes> names)
{
    Bytes body = Be32(0) + Be32(names.size());
    for (const Bytes& name : names)
        body += Be32(8 + name.size()) + "mdta" + name;
    return Box("keys", body);
}
Bytes Item(std::uint32_t index, const Bytes& value, std::uint32_t type = 1)
{
    return Box(Be32(index), Box("data", Be32(type) + Be32(0) + value));
}
const Bytes kHdlr = Box("hdlr", Be32(0) + Be32(0) + "mdta" + Bytes(12, '\0') + Bytes(1, '\0'));
const Bytes kAppleKeys = Keys({"com.apple.quicktime.make", "com.apple.quicktime.model",
                               "com.apple.quicktime.creationdate", "com.apple.quicktime.software"});
const Bytes kAppleItems = Box("ilst", Item(1, "Apple") + Item(2, "iPhone 12") +
                                          Item(3, "2019-05-06T07:08:09+0200") + Item(4, "16.1"));

media::VideoTags Read(const Bytes& file)
{
    media::MemorySource source({reinterpret_cast<const std::uint8_t*>(file.data()), file.size()});
    return media::ReadVideoTags(source);
}

struct Case {
    const char* what;
    Bytes file;
    std::optional<std::int64_t> created;
    const char* creationDate = "";
    const char* make = "";
    std::optional<std::int64_t> track = std::nullopt;
};

// tkhd and mdhd start as mvhd does: version, flags, creation time.
Bytes Header(const char* type, int version, std::uint64_t created)
{
    return Box(type, (version == 1 ? Bytes("\1\0\0\0", 4) + Be64(created)
                                   : Bytes("\0\0\0\0", 4) + Be32(created)) +
                         Bytes(80, '\0'));
}

TEST(VideoBoxesTest, BoxLayoutsAndEdges)
{
    const Bytes moov = Box("moov", Mvhd0(k1904 + kWhen));
    const Bytes mdat = Box("mdat", Bytes(1000, 'x'));
    Bytes nested = Mvhd0(k1904 + kWhen);
    for (int i = 0; i < 2000; ++i)
        nested = Box("udta", nested);
    Bytes manyFree;
    for (int i = 0; i < media::kMaxVideoBoxes; ++i)
        manyFree += Box("free", "");

    const Case cases[] = {
        {"mvhd version 0", kFtyp + mdat + moov, kWhen},
        {"mvhd version 1", kFtyp + Box("moov", Mvhd1(k1904 + kWhen)), kWhen},
        {"creation time 0", kFtyp + Box("moov", Mvhd0(0)), std::nullopt},
        {"before 1970", kFtyp + Box("moov", Mvhd0(1000)), std::nullopt},
        {"one second after 1970", kFtyp + Box("moov", Mvhd0(k1904 + 1)), 1},
        {"mvhd of an unknown version",
         kFtyp + Box("moov", Box("mvhd", Bytes(1, '\2') + Bytes(119, '\1'))), std::nullopt},
        {"mvhd cut short", kFtyp + Box("moov", Box("mvhd", Bytes("\1\0\0\0\0\0", 6))),
         std::nullopt},
        {"64-bit mdat before moov", kFtyp + Box64("mdat", Bytes(500, 'x')) + moov, kWhen},
        {"64-bit moov", kFtyp + Box64("moov", Mvhd1(k1904 + kWhen)), kWhen},
        {"moov of size 0 runs to the end", kFtyp + mdat + Box0("moov", Mvhd0(k1904 + kWhen)),
         kWhen},
        {"mdat of size 0 after moov", kFtyp + moov + Box0("mdat", "xyz"), kWhen},
        {"mdat of size 0 hides what follows", kFtyp + Box0("mdat", "xyz" + moov), std::nullopt},
        {"huge 32-bit size", kFtyp + Be32(0xFFFFFFF0u) + "mdat" + moov, std::nullopt},
        {"huge 64-bit size", kFtyp + Be32(1) + "mdat" + Be64(~0ull) + moov, std::nullopt},
        {"64-bit size below its header", kFtyp + Be32(1) + "mdat" + Be64(15) + moov, std::nullopt},
        {"size below the header", kFtyp + Be32(7) + "mdat" + moov, std::nullopt},
        {"moov cut short", kFtyp + moov.substr(0, moov.size() - 10), std::nullopt},
        {"header cut short", kFtyp + moov.substr(0, 6), std::nullopt},
        {"64-bit header cut short", kFtyp + Be32(1) + "moov" + Be32(0), std::nullopt},
        {"mvhd larger than its moov", kFtyp + Box("moov", Mvhd0(k1904 + kWhen).substr(0, 40)),
         std::nullopt},
        {"deep nesting is not followed", kFtyp + Box("moov", nested), std::nullopt},
        {"too many boxes before moov", kFtyp + manyFree + moov, std::nullopt},
        {"empty file", "", std::nullopt},
        {"Apple keys in moov/meta",
         kFtyp + Box("moov", Box("meta", kHdlr + kAppleKeys + kAppleItems)), std::nullopt,
         "2019-05-06T07:08:09+0200", "Apple"},
        {"Apple keys in moov/udta/meta with version and flags",
         kFtyp +
             Box("moov", Mvhd0(k1904 + kWhen) +
                             Box("udta", Box("meta", Be32(0) + kHdlr + kAppleKeys + kAppleItems))),
         kWhen, "2019-05-06T07:08:09+0200", "Apple"},
        {"ilst before keys", kFtyp + Box("moov", Box("meta", kHdlr + kAppleItems + kAppleKeys)),
         std::nullopt, "2019-05-06T07:08:09+0200", "Apple"},
        {"items of keys that are not there",
         kFtyp + Box("moov", Box("meta", kHdlr + Keys({"com.apple.quicktime.make"}) +
                                             Box("ilst", Item(0, "A") + Item(2, "B") +
                                                             Item(0xFFFFFFFFu, "C")))),
         std::nullopt},
        {"a value that is not text",
         kFtyp + Box("moov", Box("meta", kHdlr + Keys({"com.apple.quicktime.make"}) +
                                             Box("ilst", Item(1, "\1\2", 21)))),
         std::nullopt},
        {"empty boxes",
         kFtyp +
             Box("moov", Box("meta", kHdlr + Box("keys", "") + Box("ilst", "")) + Box("mvhd", "")),
         std::nullopt},
        {"a key larger than its box",
         kFtyp + Box("moov", Box("meta", kHdlr +
                                             Box("keys", Be32(0) + Be32(1) + Be32(5000) +
                                                             "mdtacom.apple.quicktime.make") +
                                             Box("ilst", Item(1, "Apple")))),
         std::nullopt},
        {"a value cut to its limit",
         kFtyp + Box("moov", Box("meta", kHdlr + Keys({"com.apple.quicktime.make"}) +
                                             Box("ilst", Item(1, Bytes(100000, 'M'))))),
         std::nullopt, "", nullptr},
        {"movie header 0, track header dated",
         kFtyp + Box("moov", Mvhd0(0) + Box("trak", Header("tkhd", 0, k1904 + kWhen))),
         std::nullopt, "", "", kWhen},
        {"track header 0, media header dated",
         kFtyp + Box("moov", Box("trak", Header("tkhd", 0, 0) +
                                             Box("mdia", Header("mdhd", 1, k1904 + kWhen)))),
         std::nullopt, "", "", kWhen},
        {"the first dated track",
         kFtyp + Box("moov", Mvhd0(k1904 + 1) + Box("trak", Box("mdia", "")) +
                                 Box("trak", Header("tkhd", 1, k1904 + kWhen)) +
                                 Box("trak", Header("tkhd", 0, k1904 + 5))),
         1, "", "", kWhen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const media::VideoTags tags = Read(c.file);
        EXPECT_EQ(tags.movieCreated, c.created);
        EXPECT_EQ(tags.creationDate, c.creationDate);
        EXPECT_EQ(tags.trackCreated, c.track);
        if (c.make != nullptr)
            EXPECT_EQ(tags.make, c.make);
        else
            EXPECT_EQ(tags.make, Bytes(media::kMaxValueBytes, 'M'));
    }
}

// A file of 8 GiB, made of a few real bytes at its ends and nothing between: counts the bytes
// the reader asks for.
class SparseSource : public media::ByteSource {
public:
    std::uint64_t Size() const override { return size; }
    bool ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) override
    {
        read += n;
        if (offset > size || size - offset < n)
            return false;
        for (std::size_t i = 0; i < n; ++i) {
            const auto it = bytes.find(offset + i);
            out[i] = it == bytes.end() ? 0 : static_cast<std::uint8_t>(it->second);
        }
        return true;
    }
    void Put(std::uint64_t at, const Bytes& data)
    {
        for (std::size_t i = 0; i < data.size(); ++i)
            bytes[at + i] = data[i];
    }
    std::uint64_t size = std::uint64_t{8} << 30;
    std::map<std::uint64_t, char> bytes;
    std::uint64_t read = 0;
};

TEST(VideoBoxesTest, LargeBoxesAreSeekedOverNotRead)
{
    SparseSource source;
    const Bytes moov = Box("moov", Mvhd0(k1904 + kWhen) + Box("trak", Bytes(5000, 't')) +
                                       Box("meta", kHdlr + kAppleKeys + kAppleItems));
    const std::uint64_t moovAt = source.size - moov.size();
    source.Put(0, kFtyp + Be32(1) + "mdat" + Be64(moovAt - kFtyp.size()));
    source.Put(moovAt, moov);
    const media::VideoTags tags = media::ReadVideoTags(source);
    EXPECT_EQ(tags.movieCreated, kWhen);
    EXPECT_EQ(tags.model, "iPhone 12");
    EXPECT_LT(source.read, 1024u); // headers, mvhd and the meta box; never the trak or mdat
}

TEST(VideoBoxesTest, CaptureInfoPrefersTheWrittenLocalDate)
{
    struct InfoCase {
        const char* creationDate;
        std::optional<std::int64_t> created;
        bool dated;
        const char* date; // empty: the local time of kWhen
    };
    std::tm local{};
    const std::time_t when = kWhen;
    ASSERT_NE(::localtime_r(&when, &local), nullptr);
    char localText[16];
    std::strftime(localText, sizeof localText, "%Y%m%d%H%M%S", &local);
    const InfoCase cases[] = {
        {"2019-05-06T07:08:09+0200", kWhen, true, "20190506070809"},
        {"2019-05-06T07:08:09-07:00", std::nullopt, true, "20190506070809"},
        {"2019-05-06T07:08:09", std::nullopt, true, "20190506070809"},
        {"2019-13-06T07:08:09+0200", kWhen, true, localText}, // no month 13
        {"2019-02-29T07:08:09+0200", kWhen, true, localText}, // no leap year
        {"2019-05-06T24:08:09+0200", kWhen, true, localText},
        {"2019/05/06T07:08:09+0200", kWhen, true, localText},
        {"1969-05-06T07:08:09+0200", kWhen, true, localText},
        {"2019-05-06", kWhen, true, localText},
        {"", kWhen, true, localText},
        {"", std::nullopt, false, ""},
        {"garbage", std::nullopt, false, ""},
    };
    for (const InfoCase& c : cases) {
        SCOPED_TRACE(c.creationDate);
        media::VideoTags tags;
        tags.creationDate = c.creationDate;
        tags.movieCreated = c.created;
        const engine::ExifInfo info = media::VideoCaptureInfo(tags);
        EXPECT_EQ(info.HasDate, c.dated);
        EXPECT_EQ(info.Year4 + info.Month + info.Day + info.Hour + info.Minute + info.Second,
                  c.date);
        EXPECT_FALSE(info.HasExif);
    }
    media::VideoTags trackOnly;
    trackOnly.trackCreated = kWhen;
    EXPECT_EQ(media::VideoCaptureInfo(trackOnly).Year4 + media::VideoCaptureInfo(trackOnly).Month +
                  media::VideoCaptureInfo(trackOnly).Day + media::VideoCaptureInfo(trackOnly).Hour +
                  media::VideoCaptureInfo(trackOnly).Minute +
                  media::VideoCaptureInfo(trackOnly).Second,
              localText);
    media::VideoTags camera;
    camera.make = "Apple";
    camera.model = "iPhone 12";
    EXPECT_EQ(media::VideoCaptureInfo(camera).CameraName, "Apple iPhone 12");
    camera.model = "Apple iPhone/12";
    EXPECT_EQ(media::VideoCaptureInfo(camera).CameraName, "Apple iPhone12");
}

Bytes Ftyp(const Bytes& major, const Bytes& compatible = "")
{
    return Box("ftyp", major + Be32(0) + compatible);
}

// levels boxes of one type, each the only child of the one before (after head), around inner.
Bytes Nest(const Bytes& type, int levels, const Bytes& inner = "", const Bytes& head = "")
{
    Bytes box;
    std::size_t size = inner.size() + levels * (8 + head.size());
    for (int i = 0; i < levels; ++i, size -= 8 + head.size())
        box += Be32(size) + type + head;
    return box + inner;
}

bool Fits(const Bytes& file)
{
    media::MemorySource source({reinterpret_cast<const std::uint8_t*>(file.data()), file.size()});
    return media::BoxTreeWithinLimits(source);
}

TEST(VideoBoxesTest, KindsByBrandAndBoxesAndTheLimitsOfNesting)
{
    using Kind = media::BoxFileKind;
    const Bytes pict = Box("meta", Be32(0) + Box("hdlr", Be32(0) + Be32(0) + "pict" + Bytes(13, '\0')));
    const std::pair<Bytes, Kind> kinds[] = {
        {Ftyp("heic", "mif1heic"), Kind::Heif},
        {Ftyp("heif", "mif1"), Kind::Heif},
        {Ftyp("MiHB", "MiHBmiaf"), Kind::Heif},
        {Ftyp("avif", "mif1"), Kind::Heif},
        {Ftyp("isom", "mif1") + pict, Kind::Heif},
        {Ftyp("isom", "isom") + pict, Kind::Heif},        // by the meta box alone
        {Ftyp("mp42", "mif1") + Box("moov", ""), Kind::Movie}, // a movie naming a still brand
        {Ftyp("crx ", "crx isom"), Kind::Cr3},
        {Ftyp("isom", "crx "), Kind::Cr3},
        {Ftyp("qt  ", "qt  "), Kind::Movie},
        {Ftyp("mp42", "isommp42"), Kind::Movie},
        {Box("moov", "abcd"), Kind::Movie},
        {Box("junk", "12345678"), Kind::Other},
        {"\x89PNG\r\n\x1A\n0000", Kind::Other},
        {Ftyp("heic").substr(0, 11), Kind::Other},
    };
    for (const auto& [head, kind] : kinds) {
        SCOPED_TRACE(head);
        EXPECT_EQ(media::KindOfBoxFile({reinterpret_cast<const std::uint8_t*>(head.data()), head.size()}),
                  kind);
    }

    const Bytes canon = "\x85\xC0\xB6\x87\x82\x0F\x11\xE0\x81\x11\xF4\xCE\x46\x2B\x6A\x48";
    Bytes manyFree;
    for (int i = 0; i < media::kMaxVideoBoxes; ++i)
        manyFree += Box("free", "");
    const Bytes big(2 << 20, 'x');
    const std::pair<Bytes, bool> trees[] = {
        {Ftyp("heic") + Nest("moov", media::kMaxBoxDepth), true},
        {Ftyp("heic") + Nest("moov", media::kMaxBoxDepth + 1), false},
        {Ftyp("heic") + Nest("meta", 20000, "", Be32(0)), false},
        {Ftyp("heic") + Box("meta", Be32(0) + Nest("iprp", 20000)), false},
        {Ftyp("crx ") + Nest("uuid", 20000, "", canon), false},
        {Ftyp("crx ") + Nest("uuid", 40, "", Bytes(16, 'u')), true}, // not Canon's: not entered
        {Ftyp("heic") + Box("iinf", Be32(0) + Bytes(2, '\0') + Nest("iinf", 40, "", Be32(0) + Bytes(2, '\0'))),
         false},
        {Ftyp("heic") + Box("moov", big), true},
        {Ftyp("heic") + Nest("moov", 3, big), false}, // its body read once per level
        {Ftyp("heic") + Box("mdat", big + big), true},
        {Ftyp("heic") + manyFree, false},
        {Ftyp("heic") + Box("moov", Box("trak", Box("mdia", "x"))) + Box("meta", "\0"), true},
    };
    for (std::size_t i = 0; i < std::size(trees); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Fits(trees[i].first), trees[i].second);
    }
}

TEST(VideoBoxesTest, CanonBlocksSurviveABrokenBox)
{
    const Bytes canon = "\x85\xC0\xB6\x87\x82\x0F\x11\xE0\x81\x11\xF4\xCE\x46\x2B\x6A\x48";
    const Bytes moov = Box("moov", Box("uuid", canon + Box("CNCV", "x") + Box("CMT1", "one") +
                                                   Box("CMT2", Bytes(100000, 't'))));
    const Bytes broken = Be32(0x7FFFFFFF) + "uuid" + Bytes(16, 'p'); // past the end of the file
    const Bytes file = Ftyp("crx ") + moov + broken;
    media::MemorySource source({reinterpret_cast<const std::uint8_t*>(file.data()), file.size()});
    const media::CanonBlocks blocks = media::ReadCanonBlocks(source);
    EXPECT_EQ(Bytes(blocks.cmt1.begin(), blocks.cmt1.end()), "one");
    EXPECT_EQ(blocks.cmt2.size(), media::kMaxCmtBytes);
    const Bytes other = Ftyp("crx ") + Box("moov", Box("uuid", Bytes(16, 'u') + Box("CMT1", "x")));
    media::MemorySource none({reinterpret_cast<const std::uint8_t*>(other.data()), other.size()});
    EXPECT_TRUE(media::ReadCanonBlocks(none).cmt1.empty());
}

} // namespace
