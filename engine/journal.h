#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <system_error>
#include <vector>

#include "engine/file_store.h"

namespace engine {

// The undo journal of a run: one JSON object per line (json_line.h), in a file of its own
// named by the run's start time. The first line describes the run; then one line per date
// folder the run made and per file it stored, written as each happens; an undo appends a last
// line. Each line goes out in one write, so a run that is killed leaves a journal whose
// complete lines are all valid; a torn last line is ignored by the reader.
//
//   {"velmora":"journal","version":1,"started":"2024-03-15T10:35:23Z","source":"/card",
//    "base":"/card","move":true}
//   {"op":"folder","path":"/card/2024"}
//   {"op":"move","source":"/card/DCIM/IMG_1.JPG","dest":"/card/2024/03/IMG_1.JPG",
//    "size":123,"mtime":1710498923,"mtime_ns":0,"ctime":...,"ctime_ns":...,"dev":..,"ino":..}
//   {"op":"copy",... ,"hash":"0123456789abcdef"}   a copy, with its SampleHash
//   {"op":"same",...}   a move whose file was already stored as dest: its source was removed
//   {"op":"undone","at":"2024-03-16T08:00:00Z","complete":true}

// The journal folder: $XDG_STATE_HOME/velmora/journal when that is an absolute path, else
// $HOME/.local/state/velmora/journal; empty when neither is known.
std::string JournalFolder();

// One stored file, as journaled.
struct JournalEntry {
    enum class Op { Copy, Move, Same };
    Op op = Op::Copy;
    std::string source, dest;
    FileIdentity stored; // dest as it was right after the store (for Same: as compared)
    bool hashed = false;
    std::uint64_t hash = 0; // SampleHash of dest, when hashed
};

// Writes a run's journal. The file is made at the first line after the header, so a run that
// stores nothing leaves none. Errors are values; after one, later calls do nothing and return
// it again. Not thread-safe; the run's thread calls it.
class JournalWriter {
public:
    JournalWriter() = default;
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // Remembers where the journal goes and what its header says; writes nothing yet. An empty
    // folder turns the journal off.
    void Start(const std::string& folder, const std::string& source, const std::string& base,
               bool move);
    std::error_code FolderMade(const std::string& path);
    std::error_code Stored(const JournalEntry& entry);
    // Puts what was written on disk (fdatasync); nothing when no file was made.
    std::error_code Flush();

    const std::string& Path() const { return path_; } // empty until the file is made
    std::error_code Error() const { return error_; }

private:
    std::error_code Write(const std::string& line);

    std::string folder_, header_, path_;
    std::timespec started_{};
    int fd_ = -1;
    bool dirty_ = false;
    std::error_code error_;
};

// A journal as read back.
struct Journal {
    std::string source, base;
    bool move = false;
    std::vector<JournalEntry> entries;
    std::vector<std::string> folders; // made by the run, in the order made
    bool undone = false;              // a complete undo was marked
    std::size_t damagedLines = 0;     // complete lines that could not be read (skipped)
};

// Reads a journal: nothing readable (error set) when the file cannot be read, is larger than
// 1 GiB, or its first line is not a journal header. A torn last line is left out.
bool ReadJournal(const std::string& path, Journal& journal, std::error_code& error);

// Appends the undo mark (complete or not), after a line end when the file lacks one.
std::error_code MarkJournalUndone(const std::string& path, bool complete);

// The newest journal in folder (by its name, which is its start time) that is not marked
// completely undone; empty when there is none.
std::string NewestJournal(const std::string& folder);

// "2024-03-15T10:35:23Z" of a time.
std::string UtcText(std::time_t time);

} // namespace engine
