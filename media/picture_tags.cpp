#include "media/picture_tags.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/dating/date_source.h"

namespace media {

namespace {

// A TIFF block's reader: byte order, bounds.
class Tiff {
public:
    explicit Tiff(std::span<const std::uint8_t> bytes) : b_(bytes) {}

    bool Header(std::uint32_t& ifd0)
    {
        if (b_.size() < 8)
            return false;
        if (b_[0] == 'I' && b_[1] == 'I')
            little_ = true;
        else if (b_[0] != 'M' || b_[1] != 'M')
            return false;
        if (U16(2) != 42)
            return false;
        ifd0 = U32(4);
        return true;
    }

    bool Fits(std::uint64_t at, std::uint64_t n) const { return at <= b_.size() && b_.size() - at >= n; }

    std::uint32_t U16(std::size_t at) const
    {
        return little_ ? b_[at] | b_[at + 1] << 8 : b_[at] << 8 | b_[at + 1];
    }
    std::uint32_t U32(std::size_t at) const
    {
        return little_ ? U16(at) | U16(at + 2) << 16 : U16(at) << 16 | U16(at + 2);
    }

    // The ASCII (or UNDEFINED) value of an entry at `at`: inline when 4 bytes or fewer.
    std::string Text(std::size_t at) const
    {
        const std::uint32_t type = U16(at + 2), count = U32(at + 4);
        if ((type != 2 && type != 7 && type != 1) || count == 0)
            return {};
        std::uint64_t from = at + 8;
        if (count > 4)
            from = U32(at + 8);
        if (!Fits(from, count))
            return {};
        std::string text(reinterpret_cast<const char*>(b_.data() + from),
                         std::min<std::size_t>(count, kMaxTiffText));
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        return text;
    }

    // Reads the entries of the IFD at offset; returns the Exif IFD pointer (0 when none).
    std::uint32_t Directory(std::uint32_t offset, TiffTags& tags) const
    {
        if (!Fits(offset, 2))
            return 0;
        const std::uint32_t count = U16(offset);
        std::uint32_t exif = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t at = offset + 2 + std::uint64_t{12} * i;
            if (!Fits(at, 12))
                break;
            const auto entry = static_cast<std::size_t>(at);
            switch (U16(entry)) {
            case 0x010F: tags.make = Text(entry); break;
            case 0x0110: tags.model = Text(entry); break;
            case 0x0132: tags.dateTime = Text(entry); break;
            case 0x9003: tags.dateTimeOriginal = Text(entry); break;
            case 0x9004: tags.dateTimeDigitized = Text(entry); break;
            case 0x8769: exif = U32(entry + 8); break;
            default: break;
            }
        }
        return exif;
    }

private:
    std::span<const std::uint8_t> b_;
    bool little_ = false;
};

bool Digits(std::string_view text, std::size_t pos, std::size_t n, int& value)
{
    value = 0;
    if (pos > text.size() || text.size() - pos < n)
        return false;
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "2023-07-08T22:31[:01][.123][Z|+02:00]", also with a space or EXIF's colons in the date.
bool TakeIsoDate(std::string_view text, engine::ExifInfo& info)
{
    int y, mo, d, h, mi, s = 0;
    if (text.size() < 16 || !Digits(text, 0, 4, y) || !Digits(text, 5, 2, mo) ||
        !Digits(text, 8, 2, d) || !Digits(text, 11, 2, h) || !Digits(text, 14, 2, mi))
        return false;
    const char sep = text[4];
    if ((sep != '-' && sep != ':') || text[7] != sep || (text[10] != 'T' && text[10] != ' ') ||
        text[13] != ':')
        return false;
    std::size_t end = 16;
    if (end < text.size() && text[end] == ':') {
        if (!Digits(text, 17, 2, s))
            return false;
        end = 19;
        if (end < text.size() && text[end] == '.')
            for (++end; end < text.size() && text[end] >= '0' && text[end] <= '9';)
                ++end;
    }
    // Only an offset may follow: "Z", "+hh:mm", "-hhmm".
    const std::string_view rest = text.substr(end);
    int oh, om;
    const bool offset =
        rest.empty() || rest == "Z" ||
        ((rest[0] == '+' || rest[0] == '-') && Digits(rest, 1, 2, oh) &&
         (rest.size() == 3 || (rest.size() == 6 && rest[3] == ':' && Digits(rest, 4, 2, om)) ||
          (rest.size() == 5 && Digits(rest, 3, 2, om))));
    return offset && engine::SetCaptureDate(info, y, mo, d, h, mi, s);
}

// "Sat, 08 Jul 2023 22:31:01 +0200" (the day name and the zone may be missing).
bool TakeRfc1123Date(std::string_view text, engine::ExifInfo& info)
{
    if (const auto comma = text.find(", "); comma != std::string_view::npos && comma <= 9)
        text.remove_prefix(comma + 2);
    static constexpr std::array<std::string_view, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int d, y, h, mi, s;
    const std::size_t dayDigits = text.size() > 1 && text[1] == ' ' ? 1 : 2;
    if (!Digits(text, 0, dayDigits, d) || text.size() < dayDigits + 18)
        return false;
    text.remove_prefix(dayDigits);
    const auto month = std::find(kMonths.begin(), kMonths.end(), text.substr(1, 3));
    if (text[0] != ' ' || month == kMonths.end() || text[4] != ' ' || !Digits(text, 5, 4, y) ||
        text[9] != ' ' || !Digits(text, 10, 2, h) || text[12] != ':' || !Digits(text, 13, 2, mi) ||
        text[15] != ':' || !Digits(text, 16, 2, s))
        return false;
    if (text.size() > 18 && text[18] != ' ')
        return false;
    return engine::SetCaptureDate(info, y, static_cast<int>(month - kMonths.begin()) + 1, d, h,
                                  mi, s);
}

} // namespace

TiffTags ReadTiffTags(std::span<const std::uint8_t> tiff)
{
    TiffTags tags;
    Tiff reader(tiff);
    std::uint32_t ifd0 = 0;
    if (!reader.Header(ifd0))
        return tags;
    const std::uint32_t exif = reader.Directory(ifd0, tags);
    if (exif != 0 && exif != ifd0)
        reader.Directory(exif, tags);
    return tags;
}

std::string PngCreationTime(std::span<const std::uint8_t> head)
{
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    head = head.first(std::min(head.size(), kMaxPngBytes));
    if (head.size() < 8 || std::memcmp(head.data(), kSignature, 8) != 0)
        return {};
    static constexpr std::string_view kKeyword("Creation Time\0", 14);
    // length(4) type(4) data crc(4)
    for (std::size_t at = 8; head.size() - at >= 8;) {
        const std::uint32_t length = std::uint32_t{head[at]} << 24 | head[at + 1] << 16 |
                                     head[at + 2] << 8 | head[at + 3];
        const std::string_view type(reinterpret_cast<const char*>(head.data() + at + 4), 4);
        if (type == "IDAT" || type == "IEND" || length > head.size() - at - 8)
            break;
        const std::string_view data(reinterpret_cast<const char*>(head.data() + at + 8), length);
        if ((type == "tEXt" || type == "iTXt") && data.substr(0, kKeyword.size()) == kKeyword) {
            std::string_view text = data.substr(kKeyword.size());
            if (type == "iTXt") { // compressed(1) method(1) language\0 translated keyword\0
                if (text.size() < 2 || text[0] != 0)
                    break;
                text.remove_prefix(2);
                for (int field = 0; field < 2; ++field) {
                    const auto zero = text.find('\0');
                    if (zero == std::string_view::npos)
                        return {};
                    text.remove_prefix(zero + 1);
                }
            }
            return std::string(text.substr(0, kMaxTiffText));
        }
        at += std::size_t{length} + 12;
        if (at > head.size())
            break;
    }
    return {};
}

bool TakeTextDate(std::string_view text, engine::ExifInfo& info)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return TakeIsoDate(text, info) || TakeRfc1123Date(text, info);
}

bool TakeValidExifDate(std::string_view text, engine::ExifInfo& info)
{
    engine::ExifInfo cut;
    if (!engine::TakeExifDate(text, cut))
        return false;
    int y, mo, d, h, mi, s;
    if (!Digits(cut.Year4, 0, 4, y) || !Digits(cut.Month, 0, 2, mo) || !Digits(cut.Day, 0, 2, d) ||
        !Digits(cut.Hour, 0, 2, h) || !Digits(cut.Minute, 0, 2, mi) || !Digits(cut.Second, 0, 2, s) ||
        !engine::IsValidDate(y, mo, d) || !engine::IsValidClock(h, mi, s))
        return false;
    info.HasDate = true;
    engine::CopyDateFields(cut, info);
    return true;
}

} // namespace media
