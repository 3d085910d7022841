#include "engine/companions.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "engine/base/path_text.h"
#include "engine/dating/date_source.h"
#include "engine/run_records.h"

namespace engine {

namespace {

bool IsExtensionPart(std::string_view text)
{
    if (text.size() < 2 || text.size() > 6 || text[0] != '.')
        return false;
    return std::all_of(text.begin() + 1, text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
}

bool IsXmp(std::string_view extension)
{
    return extension.size() == 4 && extension[0] == '.' &&
           std::equal(extension.begin() + 1, extension.end(), "xmp",
                      [](char c, char x) { return c == x || c == x - 'a' + 'A'; });
}

// Where the base name of a bare file name ends, as SplitFileName splits it, and, for a sidecar
// named after its whole picture, where the picture's base name ends.
struct NameParts {
    std::size_t base;  // the dot of the extension, or the name's size
    std::size_t group; // the dot of the inner extension, or base
};

NameParts PartsOf(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    NameParts parts{name.size(), name.size()};
    if (dot == std::string_view::npos || dot == 0)
        return parts;
    parts.base = parts.group = dot;
    if (!IsXmp(name.substr(dot)))
        return parts;
    const std::size_t inner = name.rfind('.', dot - 1);
    if (inner != std::string_view::npos && inner != 0 &&
        IsExtensionPart(name.substr(inner, dot - inner)))
        parts.group = inner;
    return parts;
}

// Content dates before name dates before file times.
int Rank(DateFrom from)
{
    return from == DateFrom::File ? 0 : from == DateFrom::Name ? 1 : 2;
}

auto DateOrder(const FileEntry& e)
{
    // Year4 has no leading zeros: a shorter year is an earlier one.
    return std::tie(e.Year4, e.Month, e.Day, e.Hour, e.Minute, e.Second);
}

bool Earlier(const FileEntry& a, const FileEntry& b)
{
    if (a.Year4.size() != b.Year4.size())
        return a.Year4.size() < b.Year4.size();
    return DateOrder(a) < DateOrder(b);
}

// Joins the group whose records are members (at least two, in listing order).
void Join(RecordTable& records, const std::vector<std::size_t>& members, const RunOptions& options)
{
    FileEntry best, entry;
    std::uint8_t bestTag = 0;
    std::string camera;
    bool first = true;
    for (const std::size_t i : members) {
        records.Get(i, entry);
        const std::uint8_t tag = records.Tag(i);
        const int rank = Rank(static_cast<DateFrom>(tag));
        const int bestRank = Rank(static_cast<DateFrom>(bestTag));
        if (first || rank > bestRank || (rank == bestRank && Earlier(entry, best))) {
            best = entry;
            bestTag = tag;
        }
        if (camera.empty())
            camera = entry.CameraModel;
        first = false;
    }
    if (!best.CameraModel.empty())
        camera = best.CameraModel;
    for (const std::size_t i : members) {
        records.Get(i, entry);
        CopyDateFields(best, entry);
        entry.CameraModel = camera;
        SetCompanionNameFields(entry, NameOfPath(records.ListedName(i)), options);
        records.Replace(i, entry, bestTag);
    }
}

} // namespace

std::string_view CompanionKey(std::string_view listed)
{
    const std::size_t start = listed.rfind('/') + 1; // npos + 1 is 0
    return listed.substr(0, start + PartsOf(listed.substr(start)).group);
}

void SetCompanionNameFields(FileEntry& entry, std::string_view name, const RunOptions& options)
{
    SetNameFields(entry, name, options);
    const NameParts parts = PartsOf(name);
    if (parts.group == parts.base)
        return;
    std::string inner(name.substr(parts.group, parts.base - parts.group));
    if (options.ExtCase == 1 || options.ExtCase == 2)
        inner = LowerText(inner);
    entry.Extension.insert(0, inner);
    entry.BaseName.assign(name.substr(0, parts.group));
    if (options.FileNameCase == 1)
        entry.BaseName = LowerText(entry.BaseName);
}

void JoinCompanions(RecordTable& records, const RunOptions& options)
{
    const std::size_t n = records.Size();
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto key = [&](std::size_t i) { return CompanionKey(records.ListedName(i)); };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
    // The listed names stay where they are while records are replaced: the keys stay valid.
    std::vector<std::size_t> members;
    for (std::size_t a = 0; a < n;) {
        const std::string_view groupKey = key(order[a]);
        members.assign(1, order[a]);
        while (++a < n && key(order[a]) == groupKey)
            members.push_back(order[a]);
        if (members.size() >= 2)
            Join(records, members, options);
    }
}

} // namespace engine
