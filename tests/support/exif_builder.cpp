#include "tests/support/exif_builder.h"

#include <algorithm>

namespace test {

TiffBuilder& TiffBuilder::Ascii(std::uint16_t tag, const std::string& text, std::int64_t count)
{
    std::string data = text;
    data += '\0';
    const auto n =
        count < 0 ? static_cast<std::uint32_t>(data.size()) : static_cast<std::uint32_t>(count);
    ifd0_.push_back({tag, n, 0, data, false});
    return *this;
}

TiffBuilder& TiffBuilder::ExifAscii(std::uint16_t tag, const std::string& text)
{
    std::string data = text;
    data += '\0';
    exif_.push_back({tag, static_cast<std::uint32_t>(data.size()), 0, data, false});
    return *this;
}

TiffBuilder& TiffBuilder::Raw(std::uint16_t tag, std::uint32_t count, std::uint32_t value)
{
    ifd0_.push_back({tag, count, value, {}, true});
    return *this;
}

TiffBuilder& TiffBuilder::Ifd0Offset(std::uint32_t offset)
{
    ifd0Offset_ = offset;
    return *this;
}

void TiffBuilder::Put16(Bytes& out, std::size_t pos, std::uint32_t v) const
{
    if (out.size() < pos + 2)
        out.resize(pos + 2);
    out[pos + (little_ ? 0 : 1)] = static_cast<std::uint8_t>(v & 0xFF);
    out[pos + (little_ ? 1 : 0)] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

void TiffBuilder::Put32(Bytes& out, std::size_t pos, std::uint32_t v) const
{
    if (out.size() < pos + 4)
        out.resize(pos + 4);
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
        out[pos + static_cast<std::size_t>(little_ ? i : 3 - i)] = byte;
    }
}

Bytes TiffBuilder::Build() const
{
    std::vector<Entry> ifd0 = ifd0_;
    if (!exif_.empty())
        ifd0.push_back({0x8769, 1, 0, {}, false}); // value filled below

    const std::size_t ifd0Pos = 8;
    const std::size_t exifPos = ifd0Pos + 2 + 12 * ifd0.size() + 4;
    std::size_t dataPos = exifPos + (exif_.empty() ? 0 : 2 + 12 * exif_.size() + 4);

    Bytes out(dataPos, 0);
    out[0] = out[1] = little_ ? 'I' : 'M';
    Put16(out, 2, 42);
    Put32(out, 4, ifd0Offset_ >= 0 ? static_cast<std::uint32_t>(ifd0Offset_) : ifd0Pos);

    const auto writeIfd = [&](std::size_t pos, const std::vector<Entry>& entries) {
        Put16(out, pos, static_cast<std::uint32_t>(entries.size()));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            const std::size_t at = pos + 2 + 12 * i;
            Put16(out, at, e.tag);
            Put16(out, at + 2, 2); // ASCII; the reader never looks at it
            Put32(out, at + 4, e.count);
            std::uint32_t value = e.value;
            if (e.tag == 0x8769 && !e.raw && e.data.empty()) {
                value = static_cast<std::uint32_t>(exifPos);
            } else if (!e.raw) {
                value = static_cast<std::uint32_t>(dataPos);
                out.resize(dataPos + e.data.size());
                std::copy(e.data.begin(), e.data.end(), out.begin() + static_cast<long>(dataPos));
                dataPos += e.data.size();
            }
            Put32(out, at + 8, value);
        }
        Put32(out, pos + 2 + 12 * entries.size(), 0);
    };
    writeIfd(ifd0Pos, ifd0);
    if (!exif_.empty())
        writeIfd(exifPos, exif_);
    return out;
}

Bytes JpegApp1(const Bytes& tiff, const std::string& identifier)
{
    Bytes out = {0xFF, 0xD8, 0xFF, 0xE1};
    const std::size_t length = 2 + 6 + tiff.size();
    out.push_back(static_cast<std::uint8_t>((length >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(length & 0xFF));
    out.insert(out.end(), identifier.begin(), identifier.end());
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), tiff.begin(), tiff.end());
    return out;
}

Bytes JpegApp0App1(const Bytes& tiff, std::uint16_t app0Length)
{
    Bytes out = {0xFF, 0xD8, 0xFF, 0xE0};
    out.push_back(static_cast<std::uint8_t>(app0Length >> 8));
    out.push_back(static_cast<std::uint8_t>(app0Length & 0xFF));
    // The APP0 body: its length counts the two length bytes.
    const std::size_t body = app0Length >= 2 ? app0Length - 2u : 0u;
    const std::string jfif = "JFIF";
    for (std::size_t i = 0; i < body; ++i)
        out.push_back(i < jfif.size() ? static_cast<std::uint8_t>(jfif[i]) : 0);
    Bytes app1 = JpegApp1(tiff);
    out.insert(out.end(), app1.begin() + 2, app1.end()); // without the second FF D8
    return out;
}

engine::HeadBuffer ToHead(const Bytes& bytes)
{
    engine::HeadBuffer head{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), head.size()), head.begin());
    return head;
}

std::string ToString(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

} // namespace test
