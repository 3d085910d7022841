#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/dating/exif_reader.h"

namespace test {

using Bytes = std::vector<std::uint8_t>;

// Builds a TIFF block (header, IFD0, an optional Exif sub-IFD, then the value data) in either
// byte order. Values are always stored behind an offset, as the reader expects them.
class TiffBuilder {
public:
    explicit TiffBuilder(bool littleEndian = true) : little_(littleEndian) {}

    // An IFD0 entry holding text; count defaults to the text's length plus its zero byte.
    TiffBuilder& Ascii(std::uint16_t tag, const std::string& text, std::int64_t count = -1);
    // An entry of the Exif sub-IFD holding text (DateTimeOriginal, DateTimeDigitized).
    TiffBuilder& ExifAscii(std::uint16_t tag, const std::string& text);
    // An IFD0 entry with a raw count and value field.
    TiffBuilder& Raw(std::uint16_t tag, std::uint32_t count, std::uint32_t value);
    // Replaces the IFD0 offset of the header.
    TiffBuilder& Ifd0Offset(std::uint32_t offset);

    Bytes Build() const;

private:
    struct Entry {
        std::uint16_t tag;
        std::uint32_t count;
        std::uint32_t value; // raw value when data is empty
        std::string data;    // stored in the data area, value then points at it
        bool raw;
    };
    void Put16(Bytes& out, std::size_t pos, std::uint32_t v) const;
    void Put32(Bytes& out, std::size_t pos, std::uint32_t v) const;

    bool little_;
    std::vector<Entry> ifd0_;
    std::vector<Entry> exif_;
    std::int64_t ifd0Offset_ = -1;
};

// FF D8, then an APP1 segment with the identifier (normally "Exif") and the TIFF block.
Bytes JpegApp1(const Bytes& tiff, const std::string& identifier = "Exif");
// FF D8, an APP0 segment whose length field is app0Length, then the APP1 "Exif" segment.
Bytes JpegApp0App1(const Bytes& tiff, std::uint16_t app0Length = 16);

// The first 5001 bytes, zero-filled.
engine::HeadBuffer ToHead(const Bytes& bytes);
std::string ToString(const Bytes& bytes);

} // namespace test
