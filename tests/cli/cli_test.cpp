// velmora-cli as a user runs it: the real binary on real folders.
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/exif_builder.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

using test::Tree;

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directory(src);
        fs::create_directory(home);
    }

    // Runs velmora-cli with args; its standard output goes to the file "out" unless stdoutTo
    // is a shell redirection or pipe of its own (ending in "out").
    Outcome Run(const std::vector<std::string>& args, const std::string& stdoutTo = "")
    {
        // A home of its own, so Desktop and Documents are the test's folders.
        std::string command =
            (cwd.empty() ? std::string() : "cd " + Quote(cwd.string()) + " && ") +
            "env -u XDG_DESKTOP_DIR -u XDG_DOCUMENTS_DIR HOME=" + Quote(home.string()) +
            " XDG_CONFIG_HOME=" + Quote((home / ".config").string()) +
            " XDG_STATE_HOME=" + Quote(state.string()) + " " + runAs + Quote(program);
        for (const auto& arg : args)
            command += " " + Quote(arg);
        const std::string out = Quote((dir / "out").string());
        const std::string status = Quote((dir / "status").string());
        command = "{ " + command + " 2>" + Quote((dir / "err").string()) + "; echo $? >" + status +
                  "; } " + (stdoutTo.empty() ? ">" + out : stdoutTo + out);
        std::system(command.c_str());
        Outcome outcome;
        outcome.status = std::stoi(test::ReadFile(dir / "status"));
        outcome.out = test::ReadFile(dir / "out");
        outcome.err = test::ReadFile(dir / "err");
        return outcome;
    }

    void Add(const std::string& name, const std::string& content, int day, int hour = 10,
             int minute = 35, int second = 23)
    {
        test::WriteFile(src / name, content);
        test::SetLocalMTime(src / name, 2002, 4, day, hour, minute, second);
    }

    test::TempFolder dir;
    fs::path src = dir / "photos";
    fs::path home = dir / "home";
    fs::path state = dir / "state"; // the run history goes to state/velmora/history.sqlite3
    fs::path cwd;                   // the working folder of the runs, when set
    std::string runAs;              // a command that runs the program as another user
    // The program Run runs.
    std::string program = VELMORA_CLI;
};

TEST_F(CliTest, VersionHelpAndBadUsage)
{
    Outcome o = Run({"--version"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("velmora-cli 0.4.5\nThe window program velmora uses Qt 6.", 0), 0u)
        << o.out;
    o = Run({"--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("--dry-run"), std::string::npos);

    Add("a.jpg", "a", 26);
    const auto before = Tree(src);
    const std::string folder = src.string(), file = (src / "a.jpg").string();
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{}, "no FOLDER given"},
        {{"--bogus", folder}, "unknown option '--bogus'"},
        {{"--bogus=3", folder}, "unknown option '--bogus=3'"},
        {{"-x", folder}, "unknown option '-x'"},
        {{"--folders"}, "--folders needs a value"},
        {{"--folders=", folder}, "--folders needs a value"},
        {{"--names=", folder}, "--names needs a value"},
        {{"--settings=", folder}, "--settings needs a value"},
        {{"--undo=", folder}, "--undo needs a value"},
        {{"--folders", "ddmmyy.", folder}, "unknown --folders value 'ddmmyy.'"},
        {{"--names=7", folder}, "unknown --names value '7' (1 to 6)"},
        {{"--dest=", folder}, "--dest needs a value"},
        {{"--dest", "", folder}, "--dest needs a value"},
        {{"--suffix", "roman", folder}, "unknown --suffix value 'roman'"},
        {{"--move=yes", folder}, "unknown option '--move=yes'"},
        {{folder, folder}, "only one FOLDER may be given"},
        {{"--settings", "missing.ini", folder}, "only one FOLDER may be given"},
        {{(dir / "missing").string()}, "cannot read the folder"},
        {{file}, "cannot read the folder"},
    };
    for (const auto& [args, message] : bad) {
        o = Run(args);
        EXPECT_EQ(o.status, 2) << message;
        EXPECT_EQ(o.err.rfind("velmora-cli: " + message, 0), 0u) << o.err;
        EXPECT_EQ(o.out, "");
    }
    EXPECT_EQ(Tree(src), before);
}

TEST_F(CliTest, CopyRunWithDefaultsPrintsASummary)
{
    Add("b.txt", "b", 26);
    Add("c.txt", "c", 27);
    const Outcome o = Run({src.string() + "/"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Tree(src),
              (std::vector<std::string>{"020426/b.txt", "020427/c.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(o.out.rfind("2 files copied, 2 folders made, ", 0), 0u) << o.out;
}

TEST_F(CliTest, EveryOptionReachesTheRun)
{
    const auto tiff = test::TiffBuilder()
                          .Ascii(0x010F, "ACME Corp")
                          .Ascii(0x0110, "Z/10")
                          .ExifAscii(0x9003, "2004:04:26 10:35:23")
                          .Build();
    Add("IMG_1.JPG", test::ToString(test::JpegApp1(tiff)), 1);
    Add("IMG_2.JPG", test::ToString(test::JpegApp1(tiff)) + "other", 1);
    const Outcome o = Run({"--folders", "yyyymm", "--names", "6", "--yyyy", "--model", "--move",
                           "--lower-name", "--suffix", "letter", "--quiet", src.string()});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(Tree(src), (std::vector<std::string>{"200404/200404261035[ACME Z10].jpg",
                                                   "200404/200404261035a[ACME Z10].jpg"}));
}

TEST_F(CliTest, DryRunPrintsThePlanAndTouchesNothing)
{
    Add("x.jpg", "x", 26);
    Add("y.jpg", "y", 26);
    const auto before = Tree(src);
    const Outcome o = Run({"--dry-run", "--names", "5", "--dest", "desktop", src.string()});
    EXPECT_EQ(o.status, 1) << "no Desktop folder yet: " << o.err;
    EXPECT_NE(o.err.find("Desktop"), std::string::npos);

    fs::create_directories(home / "Desktop");
    const Outcome plan = Run({"--dry-run", "--names", "5", "--dest", "desktop", src.string()});
    EXPECT_EQ(plan.status, 0) << plan.err;
    const std::string base = (home / "Desktop/分類/020426/").string();
    EXPECT_EQ(plan.out, (src / "x.jpg").string() + "\t" + base + "0426103523.jpg\n" +
                            (src / "y.jpg").string() + "\t" + base + "0426103523[001].jpg\n");
    EXPECT_EQ(Tree(src), before);
    EXPECT_FALSE(fs::exists(home / "Desktop/分類"));

    // --verbose adds the date and where it came from, in the plan as in the run.
    const Outcome dated =
        Run({"--dry-run", "--verbose", "--names", "5", "--dest", "desktop", src.string()});
    const std::string date = "\t2002-04-26T10:35:23\tfile\n";
    EXPECT_EQ(dated.out, (src / "x.jpg").string() + "\t" + base + "0426103523.jpg" + date +
                             (src / "y.jpg").string() + "\t" + base + "0426103523[001].jpg" + date);
    const Outcome real = Run({"--verbose", "--names", "5", "--dest", "desktop", src.string()});
    EXPECT_EQ(real.status, 0) << real.err;
    EXPECT_EQ(real.out, dated.out);
    EXPECT_TRUE(fs::exists(base + "0426103523[001].jpg"));
}

// velmora-cli starts without Qt: the Desktop and Documents folders come from the folders
// module, the window's own code, loaded only from the program's tree and only when trusted.
// A copy of the program without its module, with a FIFO in its place or beside one everyone
// may write, says why and stores nothing.
TEST_F(CliTest, SpecialFoldersComeFromTheProgramsOwnFoldersModule)
{
    test::WriteFile(dir / "libs", "");
    std::system(("ldd " + Quote(VELMORA_CLI) + " >" + Quote((dir / "libs").string())).c_str());
    const std::string libs = test::ReadFile(dir / "libs");
    for (const char* library : {"libQt6", "libicu", "libglib", "libpcre2-16"})
        EXPECT_EQ(libs.find(library), std::string::npos) << libs;

    Add("a.jpg", "a", 26);
    fs::create_directories(home / "Schreibtisch");
    fs::create_directories(home / ".config");
    test::WriteFile(home / ".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    const std::vector<std::string> args = {"--dest", "desktop", src.string()};
    std::vector<std::string> plan = args;
    plan.insert(plan.begin(), "--dry-run");
    const Outcome o = Run(plan);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, (src / "a.jpg").string() + "\t" +
                         (home / "Schreibtisch/分類/020426/a.jpg").string() + "\n");

    const fs::path copy = dir / "copy", module = copy / "velmora-folders.so";
    fs::create_directory(copy);
    fs::copy_file(VELMORA_CLI, copy / "velmora-cli");
    program = (copy / "velmora-cli").string();
    const auto before = Tree(src);
    runAs = "timeout 60 ";
    for (const std::string cause : {"velmora-folders.so: No such file or directory",
                                    "velmora-folders.so is not a regular file",
                                    "velmora-folders.so may be written by everyone"}) {
        if (cause.find("regular") != std::string::npos) {
            ASSERT_EQ(::mkfifo(module.c_str(), 0600), 0);
        } else if (cause.find("everyone") != std::string::npos) {
            fs::remove(module);
            fs::copy_file(fs::path(VELMORA_CLI).parent_path() / "velmora-folders.so", module);
            fs::permissions(module, fs::perms::others_write, fs::perm_options::add);
        }
        const Outcome refused = Run(args);
        EXPECT_EQ(refused.status, 1) << cause;
        EXPECT_NE(refused.err.find("cannot look up the Desktop folder: velmora-folders.so "
                                   "could not be loaded ("),
                  std::string::npos)
            << refused.err;
        EXPECT_NE(refused.err.find(cause), std::string::npos) << refused.err;
        EXPECT_NE(refused.err.find("The Desktop folder could not be found."), std::string::npos);
        EXPECT_EQ(Tree(src), before);
        EXPECT_FALSE(fs::exists(home / "Schreibtisch/分類"));
    }
}

TEST_F(CliTest, FailuresAndOverflowHaveTheirOwnExitStatus)
{
    Add("a.txt", "a", 26);
    // A file where the date folder should go stops the run with the path in the message.
    test::WriteFile(src / "020426", "in the way");
    Outcome o = Run({"--move", src.string()});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find((src / "020426").string()), std::string::npos) << o.err;
    EXPECT_TRUE(fs::exists(src / "a.txt"));

    fs::remove(src / "020426");
    test::TakeEveryName(src / "020426", "a", ".txt");
    o = Run({"--move", src.string()});
    EXPECT_EQ(o.status, 3);
    EXPECT_NE(o.err.find("Suffix overflow for file name duplication."), std::string::npos);
    EXPECT_EQ(test::ReadFile(src / "a.txt"), "a");
}

TEST_F(CliTest, SettingsFileGivesOptionsAndFolder)
{
    Add("a.txt", "a", 26);
    const fs::path ini = dir / "kestrum.ini";
    test::WriteFile(ini, "[kestrum]\r\nVersion=0.4.5\r\nDirPath=" + src.string() +
                             "\r\nDirPattern=7\r\nRenamePattern=3\r\nDestPattern=1\r\n"
                             "FileNameCase=0\r\nExtCase=0\r\nMove=0\r\nSuffix=0\r\nDetail=1\r\n"
                             "YYYY=0\r\n");
    const std::string before = test::ReadFile(ini);
    Outcome o = Run({"--settings", ini.string(), "--quiet"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::exists(src / "0204/0426a.txt"));
    // Options on the command line win over the file.
    o = Run({"--settings=" + ini.string(), "--folders", "yymmdd", "--quiet", src.string()});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::exists(src / "020426/0426a.txt"));
    EXPECT_EQ(test::ReadFile(ini), before);
    o = Run({"--settings", (dir / "none.ini").string(), src.string()});
    EXPECT_EQ(o.status, 2);
}

TEST_F(CliTest, PlanLinesSplitAtTheirTabWhateverTheNamesHold)
{
    const std::vector<std::string> names = {"tab\there.jpg", "line\nend.jpg", "back\\slash.jpg",
                                            "bell\a.jpg", "plain.jpg"};
    for (const std::string& name : names)
        Add(name, name, 26);
    const Outcome lines = Run({"--dry-run", src.string()});
    EXPECT_EQ(lines.status, 0) << lines.err;
    const std::string folder = src.string() + "/020426/";
    const auto escaped = [](const std::string& path) {
        std::string out;
        for (const char c : path)
            out += c == '\t'   ? "\\t"
                   : c == '\n' ? "\\n"
                   : c == '\\' ? "\\\\"
                   : c == '\a' ? "\\x07"
                               : std::string(1, c);
        return out;
    };
    std::string expected, fields;
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    for (const std::string& name : sorted) {
        const std::string from = (src / name).string(), to = folder + name;
        expected += escaped(from) + "\t" + escaped(to) + "\n";
        fields += from + '\0' + to + '\0';
    }
    EXPECT_EQ(lines.out, expected);
    for (const char* null : {"--null", "-0"}) {
        const Outcome o = Run({"--dry-run", null, src.string()});
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out, fields) << null;
    }
    const Outcome real = Run({"--verbose", "-0", src.string()});
    EXPECT_EQ(real.out, fields);
}

TEST_F(CliTest, OutputThatCannotBeWrittenFailsTheRunAndLosesNothing)
{
    for (int i = 0; i < 2000; ++i)
        Add("f" + std::to_string(10000 + i) + ".jpg", "x", 26);
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::string stdoutTo;
        int status;
        bool stopsEarly; // a move that must end soon after its reader went away
    } cases[] = {
        {"a plan into a full disk", {"--dry-run"}, ">/dev/full; : >", 1, false},
        {"a summary into a full disk", {}, ">/dev/full; : >", 1, false},
        {"nothing into a full disk", {"--quiet"}, ">/dev/full; : >", 0, false},
        {"a move's lines into a reader that stops",
         {"--verbose", "--move"},
         "| head -n 1 >",
         1,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = c.args;
        args.push_back(src.string());
        const Outcome o = Run(args, c.stdoutTo);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_EQ(o.err.find("cannot write to standard output") != std::string::npos, c.status != 0)
            << o.err;
        // Every source is still there or moved once; a move stopped soon after its reader went.
        const auto files = Tree(src);
        const auto stored = std::count_if(files.begin(), files.end(), [](const std::string& p) {
            return p.find('/') != std::string::npos;
        });
        const bool move = c.stopsEarly;
        EXPECT_EQ(files.size() - (move ? 0 : static_cast<std::size_t>(stored)), 2000u);
        if (move) {
            EXPECT_LT(stored, 2000);
            for (const auto& entry : fs::directory_iterator(src / "020426"))
                fs::rename(entry.path(), src / entry.path().filename());
        }
        fs::remove_all(src / "020426");
    }
}

} // namespace

namespace {

std::string Be32(std::uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}
std::string Box(const std::string& type, const std::string& body)
{
    return Be32(static_cast<std::uint32_t>(8 + body.size())) + type + body;
}

// A QuickTime movie with Apple's creation-date, make and model keys in moov/meta.
std::string AppleMovie(const std::string& creationDate)
{
    const auto key = [](const std::string& name) { return Be32(8 + name.size()) + "mdta" + name; };
    const auto item = [](std::uint32_t index, const std::string& value) {
        return Box(Be32(index), Box("data", Be32(1) + Be32(0) + value));
    };
    return Box("ftyp", "qt  " + Be32(0) + "qt  ") + Box("mdat", "frames") +
           Box("moov", Box("meta", Box("hdlr", std::string(24, '\0')) +
                                       Box("keys", Be32(0) + Be32(3) +
                                                       key("com.apple.quicktime.creationdate") +
                                                       key("com.apple.quicktime.make") +
                                                       key("com.apple.quicktime.model")) +
                                       Box("ilst", item(1, creationDate) + item(2, "Apple") +
                                                       item(3, "iPhone 12"))));
}

} // namespace

// The options beyond the window's panel: off, every plan is what it always was; on, media and
// name dates come after the EXIF reader, and spoilt files stay on their file time.
TEST_F(CliTest, MediaAndNameDatesChangeNothingUntilAskedFor)
{
    const test::Bytes tiff = test::TiffBuilder()
                                 .Ascii(0x010F, "Acme")
                                 .Ascii(0x0110, "Acme Z10")
                                 .ExifAscii(0x9003, "2004:04:26 10:35:23")
                                 .Build();
    Add("camera.jpg", test::ToString(test::JpegApp1(tiff)), 1);
    Add("IMG_20230708_223101.jpg", "a picture without EXIF", 2);
    Add("IMG-20230709-WA0001.jpg", "a messenger picture", 3, 11, 12, 13);
    Add("movie.mov", AppleMovie("2019-05-06T07:08:09+0200"), 4);
    Add("IMG_20230710_101010.mov", AppleMovie("2019-13-06T07:08:09+0200"), 5); // no month 13
    Add("cut.mov", AppleMovie("2019-05-06T07:08:09+0200").substr(0, 60), 6);
    Add("spoilt.heic", Box("ftyp", "heic" + Be32(0) + "mif1heic") + std::string(300, '\xFF'), 7);
    Add("notes.txt", "text", 8);

    const auto plan = [&](std::vector<std::string> flags) {
        flags.insert(flags.end(), {"--dry-run", "--model", "--names", "6", src.string()});
        const Outcome o = Run(flags);
        EXPECT_EQ(o.status, 0) << o.err;
        std::map<std::string, std::string> to; // name -> destination relative to src
        for (std::size_t at = 0, end; (end = o.out.find('\n', at)) != std::string::npos;
             at = end + 1) {
            const std::string line = o.out.substr(at, end - at);
            const std::size_t tab = line.find('\t');
            to[fs::path(line.substr(0, tab)).filename().string()] =
                fs::relative(line.substr(tab + 1), src).string();
        }
        return to;
    };
    const std::map<std::string, std::string> today = {
        {"camera.jpg", "040426/0404261035[Acme Z10].jpg"},
        {"IMG_20230708_223101.jpg", "020402/0204021035.jpg"},
        {"IMG-20230709-WA0001.jpg", "020403/0204031112.jpg"},
        {"movie.mov", "020404/0204041035.mov"},
        {"IMG_20230710_101010.mov", "020405/0204051035.mov"},
        {"cut.mov", "020406/0204061035.mov"},
        {"spoilt.heic", "020407/0204071035.heic"},
        {"notes.txt", "020408/0204081035.txt"},
    };
    EXPECT_EQ(plan({}), today);

    std::map<std::string, std::string> media = today;
    media["movie.mov"] = "190506/1905060708[Apple iPhone 12].mov";
    media["IMG_20230710_101010.mov"] = "020405/0204051035[Apple iPhone 12].mov";
    EXPECT_EQ(plan({"--media-dates"}), media);

    std::map<std::string, std::string> named = today;
    named["IMG_20230708_223101.jpg"] = "230708/2307082231.jpg";
    named["IMG-20230709-WA0001.jpg"] = "230709/2307091112.jpg"; // the clock of the file time
    named["IMG_20230710_101010.mov"] = "230710/2307101010.mov";
    EXPECT_EQ(plan({"--name-dates"}), named);

    std::map<std::string, std::string> both = named;
    both["movie.mov"] = media["movie.mov"];
    both["IMG_20230710_101010.mov"] = "230710/2307101010[Apple iPhone 12].mov";
    EXPECT_EQ(plan({"--media-dates", "--name-dates"}), both);

    const Outcome help = Run({"--help"});
    EXPECT_NE(help.out.find("--media-dates"), std::string::npos);
    EXPECT_NE(help.out.find("--name-dates"), std::string::npos);

    // The settings file turns them on as the flags do.
    test::WriteFile(dir / "kestrum.ini", "[kestrum]\r\nVersion=0.4.5\r\nDirPattern=4\r\n"
                                         "RenamePattern=6\r\nDestPattern=1\r\nFileNameCase=0\r\n"
                                         "ExtCase=0\r\nMove=0\r\nSuffix=0\r\nModel=1\r\n"
                                         "MediaDates=1\r\nNameDates=1\r\n");
    const Outcome fromFile =
        Run({"--dry-run", "--settings", (dir / "kestrum.ini").string(), src.string()});
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_NE(fromFile.out.find("190506/1905060708[Apple iPhone 12].mov"), std::string::npos);
    EXPECT_NE(fromFile.out.find("230708/2307082231.jpg"), std::string::npos);
}

TEST_F(CliTest, JsonGivesAnObjectPerFileAndTheCountsForAnyName)
{
    Add("a\"b.jpg", "a", 26);
    Add("bad\xff\x01.jpg", "b", 26);
    const std::string folder = src.string() + "/020426/";
    const auto expected = [&](const char* action) {
        const std::string s = src.string() + "/";
        const std::string dated = "\",\"date\":\"2002-04-26T10:35:23\",\"date_from\":\"file\"}\n";
        return "{\"source\":\"" + s + "a\\\"b.jpg\",\"destination\":\"" + folder +
               "a\\\"b.jpg\",\"action\":\"" + action + dated + "{\"source\":\"" + s +
               "bad\\udcff\\u0001.jpg\",\"destination\":\"" + folder +
               "bad\\udcff\\u0001.jpg\",\"action\":\"" + action + dated +
               "{\"summary\":true,\"ok\":true,\"action\":\"" + action +
               "\",\"files\":2,\"folders\":1,\"seconds\":";
    };
    for (const auto& [args, action] : std::vector<std::pair<std::vector<std::string>, const char*>>{
             {{"--json", "--dry-run"}, "planned"}, {{"--json", "--move"}, "moved"}}) {
        std::vector<std::string> all = args;
        all.push_back(src.string());
        const Outcome o = Run(all);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out.rfind(expected(action), 0), 0u) << o.out;
        EXPECT_EQ(o.err, "");
    }
    // A failure is in the last object too.
    test::WriteFile(src / "x.txt", "x");
    test::SetLocalMTime(src / "x.txt", 2002, 4, 27, 1, 0, 0);
    test::WriteFile(src / "020427", "in the way");
    const Outcome o = Run({"--json", src.string()});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.out.find("\"ok\":false"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("\"error\":\"The date folder"), std::string::npos) << o.out;
}

TEST_F(CliTest, AtATerminalTheBarEndsAtAHundredPercentAboveTheSummary)
{
    if (std::system("command -v script >/dev/null") != 0)
        GTEST_SKIP() << "script (bsdutils) is not installed";
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 400; ++i)
        Add("f" + std::to_string(i) + ".bin", block, 26);
    // script gives the program a terminal and keeps what it shows.
    const std::string command = "XDG_STATE_HOME=" + Quote(state.string()) + " script -qec " +
                                Quote(Quote(VELMORA_CLI) + " " + Quote(src.string())) +
                                " /dev/null >" + Quote((dir / "tty").string()) + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string tty = test::ReadFile(dir / "tty");
    const std::size_t summary = tty.find("400 files copied, 1 folder made, ");
    ASSERT_NE(summary, std::string::npos) << tty;
    // The last state of the bar is whole, and the summary starts a line of its own.
    const std::string before = tty.substr(0, summary);
    if (before.find("files") != std::string::npos) { // a fast machine may finish before a bar
        EXPECT_NE(before.rfind("400/400 files  419 MB/419 MB  [####################] 100%"),
                  std::string::npos)
            << before;
        EXPECT_EQ(before.back(), '\n');
    }
}

// A camera card: DCIM/100CANON and DCIM/101CANON, imported twice into nested date folders.
TEST_F(CliTest, CardImportedTwiceStoresEachPictureOnce)
{
    for (const char* folder : {"DCIM/100CANON", "DCIM/101CANON"})
        fs::create_directories(src / folder);
    for (int i = 1; i <= 3; ++i) {
        Add("DCIM/100CANON/IMG_000" + std::to_string(i) + ".JPG", "first " + std::to_string(i), 26);
        Add("DCIM/101CANON/IMG_010" + std::to_string(i) + ".JPG", "second " + std::to_string(i),
            27);
    }
    Add("DCIM/.thumbs", "hidden file", 26);
    const std::vector<std::string> args = {"--recursive", "--skip-same", "--folders", "yyyy/mm/dd",
                                           src.string()};
    Outcome o = Run(args);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.substr(0, o.out.find(',', o.out.find(',') + 1)),
              "6 files copied, 0 already there");
    const auto stored = Tree(src / "2002");
    EXPECT_EQ(stored.size(), 6u);
    EXPECT_EQ(stored.front(), "04/26/IMG_0001.JPG");

    // The second import: the card holds one new picture; nothing else is stored again, and
    // the date folders of the first import are never taken for pictures of the card.
    Add("DCIM/101CANON/IMG_0104.JPG", "new", 27);
    std::vector<std::string> dry = args;
    dry.insert(dry.begin(), "--dry-run");
    o = Run(dry);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("/DCIM/100CANON/IMG_0001.JPG\t" + src.string() +
                         "/2002/04/26/IMG_0001.JPG\talready there\n"),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.err.find("1 file planned, 6 already there"), std::string::npos) << o.err;
    o = Run(args);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.substr(0, o.out.find(',', o.out.find(',') + 1)),
              "1 file copied, 6 already there");
    EXPECT_EQ(Tree(src / "2002").size(), 7u);
    EXPECT_EQ(Tree(src / "DCIM").size(), 8u); // the card is as it was

    // A later run with another pattern takes the card's pictures only: the folders the earlier
    // runs made hold their output and are not sorted again.
    o = Run({"--move", "--recursive", "--folders", "yymm", src.string()});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.substr(0, o.out.find(',')), "7 files moved") << o.out;
    EXPECT_EQ(Tree(src / "2002").size(), 7u);
    EXPECT_EQ(Tree(src / "0204").size(), 7u);
}

TEST_F(CliTest, MoveIsUndoneExceptWhatWasChangedOrRemovedByHand)
{
    fs::create_directories(src / "DCIM/100CANON");
    for (int i = 0; i < 6; ++i)
        Add("DCIM/100CANON/P" + std::to_string(i) + ".JPG", "picture " + std::to_string(i), 26);
    Outcome o = Run({"--move", "--recursive", src.string()});
    ASSERT_EQ(o.status, 0) << o.err;
    ASSERT_EQ(Tree(src / "DCIM").size(), 0u);
    test::WriteFile(src / "020426/P1.JPG", "retouched");
    fs::remove(src / "020426/P2.JPG");

    o = Run({"--undo", "--json"}); // a line per file, newest first, and a summary
    EXPECT_EQ(o.status, 1);
    const std::string dated = src.string() + "/020426/", card = src.string() + "/DCIM/100CANON/";
    EXPECT_EQ(o.out, "{\"action\":\"move back\",\"path\":\"" + dated + "P5.JPG\",\"to\":\"" + card +
                         "P5.JPG\"}\n"
                         "{\"action\":\"move back\",\"path\":\"" + dated + "P4.JPG\",\"to\":\"" + card +
                         "P4.JPG\"}\n"
                         "{\"action\":\"move back\",\"path\":\"" + dated + "P3.JPG\",\"to\":\"" + card +
                         "P3.JPG\"}\n"
                         "{\"action\":\"leave\",\"path\":\"" + dated +
                         "P2.JPG\",\"reason\":\"it is gone\"}\n"
                         "{\"action\":\"leave\",\"path\":\"" + dated +
                         "P1.JPG\",\"reason\":\"it changed since it was moved\"}\n"
                         "{\"action\":\"move back\",\"path\":\"" + dated + "P0.JPG\",\"to\":\"" + card +
                         "P0.JPG\"}\n"
                         "{\"summary\":true,\"ok\":false,\"run\":1,\"dry_run\":false,\"undone\":4,"
                         "\"left\":2,\"folders\":0}\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(Tree(src / "DCIM"), (std::vector<std::string>{"100CANON/P0.JPG", "100CANON/P3.JPG",
                                                            "100CANON/P4.JPG", "100CANON/P5.JPG"}));
    EXPECT_EQ(test::ReadFile(src / "DCIM/100CANON/P0.JPG"), "picture 0");
    EXPECT_EQ(Tree(src / "020426"), std::vector<std::string>{"P1.JPG"});

    // The retouched picture taken out of the way by hand: the date folder is empty now, and
    // the undo of the run by its number removes it; the gone picture is still listed.
    fs::rename(src / "020426/P1.JPG", src / "P1-kept.JPG");
    o = Run({"--undo=1"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.out.find("0 files undone, 2 files left alone, 1 folder removed"), std::string::npos)
        << o.out;
    EXPECT_FALSE(fs::exists(src / "020426"));
}

// Which run an undo takes, what it refuses, and a dry run that changes nothing.
TEST_F(CliTest, UndoTakesTheRightRunAndItsDryRunChangesNothing)
{
    const fs::path other = dir / "other";
    fs::create_directory(other);
    Add("a.jpg", "a", 26);
    test::WriteFile(other / "b.jpg", "b");
    ASSERT_EQ(Run({src.string()}).status, 0);
    ASSERT_EQ(Run({other.string()}).status, 0); // newer, of another folder
    Outcome o = Run({"--runs"});
    EXPECT_EQ(o.out.substr(0, 2), "2\t") << o.out;
    EXPECT_NE(o.out.find("\t" + src.string() + "\tcopy\t1 file\tdone\n"), std::string::npos)
        << o.out;
    o = Run({"--runs", "--json"});
    EXPECT_NE(o.out.find("\"id\":1,"), std::string::npos) << o.out;

    const std::vector<std::string> before = Tree(dir.path());
    const std::string database = test::ReadFile(state / "velmora/history.sqlite3");
    o = Run({"--undo", "--dry-run", src.string()});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "would remove " + src.string() + "/020426/a.jpg\nwould remove the folder " +
                         src.string() + "/020426\n1 file to undo, 0 files left alone, 1 folder "
                         "to remove (run 1, " + src.string() + ")\n");
    EXPECT_EQ(Tree(dir.path()), before); // the history included
    EXPECT_EQ(test::ReadFile(state / "velmora/history.sqlite3"), database);

    // A relative FOLDER, given from another working folder, names the same run.
    o = Run({"--undo", "photos"});
    EXPECT_EQ(o.status, 1); // relative to the test's working folder: no run of it
    const std::string cd = "cd " + (home).string() + " && ";
    const std::string relative =
        cd + "XDG_STATE_HOME=" + state.string() + " " + VELMORA_CLI + " --undo ../photos >" +
        (dir / "rel").string() + " 2>&1";
    EXPECT_EQ(std::system(relative.c_str()), 0) << test::ReadFile(dir / "rel");
    EXPECT_FALSE(fs::exists(src / "020426"));
    EXPECT_EQ(Tree(other).size(), 2u); // the newer run of the other folder is untouched
    EXPECT_EQ(Run({"--undo=1"}).err, "velmora-cli: run 1 is undone already.\n");

    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--undo", "--move"},
                                               {"--undo", "--folders", "yymm"},
                                               {"--undo", "--verbose"},
                                               {"--undo=x"},
                                               {"--undo=2", src.string()},
                                               {"--runs", "--dry-run"}}) {
        o = Run(args);
        EXPECT_EQ(o.status, 2) << args[0] << " " << args.back() << ": " << o.err;
    }
}

TEST_F(CliTest, KilledRunIsFinishedAndUndone)
{
    for (int i = 0; i < 200; ++i)
        Add("f" + std::to_string(i) + ".txt", "file " + std::to_string(i), 1 + i % 20);
    // The run is killed once it has said that it stored ten files.
    const std::string pid = (dir / "pid").string();
    const std::string command =
        "{ sh -c 'echo $$ >" + pid + "; exec env XDG_STATE_HOME=" + state.string() + " " +
        VELMORA_CLI + " --verbose " + src.string() + "' | { head -n 10 >/dev/null; kill -9 $(cat " +
        pid + "); cat >/dev/null; }; } 2>/dev/null";
    std::system(command.c_str());
    Outcome o = Run({"--runs"});
    EXPECT_NE(o.out.find("\tfailed\n"), std::string::npos) << o.out; // no longer "running"

    o = Run({"--undo"});
    EXPECT_EQ(o.status, 0) << o.err;
    // Every source is in place; a copy whose row was not committed when the kill came may
    // stay, never a hidden one.
    std::size_t sources = 0;
    for (const std::string& path : Tree(src)) {
        EXPECT_EQ(path.find(".velmora-"), std::string::npos) << path;
        if (path.find('/') == std::string::npos)
            ++sources;
    }
    EXPECT_EQ(sources, 200u);
}

TEST_F(CliTest, MoveKilledBeforeASourceWentIsTakenUpByTheNextRun)
{
    // Across file systems a move copies, flushes, takes the source aside under a hidden name
    // and removes it: the kill comes at that removal.
    char shm[] = "/dev/shm/velmora-test-XXXXXX";
    struct stat a {}, b {};
    if (::mkdtemp(shm) == nullptr || ::stat(shm, &a) != 0 || ::stat(src.c_str(), &b) != 0 ||
        a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    const fs::path dest = shm;
    for (int i = 1; i <= 3; ++i)
        Add("IMG_000" + std::to_string(i) + ".JPG", "photo " + std::to_string(i), 26);
    runAs = "strace -f -o /dev/null -e inject=unlinkat:signal=SIGKILL:when=1 ";
    Outcome o = Run({"--move", "--dest", dest.string(), src.string()});
    EXPECT_EQ(o.status, 128 + SIGKILL) << o.err;
    ASSERT_FALSE(Tree(src).empty());
    EXPECT_EQ(Tree(src).front().rfind(".velmora-moved-", 0), 0u) << Tree(src).front();

    // The next run gives the source its name back before it reads the folder, and moves it.
    runAs.clear();
    o = Run({"--move", "--dest", dest.string(), src.string()});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.substr(0, o.out.find(',')), "3 files moved") << o.out;
    EXPECT_TRUE(Tree(src).empty()) << Tree(src).front();
    std::map<std::string, int> contents;
    for (const std::string& name : Tree(dest))
        ++contents[test::ReadFile(dest / name)];
    EXPECT_EQ(contents.size(), 3u);
    fs::remove_all(dest);
}

// Without a place for the history the run goes on and says so, at its start and in --json.
TEST_F(CliTest, RunWithoutHistorySaysSo)
{
    Add("a.jpg", "a", 26);
    const std::string command = "cd " + dir.path().string() + " && env -u HOME -u XDG_STATE_HOME " +
                                VELMORA_CLI + " --json photos >" + (dir / "out").string() +
                                " 2>" + (dir / "err").string();
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(test::ReadFile(dir / "err").rfind("velmora-cli: no undo history: ", 0), 0u)
        << test::ReadFile(dir / "err");
    EXPECT_NE(test::ReadFile(dir / "out").find("\"history\":\"no undo history: "),
              std::string::npos);
    EXPECT_TRUE(fs::exists(src / "020426/a.jpg"));
}

// A process that may not start another thread (its limit reached) sorts all the same: the
// history is opened on the spot, and the run, whose rows need a thread, goes on without it
// and says so.
TEST_F(CliTest, RunThatCannotStartAThreadGoesOnWithoutHistory)
{
    Add("a.jpg", "a", 26);
    runAs = "strace -f -o /dev/null -e inject=clone3:error=EAGAIN env ASAN_OPTIONS=detect_leaks=0 ";
    Outcome o = Run({src.string()});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("no undo history: its writing thread could not be started: "),
              std::string::npos)
        << o.err;
    EXPECT_EQ(test::ReadFile(src / "020426/a.jpg"), "a");
    runAs.clear();
    o = Run({"--runs"});
    EXPECT_EQ(o.out.find(src.string()), std::string::npos) << o.out;
}

TEST_F(CliTest, BadFolderTemplatesAreRefusedBeforeAnythingIsTouched)
{
    Add("a.jpg", "a", 26);
    for (const char* bad : {"", "yyyy/", "/yyyy", "..", "yyyy//mm", "yyyy/week"}) {
        const Outcome o = Run({"--move", "--folders", bad, src.string()});
        EXPECT_EQ(o.status, 2) << bad;
        EXPECT_NE(o.err.find("unknown --folders value"), std::string::npos) << o.err;
    }
    test::WriteFile(dir / "k.ini", "[kestrum]\r\nVersion=0.4.5\r\nDirPath=" + src.string() +
                                       "\r\nDirPattern=4\r\nRenamePattern=1\r\nDestPattern=1\r\n"
                                       "FileNameCase=0\r\nExtCase=0\r\nMove=0\r\n"
                                       "DirTemplate=yyyy/../mm\r\n");
    const Outcome o = Run({"--settings", (dir / "k.ini").string(), "--move"});
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_NE(o.err.find("bad folder template in the settings file"), std::string::npos) << o.err;
    EXPECT_EQ(Tree(src), std::vector<std::string>{"a.jpg"});
    EXPECT_FALSE(fs::exists(state));
    // The five patterns stay what they were, and a run with no option stores no extra field.
    const Outcome plain = Run({"--folders", "yyyymmdd", src.string()});
    EXPECT_EQ(plain.out.substr(0, plain.out.find(',')), "1 file copied");
    EXPECT_TRUE(fs::exists(src / "20020426/a.jpg"));
}

// --dest: the three words, else a folder of one's own that gets the date folders directly.
TEST_F(CliTest, DestinationOfOnesOwn)
{
    struct Case {
        const char* name;
        std::vector<std::string> args; // before FOLDER; "@" stands for the test's folder
        int status;
        std::string where;   // below "@": the folder holding the date folder, when stored
        std::string message; // in standard error, when the run fails
    };
    const std::vector<Case> cases = {
        {"absolute, made", {"--dest", "@/Pictures/card"}, 0, "Pictures/card", ""},
        {"with =, trailing slash", {"--dest=@/Pictures/card/"}, 0, "Pictures/card", ""},
        {"the word wins over ./desktop", {"--dest", "desktop"}, 0, "home/Desktop/分類", ""},
        {"./desktop is a path", {"--dest", "./desktop"}, 0, "work/desktop", ""},
        {"relative, made in the working folder", {"--dest=new"}, 0, "work/new", ""},
        {"~ is the home folder", {"--dest=~/card"}, 0, "home/card", ""},
        {"a link the user made", {"--dest", "@/link"}, 0, "Pictures", ""},
        {"a move", {"--move", "--dest", "@/Pictures"}, 0, "Pictures", ""},
        {"dry run makes nothing", {"--dry-run", "--dest", "@/Pictures/card"}, 0, "", ""},
        {"one level only", {"--dest", "@/no/such"}, 1, "", "the folder above it does not exist"},
        {"a file", {"--dest", "@/file"}, 1, "", "is not a folder"},
        {"a date folder that is a link", {"--dest", "@/trap"}, 1, "", "symbolic link"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempFolder root;
        src = root / "photos";
        home = root / "home";
        cwd = root / "work";
        for (const char* folder :
             {"photos", "home/Desktop", "work/desktop", "Pictures", "elsewhere"})
            fs::create_directories(root / folder);
        fs::create_directory_symlink(root / "Pictures", root / "link");
        test::WriteFile(root / "file", "f");
        fs::create_directories(root / "trap");
        fs::create_directory_symlink(root / "elsewhere", root / "trap/020426");
        Add("a.jpg", "a", 26);
        std::vector<std::string> args;
        for (std::string arg : c.args) {
            if (const auto at = arg.find('@'); at != std::string::npos)
                arg.replace(at, 1, root.str());
            args.push_back(arg);
        }
        args.push_back(src.string());
        const Outcome o = Run(args);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        // Nothing stored anywhere else: no date folder in the source, nothing through the trap.
        EXPECT_FALSE(fs::exists(src / "020426"));
        EXPECT_TRUE(fs::is_empty(root / "elsewhere"));
        if (!c.where.empty()) {
            EXPECT_EQ(test::ReadFile(root / c.where / "020426/a.jpg"), "a");
        }
        EXPECT_EQ(fs::exists(src / "a.jpg"), c.args[0] != std::string("--move"));
        if (c.args[0] == std::string("--dry-run")) {
            EXPECT_FALSE(fs::exists(root / "Pictures/card"));
            EXPECT_EQ(o.out,
                      src.string() + "/a.jpg\t" + root.str() + "/Pictures/card/020426/a.jpg\n");
        }
    }

    // The settings file's DestPattern=4 and DestPath; a word on the command line overrides it.
    const test::TempFolder root;
    src = root / "photos";
    home = root / "home";
    cwd.clear();
    fs::create_directories(src);
    fs::create_directories(home / "Documents");
    Add("b.jpg", "b", 27);
    test::WriteFile(root / "k.ini", "[kestrum]\r\nVersion=0.4.5\r\nDirPath=" + src.string() +
                                        "\r\nDirPattern=4\r\nRenamePattern=1\r\nDestPattern=4\r\n"
                                        "FileNameCase=0\r\nExtCase=0\r\nMove=0\r\nDestPath=" +
                                        root.str() + "/Bilder\r\n");
    Outcome o = Run({"--settings", (root / "k.ini").string(), "--quiet"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::exists(root / "Bilder/020427/b.jpg"));
    o = Run({"--settings", (root / "k.ini").string(), "--dest", "documents", "--quiet"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::exists(home / "Documents/分類/020427/b.jpg"));
}

// --json and --verbose say which source dated each file.
TEST_F(CliTest, EachFileSaysWhereItsDateCameFrom)
{
    const auto tiff = test::TiffBuilder().ExifAscii(0x9003, "2004:05:06 07:08:09").Build();
    Add("IMG_0001.JPG", test::ToString(test::JpegApp1(tiff)), 26);
    Add("movie.mov", AppleMovie("2019-05-06T07:08:09+0200"), 26);
    Add("IMG_20230708_223101.jpg", "n", 26, 1, 2, 3);
    Add("notes.txt", "t", 26, 1, 2, 3);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"IMG_0001.JPG", "\"date\":\"2004-05-06T07:08:09\",\"date_from\":\"exif\""},
        {"movie.mov", "\"date\":\"2019-05-06T07:08:09\",\"date_from\":\"media\""},
        {"IMG_20230708_223101.jpg", "\"date\":\"2023-07-08T22:31:01\",\"date_from\":\"name\""},
        {"notes.txt", "\"date\":\"2002-04-26T01:02:03\",\"date_from\":\"file\""},
    };
    const Outcome o = Run({"--json", "--dry-run", "--media-dates", "--name-dates", src.string()});
    EXPECT_EQ(o.status, 0) << o.err;
    for (const auto& [name, fields] : expected) {
        const std::size_t line = o.out.find("{\"source\":\"" + (src / name).string() + "\"");
        ASSERT_NE(line, std::string::npos) << name << "\n" << o.out;
        const std::string object = o.out.substr(line, o.out.find('\n', line) - line);
        EXPECT_EQ(object.substr(object.find(",\"date\"") + 1), fields + "}") << object;
    }
    // Without the options those files fall back to the file time.
    const Outcome plain = Run({"--dry-run", "--verbose", src.string()});
    EXPECT_NE(plain.out.find("/IMG_20230708_223101.jpg\t2002-04-26T01:02:03\tfile\n"),
              std::string::npos)
        << plain.out;
    EXPECT_NE(plain.out.find("/IMG_0001.JPG\t2004-05-06T07:08:09\texif\n"), std::string::npos);
}

// What the user cannot read is skipped and named, with its own exit status; what the user
// cannot write fails a dry run as it fails the real run. As root the program runs as another
// user (setpriv), for whom the folders below are closed.
TEST_F(CliTest, WhatTheUserCannotReadIsSkippedAndNamed)
{
    if (::geteuid() == 0) {
        if (std::system("command -v setpriv >/dev/null") != 0)
            GTEST_SKIP() << "setpriv (util-linux) is not installed";
        runAs = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        for (const fs::path& open : {dir.path(), src, home, state}) {
            fs::create_directories(open);
            fs::permissions(open, fs::perms::all);
        }
    }
    const auto close = [](const fs::path& path) { fs::permissions(path, fs::perms::none); };
    Add("a.jpg", "a", 26);
    fs::create_directory(src / "lost");
    Add("lost/c.jpg", "c", 26);
    close(src / "lost");
    Outcome o = Run({"--recursive", "--json", src.string()});
    EXPECT_EQ(o.status, 23) << o.err;
    EXPECT_NE(o.err.find("skipped \"" + (src / "lost").string() +
                         "\": cannot be read: Permission denied"),
              std::string::npos)
        << o.err;
    EXPECT_NE(o.out.find("\"skipped\""), std::string::npos) << o.out;
    EXPECT_EQ(test::ReadFile(src / "020426/a.jpg"), "a");

    // One unreadable file stops the run before anything is stored, unless --keep-going.
    fs::permissions(src / "lost", fs::perms::all);
    fs::remove_all(src / "020426");
    close(src / "lost/c.jpg");
    o = Run({"--recursive", src.string()});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("lost/c.jpg"), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(src / "020426"));
    o = Run({"--recursive", "--keep-going", src.string()});
    EXPECT_EQ(o.status, 23);
    EXPECT_NE(o.err.find("1 file could not be stored"), std::string::npos) << o.err;
    EXPECT_EQ(test::ReadFile(src / "020426/a.jpg"), "a");

    // A destination the user cannot write: the dry run says what the real run says.
    for (const fs::path& locked : {src / "020426", src}) {
        if (locked == src)
            fs::remove_all(src / "020426"); // the run would make it in the locked folder
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
        const Outcome planned = Run({"--dry-run", "--move", src.string()});
        const Outcome real = Run({"--move", src.string()});
        fs::permissions(locked, fs::perms::all);
        EXPECT_EQ(planned.status, 1) << locked;
        EXPECT_EQ(real.status, 1);
        EXPECT_EQ(planned.err, real.err);
        EXPECT_NE(planned.err.find("Permission denied"), std::string::npos) << planned.err;
    }
}

// The card of make run: written whole, never over an existing folder, and dated as a camera's.
TEST_F(CliTest, SampleCardIsACameraCard)
{
    const fs::path card = dir / "sample";
    ASSERT_EQ(
        std::system(
            (Quote(VELMORA_MAKE_SAMPLE) + " " + Quote(card.string()) + " >/dev/null").c_str()),
        0);
    const auto files = Tree(card);
    EXPECT_EQ(files.size(), 38u);
    EXPECT_NE(
        std::system(
            (Quote(VELMORA_MAKE_SAMPLE) + " " + Quote(card.string()) + " 2>/dev/null").c_str()),
        0);
    EXPECT_EQ(Tree(card), files);
    const Outcome o =
        Run({"--json", "--dry-run", "--recursive", "--media-dates", "--name-dates", card.string()});
    EXPECT_EQ(o.status, 0) << o.err;
    std::map<std::string, int> from;
    for (std::size_t at = 0; (at = o.out.find("\"date_from\":\"", at)) != std::string::npos;) {
        at += 13;
        ++from[o.out.substr(at, o.out.find('"', at) - at)];
    }
    EXPECT_EQ(from, (std::map<std::string, int>{{"exif", 36}, {"media", 1}, {"name", 1}}));
    EXPECT_NE(o.out.find("\"date\":\"2024-03-16T14:05:30\",\"date_from\":\"media\""),
              std::string::npos);
}
