// The order of the date sources: EXIF reader, media dates, name dates, file time.
#include "engine/dating/date_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/dating/open_dates.h"
#include "tests/support/exif_builder.h"
#include "tests/support/temp_folder.h"

namespace {

// A media source that answers every file alike and counts the questions.
class FakeMedia : public engine::DateSource {
public:
    engine::ExifInfo ReadDates(const std::string&) override
    {
        ++asked;
        return answer;
    }
    engine::ExifInfo answer;
    int asked = 0;
};

engine::ExifInfo MediaAnswer(bool date, const char* camera)
{
    engine::ExifInfo info;
    if (date)
        engine::SetCaptureDate(info, 2019, 5, 6, 7, 8, 9);
    if (camera != nullptr) {
        info.HasExif = true;
        info.CameraName = camera;
    }
    return info;
}

struct Case {
    const char* what;
    const char* name;
    bool exifJpeg;      // the file is a camera JPEG the EXIF reader dates (2004-04-26)
    bool mediaDate;     // the media source has a date (2019-05-06 07:08:09)
    const char* camera; // the media source's camera, or none
    int mediaOption, nameOption;
    const char* date; // Year4 Month Day Hour Minute Second
    const char* cameraModel;
    int mediaAsked;
};

TEST(DateSourceTest, SourcesAreAskedInTheirFixedOrder)
{
    const Case cases[] = {
        {"options off: file time", "IMG_20230708_223101.heic", false, true, "Cam", 0, 0,
         "20100102030405", "", 0},
        {"EXIF reader first", "IMG_20230708_223101.jpg", true, true, "Cam", 1, 1, "20040426103523",
         "[Acme Z10]", 0},
        {"media dates", "a.heic", false, true, "Cam", 1, 0, "20190506070809", "[Cam]", 1},
        {"media before name", "IMG_20230708_223101.heic", false, true, nullptr, 1, 1,
         "20190506070809", "", 1},
        {"name when media has none", "IMG_20230708_223101.heic", false, false, "Cam", 1, 1,
         "20230708223101", "[Cam]", 1},
        {"name without media", "IMG_20230708_223101.heic", false, true, "Cam", 0, 1,
         "20230708223101", "", 0},
        {"date only: clock of the file time", "IMG-20230708-WA0001.jpg", false, false, nullptr, 0,
         1, "20230708030405", "", 0},
        {"nothing: file time", "random_2023078.bin", false, false, nullptr, 1, 1, "20100102030405",
         "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder dir;
        const auto path = dir / c.name;
        const test::Bytes tiff = test::TiffBuilder()
                                     .Ascii(0x010F, "Acme")
                                     .Ascii(0x0110, "Acme Z10")
                                     .ExifAscii(0x9003, "2004:04:26 10:35:23")
                                     .Build();
        test::WriteFile(path, c.exifJpeg ? test::ToString(test::JpegApp1(tiff)) : "data");
        test::SetLocalMTime(path, 2010, 1, 2, 3, 4, 5);

        FakeMedia media;
        media.answer = MediaAnswer(c.mediaDate, c.camera);
        engine::RunOptions options;
        options.Model = 1;
        options.MediaDates = static_cast<std::int16_t>(c.mediaOption);
        options.NameDates = static_cast<std::int16_t>(c.nameOption);
        engine::FileEntry entry;
        engine::SetNameFields(entry, c.name, options);
        ASSERT_FALSE(engine::SetDateFieldsFromFileTime(entry, path.string()));
        ASSERT_FALSE(engine::ReadFileDates(path.string(), c.name, entry, options, &media));
        EXPECT_EQ(entry.Year4 + entry.Month + entry.Day + entry.Hour + entry.Minute + entry.Second,
                  c.date);
        EXPECT_EQ(entry.Year2, std::string(c.date).substr(2, 2));
        EXPECT_EQ(entry.CameraModel, c.cameraModel);
        EXPECT_EQ(media.asked, c.mediaAsked);

        // The same file open: dated alike from its status and a head read through it.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        struct stat st {};
        ASSERT_EQ(::fstat(fd, &st), 0);
        engine::FileEntry opened;
        engine::SetNameFields(opened, c.name, options);
        engine::DateFrom from = engine::DateFrom::Exif;
        EXPECT_FALSE(engine::ReadOpenFileDates(fd, st, path.string(), c.name, opened, options,
                                               &media, &from));
        ::close(fd);
        EXPECT_EQ(opened.Year4 + opened.Month + opened.Day + opened.Hour + opened.Minute +
                      opened.Second + opened.Year2 + opened.CameraModel,
                  entry.Year4 + entry.Month + entry.Day + entry.Hour + entry.Minute + entry.Second +
                      entry.Year2 + entry.CameraModel);
        EXPECT_EQ(media.asked, 2 * c.mediaAsked);
    }
}

// The head read through a descriptor holds what the file begins with, zeros after its end,
// whatever the size, and leaves the descriptor's offset alone.
TEST(DateSourceTest, HeadReadThroughADescriptorIsTheFilesBeginning)
{
    const std::size_t sizes[] = {0, 1, 2000, 5000, 5001, 5002, 70000};
    for (const std::size_t size : sizes) {
        SCOPED_TRACE(size);
        test::TempFolder dir;
        const auto path = dir / "f";
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>('a' + i % 23);
        test::WriteFile(path, bytes);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::lseek(fd, 7, SEEK_SET), 7);
        engine::HeadBuffer head;
        head.fill(1);
        EXPECT_FALSE(engine::ReadHeadAt(fd, static_cast<off_t>(size), head));
        EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 7);
        ::close(fd);
        bytes.resize(head.size(), '\0');
        EXPECT_EQ(std::string(head.begin(), head.end()), bytes);
    }
}

} // namespace
