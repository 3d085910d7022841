// KeepTogether on real folders: a camera's raw and JPEG with their sidecars take the JPEG's
// content date, one folder and one base name under every rename pattern, one clash suffix.
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <vector>

#include "engine/classification_run.h"
#include "tests/support/exif_builder.h"
#include "tests/support/run_host.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

class CompanionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(src);
        const test::Bytes tiff =
            test::TiffBuilder().ExifAscii(0x9003, "2004:04:26 10:35:23").Build();
        test::WriteFile(src / "IMG_0001.JPG", test::ToString(test::JpegApp1(tiff)));
        int day = 1;
        for (const char* name :
             {"IMG_0001.CR3", "IMG_0001.XMP", "IMG_0001.CR3.xmp", "IMG_0001.THM", "IMG_0001.WAV",
              "IMG_0001.AAE", "IMG_0002.JPG", "IMG_0002.MOV", "notes.txt.xmp"})
            test::WriteFile(src / name, name);
        for (const auto& entry : fs::directory_iterator(src))
            test::SetLocalMTime(entry.path(), 2011, 5, day++, 12, 0, 0);
    }

    // Runs and gives each listed name's destination, relative to the source folder.
    std::map<std::string, std::string> Run(int renamePattern, std::int16_t keep, bool dryRun)
    {
        engine::RunOptions options;
        options.SourceFolder = src.string();
        options.RenamePattern = static_cast<std::int16_t>(renamePattern);
        options.KeepTogether = keep;
        test::FakeHost host(src.string());
        engine::RunSettings settings;
        settings.dryRun = dryRun;
        const engine::RunResult result = engine::ClassificationRun(options, host, settings);
        EXPECT_FALSE(result.error.code) << result.error.message;
        std::map<std::string, std::string> out;
        for (const auto& [source, destination] : host.stored)
            out[fs::path(source).filename().string()] =
                fs::path(destination).lexically_relative(src).string();
        return out;
    }

    test::TempFolder dir;
    fs::path src = dir / "card";
};

TEST_F(CompanionsTest, OneShotOneFolderOneNameUnderEveryPattern)
{
    const char* shot[] = {"IMG_0001.JPG", "IMG_0001.CR3", "IMG_0001.XMP", "IMG_0001.CR3.xmp",
                          "IMG_0001.THM", "IMG_0001.WAV", "IMG_0001.AAE"};
    const auto stem = [](const std::string& destination, const std::string& listed) {
        const std::string ext = listed.substr(listed.find('.')); // ".CR3.xmp" whole
        EXPECT_EQ(destination.substr(destination.size() - ext.size()), ext) << destination;
        return destination.substr(0, destination.size() - ext.size());
    };
    for (const int pattern : {1, 2, 3, 4, 5, 6}) {
        SCOPED_TRACE(pattern);
        const auto planned = Run(pattern, 1, true);
        const std::string first = stem(planned.at("IMG_0001.JPG"), "IMG_0001.JPG");
        EXPECT_EQ(first.substr(0, 7), "040426/"); // the JPEG's content date
        for (const char* name : shot)
            EXPECT_EQ(stem(planned.at(name), name), first) << name;
        // The other pair keeps its file times' earliest date, and its own name.
        EXPECT_EQ(stem(planned.at("IMG_0002.JPG"), "IMG_0002.JPG"),
                  stem(planned.at("IMG_0002.MOV"), "IMG_0002.MOV"));
        EXPECT_NE(stem(planned.at("IMG_0002.JPG"), "IMG_0002.JPG"), first);
        if (pattern == 1) {
            EXPECT_EQ(first, "040426/IMG_0001");
        }
    }
    // A sidecar of a file that is not there stays alone: "notes.txt.xmp" keeps its file time.
    EXPECT_EQ(Run(1, 1, true).at("notes.txt.xmp").substr(0, 2), "11");
    // Off: each file by its own date.
    EXPECT_EQ(Run(1, 0, true).at("IMG_0001.CR3").substr(0, 4), "1105");

    // A name of the group taken in the date folder: one suffix free for every member, in the
    // plan and in the run.
    fs::create_directories(src / "040426");
    test::WriteFile(src / "040426/IMG_0001.WAV", "someone else's");
    for (const bool dryRun : {true, false}) {
        SCOPED_TRACE(dryRun);
        const auto stored = Run(1, 1, dryRun);
        for (const char* name : shot)
            EXPECT_EQ(stem(stored.at(name), name), "040426/IMG_0001[001]") << name;
    }
    EXPECT_EQ(test::ReadFile(src / "040426/IMG_0001[001].CR3.xmp"), "IMG_0001.CR3.xmp");
}

} // namespace

namespace {

// Hostile names and swaps: each scene runs as a plan, then for real. The run stores what the
// plan said, every file is stored under a name of its own with its own bytes or named as
// skipped or already there, and the listed companions land where the row says.
TEST(CompanionsHostileTest, EveryFileKeepsItsBytesAndTheGroupsTheirNames)
{
    struct Scene {
        const char* what;
        std::vector<std::string> files; // each dated 2011-05-01 by its file time
        void (*set)(engine::RunOptions&);
        std::map<std::string, std::string> existing; // in the destination before the run
        std::map<std::string, std::string> want;     // listed name -> destination
        std::size_t skipped = 0, same = 0;
        const char* swap = nullptr; // made a folder when the first file is stored
    };
    std::vector<std::string> many; // one shot of 300 files, one of its names taken
    for (int i = 0; i < 300; ++i)
        many.push_back("IMG_0009.e" + std::to_string(100 + i));
    const Scene scenes[] = {
        {"names clashing in case, lowered",
         {"IMG_0001.JPG", "IMG_0001.CR3", "img_0001.JPG", "img_0001.CR3"},
         [](engine::RunOptions& o) { o.FileNameCase = 1; },
         {},
         {{"IMG_0001.JPG", "110501/img_0001.JPG"},
          {"IMG_0001.CR3", "110501/img_0001.CR3"},
          {"img_0001.JPG", "110501/img_0001[001].JPG"},
          {"img_0001.CR3", "110501/img_0001[001].CR3"}}},
        {"extensions clashing in case, lowered",
         {"IMG_0002.JPG", "IMG_0002.jpg", "IMG_0002.CR3"},
         [](engine::RunOptions& o) { o.ExtCase = 1; },
         {},
         {{"IMG_0002.CR3", "110501/IMG_0002.cr3"}}},
        {"sidecars named after whole names",
         {"IMG_0003", "IMG_0003.JPG", "IMG_0003.JPG.xmp", "IMG_0003.xmp.xmp", "notes.txt.xmp"},
         [](engine::RunOptions& o) { o.RenamePattern = 2; },
         {},
         {{"IMG_0003", "110501/110501IMG_0003"},
          {"IMG_0003.JPG.xmp", "110501/110501IMG_0003.JPG.xmp"},
          {"IMG_0003.xmp.xmp", "110501/110501IMG_0003.xmp.xmp"},
          {"notes.txt.xmp", "110501/110501notes.txt.xmp"}}},
        {"one shot in two folders",
         {"A/IMG_0005.JPG", "A/IMG_0005.CR3", "A/IMG_0005.D.txt", "B/IMG_0005.JPG",
          "B/IMG_0005.CR3"},
         [](engine::RunOptions& o) { o.Recursive = 1; },
         {},
         {{"A/IMG_0005.JPG", "110501/IMG_0005.JPG"},
          {"A/IMG_0005.CR3", "110501/IMG_0005.CR3"},
          {"A/IMG_0005.D.txt", "110501/IMG_0005.D.txt"},
          {"B/IMG_0005.JPG", "110501/IMG_0005[001].JPG"},
          {"B/IMG_0005.CR3", "110501/IMG_0005[001].CR3"}}},
        {"one already there",
         {"IMG_0008.JPG", "IMG_0008.CR3"},
         [](engine::RunOptions& o) { o.SkipSame = 1; },
         {{"110501/IMG_0008.JPG", "IMG_0008.JPG"}, {"110501/IMG_0008.CR3", "other"}},
         {{"IMG_0008.CR3", "110501/IMG_0008[001].CR3"}},
         0,
         1},
        {"a member swapped for a folder",
         {"IMG_0006.JPG", "IMG_0006.CR3"},
         [](engine::RunOptions& o) { o.KeepGoing = 1; },
         {},
         {{"IMG_0006.CR3", "110501/IMG_0006.CR3"}},
         1,
         0,
         "IMG_0006.JPG"},
        {"300 members, one name taken",
         many,
         [](engine::RunOptions&) {},
         {{"110501/IMG_0009.e250", "other"}},
         {{"IMG_0009.e100", "110501/IMG_0009[001].e100"},
          {"IMG_0009.e399", "110501/IMG_0009[001].e399"}}},
    };
    for (const Scene& scene : scenes) {
        SCOPED_TRACE(scene.what);
        test::TempFolder dir;
        const fs::path src = dir / "card";
        for (const std::string& name : scene.files) {
            fs::create_directories((src / name).parent_path());
            test::WriteFile(src / name, name);
            test::SetLocalMTime(src / name, 2011, 5, 1, 12, 0, 0);
        }
        for (const auto& [path, bytes] : scene.existing) {
            fs::create_directories((src / path).parent_path());
            test::WriteFile(src / path, bytes);
        }
        std::map<std::string, std::string> plan;
        for (const bool dryRun : {true, false}) {
            engine::RunOptions options;
            options.SourceFolder = src.string();
            options.KeepTogether = 1;
            scene.set(options);
            test::FakeHost host(src.string());
            host.SetNames(scene.files);
            engine::RunSettings settings;
            settings.dryRun = dryRun;
            if (scene.swap != nullptr && !dryRun) {
                settings.beforeStore = [&](const std::string&) {
                    if (fs::is_regular_file(src / scene.swap)) {
                        fs::remove(src / scene.swap);
                        fs::create_directory(src / scene.swap);
                    }
                };
            }
            const engine::RunResult result = engine::ClassificationRun(options, host, settings);
            ASSERT_TRUE(result.ok) << result.error.message;
            std::map<std::string, std::string> stored;
            for (const auto& [source, destination] : host.stored)
                stored[fs::path(source).lexically_relative(src).string()] =
                    fs::path(destination).lexically_relative(src).string();
            if (dryRun) {
                plan = stored;
                continue;
            }
            for (const auto& [listed, destination] : scene.want)
                EXPECT_EQ(stored[listed], destination) << listed;
            std::set<std::string> destinations;
            for (const auto& [listed, destination] : stored) {
                EXPECT_TRUE(destinations.insert(destination).second) << destination;
                EXPECT_EQ(test::ReadFile(src / destination), listed);
                if (scene.swap == nullptr) {
                    EXPECT_EQ(plan[listed], destination) << listed;
                }
            }
            EXPECT_EQ(stored.size() + result.skipped.size() + result.filesSame, scene.files.size());
            EXPECT_EQ(result.skipped.size(), scene.skipped);
            EXPECT_EQ(result.filesSame, scene.same);
        }
    }
}

} // namespace
