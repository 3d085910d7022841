#include "engine/classification_run.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/naming/naming.h"
#include "tests/support/exif_builder.h"
#include "tests/support/run_host.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using engine::RunOptions;
using engine::RunResult;

using test::Tree;

std::string ExifJpeg(const std::string& date, const std::string& body = "body")
{
    const auto tiff = test::TiffBuilder()
                          .Ascii(0x010F, "ACME")
                          .Ascii(0x0110, "Z10")
                          .ExifAscii(0x9003, date)
                          .Build();
    return test::ToString(test::JpegApp1(tiff)) + body;
}

class RunTest : public ::testing::Test {
protected:
    void Add(const std::string& name, const std::string& content, int y, int mo, int d, int h = 12,
             int mi = 0, int s = 0)
    {
        test::WriteFile(src / name, content);
        test::SetLocalMTime(src / name, y, mo, d, h, mi, s);
    }
    RunResult RunWith(const RunOptions& options, const engine::RunSettings& settings = {})
    {
        return engine::ClassificationRun(options, host, settings);
    }

    test::TempFolder dir;
    fs::path src = dir.path();
    test::FakeHost host{dir.str()};
};

TEST_F(RunTest, CopiesEveryFileIntoTheFolderOfItsDate)
{
    Add("a.jpg", ExifJpeg("2004:04:26 10:35:23"), 2010, 1, 1); // EXIF date wins
    Add("b.txt", "b", 2002, 4, 26);
    Add("c.txt", "c", 2002, 4, 27);
    fs::create_directory(src / "sub");
    test::WriteFile(src / "sub/inner.txt", "not listed");
    test::WriteFile(src / ".hidden", "not listed");

    RunOptions options;
    const RunResult result = RunWith(options);
    ASSERT_TRUE(result.ok) << result.error.message;
    EXPECT_EQ(result.filesStored, 3u);
    EXPECT_EQ(result.foldersMade, 3u);
    EXPECT_EQ(Tree(src),
              (std::vector<std::string>{".hidden", "020426/b.txt", "020427/c.txt", "040426/a.jpg",
                                        "a.jpg", "b.txt", "c.txt", "sub/inner.txt"}));
    EXPECT_EQ(test::ReadFile(src / "040426/a.jpg"), test::ReadFile(src / "a.jpg"));
    // Sorted by date: b, c, then a; progress at the start of each file, then reset.
    ASSERT_EQ(host.stored.size(), 3u);
    EXPECT_EQ(host.stored[0].first, (src / "b.txt").string());
    EXPECT_EQ(host.stored[2].second, (src / "040426/a.jpg").string());
    EXPECT_EQ(host.progress, (std::vector<int>{0, 33, 66, 0}));
    EXPECT_EQ(host.refreshes, 1);
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false}));
}

TEST_F(RunTest, FolderPatterns)
{
    const struct {
        std::int16_t pattern;
        std::vector<std::string> tree;
    } cases[] = {
        {1, {"200204/x.txt", "200204/y.txt"}}, {3, {"20020426/x.txt", "20020427/y.txt"}},
        {4, {"020426/x.txt", "020427/y.txt"}}, {5, {"02_0426/x.txt", "02_0427/y.txt"}},
        {7, {"0204/x.txt", "0204/y.txt"}},
    };
    for (const auto& c : cases) {
        test::TempFolder source;
        test::FakeHost fake(source.str());
        test::WriteFile(source / "x.txt", "x");
        test::WriteFile(source / "y.txt", "y");
        test::SetLocalMTime(source / "x.txt", 2002, 4, 26, 1, 0, 0);
        test::SetLocalMTime(source / "y.txt", 2002, 4, 27, 1, 0, 0);
        RunOptions options;
        options.DirPattern = c.pattern;
        options.Move = 1;
        ASSERT_TRUE(engine::ClassificationRun(options, fake).ok);
        EXPECT_EQ(Tree(source.path()), c.tree) << c.pattern;
    }
}

TEST_F(RunTest, MoveKeepsTimesAndEmptiesTheList)
{
    Add("a.jpg", ExifJpeg("2004:04:26 10:35:23"), 2010, 1, 1, 8, 9, 10);
    Add("b.txt", "b", 2002, 4, 26);
    fs::create_symlink(src / "sub/target.txt", src / "link.txt");
    fs::create_directory(src / "sub");
    Add("sub/target.txt", "target", 2003, 3, 3);
    struct stat before {};
    ::stat((src / "a.jpg").c_str(), &before);

    RunOptions options;
    options.Move = 1;
    ASSERT_TRUE(RunWith(options).ok);
    EXPECT_EQ(Tree(src), (std::vector<std::string>{"020426/b.txt", "030303/link.txt",
                                                   "040426/a.jpg", "sub/target.txt"}));
    struct stat after {};
    ::stat((src / "040426/a.jpg").c_str(), &after);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(test::ReadFile(src / "030303/link.txt"), "target");
    EXPECT_TRUE(host.ListedNames().empty());
}

TEST_F(RunTest, ClashesAcrossRunsGetSuffixes)
{
    Add("IMG.jpg", "one", 2002, 4, 26);
    RunOptions options;
    ASSERT_TRUE(RunWith(options).ok);
    ASSERT_TRUE(RunWith(options).ok);
    options.Suffix = 1;
    ASSERT_TRUE(RunWith(options).ok);
    EXPECT_EQ(Tree(src / "020426"),
              (std::vector<std::string>{"IMG.jpg", "IMG[001].jpg", "IMGa.jpg"}));
}

TEST_F(RunTest, SerialNumbersFollowTheSortedOrder)
{
    // Listed in name order, stored in date order; A.JPG and A.WAV share a number.
    Add("B.JPG", "b", 2002, 4, 26, 10, 0, 0);
    Add("A.WAV", "aw", 2002, 4, 26, 10, 0, 0);
    Add("A.JPG", "aj", 2002, 4, 26, 10, 0, 0);
    Add("0-early.jpg", "e", 2002, 4, 26, 9, 0, 0);
    Add("Z.JPG", "z", 2002, 4, 27, 10, 0, 0);
    RunOptions options;
    options.RenamePattern = 4;
    options.YYYY = 4;
    ASSERT_TRUE(RunWith(options).ok);
    EXPECT_EQ(test::ReadFile(src / "020426/200204260001.jpg"), "e");
    EXPECT_EQ(test::ReadFile(src / "020426/200204260002.JPG"), "aj");
    EXPECT_EQ(test::ReadFile(src / "020426/200204260002.WAV"), "aw");
    EXPECT_EQ(test::ReadFile(src / "020426/200204260003.JPG"), "b");
    EXPECT_EQ(test::ReadFile(src / "020427/200204270001.JPG"), "z");
}

TEST_F(RunTest, LoweredNamesAreStillReadFromTheListedFile)
{
    Add("IMG_0001.JPG", "data", 2002, 4, 26);
    RunOptions options;
    options.FileNameCase = 1;
    options.ExtCase = 1;
    options.Move = 1;
    ASSERT_TRUE(RunWith(options).ok);
    EXPECT_EQ(Tree(src), std::vector<std::string>{"020426/img_0001.jpg"});
}

TEST_F(RunTest, FailureStopsAtThatFileAndKeepsTheRest)
{
    Add("1.txt", "one", 2002, 4, 26, 1);
    Add("2.txt", "two", 2002, 4, 26, 2);
    Add("3.txt", "three", 2002, 4, 26, 3);
    // The second file disappears after it was listed and dated, before it is stored.
    host.onProgress = [&](int value) {
        if (value == 33)
            fs::remove(src / "2.txt");
    };
    RunOptions options;
    options.Move = 1;
    const RunResult result = RunWith(options);
    ASSERT_FALSE(result.ok);
    EXPECT_EQ(result.error.kind, engine::RunError::Kind::Failure);
    EXPECT_EQ(result.error.code, std::errc::no_such_file_or_directory);
    EXPECT_EQ(result.error.path, (src / "2.txt").string());
    EXPECT_NE(result.error.message.find("2.txt"), std::string::npos);
    EXPECT_EQ(Tree(src), (std::vector<std::string>{"020426/1.txt", "3.txt"}));
    EXPECT_EQ(host.progress.back(), 0);
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false}));
}

TEST_F(RunTest, ANameThatAppearsBeforeTheStoreIsNeverOverwritten)
{
    // In a date folder the run has just made, before its first store or after one; the later
    // files of that folder are then named by what is on disk.
    for (const char* taken : {"a.txt", "b.txt"}) {
        for (std::int16_t move : {0, 1}) {
            test::TempFolder source;
            test::FakeHost fake(source.str());
            for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
                test::WriteFile(source / name, std::string("mine ") + name);
                test::SetLocalMTime(source / name, 2002, 4, 26, 1, 0, name[0] - 'a');
            }
            engine::RunSettings settings;
            settings.beforeStore = [&](const std::string& destination) {
                if (fs::path(destination).filename() == taken && !fs::exists(destination)) {
                    test::WriteFile(destination, "someone else's");
                    test::WriteFile(source / "020426/c.txt", "someone else's c");
                }
            };
            RunOptions options;
            options.Move = move;
            ASSERT_TRUE(engine::ClassificationRun(options, fake, settings).ok);
            EXPECT_EQ(test::ReadFile(source / "020426" / taken), "someone else's");
            const std::string suffixed = std::string(taken, 1) + "[001].txt";
            EXPECT_EQ(test::ReadFile(source / "020426" / suffixed), std::string("mine ") + taken);
            EXPECT_EQ(test::ReadFile(source / "020426/c[001].txt"), "mine c.txt");
            EXPECT_EQ(fs::exists(source / "a.txt"), move == 0);
        }
    }
}

TEST_F(RunTest, SuffixOverflowStopsBeforeStoring)
{
    Add("a.txt", "mine", 2002, 4, 26);
    test::TakeEveryName(src / "020426", "a", ".txt");
    RunOptions options;
    options.Move = 1;
    const RunResult result = RunWith(options);
    ASSERT_FALSE(result.ok);
    EXPECT_EQ(result.error.kind, engine::RunError::Kind::SuffixOverflow);
    EXPECT_EQ(result.error.message, engine::SuffixOverflowMessage);
    EXPECT_EQ(test::ReadFile(src / "a.txt"), "mine");
}

TEST_F(RunTest, EmptyFolderSettlesTheDestinationButMakesNothing)
{
    host.deskTop = (src / "Desktop").string();
    fs::create_directory(host.deskTop);
    RunOptions options;
    options.DestPattern = 2;
    const RunResult result = RunWith(options);
    ASSERT_TRUE(result.ok) << result.error.message;
    EXPECT_TRUE(fs::is_empty(host.deskTop)); // no "分類" folder for nothing
    EXPECT_EQ(host.deskTopLookups, 1);
    EXPECT_EQ(host.documentLookups, 0);
    EXPECT_EQ(host.progress, std::vector<int>{0});
    EXPECT_EQ(host.refreshes, 1);
    EXPECT_EQ(result.filesStored, 0u);
}

TEST_F(RunTest, DryRunPlansWithoutTouchingTheDisk)
{
    Add("x.jpg", "x", 2002, 4, 26, 10, 35, 23);
    Add("y.jpg", "y", 2002, 4, 26, 10, 35, 23);
    host.deskTop = (src / "Desktop").string();
    fs::create_directory(host.deskTop);
    const auto before = Tree(src);
    RunOptions options;
    options.RenamePattern = 5;
    options.DestPattern = 2;
    options.Move = 1;
    engine::RunSettings settings;
    settings.dryRun = true;
    const RunResult result = RunWith(options, settings);
    ASSERT_TRUE(result.ok) << result.error.message;
    EXPECT_EQ(Tree(src), before);
    EXPECT_FALSE(fs::exists(src / "Desktop/分類"));
    ASSERT_EQ(host.stored.size(), 2u);
    const std::string base = host.deskTop + "/分類/020426/";
    EXPECT_EQ(host.stored[0].second, base + "0426103523.jpg");
    EXPECT_EQ(host.stored[1].second, base + "0426103523[001].jpg");
    EXPECT_EQ(result.foldersMade, 1u);
}

TEST_F(RunTest, RunsOfMoreThan32767Files)
{
    const int count = 40000;
    for (int i = 0; i < count; ++i) {
        const fs::path file = src / ("f" + std::to_string(100000 + i));
        test::WriteFile(file, "");
        test::SetLocalMTime(file, 2002, 4, 26, 10, 0, 0);
    }
    RunOptions options;
    options.RenamePattern = 4;
    options.Move = 1;
    const RunResult result = RunWith(options);
    ASSERT_TRUE(result.ok) << result.error.message;
    EXPECT_EQ(result.filesStored, static_cast<std::size_t>(count));
    EXPECT_TRUE(fs::exists(src / "020426/02042640000"));
    EXPECT_TRUE(fs::exists(src / "020426/0204260001"));
    EXPECT_EQ(host.progress[host.progress.size() - 2], 99);
}

} // namespace
