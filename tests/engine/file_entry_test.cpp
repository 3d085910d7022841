#include "engine/base/file_entry.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace {

using engine::FileEntry;
using engine::RunOptions;

struct SplitCase {
    const char* name;
    const char* base;
    const char* ext;
};

TEST(SplitFileNameTest, SplitsAtTheLastDotOnly)
{
    const SplitCase cases[] = {
        {"IMGP0001.JPG", "IMGP0001", ".JPG"},
        {"archive.tar.gz", "archive.tar", ".gz"},
        {"README", "README", ""},
        {".profile", ".profile", ""},
        {"name.", "name", "."},
        {"", "", ""},
        {"a.b", "a", ".b"},
        {"..x", ".", ".x"},
    };
    for (const auto& c : cases) {
        std::string base, ext;
        engine::SplitFileName(c.name, base, ext);
        EXPECT_EQ(base, c.base) << c.name;
        EXPECT_EQ(ext, c.ext) << c.name;
    }
}

TEST(LowerTextTest, LowersEveryUpperCaseLetterAndKeepsOtherBytes)
{
    EXPECT_EQ(engine::LowerText("IMG_0001.JPG"), "img_0001.jpg");
    EXPECT_EQ(engine::LowerText("ÄBC"), "äbc");
    EXPECT_EQ(engine::LowerText("ＩＭＧ"), "ｉｍｇ");
    EXPECT_EQ(engine::LowerText("ΑΒΓ Ж"), "αβγ ж");
    EXPECT_EQ(engine::LowerText("写真ABC"), "写真abc");
    // Invalid UTF-8 passes through unchanged, byte for byte.
    EXPECT_EQ(engine::LowerText("A\xff\xc3Z"), "a\xff\xc3z");
}

TEST(FileEntryTest, NameFieldsFollowTheCaseOptions)
{
    FileEntry e;
    RunOptions o;
    o.FileNameCase = 1;
    engine::SetNameFields(e, "IMGP0001.JPG", o);
    EXPECT_EQ(e.BaseName, "imgp0001");
    EXPECT_EQ(e.Extension, ".JPG");
    for (std::int16_t extCase : {1, 2}) {
        o.ExtCase = extCase;
        engine::SetNameFields(e, "IMGP0001.JPG", o);
        EXPECT_EQ(e.Extension, ".jpg");
    }
    o.FileNameCase = 0;
    o.ExtCase = 3; // only 1 and 2 lower
    engine::SetNameFields(e, "IMGP0001.JPG", o);
    EXPECT_EQ(e.BaseName, "IMGP0001");
    EXPECT_EQ(e.Extension, ".JPG");
}

TEST(FileEntryTest, DateFieldsAreFixedWidthTexts)
{
    FileEntry e;
    std::tm t{};
    t.tm_year = 2004 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = 3;
    t.tm_min = 4;
    t.tm_sec = 5;
    engine::SetDateFields(e, t);
    e.BaseName = "imgp0001";
    e.Extension = ".jpg";
    engine::BuildKeys(e);
    EXPECT_EQ(e.Year4, "2004");
    EXPECT_EQ(e.Year2, "04");
    EXPECT_EQ(e.Month, "01");
    EXPECT_EQ(e.Day, "05");
    EXPECT_EQ(e.Hour, "03");
    EXPECT_EQ(e.Minute, "04");
    EXPECT_EQ(e.Second, "05");
    EXPECT_EQ(e.DateKey, "20040105");
    EXPECT_EQ(e.SortKey, "20040105030405imgp0001.jpg");
}

TEST(FileEntryTest, DateFieldsComeFromTheModificationTimeInLocalTime)
{
    test::TempFolder dir;
    const auto file = dir / "a.txt";
    test::WriteFile(file, "x");
    test::SetLocalMTime(file, 2002, 4, 26, 23, 59, 58);
    FileEntry e;
    ASSERT_FALSE(engine::SetDateFieldsFromFileTime(e, file.string()));
    EXPECT_EQ(e.Year4 + e.Month + e.Day + e.Hour + e.Minute + e.Second, "20020426235958");

    EXPECT_TRUE(engine::SetDateFieldsFromFileTime(e, (dir / "missing").string()));
}

} // namespace
