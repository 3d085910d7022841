// The small parts under the undo journal and the card options: the hash, the JSON lines, the
// folder templates and the journal file itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/content_hash.h"
#include "engine/folder_template.h"
#include "engine/journal.h"
#include "engine/json_line.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(ContentHashTest, KnownVectors)
{
    struct Case {
        std::string input;
        std::uint64_t seed, hash;
    };
    const Case cases[] = {
        {"", 0, 0xEF46DB3751D8E999ULL},
        {"a", 0, 0xD24EC4F1A98C6E5BULL},
        {"abc", 0, 0x44BC2CF5AD770999ULL},
        {"ABC", 0, 0xE66AE7354FCFEE98ULL},
        {"xxhash", 0, 0x32DD38952C4BC720ULL},
        {"foo", 0, 3728699739546630719ULL},
        {"", 0x1234567890ABCDEFULL, 0xA2F5C44D0F46C872ULL},
        // 71 bytes: the four-lane part and every tail step.
        {"This code is derived from software contributed to The DragonFly Project",
         0x4D617474446C6C6EULL, 0x103C241EEDDC8D32ULL},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(engine::HashBytes(c.input, c.seed), c.hash) << c.input;
        // Any split of the input gives the same hash.
        for (std::size_t cut = 0; cut <= c.input.size(); cut += 7) {
            engine::ContentHash pieces(c.seed);
            pieces.Update(c.input.data(), cut);
            pieces.Update(c.input.data() + cut, c.input.size() - cut);
            EXPECT_EQ(pieces.Digest(), c.hash) << c.input << " cut " << cut;
        }
    }
}

TEST(ContentHashTest, HexRoundTripAndSampleCoversSizeHeadAndTail)
{
    std::uint64_t back = 0;
    EXPECT_EQ(engine::HashHex(0x0123456789ABCDEFULL), "0123456789abcdef");
    EXPECT_TRUE(engine::HashFromHex("0123456789abcdef", back));
    EXPECT_EQ(back, 0x0123456789ABCDEFULL);
    for (const char* bad : {"", "0123456789ABCDEF", "0123456789abcde", "0123456789abcdefg"})
        EXPECT_FALSE(engine::HashFromHex(bad, back)) << bad;

    test::TempFolder dir;
    const auto hashOf = [&](const std::string& bytes) {
        test::WriteFile(dir / "f", bytes);
        const int fd = ::open((dir / "f").c_str(), O_RDONLY);
        std::uint64_t hash = 0;
        EXPECT_TRUE(engine::SampleHash(fd, bytes.size(), hash));
        ::close(fd);
        return hash;
    };
    const std::string big(300 * 1024, 'x');
    const std::uint64_t base = hashOf(big);
    std::string head = big, tail = big, longer = big + "x";
    head[10] = 'y';
    tail[big.size() - 10] = 'y';
    EXPECT_NE(hashOf(head), base);
    EXPECT_NE(hashOf(tail), base);
    EXPECT_NE(hashOf(longer), base);
    std::string small = "small file";
    const std::uint64_t smallHash = hashOf(small);
    small[5] = 'F';
    EXPECT_NE(hashOf(small), smallHash); // a small file is hashed whole
}

TEST(JsonLineTest, WritesAndReadsBackAnyBytes)
{
    const std::string names[] = {"plain.jpg",
                                 "写真 2024.JPG",
                                 std::string("bad\xff\xfe utf8"),
                                 "quote\" back\\slash",
                                 std::string("ctl\t\n\r\x01\x7f", 9),
                                 std::string("nul\0in", 6),
                                 "emoji 📷"};
    for (const std::string& name : names) {
        const std::string text = engine::JsonLine()
                                     .Add("name", name)
                                     .Add("n", std::int64_t{-42})
                                     .AddUnsigned("big", UINT64_MAX)
                                     .AddBool("on", true)
                                     .Text();
        ASSERT_EQ(text.back(), '\n');
        EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line";
        const auto object = engine::ParseJsonLine(text.substr(0, text.size() - 1));
        ASSERT_TRUE(object) << text;
        EXPECT_EQ(object->GetString("name"), name);
        EXPECT_EQ(object->GetInt("n"), -42);
        EXPECT_EQ(object->GetUnsigned("big"), UINT64_MAX);
        EXPECT_EQ(object->GetBool("on"), true);
        EXPECT_FALSE(object->GetString("n"));
        EXPECT_FALSE(object->GetInt("big")); // does not fit
    }
}

TEST(JsonLineTest, RefusesWhatItDoesNotWrite)
{
    const std::string refused[] = {
        "",
        "{",
        "{\"a\":1",
        "{\"a\":1}x",
        "{\"a\":{}}",
        "{\"a\":[1]}",
        "{\"a\":1.5}",
        "{\"a\":1e3}",
        "{\"a\":01}",
        "{\"a\":-}",
        "{\"a\":123456789012345678901}",
        "{\"a\":\"\\x\"}",
        "{\"a\":\"\\ud800\"}",
        "{\"a\":\"\\udc00\"}",
        "{\"a\":\"tab\there\"}",
        "{\"a\" 1}",
        "{a:1}",
        "[1]",
        "{\"a\":tru}",
        std::string(engine::kMaxJsonLine + 1, ' '),
    };
    for (const std::string& line : refused)
        EXPECT_FALSE(engine::ParseJsonLine(line)) << line;
    std::string many = "{";
    for (std::size_t i = 0; i <= engine::kMaxJsonMembers; ++i)
        many += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":1";
    EXPECT_FALSE(engine::ParseJsonLine(many + "}"));
    const auto spaced =
        engine::ParseJsonLine(" { \"a\" : \"\\u00e9\\ud83d\\udcf7\" , \"b\":null } ");
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->GetString("a"), "\xc3\xa9\xf0\x9f\x93\xb7");
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

TEST(JournalTest, KeepsEveryCompleteLineAndDropsATornOne)
{
    test::TempFolder dir;
    const std::string folder = (dir / "state/velmora/journal").string();
    engine::JournalWriter writer;
    writer.Start(folder, "/src", "/dest", true);
    EXPECT_EQ(writer.Path(), ""); // nothing stored, no file
    engine::JournalEntry entry;
    entry.op = engine::JournalEntry::Op::Move;
    entry.source = "/src/a\xff.jpg";
    entry.dest = "/dest/2024/a\xff.jpg";
    entry.stored.size = 12;
    entry.stored.inode = 77;
    entry.stored.modified = {1710498923, 5};
    EXPECT_FALSE(writer.FolderMade("/dest/2024"));
    EXPECT_FALSE(writer.Stored(entry));
    entry.op = engine::JournalEntry::Op::Copy;
    entry.hashed = true;
    entry.hash = 0xFEDCBA9876543210ULL;
    EXPECT_FALSE(writer.Stored(entry));
    EXPECT_FALSE(writer.Flush());
    ASSERT_NE(writer.Path(), "");
    EXPECT_EQ(engine::NewestJournal(folder), writer.Path());

    // A kill in the middle of a line.
    const std::string text = test::ReadFile(writer.Path());
    test::WriteFile(writer.Path(), text + "{\"op\":\"copy\",\"sour");
    engine::Journal journal;
    std::error_code error;
    ASSERT_TRUE(engine::ReadJournal(writer.Path(), journal, error)) << error.message();
    EXPECT_EQ(journal.base, "/dest");
    EXPECT_TRUE(journal.move);
    EXPECT_EQ(journal.folders, std::vector<std::string>{"/dest/2024"});
    ASSERT_EQ(journal.entries.size(), 2u);
    EXPECT_EQ(journal.entries[0].op, engine::JournalEntry::Op::Move);
    EXPECT_EQ(journal.entries[0].source, entry.source);
    EXPECT_EQ(journal.entries[0].stored.modified.tv_nsec, 5);
    EXPECT_FALSE(journal.entries[0].hashed);
    EXPECT_EQ(journal.entries[1].hash, entry.hash);
    EXPECT_EQ(journal.damagedLines, 0u);

    // The undo mark ends the torn line first; a complete undo hides the journal from "newest".
    EXPECT_FALSE(engine::MarkJournalUndone(writer.Path(), true));
    ASSERT_TRUE(engine::ReadJournal(writer.Path(), journal, error));
    EXPECT_TRUE(journal.undone);
    EXPECT_EQ(journal.damagedLines, 1u);
    EXPECT_EQ(engine::NewestJournal(folder), "");
}

TEST(JournalTest, RefusesWhatIsNoJournal)
{
    test::TempFolder dir;
    engine::Journal journal;
    std::error_code error;
    for (const char* text : {"", "{\"velmora\":\"journal\",\"version\":2}\n", "not json\n",
                             "{\"velmora\":\"journal\",\"version\":1}"}) {
        test::WriteFile(dir / "j.jsonl", text);
        EXPECT_FALSE(engine::ReadJournal((dir / "j.jsonl").string(), journal, error)) << text;
    }
    EXPECT_FALSE(engine::ReadJournal((dir / "missing").string(), journal, error));
}

} // namespace
