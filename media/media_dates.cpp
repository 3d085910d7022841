#include "media/media_dates.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <exception>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "engine/base/open_file.h"
#include "media/avchd.h"
#include "media/exiv2_pictures.h"
#include "media/picture_tags.h"
#include "media/read_at.h"
#include "media/video_boxes.h"
#include "platform/trusted_module.h"

namespace media {

namespace {

// Bytes read at the start of every file: the type tests of exiv2 and of the box reader are
// answered from them.
constexpr std::size_t kHeadBytes = 64 << 10;
// exiv2 maps TIFF-based files whole. The map holds the file's first kMapFill bytes and zeros
// after them (zeros never make a date), which is where raw files keep their EXIF directories;
// when that gives no DateTimeOriginal the file is read whole (up to the module's limit).
constexpr std::size_t kMapFill = 256 << 10;
constexpr std::size_t kWholeFile = SIZE_MAX;

// An open regular file, closed with this object.
class File {
public:
    explicit File(const std::string& path)
    {
        struct stat st {};
        std::error_code error;
        fd_ = engine::OpenRegularFile(AT_FDCWD, path, 0, st, error);
        if (!error)
            size_ = static_cast<std::uint64_t>(st.st_size);
    }

    bool IsOpen() const { return fd_.get() >= 0; }
    int Descriptor() const { return fd_.get(); }
    std::uint64_t Size() const { return size_; }

    // Reads up to n bytes at offset; the number read (short at the end or on an error).
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) const
    {
        return media::ReadAt(fd_.get(), offset, out, n);
    }

private:
    engine::UniqueFd fd_;
    std::uint64_t size_ = 0;
};

// The box reader's view of an open file.
class FileSource : public ByteSource {
public:
    explicit FileSource(const File& file) : file_(file) {}
    std::uint64_t Size() const override { return file_.Size(); }
    bool ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) override
    {
        return file_.ReadAt(offset, out, n) == n;
    }

private:
    const File& file_;
};

// The module's reading function, loaded once, from the program's own tree only (see
// platform::LoadTrustedModule). None when there is no module that may be loaded: pictures then
// give no date.
VelmoraReadPicture PictureReader()
{
    static const VelmoraReadPicture reader = []() -> VelmoraReadPicture {
        std::string problem;
        void* module = platform::LoadTrustedModule("velmora-exiv2.so", "velmora_exiv2_interface",
                                                   VelmoraPictureInterface, problem);
        return module != nullptr ? reinterpret_cast<VelmoraReadPicture>(
                                       ::dlsym(module, "velmora_exiv2_read_picture"))
                                 : nullptr;
    }();
    return reader;
}

std::string_view TagText(const VelmoraTag& tag)
{
    return {tag.bytes, tag.size};
}

// Chooses the capture date of a picture's tags: EXIF DateTimeOriginal, XMP's dates, a PNG's
// "Creation Time" text, EXIF DateTimeDigitized, IFD0 DateTime; the first valid one. Returns
// the rank of the tag taken (VelmoraDateTags when none).
int ChooseDate(const VelmoraPictureTags& tags, const std::string& pngText, engine::ExifInfo& info)
{
    for (int rank = 0; rank < VelmoraDateTags; ++rank) {
        if (rank == VelmoraExifDigitized && TakeTextDate(pngText, info))
            return rank;
        const VelmoraTag& tag = tags.dates[rank];
        if (!tag.present)
            continue;
        const bool xmp = rank >= VelmoraXmpOriginal && rank <= VelmoraXmpCreated;
        if (xmp ? TakeTextDate(TagText(tag), info) : TakeValidExifDate(TagText(tag), info))
            return rank;
    }
    return VelmoraDateTags;
}

// One reading of a picture's tags through the module; false when it could not read the file.
// incomplete tells whether exiv2 mapped the file, saw only its start and found no EXIF
// DateTimeOriginal there: a better date may lie further on.
bool ReadPicture(const File& file, const std::string& path, const std::vector<std::uint8_t>& head,
                 std::size_t mapFill, bool heif, bool& incomplete, engine::ExifInfo& info)
{
    info = {};
    incomplete = false;
    const VelmoraReadPicture read = PictureReader();
    VelmoraPictureTags tags{};
    const VelmoraPictureRequest request{file.Descriptor(), file.Size(), path.c_str(),
                                        head.data(),       head.size(), mapFill,
                                        heif ? 1 : 0};
    if (read == nullptr || read(&request, &tags) != 0)
        return false;
    const int rank = ChooseDate(tags, PngCreationTime(head), info);
    incomplete = tags.mapPartial != 0 && rank > VelmoraExifImageOriginal;
    if (tags.make.present || tags.model.present) {
        info.HasExif = true;
        info.CameraName = engine::CameraNameFromTags(TagText(tags.make), TagText(tags.model));
    }
    return true;
}

// A CR3's CMT blocks read by the own box and TIFF readers, for files exiv2 refuses.
engine::ExifInfo CanonInfo(ByteSource& source)
{
    const CanonBlocks blocks = ReadCanonBlocks(source);
    const TiffTags ifd0 = ReadTiffTags(blocks.cmt1), exif = ReadTiffTags(blocks.cmt2);
    engine::ExifInfo info;
    for (const std::string* date : {&exif.dateTimeOriginal, &ifd0.dateTimeOriginal,
                                    &exif.dateTimeDigitized, &ifd0.dateTime})
        if (TakeValidExifDate(*date, info))
            break;
    if (!ifd0.make.empty() || !ifd0.model.empty()) {
        info.HasExif = true;
        info.CameraName = engine::CameraNameFromTags(ifd0.make, ifd0.model);
    }
    return info;
}

// The first bytes of a file whose boxes a library parses: ISO-BMFF ("ftyp") or JPEG XL's box
// container.
bool IsBoxFile(const std::vector<std::uint8_t>& head)
{
    static constexpr std::uint8_t kJxl[12] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', 13, 10, 0x87, 10};
    return head.size() >= 12 && (std::memcmp(head.data() + 4, "ftyp", 4) == 0 ||
                                 std::memcmp(head.data(), kJxl, sizeof kJxl) == 0);
}

} // namespace

engine::ExifInfo MediaDateReader::ReadDates(const std::string& path)
{
    try {
        const File file(path);
        if (!file.IsOpen() || file.Size() == 0)
            return {};
        std::vector<std::uint8_t> head(
            static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), kHeadBytes)));
        head.resize(file.ReadAt(0, head.data(), head.size()));
        FileSource source(file);
        if (LooksLikeTransportStream(head)) // AVCHD
            return ReadAvchdDate(source);
        const BoxFileKind kind = KindOfBoxFile(head);
        if (kind == BoxFileKind::Movie)
            return VideoCaptureInfo(ReadVideoTags(source));
        // Nesting too deep for the libraries' box parsers: the own readers alone.
        const bool fits = !IsBoxFile(head) || BoxTreeWithinLimits(source);
        engine::ExifInfo info;
        bool incomplete = false;
        if (kind == BoxFileKind::Heif) {
            if (!fits || !ReadPicture(file, path, head, kMapFill, true, incomplete, info) ||
                !info.HasDate) {
                // An image sequence may date only its movie.
                engine::ExifInfo movie = VideoCaptureInfo(ReadVideoTags(source));
                if (info.HasExif && !movie.HasExif) {
                    movie.HasExif = true;
                    movie.CameraName = info.CameraName;
                }
                return movie.HasDate || movie.HasExif ? movie : info;
            }
            return info;
        }
        if (kind == BoxFileKind::Cr3 &&
            (!fits || !ReadPicture(file, path, head, kMapFill, false, incomplete, info) ||
             !info.HasDate))
            return CanonInfo(source);
        if (!fits || !ReadPicture(file, path, head, kMapFill, false, incomplete, info))
            return {};
        engine::ExifInfo whole;
        if (incomplete && ReadPicture(file, path, head, kWholeFile, false, incomplete, whole))
            return whole;
        return info;
    } catch (...) { // allocation failures: a file without a date
        return {};
    }
}

} // namespace media
