#include "engine/naming/naming.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using engine::DestPath;
using engine::FileEntry;
using engine::RunOptions;

// A picture of 2002-04-26 10:35:23 named IMGFILE.jpg.
FileEntry Picture(const std::string& listedName = "IMGFILE.jpg", const std::string& day = "26")
{
    FileEntry e;
    engine::SetNameFields(e, listedName, RunOptions{});
    e.Year4 = "2002";
    e.Year2 = "02";
    e.Month = "04";
    e.Day = day;
    e.Hour = "10";
    e.Minute = "35";
    e.Second = "23";
    engine::BuildKeys(e);
    return e;
}

RunOptions Options(std::int16_t suffix = 0, std::int16_t yyyy = 0)
{
    RunOptions o;
    o.Suffix = suffix;
    o.YYYY = yyyy;
    return o;
}

// The bare name of a resolved path in folder.
std::string NameIn(const test::TempFolder& folder, const DestPath& dest)
{
    EXPECT_FALSE(dest.overflow);
    const std::string prefix = folder.str() + "/";
    EXPECT_EQ(dest.path.substr(0, prefix.size()), prefix);
    return dest.path.substr(prefix.size());
}

void Touch(const fs::path& path)
{
    test::WriteFile(path, "");
}

TEST(SuffixTextTest, NumberedFormPadsAndRaisesTheWidth)
{
    struct Case {
        long number;
        int width;
        const char* text;
        int widthAfter;
    };
    const Case cases[] = {
        {7, 3, "007", 3},
        {999, 3, "999", 3},
        {1, 4, "0001", 4},
        {42, 4, "0042", 4},
        {9999, 4, "9999", 4},
        {10000, 4, "10000", 5},
        {12345, 4, "12345", 5},
        {40000, 4, "40000", 5}, // beyond 16 bits
        {1234567, 3, "1234567", 7},
        {5, 11, "00000000005", 11},
        {5, 15, "00000000005", 15}, // at most ten zeros in front
        {123, 20, "0000000000123", 20},
    };
    for (const Case& c : cases) {
        int width = c.width;
        EXPECT_EQ(engine::SuffixText(c.number, width), c.text) << c.number << " width " << c.width;
        EXPECT_EQ(width, c.widthAfter) << c.number << " width " << c.width;
    }
}

TEST(SuffixTextTest, LetteredFormCarriesWithTildes)
{
    const std::pair<long, std::string> cases[] = {
        {1, "a"},   {2, "b"},   {26, "z"},
        {27, "~a"}, {52, "~z"}, {53, "~~a"},
        {0, "_"},   {-3, "_"},  {999, std::string(38, '~') + "k"},
    };
    for (const auto& [number, text] : cases) {
        int width = 0;
        EXPECT_EQ(engine::SuffixText(number, width), text) << number;
        EXPECT_EQ(width, 0) << number;
    }
}

// Runs the counter over records as the run does: spare empty record after the last one.
std::vector<long> Serials(std::vector<FileEntry> records)
{
    records.push_back(FileEntry{});
    engine::SerialCounter counter;
    std::vector<long> out;
    for (std::size_t i = 0; i + 1 < records.size(); ++i) {
        out.push_back(counter.BeforeFile(i == 0 ? nullptr : &records[i - 1], records[i]));
        EXPECT_EQ(counter.Value(), out.back());
        counter.AfterFile(records[i], records[i + 1]);
    }
    return out;
}

TEST(SerialCounterTest, NeighboursWithOneBaseNameShareANumberAndEachDayStartsAtOne)
{
    EXPECT_EQ(
        Serials({Picture("A.JPG"), Picture("A.WAV"), Picture("B.JPG"), Picture("C.JPG", "27")}),
        (std::vector<long>{1, 1, 2, 1}));
    // Same base name on two days: the second day still starts at 1.
    EXPECT_EQ(Serials({Picture("A.JPG"), Picture("A.WAV", "27"), Picture("B.JPG", "27")}),
              (std::vector<long>{1, 1, 2}));
    // Not neighbours: no sharing.
    EXPECT_EQ(Serials({Picture("A.JPG"), Picture("B.JPG"), Picture("A.WAV")}),
              (std::vector<long>{1, 2, 3}));
    // Case counts: a.JPG and A.WAV are different base names.
    EXPECT_EQ(Serials({Picture("a.JPG"), Picture("A.WAV")}), (std::vector<long>{1, 2}));
}

TEST(SerialCounterTest, MoreThan32767FilesOfOneDayNumberOn)
{
    const FileEntry a = Picture("A.JPG");
    const FileEntry b = Picture("B.JPG");
    engine::SerialCounter counter;
    long value = 0;
    for (long i = 1; i <= 40000; ++i) {
        value = counter.BeforeFile(i == 1 ? nullptr : ((i % 2) ? &b : &a), (i % 2) ? a : b);
        ASSERT_EQ(value, i);
        if (i == 10000) {
            EXPECT_EQ(engine::NameStem(a, 4, 0, value), "02042610000");
        }
        counter.AfterFile((i % 2) ? a : b, (i % 2) ? b : a);
    }
    EXPECT_EQ(engine::NameStem(a, 4, 4, value), "2002042640000");
}

TEST(NameStemTest, EachRenamePatternWithAndWithoutFourDigitYear)
{
    struct Case {
        int pattern;
        const char* yyyyOff;
        const char* yyyyOn;
    };
    const Case cases[] = {
        {1, "IMGFILE.jpg", "IMGFILE.jpg"},         {2, "020426IMGFILE.jpg", "20020426IMGFILE.jpg"},
        {3, "0426IMGFILE.jpg", "0426IMGFILE.jpg"}, {4, "0204260001.jpg", "200204260001.jpg"},
        {5, "0426103523.jpg", "0426103523.jpg"},   {6, "0204261035.jpg", "200204261035.jpg"},
    };
    const FileEntry e = Picture();
    for (const Case& c : cases) {
        EXPECT_EQ(engine::NameStem(e, c.pattern, 0, 1) + engine::NameTail(e), c.yyyyOff)
            << c.pattern;
        EXPECT_EQ(engine::NameStem(e, c.pattern, 4, 1) + engine::NameTail(e), c.yyyyOn)
            << c.pattern;
    }
    EXPECT_EQ(engine::NameStem(e, 4, 0, 42), "0204260042");
}

TEST(MakeDestFilePathTest, NamesFollowTheSplitOfTheSourceName)
{
    test::TempFolder folder;
    const struct {
        const char* listed;
        int pattern;
        const char* name;
    } cases[] = {
        {"README", 5, "0426103523"},
        {"archive.tar.gz", 3, "0426archive.tar.gz"},
        {".profile", 2, "020426.profile"},
        {"name.", 1, "name."},
    };
    for (const auto& c : cases) {
        const DestPath dest =
            engine::MakeDestFilePath(Picture(c.listed), folder.str(), c.pattern, 1, Options());
        EXPECT_EQ(NameIn(folder, dest), c.name) << c.listed;
    }
}

TEST(MakeDestFilePathTest, ModelTagIsPartOfTheTestedNameAndFollowsTheSuffix)
{
    FileEntry e = Picture();
    e.CameraModel = "[ABC]";
    // Every pattern tests the tagged name first.
    for (int pattern = 1; pattern <= 6; ++pattern) {
        std::vector<std::string> asked;
        const auto spy = [&](const std::string&, const std::string& name) {
            asked.push_back(name);
            return false;
        };
        const DestPath dest = engine::MakeDestFilePath(e, "/x", pattern, 1, Options(), spy);
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0], engine::NameStem(e, pattern, 0, 1) + "[ABC].jpg");
        EXPECT_EQ(dest.path, "/x/" + asked[0]);
    }

    test::TempFolder folder;
    Touch(folder / "0426103523.jpg"); // the untagged name does not clash
    EXPECT_EQ(NameIn(folder, engine::MakeDestFilePath(e, folder.str(), 5, 1, Options())),
              "0426103523[ABC].jpg");
    Touch(folder / "IMGFILE[ABC].jpg");
    EXPECT_EQ(NameIn(folder, engine::MakeDestFilePath(e, folder.str(), 1, 1, Options())),
              "IMGFILE[001][ABC].jpg");
    EXPECT_EQ(NameIn(folder, engine::MakeDestFilePath(e, folder.str(), 1, 1, Options(1))),
              "IMGFILEa[ABC].jpg");
}

TEST(ResolveDestNameTest, AnyEntryOfThePlainNameIsAClash)
{
    const struct {
        const char* kind;
        const char* plain;
        void (*make)(const fs::path&);
    } cases[] = {
        {"file", "IMGFILE.jpg", [](const fs::path& p) { Touch(p); }},
        {"folder", "IMGFILE.jpg", [](const fs::path& p) { fs::create_directory(p); }},
        {"hidden file", ".IMGFILE.jpg", [](const fs::path& p) { Touch(p); }},
        {"dangling link", "IMGFILE.jpg",
         [](const fs::path& p) { fs::create_symlink(p.parent_path() / "nowhere", p); }},
        {"link to folder", "IMGFILE.jpg",
         [](const fs::path& p) { fs::create_directory_symlink(p.parent_path(), p); }},
    };
    for (const auto& c : cases) {
        for (std::int16_t style : {0, 1, 7}) {
            test::TempFolder folder;
            c.make(folder / c.plain);
            const std::string stem =
                std::string(c.plain).substr(0, std::string(c.plain).size() - 4);
            const DestPath dest = engine::ResolveDestName(folder.str(), stem, ".jpg", style);
            EXPECT_EQ(NameIn(folder, dest), stem + (style == 0 ? "[001]" : "a") + ".jpg")
                << c.kind << " style " << style;
        }
    }
}

TEST(ResolveDestNameTest, FirstFreeSuffixWinsAndEveryTestIsAskedAnew)
{
    test::TempFolder folder;
    const auto resolve = [&](std::int16_t style) {
        return NameIn(folder, engine::ResolveDestName(folder.str(), "IMGFILE", ".jpg", style));
    };
    EXPECT_EQ(resolve(0), "IMGFILE.jpg");
    Touch(folder / "IMGFILE.jpg");
    EXPECT_EQ(resolve(0), "IMGFILE[001].jpg");
    EXPECT_EQ(resolve(1), "IMGFILEa.jpg");
    Touch(folder / "IMGFILE[001].jpg");
    Touch(folder / "IMGFILEa.jpg");
    EXPECT_EQ(resolve(0), "IMGFILE[002].jpg");
    EXPECT_EQ(resolve(1), "IMGFILEb.jpg");
    // A gap is filled before higher numbers are used.
    Touch(folder / "IMGFILE[003].jpg");
    fs::remove(folder / "IMGFILE[001].jpg");
    EXPECT_EQ(resolve(0), "IMGFILE[001].jpg");

    // Two shots of the same second, stored one after the other.
    test::TempFolder run;
    for (const char* expected : {"0426103523.jpg", "0426103523[001].jpg", "0426103523[002].jpg"}) {
        const DestPath dest = engine::MakeDestFilePath(Picture(), run.str(), 5, 1, Options());
        EXPECT_EQ(NameIn(run, dest), expected);
        Touch(dest.path);
    }
}

TEST(ResolveDestNameTest, NumberedSuffixesRunTo999ThenOverflow)
{
    test::TempFolder folder;
    Touch(folder / "IMGFILE.jpg");
    for (int n = 1; n <= 998; ++n) {
        int width = 3;
        Touch(folder / ("IMGFILE[" + engine::SuffixText(n, width) + "].jpg"));
    }
    EXPECT_EQ(NameIn(folder, engine::ResolveDestName(folder.str(), "IMGFILE", ".jpg", 0)),
              "IMGFILE[999].jpg");
    Touch(folder / "IMGFILE[999].jpg");
    const DestPath dest = engine::ResolveDestName(folder.str(), "IMGFILE", ".jpg", 0);
    EXPECT_TRUE(dest.overflow);
    EXPECT_TRUE(dest.path.empty());
    // Letters are still free, so the other style resolves.
    EXPECT_EQ(NameIn(folder, engine::ResolveDestName(folder.str(), "IMGFILE", ".jpg", 1)),
              "IMGFILEa.jpg");
}

TEST(ResolveDestNameTest, LetteredSuffixesCarryAt27AndOverflowAfter999)
{
    test::TempFolder folder;
    Touch(folder / "IMGFILE.jpg");
    for (char c = 'a'; c <= 'z'; ++c)
        Touch(folder / (std::string("IMGFILE") + c + ".jpg"));
    EXPECT_EQ(NameIn(folder, engine::ResolveDestName(folder.str(), "IMGFILE", ".jpg", 1)),
              "IMGFILE~a.jpg");
    for (int n = 27; n <= 998; ++n) {
        int width = 0;
        Touch(folder / ("IMGFILE" + engine::SuffixText(n, width) + ".jpg"));
    }
    EXPECT_EQ(NameIn(folder, engine::ResolveDestName(folder.str(), "IMGFILE", ".jpg", 1)),
              "IMGFILE" + std::string(38, '~') + "k.jpg");
    Touch(folder / ("IMGFILE" + std::string(38, '~') + "k.jpg"));
    EXPECT_TRUE(engine::ResolveDestName(folder.str(), "IMGFILE", ".jpg", 1).overflow);

    // The predicate is asked 1000 times, once per candidate, and the overflow is final.
    int asked = 0;
    const DestPath dest = engine::ResolveDestName("/x", "S", ".jpg", 0, [&](auto&, auto&) {
        ++asked;
        return true;
    });
    EXPECT_TRUE(dest.overflow);
    EXPECT_EQ(asked, 1000);
}

TEST(NameTakenTest, OnlyAnExistingEntryIsTaken)
{
    test::TempFolder folder;
    Touch(folder / "file");
    EXPECT_TRUE(engine::NameTaken(folder.str(), "file"));
    EXPECT_FALSE(engine::NameTaken(folder.str(), "other"));
    EXPECT_FALSE(engine::NameTaken((folder / "missing").string(), "file"));
    EXPECT_FALSE(engine::NameTaken((folder / "file").string(), "x")); // not a folder
    // A name too long to exist is free, so storing under it reports the real error.
    EXPECT_FALSE(engine::NameTaken(folder.str(), std::string(300, 'n')));
}

} // namespace
