#include "engine/storing/dest_folder.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using engine::DestBaseResult;
using engine::RunOptions;

const std::string kClassified = "分類";

// Special folders that answer with fixed texts and count how often they were asked.
struct FakeFolders : engine::SpecialFolders {
    std::string desktop, documents;
    int desktopAsked = 0, documentsAsked = 0;
    std::string DeskTopFolder() override { return ++desktopAsked, desktop; }
    std::string MyDocumentFolder() override { return ++documentsAsked, documents; }
};

RunOptions WithDest(std::int16_t destPattern)
{
    RunOptions o;
    o.DestPattern = destPattern;
    return o;
}

engine::FileEntry April26()
{
    engine::FileEntry e;
    e.Year4 = "2002";
    e.Year2 = "02";
    e.Month = "04";
    e.Day = "26";
    return e;
}

TEST(DateFolderTest, FivePatternsAndAnUnknownOne)
{
    const std::pair<int, const char*> cases[] = {
        {1, "/base/200204"},  {3, "/base/20020426"}, {4, "/base/020426"},
        {5, "/base/02_0426"}, {7, "/base/0204"},     {0, "/base/020426"},
    };
    for (const auto& [pattern, path] : cases)
        EXPECT_EQ(engine::DateFolder("/base", pattern, April26()), path) << pattern;
    EXPECT_EQ(engine::DateFolder("/", 7, April26()), "//0204");
}

TEST(SettleDestBaseTest, EachPatternAsksOnlyTheFolderItNeeds)
{
    test::TempFolder desk, docs;
    for (std::int16_t pattern : {1, 2, 3, 0, 9}) {
        FakeFolders folders;
        folders.desktop = desk.str();
        folders.documents = docs.str();
        const DestBaseResult r = engine::SettleDestBase(WithDest(pattern), "/photos", folders);
        ASSERT_FALSE(r.error) << pattern << ": " << r.message;
        const std::string expected = pattern == 2   ? desk.str() + "/" + kClassified
                                     : pattern == 3 ? docs.str() + "/" + kClassified
                                                    : "/photos";
        EXPECT_EQ(r.path, expected) << pattern;
        EXPECT_EQ(folders.desktopAsked, pattern == 2 ? 1 : 0) << pattern;
        EXPECT_EQ(folders.documentsAsked, pattern == 3 ? 1 : 0) << pattern;
    }
    EXPECT_TRUE(fs::is_directory(desk / kClassified));
    EXPECT_TRUE(fs::is_directory(docs / kClassified));
}

TEST(SettleDestBaseTest, ExistingClassifiedFolderIsReused)
{
    test::TempFolder desk;
    fs::create_directory(desk / kClassified);
    test::WriteFile(desk / kClassified / "kept.jpg", "x");
    FakeFolders folders;
    folders.desktop = desk.str();
    const DestBaseResult r = engine::SettleDestBase(WithDest(2), "/photos", folders);
    ASSERT_FALSE(r.error) << r.message;
    EXPECT_EQ(r.path, desk.str() + "/" + kClassified);
    EXPECT_EQ(test::ReadFile(desk / kClassified / "kept.jpg"), "x");

    // The base takes date folders at once: Desktop/分類/02_0426.
    const std::string dateFolder = engine::DateFolder(r.path, 5, April26());
    EXPECT_EQ(dateFolder, r.path + "/02_0426");
    const int base = ::open(r.path.c_str(), O_RDONLY | O_DIRECTORY);
    const engine::DateFolderResult made = engine::OpenDateFolder(base, r.path, "02_0426", true);
    EXPECT_FALSE(made.error);
    EXPECT_TRUE(made.created);
    EXPECT_TRUE(fs::is_directory(desk / kClassified / "02_0426"));
    ::close(made.fd);
    ::close(base);
}

TEST(SettleDestBaseTest, UnknownSpecialFolderStopsTheRunAndMakesNothing)
{
    test::TempFolder temp;
    test::WriteFile(temp / "plain-file", "");
    const bool rootHadOne = fs::exists("/" + kClassified);
    const std::pair<std::string, int> answers[] = {
        {"", ENOENT},
        {"relative/Desktop", ENOENT},
        {(temp / "missing").string(), ENOENT},
        {(temp / "plain-file").string(), ENOTDIR},
    };
    for (const auto& [answer, code] : answers) {
        for (std::int16_t pattern : {2, 3}) {
            FakeFolders folders;
            folders.desktop = folders.documents = answer;
            const DestBaseResult r = engine::SettleDestBase(WithDest(pattern), "/photos", folders);
            EXPECT_EQ(r.error.value(), code) << "'" << answer << "' " << pattern;
            EXPECT_TRUE(r.path.empty());
            const std::string which = pattern == 2 ? "Desktop" : "Documents";
            EXPECT_NE(r.message.find(which), std::string::npos) << r.message;
            EXPECT_NE(r.message.find("could not be found"), std::string::npos) << r.message;
        }
    }
    EXPECT_EQ(fs::exists("/" + kClassified), rootHadOne);
    EXPECT_FALSE(fs::exists(temp / "missing"));
    EXPECT_FALSE(fs::exists("relative"));
}

TEST(SettleDestBaseTest, WithoutCreateAMissingFolderIsOnlyNamed)
{
    test::TempFolder desk;
    FakeFolders folders;
    folders.desktop = desk.str();
    const DestBaseResult r = engine::SettleDestBase(WithDest(2), "/photos", folders, false);
    ASSERT_FALSE(r.error) << r.message;
    EXPECT_EQ(r.path, desk.str() + "/" + kClassified);
    EXPECT_FALSE(fs::exists(desk / kClassified));
}

TEST(SettleDestBaseTest, ClassifiedNameHeldByAFileIsAnError)
{
    for (bool create : {true, false}) {
        test::TempFolder docs;
        test::WriteFile(docs / kClassified, "not a folder");
        FakeFolders folders;
        folders.documents = docs.str();
        const DestBaseResult r = engine::SettleDestBase(WithDest(3), "/photos", folders, create);
        EXPECT_EQ(r.error.value(), ENOTDIR) << create;
        EXPECT_EQ(r.errorPath, docs.str() + "/" + kClassified);
        EXPECT_FALSE(r.message.empty());
        EXPECT_EQ(test::ReadFile(docs / kClassified), "not a folder");
    }
}

TEST(OpenDateFolderTest, ExistingFolderPassesAndAnythingElseStopsWithoutFollowingLinks)
{
    test::TempFolder base;
    test::TempFolder elsewhere;
    const int baseFd = ::open(base.str().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(baseFd, 0);
    fs::create_directory(base / "0203");
    fs::create_directory_symlink(elsewhere.path(), base / "0205");
    fs::create_symlink(base / "none", base / "0206");
    test::WriteFile(base / "0207", "x");

    const struct {
        const char* name;
        bool create;
        int code; // 0: opened, or absent when fd is -1
        bool opened;
        bool created;
    } cases[] = {
        {"0204", false, 0, false, false}, // missing, not made: a dry run sees it absent
        {"0204", true, 0, true, true},         {"0203", true, 0, true, false},
        {"0205", true, ELOOP, false, false}, // a link to a folder is still a link
        {"0205", false, ELOOP, false, false},  {"0206", true, ELOOP, false, false}, // dangling
        {"0207", true, ENOTDIR, false, false}, {"missing/0204", true, ENOENT, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.create ? " create" : " look"));
        const engine::DateFolderResult r =
            engine::OpenDateFolder(baseFd, base.str(), c.name, c.create);
        EXPECT_EQ(r.error.value(), c.code);
        EXPECT_EQ(r.fd >= 0, c.opened);
        EXPECT_EQ(r.created, c.created);
        if (c.code == ELOOP || c.code == ENOTDIR) { // the message names the folder
            EXPECT_NE(r.message.find(base.str() + "/" + c.name), std::string::npos) << r.message;
        }
        if (r.fd >= 0)
            ::close(r.fd);
    }
    EXPECT_TRUE(fs::is_symlink(base / "0205"));
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    EXPECT_EQ(test::ReadFile(base / "0207"), "x");
    EXPECT_FALSE(fs::exists(base / "missing"));
    ::close(baseFd);
}

} // namespace
