#include "engine/history/undo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/base/path_text.h"
#include "engine/base/unique_fd.h"
#include "engine/storing/content_hash.h"
#include "engine/storing/file_store.h"
#include "engine/storing/same_content.h"

namespace engine {

namespace {

constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

std::string RealPath(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return {};
    std::string result = real;
    std::free(real);
    return result;
}

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

std::string HiddenName(const std::string& name)
{
    static std::atomic<unsigned> counter{0};
    char tag[64];
    std::snprintf(tag, sizeof tag, ".velmora-undo-%x-%x-", static_cast<unsigned>(::getpid()),
                  counter.fetch_add(1));
    return tag + name.substr(0, 150);
}

// Removes name from the folder while it is still the recorded file: it is renamed to a hidden
// name first and compared again there, so nothing that took its place meanwhile is removed.
// errno tells why when it was not removed.
bool RemoveIfSame(int dirFd, const std::string& name, const FileIdentity& recorded)
{
    const std::string hidden = HiddenName(name);
    if (::renameat2(dirFd, name.c_str(), dirFd, hidden.c_str(), RENAME_NOREPLACE) != 0)
        return false;
    struct stat st {};
    bool same = false;
    if (::fstatat(dirFd, hidden.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
        FileIdentity now = IdentityOf(st);
        now.changed = recorded.changed; // the rename itself set it
        same = SameFile(now, recorded);
    }
    if (same && ::unlinkat(dirFd, hidden.c_str(), 0) == 0)
        return true;
    const int error = same ? errno : ECANCELED;
    ::renameat2(dirFd, hidden.c_str(), dirFd, name.c_str(), RENAME_NOREPLACE);
    errno = error;
    return false;
}

// A folder opened for the *at calls, kept while the next file lies in the same folder.
struct CachedFolder {
    std::string path;
    UniqueFd fd;
    int error = 0;
};

class Undo {
public:
    Undo(History& history, const RunRecord& run, bool dryRun)
        : history_(history), run_(run), dryRun_(dryRun)
    {}

    void File(const FileRecord& file)
    {
        current_ = &file;
        const int dir = DestFolder(FolderOfPath(file.dest));
        const std::string name = NameOfPath(file.dest);
        struct stat st {};
        bool present = false;
        if (dir >= 0)
            present = ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        else if (destFolder_.error != ENOENT)
            return Leave(file.dest, "its folder cannot be opened: " + ErrnoText(destFolder_.error));
        switch (file.action) {
        case FileAction::Copied:
            return Copied(file, dir, name, present, st);
        case FileAction::Moved:
            return Moved(file, dir, name, present, st);
        case FileAction::Same:
            return Same(file, dir, name, present, st);
        }
    }

    // The folders the run made, deepest first, and "分類" when it made it: removed when empty.
    void Folders(std::vector<FolderRecord> folders)
    {
        if (!run_.madeBase.empty())
            folders.push_back({run_.madeBase, true, false});
        std::sort(folders.begin(), folders.end(), [](const FolderRecord& a, const FolderRecord& b) {
            return a.path.size() > b.path.size();
        });
        for (const FolderRecord& folder : folders) {
            if (!folder.made || folder.removed)
                continue;
            const bool isBase = folder.path == run_.madeBase;
            const std::string parentPath = FolderOfPath(folder.path);
            const UniqueFd parent(isBase ? ::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                         : OpenFolderBelow(run_.base, run_.baseIsLink, parentPath, false));
            if (parent.get() < 0)
                continue;
            const std::string name = NameOfPath(folder.path);
            if (dryRun_) {
                if (EmptyOrEmptying(parent.get(), name, folder.path)) {
                    result.steps.push_back({UndoStep::Kind::RemoveFolder, folder.path, {}, {}});
                    ++result.foldersRemoved;
                    emptied_.push_back(folder.path);
                }
                continue;
            }
            if (::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) == 0) {
                result.steps.push_back({UndoStep::Kind::RemoveFolder, folder.path, {}, {}});
                ++result.foldersRemoved;
                Record(history_.SetFolderRemoved(run_.id, folder.path));
            } else if (errno == ENOENT) {
                Record(history_.SetFolderRemoved(run_.id, folder.path));
            }
        }
    }

    void Record(std::error_code error)
    {
        if (error && !historyError_)
            historyError_ = error;
    }

    UndoResult result;
    std::error_code historyError_;

private:
    void Done(UndoStep step)
    {
        ++result.undone;
        const bool takesAway =
            step.kind == UndoStep::Kind::Remove || step.kind == UndoStep::Kind::MoveBack;
        result.steps.push_back(std::move(step));
        if (dryRun_) {
            if (takesAway)
                gone_.push_back(current_->dest);
            return;
        }
        Record(history_.SetFileState(run_.id, current_->seq, FileRecord::State::Undone, {}));
    }

    // Already as the undo would leave it (an earlier undo, or done by hand).
    void AlreadyDone()
    {
        ++result.undone;
        if (!dryRun_)
            Record(history_.SetFileState(run_.id, current_->seq, FileRecord::State::Undone, {}));
    }

    void Leave(const std::string& path, const std::string& reason)
    {
        ++result.left;
        result.steps.push_back({UndoStep::Kind::Leave, path, {}, reason});
        if (!dryRun_)
            Record(history_.SetFileState(run_.id, current_->seq, FileRecord::State::Left, reason));
    }

    int DestFolder(const std::string& path)
    {
        return Folder(destFolder_, path, run_.base, run_.baseIsLink, false);
    }

    int SourceFolder(const std::string& path, bool make)
    {
        return Folder(sourceFolder_, path, run_.source, run_.sourceIsLink, make && !dryRun_);
    }

    static int Folder(CachedFolder& cache, const std::string& path, const std::string& top,
                      bool topIsLink, bool make)
    {
        if (cache.path != path || (cache.fd.get() < 0 && make)) {
            cache.path = path;
            cache.fd = UniqueFd(OpenFolderBelow(top, topIsLink, path, make));
            cache.error = cache.fd.get() < 0 ? errno : 0;
        }
        return cache.fd.get();
    }

    // The stored file in the folder is still the very file the run stored: same identity and,
    // when the run hashed it, the same content hash. An open descriptor of it, else why not.
    UniqueFd Unchanged(int dir, const std::string& name, const FileRecord& file,
                       std::string& why)
    {
        UniqueFd fd(::openat(dir, name.c_str(), kReadFlags | O_NOFOLLOW));
        struct stat st {};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            !SameFile(IdentityOf(st), file.stored)) {
            why = "it changed since it was stored";
            return UniqueFd();
        }
        std::uint64_t hash = 0;
        if (file.hashed && (!HashFile(fd.get(), static_cast<std::uint64_t>(st.st_size), hash) ||
                            hash != file.hash)) {
            why = "its content changed since it was stored";
            return UniqueFd();
        }
        return fd;
    }

    // The source holds the same bytes as the stored file open as stored.
    static bool SourceHoldsSame(int sourceDir, const std::string& sourceName, int stored,
                                std::string& why, const std::string& source)
    {
        UniqueFd in(::openat(sourceDir, sourceName.c_str(), kReadFlags));
        if (in.get() < 0) {
            why = errno == ENOENT ? "its source is gone: this is now the only copy"
                                  : "its source \"" + source + "\" cannot be read (" +
                                        ErrnoText(errno) + "): this may be the only copy";
            return false;
        }
        struct stat a {}, b {};
        if (::fstat(stored, &a) == 0 && ::fstat(in.get(), &b) == 0 && a.st_dev == b.st_dev &&
            a.st_ino == b.st_ino) {
            // A source replaced by a link to its copy (as tools that fold duplicates do).
            why = "its source \"" + source + "\" leads to this very file: this is the only copy";
            return false;
        }
        ::lseek(stored, 0, SEEK_SET);
        if (!SameBytes(stored, in.get())) {
            why = "its source \"" + source + "\" no longer holds the same bytes: this copy may be "
                  "the only one of them";
            return false;
        }
        return true;
    }

    void RemoveCopy(const FileRecord& file, int dir, const std::string& name)
    {
        if (dryRun_)
            return Done({UndoStep::Kind::Remove, file.dest, {}, {}});
        if (!RemoveIfSame(dir, name, file.stored))
            return Leave(file.dest, errno == ECANCELED ? std::string("it changed while it was removed")
                                                       : "it could not be removed: " + ErrnoText(errno));
        Done({UndoStep::Kind::Remove, file.dest, {}, {}});
    }

    void Copied(const FileRecord& file, int dir, const std::string& name, bool present,
                const struct stat&)
    {
        if (!present)
            return AlreadyDone(); // the copy is gone already
        std::string why;
        const UniqueFd stored = Unchanged(dir, name, file, why);
        if (stored.get() < 0)
            return Leave(file.dest, why);
        // The source is read as the run read it: by its path (a listed link is followed).
        const std::string sourcePath = FolderOfPath(file.source);
        if (readSource_.path != sourcePath) {
            readSource_.path = sourcePath;
            readSource_.fd = UniqueFd(::open(sourcePath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        }
        const int sourceDir = readSource_.fd.get();
        if (sourceDir < 0 ||
            !SourceHoldsSame(sourceDir, NameOfPath(file.source), stored.get(), why, file.source))
            return Leave(file.dest, sourceDir < 0 ? "its source is gone: this is now the only copy"
                                                  : why);
        RemoveCopy(file, dir, name);
    }

    void Moved(const FileRecord& file, int dir, const std::string& name, bool present,
               const struct stat& st)
    {
        const std::string sourceName = NameOfPath(file.source);
        const int sourceDir = SourceFolder(FolderOfPath(file.source), present);
        struct stat at {};
        const bool sourceTaken =
            sourceDir >= 0 && ::fstatat(sourceDir, sourceName.c_str(), &at, AT_SYMLINK_NOFOLLOW) == 0;
        if (!present) {
            // Back already: the very file (a rename), or the source the run never removed.
            const bool back = sourceTaken && S_ISREG(at.st_mode) &&
                              ((at.st_dev == file.stored.device && at.st_ino == file.stored.inode) ||
                               (file.sourceKnown && at.st_dev == file.sourceId.device &&
                                at.st_ino == file.sourceId.inode) ||
                               CopiedBack(sourceDir, sourceName, file, at));
            return back ? AlreadyDone() : Leave(file.dest, "it is gone");
        }
        if (!S_ISREG(st.st_mode) || !SameFile(IdentityOf(st), file.stored))
            return Leave(file.dest, "it changed since it was moved");
        if (sourceDir < 0)
            return Leave(file.dest, "its source folder \"" + FolderOfPath(file.source) +
                                        "\" cannot be opened: " + ErrnoText(sourceFolder_.error));
        if (sourceTaken) {
            // A move across file systems killed before it removed its source: both are there.
            // The stored file goes only while it is a copy of what the source still holds.
            std::string why;
            if (file.sourceKnown && S_ISREG(at.st_mode)) {
                const UniqueFd stored = Unchanged(dir, name, file, why);
                if (stored.get() >= 0 &&
                    SourceHoldsSame(sourceDir, sourceName, stored.get(), why, file.source))
                    return RemoveCopy(file, dir, name);
            }
            return Leave(file.dest, "\"" + file.source + "\" is in the way");
        }
        if (dryRun_)
            return Done({UndoStep::Kind::MoveBack, file.dest, file.source, {}});
        if (::renameat2(dir, name.c_str(), sourceDir, sourceName.c_str(), RENAME_NOREPLACE) == 0) {
            // What went back must be what was looked at; anything else goes back where it was.
            struct stat now {};
            if (::fstatat(sourceDir, sourceName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                now.st_dev == st.st_dev && now.st_ino == st.st_ino)
                return Done({UndoStep::Kind::MoveBack, file.dest, file.source, {}});
            ::renameat2(sourceDir, sourceName.c_str(), dir, name.c_str(), RENAME_NOREPLACE);
            return Leave(file.dest, "it was replaced while it was moved back");
        }
        if (errno == EEXIST)
            return Leave(file.dest, "\"" + file.source + "\" is in the way");
        if (errno != EXDEV)
            return Leave(file.dest, "it could not be moved back: " + ErrnoText(errno));
        CopyBack(file, dir, name, sourceDir, true);
    }

    // The source holds a copy of the stored file, whole: an undo across file systems copied it
    // back and was killed before it could record so.
    static bool CopiedBack(int sourceDir, const std::string& sourceName, const FileRecord& file,
                           const struct stat& at)
    {
        if (!file.hashed || at.st_size != file.stored.size)
            return false;
        const UniqueFd fd(::openat(sourceDir, sourceName.c_str(), kReadFlags | O_NOFOLLOW));
        std::uint64_t hash = 0;
        return fd.get() >= 0 && HashFile(fd.get(), static_cast<std::uint64_t>(at.st_size), hash) &&
               hash == file.hash;
    }

    // Copies the stored file back to its source name (flushed); with removeStored the stored
    // file is then removed while it is still the file recorded.
    void CopyBack(const FileRecord& file, int dir, const std::string& name, int sourceDir,
                  bool removeStored)
    {
        const std::string from = "/proc/self/fd/" + std::to_string(dir) + "/" + name;
        const StoreResult copied =
            StoreCopy(from, {sourceDir, FolderOfPath(file.source)}, NameOfPath(file.source), true);
        if (copied.status == StoreResult::Status::NameTaken)
            return Leave(file.dest, "\"" + file.source + "\" is in the way");
        if (copied.status != StoreResult::Status::Stored)
            return Leave(file.dest, "it could not be copied back: " + copied.error.message());
        if (removeStored && !RemoveIfSame(dir, name, file.stored))
            return Leave(file.dest, "it was copied back to \"" + file.source +
                                        "\" but changed meanwhile, so it was kept too");
        Done({UndoStep::Kind::CopyBack, file.dest, file.source, {}});
    }

    void Same(const FileRecord& file, int dir, const std::string& name, bool present,
              const struct stat&)
    {
        const std::string sourceName = NameOfPath(file.source);
        const int sourceDir = SourceFolder(FolderOfPath(file.source), present);
        struct stat at {};
        if (sourceDir >= 0 && ::fstatat(sourceDir, sourceName.c_str(), &at, AT_SYMLINK_NOFOLLOW) == 0) {
            // Back already when it holds the stored file's bytes; else something is in the way.
            std::string why;
            const UniqueFd stored =
                present ? Unchanged(dir, name, file, why) : UniqueFd();
            if (stored.get() >= 0 && S_ISREG(at.st_mode) &&
                SourceHoldsSame(sourceDir, sourceName, stored.get(), why, file.source))
                return AlreadyDone();
            return Leave(file.dest, "\"" + file.source + "\" is in the way");
        }
        if (!present)
            return Leave(file.dest, "it is gone, so \"" + file.source + "\" cannot be restored");
        std::string why;
        if (Unchanged(dir, name, file, why).get() < 0)
            return Leave(file.dest, why + ", so \"" + file.source + "\" cannot be restored from it");
        if (sourceDir < 0)
            return Leave(file.dest, "its source folder \"" + FolderOfPath(file.source) +
                                        "\" cannot be opened: " + ErrnoText(sourceFolder_.error));
        if (dryRun_)
            return Done({UndoStep::Kind::CopyBack, file.dest, file.source, {}});
        CopyBack(file, dir, name, sourceDir, false);
    }

    // Dry run: the folder holds nothing but what the undo would take away.
    bool EmptyOrEmptying(int parent, const std::string& name, const std::string& path)
    {
        const UniqueFd fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.get() < 0)
            return false;
        DIR* listing = ::fdopendir(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
        if (listing == nullptr)
            return false;
        bool empty = true;
        while (const dirent* entry = ::readdir(listing)) {
            const std::string child = entry->d_name;
            if (child == "." || child == "..")
                continue;
            const std::string childPath = JoinPath(path, child);
            if (std::find(gone_.begin(), gone_.end(), childPath) == gone_.end() &&
                std::find(emptied_.begin(), emptied_.end(), childPath) == emptied_.end()) {
                empty = false;
                break;
            }
        }
        ::closedir(listing);
        return empty;
    }

    History& history_;
    const RunRecord& run_;
    bool dryRun_;
    const FileRecord* current_ = nullptr;
    CachedFolder destFolder_, sourceFolder_;
    CachedFolder readSource_; // a copy's source folder, opened by its path
    std::vector<std::string> gone_, emptied_; // dry run: what the undo would take away
};

} // namespace

std::optional<RunRecord> ChooseRunToUndo(History& history, std::optional<std::int64_t> id,
                                         const std::string& folder, std::string& message)
{
    if (id) {
        std::optional<RunRecord> run = history.Run(*id);
        if (!run)
            message = history.Problem().empty()
                          ? "there is no run " + std::to_string(*id) + " in the history"
                          : history.Problem();
        return run;
    }
    const std::string absolute = folder.empty() ? std::string() : AbsolutePath(folder);
    const std::string real = folder.empty() ? std::string() : RealPath(folder);
    for (const RunRecord& run : history.Runs()) {
        if (run.state == RunState::Undone)
            continue;
        if (folder.empty() || run.source == absolute || (!real.empty() && RealPath(run.source) == real))
            return run;
    }
    if (!history.Problem().empty())
        message = history.Problem();
    else if (folder.empty())
        message = "there is no run to undo";
    else
        message = "there is no run of \"" + absolute + "\" to undo";
    return std::nullopt;
}

UndoResult UndoRun(History& history, std::int64_t id, bool dryRun)
{
    UndoResult result;
    if (!dryRun)
        history.RecoverKilledRuns();
    if (!history.TryLockRun(id)) {
        result.message = "run " + std::to_string(id) +
                         " is still going or being undone by another process; undo it once that "
                         "has ended";
        return result;
    }
    const std::optional<RunRecord> run = history.Run(id);
    if (!run || run->state == RunState::Undone ||
        (dryRun && (run->state == RunState::Running || run->state == RunState::Undoing))) {
        history.UnlockRun(id);
        if (!run)
            result.message = history.Problem().empty()
                                 ? "there is no run " + std::to_string(id) + " in the history"
                                 : history.Problem();
        else if (run->state == RunState::Undone)
            result.message = "run " + std::to_string(id) + " is undone already";
        else
            result.message = "run " + std::to_string(id) +
                             " was killed; an undo would first finish what it left";
        return result;
    }
    result.started = true;
    result.run = *run;
    std::vector<FileRecord> files = history.Files(id);
    const std::vector<FolderRecord> folders = history.Folders(id);
    if (!history.Problem().empty()) {
        history.UnlockRun(id);
        result.started = false;
        result.message = history.Problem() + "; nothing was undone";
        return result;
    }
    Undo undo(history, result.run, dryRun);
    if (!dryRun)
        undo.Record(history.SetState(id, RunState::Undoing, ::getpid()));
    for (auto it = files.rbegin(); it != files.rend(); ++it)
        if (it->state != FileRecord::State::Undone)
            undo.File(*it);
    undo.Folders(folders);
    UndoResult done = std::move(undo.result);
    done.started = true;
    done.run = result.run;
    if (!dryRun) {
        undo.Record(history.SetState(id, done.left == 0 ? RunState::Undone : RunState::PartlyUndone));
        if (undo.historyError_)
            done.message = history.Problem().empty() ? "the undo history could not be written: " +
                                                           undo.historyError_.message()
                                                     : history.Problem();
    }
    history.UnlockRun(id);
    done.complete = done.left == 0 && done.message.empty();
    return done;
}

} // namespace engine
