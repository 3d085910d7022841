#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/base/file_entry.h"

namespace engine {

// Append-only storage of texts in blocks of 1 MiB (a longer text gets a block of its own), so
// that growing never copies what is stored nor holds two copies of it at once. A text keeps
// its position for the arena's lifetime.
class TextArena {
public:
    // Room for size bytes; position receives where they start.
    char* Allocate(std::size_t size, std::uint64_t& position);
    const char* At(std::uint64_t position) const
    {
        return blocks_[position >> kBlockBits].get() + (position & kOffsetMask);
    }

private:
    static constexpr int kBlockBits = 20;
    static constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kBlockBits) - 1;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = std::size_t{1} << kBlockBits; // of the last block; full: none yet
};

// The records of a run, packed: per file about 32 bytes plus its listed name (and, only where
// they differ from the listed name or from plain digits, its lowered name, camera tag and date
// texts), instead of a FileEntry of twelve strings. A record gives back exactly the FileEntry
// it was made from, SortKey and DateKey built from its fields.
class RecordTable {
public:
    void Reserve(std::size_t count) { records_.reserve(count); }

    // Adds a record: entry's name, date and camera fields (not its keys), the name the file
    // was listed by, and a small number the run keeps with it (what dated the file).
    void Add(const FileEntry& entry, std::string_view listedName, std::uint8_t tag = 0);

    // Replaces record i's fields and tag, keeping its listed name, and marks it as a companion
    // (companions.h), whose sort key has its CompanionKey and a "\0" before its name, so that a
    // group sorts together. The texts it had stay in the arena unused.
    void Replace(std::size_t i, const FileEntry& entry, std::uint8_t tag);
    bool IsCompanion(std::size_t i) const { return (records_[i].flags & kCompanion) != 0; }

    std::size_t Size() const { return records_.size(); }
    std::string_view ListedName(std::size_t i) const;
    std::uint8_t Tag(std::size_t i) const { return records_[i].tag; }

    // Removes the records for which remove(i) is true; the others keep their order.
    template <class Remove> void RemoveIf(Remove remove)
    {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < records_.size(); ++i) {
            if (!remove(i))
                records_[kept++] = records_[i];
        }
        records_.resize(kept);
    }

    // Fills entry with record i, SortKey and DateKey included.
    void Get(std::size_t i, FileEntry& entry) const;

    // Comb sort by SortKey: the gap shrinks by 1.3 each pass down to 1, and the passes at gap 1
    // go on until one makes no exchange. Keys are compared without being built where both
    // dates are plain digits: the 14 digits as a number, then the name's bytes (a companion's
    // key first).
    void CombSort();

private:
    struct Packed {
        std::uint64_t text;         // arena position of the listed name and what follows it
        std::uint64_t date;         // YYYYMMDDhhmmss as a number, unless kTextDate
        std::uint32_t listedLength; // bytes of the listed name
        std::uint16_t baseLength;   // BaseName's bytes, unless kWide
        std::uint16_t extLength;    // Extension's bytes, unless kWide
        std::uint16_t cameraLength; // CameraModel's bytes, unless kWide
        std::uint8_t flags;
        std::uint8_t tag;
    };
    // After the listed name, in this order: with kWide the three lengths as 32-bit numbers;
    // with kOwnName BaseName and Extension (else they are the listed name's last bytes);
    // CameraModel; with kTextDate the seven date texts, each after its 32-bit length.
    static constexpr std::uint8_t kOwnName = 1;   // lowered, or otherwise not the listed name's end
    static constexpr std::uint8_t kTextDate = 2;  // date texts that are not plain fixed digits
    static constexpr std::uint8_t kWide = 4;      // a length beyond 16 bits
    static constexpr std::uint8_t kCompanion = 8; // a member of a group of companions

    struct Lengths {
        std::size_t base, ext, camera;
        const char* rest; // where the texts after the lengths start
    };
    Lengths LengthsOf(const Packed& record) const;
    Packed Pack(const FileEntry& entry, std::string_view listedName, std::uint8_t tag);
    std::string_view Name(const Packed& record) const; // BaseName + Extension
    std::string NameKey(const Packed& record) const;   // the key after the date
    void Unpack(const Packed& record, FileEntry& entry) const;
    std::string SortKey(const Packed& record) const;
    int Compare(const Packed& a, const Packed& b) const;

    std::vector<Packed> records_;
    TextArena texts_;
};

// A set of paths for the dry run's bookkeeping (one path per planned file), kept small: the
// folder part of each path is stored once, the name part in an arena, and the table holds
// 4 bytes per slot.
class PathSet {
public:
    // Prepares for about count paths, so that the table is not regrown on the way.
    void Reserve(std::size_t count);
    bool Insert(std::string_view path); // false when already there
    bool Contains(std::string_view path);

private:
    struct Entry {
        std::uint64_t name;   // arena position of the name part
        std::uint32_t length; // its bytes
        std::uint32_t folder; // index of the folder part
    };
    std::size_t Find(std::uint32_t folder, std::string_view name, std::size_t hash) const;
    void Rehash(std::size_t slots);
    // The index of a folder part; -1 when it is new and add is false.
    std::int64_t FolderId(std::string_view folder, bool add);

    std::unordered_map<std::string, std::uint32_t> folders_;
    std::string lastFolderText_; // the folder part asked last, and its index
    std::int64_t lastFolder_ = -1;
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> slots_; // 1 + index into entries_, 0 for a free slot
    TextArena names_;
};

} // namespace engine
