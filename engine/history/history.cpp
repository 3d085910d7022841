#include "engine/history/history.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "engine/base/path_text.h"
#include "engine/base/unique_fd.h"

namespace engine {

// A prepared statement, finalized at the end of its scope. Binds are 1-based, columns 0-based.
class SqlStatement {
public:
    SqlStatement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            stmt_ = nullptr;
    }
    ~SqlStatement() { sqlite3_finalize(stmt_); }
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;
    bool ok() const { return stmt_ != nullptr; }
    SqlStatement& Bind(int i, std::int64_t value)
    {
        if (stmt_)
            sqlite3_bind_int64(stmt_, i, value);
        return *this;
    }
    SqlStatement& Bind(int i, const std::string& bytes)
    {
        if (stmt_)
            sqlite3_bind_blob(stmt_, i, bytes.data(), static_cast<int>(bytes.size()),
                              SQLITE_TRANSIENT);
        return *this;
    }
    SqlStatement& BindText(int i, const std::string& text)
    {
        if (stmt_)
            sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT);
        return *this;
    }
    SqlStatement& BindNull(int i)
    {
        if (stmt_)
            sqlite3_bind_null(stmt_, i);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    // Steps once and makes the statement ready to be bound and run again.
    bool Run()
    {
        const bool done = Step() == SQLITE_DONE;
        if (stmt_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
        return done;
    }
    std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
    bool IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    std::string Bytes(int col) const
    {
        const void* data = sqlite3_column_blob(stmt_, col);
        const int size = sqlite3_column_bytes(stmt_, col);
        return data ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                    : std::string();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

namespace {

constexpr int kSchemaVersion = 1;
// Between its flush points a run's rows are committed once this many wait, so that a kill
// loses the undo of only the last few files, and a run of many small files does not pay a
// commit per file. By count, not by time: the same run writes the same way every time.
constexpr std::int64_t kRowsPerCommit = 16;
// An undo writes what became of its files in transactions of this many rows.
constexpr std::int64_t kUndoRowsPerCommit = 1000;
// Rows handed to the writing thread and not yet written, at most; each may hold a stored
// file open until it is hashed.
constexpr std::uint64_t kRowsAhead = 32;
// Rows handed to the writing thread together (fewer wake-ups); less than kRowsAhead.
constexpr std::size_t kRowsPerBatch = 16;
static_assert(kRowsPerBatch < kRowsAhead);
// Fewer rows are fetched by the writing thread itself, first after this long, so that big
// files are hashed while the run copies the next ones without the run waking the thread for
// them; the wait doubles, up to kFetchAfterMost, while it finds nothing (a slow disk).
constexpr std::chrono::microseconds kFetchAfter{1000};
constexpr std::chrono::microseconds kFetchAfterMost{64000};

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS runs(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  started INTEGER NOT NULL,
  ended INTEGER NOT NULL DEFAULT 0,
  source BLOB NOT NULL,
  base BLOB NOT NULL,
  source_link INTEGER NOT NULL DEFAULT 0,
  base_link INTEGER NOT NULL DEFAULT 0,
  move INTEGER NOT NULL,
  options TEXT NOT NULL,
  files INTEGER NOT NULL DEFAULT 0,
  same INTEGER NOT NULL DEFAULT 0,
  folders INTEGER NOT NULL DEFAULT 0,
  state TEXT NOT NULL,
  made_base BLOB NOT NULL DEFAULT x'',
  pid INTEGER NOT NULL,
  note TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS folders(
  run INTEGER NOT NULL,
  path BLOB NOT NULL,
  made INTEGER NOT NULL,
  removed INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(run, path)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS files(
  run INTEGER NOT NULL,
  seq INTEGER NOT NULL,
  action TEXT NOT NULL,
  source BLOB NOT NULL,
  dest BLOB NOT NULL,
  dev INTEGER, ino INTEGER, size INTEGER,
  mtime INTEGER, mtime_ns INTEGER, ctime INTEGER, ctime_ns INTEGER,
  hash INTEGER,
  src_dev INTEGER, src_ino INTEGER, src_size INTEGER,
  src_mtime INTEGER, src_mtime_ns INTEGER, src_ctime INTEGER, src_ctime_ns INTEGER,
  state TEXT NOT NULL DEFAULT 'stored',
  reason TEXT NOT NULL DEFAULT '',
  PRIMARY KEY(run, seq));
CREATE INDEX IF NOT EXISTS runs_base ON runs(base);
)";

using Statement = SqlStatement;

std::error_code MakeFolders(const std::string& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? std::error_code{} : std::error_code(ENOTDIR, std::generic_category());
    const std::string parent = FolderOfPath(folder);
    if (parent != folder && parent != "." && parent != "/")
        if (const std::error_code error = MakeFolders(parent))
            return error;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {errno, std::generic_category()};
    return {};
}

const RunState kStates[] = {RunState::Running, RunState::Done,   RunState::Failed,
                            RunState::Undoing, RunState::Undone, RunState::PartlyUndone};

RunState StateOf(const std::string& text)
{
    for (RunState state : kStates)
        if (text == StateText(state))
            return state;
    return RunState::Failed;
}

FileAction ActionOf(const std::string& text)
{
    if (text == "moved")
        return FileAction::Moved;
    if (text == "already there")
        return FileAction::Same;
    return FileAction::Copied;
}

const char* FileStateText(FileRecord::State state)
{
    switch (state) {
    case FileRecord::State::Undone:
        return "undone";
    case FileRecord::State::Left:
        return "left";
    default:
        return "stored";
    }
}

FileIdentity IdentityFrom(const Statement& s, int col)
{
    FileIdentity id;
    id.device = static_cast<dev_t>(s.Int(col));
    id.inode = static_cast<ino_t>(s.Int(col + 1));
    id.size = static_cast<off_t>(s.Int(col + 2));
    id.modified = {static_cast<std::time_t>(s.Int(col + 3)), static_cast<long>(s.Int(col + 4))};
    id.changed = {static_cast<std::time_t>(s.Int(col + 5)), static_cast<long>(s.Int(col + 6))};
    return id;
}

void BindIdentity(Statement& s, int first, const FileIdentity& id)
{
    s.Bind(first, static_cast<std::int64_t>(id.device))
        .Bind(first + 1, static_cast<std::int64_t>(id.inode))
        .Bind(first + 2, static_cast<std::int64_t>(id.size))
        .Bind(first + 3, static_cast<std::int64_t>(id.modified.tv_sec))
        .Bind(first + 4, static_cast<std::int64_t>(id.modified.tv_nsec))
        .Bind(first + 5, static_cast<std::int64_t>(id.changed.tv_sec))
        .Bind(first + 6, static_cast<std::int64_t>(id.changed.tv_nsec));
}

constexpr const char* kRunColumns =
    "id, started, ended, source, base, source_link, base_link, move, options, files, same, "
    "folders, state, made_base, pid, note";

RunRecord RunFrom(const Statement& s)
{
    RunRecord run;
    run.id = s.Int(0);
    run.started = s.Int(1);
    run.ended = s.Int(2);
    run.source = s.Bytes(3);
    run.base = s.Bytes(4);
    run.sourceIsLink = s.Int(5) != 0;
    run.baseIsLink = s.Int(6) != 0;
    run.move = s.Int(7) != 0;
    run.options = s.Bytes(8);
    run.files = s.Int(9);
    run.same = s.Int(10);
    run.folders = s.Int(11);
    run.state = StateOf(s.Bytes(12));
    run.madeBase = s.Bytes(13);
    run.pid = s.Int(14);
    run.note = s.Bytes(15);
    return run;
}

bool IsLink(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Takes (or drops) the lock on byte id of the lock file: an open-file-description lock, held
// until it is dropped or the descriptor closes (at the latest when the process ends).
bool LockByte(int fd, std::int64_t id, bool lock)
{
    struct flock region {};
    region.l_type = lock ? F_WRLCK : F_UNLCK;
    region.l_whence = SEEK_SET;
    region.l_start = static_cast<off_t>(id);
    region.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &region) == 0;
}

} // namespace

const char* StateText(RunState state)
{
    switch (state) {
    case RunState::Running:
        return "running";
    case RunState::Done:
        return "done";
    case RunState::Failed:
        return "failed";
    case RunState::Undoing:
        return "undoing";
    case RunState::Undone:
        return "undone";
    case RunState::PartlyUndone:
        return "partly undone";
    }
    return "failed";
}

const char* ActionText(FileAction action)
{
    switch (action) {
    case FileAction::Moved:
        return "moved";
    case FileAction::Same:
        return "already there";
    default:
        return "copied";
    }
}

std::string HistoryPath()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')
        return JoinPath(state, "velmora/history.sqlite3");
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return JoinPath(home, ".local/state/velmora/history.sqlite3");
    return {};
}

namespace {

// The current folder, or empty when it cannot be read.
std::string CurrentFolder()
{
    std::string cwd(4096, '\0');
    if (::getcwd(cwd.data(), cwd.size()) == nullptr)
        return {};
    cwd.resize(std::strlen(cwd.c_str()));
    return cwd;
}

// path made absolute against cwd (read once by the caller; unchanged when cwd is empty),
// without leading "./" and trailing "/" (but "/" itself).
std::string AbsoluteIn(const std::string& cwd, const std::string& path)
{
    std::string rest = path;
    while (rest.size() > 1 && rest.back() == '/')
        rest.pop_back();
    if (rest.empty() || rest.front() == '/' || cwd.empty())
        return rest;
    while (rest.rfind("./", 0) == 0)
        rest.erase(0, 2);
    if (rest == ".")
        return cwd;
    return JoinPath(cwd, rest);
}

} // namespace

std::string AbsolutePath(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return AbsoluteIn({}, path);
    return AbsoluteIn(CurrentFolder(), path);
}

int OpenFolderBelow(const std::string& top, bool topMayBeLink, const std::string& folder,
                    bool make)
{
    const std::string prefix = top == "/" ? "/" : top + "/";
    if (top.empty() || (folder != top && folder.compare(0, prefix.size(), prefix) != 0))
        return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (topMayBeLink ? 0 : O_NOFOLLOW));
    std::size_t pos = prefix.size();
    while (fd >= 0 && pos < folder.size()) {
        std::size_t end = folder.find('/', pos);
        if (end == std::string::npos)
            end = folder.size();
        const std::string level = folder.substr(pos, end - pos);
        pos = end + 1;
        if (level.empty() || level == ".")
            continue;
        if (level == "..") { // never climb out of top
            ::close(fd);
            errno = EINVAL;
            return -1;
        }
        int next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && make &&
            (::mkdirat(fd, level.c_str(), 0777) == 0 || errno == EEXIST))
            next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        fd = next;
        errno = error;
    }
    return fd;
}

// The thread that writes a run's rows while the run goes on, reading each copy's identity
// and hash from the copy.
// Rows are handed in in batches, so that a run of small files does not wake the thread for
// every file: the run wakes it for kRowsPerBatch rows or a commit, and it fetches fewer rows
// itself (kFetchAfter).
class History::RunWriter {
public:
    explicit RunWriter(History& history) : history_(history), thread_([this] { Work(); }) {}
    ~RunWriter()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join(); // the thread writes what was handed in before it ends
    }
    RunWriter(const RunWriter&) = delete;
    RunWriter& operator=(const RunWriter&) = delete;

    void AddFile(const FileRecord& file, std::int64_t seq, UniqueFd content)
    {
        Add([&](Item& item) {
            item.kind = Item::Kind::File;
            item.file = file; // into the strings of a slot used before: no allocation
            item.file.seq = seq;
            item.content = std::move(content);
        });
    }
    void AddFolder(const std::string& path, bool made)
    {
        Add([&](Item& item) {
            item.kind = Item::Kind::Folder;
            item.path = path;
            item.made = made;
        });
    }
    // Returns once every row handed in is committed (and, durable, on disk).
    void Commit(bool durable)
    {
        const std::uint64_t ticket = Add([&](Item& item) {
            item.kind = Item::Kind::Commit;
            item.durable = durable;
        });
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return written_ >= ticket; });
    }
    // Copies whose close failed since the last call.
    std::vector<WriteFailure> TakeFailures()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(failures_, {});
    }

private:
    struct Item {
        enum class Kind { File, Folder, Commit } kind = Kind::File;
        FileRecord file;
        UniqueFd content;
        std::string path;
        bool made = false, durable = false;
    };

    // Fills the next slot of the batch being gathered; returns its number (1 for the first).
    // The two batches' vectors go back and forth between the threads and their slots are
    // filled again and again, so that handing in a row allocates nothing (memory freed by the
    // other thread would make both threads' allocations contend).
    template <typename Fill> std::uint64_t Add(Fill fill)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (handed_ - written_ >= kRowsAhead) {
            // Far ahead: the thread gets whatever waits before this one waits for it.
            wake_.notify_one();
            done_.wait(lock, [&] { return handed_ - written_ < kRowsAhead; });
        }
        if (incomingCount_ == incoming_.size())
            incoming_.emplace_back();
        Item& item = incoming_[incomingCount_++];
        fill(item);
        const bool wake = item.kind == Item::Kind::Commit || incomingCount_ >= kRowsPerBatch;
        const std::uint64_t number = ++handed_;
        lock.unlock();
        if (wake)
            wake_.notify_one();
        return number;
    }

    void Work()
    {
        std::vector<Item> batch;
        for (;;) {
            std::size_t count = 0;
            {
                // Waking a thread that sleeps costs its waker a good deal on some virtual
                // machines (an interrupt to another processor): the thread looks for rows on
                // its own every kFetchAfter, and the run wakes it only for a full batch, a
                // commit, or when it is far ahead.
                std::unique_lock<std::mutex> lock(mutex_);
                for (auto wait = kFetchAfter; incomingCount_ == 0 && !stop_;
                     wait = std::min(2 * wait, kFetchAfterMost))
                    wake_.wait_for(lock, wait);
                if (incomingCount_ == 0)
                    return; // stopped, and everything written
                batch.swap(incoming_);
                count = std::exchange(incomingCount_, 0);
            }
            std::vector<WriteFailure> failed;
            for (std::size_t i = 0; i < count; ++i) {
                Item& item = batch[i];
                switch (item.kind) {
                case Item::Kind::File:
                    if (const int error = history_.InsertFile(item.file, std::move(item.content)))
                        failed.push_back({item.file.dest, error});
                    break;
                case Item::Kind::Folder:
                    history_.InsertFolder(item.path, item.made);
                    break;
                case Item::Kind::Commit:
                    history_.CommitRows(item.durable);
                    break;
                }
            }
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                written_ += count;
                failures_.insert(failures_.end(), failed.begin(), failed.end());
            }
            done_.notify_all();
        }
    }

    History& history_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::vector<Item> incoming_;
    std::size_t incomingCount_ = 0; // slots of incoming_ filled
    std::uint64_t handed_ = 0, written_ = 0;
    std::vector<WriteFailure> failures_; // TakeFailures()
    bool stop_ = false;
    std::thread thread_; // last: started once the rest is ready
};

History::History(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

History::~History()
{
    writer_.reset();
    insertFile_.reset();
    insertFolder_.reset();
    setFileState_.reset();
    if (inTransaction_)
        Exec("COMMIT");
    sqlite3_close_v2(db_);
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

std::unique_ptr<History> History::Connect(const std::string& path, int flags, std::string& why)
{
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOFOLLOW, nullptr);
    std::unique_ptr<History> history(new History(db, path)); // closes db in every case
    if (opened != SQLITE_OK) {
        why = sqlite3_errstr(opened);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 10000);
    sqlite3_extended_result_codes(db, 1);
    // The write-ahead log stays between runs and is not folded into the database when the
    // last connection closes (commits do that once it has grown, on the run's writing
    // thread): so a run does not make the log anew and flush its header and folder, nor copy
    // it back and flush the database as it ends.
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    return history;
}

std::unique_ptr<History> History::Open(const std::string& path, std::string& problem)
{
    problem.clear();
    const auto cannotOpen = [&problem](const std::string& file, const std::string& why) {
        problem = "no undo history: cannot open \"" + file + "\": " + why;
        return nullptr;
    };
    if (path.empty()) {
        problem = "no undo history: neither HOME nor XDG_STATE_HOME names a folder for it";
        return nullptr;
    }
    if (const std::error_code error = MakeFolders(FolderOfPath(path))) {
        problem = "no undo history: cannot make the folder \"" + FolderOfPath(path) +
                  "\": " + error.message();
        return nullptr;
    }
    // Made private before SQLite opens it, so it is never readable by others.
    const int made = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (made < 0)
        return cannotOpen(path, std::strerror(errno));
    ::close(made);
    std::string why;
    std::unique_ptr<History> history = Connect(path, SQLITE_OPEN_READWRITE, why);
    if (!history)
        return cannotOpen(path, why);
    sqlite3* db = history->db_;
    bool read = false;
    std::int64_t found = -1;
    {
        Statement version(db, "PRAGMA user_version");
        read = version.Step() == SQLITE_ROW;
        found = read ? version.Int(0) : -1;
    }
    if (!read || found > kSchemaVersion) {
        problem = "the undo history \"" + path + "\" is damaged or of a newer version (" +
                  sqlite3_errmsg(db) + "); no undo history is kept";
        return nullptr;
    }
    // The tables are made once: opening an existing history writes nothing, so an undo's dry
    // run leaves the file as it was.
    // The log is cut back to 8 MB once it was folded in, so a big run leaves no big file.
    if (!history->Exec("PRAGMA journal_mode=WAL") || !history->Exec("PRAGMA synchronous=NORMAL") ||
        !history->Exec("PRAGMA journal_size_limit=8388608") ||
        (found == 0 &&
         (!history->Exec(kSchema) ||
          !history->Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str())))) {
        problem = "no undo history: " + history->problem_;
        return nullptr;
    }
    const std::string lockPath = JoinPath(FolderOfPath(path), "history.lock");
    history->lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (history->lockFd_ < 0)
        return cannotOpen(lockPath, std::strerror(errno));
    return history;
}

std::unique_ptr<History> History::OpenToRead(const std::string& path, std::string& problem)
{
    problem.clear();
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return nullptr;
    std::string why;
    std::unique_ptr<History> history = Connect(path, SQLITE_OPEN_READONLY, why);
    if (!history)
        problem = "cannot read the undo history \"" + path + "\": " + why;
    return history;
}

bool History::Fail(const char* what)
{
    if (problem_.empty())
        problem_ = std::string("the undo history \"") + path_ + "\" could not be " + what + ": " +
                   sqlite3_errmsg(db_);
    return false;
}

std::error_code History::Error() const
{
    if (problem_.empty())
        return {};
    const int code = sqlite3_errcode(db_) & 0xff;
    return {code == SQLITE_FULL ? ENOSPC : (code == SQLITE_READONLY ? EROFS : EIO),
            std::generic_category()};
}

bool History::Exec(const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    if (problem_.empty())
        problem_ = std::string("the undo history \"") + path_ + "\" could not be written: " +
                   (message ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    return false;
}

std::int64_t History::BeginRun(RunRecord run)
{
    if (!problem_.empty())
        return 0;
    // A run's files are named relative to the folder it started in: read that folder once,
    // not for every row.
    cwd_ = CurrentFolder();
    run.source = AbsoluteIn(cwd_, run.source);
    run.base = AbsoluteIn(cwd_, run.base);
    run.sourceIsLink = IsLink(run.source);
    run.baseIsLink = IsLink(run.base);
    // The thread that will write the rows is started first: a process that may not start
    // one more thread runs without a history, and says so, rather than stopping.
    try {
        writer_ = std::make_unique<RunWriter>(*this);
    } catch (const std::system_error& error) {
        problem_ = std::string("no undo history: its writing thread could not be started: ") +
                   error.code().message();
        return 0;
    }
    if (!Exec("BEGIN IMMEDIATE")) {
        writer_.reset();
        return 0;
    }
    Statement insert(db_, "INSERT INTO runs(started, source, base, source_link, base_link, move, "
                          "options, state, made_base, pid) VALUES(?,?,?,?,?,?,?,?,?,?)");
    insert.Bind(1, static_cast<std::int64_t>(std::time(nullptr)))
        .Bind(2, run.source)
        .Bind(3, run.base)
        .Bind(4, run.sourceIsLink)
        .Bind(5, run.baseIsLink)
        .Bind(6, run.move)
        .BindText(7, run.options)
        .BindText(8, StateText(RunState::Running))
        .Bind(9, AbsoluteIn(cwd_, run.madeBase))
        .Bind(10, static_cast<std::int64_t>(::getpid()));
    if (!insert.Run()) {
        Fail("written");
        Exec("ROLLBACK");
        writer_.reset();
        return 0;
    }
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    // Locked before anyone can see the run as running.
    if (!LockByte(lockFd_, id, true) || !Exec("COMMIT")) {
        if (problem_.empty())
            problem_ = "the undo history's lock could not be taken: " + std::string(std::strerror(errno));
        Exec("ROLLBACK");
        writer_.reset();
        return 0;
    }
    runId_ = id;
    fileSeq_ = 0;
    insertFile_ = std::make_unique<SqlStatement>(
        db_, "INSERT INTO files(run, seq, action, source, dest, dev, ino, size, mtime, mtime_ns, "
             "ctime, ctime_ns, hash, src_dev, src_ino, src_size, src_mtime, src_mtime_ns, "
             "src_ctime, src_ctime_ns) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    insertFolder_ = std::make_unique<SqlStatement>(
        db_, "INSERT INTO folders(run, path, made) VALUES(?,?,?) "
             "ON CONFLICT(run, path) DO UPDATE SET made = made OR excluded.made");
    return id;
}

bool History::InTransaction()
{
    if (!inTransaction_) {
        if (!Exec("BEGIN IMMEDIATE"))
            return false;
        inTransaction_ = true;
    }
    return true;
}

void History::FolderUsed(const std::string& path, bool made)
{
    if (writer_)
        writer_->AddFolder(AbsoluteIn(cwd_, path), made);
}

void History::FileStored(const FileRecord& file, UniqueFd content)
{
    if (writer_)
        writer_->AddFile(file, ++fileSeq_, std::move(content));
}

void History::InsertFolder(const std::string& path, bool made)
{
    if (!problem_.empty() || !InTransaction())
        return;
    if (!insertFolder_->Bind(1, runId_).Bind(2, path).Bind(3, made).Run())
        Fail("written");
    CommitWhenDue();
}

// Writes a stored file's row. content: the stored copy, open: its identity and hash are read
// from it, then it is closed. Returns the error of a failed close (a write of the copy may be
// lost), else 0.
int History::InsertFile(FileRecord& file, UniqueFd content)
{
    int closeError = 0;
    if (content.get() >= 0) {
        struct stat st {};
        file.hashed = false; // unknown, when it cannot be read: an undo leaves the copy alone
        if (::fstat(content.get(), &st) == 0) {
            file.stored = IdentityOf(st);
            file.hashed =
                HashFile(content.get(), static_cast<std::uint64_t>(st.st_size), file.hash);
        }
        if (content.Close() != 0)
            closeError = errno;
    }
    if (!problem_.empty() || !InTransaction())
        return closeError;
    SqlStatement& insert = *insertFile_;
    insert.Bind(1, runId_)
        .Bind(2, file.seq)
        .BindText(3, ActionText(file.action))
        .Bind(4, AbsoluteIn(cwd_, file.source))
        .Bind(5, AbsoluteIn(cwd_, file.dest));
    BindIdentity(insert, 6, file.stored);
    if (file.hashed)
        insert.Bind(13, static_cast<std::int64_t>(file.hash));
    else
        insert.BindNull(13);
    if (file.sourceKnown)
        BindIdentity(insert, 14, file.sourceId);
    else
        for (int i = 14; i <= 20; ++i)
            insert.BindNull(i);
    if (!insert.Run())
        Fail("written");
    CommitWhenDue();
    return closeError;
}

void History::CommitWhenDue()
{
    if (++pending_ >= kRowsPerCommit)
        CommitTransaction();
}

void History::CommitTransaction()
{
    if (!problem_.empty() || !inTransaction_)
        return;
    inTransaction_ = false;
    pending_ = 0;
    if (!Exec("COMMIT"))
        Exec("ROLLBACK");
    else
        unsynced_ = true;
}

std::error_code History::Commit(bool durable)
{
    if (writer_)
        writer_->Commit(durable);
    else
        CommitRows(durable);
    return Error();
}

std::vector<History::WriteFailure> History::WriteFailures()
{
    return writer_ ? writer_->TakeFailures() : std::vector<WriteFailure>();
}

void History::CommitRows(bool durable)
{
    CommitTransaction();
    if (durable && unsynced_ && problem_.empty()) {
        SyncLog();
        unsynced_ = false;
    }
}

// Normally a commit reaches the operating system only (synchronous=NORMAL: a kill loses
// nothing, the commit costs no flush); before a source is removed it must reach the disk:
// the write-ahead log that holds the commit is flushed.
void History::SyncLog()
{
    const UniqueFd log(::open((path_ + "-wal").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if ((log.get() >= 0 && ::fdatasync(log.get()) == 0) || (log.get() < 0 && errno == ENOENT))
        return; // flushed; or no log: the database is not in WAL mode and flushes each commit
    if (problem_.empty())
        problem_ = "the undo history \"" + path_ + "\" could not be flushed: " +
                   std::strerror(errno);
}

void History::EndRun(bool ok, std::int64_t files, std::int64_t same, std::int64_t folders)
{
    if (runId_ == 0)
        return;
    Commit(false);
    writer_.reset();
    const bool empty = files == 0 && same == 0 && folders == 0;
    if (problem_.empty()) {
        if (empty) {
            Statement drop(db_, "DELETE FROM runs WHERE id = ?");
            Statement dropFolders(db_, "DELETE FROM folders WHERE run = ?");
            if (!drop.Bind(1, runId_).Run() || !dropFolders.Bind(1, runId_).Run())
                Fail("written");
        } else {
            Statement end(db_, "UPDATE runs SET ended = ?, files = ?, same = ?, folders = ?, "
                               "state = ? WHERE id = ?");
            if (!end.Bind(1, static_cast<std::int64_t>(std::time(nullptr)))
                     .Bind(2, files)
                     .Bind(3, same)
                     .Bind(4, folders)
                     .BindText(5, StateText(ok ? RunState::Done : RunState::Failed))
                     .Bind(6, runId_)
                     .Run())
                Fail("written");
            else
                SyncLog();
        }
    }
    LockByte(lockFd_, runId_, false);
    runId_ = 0;
    insertFile_.reset();
    insertFolder_.reset();
}

void History::Prune()
{
    if (!problem_.empty())
        return;
    {
        // Most runs find nothing to prune: they ask without taking the write lock.
        Statement count(db_, "SELECT count(*) FROM runs");
        if (count.Step() == SQLITE_ROW && count.Int(0) <= kHistoryRuns)
            return;
    }
    Exec("BEGIN IMMEDIATE");
    Statement old(db_, "SELECT id FROM runs WHERE id NOT IN "
                       "(SELECT id FROM runs ORDER BY id DESC LIMIT ?) AND state NOT IN "
                       "('running', 'undoing')");
    old.Bind(1, kHistoryRuns);
    std::vector<std::int64_t> ids;
    while (old.Step() == SQLITE_ROW)
        ids.push_back(old.Int(0));
    for (const std::int64_t id : ids) {
        for (const char* sql : {"DELETE FROM files WHERE run = ?", "DELETE FROM folders WHERE run = ?",
                                "DELETE FROM runs WHERE id = ?"}) {
            Statement drop(db_, sql);
            drop.Bind(1, id).Run();
        }
    }
    if (!Exec("COMMIT"))
        Exec("ROLLBACK");
}

std::vector<RunRecord> History::Runs(int limit)
{
    std::vector<RunRecord> runs;
    Statement select(db_, (std::string("SELECT ") + kRunColumns +
                           " FROM runs ORDER BY id DESC LIMIT ?").c_str());
    select.Bind(1, limit);
    int step;
    while ((step = select.Step()) == SQLITE_ROW)
        runs.push_back(RunFrom(select));
    if (step != SQLITE_DONE)
        Fail("read");
    return runs;
}

std::optional<RunRecord> History::Run(std::int64_t id)
{
    Statement select(db_, (std::string("SELECT ") + kRunColumns + " FROM runs WHERE id = ?").c_str());
    select.Bind(1, id);
    const int step = select.Step();
    if (step == SQLITE_ROW)
        return RunFrom(select);
    if (step != SQLITE_DONE)
        Fail("read");
    return std::nullopt;
}

std::vector<FileRecord> History::Files(std::int64_t id)
{
    std::vector<FileRecord> files;
    Statement select(db_, "SELECT seq, action, source, dest, dev, ino, size, mtime, mtime_ns, "
                          "ctime, ctime_ns, hash, src_dev, src_ino, src_size, src_mtime, "
                          "src_mtime_ns, src_ctime, src_ctime_ns, state, reason "
                          "FROM files WHERE run = ? ORDER BY seq");
    select.Bind(1, id);
    int step;
    while ((step = select.Step()) == SQLITE_ROW) {
        FileRecord file;
        file.seq = select.Int(0);
        file.action = ActionOf(select.Bytes(1));
        file.source = select.Bytes(2);
        file.dest = select.Bytes(3);
        file.stored = IdentityFrom(select, 4);
        file.hashed = !select.IsNull(11);
        file.hash = static_cast<std::uint64_t>(select.Int(11));
        file.sourceKnown = !select.IsNull(12);
        if (file.sourceKnown)
            file.sourceId = IdentityFrom(select, 12);
        const std::string state = select.Bytes(19);
        file.state = state == "undone" ? FileRecord::State::Undone
                     : state == "left" ? FileRecord::State::Left
                                       : FileRecord::State::Stored;
        file.reason = select.Bytes(20);
        files.push_back(std::move(file));
    }
    if (step != SQLITE_DONE)
        Fail("read");
    return files;
}

std::vector<FolderRecord> History::Folders(std::int64_t id)
{
    std::vector<FolderRecord> folders;
    Statement select(db_, "SELECT path, made, removed FROM folders WHERE run = ? ORDER BY path");
    select.Bind(1, id);
    int step;
    while ((step = select.Step()) == SQLITE_ROW)
        folders.push_back({select.Bytes(0), select.Int(1) != 0, select.Int(2) != 0});
    if (step != SQLITE_DONE)
        Fail("read");
    return folders;
}

std::set<std::string> History::FoldersMadeUnder(const std::string& base)
{
    std::set<std::string> paths;
    Statement select(db_, "SELECT folders.path FROM folders JOIN runs ON folders.run = runs.id "
                          "WHERE runs.base = ? AND folders.made = 1 AND folders.removed = 0");
    select.Bind(1, AbsolutePath(base));
    while (select.Step() == SQLITE_ROW)
        paths.insert(select.Bytes(0));
    return paths;
}

bool History::TryLockRun(std::int64_t id)
{
    return lockFd_ >= 0 && LockByte(lockFd_, id, true);
}

void History::UnlockRun(std::int64_t id)
{
    if (lockFd_ >= 0)
        LockByte(lockFd_, id, false);
}

bool History::Batch()
{
    if (!problem_.empty() || !InTransaction())
        return false;
    if (++pending_ >= kUndoRowsPerCommit)
        return !Commit(false) && Batch();
    return true;
}

std::error_code History::SetState(std::int64_t id, RunState state, std::int64_t pid)
{
    Commit(false);
    Statement update(db_, pid != 0 ? "UPDATE runs SET state = ?, pid = ? WHERE id = ?"
                                   : "UPDATE runs SET state = ? WHERE id = ?");
    update.BindText(1, StateText(state));
    if (pid != 0)
        update.Bind(2, pid).Bind(3, id);
    else
        update.Bind(2, id);
    if (!update.Run())
        Fail("written");
    else
        SyncLog();
    return Error();
}

std::error_code History::SetFileState(std::int64_t id, std::int64_t seq, FileRecord::State state,
                                      const std::string& reason)
{
    if (!Batch())
        return Error();
    if (!setFileState_) // prepared once: an undo writes a row per file
        setFileState_ = std::make_unique<SqlStatement>(
            db_, "UPDATE files SET state = ?, reason = ? WHERE run = ? AND seq = ?");
    if (!setFileState_->BindText(1, FileStateText(state)).BindText(2, reason).Bind(3, id).Bind(4, seq).Run())
        Fail("written");
    return Error();
}

std::error_code History::SetFolderRemoved(std::int64_t id, const std::string& path)
{
    if (!Batch())
        return Error();
    Statement update(db_, "UPDATE folders SET removed = 1 WHERE run = ? AND path = ?");
    if (!update.Bind(1, id).Bind(2, path).Run())
        Fail("written");
    Statement base(db_, "UPDATE runs SET made_base = x'' WHERE id = ? AND made_base = ?");
    if (!base.Bind(1, id).Bind(2, path).Run())
        Fail("written");
    return Error();
}

std::error_code History::AddNote(std::int64_t id, const std::string& note)
{
    Commit(false);
    Statement update(db_, "UPDATE runs SET note = CASE WHEN note = '' THEN ?1 ELSE note || ' ' || ?1 "
                          "END WHERE id = ?2");
    if (!update.BindText(1, note).Bind(2, id).Run())
        Fail("written");
    return Error();
}

// A copy that a killed undo had hidden is back under its name, but the two renames changed
// its change time: the recorded one follows them while the file is still the one stored
// (device, inode, size, modification time and the hash of its whole content), so a later
// undo still knows it.
void History::KeepAfterRenames(std::int64_t id, const std::vector<FileRecord>& files, int dir,
                               const std::string& name, const std::string& path)
{
    for (const FileRecord& file : files) {
        if (file.dest != path || !file.hashed)
            continue;
        const UniqueFd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            return;
        FileIdentity now = IdentityOf(st);
        now.changed = file.stored.changed;
        std::uint64_t hash = 0;
        if (!SameFile(now, file.stored) ||
            !HashFile(fd.get(), static_cast<std::uint64_t>(st.st_size), hash) || hash != file.hash)
            return;
        Statement update(db_, "UPDATE files SET ctime = ?, ctime_ns = ? WHERE run = ? AND seq = ?");
        if (!update.Bind(1, static_cast<std::int64_t>(st.st_ctim.tv_sec))
                 .Bind(2, static_cast<std::int64_t>(st.st_ctim.tv_nsec))
                 .Bind(3, id)
                 .Bind(4, file.seq)
                 .Run())
            Fail("written");
        return;
    }
}

std::vector<std::string> History::RecoverKilledRuns()
{
    std::vector<std::string> notes;
    if (!problem_.empty())
        return notes;
    std::vector<RunRecord> stale;
    {
        Statement select(db_, (std::string("SELECT ") + kRunColumns +
                               " FROM runs WHERE state IN ('running', 'undoing')").c_str());
        while (select.Step() == SQLITE_ROW)
            stale.push_back(RunFrom(select));
    }
    for (const RunRecord& run : stale) {
        if (!TryLockRun(run.id))
            continue; // still going
        // Read again under the lock: it may have ended meanwhile.
        const std::optional<RunRecord> now = Run(run.id);
        if (!now || (now->state != RunState::Running && now->state != RunState::Undoing)) {
            UnlockRun(run.id);
            continue;
        }
        // The hidden names that process gave: ".velmora-KIND-PID-...-NAME".
        char pidText[32];
        std::snprintf(pidText, sizeof pidText, "%x-", static_cast<unsigned>(now->pid));
        const std::vector<FileRecord> files = Files(run.id);
        // folder -> the names the run's files had there (a hidden name ends with the first
        // 150 bytes of its file's name).
        std::map<std::string, std::set<std::string>> folders;
        for (const FolderRecord& folder : Folders(run.id))
            folders[folder.path];
        for (const FileRecord& file : files) {
            folders[FolderOfPath(file.dest)].insert(NameOfPath(file.dest));
            folders[FolderOfPath(file.source)].insert(NameOfPath(file.source));
        }
        std::size_t removed = 0, putBack = 0;
        std::vector<std::string> kept;
        for (const auto& [path, names] : folders) {
            const bool underBase = path.compare(0, now->base.size(), now->base) == 0;
            const UniqueFd dir(underBase ? OpenFolderBelow(now->base, now->baseIsLink, path, false)
                                         : OpenFolderBelow(now->source, now->sourceIsLink, path, false));
            if (dir.get() < 0)
                continue;
            std::vector<std::string> hidden;
            if (DIR* listing = ::fdopendir(::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0))) {
                while (const dirent* entry = ::readdir(listing)) {
                    const std::string name = entry->d_name;
                    for (const char* kind : {"part-", "moved-", "undo-"})
                        if (name.rfind(std::string(kHiddenNamePrefix) + kind + pidText, 0) == 0)
                            hidden.push_back(name);
                }
                ::closedir(listing);
            }
            for (const std::string& name : hidden) {
                struct stat st {};
                if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                    !S_ISREG(st.st_mode))
                    continue;
                if (name.rfind(".velmora-part-", 0) == 0) {
                    // A copy that never got its name: never the only copy of anything.
                    if (::unlinkat(dir.get(), name.c_str(), 0) == 0)
                        ++removed;
                    continue;
                }
                // A source being removed, or a copy being undone: it gets its name back.
                std::string original;
                for (const std::string& candidate : names) {
                    const std::string tail = "-" + candidate.substr(0, 150);
                    if (name.size() > tail.size() &&
                        name.compare(name.size() - tail.size(), tail.size(), tail) == 0)
                        original = candidate;
                }
                if (!original.empty() && ::renameat2(dir.get(), name.c_str(), dir.get(),
                                                     original.c_str(), RENAME_NOREPLACE) == 0) {
                    ++putBack;
                    if (name.rfind(".velmora-undo-", 0) == 0)
                        KeepAfterRenames(run.id, files, dir.get(), original, JoinPath(path, original));
                } else {
                    kept.push_back(JoinPath(path, name));
                }
            }
        }
        const bool undoing = now->state == RunState::Undoing;
        std::string note = std::string(undoing ? "The undo" : "The run") + " (process " +
                           std::to_string(now->pid) + ") was killed";
        if (removed > 0)
            note += "; " + std::to_string(removed) + " unfinished copies were removed";
        if (putBack > 0)
            note += "; " + std::to_string(putBack) + " hidden files got their names back";
        for (const std::string& path : kept)
            note += "; \"" + path + "\" was kept as it is (its name is taken)";
        note += ".";
        std::int64_t storedFiles = static_cast<std::int64_t>(files.size());
        Statement counts(db_, "UPDATE runs SET files = ?, ended = CASE WHEN ended = 0 THEN ? ELSE "
                              "ended END WHERE id = ? AND state = 'running'");
        counts.Bind(1, storedFiles).Bind(2, static_cast<std::int64_t>(std::time(nullptr))).Bind(3, run.id).Run();
        AddNote(run.id, note);
        SetState(run.id, undoing ? RunState::PartlyUndone : RunState::Failed);
        UnlockRun(run.id);
        notes.push_back("run " + std::to_string(run.id) + ": " + note);
    }
    return notes;
}

HistoryOpening::HistoryOpening(std::string path)
{
    const bool nowhere = path.empty();
    const auto open = [path = std::move(path)] {
        Opened opened;
        opened.history = History::Open(path, opened.problem);
        return opened;
    };
    // No place for a history (said at once), or no thread to spare: opened when asked for.
    try {
        opening_ = std::async(nowhere ? std::launch::deferred : std::launch::async, open);
    } catch (const std::system_error&) {
        opening_ = std::async(std::launch::deferred, open);
    }
}

HistoryOpening::Opened& HistoryOpening::Wait()
{
    if (opening_.valid())
        opened_ = opening_.get();
    return opened_;
}

std::set<std::string> FoldersMadeByRuns(const std::string& base)
{
    std::string problem;
    const std::unique_ptr<History> history = History::OpenToRead(HistoryPath(), problem);
    return history ? history->FoldersMadeUnder(base) : std::set<std::string>{};
}

} // namespace engine
