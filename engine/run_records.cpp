#include "engine/run_records.h"

#include <cstring>
#include <functional>
#include <utility>

#include "engine/companions.h"

namespace engine {

// A new field of FileEntry must be packed and unpacked by RecordTable; this fails to compile
// until its size is accounted for here.
static_assert(sizeof(FileEntry) == 12 * sizeof(std::string),
              "RecordTable packs every field of FileEntry: add the new one to Add and Get");

char* TextArena::Allocate(std::size_t size, std::uint64_t& position)
{
    constexpr std::size_t kBlock = std::size_t{1} << kBlockBits;
    if (size > kBlock - used_) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size > kBlock ? size : kBlock));
        used_ = 0;
    }
    position = (static_cast<std::uint64_t>(blocks_.size() - 1) << kBlockBits) | used_;
    char* at = blocks_.back().get() + used_;
    used_ += size;
    if (used_ > kBlock) // a long text's own block takes nothing more
        used_ = kBlock;
    return at;
}

namespace {

// The value of text when it is exactly width ASCII digits.
bool Digits(const std::string& text, std::size_t width, std::uint64_t& value)
{
    if (text.size() != width)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

// The date as the number YYYYMMDDhhmmss, when its texts are fixed-width digits and Year2 is
// Year4's last two: then its 14-digit text orders as the number does.
bool PackDate(const FileEntry& e, std::uint64_t& date)
{
    date = 0;
    return Digits(e.Year4, 4, date) && e.Year2.size() == 2 &&
           e.Year2.compare(0, 2, e.Year4, 2, 2) == 0 && Digits(e.Month, 2, date) &&
           Digits(e.Day, 2, date) && Digits(e.Hour, 2, date) && Digits(e.Minute, 2, date) &&
           Digits(e.Second, 2, date);
}

void PutDigits(std::string& text, std::uint64_t value, std::size_t width)
{
    text.resize(width);
    for (std::size_t i = width; i-- > 0; value /= 10)
        text[i] = static_cast<char>('0' + value % 10);
}

template <class Entry> auto* DateText(Entry& e, int i)
{
    decltype(&e.Year4)
        const texts[] = {&e.Year4, &e.Year2, &e.Month, &e.Day, &e.Hour, &e.Minute, &e.Second};
    return texts[i];
}

void PutLength(char*& at, std::size_t length)
{
    const auto value = static_cast<std::uint32_t>(length);
    std::memcpy(at, &value, sizeof value);
    at += sizeof value;
}

std::size_t TakeLength(const char*& at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
}

void Put(char*& at, std::string_view text)
{
    if (!text.empty())
        std::memcpy(at, text.data(), text.size());
    at += text.size();
}

} // namespace

void RecordTable::Add(const FileEntry& entry, std::string_view listedName, std::uint8_t tag)
{
    records_.push_back(Pack(entry, listedName, tag));
}

void RecordTable::Replace(std::size_t i, const FileEntry& entry, std::uint8_t tag)
{
    // The arena never moves what it holds: the old listed name can be copied from where it is.
    Packed record = Pack(entry, ListedName(i), tag);
    record.flags |= kCompanion;
    records_[i] = record;
}

RecordTable::Packed RecordTable::Pack(const FileEntry& entry, std::string_view listedName,
                                      std::uint8_t tag)
{
    static_assert(sizeof(Packed) == 32, "a record of a run without options stays 32 bytes");
    Packed record{};
    record.tag = tag;
    record.listedLength = static_cast<std::uint32_t>(listedName.size());
    const std::size_t nameLength = entry.BaseName.size() + entry.Extension.size();
    const bool shared =
        nameLength <= listedName.size() &&
        listedName.substr(listedName.size() - nameLength, entry.BaseName.size()) ==
            entry.BaseName &&
        listedName.substr(listedName.size() - entry.Extension.size()) == entry.Extension;
    const bool textDate = !PackDate(entry, record.date);
    const bool wide = entry.BaseName.size() > 0xFFFF || entry.Extension.size() > 0xFFFF ||
                      entry.CameraModel.size() > 0xFFFF;
    record.flags = static_cast<std::uint8_t>((shared ? 0 : kOwnName) | (textDate ? kTextDate : 0) |
                                             (wide ? kWide : 0));
    if (!wide) {
        record.baseLength = static_cast<std::uint16_t>(entry.BaseName.size());
        record.extLength = static_cast<std::uint16_t>(entry.Extension.size());
        record.cameraLength = static_cast<std::uint16_t>(entry.CameraModel.size());
    }
    std::size_t size =
        listedName.size() + (wide ? 12 : 0) + (shared ? 0 : nameLength) + entry.CameraModel.size();
    if (textDate) {
        record.date = 0;
        for (int i = 0; i < 7; ++i)
            size += 4 + DateText(entry, i)->size();
    }
    char* at = texts_.Allocate(size, record.text);
    Put(at, listedName);
    if (wide) {
        PutLength(at, entry.BaseName.size());
        PutLength(at, entry.Extension.size());
        PutLength(at, entry.CameraModel.size());
    }
    if (!shared) {
        Put(at, entry.BaseName);
        Put(at, entry.Extension);
    }
    Put(at, entry.CameraModel);
    if (textDate) {
        for (int i = 0; i < 7; ++i) {
            const std::string& text = *DateText(entry, i);
            PutLength(at, text.size());
            Put(at, text);
        }
    }
    return record;
}

std::string_view RecordTable::ListedName(std::size_t i) const
{
    const Packed& record = records_[i];
    return {texts_.At(record.text), record.listedLength};
}

RecordTable::Lengths RecordTable::LengthsOf(const Packed& record) const
{
    const char* at = texts_.At(record.text) + record.listedLength;
    if ((record.flags & kWide) == 0)
        return {record.baseLength, record.extLength, record.cameraLength, at};
    Lengths lengths{};
    lengths.base = TakeLength(at);
    lengths.ext = TakeLength(at);
    lengths.camera = TakeLength(at);
    lengths.rest = at;
    return lengths;
}

std::string_view RecordTable::Name(const Packed& record) const
{
    const Lengths lengths = LengthsOf(record);
    const std::size_t length = lengths.base + lengths.ext;
    if (record.flags & kOwnName)
        return {lengths.rest, length};
    return {texts_.At(record.text) + record.listedLength - length, length};
}

void RecordTable::Get(std::size_t i, FileEntry& entry) const
{
    Unpack(records_[i], entry);
}

void RecordTable::Unpack(const Packed& record, FileEntry& entry) const
{
    const Lengths lengths = LengthsOf(record);
    const std::string_view name = Name(record);
    entry.BaseName.assign(name.substr(0, lengths.base));
    entry.Extension.assign(name.substr(lengths.base));
    const char* at = lengths.rest + ((record.flags & kOwnName) ? name.size() : 0);
    entry.CameraModel.assign(at, lengths.camera);
    at += lengths.camera;
    if (record.flags & kTextDate) {
        for (int k = 0; k < 7; ++k) {
            const std::size_t length = TakeLength(at);
            DateText(entry, k)->assign(at, length);
            at += length;
        }
    } else {
        std::uint64_t date = record.date;
        PutDigits(entry.Second, date % 100, 2);
        PutDigits(entry.Minute, (date /= 100) % 100, 2);
        PutDigits(entry.Hour, (date /= 100) % 100, 2);
        PutDigits(entry.Day, (date /= 100) % 100, 2);
        PutDigits(entry.Month, (date /= 100) % 100, 2);
        PutDigits(entry.Year4, date / 100, 4);
        entry.Year2.assign(entry.Year4, 2, 2);
    }
    BuildKeys(entry);
}

std::string RecordTable::NameKey(const Packed& record) const
{
    if ((record.flags & kCompanion) == 0)
        return std::string(Name(record));
    std::string key(CompanionKey({texts_.At(record.text), record.listedLength}));
    key += '\0';
    key += Name(record);
    return key;
}

std::string RecordTable::SortKey(const Packed& record) const
{
    std::string key;
    if (record.flags & kTextDate) {
        FileEntry entry;
        Unpack(record, entry);
        key = entry.DateKey + entry.Hour + entry.Minute + entry.Second;
    } else {
        PutDigits(key, record.date, 14);
    }
    key += NameKey(record);
    return key;
}

int RecordTable::Compare(const Packed& a, const Packed& b) const
{
    if (((a.flags | b.flags) & kTextDate) == 0) {
        if (a.date != b.date)
            return a.date < b.date ? -1 : 1;
        if (((a.flags | b.flags) & kCompanion) == 0)
            return Name(a).compare(Name(b));
        return NameKey(a).compare(NameKey(b));
    }
    return SortKey(a).compare(SortKey(b));
}

void RecordTable::CombSort()
{
    const std::size_t n = records_.size();
    std::size_t gap = n;
    for (;;) {
        gap = static_cast<std::size_t>(static_cast<double>(gap) / 1.3);
        if (gap <= 1)
            gap = 1;
        std::size_t exchanges = 0;
        for (std::size_t i = 0; i + gap < n; ++i) {
            const std::size_t j = i + gap;
            if (Compare(records_[i], records_[j]) > 0) {
                std::swap(records_[i], records_[j]);
                ++exchanges;
            }
        }
        if (gap == 1 && exchanges == 0)
            break;
    }
}

namespace {

std::size_t HashOf(std::uint32_t folder, std::string_view name)
{
    return std::hash<std::string_view>{}(name) ^ (folder * std::size_t{0x9E3779B97F4A7C15});
}

} // namespace

void PathSet::Reserve(std::size_t count)
{
    entries_.reserve(count);
    std::size_t slots = 16;
    while (slots / 4 * 3 < count)
        slots *= 2;
    if (slots > slots_.size())
        Rehash(slots);
}

void PathSet::Rehash(std::size_t slots)
{
    slots_.assign(slots, 0);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        const std::string_view name(names_.At(e.name), e.length);
        slots_[Find(e.folder, name, HashOf(e.folder, name))] = static_cast<std::uint32_t>(i + 1);
    }
}

std::size_t PathSet::Find(std::uint32_t folder, std::string_view name, std::size_t hash) const
{
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t index = slots_[slot];
        if (index == 0)
            return slot;
        const Entry& e = entries_[index - 1];
        if (e.folder == folder && e.length == name.size() &&
            std::memcmp(names_.At(e.name), name.data(), name.size()) == 0)
            return slot;
    }
}

std::int64_t PathSet::FolderId(std::string_view folder, bool add)
{
    if (lastFolder_ >= 0 && folder == lastFolderText_)
        return lastFolder_;
    auto found = folders_.find(std::string(folder));
    if (found == folders_.end()) {
        if (!add)
            return -1;
        found = folders_.emplace(std::string(folder), static_cast<std::uint32_t>(folders_.size()))
                    .first;
    }
    lastFolderText_ = found->first;
    lastFolder_ = found->second;
    return lastFolder_;
}

bool PathSet::Insert(std::string_view path)
{
    const std::size_t cut = path.rfind('/') + 1; // npos + 1 is 0: all of it is the name
    const std::string_view name = path.substr(cut);
    const auto folder = static_cast<std::uint32_t>(FolderId(path.substr(0, cut), true));
    if (entries_.size() + 1 > slots_.size() / 4 * 3)
        Rehash(slots_.empty() ? 16 : slots_.size() * 2);
    const std::size_t slot = Find(folder, name, HashOf(folder, name));
    if (slots_[slot] != 0)
        return false;
    Entry e{};
    e.length = static_cast<std::uint32_t>(name.size());
    e.folder = folder;
    char* at = names_.Allocate(name.size(), e.name);
    Put(at, name);
    entries_.push_back(e);
    slots_[slot] = static_cast<std::uint32_t>(entries_.size());
    return true;
}

bool PathSet::Contains(std::string_view path)
{
    if (slots_.empty())
        return false;
    const std::size_t cut = path.rfind('/') + 1;
    const std::string_view name = path.substr(cut);
    const std::int64_t folder = FolderId(path.substr(0, cut), false);
    if (folder < 0)
        return false;
    const auto id = static_cast<std::uint32_t>(folder);
    return slots_[Find(id, name, HashOf(id, name))] != 0;
}

} // namespace engine
