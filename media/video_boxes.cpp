#include "media/video_boxes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include "engine/dating/date_source.h"

namespace media {

namespace {

constexpr std::uint32_t FourCC(const char (&s)[5])
{
    return std::uint32_t{static_cast<unsigned char>(s[0])} << 24 |
           std::uint32_t{static_cast<unsigned char>(s[1])} << 16 |
           std::uint32_t{static_cast<unsigned char>(s[2])} << 8 |
           std::uint32_t{static_cast<unsigned char>(s[3])};
}

std::uint32_t Be32(const std::uint8_t* b)
{
    return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 |
           std::uint32_t{b[3]};
}

std::uint64_t Be64(const std::uint8_t* b)
{
    return std::uint64_t{Be32(b)} << 32 | Be32(b + 4);
}

// The uuid of Canon's box in a CR3's moov, which holds the CMT boxes.
constexpr std::uint8_t kCanon[16] = {0x85, 0xC0, 0xB6, 0x87, 0x82, 0x0F, 0x11, 0xE0,
                                     0x81, 0x11, 0xF4, 0xCE, 0x46, 0x2B, 0x6A, 0x48};

// Seconds from 1904-01-01 to 1970-01-01, both UTC.
constexpr std::uint64_t kEpoch1904To1970 = 2082844800;
// 9999-12-31 23:59:59 UTC: later times have no four-digit year.
constexpr std::uint64_t kLastSecond = 253402300799;

// One box: where its body starts and where it ends, both within its parent.
struct Box {
    std::uint32_t type = 0;
    std::uint64_t body = 0;
    std::uint64_t end = 0;
};

class Walker {
public:
    explicit Walker(ByteSource& source) : source_(source) {}

    // Reads n bytes at offset within the budget of the whole file.
    bool Read(std::uint64_t offset, std::uint8_t* out, std::size_t n)
    {
        if (n > kMaxVideoBytesRead - bytesRead_) {
            exhausted_ = true;
            return false;
        }
        bytesRead_ += n;
        return source_.ReadAt(offset, out, n);
    }

    // The box whose header starts at pos, inside a parent ending at parentEnd.
    //   size(4) type(4) [largesize(8) when size is 1] body ...
    // size 0: the box runs to the end of its parent. A box must fit its parent.
    bool BoxAt(std::uint64_t pos, std::uint64_t parentEnd, Box& box)
    {
        if (pos > parentEnd || parentEnd - pos < 8)
            return false;
        if (++boxes_ > kMaxVideoBoxes) {
            exhausted_ = true;
            return false;
        }
        std::array<std::uint8_t, 16> header{};
        if (!Read(pos, header.data(), 8))
            return false;
        std::uint64_t size = Be32(header.data());
        std::uint64_t headerSize = 8;
        if (size == 1) {
            if (parentEnd - pos < 16 || !Read(pos + 8, header.data() + 8, 8))
                return false;
            size = Be64(header.data() + 8);
            headerSize = 16;
        } else if (size == 0) {
            size = parentEnd - pos;
        }
        if (size < headerSize || size > parentEnd - pos)
            return false;
        box.type = Be32(header.data() + 4);
        box.body = pos + headerSize;
        box.end = pos + size;
        return true;
    }

    // Calls visit for each child box of the byte range [first, end).
    template <typename Visit> void Children(std::uint64_t first, std::uint64_t end, Visit visit)
    {
        Box box;
        for (std::uint64_t pos = first; BoxAt(pos, end, box); pos = box.end)
            if (!visit(box))
                return;
    }

    // Reads a box's body, at most limit bytes of it.
    std::vector<std::uint8_t> Body(const Box& box, std::size_t limit)
    {
        const std::uint64_t length = std::min<std::uint64_t>(box.end - box.body, limit);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
        if (!bytes.empty() && !Read(box.body, bytes.data(), bytes.size()))
            bytes.clear();
        return bytes;
    }

    // True once a walk stopped at the limit of bytes read or boxes looked at.
    bool Exhausted() const { return exhausted_; }

private:
    ByteSource& source_;
    std::uint64_t bytesRead_ = 0;
    int boxes_ = 0;
    bool exhausted_ = false;
};

// mvhd, tkhd, mdhd: version(1) flags(3), then the creation time: 4 bytes (version 0) or 8
// (version 1), in seconds since 1904. None when it is 0, before 1970 or past 9999.
std::optional<std::int64_t> ReadHeaderTime(Walker& walker, const Box& box)
{
    std::array<std::uint8_t, 12> b{};
    const std::uint64_t length = box.end - box.body;
    if (length < 8 || !walker.Read(box.body, b.data(), 8))
        return std::nullopt;
    std::uint64_t created = Be32(b.data() + 4);
    if (b[0] == 1) {
        if (length < 12 || !walker.Read(box.body + 8, b.data() + 8, 4))
            return std::nullopt;
        created = Be64(b.data() + 4);
    } else if (b[0] != 0) {
        return std::nullopt;
    }
    if (created <= kEpoch1904To1970 || created - kEpoch1904To1970 > kLastSecond)
        return std::nullopt;
    return static_cast<std::int64_t>(created - kEpoch1904To1970);
}

// trak: its tkhd time, else its mdia/mdhd time.
std::optional<std::int64_t> ReadTrackTime(Walker& walker, const Box& track)
{
    std::optional<std::int64_t> header, media;
    walker.Children(track.body, track.end, [&](const Box& box) {
        if (box.type == FourCC("tkhd")) {
            header = ReadHeaderTime(walker, box);
        } else if (box.type == FourCC("mdia")) {
            walker.Children(box.body, box.end, [&](const Box& inner) {
                if (inner.type == FourCC("mdhd"))
                    media = ReadHeaderTime(walker, inner);
                return !media;
            });
        }
        return true;
    });
    return header ? header : media;
}

enum class Key { Other, CreationDate, Make, Model };

// keys: version(1) flags(3) count(4), then per key: size(4, counts itself) namespace(4) name.
std::vector<Key> ReadKeys(Walker& walker, const Box& box)
{
    std::vector<Key> keys;
    const std::vector<std::uint8_t> body = walker.Body(box, kMaxKeysBytes);
    if (body.size() < 8)
        return keys;
    const std::uint32_t count = Be32(body.data() + 4);
    std::size_t pos = 8;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (body.size() - pos < 8)
            break;
        const std::uint32_t size = Be32(body.data() + pos);
        if (size < 8 || size > body.size() - pos)
            break;
        const std::string_view name(reinterpret_cast<const char*>(body.data()) + pos + 8, size - 8);
        Key key = Key::Other;
        if (name == "com.apple.quicktime.creationdate")
            key = Key::CreationDate;
        else if (name == "com.apple.quicktime.make")
            key = Key::Make;
        else if (name == "com.apple.quicktime.model")
            key = Key::Model;
        keys.push_back(key);
        pos += size;
    }
    return keys;
}

// ilst: one box per value, its type the 1-based key index; inside it a "data" box:
// type(4: 0 and a 3-byte type code, 1 = UTF-8) locale(4) value.
void ReadItems(Walker& walker, const Box& list, const std::vector<Key>& keys, VideoTags& tags)
{
    walker.Children(list.body, list.end, [&](const Box& item) {
        if (item.type == 0 || item.type > keys.size())
            return true;
        const Key key = keys[item.type - 1];
        if (key == Key::Other)
            return true;
        walker.Children(item.body, item.end, [&](const Box& data) {
            if (data.type != FourCC("data"))
                return true;
            const std::vector<std::uint8_t> body = walker.Body(data, 8 + kMaxValueBytes);
            if (body.size() < 8 || Be32(body.data()) != 1) // UTF-8 text only
                return false;
            std::string value(body.begin() + 8, body.end());
            (key == Key::CreationDate ? tags.creationDate
             : key == Key::Make       ? tags.make
                                      : tags.model) = std::move(value);
            return false;
        });
        return true;
    });
}

// meta: in QuickTime files its children follow the header at once; in ISO files (and as
// written by some muxers) a version and flags come first. The hdlr child tells which.
void ReadMeta(Walker& walker, const Box& meta, VideoTags& tags)
{
    std::array<std::uint8_t, 12> peek{};
    if (meta.end - meta.body < 12 || !walker.Read(meta.body, peek.data(), 12))
        return;
    const std::uint64_t first = Be32(peek.data() + 4) == FourCC("hdlr") ? meta.body : meta.body + 4;
    std::vector<Key> keys;
    Box list;
    bool hasList = false;
    walker.Children(first, meta.end, [&](const Box& box) {
        if (box.type == FourCC("keys")) {
            keys = ReadKeys(walker, box);
        } else if (box.type == FourCC("ilst")) { // may come before its keys
            list = box;
            hasList = true;
        }
        return true;
    });
    if (hasList && !keys.empty())
        ReadItems(walker, list, keys, tags);
}

bool Digits(std::string_view text, std::size_t pos, std::size_t n, int& value)
{
    value = 0;
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "2023-07-08T22:31:01+0200": the local date and time as written; the offset is not applied.
bool TakeCreationDate(std::string_view text, engine::ExifInfo& info)
{
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':')
        return false;
    int y, mo, d, h, mi, s;
    if (!Digits(text, 0, 4, y) || !Digits(text, 5, 2, mo) || !Digits(text, 8, 2, d) ||
        !Digits(text, 11, 2, h) || !Digits(text, 14, 2, mi) || !Digits(text, 17, 2, s))
        return false;
    return y >= 1970 && engine::SetCaptureDate(info, y, mo, d, h, mi, s);
}

} // namespace

bool MemorySource::ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n)
{
    if (offset > bytes_.size() || bytes_.size() - offset < n)
        return false;
    if (n > 0) // an empty read may come with no buffer at all
        std::memcpy(out, bytes_.data() + offset, n);
    return true;
}

BoxFileKind KindOfBoxFile(std::span<const std::uint8_t> head)
{
    if (head.size() < 12)
        return BoxFileKind::Other;
    const std::uint32_t type = Be32(head.data() + 4);
    if (type != FourCC("ftyp")) {
        for (const std::uint32_t old :
             {FourCC("moov"), FourCC("mdat"), FourCC("wide"), FourCC("free"), FourCC("skip")})
            if (type == old)
                return BoxFileKind::Movie;
        return BoxFileKind::Other;
    }
    static constexpr std::uint32_t kStillBrands[] = {
        FourCC("mif1"), FourCC("mif2"), FourCC("msf1"), FourCC("miaf"), FourCC("heic"),
        FourCC("heix"), FourCC("heim"), FourCC("heis"), FourCC("hevc"), FourCC("hevx"),
        FourCC("heif"), FourCC("avif"), FourCC("avis"), FourCC("avio"), FourCC("avci"),
        FourCC("jpeg"), FourCC("MiHE"), FourCC("MiHB"), FourCC("MiHA"), FourCC("MiPr")};
    const auto isStill = [](std::uint32_t brand) {
        return std::find(std::begin(kStillBrands), std::end(kStillBrands), brand) !=
               std::end(kStillBrands);
    };
    const std::uint32_t major = Be32(head.data() + 8);
    if (major == FourCC("crx "))
        return BoxFileKind::Cr3;
    if (isStill(major))
        return BoxFileKind::Heif;
    // The top-level boxes in the head: a picture's meta box, a movie's moov box.
    MemorySource source(head);
    Walker walker(source);
    bool pictureMeta = false, movie = false;
    walker.Children(0, head.size(), [&](const Box& box) {
        // meta: version, flags, then hdlr: size, type, version, flags, 0, handler type
        std::array<std::uint8_t, 24> b{};
        if (box.type == FourCC("moov"))
            movie = true;
        else if (box.type == FourCC("meta") && box.end - box.body >= b.size() &&
                 walker.Read(box.body, b.data(), b.size()) && Be32(b.data() + 8) == FourCC("hdlr"))
            pictureMeta = Be32(b.data() + 20) == FourCC("pict");
        return true;
    });
    if (pictureMeta)
        return BoxFileKind::Heif;
    // Compatible brands: 4 bytes each after the major brand and the minor version.
    const std::size_t ftypEnd = std::min<std::size_t>(Be32(head.data()), head.size());
    bool compatibleStill = false;
    for (std::size_t at = 16; at + 4 <= ftypEnd; at += 4) {
        const std::uint32_t brand = Be32(head.data() + at);
        if (brand == FourCC("crx "))
            return BoxFileKind::Cr3;
        compatibleStill = compatibleStill || isStill(brand);
    }
    return compatibleStill && !movie ? BoxFileKind::Heif : BoxFileKind::Movie;
}

namespace {

// The start of a container's children within its body; none when the box holds no boxes for
// box parsers. Full boxes carry a version and flags first, iinf and dref also a count.
std::optional<std::uint64_t> ChildrenStart(Walker& walker, const Box& box)
{
    static constexpr std::uint32_t kPlain[] = {
        FourCC("moov"), FourCC("trak"), FourCC("mdia"), FourCC("minf"), FourCC("stbl"),
        FourCC("udta"), FourCC("edts"), FourCC("iprp"), FourCC("ipco"), FourCC("dinf"),
        FourCC("grpl")};
    if (std::find(std::begin(kPlain), std::end(kPlain), box.type) != std::end(kPlain))
        return box.body;
    if (box.type == FourCC("meta"))
        return box.body + 4;
    if (box.type == FourCC("dref"))
        return box.body + 8;
    std::array<std::uint8_t, 16> b{};
    if (box.type == FourCC("iinf")) {
        if (box.end - box.body < 1 || !walker.Read(box.body, b.data(), 1))
            return std::nullopt;
        return box.body + (b[0] == 0 ? 6 : 8);
    }
    if (box.type == FourCC("uuid") && box.end - box.body >= 16 &&
        walker.Read(box.body, b.data(), 16) && std::memcmp(b.data(), kCanon, 16) == 0)
        return box.body + 16;
    return std::nullopt;
}

// Walks the containers of [first, end) at the given depth; false when a limit is passed.
bool WithinLimits(Walker& walker, std::uint64_t first, std::uint64_t end, int depth,
                  std::uint64_t pathBytes, std::uint64_t maxPathBytes)
{
    bool fits = true;
    walker.Children(first, end, [&](const Box& box) {
        const auto start = ChildrenStart(walker, box);
        if (!start)
            return true;
        const std::uint64_t bytes = pathBytes + (box.end - box.body);
        fits = depth < kMaxBoxDepth && bytes <= maxPathBytes &&
               (*start > box.end ||
                WithinLimits(walker, *start, box.end, depth + 1, bytes, maxPathBytes));
        return fits;
    });
    return fits && !walker.Exhausted();
}

} // namespace

bool BoxTreeWithinLimits(ByteSource& source)
{
    Walker walker(source);
    return WithinLimits(walker, 0, source.Size(), 0, 0, source.Size() + kBoxSlackBytes);
}

CanonBlocks ReadCanonBlocks(ByteSource& source)
{
    CanonBlocks blocks;
    Walker walker(source);
    walker.Children(0, source.Size(), [&](const Box& top) {
        if (top.type != FourCC("moov"))
            return true;
        walker.Children(top.body, top.end, [&](const Box& box) {
            std::array<std::uint8_t, 16> id{};
            if (box.type != FourCC("uuid") || box.end - box.body < 16 ||
                !walker.Read(box.body, id.data(), 16) || std::memcmp(id.data(), kCanon, 16) != 0)
                return true;
            walker.Children(box.body + 16, box.end, [&](const Box& inner) {
                if (inner.type == FourCC("CMT1"))
                    blocks.cmt1 = walker.Body(inner, kMaxCmtBytes);
                else if (inner.type == FourCC("CMT2"))
                    blocks.cmt2 = walker.Body(inner, kMaxCmtBytes);
                return true;
            });
            return false;
        });
        return false;
    });
    return blocks;
}

VideoTags ReadVideoTags(ByteSource& source)
{
    VideoTags tags;
    Walker walker(source);
    walker.Children(0, source.Size(), [&](const Box& top) {
        if (top.type != FourCC("moov"))
            return true;
        walker.Children(top.body, top.end, [&](const Box& box) {
            if (box.type == FourCC("mvhd")) {
                tags.movieCreated = ReadHeaderTime(walker, box);
            } else if (box.type == FourCC("trak") && !tags.trackCreated) {
                tags.trackCreated = ReadTrackTime(walker, box);
            } else if (box.type == FourCC("meta")) {
                ReadMeta(walker, box, tags);
            } else if (box.type == FourCC("udta")) {
                walker.Children(box.body, box.end, [&](const Box& inner) {
                    if (inner.type == FourCC("meta"))
                        ReadMeta(walker, inner, tags);
                    return true;
                });
            }
            return true;
        });
        return false; // one movie per file
    });
    return tags;
}

engine::ExifInfo VideoCaptureInfo(const VideoTags& tags)
{
    engine::ExifInfo info;
    if (!tags.make.empty() || !tags.model.empty()) {
        info.HasExif = true;
        info.CameraName = engine::CameraNameFromTags(tags.make, tags.model);
    }
    const auto created = tags.movieCreated ? tags.movieCreated : tags.trackCreated;
    if (TakeCreationDate(tags.creationDate, info) || !created)
        return info;
    const std::time_t seconds = static_cast<std::time_t>(*created);
    std::tm local{};
    if (::localtime_r(&seconds, &local) != nullptr)
        engine::SetCaptureDate(info, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                               local.tm_hour, local.tm_min, std::min(local.tm_sec, 59));
    return info;
}

} // namespace media
