// The picture module of the media layer: reads the EXIF and XMP tags of a picture through
// libexiv2, and the metadata items of a HEIF or AVIF file through libheif. Loaded by
// media_dates.cpp at its first picture (see exiv2_pictures.h).
#include "media/exiv2_pictures.h"
#include "media/read_at.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>
#include <memory>
#include <string>
#include <mutex>
#include <set>
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
#ifdef MADV_POPULATE_WRITE
        // The part about to be filled, in one call rather than a fault per page (costly in a
        // virtual machine: a raw file's dates took twice as long). Older kernels refuse it,
        // and the pages fault in as they are filled.
        ::madvise(map, fill, MADV_POPULATE_WRITE);
#endif
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

// Copies an XMP property's text, cut to VelmoraTagBytes.
void CopyXmp(const Exiv2::XmpData& xmp, const char* key, VelmoraTag& tag)
{
    const auto it = xmp.findKey(Exiv2::XmpKey(key));
    if (it == xmp.end())
        return;
    const std::string text = it->toString();
    tag.present = 1;
    tag.size = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), VelmoraTagBytes));
    std::memcpy(tag.bytes, text.data(), tag.size);
}

void CopyTags(const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp, VelmoraPictureTags& tags)
{
    CopyTag(exif, "Exif.Photo.DateTimeOriginal", tags.dates[VelmoraExifOriginal]);
    CopyTag(exif, "Exif.Image.DateTimeOriginal", tags.dates[VelmoraExifImageOriginal]);
    CopyXmp(xmp, "Xmp.exif.DateTimeOriginal", tags.dates[VelmoraXmpOriginal]);
    CopyXmp(xmp, "Xmp.xmp.CreateDate", tags.dates[VelmoraXmpCreate]);
    CopyXmp(xmp, "Xmp.photoshop.DateCreated", tags.dates[VelmoraXmpCreated]);
    CopyTag(exif, "Exif.Photo.DateTimeDigitized", tags.dates[VelmoraExifDigitized]);
    CopyTag(exif, "Exif.Image.DateTime", tags.dates[VelmoraExifDateTime]);
    // Panasonic's raw files keep Make and Model in a directory of their own.
    for (const char* group : {"Exif.Image.", "Exif.PanasonicRaw."}) {
        CopyTag(exif, (std::string(group) + "Make").c_str(), tags.make);
        CopyTag(exif, (std::string(group) + "Model").c_str(), tags.model);
        if (tags.make.present || tags.model.present)
            break;
    }
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
    CopyTags(image->exifData(), image->xmpData(), tags);
    return 0;
}

// A metadata item larger than this is not read.
constexpr std::size_t kMaxMetadataBytes = 4 << 20;

// libheif 1.15 reads the coded data of every image item, every tile of a grid, while it parses
// a file, though only its metadata items are wanted here: for a phone's picture that is the
// whole file. So a read beyond the head of kPlaceholderBytes or more is not done while
// skipping: libheif gets a placeholder instead, zeros with a 16-byte record (kPlaceholder and
// the read's position in the file) at every kPlaceholderStep bytes. libheif reads each extent
// of an item on its own, so a metadata item that had a part read so begins with a record; the
// file is then parsed again with those reads done.
constexpr std::size_t kPlaceholderBytes = 4096;
constexpr std::size_t kPlaceholderStep = 512;
constexpr std::uint8_t kPlaceholder[8] = {0xFF, 'v', 'l', 'm', 'r', 'a', 0xFE, 0x00};

// libheif's view of an open file: reads through pread, from the head where it holds them.
struct HeifFile {
    const VelmoraPictureRequest& r;
    std::uint64_t pos = 0;
    bool skipping = false;
    std::set<std::uint64_t> placeholders; // where reads got a placeholder in this parse
    std::set<std::uint64_t> readAnyway;   // where reads are done though skipping
};

// Whether bytes hold a record of a placeholder given at a position in placeholders; those
// positions are added to found.
bool HoldsPlaceholder(const std::vector<std::uint8_t>& bytes,
                      const std::set<std::uint64_t>& placeholders, std::set<std::uint64_t>& found)
{
    bool any = false;
    for (auto at = bytes.begin(); (at = std::search(at, bytes.end(), std::begin(kPlaceholder),
                                                    std::end(kPlaceholder))) != bytes.end();
         ++at) {
        std::uint64_t position = 0;
        if (bytes.end() - at < 16)
            break;
        std::memcpy(&position, &*at + 8, sizeof position);
        if (placeholders.count(position) != 0) {
            found.insert(position);
            any = true;
        }
    }
    return any;
}

std::int64_t HeifPosition(void* file)
{
    return static_cast<std::int64_t>(static_cast<HeifFile*>(file)->pos);
}

int HeifRead(void* out, std::size_t size, void* data)
{
    auto& file = *static_cast<HeifFile*>(data);
    if (file.pos > file.r.size || file.r.size - file.pos < size)
        return -1;
    if (size == 0) // libheif may ask for nothing, with no buffer
        return 0;
    std::size_t got = size;
    if (file.pos <= file.r.headSize && file.r.headSize - file.pos >= size) {
        std::memcpy(out, file.r.head + file.pos, size);
    } else if (file.skipping && size >= kPlaceholderBytes && file.readAnyway.count(file.pos) == 0) {
        auto* bytes = static_cast<std::uint8_t*>(out);
        std::memset(bytes, 0, size);
        for (std::size_t at = 0; at + 16 <= size; at += kPlaceholderStep) {
            std::memcpy(bytes + at, kPlaceholder, sizeof kPlaceholder);
            std::memcpy(bytes + at + 8, &file.pos, sizeof file.pos);
        }
        file.placeholders.insert(file.pos);
    } else {
        got = media::ReadAt(file.r.fd, file.pos, static_cast<std::uint8_t*>(out), size);
    }
    file.pos += got;
    return got == size ? 0 : -1;
}

int HeifSeek(std::int64_t position, void* data)
{
    auto& file = *static_cast<HeifFile*>(data);
    if (position < 0 || static_cast<std::uint64_t>(position) > file.r.size)
        return -1;
    file.pos = static_cast<std::uint64_t>(position);
    return 0;
}

heif_reader_grow_status HeifWait(std::int64_t size, void* data)
{
    const auto& file = *static_cast<HeifFile*>(data);
    return size >= 0 && static_cast<std::uint64_t>(size) <= file.r.size
               ? heif_reader_grow_status_size_reached
               : heif_reader_grow_status_size_beyond_eof;
}

// The metadata items of one kind of the primary image; content type filters "mime" items.
std::vector<std::vector<std::uint8_t>> HeifItems(heif_image_handle* image, const char* kind,
                                                 const char* contentType)
{
    std::vector<std::vector<std::uint8_t>> items;
    const int count = heif_image_handle_get_number_of_metadata_blocks(image, kind);
    if (count <= 0)
        return items;
    std::vector<heif_item_id> ids(static_cast<std::size_t>(std::min(count, 16)));
    const int listed = heif_image_handle_get_list_of_metadata_block_IDs(
        image, kind, ids.data(), static_cast<int>(ids.size()));
    for (int i = 0; i < listed; ++i) {
        const heif_item_id id = ids[static_cast<std::size_t>(i)];
        const char* type = heif_image_handle_get_metadata_content_type(image, id);
        if (contentType != nullptr && (type == nullptr || std::strcmp(type, contentType) != 0))
            continue;
        const std::size_t size = heif_image_handle_get_metadata_size(image, id);
        if (size == 0 || size > kMaxMetadataBytes)
            continue;
        std::vector<std::uint8_t> bytes(size);
        if (heif_image_handle_get_metadata(image, id, bytes.data()).code == heif_error_Ok)
            items.push_back(std::move(bytes));
    }
    return items;
}

// Where the TIFF block of a HEIF Exif item starts: after its 4-byte offset field, at that
// offset ("Exif\0\0" before it is usual); else the first "II*\0" or "MM\0*" of its first
// bytes, as some writers put the offset wrong. The item's size when none.
std::size_t TiffStart(const std::vector<std::uint8_t>& item)
{
    const auto isTiff = [&](std::size_t at) {
        return item.size() - at >= 8 &&
               ((item[at] == 'I' && item[at + 1] == 'I' && item[at + 2] == 42 && item[at + 3] == 0) ||
                (item[at] == 'M' && item[at + 1] == 'M' && item[at + 2] == 0 && item[at + 3] == 42));
    };
    if (item.size() < 12)
        return item.size();
    const std::uint64_t offset = std::uint64_t{item[0]} << 24 | item[1] << 16 | item[2] << 8 | item[3];
    if (offset < item.size() - 4 && isTiff(4 + offset))
        return static_cast<std::size_t>(4 + offset);
    for (std::size_t at = 0; at + 8 <= item.size() && at < 64; ++at)
        if (isTiff(at))
            return at;
    return item.size();
}

// The metadata items of the primary image of a HEIF file: the Exif items, then the XMP items.
struct HeifMetadata {
    std::vector<std::vector<std::uint8_t>> exif, xmp;
};

// Parses the file through libheif; false when it cannot.
bool ParseHeif(HeifFile& file, HeifMetadata& metadata)
{
    file.pos = 0;
    file.placeholders.clear();
    std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(),
                                                                   heif_context_free);
    if (!context)
        return false;
    static heif_reader reader{1, HeifPosition, HeifRead, HeifSeek, HeifWait};
    if (heif_context_read_from_reader(context.get(), &reader, &file, nullptr).code != heif_error_Ok)
        return false;
    heif_image_handle* primary = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &primary).code != heif_error_Ok)
        return false;
    std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> image(
        primary, heif_image_handle_release);
    metadata.exif = HeifItems(image.get(), "Exif", nullptr);
    metadata.xmp = HeifItems(image.get(), "mime", "application/rdf+xml");
    return true;
}

// Files larger than a picture is (kMaxMapBytes, as for exiv2's maps) are not handed to libheif.
// The file is parsed skipping large reads (kPlaceholderBytes); when a metadata item holds a
// placeholder, again with those reads done; when that parse fails or still gives placeholders,
// once more reading everything.
int ReadHeif(const VelmoraPictureRequest& request, VelmoraPictureTags& tags)
{
    if (request.size > kMaxMapBytes)
        return -1;
    HeifFile file{request, 0, false, {}, {}};
    HeifMetadata metadata;
    for (int pass = 0; pass < 3; ++pass) {
        file.skipping = pass < 2;
        if (!ParseHeif(file, metadata)) {
            if (!file.skipping)
                return -1;
            pass = 1; // a placeholder may have spoilt the parse: next, read everything
            continue;
        }
        std::set<std::uint64_t> found;
        bool spoilt = false;
        for (const auto* items : {&metadata.exif, &metadata.xmp})
            for (const auto& item : *items)
                spoilt = HoldsPlaceholder(item, file.placeholders, found) || spoilt;
        if (!spoilt) // never after a pass that read everything: it gave no placeholder
            break;
        file.readAnyway.insert(found.begin(), found.end());
    }
    Exiv2::ExifData exif;
    for (const auto& item : metadata.exif) {
        const std::size_t at = TiffStart(item);
        if (at < item.size()) {
            Exiv2::ExifParser::decode(exif, item.data() + at,
                                      static_cast<std::uint32_t>(item.size() - at));
            if (!exif.empty())
                break;
        }
    }
    Exiv2::XmpData xmp;
    for (const auto& item : metadata.xmp) {
        if (Exiv2::XmpParser::decode(xmp, std::string(item.begin(), item.end())) == 0 && !xmp.empty())
            break;
        xmp.clear();
    }
    CopyTags(exif, xmp, tags);
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
        return request->heif != 0 ? ReadHeif(*request, *tags) : ReadPicture(*request, *tags);
    } catch (...) { // exiv2's errors, allocation failures: a picture without tags
        *tags = VelmoraPictureTags{};
        return -1;
    }
}

extern "C" __attribute__((visibility("default"))) int velmora_exiv2_interface(void)
{
    return VelmoraPictureInterface;
}
