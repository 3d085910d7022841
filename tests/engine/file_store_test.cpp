#include "engine/storing/file_store.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "engine/file_list.h"
#include "tests/support/store.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using Status = engine::StoreResult::Status;

struct stat StatOf(const fs::path& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

using test::Entries;

class FileStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directory(dir / "src");
        fs::create_directory(dir / "dst");
        test::WriteFile(dir / "src/a.jpg", std::string(300000, 'a') + "end");
        fs::permissions(dir / "src/a.jpg", fs::perms::owner_read | fs::perms::group_read);
        test::SetLocalMTime(dir / "src/a.jpg", 2002, 4, 26, 10, 35, 23);
    }
    std::string Src(const char* name = "a.jpg") const { return (dir / "src" / name).string(); }
    std::string Dst(const char* name = "a.jpg") const { return (dir / "dst" / name).string(); }

    test::TempFolder dir;
};

TEST_F(FileStoreTest, CopyKeepsContentTimeAndPermissions)
{
    for (bool durable : {false, true}) {
        const std::string dest = Dst(durable ? "durable.jpg" : "a.jpg");
        const auto result = test::CopyTo(Src(), dest, durable);
        ASSERT_EQ(result.status, Status::Stored) << result.error.message();
        EXPECT_EQ(test::ReadFile(dest), test::ReadFile(Src()));
        const struct stat s = StatOf(Src()), d = StatOf(dest);
        EXPECT_EQ(d.st_mtim.tv_sec, s.st_mtim.tv_sec);
        EXPECT_EQ(d.st_mtim.tv_nsec, s.st_mtim.tv_nsec);
        EXPECT_EQ(d.st_mode & 07777, s.st_mode & 07777);
        EXPECT_TRUE(S_ISREG(d.st_mode));
    }
    EXPECT_EQ(Entries(dir / "dst"), (std::vector<std::string>{"a.jpg", "durable.jpg"}));
}

TEST_F(FileStoreTest, NeverReplacesAnExistingEntry)
{
    test::WriteFile(dir / "dst/file.jpg", "keep me");
    fs::create_directory(dir / "dst/folder.jpg");
    fs::create_symlink(dir / "nowhere", dir / "dst/dangling.jpg");
    for (const char* name : {"file.jpg", "folder.jpg", "dangling.jpg"}) {
        EXPECT_EQ(test::CopyTo(Src(), Dst(name), false).status, Status::NameTaken) << name;
        EXPECT_EQ(test::MoveTo(Src(), Dst(name)).status, Status::NameTaken) << name;
    }
    EXPECT_EQ(test::ReadFile(dir / "dst/file.jpg"), "keep me");
    EXPECT_TRUE(fs::is_directory(dir / "dst/folder.jpg"));
    EXPECT_TRUE(fs::is_symlink(dir / "dst/dangling.jpg"));
    EXPECT_TRUE(fs::exists(Src()));
    EXPECT_EQ(Entries(dir / "dst"),
              (std::vector<std::string>{"dangling.jpg", "file.jpg", "folder.jpg"}));
}

TEST_F(FileStoreTest, FailedCopyLeavesNothingBehind)
{
    // A missing source, and a missing destination folder.
    auto result = test::CopyTo(Src("missing.jpg"), Dst(), false);
    EXPECT_EQ(result.status, Status::Failed);
    EXPECT_EQ(result.error, std::errc::no_such_file_or_directory);
    EXPECT_EQ(result.errorPath, Src("missing.jpg"));
    result = test::CopyTo(Src(), (dir / "absent/a.jpg").string(), false);
    EXPECT_EQ(result.status, Status::Failed);
    EXPECT_EQ(result.errorPath, (dir / "absent/a.jpg").string());

    // A write that fails half-way (the file size limit stands in for a full disk).
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 65536;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto copy = test::CopyTo(Src(), Dst(), false);
    const auto move = test::MoveTo(Src(), (dir / "a.jpg").string()); // same fs: rename
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(copy.status, Status::Failed);
    EXPECT_EQ(copy.error, std::errc::file_too_large);
    EXPECT_EQ(copy.step, "write");
    EXPECT_EQ(Entries(dir / "dst"), std::vector<std::string>{});
    EXPECT_EQ(move.status, Status::Stored); // a rename copies no data
}

TEST_F(FileStoreTest, MoveWithinOneFileSystemRenames)
{
    const ino_t inode = StatOf(Src()).st_ino;
    const std::string content = test::ReadFile(Src());
    ASSERT_EQ(test::MoveTo(Src(), Dst()).status, Status::Stored);
    EXPECT_FALSE(fs::exists(Src()));
    EXPECT_EQ(StatOf(Dst()).st_ino, inode);
    EXPECT_EQ(test::ReadFile(Dst()), content);
}

TEST_F(FileStoreTest, MovingALinkCopiesItsFileAndRemovesOnlyTheLink)
{
    fs::create_symlink(Src(), dir / "src/link.jpg");
    ASSERT_EQ(test::MoveTo(Src("link.jpg"), Dst("link.jpg")).status, Status::Stored);
    EXPECT_FALSE(fs::is_symlink(dir / "src/link.jpg"));
    EXPECT_FALSE(fs::exists(dir / "src/link.jpg"));
    EXPECT_TRUE(fs::exists(Src()));
    EXPECT_FALSE(fs::is_symlink(Dst("link.jpg")));
    EXPECT_EQ(test::ReadFile(Dst("link.jpg")), test::ReadFile(Src()));
    EXPECT_EQ(StatOf(Dst("link.jpg")).st_mtim.tv_sec, StatOf(Src()).st_mtim.tv_sec);
}

TEST_F(FileStoreTest, MoveAcrossFileSystemsCopiesThenDeletes)
{
    struct stat shm {
    }, tmp{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.str().c_str(), &tmp) != 0 ||
        shm.st_dev == tmp.st_dev || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    const std::string target = "/dev/shm/velmora-move-test-" + std::to_string(::getpid());
    const std::string content = test::ReadFile(Src());
    const struct stat before = StatOf(Src());
    const auto result = test::MoveTo(Src(), target);
    ASSERT_EQ(result.status, Status::Stored) << result.error.message();
    EXPECT_FALSE(fs::exists(Src()));
    EXPECT_EQ(test::ReadFile(target), content);
    EXPECT_EQ(StatOf(target).st_mtim.tv_sec, before.st_mtim.tv_sec);
    fs::remove(target);
}

TEST(FileListTest, ListsVisibleRegularFilesAndLinksToThemByName)
{
    test::TempFolder dir;
    for (const char* name : {"b.jpg", "A.JPG", ".hidden", "a.jpg", "-dash", "new\nline"})
        test::WriteFile(dir / name, "x");
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "b.jpg", dir / "link.jpg");
    fs::create_symlink(dir / "folder", dir / "link-to-folder");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    std::error_code error;
    EXPECT_EQ(
        engine::ListFolderFiles(dir.str(), error),
        (std::vector<std::string>{"-dash", "A.JPG", "a.jpg", "b.jpg", "link.jpg", "new\nline"}));
    EXPECT_FALSE(error);
    engine::ListFolderFiles((dir / "missing").string(), error);
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

} // namespace
