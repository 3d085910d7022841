// Storing on file systems that lack features, or that answer wrongly, as the fault suite
// (tests/faults) met them: exFAT and FAT through FUSE have no O_TMPFILE, no hard links and no
// no-replace rename; a copy_file_range may report the end of a file early. This test program
// wraps the C library calls the store makes; the wrappers pass every call through unchanged
// unless a test switches a fault on.
#include "engine/storing/file_store.h"

#include "engine/classification_run.h"
#include "tests/support/run_host.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

#include "tests/support/store.h"
#include "tests/support/temp_folder.h"

namespace {

struct Faults {
    bool fat = false;             // no O_TMPFILE link, hard link or no-replace rename
    int renameError = 0;          // plain rename() fails with this
    bool renameTouches = false;   // a renamed file gets the time of the rename
    int earlyEndOfFile = 0;       // this many copy_file_range calls answer 0 at once
    std::size_t chunk = 0;        // when not 0, a copy_file_range moves at most this much
    std::function<void()> onCopy; // runs at every copy_file_range, before the data moves
    int syncfsError = 0;          // syncfs fails with this
    bool noAcl = false;           // the destination keeps no POSIX ACL
};
Faults faults;

} // namespace

extern "C" {

ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t length,
                        unsigned int flags)
{
    if (faults.onCopy)
        faults.onCopy();
    if (faults.earlyEndOfFile > 0) {
        --faults.earlyEndOfFile;
        return 0;
    }
    if (faults.chunk != 0 && length > faults.chunk)
        length = faults.chunk;
    return ::syscall(SYS_copy_file_range, in, inOffset, out, outOffset, length, flags);
}

int linkat(int fromFd, const char* from, int toFd, const char* to, int flags) noexcept
{
    if (faults.fat) { // what a FUSE file system without O_TMPFILE leaves to the fallback
        errno = EOPNOTSUPP;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_linkat, fromFd, from, toFd, to, flags));
}

int renameat2(int fromFd, const char* from, int toFd, const char* to, unsigned int flags) noexcept
{
    if (faults.fat && flags != 0) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_renameat2, fromFd, from, toFd, to, flags));
}

int rename(const char* from, const char* to) noexcept
{
    if (faults.renameError != 0) {
        errno = faults.renameError;
        return -1;
    }
    const int result = static_cast<int>(::syscall(SYS_rename, from, to));
    if (result == 0 && faults.renameTouches)
        ::utimensat(AT_FDCWD, to, nullptr, 0);
    return result;
}

int syncfs(int fd) noexcept
{
    if (faults.syncfsError != 0) {
        errno = faults.syncfsError;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_syncfs, fd));
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) noexcept
{
    if (faults.noAcl && std::string_view(name).rfind("system.posix_acl", 0) == 0) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fsetxattr, fd, name, value, size, flags));
}

int renameat(int fromFd, const char* from, int toFd, const char* to) noexcept
{
    if (faults.renameError != 0) {
        errno = faults.renameError;
        return -1;
    }
    const int result = static_cast<int>(::syscall(SYS_renameat, fromFd, from, toFd, to));
    if (result == 0 && faults.renameTouches)
        ::utimensat(toFd, to, nullptr, 0);
    return result;
}

} // extern "C"

namespace {

namespace fs = std::filesystem;
using Status = engine::StoreResult::Status;

using test::Entries;

class StoreFaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        faults = {};
        fs::create_directory(dir / "src");
        fs::create_directory(dir / "dst");
        for (std::size_t i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>('a' + i % 23);
        test::WriteFile(dir / "src/a.jpg", content);
        test::SetLocalMTime(dir / "src/a.jpg", 2002, 4, 26, 10, 35, 23);
    }
    void TearDown() override { faults = {}; }

    std::string Src() const { return (dir / "src/a.jpg").string(); }
    std::string Dst() const { return (dir / "dst/a.jpg").string(); }

    // Fails the test whenever the final name exists while data is being copied.
    void WatchFinalName()
    {
        faults.onCopy = [this] {
            struct stat st {};
            if (::lstat(Dst().c_str(), &st) == 0)
                ADD_FAILURE() << "the final name holds a copy that is still being written";
        };
    }

    test::TempFolder dir;
    std::string content = std::string(3 << 20, '\0');
};

TEST_F(StoreFaultsTest, WithoutTmpfileLinksOrNoReplaceRenameTheFinalNameOnlyEverHoldsAWholeCopy)
{
    faults.fat = true;
    faults.renameTouches = true;
    WatchFinalName();
    for (const bool durable : {false, true}) {
        SCOPED_TRACE(durable);
        fs::remove(Dst());
        EXPECT_EQ(test::CopyTo(Src(), Dst(), durable).status, Status::Stored);
        EXPECT_EQ(test::ReadFile(Dst()), content);
        EXPECT_EQ(fs::last_write_time(Dst()), fs::last_write_time(Src()));
        EXPECT_EQ(Entries(dir / "dst"), std::vector<std::string>{"a.jpg"}); // no leftovers
    }
    // A move there copies (no rename without replacing), and the same holds.
    fs::remove(Dst());
    EXPECT_EQ(test::MoveTo(Src(), Dst()).status, Status::Stored);
    EXPECT_EQ(test::ReadFile(Dst()), content);
    EXPECT_FALSE(fs::exists(Src()));
    EXPECT_EQ(Entries(dir / "dst"), std::vector<std::string>{"a.jpg"});
}

TEST_F(StoreFaultsTest, WithoutTmpfileLinksOrNoReplaceRenameNothingIsReplaced)
{
    faults.fat = true;
    // Taken before the store, and taken while the copy is written.
    test::WriteFile(Dst(), "there before");
    EXPECT_EQ(test::CopyTo(Src(), Dst(), false).status, Status::NameTaken);
    EXPECT_EQ(test::ReadFile(Dst()), "there before");
    fs::remove(Dst());
    faults.onCopy = [this] {
        if (!fs::exists(Dst()))
            test::WriteFile(Dst(), "appeared meanwhile");
    };
    EXPECT_EQ(test::CopyTo(Src(), Dst(), false).status, Status::NameTaken);
    EXPECT_EQ(test::ReadFile(Dst()), "appeared meanwhile");
    EXPECT_EQ(Entries(dir / "dst"), std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(test::ReadFile(Src()), content);
}

TEST_F(StoreFaultsTest, WithoutTmpfileLinksOrNoReplaceRenameAFailedRenameLeavesNothing)
{
    faults.fat = true;
    faults.renameError = EIO;
    const engine::StoreResult result = test::CopyTo(Src(), Dst(), true);
    EXPECT_EQ(result.status, Status::Failed);
    EXPECT_EQ(result.error, std::errc::io_error);
    EXPECT_TRUE(Entries(dir / "dst").empty()); // neither the held name nor the hidden copy
    faults.renameError = 0;
    EXPECT_EQ(test::MoveTo(Src(), Dst()).status, Status::Stored);
    EXPECT_EQ(test::ReadFile(Dst()), content);
}

TEST_F(StoreFaultsTest, AnEarlyEndOfFileFromTheKernelCopyIsNotTrusted)
{
    // The kernel copy says "end of file" at once, or after a first part: plain reads finish.
    faults.chunk = 1 << 20;
    for (const int partsFirst : {0, 1}) {
        SCOPED_TRACE(partsFirst);
        fs::remove(Dst());
        int calls = 0;
        faults.onCopy = [&calls, partsFirst] {
            if (calls++ == partsFirst)
                faults.earlyEndOfFile = 1;
        };
        EXPECT_EQ(test::CopyTo(Src(), Dst(), false).status, Status::Stored);
        EXPECT_EQ(test::ReadFile(Dst()), content);
    }
}

TEST_F(StoreFaultsTest, ASourceThatEndsBeforeItsSizeGivesNoCopyAndIsKept)
{
    // The file shrinks while it is copied (or the device answers "end of file" without an
    // error): the short copy must not stand for it, least of all when moving.
    fs::create_symlink(dir / "src/a.jpg", dir / "src/link.jpg"); // a link is moved by copying
    faults.onCopy = [this] {
        fs::resize_file(dir / "src/a.jpg", content.size() / 2);
        faults.earlyEndOfFile = 1;
    };
    const engine::StoreResult copied = test::CopyTo(Src(), Dst(), false);
    EXPECT_EQ(copied.status, Status::Failed);
    EXPECT_EQ(copied.error, std::errc::io_error);
    EXPECT_EQ(copied.step, "read");
    EXPECT_EQ(copied.errorPath, Src());
    EXPECT_TRUE(Entries(dir / "dst").empty());

    test::WriteFile(dir / "src/a.jpg", content);
    const engine::StoreResult moved = test::MoveTo((dir / "src/link.jpg").string(), Dst());
    EXPECT_EQ(moved.status, Status::Failed);
    EXPECT_TRUE(fs::is_symlink(dir / "src/link.jpg"));
    EXPECT_TRUE(Entries(dir / "dst").empty());
}

TEST_F(StoreFaultsTest, ASourceThatChangesWhileItIsCopiedGivesNoCopy)
{
    const struct {
        const char* what;
        void (*change)(const fs::path& source);
    } cases[] = {
        {"appended to",
         [](const fs::path& p) {
             const int fd = ::open(p.c_str(), O_WRONLY | O_APPEND);
             EXPECT_EQ(::write(fd, "more", 4), 4);
             ::close(fd);
         }},
        {"touched", [](const fs::path& p) { ::utimensat(AT_FDCWD, p.c_str(), nullptr, 0); }},
    };
    faults.chunk = 1 << 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteFile(Src(), content);
        bool changed = false;
        faults.onCopy = [&] {
            if (!std::exchange(changed, true))
                c.change(Src());
        };
        const engine::StoreResult result = test::CopyTo(Src(), Dst(), false);
        EXPECT_EQ(result.status, Status::Failed);
        EXPECT_EQ(result.error, std::errc::operation_canceled);
        EXPECT_NE(result.message.find(Src()), std::string::npos) << result.message;
        EXPECT_TRUE(Entries(dir / "dst").empty());
    }
}

TEST_F(StoreFaultsTest, WithoutAclSupportTheMaskDoesNotWidenTheGroup)
{
    // user::rw- group::r-- mask::rw- other::---: the mode shows the mask as group rw-.
    const unsigned char acl[] = {2,    0,    0,    0, 1, 0,    6,    0,    0xff,
                                 0xff, 0xff, 0xff, 4, 0, 4,    0,    0xff, 0xff,
                                 0xff, 0xff, 0x10, 0, 6, 0,    0xff, 0xff, 0xff,
                                 0xff, 0x20, 0,    0, 0, 0xff, 0xff, 0xff, 0xff};
    if (::setxattr(Src().c_str(), "system.posix_acl_access", acl, sizeof acl, 0) != 0)
        GTEST_SKIP() << "no POSIX ACLs here";
    faults.noAcl = true;
    ASSERT_EQ(test::CopyTo(Src(), Dst(), false).status, Status::Stored);
    struct stat st {};
    ASSERT_EQ(::stat(Dst().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(StoreFaultsTest, AFailedFlushRemovesNoSourceOfAMove)
{
    std::string other = "/dev/shm/velmora-flush-XXXXXX";
    struct stat shm {
    }, tmp{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.str().c_str(), &tmp) != 0 ||
        shm.st_dev == tmp.st_dev || ::mkdtemp(other.data()) == nullptr)
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    for (int i = 0; i < 5; ++i)
        test::WriteFile(dir / "src" / ("b" + std::to_string(i) + ".jpg"), "b");
    faults.syncfsError = EIO;
    test::FakeHost host((dir / "src").string());
    host.deskTop = other;
    engine::RunOptions options;
    options.Move = 1;
    options.DestPattern = 2;
    const engine::RunResult result = engine::ClassificationRun(options, host);
    faults.syncfsError = 0;
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.code, std::errc::io_error);
    EXPECT_EQ(result.error.step, "flush");
    EXPECT_EQ(test::Tree(dir / "src").size(), 6u); // every source is still there
    EXPECT_EQ(test::Tree(other).size(), 6u);       // and so is every copy
    fs::remove_all(other);
}

} // namespace
