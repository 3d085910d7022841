#include "engine/run_records.h"

#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using engine::FileEntry;

FileEntry Entry(std::string base, std::string ext, std::string camera,
                std::vector<std::string> date)
{
    FileEntry e;
    e.BaseName = std::move(base);
    e.Extension = std::move(ext);
    e.CameraModel = std::move(camera);
    e.Year4 = date[0], e.Year2 = date[1], e.Month = date[2], e.Day = date[3];
    e.Hour = date[4], e.Minute = date[5], e.Second = date[6];
    engine::BuildKeys(e);
    return e;
}

// Every record comes back field for field, and the table sorts exactly as the comb sort over
// the SortKey texts does (the same exchanges, so equal keys end up in the same places).
TEST(RecordTableTest, GivesBackEachEntryAndSortsAsTheKeyTexts)
{
    const std::vector<std::string> plain = {"2023", "23", "07", "08", "22", "31", "01"};
    std::vector<std::pair<FileEntry, std::string>> cases = {
        {Entry("IMG_0001", ".JPG", "", plain), "IMG_0001.JPG"},
        {Entry("img_0001", ".jpg", "", plain), "IMG_0001.JPG"}, // lowered
        {Entry("IMG_0001", ".jpg", "[Z 10]", plain), "DCIM/IMG_0001.JPG"},
        {Entry("README", "", "", plain), "README"},
        {Entry(".profile", "", "", plain), ".profile"},
        {Entry("x", ".y", "", {"999", "99", "01", "02", "03", "04", "05"}), "x.y"},
        {Entry("x", ".y", "", {"10000", "00", "01", "02", "03", "04", "05"}), "x.y"},
        {Entry("x", ".y", "", {"2023", "24", "07", "08", "22", "31", "01"}), "x.y"},
        {Entry("x", ".y", "", {"2O23", "23", "07", "08", "22", "31", "01"}), "x.y"},
        {Entry("x", ".y", "", {"2023", "23", "7", "08", "22", "31", "01"}), "x.y"},
        {Entry(std::string(70000, 'b'), ".e", std::string(70000, 'c'), plain), "q"},
        {Entry("\xC3\xA9", ".\xFF", "", {"1999", "99", "12", "31", "23", "59", "59"}),
         "\xC3\xA9.\xFF"},
    };
    // Many more, with few distinct keys, so that equal keys meet in the sort.
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        std::vector<std::string> date = plain;
        date[3] = "0" + std::to_string(1 + random() % 3);
        date[5] = std::to_string(10 + random() % 2);
        if (random() % 50 == 0)
            date[0] = "99", date[1] = "99";
        const std::string base = "IMG_" + std::to_string(random() % 20);
        cases.push_back({Entry(base, random() % 2 ? ".JPG" : ".MOV", "", date),
                         "DCIM/" + base + "/" + std::to_string(i)});
    }

    engine::RecordTable table;
    table.Reserve(cases.size());
    for (const auto& [entry, listed] : cases)
        table.Add(entry, listed);
    ASSERT_EQ(table.Size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        FileEntry back;
        back.SortKey = "stale";
        table.Get(i, back);
        const FileEntry& e = cases[i].first;
        const std::vector<std::string> got = {back.BaseName, back.Extension, back.CameraModel,
                                              back.Year4,    back.Year2,     back.Month,
                                              back.Day,      back.Hour,      back.Minute,
                                              back.Second,   back.SortKey,   back.DateKey};
        const std::vector<std::string> want = {e.BaseName, e.Extension, e.CameraModel, e.Year4,
                                               e.Year2,    e.Month,     e.Day,         e.Hour,
                                               e.Minute,   e.Second,    e.SortKey,     e.DateKey};
        ASSERT_EQ(got, want) << i;
        ASSERT_EQ(table.ListedName(i), cases[i].second) << i;
    }

    // The reference: the comb sort on the key texts, carrying each record's listed name.
    std::vector<std::pair<std::string, std::size_t>> items;
    for (std::size_t i = 0; i < cases.size(); ++i)
        items.emplace_back(cases[i].first.SortKey, i);
    for (std::size_t gap = items.size();;) {
        gap = static_cast<std::size_t>(static_cast<double>(gap) / 1.3);
        gap = gap <= 1 ? 1 : gap;
        std::size_t exchanges = 0;
        for (std::size_t i = 0; i + gap < items.size(); ++i) {
            if (items[i].first > items[i + gap].first) {
                std::swap(items[i], items[i + gap]);
                ++exchanges;
            }
        }
        if (gap == 1 && exchanges == 0)
            break;
    }
    table.CombSort();
    for (std::size_t i = 0; i < items.size(); ++i) {
        ASSERT_EQ(table.ListedName(i), cases[items[i].second].second) << i;
        FileEntry back;
        table.Get(i, back);
        ASSERT_EQ(back.SortKey, items[i].first) << i;
    }
}

TEST(PathSetTest, HoldsExactlyThePathsInserted)
{
    const std::vector<std::string> paths = {"/a/b/IMG.JPG",
                                            "/a/b/img.jpg",
                                            "/a/c/IMG.JPG",
                                            "/IMG.JPG",
                                            "IMG.JPG",
                                            "/a/b/",
                                            "/a/b",
                                            "/a/b/IMG.JPG/x",
                                            "",
                                            "/a/b/" + std::string(300, 'n')};
    engine::PathSet set;
    std::set<std::string> reference;
    std::mt19937 random(3);
    for (int i = 0; i < 20000; ++i) {
        std::string path =
            i < 10 ? paths[static_cast<std::size_t>(i)]
                   : "/d/" + std::to_string(random() % 40) + "/f" + std::to_string(random() % 2000);
        if (i == 5000)
            set.Reserve(30000); // a reserve on the way keeps what is there
        ASSERT_EQ(set.Insert(path), reference.insert(path).second) << path;
        const std::string probe =
            "/d/" + std::to_string(random() % 41) + "/f" + std::to_string(random() % 2100);
        ASSERT_EQ(set.Contains(probe), reference.count(probe) != 0) << probe;
    }
    for (const std::string& path : paths)
        EXPECT_TRUE(set.Contains(path)) << path;
    EXPECT_FALSE(set.Contains("/a/b/IMG.JP"));
    EXPECT_FALSE(set.Contains("/a/IMG.JPG"));
}

} // namespace
