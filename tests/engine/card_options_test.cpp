// Runs with the card options (Recursive, SkipSame, DirTemplate), their history and its undo,
// on real folders.
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/classification_run.h"
#include "engine/file_list.h"
#include "engine/history/history.h"
#include "engine/history/undo.h"
#include "engine/naming/folder_template.h"
#include "tests/support/run_host.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using test::Tree;

class SameHost : public test::FakeHost {
public:
    using test::FakeHost::FakeHost;
    void AlreadyStored(const std::string& source, const std::string& existing) override
    {
        same.emplace_back(source, existing);
    }
    std::vector<std::pair<std::string, std::string>> same;
};

class CardTest : public ::testing::Test {
protected:
    void Add(const std::string& name, const std::string& content, int day)
    {
        fs::create_directories((src / name).parent_path());
        test::WriteFile(src / name, content);
        test::SetLocalMTime(src / name, 2024, 3, day, 10, 0, 0);
    }
    // Lists as velmora-cli and the window do for these options.
    std::vector<std::string> Listed(engine::RunOptions options)
    {
        options.SourceFolder = src.string();
        test::FakeHost folders(src.string());
        std::error_code error;
        return engine::ListRunFiles(options, folders, error);
    }
    engine::RunResult Run(engine::RunOptions options, bool dryRun = false)
    {
        options.SourceFolder = src.string();
        host = std::make_unique<SameHost>(src.string());
        host->SetNames(Listed(options));
        engine::RunSettings settings;
        settings.dryRun = dryRun;
        settings.history = history.get();
        return engine::ClassificationRun(options, *host, settings);
    }
    engine::UndoResult Undo(const engine::RunResult& run)
    {
        return engine::UndoRun(*history, run.historyRun, false);
    }
    std::int64_t NewestToUndo()
    {
        std::string message;
        const auto run = engine::ChooseRunToUndo(*history, std::nullopt, {}, message);
        return run ? run->id : 0;
    }
    static std::vector<std::string> Left(const engine::UndoResult& undo)
    {
        std::vector<std::string> paths;
        for (const engine::UndoStep& step : undo.steps)
            if (step.kind == engine::UndoStep::Kind::Leave)
                paths.push_back(step.path + ": " + step.reason);
        return paths;
    }

    test::TempFolder dir;
    fs::path src = dir / "card";
    fs::path historyPath = dir / "state/velmora/history.sqlite3";
    std::string problem;
    std::unique_ptr<engine::History> history = engine::History::Open(historyPath, problem);
    std::unique_ptr<SameHost> host;
};

TEST_F(CardTest, RecursiveListingSkipsHiddenFoldersAndLinksToFolders)
{
    Add("top.jpg", "t", 1);
    Add("DCIM/100CANON/IMG_0001.JPG", "1", 1);
    Add("DCIM/101CANON/IMG_0001.JPG", "2", 2);
    Add(".trash/old.jpg", "x", 1);
    Add("240301/stored.jpg", "s", 1); // a date folder of an earlier run: the run passes it over
    Add("2403011/other.jpg", "o", 1);
    fs::create_directory_symlink(src / "DCIM", src / "linked");
    fs::create_symlink(src / "top.jpg", src / "DCIM/top-link.jpg");
    engine::RunOptions options;
    options.Recursive = 1;
    EXPECT_EQ(Listed(options),
              (std::vector<std::string>{"240301/stored.jpg", "2403011/other.jpg",
                                        "DCIM/100CANON/IMG_0001.JPG", "DCIM/101CANON/IMG_0001.JPG",
                                        "DCIM/top-link.jpg", "top.jpg"}));
    std::error_code error;
    engine::ListFolderTree((src / "missing").string(), "", {}, error);
    EXPECT_TRUE(error);
}

TEST_F(CardTest, SubfolderFilesAreOneListWithSuffixesAcrossFolders)
{
    Add("DCIM/100CANON/IMG_0001.JPG", "first", 1);
    Add("DCIM/101CANON/IMG_0001.JPG", "second", 1);
    engine::RunOptions options;
    options.Recursive = 1;
    const engine::RunResult result = Run(options);
    ASSERT_TRUE(result.ok) << result.error.message;
    EXPECT_EQ(result.filesStored, 2u);
    EXPECT_EQ(test::ReadFile(src / "240301/IMG_0001.JPG"), "first");
    EXPECT_EQ(test::ReadFile(src / "240301/IMG_0001[001].JPG"), "second");
    // A second run takes the card's files again; what the first one stored is listed too but
    // passed over, since it lies in its date folder already.
    const engine::RunResult again = Run(options);
    ASSERT_TRUE(again.ok) << again.error.message;
    EXPECT_EQ(again.filesStored, 2u);
    EXPECT_EQ(again.filesInPlace, 2u);
    EXPECT_EQ(Tree(src).size(), 6u);
}

TEST_F(CardTest, SkipSameStoresOnlyWhatIsNotThereYet)
{
    Add("a.jpg", "aaaa", 1);
    Add("b.jpg", "bbbb", 1);
    engine::RunOptions options;
    options.SkipSame = 1;
    ASSERT_TRUE(Run(options).ok);
    test::WriteFile(src / "b.jpg", "BBBB"); // same size, other content
    test::SetLocalMTime(src / "b.jpg", 2024, 3, 1, 10, 0, 0);
    Add("c.jpg", "cc", 1);

    const engine::RunResult dry = Run(options, true);
    ASSERT_TRUE(dry.ok);
    EXPECT_EQ(dry.filesSame, 1u);
    EXPECT_EQ(host->same, (std::vector<std::pair<std::string, std::string>>{
                              {(src / "a.jpg").string(), (src / "240301/a.jpg").string()}}));
    const auto planned = host->stored;
    const engine::RunResult real = Run(options);
    ASSERT_TRUE(real.ok) << real.error.message;
    EXPECT_EQ(real.filesSame, 1u);
    EXPECT_EQ(real.filesStored, 2u);
    EXPECT_EQ(host->stored, planned); // the dry run planned exactly this
    EXPECT_EQ(Tree(src / "240301"),
              (std::vector<std::string>{"a.jpg", "b.jpg", "b[001].jpg", "c.jpg"}));
    EXPECT_EQ(test::ReadFile(src / "240301/b[001].jpg"), "BBBB");
}

TEST_F(CardTest, SkipSameMoveRemovesTheSourceOnlyWhenTheContentIsThere)
{
    Add("DCIM/a.jpg", "aaaa", 1);
    Add("DCIM/b.jpg", "bbbb", 1);
    engine::RunOptions copy;
    copy.Recursive = copy.SkipSame = 1;
    ASSERT_TRUE(Run(copy).ok);
    engine::RunOptions move = copy;
    move.Move = 1;
    test::WriteFile(src / "240301/b.jpg", "bbbX"); // the stored one was changed since
    const engine::RunResult result = Run(move);
    ASSERT_TRUE(result.ok) << result.error.message;
    EXPECT_EQ(result.filesSame, 1u);
    EXPECT_FALSE(fs::exists(src / "DCIM/a.jpg"));
    EXPECT_EQ(test::ReadFile(src / "240301/a.jpg"), "aaaa");
    EXPECT_EQ(test::ReadFile(src / "240301/b[001].jpg"), "bbbb");
    // The removed source comes back with the undo.
    const engine::UndoResult undo = Undo(result);
    EXPECT_TRUE(undo.complete) << testing::PrintToString(Left(undo));
    EXPECT_EQ(test::ReadFile(src / "DCIM/a.jpg"), "aaaa");
    EXPECT_EQ(test::ReadFile(src / "DCIM/b.jpg"), "bbbb");
    EXPECT_EQ(test::ReadFile(src / "240301/a.jpg"), "aaaa"); // stored before: kept
}

TEST_F(CardTest, TemplateNestsFoldersAndNeverFollowsALinkInALevel)
{
    Add("a.jpg", "a", 15);
    Add("b.jpg", "b", 16);
    engine::RunOptions options;
    options.DirTemplate = "yyyy/mm/dd";
    const engine::RunResult result = Run(options);
    ASSERT_TRUE(result.ok) << result.error.message;
    EXPECT_EQ(result.foldersMade, 4u); // 2024, 03, 15, 16
    EXPECT_EQ(test::ReadFile(src / "2024/03/15/a.jpg"), "a");
    EXPECT_EQ(test::ReadFile(src / "2024/03/16/b.jpg"), "b");

    fs::create_directory(dir / "elsewhere");
    fs::remove_all(src / "2024");
    fs::create_directory(src / "2024");
    fs::create_directory_symlink(dir / "elsewhere", src / "2024/03");
    const engine::RunResult linked = Run(options);
    EXPECT_FALSE(linked.ok);
    EXPECT_EQ(linked.error.code.value(), ELOOP);
    EXPECT_NE(linked.error.message.find("symbolic link"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

TEST_F(CardTest, BadTemplateTouchesNothing)
{
    Add("a.jpg", "a", 15);
    const auto before = Tree(dir.path());
    engine::RunOptions options;
    options.DirTemplate = "yyyy/../mm";
    options.Move = 1;
    const engine::RunResult result = Run(options);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.message.find("unknown part"), std::string::npos);
    EXPECT_EQ(Tree(dir.path()), before);
}

// With every option off the plan is what it always was, and the only new thing on disk after
// a real run is its row in the history.
TEST_F(CardTest, AllOptionsOffKeepThePlan)
{
    Add("IMG_0001.JPG", "1", 1);
    Add("img_0001.jpg", "2", 1);
    Add("IMG_0001.JPG.bak", "3", 2);
    Add("notes.txt", "4", 2);
    Add("sub/inner.jpg", "5", 3);
    Add("240301/old.jpg", "6", 3);
    engine::RunOptions options;
    options.RenamePattern = 2;
    ASSERT_TRUE(Run(options, true).ok);
    const auto s = [&](const char* path) { return (src / path).string(); };
    const std::vector<std::pair<std::string, std::string>> plan = {
        {s("IMG_0001.JPG"), s("240301/240301IMG_0001.JPG")},
        {s("img_0001.jpg"), s("240301/240301img_0001.jpg")},
        {s("IMG_0001.JPG.bak"), s("240302/240302IMG_0001.JPG.bak")},
        {s("notes.txt"), s("240302/240302notes.txt")},
    };
    EXPECT_EQ(host->stored, plan);
    const engine::RunResult real = Run(options);
    ASSERT_TRUE(real.ok);
    EXPECT_EQ(host->stored, plan);
    EXPECT_EQ(real.filesSame, 0u);
    EXPECT_EQ(history->Runs().size(), 1u);
    EXPECT_EQ(history->Files(real.historyRun).size(), plan.size());
}

TEST_F(CardTest, CopyRunIsUndoneExceptWhatChanged)
{
    for (int i = 0; i < 4; ++i)
        Add("DCIM/100CANON/IMG_000" + std::to_string(i) + ".JPG", std::string(1000, 'a' + i),
            1 + i % 2);
    engine::RunOptions options;
    options.Recursive = 1;
    options.DirTemplate = "yyyy/mm/dd";
    const engine::RunResult result = Run(options);
    ASSERT_TRUE(result.ok) << result.error.message;
    ASSERT_EQ(NewestToUndo(), result.historyRun);
    // Same size, same time, other bytes: only the change time and hash can tell.
    const fs::path changed = src / "2024/03/02/IMG_0001.JPG";
    const auto time = fs::last_write_time(changed);
    test::WriteFile(changed, std::string(1000, 'z'));
    fs::last_write_time(changed, time);

    const engine::UndoResult undo = Undo(result);
    ASSERT_TRUE(undo.started) << undo.message;
    EXPECT_FALSE(undo.complete);
    EXPECT_EQ(undo.undone, 3u);
    ASSERT_EQ(undo.left, 1u);
    EXPECT_EQ(Left(undo)[0].rfind(changed.string() + ": ", 0), 0u);
    EXPECT_EQ(Tree(src / "2024"), std::vector<std::string>{"03/02/IMG_0001.JPG"});
    EXPECT_FALSE(fs::exists(src / "2024/03/01")); // emptied, made by the run: removed
    EXPECT_EQ(Tree(src / "DCIM").size(), 4u);     // the sources were never touched
    // Not complete: still the newest to undo; a second undo changes nothing more.
    EXPECT_EQ(NewestToUndo(), result.historyRun);
    fs::remove(changed);
    const engine::UndoResult again = Undo(result);
    EXPECT_TRUE(again.complete);
    EXPECT_FALSE(fs::exists(src / "2024"));
    EXPECT_EQ(NewestToUndo(), 0);
}

TEST_F(CardTest, MoveUndoNeverReplacesAndListsWhatItLeft)
{
    for (int i = 0; i < 5; ++i)
        Add("DCIM/IMG_" + std::to_string(i) + ".JPG", "photo " + std::to_string(i), 1);
    engine::RunOptions options;
    options.Recursive = options.Move = 1;
    const engine::RunResult result = Run(options);
    ASSERT_TRUE(result.ok) << result.error.message;
    ASSERT_EQ(Tree(src / "DCIM").size(), 0u);
    test::WriteFile(src / "240301/IMG_1.JPG", "edited by hand"); // changed
    fs::remove(src / "240301/IMG_2.JPG");                        // removed by hand
    test::WriteFile(src / "DCIM/IMG_3.JPG", "a new file");       // in the way

    const engine::UndoResult undo = Undo(result);
    EXPECT_FALSE(undo.complete);
    EXPECT_EQ(undo.undone, 2u);
    EXPECT_EQ(undo.left, 3u);
    EXPECT_EQ(test::ReadFile(src / "DCIM/IMG_0.JPG"), "photo 0");
    EXPECT_EQ(test::ReadFile(src / "DCIM/IMG_4.JPG"), "photo 4");
    EXPECT_EQ(test::ReadFile(src / "DCIM/IMG_3.JPG"), "a new file");
    EXPECT_EQ(test::ReadFile(src / "240301/IMG_3.JPG"), "photo 3");
    EXPECT_EQ(test::ReadFile(src / "240301/IMG_1.JPG"), "edited by hand");
    EXPECT_FALSE(fs::exists(src / "DCIM/IMG_1.JPG"));
}

} // namespace
