// The run history and undo, on real folders: one table per undo rule, the lock of a running
// run, what a killed run leaves, dry runs, pruning and a damaged database.
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/classification_run.h"
#include "engine/file_list.h"
#include "engine/history/history.h"
#include "engine/history/undo.h"
#include "tests/support/run_host.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::Tree;
using test::WriteFile;

class HistoryTest : public ::testing::Test {
protected:
    void Add(const std::string& name, const std::string& content)
    {
        fs::create_directories((src / name).parent_path());
        WriteFile(src / name, content);
        test::SetLocalMTime(src / name, 2024, 3, 1, 10, 0, 0);
    }
    engine::RunResult Run(engine::RunOptions options)
    {
        options.SourceFolder = src.string();
        test::FakeHost host(src.string());
        std::error_code error;
        host.SetNames(engine::ListRunFiles(options, host, error));
        engine::RunSettings settings;
        settings.history = history.get();
        return engine::ClassificationRun(options, host, settings);
    }
    engine::UndoResult Undo(std::int64_t id, bool dryRun = false)
    {
        return engine::UndoRun(*history, id, dryRun);
    }
    // The reason of the one file left alone, or "" when none was.
    static std::string Reason(const engine::UndoResult& undo)
    {
        for (const engine::UndoStep& step : undo.steps)
            if (step.kind == engine::UndoStep::Kind::Leave)
                return step.reason;
        return {};
    }

    test::TempFolder dir;
    fs::path src = dir / "card";
    fs::path historyPath = dir / "state/velmora/history.sqlite3";
    std::string problem;
    std::unique_ptr<engine::History> history = engine::History::Open(historyPath, problem);
};

// Replaces a file by another inode with the same size and modification time.
void Replace(const fs::path& path, const std::string& bytes)
{
    const auto time = fs::last_write_time(path);
    fs::remove(path);
    WriteFile(path, bytes);
    fs::last_write_time(path, time);
}

TEST_F(HistoryTest, CopyIsRemovedOnlyWhenItIsTheStoredFileAndItsSourceHoldsTheSameBytes)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path& source, const fs::path& copy)> change;
        const char* reason; // "" when the copy is removed
    };
    const Case cases[] = {
        {"unchanged", [](const fs::path&, const fs::path&) {}, ""},
        {"source deleted", [](const fs::path& s, const fs::path&) { fs::remove(s); },
         "its source is gone: this is now the only copy"},
        {"source edited", [](const fs::path& s, const fs::path&) { Replace(s, "PHOTO"); },
         "no longer holds the same bytes"},
        {"copy replaced, same size and time",
         [](const fs::path&, const fs::path& c) { Replace(c, "other"); }, "changed since"},
        {"copy edited in place",
         [](const fs::path&, const fs::path& c) {
             const auto time = fs::last_write_time(c);
             WriteFile(c, "PHOTO");
             fs::last_write_time(c, time);
         },
         "changed since"},
        {"copy gone already", [](const fs::path&, const fs::path& c) { fs::remove(c); }, ""},
        {"source replaced by a link to the copy",
         [](const fs::path& s, const fs::path& c) {
             fs::remove(s);
             fs::create_symlink(c, s);
         },
         "leads to this very file: this is the only copy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(src);
        Add("a.jpg", "photo");
        const engine::RunResult run = Run({});
        ASSERT_TRUE(run.ok && run.historyRun != 0) << run.historyProblem;
        const std::vector<engine::FileRecord> rows = history->Files(run.historyRun);
        ASSERT_EQ(rows.size(), 1u); // hashed while the run went on, written by its end
        EXPECT_TRUE(rows[0].hashed && rows[0].hash == engine::HashBytes("photo"));
        const fs::path copy = src / "240301/a.jpg";
        c.change(src / "a.jpg", copy);
        const bool copyThere = fs::exists(copy);
        const engine::UndoResult undo = Undo(run.historyRun);
        ASSERT_TRUE(undo.started) << undo.message;
        EXPECT_NE(Reason(undo).find(c.reason), std::string::npos) << Reason(undo);
        EXPECT_EQ(undo.complete, std::string(c.reason).empty());
        EXPECT_EQ(fs::exists(copy), copyThere && !std::string(c.reason).empty());
        EXPECT_EQ(history->Run(run.historyRun)->state, undo.complete
                                                           ? engine::RunState::Undone
                                                           : engine::RunState::PartlyUndone);
    }
}

TEST_F(HistoryTest, MoveGoesBackOnlyIntoItsOwnFoldersAndNeverReplaces)
{
    struct Case {
        const char* name;
        std::function<void()> change;
        const char* reason; // "" when the file goes back
    };
    const fs::path outside = dir / "outside";
    fs::create_directories(outside);
    const Case cases[] = {
        {"unchanged", [] {}, ""},
        {"source name taken", [&] { WriteFile(src / "DCIM/a.jpg", "new"); }, "is in the way"},
        {"subfolder replaced by a link",
         [&] {
             fs::remove_all(src / "DCIM");
             fs::create_directory_symlink(outside, src / "DCIM");
         },
         "cannot be opened"},
        {"moved file edited",
         [&] { WriteFile(src / "240301/a.jpg", "edited"); }, "changed since it was moved"},
        {"moved file removed by hand", [&] { fs::remove(src / "240301/a.jpg"); }, "it is gone"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(src);
        Add("DCIM/a.jpg", "photo");
        engine::RunOptions options;
        options.Move = options.Recursive = 1;
        const engine::RunResult run = Run(options);
        ASSERT_TRUE(run.ok) << run.error.message;
        ASSERT_FALSE(fs::exists(src / "DCIM/a.jpg"));
        c.change();
        const engine::UndoResult undo = Undo(run.historyRun);
        ASSERT_TRUE(undo.started) << undo.message;
        EXPECT_NE(Reason(undo).find(c.reason), std::string::npos) << Reason(undo);
        EXPECT_EQ(undo.complete, std::string(c.reason).empty());
        if (undo.complete) {
            EXPECT_EQ(ReadFile(src / "DCIM/a.jpg"), "photo");
        }
        EXPECT_TRUE(Tree(outside).empty()); // nothing ever went through the link
    }
}

TEST_F(HistoryTest, AlreadyThereEntryRestoresItsSourceOnlyFromTheRecordedInode)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path& stored)> change;
        const char* reason;
    };
    const Case cases[] = {
        {"unchanged", [](const fs::path&) {}, ""},
        {"stored file replaced, same size and time",
         [](const fs::path& s) { Replace(s, "PHOTO"); }, "changed since"},
        {"stored file removed", [](const fs::path& s) { fs::remove(s); }, "it is gone"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(src);
        Add("a.jpg", "photo");
        engine::RunOptions options;
        options.SkipSame = 1;
        ASSERT_TRUE(Run(options).ok);
        options.Move = 1;
        const engine::RunResult run = Run(options);
        ASSERT_EQ(run.filesSame, 1u);
        ASSERT_FALSE(fs::exists(src / "a.jpg"));
        c.change(src / "240301/a.jpg");
        const engine::UndoResult undo = Undo(run.historyRun);
        EXPECT_NE(Reason(undo).find(c.reason), std::string::npos) << Reason(undo);
        EXPECT_EQ(fs::exists(src / "a.jpg"), std::string(c.reason).empty());
        if (fs::exists(src / "a.jpg")) {
            EXPECT_EQ(ReadFile(src / "a.jpg"), "photo");
        }
    }
}

TEST_F(HistoryTest, DryRunChangesNothingAndARunningRunIsRefused)
{
    Add("a.jpg", "a");
    Add("b.jpg", "b");
    const engine::RunResult run = Run({});
    const std::vector<std::string> before = Tree(dir.path());
    const std::string database = ReadFile(historyPath);
    const engine::UndoResult dry = Undo(run.historyRun, true);
    EXPECT_TRUE(dry.complete);
    EXPECT_EQ(dry.undone, 2u);
    EXPECT_EQ(dry.foldersRemoved, 1u);
    EXPECT_EQ(Tree(dir.path()), before);
    EXPECT_EQ(ReadFile(historyPath), database);
    EXPECT_EQ(history->Run(run.historyRun)->state, engine::RunState::Done);

    // A run that is going holds its lock: another process's undo is refused, and the run is
    // taken up once its process is gone (here: its history object).
    std::string ignored;
    auto live = engine::History::Open(historyPath, ignored);
    engine::RunRecord record;
    record.source = record.base = src.string();
    const std::int64_t going = live->BeginRun(record);
    const engine::UndoResult refused = Undo(going);
    EXPECT_FALSE(refused.started);
    EXPECT_NE(refused.message.find("still going"), std::string::npos);
    EXPECT_EQ(history->Run(going)->state, engine::RunState::Running);
    live.reset(); // killed
    EXPECT_TRUE(Undo(going).complete);
    EXPECT_NE(history->Run(going)->note.find("was killed"), std::string::npos);
}

TEST_F(HistoryTest, LeftoversOfAKilledRunAreFinishedByTheNextRun)
{
    Add("a.jpg", "photo a");
    Add("b.jpg", "photo b");
    std::string ignored;
    auto killed = engine::History::Open(historyPath, ignored);
    engine::RunRecord record;
    record.source = record.base = src.string();
    record.move = true;
    const std::int64_t id = killed->BeginRun(record);
    // What a kill leaves: a partial copy in the date folder, a source being removed under its
    // hidden name (its copy is stored and recorded).
    fs::create_directories(src / "240301");
    char pid[16];
    std::snprintf(pid, sizeof pid, "%x", static_cast<unsigned>(::getpid()));
    WriteFile(src / "240301" / (std::string(".velmora-part-") + pid + "-1-0-b.jpg"), "pho");
    fs::copy_file(src / "a.jpg", src / "240301/a.jpg");
    fs::rename(src / "a.jpg", src / (std::string(".velmora-moved-") + pid + "-1-1-a.jpg"));
    killed->FolderUsed((src / "240301").string(), true);
    engine::FileRecord file;
    file.action = engine::FileAction::Moved;
    file.source = (src / "a.jpg").string();
    file.dest = (src / "240301/a.jpg").string();
    struct stat st {};
    ::stat(file.dest.c_str(), &st);
    file.stored = engine::IdentityOf(st);
    file.sourceKnown = true;
    killed->FileStored(file);
    killed->Commit(true);
    killed.reset();

    Add("c.jpg", "photo c");
    ASSERT_TRUE(Run({}).ok);
    EXPECT_EQ(ReadFile(src / "a.jpg"), "photo a"); // rolled back under its name
    for (const std::string& name : Tree(src))
        EXPECT_EQ(name.find(".velmora-"), std::string::npos) << name;
    const auto run = history->Run(id);
    EXPECT_EQ(run->state, engine::RunState::Failed);
    EXPECT_NE(run->note.find("1 unfinished copies were removed"), std::string::npos) << run->note;
    // Its undo takes the stored file away: the source is there with the same bytes.
    const engine::UndoResult undo = Undo(id);
    EXPECT_TRUE(undo.complete) << Reason(undo);
    EXPECT_FALSE(fs::exists(src / "240301/a.jpg"));
    EXPECT_EQ(ReadFile(src / "a.jpg"), "photo a");
}

// A run's rows are written on a thread of their own: in the order they were handed in, a copy
// handed in open gets its identity and hash from the file itself (the row's size is only a
// hint), and all are readable by another connection once Commit returns, the run still going.
TEST_F(HistoryTest, RowsGoInInOrderWithTheHashesOfTheirFiles)
{
    engine::RunRecord record;
    record.source = record.base = src.string();
    const std::int64_t id = history->BeginRun(record);
    const std::string contents[] = {"", "one", std::string(600 * 1024, 'z'), "two", "last"};
    fs::create_directories(src);
    constexpr int kFiles = 300;
    for (int i = 0; i < kFiles; ++i) {
        const std::string& content = contents[i % 5];
        const fs::path path = src / ("f" + std::to_string(i));
        WriteFile(path, content);
        engine::FileRecord file;
        file.source = file.dest = path.string();
        file.stored.size = static_cast<off_t>(content.size() + 1);
        file.hashed = i % 3 == 0; // hashed by the run itself
        file.hash = 42;
        const int fd = file.hashed ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        history->FileStored(file, engine::UniqueFd(fd));
        if (i == kFiles / 2)
            history->FolderUsed(src.string(), false);
    }
    // A copy whose close fails may have lost a write: it is named once, after the commit.
    engine::FileRecord lost;
    lost.dest = (src / "lost").string();
    history->FileStored(lost, engine::UniqueFd(1 << 20)); // never open: above any fd limit
    ASSERT_FALSE(history->Commit(false));
    const std::vector<engine::History::WriteFailure> failures = history->WriteFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].dest, lost.dest);
    EXPECT_TRUE(history->WriteFailures().empty());
    std::string ignored;
    const auto reader = engine::History::OpenToRead(historyPath, ignored);
    ASSERT_TRUE(reader);
    const std::vector<engine::FileRecord> files = reader->Files(id);
    ASSERT_EQ(files.size(), static_cast<std::size_t>(kFiles) + 1);
    EXPECT_FALSE(files.back().hashed);
    for (int i = 0; i < kFiles; ++i) {
        const engine::FileRecord& file = files[static_cast<std::size_t>(i)];
        const std::string& content = contents[i % 5];
        EXPECT_EQ(file.seq, i + 1);
        EXPECT_EQ(file.dest, (src / ("f" + std::to_string(i))).string());
        EXPECT_TRUE(file.hashed) << i;
        EXPECT_EQ(file.hash, i % 3 == 0 ? 42u : engine::HashBytes(content)) << i;
        if (i % 3 != 0) {
            struct stat st {};
            ASSERT_EQ(::stat(file.dest.c_str(), &st), 0);
            EXPECT_TRUE(engine::SameFile(file.stored, engine::IdentityOf(st))) << i;
        }
    }
    EXPECT_EQ(reader->Folders(id).size(), 1u);
    history->EndRun(true, kFiles + 1, 0, 0);
    EXPECT_EQ(reader->Run(id)->state, engine::RunState::Done);
}

TEST_F(HistoryTest, KeepsTheNewestRunsAndAnswersWhichFoldersItMade)
{
    Add("a.jpg", "a");
    engine::RunOptions options;
    options.DirTemplate = "yyyy/mm";
    const engine::RunResult first = Run(options);
    EXPECT_EQ(history->FoldersMadeUnder(src.string()),
              (std::set<std::string>{(src / "2024").string(), (src / "2024/03").string()}));
    EXPECT_EQ(engine::FoldersMadeByRuns(src.string()).size(), 0u); // another history
    EXPECT_TRUE(Undo(first.historyRun).complete);
    EXPECT_TRUE(history->FoldersMadeUnder(src.string()).empty());

    for (int i = 0; i < engine::kHistoryRuns + 3; ++i) {
        engine::RunRecord record;
        record.source = record.base = src.string();
        history->BeginRun(record);
        history->FolderUsed((src / "x").string(), true);
        history->EndRun(true, 0, 0, 1);
    }
    Add("b.jpg", "b");
    ASSERT_TRUE(Run({}).ok); // prunes at its start
    const std::vector<engine::RunRecord> runs = history->Runs(1000);
    EXPECT_EQ(runs.size(), static_cast<std::size_t>(engine::kHistoryRuns) + 1);
    EXPECT_EQ(history->Run(first.historyRun), std::nullopt);
}

TEST_F(HistoryTest, NoHistoryOrADamagedOneIsSaidAndUndoesNothing)
{
    std::string said;
    EXPECT_EQ(engine::History::Open("", said), nullptr);
    EXPECT_EQ(said.rfind("no undo history: ", 0), 0u) << said;
    const fs::path damaged = dir / "damaged/history.sqlite3";
    fs::create_directories(damaged.parent_path());
    WriteFile(damaged, std::string(4096, 'x'));
    EXPECT_EQ(engine::History::Open(damaged, said), nullptr);
    EXPECT_NE(said.find(damaged.string()), std::string::npos) << said;
    // The database and its folder are private.
    struct stat st {};
    ASSERT_EQ(::stat(historyPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(historyPath.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

} // namespace
