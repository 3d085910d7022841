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

#include "engine/open_file.h"
#include "media/exiv2_pictures.h"
#include "media/read_at.h"
#include "media/video_boxes.h"

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

// The module's reading function, loaded once: beside the program, where it is installed, or
// where the build put it. None when it cannot be loaded: pictures then give no date.
VelmoraReadPicture PictureReader()
{
    static const VelmoraReadPicture reader = []() -> VelmoraReadPicture {
        std::vector<std::string> candidates;
        std::string exe(4096, '\0');
        const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
        if (n > 0) {
            exe.resize(static_cast<std::size_t>(n));
            candidates.push_back(exe.substr(0, exe.rfind('/') + 1) + "velmora-exiv2.so");
        }
        candidates.push_back(VELMORA_EXIV2_INSTALLED);
        candidates.push_back(VELMORA_EXIV2_MODULE);
        for (const std::string& candidate : candidates) {
            void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (module == nullptr)
                continue;
            if (void* symbol = ::dlsym(module, "velmora_exiv2_read_picture"))
                return reinterpret_cast<VelmoraReadPicture>(symbol);
            ::dlclose(module);
        }
        return nullptr;
    }();
    return reader;
}

std::string_view TagText(const VelmoraTag& tag)
{
    return {tag.bytes, tag.size};
}

// One reading of a picture's tags. incomplete tells whether exiv2 mapped the file, saw only its
// start and found no DateTimeOriginal there: a better date may lie further on.
engine::ExifInfo ReadPicture(const File& file, const std::string& path,
                             const std::vector<std::uint8_t>& head, std::size_t mapFill,
                             bool& incomplete)
{
    engine::ExifInfo info;
    incomplete = false;
    const VelmoraReadPicture read = PictureReader();
    VelmoraPictureTags tags{};
    const VelmoraPictureRequest request{file.Descriptor(), file.Size(), path.c_str(),
                                        head.data(),       head.size(), mapFill};
    if (read == nullptr || read(&request, &tags) != 0)
        return info;
    int rank = 0;
    while (rank < 4 && !engine::TakeExifDate(TagText(tags.dates[rank]), info))
        ++rank;
    incomplete = tags.mapPartial != 0 && rank > 1;
    if (tags.make.present || tags.model.present) {
        info.HasExif = true;
        info.CameraName = engine::CameraNameFromTags(TagText(tags.make), TagText(tags.model));
    }
    return info;
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
        if (LooksLikeMovie(head)) {
            FileSource source(file);
            return VideoCaptureInfo(ReadVideoTags(source));
        }
        bool incomplete = false;
        const engine::ExifInfo info = ReadPicture(file, path, head, kMapFill, incomplete);
        if (!incomplete)
            return info;
        return ReadPicture(file, path, head, kWholeFile, incomplete);
    } catch (...) { // allocation failures: a file without a date
        return {};
    }
}

} // namespace media
