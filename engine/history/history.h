#pragma once

// History: the run history in SQLite and the undo that reads it. Uses SQLite, engine/storing
// (file identities, content hashes, same-content checks) and engine/base.

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "engine/storing/content_hash.h"
#include "engine/storing/file_store.h"

struct sqlite3;

namespace engine {

class SqlStatement;

// The run history: one SQLite database (WAL mode) that keeps every run that stored anything
// and every file it stored, so that a run can be undone. Tables:
//   runs    a row per run: times, absolute source folder and destination base, copy or move,
//           the options, counts, state, the "分類" folder when the run made it, the process
//   folders a row per date folder the run stored into, and whether the run made it
//   files   a row per stored file: absolute source and destination as bytes, action, the
//           stored file's identity (device, inode, size, modification and change times), its
//           content hash (XXH3), the source's identity where an undo needs it, and what an
//           undo did with it
// A run's rows are written by a thread of their own while the run goes on, in transactions
// committed at the run's flush points, before any moved source is removed, and in between
// every 16 rows; a kill leaves every committed row true, and loses the undo of at most the
// last 32 files handed in and the 16 of the open transaction (never a file). A run that is
// going holds a lock on its id (an open-file-description lock on "history.lock" beside the
// database, which the kernel drops when the process dies): an undo refuses such a run, and a
// later run or undo finishes what a killed one left behind (RecoverKilledRuns).

// $XDG_STATE_HOME/velmora/history.sqlite3 when XDG_STATE_HOME is an absolute path, else
// $HOME/.local/state/velmora/history.sqlite3; empty when neither is known.
std::string HistoryPath();

// path made absolute against the current folder (lexically; links are not resolved), without
// leading "./" and trailing "/" (but "/" itself).
std::string AbsolutePath(const std::string& path);

// Opens folder, which lies at or below top, for the *at calls: top as named (its last part
// without following a link unless topMayBeLink: the user chose it so), every level below it
// without following links; with make, missing levels below top are made (0777 less umask).
// A folder outside top is opened as named. -1 with errno on failure.
int OpenFolderBelow(const std::string& top, bool topMayBeLink, const std::string& folder,
                    bool make);

// The newest runs kept; older ones are removed when a run starts.
inline constexpr int kHistoryRuns = 200;

enum class RunState { Running, Done, Failed, Undoing, Undone, PartlyUndone };
const char* StateText(RunState state); // "running", "done", "failed", "undoing", "undone",
                                       // "partly undone"

struct RunRecord {
    std::int64_t id = 0;
    std::int64_t started = 0, ended = 0; // seconds since the epoch; ended 0 while going
    std::string source, base;            // absolute
    bool sourceIsLink = false, baseIsLink = false; // as they were when the run started
    bool move = false;
    std::string options; // the run's options, as "Key=value" words
    std::int64_t files = 0, same = 0, folders = 0;
    RunState state = RunState::Running;
    std::string madeBase; // the "分類" folder, when the run made it
    std::int64_t pid = 0; // the process that last worked on the run
    std::string note;     // what a recovery did
};

enum class FileAction { Copied, Moved, Same };
const char* ActionText(FileAction action); // "copied", "moved", "already there"

struct FileRecord {
    std::int64_t seq = 0; // order stored within the run
    FileAction action = FileAction::Copied;
    std::string source, dest; // absolute; any bytes
    FileIdentity stored;      // dest right after the store (Same: as compared)
    bool hashed = false;
    std::uint64_t hash = 0; // XXH3 of dest's whole content, when hashed
    // The source as it was read: a copy's source, a cross-file-system move's source before its
    // removal, an "already there" source as compared. sourceKnown false for renames.
    bool sourceKnown = false;
    FileIdentity sourceId;
    enum class State { Stored, Undone, Left } state = State::Stored;
    std::string reason; // why it was left alone
};

struct FolderRecord {
    std::string path; // absolute
    bool made = false;
    bool removed = false; // by an undo
};

// A history database, open. Not thread-safe: one thread uses an object at a time. Errors are
// values: after a failed write the object keeps the first problem (Problem()) and later
// writes do nothing.
class History {
public:
    // Opens the database at path, making its folder (0700) and file (0600). Nothing and a
    // problem sentence ("no undo history: ...") when it cannot be opened or is damaged.
    static std::unique_ptr<History> Open(const std::string& path, std::string& problem);
    // Opens an existing database for reading only; nothing when there is none.
    static std::unique_ptr<History> OpenToRead(const std::string& path, std::string& problem);
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& Problem() const { return problem_; }

    // Recording a run (the run's thread). BeginRun inserts the run as running, takes its lock
    // and returns its id (0 after a problem); the other calls add rows to the open transaction.
    std::int64_t BeginRun(RunRecord run);
    void FolderUsed(const std::string& path, bool made);
    // content: the stored copy itself, open (StoreResult::content): the row takes the copy's
    // identity and hash from it (file.stored.size only says how much there is to hash); it is
    // closed afterwards.
    // The rows of a run are written on a thread of its own, in the order they were handed in,
    // while the run goes on; that thread also hashes the files handed in with content. The
    // run's thread waits only when that thread is far behind, and in Commit.
    void FileStored(const FileRecord& file, UniqueFd content = UniqueFd());
    // Copies handed in open (FileStored's content) whose close failed: a write of theirs may
    // be lost. Each is given once, to the first call after Commit saw it.
    struct WriteFailure {
        std::string dest;
        int error = 0;
    };
    std::vector<WriteFailure> WriteFailures();
    // Commits the rows so far (waiting for the hashes they need); durable: on disk before it
    // returns (a moved source may be removed next). A problem is kept and returned.
    std::error_code Commit(bool durable);
    // Ends the run: counts, state done or failed, end time; commits durably and drops the lock.
    // A run that stored nothing and made nothing is removed.
    void EndRun(bool ok, std::int64_t files, std::int64_t same, std::int64_t folders);

    // Removes the runs beyond the newest kHistoryRuns (not those going on).
    void Prune();

    // Reading. Runs() is newest first.
    std::vector<RunRecord> Runs(int limit = kHistoryRuns);
    std::optional<RunRecord> Run(std::int64_t id);
    std::vector<FileRecord> Files(std::int64_t id);
    std::vector<FolderRecord> Folders(std::int64_t id);

    // The absolute paths of the date folders that runs whose destination base is base (made
    // absolute by AbsolutePath) recorded as made by them, and not removed by an undo since.
    std::set<std::string> FoldersMadeUnder(const std::string& base);

    // Locks of runs. TryLockRun takes the run's lock for this object (false: another process
    // or object holds it: the run is going or being undone); UnlockRun drops it.
    bool TryLockRun(std::int64_t id);
    void UnlockRun(std::int64_t id);

    // Undo bookkeeping (the caller holds the run's lock).
    std::error_code SetState(std::int64_t id, RunState state, std::int64_t pid = 0);
    std::error_code SetFileState(std::int64_t id, std::int64_t seq, FileRecord::State state,
                                 const std::string& reason);
    std::error_code SetFolderRemoved(std::int64_t id, const std::string& path);
    std::error_code AddNote(std::int64_t id, const std::string& note);

    // Finishes the runs that a killed process left as running or undoing (their lock is free):
    // hidden names of that process in the run's folders are put back (a source being removed,
    // a copy being undone) or removed (a partial copy), and the run becomes failed (a run) or
    // partly undone (an undo); the run's note says what was done. Returns the notes.
    std::vector<std::string> RecoverKilledRuns();

private:
    History(sqlite3* db, std::string path);
    // Opens the database at path with flags (links never followed) as every connection is
    // opened; nothing, with SQLite's reason in why, when it cannot be opened.
    static std::unique_ptr<History> Connect(const std::string& path, int flags, std::string& why);
    bool Exec(const char* sql);
    bool InTransaction(); // opens one when none is open
    class RunWriter;
    int InsertFile(FileRecord& file, UniqueFd content); // the error of a failed close, or 0
    void InsertFolder(const std::string& path, bool made);
    void KeepAfterRenames(std::int64_t id, const std::vector<FileRecord>& files, int dir,
                          const std::string& name, const std::string& path);
    bool Batch(); // a row more in the open transaction (opened when none is)
    void SyncLog();
    void CommitWhenDue();
    void CommitTransaction();      // the rows written so far
    void CommitRows(bool durable); // and, durable, flushes the log
    bool Fail(const char* what);
    std::error_code Error() const;

    sqlite3* db_;
    std::string path_;
    std::string problem_;
    std::string cwd_; // the current folder when the run began: relative names are made absolute by it
    int lockFd_ = -1;
    std::int64_t runId_ = 0;
    std::int64_t fileSeq_ = 0;
    bool inTransaction_ = false;
    // The run's statements, prepared once when it begins.
    std::unique_ptr<SqlStatement> insertFile_, insertFolder_;
    std::unique_ptr<SqlStatement> setFileState_; // an undo's, prepared at its first file
    // While a run is recorded: the thread that writes its rows. Everything below, and db_,
    // problem_ and the statements, are then used by that thread only, until the run's
    // thread has waited for it (Commit, EndRun).
    std::unique_ptr<RunWriter> writer_;
    std::int64_t pending_ = 0; // rows in the open transaction
    bool unsynced_ = false;    // commits since the log was last flushed
};

// A history being opened (History::Open) on a thread of its own, so that SQLite's start and
// the reading of the database's log overlap the reading of the folder and of the files' dates.
// Wait() returns the outcome once it is there; the object waits for the thread when it goes.
class HistoryOpening {
public:
    struct Opened {
        std::unique_ptr<History> history; // none: problem says why
        std::string problem;
    };
    explicit HistoryOpening(std::string path);
    Opened& Wait(); // what the opening threw is thrown here

private:
    std::future<Opened> opening_; // until Wait took it
    Opened opened_;
};

// The date folders Velmora made under base, by the default history (HistoryPath), read only;
// empty when there is no history. base is made absolute by AbsolutePath. For a listing that
// must pass over the destination's own date folders.
std::set<std::string> FoldersMadeByRuns(const std::string& base);

} // namespace engine
