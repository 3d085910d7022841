#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "engine/base/path_text.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using settings::SettingsTexts;
using Layout = settings::SettingsTexts::Layout;

class SettingsFileTest : public ::testing::Test {
protected:
    std::string file() const { return settings::SettingsFile(folder.str()); }
    void Write(std::string_view bytes) const { test::WriteFile(file(), bytes); }
    std::string Read() const { return test::ReadFile(file()); }
    std::vector<std::string> FolderNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }
    engine::RunOptions LoadOptions() const
    {
        return settings::ToRunOptions(settings::LoadSettings(file()));
    }

    test::TempFolder folder;
};

// What the program writes on its first exit when the user changed nothing.
std::string DefaultFile(const std::string& dirPath)
{
    return "[kestrum]\r\nVersion=0.4.5\r\nDirPath=" + dirPath +
           "\r\nDirPattern=4\r\nRenamePattern=1\r\nDestPattern=1\r\nFileNameCase=0\r\n"
           "ExtCase=0\r\nMove=0\r\nSuffix=0\r\nDetail=1\r\nYYYY=0\r\n";
}

TEST_F(SettingsFileTest, FirstStartWithoutFileThenSaveWritesTheDefaults)
{
    const SettingsTexts texts = settings::LoadSettings(file());
    EXPECT_EQ(texts.layout, Layout::NoFile);
    const engine::RunOptions options = settings::ToRunOptions(texts);
    EXPECT_EQ(options.SourceFolder, "");
    EXPECT_EQ(options.DirPattern, 4);
    EXPECT_EQ(options.RenamePattern, 1);
    EXPECT_EQ(options.DestPattern, 1);
    EXPECT_EQ(options.Detail, 1);
    EXPECT_EQ(options.YYYY + options.Model + options.FileNameCase + options.ExtCase + options.Move +
                  options.Suffix,
              0);

    ASSERT_TRUE(settings::SaveSettings(file(), "/home/u/photos", options));
    EXPECT_EQ(Read(), DefaultFile("/home/u/photos"));
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"kestrum.ini"}); // no temporary left
}

TEST_F(SettingsFileTest, ModelLineIsWrittenWhenOnAndRemovedWhenOff)
{
    engine::RunOptions options;
    options.Model = 1;
    ASSERT_TRUE(settings::SaveSettings(file(), "/p", options));
    EXPECT_EQ(Read(), DefaultFile("/p") + "Model=1\r\n");
    EXPECT_EQ(LoadOptions().Model, 1);

    options.Model = 0;
    ASSERT_TRUE(settings::SaveSettings(file(), "/p", options));
    EXPECT_EQ(Read(), DefaultFile("/p"));
    EXPECT_EQ(LoadOptions().Model, 0);
}

TEST_F(SettingsFileTest, MediaAndNameDateKeysAreWrittenOnlyWhenOnLikeModel)
{
    using O = engine::RunOptions;
    struct Case {
        std::int16_t O::*field;
        const char* line;
    };
    for (const Case& c :
         {Case{&O::MediaDates, "MediaDates=1\r\n"}, Case{&O::NameDates, "NameDates=1\r\n"},
          Case{&O::Recursive, "Recursive=1\r\n"}, Case{&O::SkipSame, "SkipSame=1\r\n"},
          Case{&O::KeepGoing, "KeepGoing=1\r\n"},
          Case{&O::KeepTogether, "KeepTogether=1\r\n"}}) {
        SCOPED_TRACE(c.line);
        engine::RunOptions options;
        options.*c.field = 1;
        ASSERT_TRUE(settings::SaveSettings(file(), "/p", options));
        EXPECT_EQ(Read(), DefaultFile("/p") + c.line);
        EXPECT_EQ(LoadOptions().*c.field, 1);

        options.*c.field = 0;
        ASSERT_TRUE(settings::SaveSettings(file(), "/p", options));
        EXPECT_EQ(Read(), DefaultFile("/p"));
        EXPECT_EQ(LoadOptions().*c.field, 0);
    }
    // Only the text "1" turns an option on, as with Model.
    for (const char* text : {"0", "01", "2", "yes", ""}) {
        Write(DefaultFile("/p") + "MediaDates=" + text + "\r\nNameDates=" + text + "\r\n");
        EXPECT_EQ(LoadOptions().MediaDates, 0) << text;
        EXPECT_EQ(LoadOptions().NameDates, 0) << text;
    }
    fs::remove(file());
    engine::RunOptions both;
    both.MediaDates = both.NameDates = both.Model = 1;
    ASSERT_TRUE(settings::SaveSettings(file(), "/p", both));
    EXPECT_EQ(Read(), DefaultFile("/p") + "Model=1\r\nMediaDates=1\r\nNameDates=1\r\n");
}

// DestPath is written only while DestPattern is 4, read back whole, and removed otherwise.
TEST_F(SettingsFileTest, DestPathRoundTrip)
{
    struct Case {
        std::int16_t pattern;
        std::string path;
        std::string lines;    // DestPattern and DestPath as written
        std::int16_t read;    // DestPattern read back
        std::string readPath; // DestPath read back
    };
    const std::string deep = "/" + std::string(300, 'd') + "/写真";
    const std::vector<Case> cases = {
        {4, "/home/u/Pictures", "DestPattern=4|DestPath=/home/u/Pictures", 4, "/home/u/Pictures"},
        {4, " /blank at both ends ", "DestPattern=4|DestPath=\" /blank at both ends \"", 4,
         " /blank at both ends "},
        {4, deep, "DestPattern=4|DestPath=" + deep, 4, deep}, // longer than 255 bytes
        {4, "/two\nlines", "DestPattern=1|", 1, ""},          // a line cannot hold it
        {4, "", "DestPattern=1|", 1, ""},
        {2, "/chosen before", "DestPattern=2|", 2, ""},
        {1, "/chosen before", "DestPattern=1|", 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        engine::RunOptions options;
        options.DestPattern = c.pattern;
        options.DestPath = c.path;
        ASSERT_TRUE(settings::SaveSettings(file(), "/p", options));
        const std::string pattern = c.lines.substr(0, c.lines.find('|'));
        const std::string path = c.lines.substr(c.lines.find('|') + 1);
        std::string expected = DefaultFile("/p");
        expected.replace(expected.find("DestPattern=1"), 13, pattern);
        EXPECT_EQ(Read(), expected + (path.empty() ? "" : path + "\r\n"));
        const engine::RunOptions read = LoadOptions();
        EXPECT_EQ(read.DestPattern, c.read);
        EXPECT_EQ(read.DestPath, c.readPath);
    }
    // Read by hand-written files: 4 needs a DestPath, and only 4 takes one.
    for (const auto& [lines, pattern, path] :
         std::vector<std::tuple<std::string, int, std::string>>{
             {"DestPattern=4\r\n", 1, ""},
             {"DestPattern=4\r\nDestPath=\r\n", 1, ""},
             {"DestPattern=3\r\nDestPath=/x\r\n", 3, ""},
             {"DestPattern=5\r\nDestPath=/x\r\n", 1, ""},
             {"DestPattern=4.4\r\ndestpath=/x\r\n", 4, "/x"},
         }) {
        Write("[kestrum]\r\nVersion=0.4.5\r\nDirPath=/p\r\nDirPattern=4\r\nRenamePattern=1\r\n"
              "FileNameCase=0\r\nExtCase=0\r\nMove=0\r\nSuffix=0\r\n" +
              lines);
        EXPECT_EQ(LoadOptions().DestPattern, pattern) << lines;
        EXPECT_EQ(LoadOptions().DestPath, path) << lines;
    }
}

TEST_F(SettingsFileTest, DirTemplateIsWrittenOnlyWhenSet)
{
    engine::RunOptions nested;
    nested.DirTemplate = "yyyy/mm/dd";
    ASSERT_TRUE(settings::SaveSettings(file(), "/p", nested));
    EXPECT_EQ(Read(), DefaultFile("/p") + "DirTemplate=yyyy/mm/dd\r\n");
    EXPECT_EQ(LoadOptions().DirTemplate, "yyyy/mm/dd");
    EXPECT_EQ(LoadOptions().DirPattern, 4); // the buttons keep their own key
    nested.DirTemplate.clear();
    ASSERT_TRUE(settings::SaveSettings(file(), "/p", nested));
    EXPECT_EQ(Read(), DefaultFile("/p"));
    EXPECT_EQ(LoadOptions().DirTemplate, "");
    Write(DefaultFile("/p") + "Recursive=yes\r\nSkipSame=2\r\n");
    EXPECT_EQ(LoadOptions().Recursive, 0);
    EXPECT_EQ(LoadOptions().SkipSame, 0);
}

TEST_F(SettingsFileTest, SavedOptionsReadBackUnchanged)
{
    engine::RunOptions options;
    options.SourceFolder = " /写真/my photos "; // blanks at both ends survive
    options.DirPattern = 7;
    options.RenamePattern = 6;
    options.DestPattern = 3;
    options.FileNameCase = 0;
    options.ExtCase = 2;
    options.Move = 1;
    options.Suffix = 7;
    options.Detail = 0;
    options.YYYY = 4;
    options.Model = 1;
    ASSERT_TRUE(settings::SaveSettings(file(), options.SourceFolder, options));
    EXPECT_NE(Read().find("\r\nSuffix=7\r\n"), std::string::npos);

    const engine::RunOptions back = LoadOptions();
    EXPECT_EQ(back.SourceFolder, options.SourceFolder);
    EXPECT_EQ(std::vector<int>({back.DirPattern, back.RenamePattern, back.DestPattern,
                                back.FileNameCase, back.ExtCase, back.Move, back.Suffix,
                                back.Detail, back.YYYY, back.Model}),
              std::vector<int>({7, 6, 3, 0, 2, 1, 7, 0, 4, 1}));
}

// A complete INI file whose values all differ from the start values, so that a key left
// out shows the rule for a missing key.
const std::vector<std::pair<std::string, std::string>> BaseKeys = {
    {"DirPath", "/base"},  {"DirPattern", "5"}, {"RenamePattern", "3"}, {"DestPattern", "2"},
    {"FileNameCase", "0"}, {"ExtCase", "1"},    {"Move", "1"},          {"Suffix", "1"},
    {"Detail", "0"},       {"YYYY", "4"},       {"Model", "1"},
};

struct RuleCase {
    const char* key;
    std::optional<std::string> value; // nothing: the key is left out
    std::int16_t engine::RunOptions::*field;
    int expected;
};

TEST_F(SettingsFileTest, TextsTurnIntoValuesByTheRules)
{
    using O = engine::RunOptions;
    const RuleCase cases[] = {
        {"DirPattern", "2", &O::DirPattern, 4},
        {"DirPattern", "6", &O::DirPattern, 4},
        {"DirPattern", "abc", &O::DirPattern, 4},
        {"DirPattern", "7", &O::DirPattern, 7},
        {"DirPattern", "1", &O::DirPattern, 1},
        {"DirPattern", "3.5", &O::DirPattern, 4},
        {"DirPattern", "65539", &O::DirPattern, 4}, // would wrap to 3
        {"RenamePattern", "0", &O::RenamePattern, 1},
        {"RenamePattern", "6", &O::RenamePattern, 6},
        {"RenamePattern", "4.5", &O::RenamePattern, 4},
        {"RenamePattern", "5.5", &O::RenamePattern, 6},
        {"RenamePattern", "65538", &O::RenamePattern, 1}, // would wrap to 2
        {"DestPattern", std::nullopt, &O::DestPattern, 1},
        {"DestPattern", "", &O::DestPattern, 1},
        {"DestPattern", "3", &O::DestPattern, 3},
        {"DestPattern", "4", &O::DestPattern, 1},
        {"DestPattern", "-65534", &O::DestPattern, 1},  // would wrap to 2
        {"FileNameCase", "65537", &O::FileNameCase, 0}, // would wrap to 1
        {"FileNameCase", "1", &O::ExtCase, 2},          // lowering the name greys ExtCase
        {"ExtCase", "9", &O::ExtCase, 9},
        {"ExtCase", "65538", &O::ExtCase, 0},
        {"Move", "", &O::Move, 0},
        {"Move", "3", &O::Move, 3},
        {"Move", "65537", &O::Move, 0},
        {"Suffix", "7", &O::Suffix, 7},
        {"Suffix", std::nullopt, &O::Suffix, 0},
        {"Suffix", "-65535", &O::Suffix, 0},
        {"Detail", "no", &O::Detail, 1},
        {"Detail", "0", &O::Detail, 0},
        {"Detail", " 0 ", &O::Detail, 0}, // the profile reader drops blanks around values
        {"Detail", "00", &O::Detail, 1},
        {"Detail", std::nullopt, &O::Detail, 1},
        {"YYYY", "4", &O::YYYY, 4},
        {"YYYY", "1", &O::YYYY, 0},
        {"YYYY", "04", &O::YYYY, 0},
        {"YYYY", "4.0", &O::YYYY, 0},
        {"YYYY", std::nullopt, &O::YYYY, 0},
        {"Model", "1", &O::Model, 1},
        {"Model", "01", &O::Model, 0},
        {"Model", std::nullopt, &O::Model, 0},
    };
    for (const RuleCase& c : cases) {
        std::string text = "[kestrum]\r\nVersion=0.4.5\r\n";
        for (const auto& [key, value] : BaseKeys) {
            if (key != c.key)
                text += key + "=" + value + "\r\n";
            else if (c.value)
                text += key + "=" + *c.value + "\r\n";
        }
        Write(text);
        EXPECT_EQ(LoadOptions().*c.field, c.expected) << c.key << "=" << c.value.value_or("(none)");
    }
}

TEST_F(SettingsFileTest, SuffixSevenIsWrittenBackAsSeven)
{
    Write("[kestrum]\r\nDirPath=/p\r\nDirPattern=4\r\nRenamePattern=1\r\nDestPattern=1\r\n"
          "FileNameCase=0\r\nExtCase=0\r\nMove=0\r\nSuffix=7\r\n");
    const engine::RunOptions options = LoadOptions();
    ASSERT_TRUE(settings::SaveSettings(file(), options.SourceFolder, options));
    EXPECT_EQ(settings::LoadSettings(file()).Suffix, "7");
}

TEST_F(SettingsFileTest, LegacyEightLineFile)
{
    Write("/pics\r\n7\r\n3\r\n2\r\n0\r\n1\r\n1\r\n1\r\n");
    const SettingsTexts texts = settings::LoadSettings(file());
    EXPECT_EQ(texts.layout, Layout::Legacy);
    const engine::RunOptions options = settings::ToRunOptions(texts);
    EXPECT_EQ(options.SourceFolder, "/pics");
    EXPECT_EQ(std::vector<int>({options.DirPattern, options.RenamePattern, options.DestPattern,
                                options.FileNameCase, options.ExtCase, options.Move, options.Suffix,
                                options.Detail, options.YYYY, options.Model}),
              std::vector<int>({7, 3, 2, 0, 1, 1, 1, 1, 0, 0}));
}

TEST_F(SettingsFileTest, ShortLegacyFileWithLfLinesLeavesTheRestEmpty)
{
    Write("/pics\n1\n");
    const SettingsTexts texts = settings::LoadSettings(file());
    EXPECT_EQ(texts.layout, Layout::Legacy);
    EXPECT_EQ(texts.DirPath, "/pics");
    EXPECT_EQ(texts.DestPattern, "");
    const engine::RunOptions options = settings::ToRunOptions(texts);
    EXPECT_EQ(options.DirPattern, 1);
    EXPECT_EQ(options.RenamePattern, 1);
    EXPECT_EQ(options.DestPattern, 1);
    EXPECT_EQ(options.Detail, 1);
}

TEST_F(SettingsFileTest, EmptyNinthLineMeansLegacyEvenWithKeysFurtherDown)
{
    Write("/legacy\r\n3\r\n2\r\n1\r\n0\r\n0\r\n0\r\n0\r\n\r\n[kestrum]\r\nDirPath=/ini\r\n"
          "DirPattern=5\r\nDetail=0\r\nYYYY=4\r\n");
    const SettingsTexts texts = settings::LoadSettings(file());
    EXPECT_EQ(texts.layout, Layout::Legacy);
    const engine::RunOptions options = settings::ToRunOptions(texts);
    EXPECT_EQ(options.SourceFolder, "/legacy");
    EXPECT_EQ(options.DirPattern, 3);
    EXPECT_EQ(options.Detail, 1);
    EXPECT_EQ(options.YYYY, 0);

    // Once saved, the file must be read as INI, or the saved values would never come back.
    engine::RunOptions changed = options;
    changed.DirPattern = 5;
    ASSERT_TRUE(settings::SaveSettings(file(), "/saved", changed));
    EXPECT_EQ(settings::LoadSettings(file()).layout, Layout::Ini);
    EXPECT_EQ(LoadOptions().SourceFolder, "/saved");
    EXPECT_EQ(LoadOptions().DirPattern, 5);
}

TEST_F(SettingsFileTest, SavingOverALegacyFileKeepsItsLinesAndReadsBackAsIni)
{
    const std::string legacy = "/pics\r\n7\r\n3\r\n2\r\n0\r\n1\r\n1\r\n1\r\n";
    Write(legacy);
    const engine::RunOptions options = LoadOptions();
    ASSERT_TRUE(settings::SaveSettings(file(), options.SourceFolder, options));
    EXPECT_EQ(Read(), legacy + "[kestrum]\r\nVersion=0.4.5\r\nDirPath=/pics\r\nDirPattern=7\r\n"
                               "RenamePattern=3\r\nDestPattern=2\r\nFileNameCase=0\r\nExtCase=1\r\n"
                               "Move=1\r\nSuffix=1\r\nDetail=1\r\nYYYY=0\r\n");
    const engine::RunOptions back = LoadOptions();
    EXPECT_EQ(settings::LoadSettings(file()).layout, Layout::Ini);
    EXPECT_EQ(back.DirPattern, 7);
    EXPECT_EQ(back.Suffix, 1);
}

TEST_F(SettingsFileTest, IniValuesAreCutTo255BytesButLegacyLinesAreNot)
{
    const std::string longPath = "/" + std::string(299, 'p');
    const std::string straddling = "/" + std::string(253, 'p') + "é/x"; // é on bytes 255-256
    const std::string rest = "\r\nDirPattern=4\r\nRenamePattern=1\r\nDestPattern=1\r\n"
                             "FileNameCase=0\r\nExtCase=0\r\nMove=0\r\nSuffix=0\r\nDetail=1\r\n";

    Write("[kestrum]\r\nDirPath=" + longPath + rest);
    EXPECT_EQ(settings::LoadSettings(file()).DirPath, longPath.substr(0, 255));

    Write("[kestrum]\r\nDirPath=" + straddling + rest);
    EXPECT_EQ(settings::LoadSettings(file()).DirPath, straddling.substr(0, 254));

    Write(longPath + "\r\n4\r\n");
    EXPECT_EQ(settings::LoadSettings(file()).DirPath, longPath);
}

TEST_F(SettingsFileTest, ForeignSectionsCommentsAndNameCaseSurviveASaveInPlace)
{
    Write("; written by hand\r\n[other]\r\nDirPath=/not-ours\r\n\r\n[KESTRUM]\r\n"
          "; where the photos are\r\n  dirpath = /old \r\nDIRPATTERN=5\r\nunknown=keep\r\n"
          "rename pattern=2\r\n\r\n[tail]\r\nModel=1\r\n");
    const SettingsTexts texts = settings::LoadSettings(file());
    EXPECT_EQ(texts.layout, Layout::Ini);
    EXPECT_EQ(texts.DirPath, "/old");
    EXPECT_EQ(texts.DirPattern, "5");
    EXPECT_EQ(texts.Model, ""); // [tail] is not our section

    engine::RunOptions options = settings::ToRunOptions(texts);
    ASSERT_TRUE(settings::SaveSettings(file(), "/new", options));
    EXPECT_EQ(Read(), "; written by hand\r\n[other]\r\nDirPath=/not-ours\r\n\r\n[KESTRUM]\r\n"
                      "; where the photos are\r\nDirPath=/new\r\nDirPattern=5\r\nunknown=keep\r\n"
                      "rename pattern=2\r\nVersion=0.4.5\r\nRenamePattern=1\r\nDestPattern=1\r\n"
                      "FileNameCase=0\r\nExtCase=0\r\nMove=0\r\nSuffix=0\r\nDetail=1\r\nYYYY=0\r\n"
                      "\r\n[tail]\r\nModel=1\r\n");
}

TEST_F(SettingsFileTest, LfOnlyIniFileIsRead)
{
    Write("[kestrum]\nDirPath=/lf\nDirPattern=3\nRenamePattern=2\nDestPattern=3\n"
          "FileNameCase=0\nExtCase=0\nMove=0\nSuffix=1\nDetail=0\n");
    const engine::RunOptions options = LoadOptions();
    EXPECT_EQ(options.SourceFolder, "/lf"); // no stray CR
    EXPECT_EQ(options.DirPattern, 3);
    EXPECT_EQ(options.DestPattern, 3);
    EXPECT_EQ(options.Detail, 0);
}

TEST_F(SettingsFileTest, SettingsFileThatIsAFolderReadsAsNoFileAndIsNotReplaced)
{
    fs::create_directory(file());
    EXPECT_EQ(settings::LoadSettings(file()).layout, Layout::NoFile);
    EXPECT_FALSE(settings::SaveSettings(file(), "/p", engine::RunOptions{}));
    EXPECT_TRUE(fs::is_directory(file()));
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"kestrum.ini"});
}

TEST_F(SettingsFileTest, SettingsFileWithoutReadAccessReadsAsNoFile)
{
    Write(DefaultFile("/p"));
    fs::permissions(file(), fs::perms::none);
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root, which reads files without read permission";
    EXPECT_EQ(settings::LoadSettings(file()).layout, Layout::NoFile);
    EXPECT_FALSE(settings::SaveSettings(file(), "/q", engine::RunOptions{}));
}

TEST_F(SettingsFileTest, SaveStoppedBeforeItsRenameLeavesTheOldFileIntact)
{
    const std::string old = DefaultFile("/old") + "; keep me\r\n";
    Write(old);
    engine::RunOptions options;
    options.DirPattern = 7;
    std::string seenTemporary;
    const bool saved =
        settings::SaveSettings(file(), "/new", options, [&](const std::string& temporary) {
            seenTemporary = test::ReadFile(temporary);
            EXPECT_EQ(Read(), old); // nothing touched the file yet
            return false;
        });
    EXPECT_FALSE(saved);
    EXPECT_NE(seenTemporary.find("DirPath=/new\r\nDirPattern=7\r\n"), std::string::npos);
    EXPECT_EQ(seenTemporary.substr(seenTemporary.size() - 11), "; keep me\r\n"); // complete
    EXPECT_EQ(Read(), old);
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"kestrum.ini"});
}

TEST_F(SettingsFileTest, SaveIntoAMissingFolderFails)
{
    EXPECT_FALSE(
        settings::SaveSettings((folder / "gone/kestrum.ini").string(), "/p", engine::RunOptions{}));
}

struct NumberCase {
    const char* text;
    bool fits;
    int value;
};

TEST(ParseSettingNumberTest, NumberRule)
{
    const NumberCase cases[] = {
        {"4", true, 4},
        {"  7", true, 7},
        {"\t-3", true, -3},
        {"+2", true, 2},
        {"4.5", true, 4},
        {"5.5", true, 6},
        {"-2.5", true, -2},
        {"-3.5", true, -4},
        {"0.5", true, 0},
        {"1.5", true, 2},
        {"2.51", true, 3},
        {"2.5000000000000000001", true, 3},
        {"2.4999", true, 2},
        {".5", true, 0},
        {".6", true, 1},
        {"5.", true, 5},
        {"7abc", true, 7},
        {"1e3", true, 1},
        {"04", true, 4},
        {"000000000012", true, 12},
        {"abc", true, 0},
        {"", true, 0},
        {"-", true, 0},
        {".", true, 0},
        {"- 5", true, 0},
        {"32767", true, 32767},
        {"-32768", true, -32768},
        {"-32768.5", true, -32768},
        {"32768", false, 0},
        {"-32769", false, 0},
        {"32767.5", false, 0},
        {"65537", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const NumberCase& c : cases) {
        std::int16_t value = 99;
        EXPECT_EQ(settings::ParseSettingNumber(c.text, value), c.fits) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

// An installed program (its prefix holds the menu entry) keeps its settings in the user's
// configuration whoever runs it, root included; a copy elsewhere beside itself while it can.
TEST(SettingsFilePathTest, BesideTheProgramWhenWritableElseInTheUsersConfiguration)
{
    test::TempFolder temp;
    const std::string program = (temp / "bin").string();
    fs::create_directory(program);
    const std::string installed = (temp / "usr/bin").string();
    fs::create_directories(installed);
    fs::create_directories(temp / "usr/share/applications");
    test::WriteFile(temp / "usr/share/applications/org.velmora.Velmora.desktop", "[Desktop Entry]");
    const std::string folderEntry = (temp / "opt/bin").string(); // the entry is no file
    fs::create_directories(folderEntry);
    fs::create_directories(temp / "opt/share/applications/org.velmora.Velmora.desktop");
    const std::string build = (temp / "build/release/app").string();
    fs::create_directories(build);
    fs::create_directories(temp / "build/release/share/applications");
    test::WriteFile(temp / "build/release/share/applications/org.velmora.Velmora.desktop", "");
    const std::string home = (temp / "home").string();
    const char* oldHome = std::getenv("HOME");
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string keptHome = oldHome ? oldHome : "", keptConfig = oldConfig ? oldConfig : "";
    const struct {
        std::string programFolder;
        const char* config; // XDG_CONFIG_HOME, nullptr: unset
        std::string file;
    } cases[] = {
        {program, nullptr, program + "/kestrum.ini"},
        {program + "/missing", nullptr, home + "/.config/velmora/kestrum.ini"},
        {program + "/missing", "/xdg", "/xdg/velmora/kestrum.ini"},
        {program + "/missing", "relative", home + "/.config/velmora/kestrum.ini"},
        {installed, nullptr, home + "/.config/velmora/kestrum.ini"},
        {installed + "/", "/xdg", "/xdg/velmora/kestrum.ini"},
        {folderEntry, nullptr, folderEntry + "/kestrum.ini"},
        {build, nullptr, build + "/kestrum.ini"}, // not a bin folder
    };
    ::setenv("HOME", home.c_str(), 1);
    for (const auto& c : cases) {
        if (c.config != nullptr)
            ::setenv("XDG_CONFIG_HOME", c.config, 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(settings::SettingsFile(c.programFolder), c.file) << c.config;
    }
    // The first save makes the folders.
    ::unsetenv("XDG_CONFIG_HOME");
    const std::string file = settings::SettingsFile(program + "/missing");
    EXPECT_TRUE(settings::SaveSettings(file, "/pics", engine::RunOptions{}));
    EXPECT_EQ(settings::LoadSettings(file).DirPath, "/pics");
    EXPECT_EQ(fs::status(home + "/.config/velmora").permissions() & fs::perms::all,
              fs::perms::owner_all);
    ::setenv("HOME", keptHome.c_str(), 1);
    if (oldConfig != nullptr)
        ::setenv("XDG_CONFIG_HOME", keptConfig.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST(StartFolderTest, FolderOfFileCutsAtTheLastSeparator)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/pics/IMG_0001.JPG", "/pics"}, {"/a.jpg", "/"}, {"//a.jpg", "/"},
        {"pics//a.jpg", "pics"},         {"a.jpg", "."},  {"/a/b/c", "/a/b"},
    };
    for (const auto& [path, folder] : cases)
        EXPECT_EQ(engine::FolderOfPath(path), folder) << path;
}

TEST(StartFolderTest, ArgumentGivesTheFolderToOpen)
{
    test::TempFolder temp;
    const std::string root = temp.str();
    fs::create_directory(temp / "pics");
    fs::create_directory(temp / "dir.jpg");
    test::WriteFile(temp / "pics/IMG_0001.JPG", "x");
    test::WriteFile(temp / "pics/.hidden.jpg", "x");
    fs::create_symlink("pics/IMG_0001.JPG", temp / "link.jpg");
    fs::create_symlink("pics/IMG_0001.JPG", temp / ".hiddenlink.jpg");
    fs::create_symlink("pics/.hidden.jpg", temp / "tohidden.jpg");
    fs::create_symlink("pics", temp / "folderlink");

    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"\"\"", ""},
        {"\"", "\""},
        {"\"" + root + "/pics/IMG_0001.JPG\"", root + "/pics"},
        {root + "/pics/IMG_0001.JPG", root + "/pics"},
        {"\"" + root + "/pics\"", root + "/pics"},
        {root + "/missing/a.jpg", root + "/missing/a.jpg"},
        {root + "/pics/.hidden.jpg", root + "/pics/.hidden.jpg"},
        {root + "/dir.jpg", root + "/dir.jpg"},
        {root + "/link.jpg", root},     // a link stands for its file
        {root + "/tohidden.jpg", root}, // hidden is the link's name
        {root + "/.hiddenlink.jpg", root + "/.hiddenlink.jpg"},
        {root + "/folderlink", root + "/folderlink"},
        {"\"" + root + "/pics/IMG_0001.JPG", "\"" + root + "/pics/IMG_0001.JPG"}, // one quote
    };
    for (const auto& [argument, expected] : cases)
        EXPECT_EQ(settings::StartFolderFromArgument(argument), expected) << argument;

    // A bare name found in the current folder stands for that folder.
    const fs::path previous = fs::current_path();
    fs::current_path(temp / "pics");
    EXPECT_EQ(settings::StartFolderFromArgument("\"IMG_0001.JPG\""), ".");
    EXPECT_EQ(settings::StartFolderFromArgument("missing.jpg"), "missing.jpg");
    fs::current_path(previous);
}

} // namespace
