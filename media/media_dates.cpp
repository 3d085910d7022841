#include "media/media_dates.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "media/video_boxes.h"

namespace media {

namespace {

// Bytes read at the start of every file: the type tests of exiv2 and of the box reader are
// answered from them.
constexpr std::size_t kHeadBytes = 64 << 10;
// exiv2 maps TIFF-based files whole. The map holds the file's first kMapFill bytes and zeros
// after them (zeros never make a date), which is where raw files keep their EXIF directories;
// when that gives no DateTimeOriginal the file is read whole, up to kMaxMapBytes (larger files
// then give none).
constexpr std::size_t kMapFill = 1 << 20;
constexpr std::uint64_t kMaxMapBytes = std::uint64_t{256} << 20;

// An open regular file, closed with this object.
class File {
public:
    explicit File(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode))
            size_ = static_cast<std::uint64_t>(st.st_size);
        else
            Close();
    }
    ~File() { Close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    std::uint64_t Size() const { return size_; }

    // Reads up to n bytes at offset; the number read (short at the end of the file or on an
    // error).
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) const
    {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got =
                ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

private:
    void Close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
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

// exiv2's view of an open file: read-only, reads served from the head where it holds them,
// the rest by pread. mmap gives an anonymous copy (see kMapFill), never a mapping of the file,
// so a file cut short while it is read cannot end the program.
class FileIo : public Exiv2::BasicIo {
public:
    FileIo(const File& file, const std::string& path, const std::vector<std::uint8_t>& head,
           std::size_t mapFill)
        : file_(file), path_(path), head_(head), mapFill_(mapFill)
    {}
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
        if (pos_ <= head_.size() && head_.size() - pos_ >= n) {
            std::memcpy(out, head_.data() + pos_, n);
            got = n;
        } else {
            got = file_.ReadAt(pos_, out, n);
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
        const std::size_t fill = std::min<std::size_t>(static_cast<std::size_t>(Size()), mapFill_);
        file_.ReadAt(0, map_, fill);
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
    std::string path() const override { return path_; }

private:
    std::uint64_t Size() const { return file_.Size(); }

    const File& file_;
    const std::string& path_;
    const std::vector<std::uint8_t>& head_;
    std::size_t mapFill_;
    std::uint64_t pos_ = 0;
    bool eof_ = false;
    Exiv2::byte* map_ = nullptr;
    std::size_t mapSize_ = 0;
    bool mapPartial_ = false;
};

// The raw bytes of a tag's value, whatever its type (as the engine's reader takes them),
// without trailing zero bytes; empty when the tag is missing.
std::string TagBytes(const Exiv2::ExifData& exif, const char* key)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end())
        return {};
    const long size = it->value().size();
    if (size <= 0 || size > 4096)
        return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    it->value().copy(reinterpret_cast<Exiv2::byte*>(bytes.data()), Exiv2::bigEndian);
    while (!bytes.empty() && bytes.back() == '\0')
        bytes.pop_back();
    return bytes;
}

bool HasTag(const Exiv2::ExifData& exif, const char* key)
{
    return exif.findKey(Exiv2::ExifKey(key)) != exif.end();
}

// One reading by exiv2. incomplete tells whether exiv2 mapped the file, saw only its start and
// found no DateTimeOriginal there: a better date may lie further on.
engine::ExifInfo ReadPicture(const File& file, const std::string& path,
                             const std::vector<std::uint8_t>& head, std::size_t mapFill,
                             bool& incomplete)
{
    engine::ExifInfo info;
    auto* io = new FileIo(file, path, head, mapFill);
    Exiv2::BasicIo::AutoPtr owned(io);
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(owned);
    // Pictures only: exiv2's video readers walk whole files; movies have their own reader.
    if (image.get() == nullptr || image->mimeType().rfind("video/", 0) == 0)
        return info;
    image->readMetadata();
    incomplete = io->MapWasPartial();
    const Exiv2::ExifData& exif = image->exifData();
    if (exif.empty())
        return info;
    int rank = 0;
    for (const char* key : {"Exif.Photo.DateTimeOriginal", "Exif.Image.DateTimeOriginal",
                            "Exif.Photo.DateTimeDigitized", "Exif.Image.DateTime"}) {
        if (engine::TakeExifDate(TagBytes(exif, key), info))
            break;
        ++rank;
    }
    incomplete = incomplete && rank > 1;
    // Panasonic's raw files keep Make and Model in a directory of their own.
    for (const char* group : {"Exif.Image.", "Exif.PanasonicRaw."}) {
        const std::string make = std::string(group) + "Make", model = std::string(group) + "Model";
        if (HasTag(exif, make.c_str()) || HasTag(exif, model.c_str())) {
            info.HasExif = true;
            info.CameraName = engine::CameraNameFromTags(TagBytes(exif, make.c_str()),
                                                         TagBytes(exif, model.c_str()));
            break;
        }
    }
    return info;
}

} // namespace

MediaDateReader::MediaDateReader()
{
    // Unreadable files are expected here; exiv2 must not write about them.
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::LogMsg::setHandler(nullptr);
    Exiv2::enableBMFF(true);
}

engine::ExifInfo MediaDateReader::ReadDates(const std::string& path)
{
    try {
        const File file(path);
        if (!file.IsOpen() || file.Size() == 0)
            return {};
        std::vector<std::uint8_t> head(
            static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), kHeadBytes)));
        head.resize(file.ReadAt(0, head.data(), head.size()));
        if (LooksLikeMovie(head)) {
            FileSource source(file);
            return VideoCaptureInfo(ReadVideoTags(source));
        }
        bool incomplete = false;
        const engine::ExifInfo info = ReadPicture(file, path, head, kMapFill, incomplete);
        if (!incomplete)
            return info;
        return ReadPicture(file, path, head, static_cast<std::size_t>(kMaxMapBytes), incomplete);
    } catch (...) { // exiv2's errors, allocation failures: a file without a date
        return {};
    }
}

} // namespace media
