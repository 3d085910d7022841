#include "engine/journal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/content_hash.h"
#include "engine/json_line.h"
#include "engine/path_text.h"

namespace engine {

namespace {

constexpr const char* kSuffix = ".jsonl";
constexpr off_t kMaxJournal = off_t{1} << 30;

std::error_code Errno(int value)
{
    return {value, std::generic_category()};
}

// Makes folder and its missing parents, private to the user.
std::error_code MakeFolders(const std::string& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? std::error_code{} : Errno(ENOTDIR);
    const std::string parent = FolderOfPath(folder);
    if (parent != folder && parent != "." && parent != "/")
        if (const std::error_code error = MakeFolders(parent))
            return error;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return Errno(errno);
    return {};
}

const char* OpName(JournalEntry::Op op)
{
    switch (op) {
    case JournalEntry::Op::Move:
        return "move";
    case JournalEntry::Op::Same:
        return "same";
    default:
        return "copy";
    }
}

bool WriteAll(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<JournalEntry> EntryOf(const JsonObject& line, JournalEntry::Op op)
{
    JournalEntry entry;
    entry.op = op;
    const auto source = line.GetString("source");
    const auto dest = line.GetString("dest");
    const auto size = line.GetInt("size");
    const auto mtime = line.GetInt("mtime"), mtimeNs = line.GetInt("mtime_ns");
    const auto ctime = line.GetInt("ctime"), ctimeNs = line.GetInt("ctime_ns");
    const auto dev = line.GetUnsigned("dev"), ino = line.GetUnsigned("ino");
    if (!source || !dest || !size || !mtime || !mtimeNs || !ctime || !ctimeNs || !dev || !ino ||
        source->empty() || dest->empty())
        return std::nullopt;
    entry.source = *source;
    entry.dest = *dest;
    entry.stored.size = static_cast<off_t>(*size);
    entry.stored.modified = {static_cast<std::time_t>(*mtime), static_cast<long>(*mtimeNs)};
    entry.stored.changed = {static_cast<std::time_t>(*ctime), static_cast<long>(*ctimeNs)};
    entry.stored.device = static_cast<dev_t>(*dev);
    entry.stored.inode = static_cast<ino_t>(*ino);
    if (const auto hash = line.GetString("hash")) {
        if (!HashFromHex(*hash, entry.hash))
            return std::nullopt;
        entry.hashed = true;
    }
    return entry;
}

} // namespace

std::string UtcText(std::time_t time)
{
    std::tm utc{};
    ::gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string JournalFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')
        return JoinPath(state, "velmora/journal");
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return JoinPath(home, ".local/state/velmora/journal");
    return {};
}

JournalWriter::~JournalWriter()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void JournalWriter::Start(const std::string& folder, const std::string& source,
                          const std::string& base, bool move)
{
    folder_ = folder;
    ::clock_gettime(CLOCK_REALTIME, &started_);
    header_ = JsonLine()
                  .Add("velmora", "journal")
                  .Add("version", std::int64_t{1})
                  .Add("started", UtcText(started_.tv_sec))
                  .Add("source", source)
                  .Add("base", base)
                  .AddBool("move", move)
                  .Text();
}

std::error_code JournalWriter::Write(const std::string& line)
{
    if (error_ || folder_.empty())
        return error_;
    if (fd_ < 0) {
        if ((error_ = MakeFolders(folder_)))
            return error_;
        // Named by the start time, to the microsecond, and the process: the names sort by time.
        std::tm utc{};
        ::gmtime_r(&started_.tv_sec, &utc);
        char name[96];
        const std::size_t n = std::strftime(name, sizeof name, "%Y%m%dT%H%M%S", &utc);
        std::snprintf(name + n, sizeof name - n, ".%06ldZ-%d%s", started_.tv_nsec / 1000,
                      static_cast<int>(::getpid()), kSuffix);
        path_ = JoinPath(folder_, name);
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = Errno(errno);
            path_.clear();
            return error_;
        }
        if (!WriteAll(fd_, header_))
            return error_ = Errno(errno != 0 ? errno : EIO);
    }
    if (!WriteAll(fd_, line))
        return error_ = Errno(errno != 0 ? errno : EIO);
    dirty_ = true;
    return {};
}

std::error_code JournalWriter::FolderMade(const std::string& path)
{
    return Write(JsonLine().Add("op", "folder").Add("path", path).Text());
}

std::error_code JournalWriter::Stored(const JournalEntry& entry)
{
    JsonLine line;
    line.Add("op", OpName(entry.op))
        .Add("source", entry.source)
        .Add("dest", entry.dest)
        .Add("size", static_cast<std::int64_t>(entry.stored.size))
        .Add("mtime", static_cast<std::int64_t>(entry.stored.modified.tv_sec))
        .Add("mtime_ns", static_cast<std::int64_t>(entry.stored.modified.tv_nsec))
        .Add("ctime", static_cast<std::int64_t>(entry.stored.changed.tv_sec))
        .Add("ctime_ns", static_cast<std::int64_t>(entry.stored.changed.tv_nsec))
        .AddUnsigned("dev", static_cast<std::uint64_t>(entry.stored.device))
        .AddUnsigned("ino", static_cast<std::uint64_t>(entry.stored.inode));
    if (entry.hashed)
        line.Add("hash", HashHex(entry.hash));
    return Write(line.Text());
}

std::error_code JournalWriter::Flush()
{
    if (fd_ < 0 || !dirty_ || error_)
        return error_;
    if (::fdatasync(fd_) != 0)
        return error_ = Errno(errno);
    dirty_ = false;
    return {};
}

bool ReadJournal(const std::string& path, Journal& journal, std::error_code& error)
{
    journal = {};
    error.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = Errno(errno);
        return false;
    }
    struct stat st {};
    std::string text;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxJournal) {
        error = Errno(S_ISREG(st.st_mode) ? EFBIG : EINVAL);
        ::close(fd);
        return false;
    }
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = Errno(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(got);

    bool first = true;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            break; // torn by a kill: not a line
        const std::string_view raw = std::string_view(text).substr(pos, end - pos);
        pos = end + 1;
        const std::optional<JsonObject> line = ParseJsonLine(raw);
        if (first) {
            first = false;
            if (!line || line->GetString("velmora") != "journal" || line->GetInt("version") != 1) {
                error = Errno(EINVAL);
                return false;
            }
            journal.source = line->GetString("source").value_or("");
            journal.base = line->GetString("base").value_or("");
            journal.move = line->GetBool("move").value_or(false);
            continue;
        }
        const std::optional<std::string> op = line ? line->GetString("op") : std::nullopt;
        std::optional<JournalEntry> entry;
        if (op == "copy")
            entry = EntryOf(*line, JournalEntry::Op::Copy);
        else if (op == "move")
            entry = EntryOf(*line, JournalEntry::Op::Move);
        else if (op == "same")
            entry = EntryOf(*line, JournalEntry::Op::Same);
        if (entry) {
            journal.entries.push_back(std::move(*entry));
        } else if (op == "folder" && line->GetString("path")) {
            journal.folders.push_back(*line->GetString("path"));
        } else if (op == "undone") {
            journal.undone = line->GetBool("complete").value_or(false);
        } else {
            ++journal.damagedLines;
        }
    }
    if (first) {
        error = Errno(EINVAL);
        return false;
    }
    return true;
}

std::error_code MarkJournalUndone(const std::string& path, bool complete)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return Errno(errno);
    std::string line;
    struct stat st {};
    char last = '\n';
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 &&
        last != '\n')
        line = "\n"; // end a torn line first: it stays a damaged line of its own
    line += JsonLine()
                .Add("op", "undone")
                .Add("at", UtcText(std::time(nullptr)))
                .AddBool("complete", complete)
                .Text();
    std::error_code error;
    if (!WriteAll(fd, line) || ::fdatasync(fd) != 0)
        error = Errno(errno != 0 ? errno : EIO);
    ::close(fd);
    return error;
}

std::string NewestJournal(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name[0] != '.' && name.size() > 6 && name.compare(name.size() - 6, 6, kSuffix) == 0)
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.rbegin(), names.rend());
    for (const std::string& name : names) {
        Journal journal;
        std::error_code error;
        const std::string path = JoinPath(folder, name);
        if (ReadJournal(path, journal, error) && !journal.undone)
            return path;
    }
    return {};
}

} // namespace engine
