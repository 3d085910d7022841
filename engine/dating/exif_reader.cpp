#include "engine/dating/exif_reader.h"
#include "engine/dating/open_dates.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/base/open_file.h"
namespace engine {

namespace {

constexpr std::int64_t kHeadSize = static_cast<std::int64_t>(HeadBufferSize);

// True when the n bytes at pos lie inside the buffer (written as a subtraction: pos comes from
// file data and may be anything).
bool Inside(std::int64_t pos, std::int64_t n)
{
    return pos >= 0 && pos <= kHeadSize && kHeadSize - pos >= n;
}

// Thrown inside the parser when the EXIF data leaves the buffer or holds a value too large;
// the head then counts as one without EXIF data.
struct Unreadable {};

class HeadParser {
public:
    explicit HeadParser(const HeadBuffer& head) : head_(head) {}

    std::uint8_t Byte(std::int64_t pos) const
    {
        if (!Inside(pos, 1))
            throw Unreadable{};
        return head_[static_cast<std::size_t>(pos)];
    }
    std::uint16_t Word(std::string_view order, std::int64_t pos) const
    {
        const auto value = ReadOrderedWord(head_, order, pos);
        if (!value)
            throw Unreadable{};
        return *value;
    }
    std::int64_t Long(std::string_view order, std::int64_t pos) const
    {
        const auto value = ReadOrderedLong(head_, order, pos);
        if (!value)
            throw Unreadable{};
        return *value;
    }
    // The bytes at pos..pos+n-1, one character each (still raw bytes).
    std::string Bytes(std::int64_t pos, std::int64_t n) const
    {
        if (n <= 0)
            return {};
        if (!Inside(pos, n))
            throw Unreadable{};
        const auto* first = head_.data() + pos;
        return std::string(first, first + n);
    }

private:
    const HeadBuffer& head_;
};

// Raw camera file test: a big-endian TIFF whose IFD0 Model value is exactly this text with
// its terminating zero byte.
constexpr std::string_view kRawCameraModel{"PENTAX *ist D      \0", 20};

constexpr std::uint16_t kTagMake = 0x010F;
constexpr std::uint16_t kTagModel = 0x0110;
constexpr std::uint16_t kTagDateTime = 0x0132;
constexpr std::uint16_t kTagExifIfd = 0x8769;
constexpr std::uint16_t kTagDateTimeOriginal = 0x9003;
constexpr std::uint16_t kTagDateTimeDigitized = 0x9004;

// C0 controls, DEL, and the bytes that the Latin-1 reading turns into C1 controls (U+0080 to
// U+009F, among them NEL and the one-character CSI that terminals act on).
bool IsControl(unsigned char c)
{
    return c < 32 || (c >= 0x7F && c <= 0x9F);
}

// Every byte becomes one character; 0x80..0xFF become U+0080..U+00FF.
std::string Latin1ToUtf8(std::string_view raw)
{
    std::string out;
    out.reserve(raw.size());
    for (const char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string CleanCameraName(std::string_view raw)
{
    std::string name;
    for (const char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsControl(c))
            continue;
        if (std::find(InvalidNameChars.begin(), InvalidNameChars.end(), ch) !=
            InvalidNameChars.end())
            continue;
        name += ch;
    }
    return Latin1ToUtf8(name);
}

std::string TrimSpaces(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

bool IsRawCameraFile(const HeadParser& p)
{
    //  0      2      4              offset
    // "MM"  00 2A  IFD0 offset ... count(2) entries(12 each): tag type count value
    if (p.Byte(0) != 'M' || p.Byte(1) != 'M' || p.Byte(2) != 0 || p.Byte(3) != 42)
        return false;
    const std::int64_t offset = p.Long("MM", 4);
    const std::uint16_t count = p.Word("MM", offset);
    bool found = false;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t entry = offset + 2 + 12 * i;
        if (p.Word("MM", entry) != kTagModel)
            continue;
        const std::int64_t c = p.Long("MM", entry + 4);
        const std::int64_t v = p.Long("MM", entry + 8);
        if (c == static_cast<std::int64_t>(kRawCameraModel.size()) &&
            p.Bytes(v, c) == kRawCameraModel)
            found = true;
    }
    return found;
}

ExifInfo Parse(const HeadBuffer& head)
{
    const HeadParser p(head);
    ExifInfo info;
    std::string order;
    std::int64_t tiffBase = 0;
    bool hasExif = false;

    if (p.Byte(0) == 0xFF && p.Byte(1) == 0xD8) {
        if (p.Byte(2) == 0xFF && p.Byte(3) == 0xE1) {
            // FF D8 | FF E1 len(2) "Exif" 00 00 | TIFF header at 12: "II"/"MM" ...
            if (p.Bytes(6, 4) == "Exif") {
                hasExif = true;
                tiffBase = 12;
                order = p.Bytes(12, 2);
            }
        } else if (p.Byte(2) == 0xFF && p.Byte(3) == 0xE0) {
            // FF D8 | FF E0 len(2, big-endian, counts itself) ... | FF E1 len(2) "Exif" 00 00 |
            // TIFF
            const std::int64_t next = 256 * p.Byte(4) + p.Byte(5) + 4;
            if (p.Byte(next) == 0xFF && p.Byte(next + 1) == 0xE1 &&
                p.Bytes(next + 4, 4) == "Exif") {
                hasExif = true;
                tiffBase = next + 10;
                order = p.Bytes(next + 10, 2);
            }
        }
    }
    if (IsRawCameraFile(p)) {
        hasExif = true;
        order = "MM";
        tiffBase = 0;
    }
    if (!hasExif || (order != "II" && order != "MM"))
        return {};

    // IFD0: count(2) then 12-byte entries: tag(2) type(2) count(4) value-or-offset(4). The
    // value field is always taken as an offset from the TIFF header.
    std::string makeText, modelText, dateTimeText, takenText, digitizedText;
    std::int64_t exifIfdStart = 0;
    std::uint16_t exifIfdCount = 0;
    const std::int64_t ifd0 = p.Long(order, tiffBase + 4);
    const std::uint16_t ifd0Count = p.Word(order, tiffBase + ifd0);
    for (std::int64_t i = 0; i < ifd0Count; ++i) {
        const std::int64_t e = tiffBase + ifd0 + 2 + 12 * i;
        const std::uint16_t tag = p.Word(order, e);
        if (tag == kTagMake) {
            const std::int64_t c = p.Long(order, e + 4);
            const std::int64_t v = tiffBase + p.Long(order, e + 8);
            makeText.clear();
            for (std::int64_t j = 0; j <= c - 2; ++j) { // the first word only
                const std::uint8_t b = p.Byte(v + j);
                if (b == ' ')
                    break;
                makeText += static_cast<char>(b);
            }
        } else if (tag == kTagModel) {
            const std::int64_t c = p.Long(order, e + 4);
            const std::int64_t v = tiffBase + p.Long(order, e + 8);
            modelText.clear();
            for (std::int64_t j = 0; j <= c - 2; ++j) {
                const std::uint8_t b = p.Byte(v + j);
                if (b == 0)
                    break;
                modelText += static_cast<char>(b);
            }
            modelText = TrimSpaces(modelText);
        } else if (tag == kTagDateTime) {
            if (p.Long(order, e + 4) == 20)
                dateTimeText = p.Bytes(tiffBase + p.Long(order, e + 8), 19);
        } else if (tag == kTagExifIfd) {
            if (p.Long(order, e + 4) == 1) {
                exifIfdStart = tiffBase + 2 + p.Long(order, e + 8);
                exifIfdCount = p.Word(order, exifIfdStart - 2);
            }
        }
    }

    info.CameraName = CameraNameOf(makeText, modelText);

    // Exif sub-IFD: the entries' count fields are not read; each date tag gives 19 characters.
    for (std::int64_t i = 0; i < exifIfdCount; ++i) {
        const std::int64_t e = exifIfdStart + 12 * i;
        const std::uint16_t tag = p.Word(order, e);
        if (tag == kTagDateTimeOriginal)
            takenText += p.Bytes(tiffBase + p.Long(order, e + 8), 19);
        else if (tag == kTagDateTimeDigitized)
            digitizedText += p.Bytes(tiffBase + p.Long(order, e + 8), 19);
    }

    info.HasExif = true;
    for (const std::string* candidate : {&takenText, &digitizedText, &dateTimeText})
        if (TakeExifDate(*candidate, info))
            break;
    return info;
}

} // namespace

bool QualifiesAsDate(std::string_view text)
{
    if (text.size() < 19 || text[0] < '1' || text[0] > '9')
        return false;
    static constexpr int kFieldPositions[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
    for (const int i : kFieldPositions) {
        const auto c = static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
        if (c == '/' || c == '\\' || c == '.' || IsControl(c))
            return false;
    }
    return true;
}

bool TakeExifDate(std::string_view text, ExifInfo& info)
{
    if (!QualifiesAsDate(text))
        return false;
    // "YYYY:MM:DD HH:MM:SS", cut by position; separators and ranges are not checked.
    info.HasDate = true;
    info.Year4 = Latin1ToUtf8(text.substr(0, 4));
    info.Year2 = Latin1ToUtf8(text.substr(2, 2));
    info.Month = Latin1ToUtf8(text.substr(5, 2));
    info.Day = Latin1ToUtf8(text.substr(8, 2));
    info.Hour = Latin1ToUtf8(text.substr(11, 2));
    info.Minute = Latin1ToUtf8(text.substr(14, 2));
    info.Second = Latin1ToUtf8(text.substr(17, 2));
    return true;
}

std::string CameraNameOf(const std::string& makeText, const std::string& modelText)
{
    // The model alone when it already holds the maker's first word.
    const bool modelHoldsMake = !modelText.empty() && modelText.find(makeText) != std::string::npos;
    return CleanCameraName(modelHoldsMake ? modelText : makeText + " " + modelText);
}

std::string CameraNameFromTags(std::string_view make, std::string_view model)
{
    const std::string makeText(make.substr(0, make.find(' ')));
    const std::string modelText = TrimSpaces(std::string(model.substr(0, model.find('\0'))));
    return CameraNameOf(makeText, modelText);
}

std::optional<std::uint16_t> ReadOrderedWord(const HeadBuffer& head, std::string_view order,
                                             std::int64_t pos)
{
    if (!Inside(pos, 2))
        return std::nullopt;
    const std::uint16_t b0 = head[static_cast<std::size_t>(pos)];
    const std::uint16_t b1 = head[static_cast<std::size_t>(pos) + 1];
    if (order == "II")
        return static_cast<std::uint16_t>(b0 | (b1 << 8));
    return static_cast<std::uint16_t>((b0 << 8) | b1);
}

std::optional<std::int32_t> ReadOrderedLong(const HeadBuffer& head, std::string_view order,
                                            std::int64_t pos)
{
    if (order != "II" && order != "MM")
        return 0;
    if (!Inside(pos, 4))
        return std::nullopt;
    const auto* b = head.data() + pos;
    const std::uint32_t value = order == "II"
                                    ? (std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                                       std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24)
                                    : (std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 |
                                       std::uint32_t{b[2]} << 8 | std::uint32_t{b[3]});
    if (value >= 0x80000000u) // does not fit a signed 32-bit value
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

ExifInfo ParseExifHead(const HeadBuffer& head)
{
    try {
        return Parse(head);
    } catch (const Unreadable&) {
        return {};
    }
}

void ApplyExifInfo(const ExifInfo& info, FileEntry& entry, const RunOptions& options)
{
    if (!info.HasExif)
        return;
    if (info.HasDate)
        CopyDateFields(info, entry);
    entry.CameraModel = options.Model == 1 ? "[" + info.CameraName + "]" : std::string();
}

std::error_code ReadHead(const std::string& path, HeadBuffer& head)
{
    head.fill(0);
    struct stat st {};
    std::error_code error;
    const UniqueFd file = OpenRegularFile(AT_FDCWD, path, 0, st, error);
    if (error)
        return error;
    return ReadHeadAt(file.get(), st.st_size, head);
}

std::error_code ReadHeadAt(int fd, off_t size, HeadBuffer& head)
{
    head.fill(0);
    std::size_t filled = 0;
    while (filled < head.size()) {
        const ssize_t got =
            ::pread(fd, head.data() + filled, head.size() - filled, static_cast<off_t>(filled));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return {errno, std::generic_category()};
        }
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
        // All of a small file is in: another read would only find its end. (A file that grew
        // since it was opened is read as it was then, as far as the head goes.)
        if (size > 0 && filled >= static_cast<std::uint64_t>(size))
            break;
    }
    return {};
}

std::error_code ReadExifInfo(const std::string& path, FileEntry& entry, const RunOptions& options)
{
    HeadBuffer head;
    if (const auto error = ReadHead(path, head))
        return error;
    ApplyExifInfo(ParseExifHead(head), entry, options);
    return {};
}

} // namespace engine
