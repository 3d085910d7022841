// The exiv2 module of the media layer: reads the EXIF tags of a picture through libexiv2.
// Loaded by media_dates.cpp at its first picture (see exiv2_pictures.h).
#include "media/exiv2_pictures.h"
#include "media/read_at.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// A picture larger than this is not mapped (exiv2 maps TIFF-based files whole): no date.
constexpr std::uint64_t kMaxMapBytes = std::uint64_t{256} << 20;

// exiv2's view of an open file: read-only, reads served from the head where it holds them,
// the rest by pread. mmap gives an anonymous copy (see mapFill), never a mapping of the file,
// so a file cut short while it is read cannot end the program.
class FileIo : public Exiv2::BasicIo {
public:
    explicit FileIo(const VelmoraPictureRequest& request) : r_(request) {}
    ~FileIo() override { munmap(); }

    bool MapWasPartial() const { return mapPartial_; }

    int open() override
    {
        pos_ = 0;
        eof_ = false;
        return 0;
    }
    int close() override { return munmap(); }
    long write(const Exiv2::byte*, long) override { return 0; }
    long write(Exiv2::BasicIo&) override { return 0; }
    int putb(Exiv2::byte) override { return EOF; }
    Exiv2::DataBuf read(long count) override
    {
        // Never more than the file has: counts come from file data.
        const std::uint64_t left = Size() - std::min<std::uint64_t>(pos_, Size());
        Exiv2::DataBuf buf(static_cast<long>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(count, 0L)), left)));
        buf.size_ = read(buf.pData_, buf.size_);
        return buf;
    }
    long read(Exiv2::byte* out, long count) override
    {
        if (count <= 0 || out == nullptr)
            return 0;
        const std::uint64_t left = Size() - std::min<std::uint64_t>(pos_, Size());
        const auto n = static_cast<std::size_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(count), left));
        std::size_t got;
        if (pos_ <= r_.headSize && r_.headSize - pos_ >= n) {
            std::memcpy(out, r_.head + pos_, n);
            got = n;
        } else {
            got = ReadAt(pos_, out, n);
        }
        pos_ += got;
        if (got < static_cast<std::size_t>(count))
            eof_ = true;
        return static_cast<long>(got);
    }
    int getb() override
    {
        Exiv2::byte b = 0;
        return read(&b, 1) == 1 ? b : EOF;
    }
    void transfer(Exiv2::BasicIo&) override { throw Exiv2::Error(Exiv2::kerFunctionNotSupported); }
    int seek(long offset, Position from) override
    {
        const long base = from == beg   ? 0
                          : from == cur ? static_cast<long>(pos_)
                                        : static_cast<long>(Size());
        if ((offset > 0 && base > LONG_MAX - offset) || base + offset < 0)
            return 1;
        const auto target = static_cast<std::uint64_t>(base + offset);
        eof_ = target > Size();
        if (eof_)
            return 1;
        pos_ = target;
        return 0;
    }
    Exiv2::byte* mmap(bool writeable) override
    {
        if (writeable || Size() > kMaxMapBytes)
            throw Exiv2::Error(Exiv2::kerFunctionNotSupported);
        if (map_ != nullptr)
            return map_;
        const std::size_t size = static_cast<std::size_t>(std::max<std::uint64_t>(Size(), 1));
        void* map =
            ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            throw Exiv2::Error(Exiv2::kerCallFailed);
        map_ = static_cast<Exiv2::byte*>(map);
        mapSize_ = size;
        const std::size_t fill =
            std::min<std::size_t>(static_cast<std::size_t>(Size()), r_.mapFill);
        const std::size_t fromHead = std::min(fill, r_.headSize); // read already
        std::memcpy(map_, r_.head, fromHead);
        ReadAt(fromHead, map_ + fromHead, fill - fromHead);
        mapPartial_ = fill < Size();
        return map_;
    }
    int munmap() override
    {
        if (map_ != nullptr)
            ::munmap(map_, mapSize_);
        map_ = nullptr;
        return 0;
    }
    long tell() const override { return static_cast<long>(pos_); }
    size_t size() const override { return static_cast<size_t>(Size()); }
    bool isopen() const override { return true; }
    int error() const override { return 0; }
    bool eof() const override { return eof_; }
    std::string path() const override { return r_.path; }

private:
    std::uint64_t Size() const { return r_.size; }

    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) const
    {
        return media::ReadAt(r_.fd, offset, out, n);
    }

    const VelmoraPictureRequest& r_;
    std::uint64_t pos_ = 0;
    bool eof_ = false;
    Exiv2::byte* map_ = nullptr;
    std::size_t mapSize_ = 0;
    bool mapPartial_ = false;
};

// Copies a tag's raw value bytes, whatever its type (as the engine's reader takes them),
// without trailing zero bytes.
void CopyTag(const Exiv2::ExifData& exif, const char* key, VelmoraTag& tag)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end())
        return;
    const long size = it->value().size();
    if (size <= 0 || size > 65535)
        return;
    std::vector<Exiv2::byte> bytes(static_cast<std::size_t>(size));
    it->value().copy(bytes.data(), Exiv2::bigEndian);
    while (!bytes.empty() && bytes.back() == 0)
        bytes.pop_back();
    tag.present = 1;
    tag.size = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), VelmoraTagBytes));
    std::memcpy(tag.bytes, bytes.data(), tag.size);
}

int ReadPicture(const VelmoraPictureRequest& request, VelmoraPictureTags& tags)
{
    auto* io = new FileIo(request);
    Exiv2::BasicIo::AutoPtr owned(io);
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(owned);
    // Pictures only: exiv2's video readers walk whole files; movies have a reader of their own.
    if (image.get() == nullptr || image->mimeType().rfind("video/", 0) == 0)
        return -1;
    image->readMetadata();
    tags.mapPartial = io->MapWasPartial() ? 1 : 0;
    const Exiv2::ExifData& exif = image->exifData();
    const char* dateKeys[] = {"Exif.Photo.DateTimeOriginal", "Exif.Image.DateTimeOriginal",
                              "Exif.Photo.DateTimeDigitized", "Exif.Image.DateTime"};
    for (int i = 0; i < 4; ++i)
        CopyTag(exif, dateKeys[i], tags.dates[i]);
    // Panasonic's raw files keep Make and Model in a directory of their own.
    for (const char* group : {"Exif.Image.", "Exif.PanasonicRaw."}) {
        CopyTag(exif, (std::string(group) + "Make").c_str(), tags.make);
        CopyTag(exif, (std::string(group) + "Model").c_str(), tags.model);
        if (tags.make.present || tags.model.present)
            break;
    }
    return 0;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int
velmora_exiv2_read_picture(const VelmoraPictureRequest* request, VelmoraPictureTags* tags)
{
    static std::once_flag once;
    *tags = VelmoraPictureTags{};
    try {
        std::call_once(once, [] {
            // Unreadable files are expected here; exiv2 must not write about them.
            Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
            Exiv2::LogMsg::setHandler(nullptr);
            Exiv2::enableBMFF(true);
        });
        return ReadPicture(*request, *tags);
    } catch (...) { // exiv2's errors, allocation failures: a picture without tags
        *tags = VelmoraPictureTags{};
        return -1;
    }
}
