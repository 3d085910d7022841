#include "settings/profile_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using settings::ProfileDocument;

struct GetCase {
    const char* text;
    const char* expected;
};

TEST(ProfileDocumentTest, GetReadsSectionKeysAsTheProfileFunctionsDo)
{
    const GetCase cases[] = {
        {"[s]\r\nk=v\r\n", "v"},
        {"[S]\nK=v\n", "v"},                         // names ignore case; LF lines
        {"  [ s ] ; note\n  k  =  v w  \n", "v w"},  // blanks around names and value
        {"[s]\nk=\"  v \"\n", "  v "},               // quotes keep the blanks
        {"[s]\nk=a=b\n", "a=b"},                     // only the first "=" separates
        {"[s]\nk=\n", ""},                           // present but empty: not the default
        {"[s]\nk=first\nk=second\n", "first"},       // the first key counts
        {"[s]\nk=one\n[s]\nk=two\n", "one"},         // and the first section
        {"[other]\nk=x\n[s]\n; k=x\nj=1\nk=v", "v"}, // last line without line end
        {"\xEF\xBB\xBF[s]\r\nk=v\r\n", "v"},         // byte order mark
        {"k=x\n[s]\nj=1\n", "default"},              // key before any section
        {"[s]\n[t]\nk=v\n", "default"},              // key of the next section
        {"[s]\nk\n", "default"},                     // no "="
        {"[s]\n#k=v\n", "default"},                  // comment lines are no keys
        {"", "default"},
    };
    for (const GetCase& c : cases)
        EXPECT_EQ(ProfileDocument(c.text).Get("s", "k", "default"), c.expected) << c.text;
}

TEST(ProfileDocumentTest, SetReplacesInPlaceAndAddsAfterTheLastKeyOfItsSection)
{
    ProfileDocument document("; head\n[a]\nx=1\n\n[S]\nk = old\n; note\nz=9\n\n\n[b]\ny=2");
    document.Set("s", "K", "new");
    document.Set("s", "n", "5");
    document.Set("c", "q", "1");
    EXPECT_EQ(document.Text(), "; head\r\n[a]\r\nx=1\r\n\r\n[S]\r\nK=new\r\n; note\r\nz=9\r\n"
                               "n=5\r\n\r\n\r\n[b]\r\ny=2\r\n\r\n[c]\r\nq=1\r\n");
}

TEST(ProfileDocumentTest, SetCreatesTheSectionInAnEmptyDocumentAndAfterAKeylessHeader)
{
    ProfileDocument empty;
    empty.Set("s", "k", "v");
    EXPECT_EQ(empty.Text(), "[s]\r\nk=v\r\n");

    ProfileDocument keyless("[s]\n; only a comment\n");
    keyless.Set("s", "k", "v");
    EXPECT_EQ(keyless.Text(), "[s]\r\nk=v\r\n; only a comment\r\n");
}

TEST(ProfileDocumentTest, RemoveTakesOnlyThatKeyOfThatSection)
{
    ProfileDocument document("[s]\nk=1\nj=2\nK=3\n[t]\nk=4\n");
    EXPECT_TRUE(document.Remove("S", "k"));
    EXPECT_EQ(document.Text(), "[s]\r\nj=2\r\n[t]\r\nk=4\r\n");
    EXPECT_FALSE(document.Remove("s", "k"));
    EXPECT_FALSE(document.Remove("missing", "k"));
}

TEST(ProfileDocumentTest, ValuesReadBackAsWritten)
{
    const char* values[] = {"  lead", "trail ",      "\"quoted\"", "\"half", "a=b",
                            "",       "日本語 写真", "[s]",        "tab\t"};
    for (const char* value : values) {
        ProfileDocument document;
        document.Set("s", "k", value);
        EXPECT_EQ(ProfileDocument(document.Text()).Get("s", "k", "default"), value) << value;
    }
}

TEST(ProfileDocumentTest, LineBreakInValueCannotForgeKeys)
{
    ProfileDocument document;
    document.Set("s", "k", "x\r\n[s]\nj=1");
    const ProfileDocument reread(document.Text());
    EXPECT_EQ(reread.Get("s", "k"), "x");
    EXPECT_EQ(reread.Get("s", "j", "none"), "none");
    EXPECT_EQ(reread.Lines().size(), 2u);
}

struct CutCase {
    std::string text;
    std::size_t limit;
    std::string expected;
};

TEST(ProfileDocumentTest, CutKeepsWholeUtf8Characters)
{
    const std::string a252(252, 'a'), a253(253, 'a'), a254(254, 'a');
    const CutCase cases[] = {
        {"abc", 5, "abc"},
        {"abcdef", 3, "abc"},
        {a254 + "é", 255, a254},                     // 2-byte character on bytes 255 and 256
        {a253 + "分", 255, a253},                    // 3-byte character
        {a252 + "😀", 255, a252},                     // 4-byte character
        {a253 + "éx", 255, a253 + "é"},              // ends exactly on a boundary
        {"\x80\x80\x80\x80\x80", 3, "\x80\x80\x80"}, // not UTF-8: plain cut
    };
    for (const CutCase& c : cases)
        EXPECT_EQ(settings::CutAtCharBoundary(c.text, c.limit), c.expected) << c.text.size();

    const ProfileDocument document("[s]\nk=" + a254 + "é\n");
    EXPECT_EQ(document.Get("s", "k"), a254);
}

TEST(ProfileFileTest, SingleCallsCreateChangeAndRemoveKeysInAFile)
{
    test::TempFolder folder;
    const std::string file = (folder / "p.ini").string();
    EXPECT_EQ(settings::ReadProfileString(file, "s", "k", "none"), "none");
    ASSERT_TRUE(settings::WriteProfileString(file, "s", "k", "1"));
    ASSERT_TRUE(settings::WriteProfileString(file, "s", "j", "2"));
    ASSERT_TRUE(settings::WriteProfileString(file, "s", "k", "3"));
    EXPECT_EQ(test::ReadFile(file), "[s]\r\nk=3\r\nj=2\r\n");
    ASSERT_TRUE(settings::RemoveProfileKey(file, "s", "k"));
    EXPECT_EQ(test::ReadFile(file), "[s]\r\nj=2\r\n");
    EXPECT_EQ(settings::ReadProfileString(file, "S", "J"), "2");

    EXPECT_FALSE(settings::WriteProfileString((folder / "no/p.ini").string(), "s", "k", "1"));
    fs::create_directory(folder / "dir.ini");
    EXPECT_FALSE(settings::WriteProfileString((folder / "dir.ini").string(), "s", "k", "1"));
}

TEST(ProfileFileTest, ReplaceKeepsPermissionsAndWritesThroughALink)
{
    test::TempFolder folder;
    const fs::path real = folder / "real.ini";
    const fs::path link = folder / "link.ini";
    test::WriteFile(real, "old");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("real.ini", link);

    ASSERT_TRUE(settings::ReplaceFileAtomically(link.string(), "new"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(test::ReadFile(real), "new");
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 2);
}

} // namespace
