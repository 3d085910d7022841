#include "engine/classification_run.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "engine/date_source.h"
#include "engine/dest_folder.h"
#include "engine/file_entry.h"
#include "engine/file_store.h"
#include "engine/naming.h"
#include "engine/path_text.h"

namespace engine {

namespace {

// A file's record and the name it was listed by: the source is always opened by that name,
// since the record's BaseName may have been lowered.
struct Record {
    FileEntry entry;
    std::string listedName;
};

RunError Failure(std::error_code code, std::string path, std::string step)
{
    RunError error;
    error.kind = RunError::Kind::Failure;
    error.code = code;
    error.message = "Cannot " + step + " \"" + path + "\": " + code.message() + " (error " +
                    std::to_string(code.value()) + ").";
    error.path = std::move(path);
    error.step = std::move(step);
    return error;
}

// Comb sort by SortKey: the gap shrinks by 1.3 each pass down to 1, and the passes at gap 1
// go on until one makes no exchange. The passes work on a compact list of (key, position)
// pairs rather than on the records: the same comparisons and exchanges, so the same order
// (equal keys included), without dragging the large records through memory on every exchange.
// The records are then put in that order in place, each moved once.
void CombSort(std::vector<Record>& records, std::size_t n)
{
    std::vector<std::pair<std::string_view, std::size_t>> items(n);
    for (std::size_t i = 0; i < n; ++i)
        items[i] = {records[i].entry.SortKey, i};
    std::size_t gap = n;
    for (;;) {
        gap = static_cast<std::size_t>(static_cast<double>(gap) / 1.3);
        if (gap <= 1)
            gap = 1;
        std::size_t exchanges = 0;
        for (std::size_t i = 0; i + gap < n; ++i) {
            const std::size_t j = i + gap;
            if (items[i].first > items[j].first) {
                std::swap(items[i], items[j]);
                ++exchanges;
            }
        }
        if (gap == 1 && exchanges == 0)
            break;
    }
    // Position k takes the record that was at items[k].second: follow each cycle once.
    for (std::size_t start = 0; start < n; ++start) {
        if (items[start].second == start)
            continue;
        Record held = std::move(records[start]);
        std::size_t k = start;
        while (items[k].second != start) {
            const std::size_t from = items[k].second;
            records[k] = std::move(records[from]);
            items[k].second = k;
            k = from;
        }
        records[k] = std::move(held);
        items[k].second = k;
    }
}

// A cross-file-system move whose copy is stored and whose source waits for the next flush.
struct PendingSource {
    std::string source;
    std::string copyPath;
    FileIdentity copied;
};

// Moves to another file system are flushed once per batch of this many files or bytes.
constexpr std::size_t kBatchFiles = 64;
constexpr std::uint64_t kBatchBytes = std::uint64_t{256} << 20;

class Run {
public:
    Run(const RunOptions& options, RunHost& host, const RunSettings& settings)
        : options_(options), host_(host), settings_(settings)
    {}
    ~Run()
    {
        CloseFd(baseFd_);
        CloseFd(folder_.fd);
        for (FlushTarget& target : flushTargets_)
            CloseFd(target.fd);
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    RunResult Execute()
    {
        host_.SetBusy(true);
        if (FirstPass() && SettleBase())
            SecondPass();
        // Also after a failure: what was stored goes to disk, and the sources of a batch whose
        // copies are flushed are removed, so each file is either moved or untouched.
        if (!settings_.dryRun)
            Finish();
        result_.ok = !failed_;
        host_.Refresh();
        host_.SetBusy(false);
        host_.SetProgress(0);
        return result_;
    }

private:
    // Records the first failure of the run; later ones are consequences of it or can wait.
    bool Fail(RunError error)
    {
        if (!failed_)
            result_.error = std::move(error);
        failed_ = true;
        return false;
    }

    bool Fail(const StoreResult& stored)
    {
        RunError error = Failure(stored.error, stored.errorPath, StepText(stored.step));
        if (!stored.message.empty())
            error.message = stored.message;
        return Fail(std::move(error));
    }

    static void CloseFd(int& fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    bool FirstPass()
    {
        sourceFolder_ = host_.SourceFolder();
        const std::vector<std::string> names = host_.ListedNames();
        n_ = names.size();
        records_.resize(n_ + 1); // the last record stays empty: "the record after the last file"
        DateSource* media = options_.MediaDates == 1 ? host_.MediaDateSource() : nullptr;
        for (std::size_t i = 0; i < n_; ++i) {
            Record& record = records_[i];
            record.listedName = names[i];
            SetNameFields(record.entry, names[i], options_);
            const std::string source = JoinPath(sourceFolder_, names[i]);
            if (auto error = SetDateFieldsFromFileTime(record.entry, source))
                return Fail(Failure(error, source, "read the date of"));
            record.entry.CameraModel.clear();
            if (auto error = ReadFileDates(source, names[i], record.entry, options_, media))
                return Fail(Failure(error, source, "read"));
            BuildKeys(record.entry);
        }
        CombSort(records_, n_);
        return true;
    }

    bool SettleBase()
    {
        // A dry run must not create the "分類" folder, and a run without files makes nothing.
        const bool create = !settings_.dryRun && n_ > 0;
        const DestBaseResult base = SettleDestBase(options_, sourceFolder_, host_, create);
        if (base.error) {
            RunError error = Failure(base.error, base.errorPath, "use the destination folder");
            if (!base.message.empty())
                error.message = base.message;
            return Fail(std::move(error));
        }
        destBase_ = base.path;
        if (n_ == 0)
            return true;
        // The base itself may be a link: the user chose it. Date folders are opened below it.
        baseFd_ = ::open(destBase_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (baseFd_ < 0 && !(settings_.dryRun && errno == ENOENT))
            return Fail(
                Failure({errno, std::generic_category()}, destBase_, "use the destination folder"));
        const long nameMax = baseFd_ >= 0 ? ::fpathconf(baseFd_, _PC_NAME_MAX) : -1;
        if (nameMax > 0)
            nameMax_ = static_cast<std::size_t>(nameMax);
        return true;
    }

    bool SecondPass()
    {
        SerialCounter serial;
        for (std::size_t i = 0; i < n_; ++i) {
            if (host_.StopRequested()) {
                RunError error;
                error.kind = RunError::Kind::Stopped;
                error.code.assign(ECANCELED, std::generic_category());
                error.step = "stop";
                error.message = "The run was stopped before \"" +
                                JoinPath(sourceFolder_, records_[i].listedName) + "\".";
                return Fail(std::move(error));
            }
            host_.SetProgress(
                static_cast<int>(static_cast<float>(i) / static_cast<float>(n_) * 100.0f));
            const Record& record = records_[i];
            const std::string source = JoinPath(sourceFolder_, record.listedName);
            const std::string dateFolder = DateFolder(destBase_, options_.DirPattern, record.entry);
            if (!EnterFolder(dateFolder))
                return false;
            const long number =
                serial.BeforeFile(i == 0 ? nullptr : &records_[i - 1].entry, record.entry);
            if (!Store(record, source, dateFolder, number))
                return false;
            serial.AfterFile(record.entry, records_[i + 1].entry);
        }
        return true;
    }

    // Makes (or, in a dry run, checks) the date folder and opens it for the stores.
    bool EnterFolder(const std::string& dateFolder)
    {
        const std::string name = NameOfPath(dateFolder);
        if (settings_.dryRun) {
            if (!plannedFolders_.insert(dateFolder).second)
                return true;
            DateFolderResult opened;
            // A listed file of that name that an earlier move took away is no obstacle.
            if (baseFd_ >= 0 && plannedMoves_.count(dateFolder) == 0)
                opened = OpenDateFolder(baseFd_, destBase_, name, false);
            if (opened.error)
                return FolderFailure(opened, dateFolder);
            if (opened.fd < 0) {
                ++result_.foldersMade;
                absentFolders_.insert(dateFolder);
            }
            CloseFd(opened.fd);
            return true;
        }
        if (folder_.fd >= 0 && folder_.path == dateFolder)
            return true; // still open from the previous file
        CloseFd(folder_.fd);
        DateFolderResult opened = OpenDateFolder(baseFd_, destBase_, name, true);
        if (opened.error)
            return FolderFailure(opened, dateFolder);
        if (opened.created)
            ++result_.foldersMade;
        folder_ = {opened.fd, dateFolder};
        return WatchForFlush(folder_);
    }

    bool FolderFailure(const DateFolderResult& opened, const std::string& dateFolder)
    {
        RunError error = Failure(opened.error, dateFolder, "create the folder");
        if (!opened.message.empty())
            error.message = opened.message;
        return Fail(std::move(error));
    }

    // Remembers the file system of a folder stores go into, for the flushes.
    bool WatchForFlush(const FolderHandle& folder)
    {
        struct stat st {};
        if (::fstat(folder.fd, &st) != 0)
            return Fail(Failure({errno, std::generic_category()}, folder.path, "open the folder"));
        for (const FlushTarget& target : flushTargets_) {
            if (target.device == st.st_dev) {
                perFileFlush_ = target.perFile;
                return true;
            }
        }
        FlushTarget target{st.st_dev, ::fcntl(folder.fd, F_DUPFD_CLOEXEC, 0), folder.path,
                           NeedsPerFileFlush(folder.fd)};
        if (target.fd < 0)
            return Fail(Failure({errno, std::generic_category()}, folder.path, "open the folder"));
        perFileFlush_ = target.perFile;
        flushTargets_.push_back(std::move(target));
        return true;
    }

    bool Store(const Record& record, const std::string& source, const std::string& dateFolder,
               long number)
    {
        const NameTakenTest taken = [this](const std::string& folder, const std::string& name) {
            if (!settings_.dryRun)
                return NameTakenAt(folder_.fd, name);
            if (plannedPaths_.count(JoinPath(folder, name)) != 0)
                return true;
            // Nothing can hold a name in a folder that does not exist: no status call per file.
            return absentFolders_.count(folder) == 0 && NameTaken(folder, name);
        };
        // A name can be taken between its resolution and the store; then resolve again. Each
        // round sees one more name taken, so this ends at the latest with an overflow.
        for (;;) {
            const DestPath dest = MakeDestFilePath(record.entry, dateFolder, options_.RenamePattern,
                                                   number, options_, taken);
            if (dest.overflow) {
                RunError error;
                error.kind = RunError::Kind::SuffixOverflow;
                error.path = JoinPath(dateFolder, NameStem(record.entry, options_.RenamePattern,
                                                           options_.YYYY, number) +
                                                      NameTail(record.entry));
                error.step = "name";
                error.message = SuffixOverflowMessage;
                return Fail(std::move(error));
            }
            const std::string name = NameOfPath(dest.path);
            if (name.size() > nameMax_) // seen alike by the dry run and the real one
                return Fail(Failure({ENAMETOOLONG, std::generic_category()}, dest.path, "store"));
            if (settings_.dryRun) {
                plannedPaths_.insert(dest.path);
                if (options_.Move == 1)
                    plannedMoves_.insert(source);
                Stored(source, dest.path);
                return true;
            }
            if (settings_.beforeStore)
                settings_.beforeStore(dest.path);
            const StoreResult stored = options_.Move == 1
                                           ? StoreMove(source, folder_, name, perFileFlush_)
                                           : StoreCopy(source, folder_, name, perFileFlush_);
            switch (stored.status) {
            case StoreResult::Status::Stored:
                unflushed_ = true;
                Stored(source, dest.path);
                return !stored.sourceLeft || SourceLeft(source, dest.path, stored);
            case StoreResult::Status::NameTaken:
                continue;
            case StoreResult::Status::Failed:
                return Fail(stored);
            }
        }
    }

    // A move's copy is stored and its source still in place: remove it now where each file is
    // flushed on its own, else once its batch is flushed.
    bool SourceLeft(const std::string& source, const std::string& copyPath,
                    const StoreResult& stored)
    {
        if (perFileFlush_) {
            const StoreResult removed = RemoveMovedSource(source, stored.copied, copyPath);
            return removed.status == StoreResult::Status::Stored || Fail(removed);
        }
        pending_.push_back({source, copyPath, stored.copied});
        pendingBytes_ += stored.bytes;
        if (pending_.size() >= kBatchFiles || pendingBytes_ >= kBatchBytes)
            return FlushBatch();
        return true;
    }

    // Flushes the copies of the batch, then removes their sources. A failed flush removes none.
    bool FlushBatch()
    {
        if (pending_.empty())
            return true;
        bool ok = FlushAll();
        if (ok) {
            for (const PendingSource& p : pending_) {
                const StoreResult removed = RemoveMovedSource(p.source, p.copied, p.copyPath);
                if (removed.status != StoreResult::Status::Stored)
                    ok = Fail(removed);
            }
        }
        pending_.clear();
        pendingBytes_ = 0;
        return ok;
    }

    bool FlushAll()
    {
        for (const FlushTarget& target : flushTargets_)
            if (const std::error_code error = FlushFileSystem(target.fd))
                return Fail(Failure(error, target.path, "flush"));
        unflushed_ = false;
        return true;
    }

    void Finish()
    {
        FlushBatch();
        if (unflushed_)
            FlushAll();
    }

    void Stored(const std::string& source, const std::string& destination)
    {
        ++result_.filesStored;
        host_.Stored(source, destination);
    }

    static std::string StepText(const std::string& step)
    {
        if (step == "write" || step == "create")
            return step + " the copy";
        return step;
    }

    // A file system stores went into, with a descriptor to flush it by.
    struct FlushTarget {
        dev_t device;
        int fd;
        std::string path;
        bool perFile; // a flush of the whole file system is not trusted there
    };

    const RunOptions& options_;
    RunHost& host_;
    const RunSettings& settings_;
    RunResult result_;
    bool failed_ = false;
    std::string sourceFolder_;
    std::string destBase_;
    int baseFd_ = -1;
    std::size_t nameMax_ = 255;
    FolderHandle folder_; // the date folder of the file being stored, owned
    std::vector<FlushTarget> flushTargets_;
    bool perFileFlush_ = false;
    bool unflushed_ = false;
    std::vector<PendingSource> pending_;
    std::uint64_t pendingBytes_ = 0;
    std::size_t n_ = 0;
    std::vector<Record> records_;
    std::set<std::string> plannedPaths_;   // dry run: names handed out so far
    std::set<std::string> plannedFolders_; // dry run: date folders seen so far
    std::set<std::string> absentFolders_;  // dry run: those of them that do not exist yet
    std::set<std::string> plannedMoves_;   // dry run: sources moved away so far
};

} // namespace

RunResult ClassificationRun(const RunOptions& options, RunHost& host, const RunSettings& settings)
{
    return Run(options, host, settings).Execute();
}

} // namespace engine
