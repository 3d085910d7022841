// A card's files reached only through the folders that were listed: subfolders swapped after
// the listing, links planted by another user, unreadable or deep subfolders, files already in
// their date folders, stored files rewritten before a move removes their source.
#include <algorithm>
#include <filesystem>
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
