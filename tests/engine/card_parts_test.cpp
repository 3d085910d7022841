// The small parts under the run history and the card options: the content hash, the JSON
// lines and the folder templates.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/json_line.h"
#include "engine/naming/folder_template.h"
#include "engine/storing/content_hash.h"
#include "tests/support/temp_folder.h"

namespace {

// The history's hash covers every byte of a file, whatever pieces it is fed in.
TEST(ContentHashTest, CoversTheWholeContentInAnyPieces)
{
    test::TempFolder dir;
    const auto fileHash = [&](const std::string& bytes) {
        test::WriteFile(dir / "f", bytes);
        const int fd = ::open((dir / "f").c_str(), O_RDONLY);
        std::uint64_t hash = 0;
        EXPECT_TRUE(engine::HashFile(fd, bytes.size(), hash));
        ::close(fd);
        return hash;
    };
    std::string big(700 * 1024 + 3, 'x'); // more than one read block
    for (std::size_t i = 0; i < big.size(); i += 97)
        big[i] = static_cast<char>(i);
    const std::uint64_t whole = engine::HashBytes(big);
    EXPECT_EQ(fileHash(big), whole);
    for (const std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{65536}, big.size()}) {
        engine::ContentHash pieces;
        pieces.Update(big.data(), cut);
        pieces.Update(big.data() + cut, big.size() - cut);
        EXPECT_EQ(pieces.Digest(), whole) << cut;
    }
    // One byte in the middle, far from head and tail, changes it.
    std::string middle = big;
    middle[big.size() / 2] ^= 1;
    EXPECT_NE(fileHash(middle), whole);
    EXPECT_NE(engine::HashBytes(""), engine::HashBytes(std::string(1, '\0')));
    // It is XXH3 (64 bits, no seed) on every processor, whatever vector unit computes it: a
    // history written by another machine or build stays checkable. Lengths across the
    // algorithm's cases (up to 16, 128, 240 bytes, one stripe block, many).
    const std::pair<std::size_t, std::uint64_t> xxh3[] = {
        {0, 0x2d06800538d394c2}, {1, 0xc44bdff4074eecdb},    {3, 0xcda65fa2c90afcc8},
        {4, 0x05d16a17aae1276c}, {8, 0x2cde858061512a75},    {9, 0x03ec6d6e4a34ce5a},
        {16, 0xa04942693d15bb6a}, {17, 0x394f1a3cf6075679},  {128, 0x93b8241a53ef64f8},
        {129, 0xc446feebc7e24275}, {240, 0x2f730087853a7f6d}, {241, 0x51a1a0d2da000fc2},
        {1024, 0x1488d4e5e5976531}, {65543, 0x0499e80d6061bbd9}, {big.size(), 0xd5653b99aa285858}};
    for (const auto& [size, expected] : xxh3) {
        EXPECT_EQ(engine::HashBytes(std::string_view(big).substr(0, size)), expected) << size;
        engine::ContentHash pieces;
        pieces.Update(big.data(), size / 3);
        pieces.Update(big.data() + size / 3, size - size / 3);
        EXPECT_EQ(pieces.Digest(), expected) << size;
    }
    // A file shorter than the size asked for cannot be hashed.
    test::WriteFile(dir / "short", "abc");
    const int fd = ::open((dir / "short").c_str(), O_RDONLY);
    std::uint64_t hash = 0;
    EXPECT_FALSE(engine::HashFile(fd, 4, hash));
    ::close(fd);
}

// Any file name becomes one line of valid JSON: bytes that are not UTF-8 as \udcXX.
TEST(JsonLineTest, WritesAnyBytesOnOneLine)
{
    const struct {
        std::string name, quoted;
    } cases[] = {
        {"plain.jpg", "\"plain.jpg\""},
        {"写真 2024.JPG", "\"写真 2024.JPG\""},
        {std::string("bad\xff\xfe utf8"), "\"bad\\udcff\\udcfe utf8\""},
        {"quote\" back\\slash", "\"quote\\\" back\\\\slash\""},
        {std::string("ctl\t\n\r\x01\x7f", 8), "\"ctl\\t\\n\\u000d\\u0001\\u007f\""},
        {std::string("nul\0in", 6), "\"nul\\u0000in\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(engine::JsonLine()
                      .Add("name", c.name)
                      .Add("n", std::int64_t{-42})
                      .AddUnsigned("big", UINT64_MAX)
                      .AddBool("on", true)
                      .AddSeconds("s", 1.5)
                      .Text(),
                  "{\"name\":" + c.quoted +
                      ",\"n\":-42,\"big\":18446744073709551615,\"on\":true,\"s\":1.500}\n")
            << c.name;
    }
}

TEST(FolderTemplateTest, ParsesTemplatesAndNamesTheirFolders)
{
    engine::FileEntry entry;
    entry.Year4 = "2024";
    entry.Year2 = "24";
    entry.Month = "03";
    entry.Day = "15";
    struct Case {
        const char* text;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"yyyy/mm/dd", {"2024", "03", "15"}},
        {"yyyy/mm", {"2024", "03"}},
        {"yyyy/yyyymmdd", {"2024", "20240315"}},
        {"yyyy-mm", {"2024-03"}},
        {"yy_mm-dd", {"24_03-15"}},
        {"yymmdd", {"240315"}},
    };
    for (const Case& c : cases) {
        std::string message;
        const auto folders = engine::ParseFolderTemplate(c.text, message);
        ASSERT_TRUE(folders) << c.text << ": " << message;
        EXPECT_EQ(engine::TemplateFolderNames(*folders, entry), c.names) << c.text;
    }
}

TEST(FolderTemplateTest, RefusesBadTemplatesWithAReason)
{
    struct Case {
        const char* text;
        const char* says;
    };
    const Case cases[] = {
        {"", "empty"},
        {"/yyyy", "begins or ends"},
        {"yyyy/", "begins or ends"},
        {"..", "unknown part"},
        {"yyyy/../mm", "unknown part \"..\""},
        {"yyyy//mm", "empty level"},
        {"yyyy/xx", "unknown part \"xx\""},
        {"y", "unknown part"},
        {"yyyy/-", "needs yyyy"},
        {"yyyy mm", "unknown part \" mm\""},
        {"yyyy\\mm", "unknown part"},
    };
    for (const Case& c : cases) {
        std::string message;
        EXPECT_FALSE(engine::ParseFolderTemplate(c.text, message)) << c.text;
        EXPECT_NE(message.find(c.says), std::string::npos) << c.text << ": " << message;
    }
}

TEST(FolderTemplateTest, FirstLevelFormTellsTheRunsOwnFolders)
{
    struct Case {
        int pattern;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {4, "240315", true},  {4, "24031", false},  {4, "2403155", false}, {4, "100CANON", false},
        {5, "24_0315", true}, {5, "240315", false}, {1, "202403", true},   {3, "20240315", true},
        {7, "2403", true},    {7, "DCIM", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(engine::HasFirstLevelForm(engine::TemplateOfPattern(c.pattern), c.name),
                  c.matches)
            << c.pattern << " " << c.name;
    std::string message;
    const auto nested = engine::ParseFolderTemplate("yyyy/mm/dd", message);
    EXPECT_TRUE(engine::HasFirstLevelForm(*nested, "2024"));
    EXPECT_FALSE(engine::HasFirstLevelForm(*nested, "03"));
}

} // namespace
