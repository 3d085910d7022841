// A card's files reached only through the folders that were listed: subfolders swapped after
// the listing, links planted by another user, unreadable or deep subfolders, files already in
// their date folders, stored files rewritten before a move removes their source.
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/classification_run.h"
#include "engine/file_list.h"
#include "tests/support/run_host.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using test::Tree;

constexpr uid_t kOtherUser = 65534;

class SourceTrustTest : public ::testing::Test {
protected:
    void Add(const std::string& name, const std::string& content, int year = 2024, int day = 15)
    {
        fs::create_directories((src / name).parent_path());
        test::WriteFile(src / name, content);
        test::SetLocalMTime(src / name, year, 3, day, 10, 0, 0);
    }
    engine::FolderListing List(engine::RunOptions& options)
    {
        options.SourceFolder = src.string();
        test::FakeHost folders(src.string());
        std::error_code error;
        engine::FolderListing listing = engine::ListRunFolder(options, folders, error);
        EXPECT_FALSE(error) << error.message();
        return listing;
    }
    // Runs on a listing made before (so the test can change the folder in between).
    engine::RunResult Run(const engine::RunOptions& options, const engine::FolderListing& listing,
                          bool dryRun = false)
    {
        host = std::make_unique<Host>(src.string());
        host->SetNames(listing.names);
        engine::RunSettings settings;
        settings.dryRun = dryRun;
        settings.listedFolders = listing.folders;
        return engine::ClassificationRun(options, *host, settings);
    }
    struct Host : test::FakeHost {
        using test::FakeHost::FakeHost;
        void AlreadyStored(const std::string& source, const std::string& existing) override
        {
            if (onSame)
                onSame(source, existing);
        }
        std::function<void(const std::string&, const std::string&)> onSame;
    };

    test::TempFolder dir;
    fs::path src = dir / "card";
    fs::path outside = dir / "home";
    std::unique_ptr<Host> host;
};

// A subfolder swapped after the listing, for a link to a private folder or for another
// folder, is never entered: the file fails (or, with KeepGoing, is skipped), nothing outside
// is read or moved, the other files go on.
TEST_F(SourceTrustTest, SubfolderSwappedAfterTheListingIsNeverEntered)
{
    for (const bool link : {true, false}) {
        for (const bool keepGoing : {false, true}) {
            SCOPED_TRACE(std::string(link ? "link" : "folder") + (keepGoing ? ", keep going" : ""));
            for (const fs::path& path : {src, outside, dir / "zz.away"})
                fs::remove_all(path);
            Add("DCIM/zz/IMG_0001.JPG", "card");
            Add("DCIM/100/IMG_0002.JPG", "card 2");
            fs::create_directories(outside);
            test::WriteFile(outside / "IMG_0001.JPG", "private");
            engine::RunOptions options;
            options.Recursive = 1;
            options.Move = 1;
            options.KeepGoing = keepGoing ? 1 : 0;
            const engine::FolderListing listing = List(options);
            fs::rename(src / "DCIM/zz", dir / "zz.away");
            if (link)
                fs::create_directory_symlink(outside, src / "DCIM/zz");
            else
                fs::copy(outside, src / "DCIM/zz");
            const engine::RunResult result = Run(options, listing);
            const std::string message =
                keepGoing ? (result.skipped.empty() ? "" : result.skipped[0].message)
                          : result.error.message;
            EXPECT_EQ(result.ok, keepGoing);
            EXPECT_NE(message.find("is no longer the folder that was listed"), std::string::npos)
                << message;
            EXPECT_EQ(test::ReadFile(outside / "IMG_0001.JPG"), "private");
            EXPECT_EQ(test::Entries(outside), std::vector<std::string>{"IMG_0001.JPG"});
            // The listed files are read before anything is stored: without KeepGoing the run
            // stops there.
            EXPECT_EQ(fs::exists(src / "240315/IMG_0002.JPG"), keepGoing);
            EXPECT_FALSE(fs::exists(src / "240315/IMG_0001.JPG"));
        }
    }
}

// A link to a file is followed only when it belongs to the running user or root: one of
// another user is left out of the listing and named, and one swapped in after the listing is
// refused when opened.
TEST_F(SourceTrustTest, LinksOfAnotherUserAreNeverFollowed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a link to another user";
    struct Case {
        const char* label;
        bool afterListing;
        uid_t owner;
        bool followed;
    };
    for (const Case& c : {Case{"planted", false, kOtherUser, false},
                          Case{"swapped in", true, kOtherUser, false},
                          Case{"own", false, ::geteuid(), true}}) {
        SCOPED_TRACE(c.label);
        fs::remove_all(src);
        fs::remove_all(outside);
        fs::create_directories(outside);
        test::WriteFile(outside / "p.pdf", "private");
        Add("IMG_0001.JPG", "card");
        if (c.afterListing)
            Add("IMG_0002.JPG", "listed");
        const auto plant = [&] {
            fs::remove(src / "IMG_0002.JPG");
            fs::create_symlink(outside / "p.pdf", src / "IMG_0002.JPG");
            ASSERT_EQ(::lchown((src / "IMG_0002.JPG").c_str(), c.owner, c.owner), 0);
        };
        if (!c.afterListing)
            plant();
        engine::RunOptions options;
        const engine::FolderListing listing = List(options);
        if (c.afterListing)
            plant();
        const engine::RunResult result = Run(options, listing);
        const bool planted = !c.followed && !c.afterListing;
        EXPECT_EQ(listing.skipped.size(), planted ? 1u : 0u);
        if (planted) {
            EXPECT_EQ(listing.skipped[0].path, (src / "IMG_0002.JPG").string());
        }
        EXPECT_EQ(result.ok, !c.afterListing);
        if (c.afterListing) {
            EXPECT_NE(result.error.message.find("belongs to another user"), std::string::npos)
                << result.error.message;
        }
        const auto stored = Tree(src);
        EXPECT_EQ(std::count_if(stored.begin(), stored.end(),
                                [](const std::string& p) { return p.ends_with("/IMG_0002.JPG"); }),
                  c.followed ? 1 : 0);
        EXPECT_EQ(Tree(outside), std::vector<std::string>{"p.pdf"});
    }
}

} // namespace

namespace {

// Makes levels nested folders of the given name below folder, relative to each other (the
// whole path may exceed PATH_MAX), and a file "deep.jpg" at the bottom.
void MakeDeepTree(const fs::path& folder, int levels, const std::string& name)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < levels; ++i) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(fd = next, 0);
    }
    const int file = ::openat(fd, "deep.jpg", O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, "deep", 4), 4);
    ::close(file);
    ::close(fd);
}

} // namespace

// A subfolder that cannot be read, or lies too deep, is skipped and named; the rest is sorted.
// A tree whose paths pass PATH_MAX is read and sorted all the same.
TEST_F(SourceTrustTest, SubfoldersThatCannotBeReadAreSkippedAndNamed)
{
    struct Case {
        const char* label;
        std::function<void()> make;
        const char* reason; // of the one skipped folder; null: nothing skipped
        std::size_t files;  // listed
    };
    const std::string longName(60, 'd');
    const std::vector<Case> cases = {
        {"past PATH_MAX", [&] { MakeDeepTree(src, 80, longName); }, nullptr, 2},
        {"too deep", [&] { MakeDeepTree(src, engine::kMaxFolderDepth + 1, "d"); },
         "folders deep", 1},
        {"unreadable",
         [&] {
             fs::create_directories(src / "locked");
             test::WriteFile(src / "locked/a.jpg", "a");
             fs::permissions(src / "locked", fs::perms::none);
         },
         "cannot be read: Permission denied", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        if (std::string(c.label) == "unreadable" && ::geteuid() == 0)
            continue; // root reads it; the fault suite runs this as another user
        // rm, since paths past PATH_MAX are beyond std::filesystem.
        ASSERT_EQ(std::system(("rm -rf '" + src.string() + "'").c_str()), 0);
        Add("top.jpg", "top");
        c.make();
        engine::RunOptions options;
        options.Recursive = 1;
        const engine::FolderListing listing = List(options);
        EXPECT_EQ(listing.names.size(), c.files);
        ASSERT_EQ(listing.skipped.size(), c.reason ? 1u : 0u);
        if (c.reason) {
            EXPECT_NE(listing.skipped[0].reason.find(c.reason), std::string::npos)
                << listing.skipped[0].reason;
        }
        const engine::RunResult result = Run(options, listing);
        EXPECT_TRUE(result.ok) << result.error.message;
        EXPECT_EQ(result.filesStored, c.files);
        if (fs::exists(src / "locked"))
            fs::permissions(src / "locked", fs::perms::owner_all);
    }
    ASSERT_EQ(std::system(("rm -rf '" + src.string() + "'").c_str()), 0);
}

// Only a file that already lies in the date folder its own date gives, below the destination
// base, is passed over: never a folder merely shaped like a date, nor one deeper in the card.
TEST_F(SourceTrustTest, OnlyFilesAlreadyInTheirDateFolderArePassedOver)
{
    struct Case {
        const char* label;
        std::int16_t pattern;
        const char* folderTemplate;
        const char* path;
        int year;
        bool inPlace;
    };
    for (const Case& c : {
             Case{"camera folder of a date's shape", 3, "", "10040315/DSC00001.JPG", 2024, false},
             Case{"year 999", 3, "", "9990315/old.jpg", 999, true},
             Case{"nested", 3, "yyyy/mm/dd", "2024/03/15/a.jpg", 2024, true},
             Case{"nested, other day", 3, "yyyy/mm/dd", "2024/03/14/a.jpg", 2024, false},
             Case{"deeper in the card", 4, "", "DCIM/240315/a.jpg", 2024, false},
         }) {
        SCOPED_TRACE(c.label);
        fs::remove_all(src);
        Add(c.path, "x", c.year);
        struct stat st {};
        std::tm local{};
        if (::stat((src / c.path).c_str(), &st) != 0 || !::localtime_r(&st.st_mtime, &local) ||
            local.tm_year + 1900 != c.year)
            continue; // this file system keeps no such time
        engine::RunOptions options;
        options.Recursive = 1;
        options.Move = 1;
        options.DirPattern = c.pattern;
        options.DirTemplate = c.folderTemplate;
        const engine::RunResult result = Run(options, List(options));
        ASSERT_TRUE(result.ok) << result.error.message;
        EXPECT_EQ(result.filesInPlace, c.inPlace ? 1u : 0u);
        EXPECT_EQ(result.filesStored, c.inPlace ? 0u : 1u);
        EXPECT_EQ(fs::exists(src / c.path), c.inPlace);
    }
}

// A move that finds the content already stored removes its source only while the stored file
// is still the one compared: rewritten in place or replaced meanwhile, the source is kept.
TEST_F(SourceTrustTest, SkipSameMoveKeepsTheSourceWhenTheStoredFileChanges)
{
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replaced" : "rewritten");
        fs::remove_all(src);
        Add("a.jpg", "same");
        Add("240315/a.jpg", "same");
        engine::RunOptions options;
        options.Move = 1;
        options.SkipSame = 1;
        options.KeepGoing = replace ? 1 : 0;
        const engine::FolderListing listing = List(options);
        auto run = std::make_unique<Host>(src.string());
        run->SetNames(listing.names);
        run->onSame = [&](const std::string&, const std::string& existing) {
            if (replace) {
                test::WriteFile(existing + ".new", "edited");
                fs::rename(existing + ".new", existing);
            } else {
                test::WriteFile(existing, "EDIT");
            }
        };
        engine::RunSettings settings;
        const engine::RunResult result = engine::ClassificationRun(options, *run, settings);
        const std::string message =
            replace ? (result.skipped.empty() ? "" : result.skipped[0].message) : result.error.message;
        EXPECT_EQ(result.ok, replace);
        EXPECT_NE(message.find("changed after it was found to hold the content"), std::string::npos)
            << message;
        EXPECT_EQ(test::ReadFile(src / "a.jpg"), "same");
    }
}

// A dry run fails as the real run does on a destination the user cannot write.
TEST_F(SourceTrustTest, DryRunFailsLikeTheRealRunWhereTheUserCannotWrite)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes anywhere; the command-line test runs this as another user";
    for (const bool folderExists : {false, true}) {
        SCOPED_TRACE(folderExists ? "date folder read-only" : "base read-only");
        fs::remove_all(src);
        Add("a.jpg", "a");
        if (folderExists)
            fs::create_directories(src / "240315");
        const fs::path locked = folderExists ? src / "240315" : src;
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        engine::RunOptions options;
        const engine::FolderListing listing = List(options);
        const engine::RunResult planned = Run(options, listing, true);
        const engine::RunResult real = Run(options, listing);
        fs::permissions(locked, fs::perms::owner_all);
        EXPECT_FALSE(planned.ok);
        EXPECT_FALSE(real.ok);
        EXPECT_EQ(planned.error.message, real.error.message);
    }
}
