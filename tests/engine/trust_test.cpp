// What a folder filled by someone else can do to the person sorting it: setuid programs,
// links in a date folder's place, files swapped or edited during a run, FIFOs, and names
// that only the real run would trip over.
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "engine/classification_run.h"
#include "engine/dating/exif_reader.h"
#include "engine/storing/file_store.h"
#include "tests/support/run_host.h"
#include "tests/support/store.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using engine::RunOptions;
using engine::RunResult;
using Status = engine::StoreResult::Status;

struct stat StatOf(const fs::path& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// A folder on another file system than the temporary folder, or empty when there is none.
std::string OtherFileSystem(const test::TempFolder& near)
{
    struct stat shm {
    }, tmp{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(near.str().c_str(), &tmp) != 0 ||
        shm.st_dev == tmp.st_dev || ::access("/dev/shm", W_OK) != 0)
        return {};
    std::string folder = "/dev/shm/velmora-trust-XXXXXX";
    return ::mkdtemp(folder.data()) != nullptr ? folder : std::string();
}

// Whatever the umask, and in a folder whose default ACL would decide a new file's mode.
TEST(TrustTest, ACopyGetsOnlyThePermissionBitsAndAMoveKeepsTheFile)
{
    test::TempFolder dir;
    const struct {
        mode_t mode;
        mode_t copied;
    } cases[] = {{04755, 0755}, {02755, 0755}, {06711, 0711}, {01777, 0777}, {0640, 0640}};
    // user::rwx group::--- other::---
    const unsigned char privateAcl[] = {2,    0,    0, 0, 1,    0,    7,    0,    0xff, 0xff,
                                        0xff, 0xff, 4, 0, 0,    0,    0xff, 0xff, 0xff, 0xff,
                                        0x20, 0,    0, 0, 0xff, 0xff, 0xff, 0xff};
    fs::create_directories(dir / "acl");
    const bool aclHere = ::setxattr((dir / "acl").c_str(), "system.posix_acl_default", privateAcl,
                                    sizeof privateAcl, 0) == 0;
    const mode_t before = ::umask(022);
    for (const auto& [mask, folder] : {std::pair<mode_t, fs::path>{022, dir.path()},
                                       {077, dir.path()},
                                       {0, dir.path()},
                                       {022, dir / "acl"}}) {
        if (folder != dir.path() && !aclHere)
            continue;
        ::umask(mask);
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << std::oct << c.mode << " umask " << mask << " in " << folder);
            const fs::path source = dir / "prog", copy = folder / "copy", moved = dir / "moved";
            test::WriteFile(source, "#!/bin/sh\n");
            ASSERT_EQ(::chmod(source.c_str(), c.mode), 0);
            ASSERT_EQ(test::CopyTo(source, copy, false).status, Status::Stored);
            EXPECT_EQ(StatOf(copy).st_mode & 07777, c.copied);
            const ino_t inode = StatOf(source).st_ino;
            ASSERT_EQ(test::MoveTo(source, moved).status, Status::Stored);
            EXPECT_EQ(StatOf(moved).st_mode & 07777, c.mode); // renamed: the very same file
            EXPECT_EQ(StatOf(moved).st_ino, inode);
            fs::remove(copy);
            fs::remove(moved);
        }
    }
    ::umask(before);
}

TEST(TrustTest, ACopyKeepsHolesUserAttributesAndTheAccessAcl)
{
    test::TempFolder dir;
    const fs::path source = dir / "sparse.bin", copy = dir / "copy.bin";
    {
        const int fd = ::open(source.c_str(), O_CREAT | O_WRONLY, 0640);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "middle", 6, 32 << 20), 6);
        ASSERT_EQ(::ftruncate(fd, 64 << 20), 0);
        ::close(fd);
    }
    if (::setxattr(source.c_str(), "user.rating", "5", 1, 0) != 0)
        GTEST_SKIP() << "no user attributes here";
    // A list of names longer than the copy's first read of it takes.
    std::vector<std::string> many;
    for (int i = 0; i < 30; ++i) {
        many.push_back("user.an-attribute-with-a-long-name-" + std::to_string(i));
        ASSERT_EQ(::setxattr(source.c_str(), many.back().c_str(), "v", 1, 0), 0) << i;
    }
    // user::rw- group::r-- mask::rw- other::---, plus a named user: the mode's group bits
    // show the mask (rw-), the owning group itself may only read.
    const unsigned char acl[] = {2,    0,    0,    0,    1,    0,    6,    0,    0xff, 0xff, 0xff,
                                 0xff, 2,    0,    6,    0,    0xe9, 3,    0,    0,    4,    0,
                                 4,    0,    0xff, 0xff, 0xff, 0xff, 0x10, 0,    6,    0,    0xff,
                                 0xff, 0xff, 0xff, 0x20, 0,    0,    0,    0xff, 0xff, 0xff, 0xff};
    const bool aclHere =
        ::setxattr(source.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) == 0;

    ASSERT_EQ(test::CopyTo(source, copy, false).status, Status::Stored);
    EXPECT_EQ(test::ReadFile(copy), test::ReadFile(source));
    EXPECT_LT(StatOf(copy).st_blocks * 512, 1 << 20) << "the holes were filled";
    char value[8] = {};
    EXPECT_EQ(::getxattr(copy.c_str(), "user.rating", value, sizeof value), 1);
    EXPECT_EQ(value[0], '5');
    for (const std::string& name : many)
        EXPECT_EQ(::getxattr(copy.c_str(), name.c_str(), value, sizeof value), 1) << name;
    if (aclHere) {
        unsigned char kept[64] = {};
        EXPECT_EQ(::getxattr(copy.c_str(), "system.posix_acl_access", kept, sizeof kept),
                  static_cast<ssize_t>(sizeof acl));
        EXPECT_EQ(StatOf(copy).st_mode & 0777, StatOf(source).st_mode & 0777);
    }
}

TEST(TrustTest, AMovedSourceIsRemovedOnlyWhileItIsTheFileThatWasCopied)
{
    test::TempFolder dir;
    const std::string other = OtherFileSystem(dir);
    if (other.empty())
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    const struct {
        const char* what;
        void (*change)(const fs::path& source);
        bool removed;
        const char* sourceAfter; // nullptr: gone
    } cases[] = {
        {"unchanged", [](const fs::path&) {}, true, nullptr},
        {"gone already", [](const fs::path& p) { fs::remove(p); }, true, nullptr},
        {"replaced by rename",
         [](const fs::path& p) {
             test::WriteFile(p.string() + ".new", "new version");
             fs::rename(p.string() + ".new", p);
         },
         false, "new version"},
        {"edited in place",
         [](const fs::path& p) {
             const int fd = ::open(p.c_str(), O_WRONLY);
             ASSERT_EQ(::pwrite(fd, "EDIT", 4, 0), 4);
             ::close(fd);
         },
         false, "EDITversion"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path source = dir / "a.jpg";
        const std::string copy = other + "/" + c.what;
        test::WriteFile(source, "old version");
        test::SetLocalMTime(source, 2002, 4, 26, 10, 35, 23);
        const int fd = ::open(other.c_str(), O_RDONLY | O_DIRECTORY);
        const engine::StoreResult moved = engine::StoreMove(source, {fd, other}, c.what, false);
        ::close(fd);
        ASSERT_EQ(moved.status, Status::Stored);
        ASSERT_TRUE(moved.sourceLeft);
        c.change(source);
        const engine::StoreResult removed = engine::RemoveMovedSource(source, moved.copied, copy);
        EXPECT_EQ(removed.status == Status::Stored, c.removed) << removed.message;
        EXPECT_EQ(test::ReadFile(copy), "old version");
        if (c.sourceAfter == nullptr) {
            EXPECT_FALSE(fs::exists(source));
        } else {
            EXPECT_EQ(test::ReadFile(source), c.sourceAfter);
            EXPECT_NE(removed.message.find(copy), std::string::npos) << removed.message;
        }
        EXPECT_EQ(test::Entries(dir.path()),
                  (c.sourceAfter ? std::vector<std::string>{"a.jpg"} : std::vector<std::string>{}));
        fs::remove(source);
    }
    fs::remove_all(other);
}

class TrustRunTest : public ::testing::Test {
protected:
    void Add(const std::string& name, const std::string& content, int day)
    {
        test::WriteFile(src / name, content);
        test::SetLocalMTime(src / name, 2002, 4, day, 12, 0, 0);
    }
    static engine::RunSettings DryRun()
    {
        engine::RunSettings settings;
        settings.dryRun = true;
        return settings;
    }

    RunResult RunWith(const RunOptions& options, const engine::RunSettings& settings = {})
    {
        test::FakeHost fresh{src.string()};
        if (!names.empty())
            fresh.SetNames(names);
        fresh.deskTop = deskTop;
        const RunResult result = engine::ClassificationRun(options, fresh, settings);
        host.stored = fresh.stored;
        return result;
    }

    test::TempFolder dir;
    fs::path src = dir.path();
    std::vector<std::string> names;
    std::string deskTop;
    test::FakeHost host{dir.str()};
};

TEST_F(TrustRunTest, TheDryRunStopsWhereTheRealRunWouldWithTheSameMessage)
{
    test::TempFolder elsewhere;
    const std::string longName = std::string(250, 'n') + ".jpg";
    const struct {
        const char* what;
        void (*plant)(const fs::path& src, const fs::path& elsewhere);
        std::string name; // the file to sort
        int code;
    } cases[] = {
        {"a link in a date folder's place",
         [](const fs::path& s, const fs::path& e) {
             fs::create_directory_symlink(e, s / "020426");
         },
         "a.jpg", ELOOP},
        {"a file in a date folder's place",
         [](const fs::path& s, const fs::path&) { test::WriteFile(s / "020426", "x"); }, "a.jpg",
         ENOTDIR},
        {"a stored name longer than the file system allows",
         [](const fs::path&, const fs::path&) {}, longName, ENAMETOOLONG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder scene;
        src = scene.path();
        c.plant(src, elsewhere.path());
        Add(c.name, "content", 26);
        RunOptions options;
        options.RenamePattern = 2; // yymmdd in front: the long name grows past 255 bytes
        options.Move = 1;
        const auto before = test::Tree(src);
        const RunResult planned = RunWith(options, DryRun());
        EXPECT_EQ(test::Tree(src), before);
        const RunResult real = RunWith(options);
        EXPECT_FALSE(planned.ok);
        EXPECT_FALSE(real.ok);
        EXPECT_EQ(planned.error.code.value(), c.code);
        EXPECT_EQ(real.error.code.value(), c.code);
        EXPECT_EQ(planned.error.message, real.error.message);
        EXPECT_NE(real.error.message.find(c.code == ENAMETOOLONG ? c.name.substr(0, 200)
                                                                 : src.string() + "/020426"),
                  std::string::npos)
            << real.error.message;
        EXPECT_EQ(test::Tree(src), before) << "nothing stored, nothing removed";
        EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    }
}

TEST_F(TrustRunTest, TheDryRunOfAMoveKnowsThatEarlierFilesLeave)
{
    // "020427" is a file dated the 26th: the move takes it away before the 27th needs the
    // name as a folder, so both runs go through.
    Add("020427", "in the way until moved", 26);
    Add("b.txt", "b", 27);
    RunOptions options;
    options.Move = 1;
    const RunResult planned = RunWith(options, DryRun());
    EXPECT_TRUE(planned.ok) << planned.error.message;
    const RunResult real = RunWith(options);
    EXPECT_TRUE(real.ok) << real.error.message;
    EXPECT_EQ(test::Tree(src), (std::vector<std::string>{"020426/020427", "020427/b.txt"}));
}

TEST_F(TrustRunTest, ADateFolderSwappedForALinkDuringTheRunLeadsNothingOutside)
{
    test::TempFolder elsewhere;
    Add("a.jpg", "a", 26);
    Add("b.jpg", "b", 26);
    engine::RunSettings settings;
    settings.beforeStore = [&](const std::string& destination) {
        if (destination.find("a.jpg") == std::string::npos)
            return;
        fs::rename(src / "020426", src / "moved-away");
        fs::create_directory_symlink(elsewhere.path(), src / "020426");
    };
    RunOptions options;
    options.Move = 1;
    const RunResult result = RunWith(options, settings);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    // The files went into the folder that was opened, wherever it now is.
    EXPECT_EQ(test::Tree(src / "moved-away"), (std::vector<std::string>{"a.jpg", "b.jpg"}));
    EXPECT_TRUE(result.ok) << result.error.message;
}

TEST_F(TrustRunTest, AListedFileSwappedForAFifoIsReportedWithoutWaiting)
{
    Add("a.jpg", "a", 26);
    ASSERT_EQ(::mkfifo((src / "b.jpg").c_str(), 0644), 0);
    names = {"a.jpg", "b.jpg"}; // as listed before the swap
    engine::HeadBuffer head;
    EXPECT_EQ(engine::ReadHead((src / "b.jpg").string(), head).value(), EINVAL);
    const RunResult result = RunWith(RunOptions{});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.path, (src / "b.jpg").string());
    EXPECT_FALSE(fs::exists(src / "020426")) << "the run stopped before storing";
}

TEST_F(TrustRunTest, CrossFileSystemMovesFlushInBatchesAndKeepChangedSources)
{
    const std::string other = OtherFileSystem(dir);
    if (other.empty())
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    deskTop = other;
    for (int i = 0; i < 150; ++i)
        Add("f" + std::to_string(1000 + i) + ".jpg", "content " + std::to_string(i), 26);
    engine::RunSettings settings;
    // While the third file is stored, the first one (copied, not yet removed) is edited.
    settings.beforeStore = [&](const std::string& destination) {
        if (destination.find("f1002.jpg") != std::string::npos)
            test::WriteFile(src / "f1000.jpg", "edited meanwhile");
    };
    RunOptions options;
    options.Move = 1;
    options.DestPattern = 2;
    const RunResult result = RunWith(options, settings);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.code.value(), ECANCELED);
    EXPECT_NE(result.error.message.find("f1000.jpg"), std::string::npos) << result.error.message;
    // The edited file stays beside its copy as it was; the other files of its batch (the
    // first 64) were moved, and the run stopped there, so the rest were not touched.
    std::vector<std::string> left{"f1000.jpg"};
    for (int i = 64; i < 150; ++i)
        left.push_back("f" + std::to_string(1000 + i) + ".jpg");
    EXPECT_EQ(test::Tree(src), left);
    EXPECT_EQ(test::ReadFile(src / "f1000.jpg"), "edited meanwhile");
    const fs::path stored = fs::path(other) / "分類" / "020426";
    EXPECT_EQ(test::Tree(stored).size(), 64u);
    EXPECT_EQ(test::ReadFile(stored / "f1000.jpg"), "content 0");
    EXPECT_EQ(test::ReadFile(stored / "f1063.jpg"), "content 63");
    fs::remove_all(other);
}

} // namespace
