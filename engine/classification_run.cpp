#include "engine/classification_run.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/base/file_entry.h"
#include "engine/base/path_text.h"
#include "engine/base/unique_fd.h"
#include "engine/companions.h"
#include "engine/dating/date_source.h"
#include "engine/dating/open_dates.h"
#include "engine/history/history.h"
#include "engine/naming/folder_template.h"
#include "engine/naming/naming.h"
#include "engine/run_records.h"
#include "engine/storing/dest_folder.h"
#include "engine/storing/file_store.h"
#include "engine/storing/same_content.h"
#include "engine/storing/source_tree.h"

namespace engine {

namespace {

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

// A cross-file-system move whose copy is stored and whose source waits for the next flush.
struct PendingSource {
    UniqueFd dir;     // the source's folder
    std::string name; // the source's name in it
    std::string source;
    std::string copyPath;
    FileIdentity copied;
    // SkipSame: the stored file as compared; the source goes only while it is still so.
    std::optional<FileIdentity> stored;
};

RunError WithMessage(RunError error, const std::string& message)
{
    if (!message.empty())
        error.message = message;
    return error;
}

// Failures that concern the destination as a whole: every later file would meet them too.
bool IsDestinationFailure(const std::error_code& code)
{
    return code.value() == ENOSPC || code.value() == EDQUOT || code.value() == EROFS;
}

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
        if (CheckTemplate() && FirstPass() && SettleBase())
            SecondPass();
        // Also after a failure: what was stored goes to disk, and the sources of a batch whose
        // copies are flushed are removed, so each file is either moved or untouched.
        if (!settings_.dryRun)
            Finish();
        result_.ok = !failed_;
        if (recording_) {
            history_->EndRun(result_.ok, static_cast<std::int64_t>(result_.filesStored),
                             static_cast<std::int64_t>(result_.filesSame),
                             static_cast<std::int64_t>(result_.foldersMade));
            if (!history_->Problem().empty())
                result_.historyProblem = history_->Problem() + "; this run cannot be undone completely.";
        }
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

    bool Fail(const StoreResult& stored) { return Fail(StoreError(stored)); }

    static RunError StoreError(const StoreResult& stored)
    {
        return WithMessage(Failure(stored.error, stored.errorPath, StepText(stored.step)),
                           stored.message);
    }

    // A failure of one file: with KeepGoing it is named and the run goes on (true), else the
    // run stops there.
    bool FileFailed(RunError error)
    {
        if (options_.KeepGoing != 1)
            return Fail(std::move(error));
        result_.skipped.push_back(std::move(error));
        return true;
    }

    // A store that failed on the side of its source (unreadable, changed, a link of another
    // user) is a failure of that file; anything else concerns the destination.
    bool StoreFailed(const StoreResult& stored, const std::string& source)
    {
        if (stored.errorPath == source && !IsDestinationFailure(stored.error))
            return FileFailed(StoreError(stored));
        return Fail(stored);
    }

    static void CloseFd(int& fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    // Starts the run's record: first the history is kept in bounds and what killed runs left
    // is finished, then the run is entered as running.
    void BeginHistory(bool madeBase)
    {
        history_->Prune();
        history_->RecoverKilledRuns();
        RunRecord run;
        run.source = sourceFolder_;
        run.base = destBase_;
        run.move = options_.Move == 1;
        run.options = OptionsText();
        if (madeBase)
            run.madeBase = destBase_;
        result_.historyRun = history_->BeginRun(run);
        recording_ = result_.historyRun != 0;
        if (!recording_ && !history_->Problem().empty())
            result_.historyProblem = history_->Problem() + "; this run cannot be undone.";
    }

    std::string OptionsText() const
    {
        std::string text = "DirPattern=" + std::to_string(options_.DirPattern) +
                           " RenamePattern=" + std::to_string(options_.RenamePattern) +
                           " DestPattern=" + std::to_string(options_.DestPattern);
        const std::pair<const char*, std::int16_t> flags[] = {
            {"FileNameCase", options_.FileNameCase}, {"ExtCase", options_.ExtCase},
            {"Move", options_.Move},           {"Suffix", options_.Suffix},
            {"YYYY", options_.YYYY},           {"Model", options_.Model},
            {"MediaDates", options_.MediaDates}, {"NameDates", options_.NameDates},
            {"Recursive", options_.Recursive}, {"SkipSame", options_.SkipSame},
            {"KeepTogether", options_.KeepTogether}};
        for (const auto& [key, value] : flags)
            if (value != 0)
                text += " " + std::string(key) + "=" + std::to_string(value);
        if (!options_.DirTemplate.empty())
            text += " DirTemplate=" + options_.DirTemplate;
        return text;
    }

    // A bad folder template stops the run before anything is read or made.
    bool CheckTemplate()
    {
        if (options_.DirTemplate.empty())
            return true;
        std::string message;
        template_ = ParseFolderTemplate(options_.DirTemplate, message);
        if (template_)
            return true;
        RunError error;
        error.code.assign(EINVAL, std::generic_category());
        error.path = options_.DirTemplate;
        error.step = "use the folder template";
        error.message = message;
        return Fail(std::move(error));
    }

    bool FirstPass()
    {
        sourceFolder_ = host_.SourceFolder();
        tree_.emplace(sourceFolder_, settings_.listedFolders);
        std::vector<std::string> names = host_.ListedNames();
        // Records are kept packed (run_records.h); the source is always reached by the listed
        // name, since the record's BaseName may have been lowered.
        records_.Reserve(names.size());
        DateSource* media = options_.MediaDates == 1 ? host_.MediaDateSource() : nullptr;
        FileEntry entry;
        for (std::string& listed : names) {
            // With Recursive the listed name is a path below the source folder.
            const std::string name = NameOfPath(listed);
            SetNameFields(entry, name, options_);
            std::error_code error;
            std::string message;
            const SourceRef source = tree_->Reach(listed, error, message);
            if (source.dirFd < 0) {
                if (!FileFailed(WithMessage(Failure(error, source.path, "read"), message)))
                    return false;
                continue;
            }
            // Opened once, as the store will open it; the readers read that very file.
            const OpenedSource opened = OpenSourceFile(source);
            if (opened.error) {
                if (!FileFailed(
                        WithMessage(Failure(opened.error, source.path, "read"), opened.message)))
                    return false;
                continue;
            }
            const std::string path = "/proc/self/fd/" + std::to_string(opened.fd.get());
            entry.CameraModel.clear();
            DateFrom from = DateFrom::File; // what dated it
            // Dated by its status and its head read through that same descriptor.
            error = ReadOpenFileDates(opened.fd.get(), opened.st, path, name, entry, options_,
                                      media, &from);
            if (error) {
                if (!FileFailed(Failure(error, source.path, "read")))
                    return false;
                continue;
            }
            records_.Add(entry, listed, static_cast<std::uint8_t>(from));
            std::string().swap(listed); // the record holds it now
        }
        n_ = records_.Size();
        if (options_.KeepTogether == 1)
            JoinCompanions(records_, options_);
        records_.CombSort();
        return true;
    }

    // Recursive: a file that already lies in the date folder its date gives, below the
    // destination base, is where this run would put it; it is passed over rather than sorted
    // again (and suffixed) by every later run.
    void PassOverPlaced()
    {
        struct stat base {};
        if (options_.Recursive != 1 || n_ == 0 || ::stat(destBase_.c_str(), &base) != 0)
            return;
        const FolderIds& folders = tree_->Folders();
        FileEntry entry;
        records_.RemoveIf([&](std::size_t i) {
            records_.Get(i, entry);
            if (!InPlace(entry, records_.ListedName(i), base, folders))
                return false;
            ++result_.filesInPlace;
            return true;
        });
        n_ = records_.Size();
    }

    bool InPlace(const FileEntry& entry, std::string_view listedName, const struct stat& base,
                 const FolderIds& folders) const
    {
        const std::vector<std::string> levels =
            template_ ? TemplateFolderNames(*template_, entry)
                      : std::vector<std::string>{
                            NameOfPath(DateFolder(destBase_, options_.DirPattern, entry))};
        std::vector<std::string> parts; // the folders of the listed path
        std::size_t from = 0;
        for (std::size_t slash; (slash = listedName.find('/', from)) != std::string_view::npos;
             from = slash + 1)
            parts.emplace_back(listedName.substr(from, slash - from));
        if (parts.size() < levels.size() ||
            !std::equal(levels.begin(), levels.end(),
                        parts.end() - static_cast<std::ptrdiff_t>(levels.size())))
            return false;
        std::string above; // the folder that holds the date folder, relative to the source
        for (std::size_t k = 0; k + levels.size() < parts.size(); ++k)
            above += (above.empty() ? "" : "/") + parts[k];
        const auto found = folders.find(above);
        return found != folders.end() && found->second.device == base.st_dev &&
               found->second.inode == base.st_ino;
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
        PassOverPlaced();
        if (n_ == 0)
            return true;
        if (!settings_.dryRun && history_ == nullptr && settings_.awaitHistory)
            history_ = settings_.awaitHistory();
        if (!settings_.dryRun && history_ != nullptr)
            BeginHistory(base.created);
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
        int groupSuffix = 0; // the clash suffix of the group of companions at hand
        // The records before, at and after the one stored, unpacked; the one after the last
        // file stays empty.
        FileEntry previous, current, next;
        if (n_ > 0)
            records_.Get(0, next);
        if (settings_.dryRun) {
            plannedPaths_.Reserve(n_);
            if (options_.Move == 1)
                plannedMoves_.Reserve(n_);
        }
        for (std::size_t i = 0; i < n_; ++i) {
            std::swap(previous, current);
            std::swap(current, next);
            if (i + 1 < n_)
                records_.Get(i + 1, next);
            else
                next = FileEntry{};
            const std::string listedName(records_.ListedName(i));
            if (host_.StopRequested()) {
                RunError error;
                error.kind = RunError::Kind::Stopped;
                error.code.assign(ECANCELED, std::generic_category());
                error.step = "stop";
                error.message =
                    "The run was stopped before \"" + JoinPath(sourceFolder_, listedName) + "\".";
                return Fail(std::move(error));
            }
            host_.SetProgress(
                static_cast<int>(static_cast<float>(i) / static_cast<float>(n_) * 100.0f));
            std::error_code reachError;
            std::string reachMessage;
            SourceRef source = tree_->Reach(listedName, reachError, reachMessage);
            std::vector<std::string> levels;
            std::string dateFolder;
            if (template_) {
                levels = TemplateFolderNames(*template_, current);
                dateFolder = destBase_;
                for (const std::string& level : levels)
                    dateFolder += "/" + level;
            } else {
                dateFolder = DateFolder(destBase_, options_.DirPattern, current);
                levels = {NameOfPath(dateFolder)};
            }
            if (source.dirFd >= 0 && !EnterFolder(dateFolder, levels))
                return false;
            const long number = serial.BeforeFile(i == 0 ? nullptr : &previous, current);
            const bool companion = records_.IsCompanion(i);
            if (source.dirFd >= 0 && companion && !SameGroup(i - 1, i)) {
                groupSuffix = GroupSuffix(i, current, dateFolder, number);
                // Its probes reached the group's other files: reach this one again.
                source = tree_->Reach(listedName, reachError, reachMessage);
            }
            if (source.dirFd < 0) {
                if (!FileFailed(
                        WithMessage(Failure(reachError, source.path, "read"), reachMessage)))
                    return false;
            } else if (!Store(current, static_cast<DateFrom>(records_.Tag(i)), source, dateFolder,
                              number, companion ? groupSuffix : 0)) {
                return false;
            }
            serial.AfterFile(current, next);
        }
        return true;
    }

    // Makes (or, in a dry run, checks) the date folder, level by level (one level unless a
    // template nests them), each opened as a date folder relative to the one above, and opens
    // it for the stores.
    bool EnterFolder(const std::string& dateFolder, const std::vector<std::string>& levels)
    {
        if (settings_.dryRun)
            return PlanFolder(dateFolder, levels);
        if (folder_.fd >= 0 && folder_.path == dateFolder)
            return true; // still open from the previous file
        CloseFd(folder_.fd);
        int parent = baseFd_;
        int owned = -1;
        std::string parentPath = destBase_;
        storedHere_.clear();
        for (const std::string& level : levels) {
            const std::string path = parentPath + "/" + level;
            DateFolderResult opened = OpenDateFolder(parent, parentPath, level, true);
            folderMadeHere_ = opened.created;
            CloseFd(owned);
            if (opened.error)
                return FolderFailure(opened, path);
            if (opened.created)
                ++result_.foldersMade;
            if (recording_)
                history_->FolderUsed(path, opened.created);
            owned = parent = opened.fd;
            parentPath = path;
        }
        folder_ = {owned, dateFolder, CreationUmask(owned, umask_)};
        return WatchForFlush(folder_);
    }

    bool PlanFolder(const std::string& dateFolder, const std::vector<std::string>& levels)
    {
        if (!plannedFolders_.insert(dateFolder).second)
            return true;
        bool absent = baseFd_ < 0;
        int parent = baseFd_;
        int owned = -1;
        std::string parentPath = destBase_;
        for (const std::string& level : levels) {
            const std::string path = parentPath + "/" + level;
            // A listed file of that name that an earlier move took away is no obstacle.
            if (!absent && !plannedMoves_.Contains(path)) {
                DateFolderResult opened = OpenDateFolder(parent, parentPath, level, false);
                if (!opened.error && opened.fd < 0 &&
                    ::faccessat(parent, ".", W_OK | X_OK, AT_EACCESS) != 0) {
                    // The real run would make the folder here and cannot.
                    opened.error.assign(errno, std::generic_category());
                }
                CloseFd(owned);
                if (opened.error) {
                    CloseFd(opened.fd);
                    return FolderFailure(opened, path);
                }
                owned = parent = opened.fd;
            }
            if (parent < 0 || plannedMoves_.Contains(path))
                absent = true;
            if (absent && plannedLevels_.insert(path).second)
                ++result_.foldersMade;
            parentPath = path;
        }
        // An existing date folder the user cannot write: its stores would fail.
        struct stat st {};
        if (!absent && parent >= 0 && ::faccessat(parent, ".", W_OK | X_OK, AT_EACCESS) != 0)
            deniedFolders_[dateFolder] = {errno, ::fstat(parent, &st) == 0 ? st.st_dev : dev_t{}};
        CloseFd(owned);
        if (absent)
            absentFolders_.insert(dateFolder);
        return true;
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

    // Records a and b (b follows a; a may be -1) are companions of one group.
    bool SameGroup(std::size_t a, std::size_t b) const
    {
        return a < n_ && records_.IsCompanion(a) && records_.IsCompanion(b) &&
               CompanionKey(records_.ListedName(a)) == CompanionKey(records_.ListedName(b));
    }

    // Whether name is free in the date folder for the listed file, or holds its very content
    // with SkipSame: the test of the real run, or of the plan.
    bool NameFits(const std::string& dateFolder, const std::string& name, const std::string& listed)
    {
        const std::string path = JoinPath(dateFolder, name);
        const bool planned = settings_.dryRun && plannedPaths_.Contains(path);
        const bool taken = settings_.dryRun ? planned || (absentFolders_.count(dateFolder) == 0 &&
                                                          NameTaken(dateFolder, name))
                                            : NameTakenAt(folder_.fd, name);
        if (!taken || options_.SkipSame != 1)
            return !taken;
        std::error_code error;
        std::string message;
        const SourceRef source = tree_->Reach(listed, error, message);
        if (source.dirFd < 0)
            return true; // its store fails and names it: no reason to move the group on
        if (!settings_.dryRun)
            return CompareWithStored(folder_.fd, name, source, false).same;
        const auto plannedSource = plannedSources_.find(path);
        if (plannedSource != plannedSources_.end())
            return CompareFiles(plannedSource->second, source, true).same;
        return !planned && CompareFiles(path, source, false).same;
    }

    // The first clash suffix (0: none) under which every companion of the group that starts at
    // record first fits (NameFits); 0 when there is none, and each member then resolves its own.
    // A member whose name another member of the group gives too (IMG_0001.JPG and
    // IMG_0001.jpg with lowered extensions) cannot share it and is left out of the test.
    int GroupSuffix(std::size_t first, const FileEntry& firstEntry, const std::string& dateFolder,
                    long number)
    {
        // All members share the stem: their date, base name and number.
        const std::string stem =
            NameStem(firstEntry, options_.RenamePattern, options_.YYYY, number);
        std::map<std::string, std::string> members; // tail -> listed name of the first to give it
        FileEntry entry;
        for (std::size_t i = first; i < n_ && (i == first || SameGroup(i - 1, i)); ++i) {
            if (i != first)
                records_.Get(i, entry);
            members.emplace(NameTail(i == first ? firstEntry : entry),
                            std::string(records_.ListedName(i)));
        }
        for (int k = 0; k <= MaxSuffix; ++k) {
            const auto fits = [&](const auto& member) {
                return NameFits(dateFolder, SuffixedName(stem, member.first, options_.Suffix, k),
                                member.second);
            };
            if (std::all_of(members.begin(), members.end(), fits))
                return k;
        }
        return 0;
    }

    // groupSuffix: the clash suffix its group of companions takes; a free name below it is
    // passed over, one holding the file's very content (SkipSame) is not.
    bool Store(const FileEntry& entry, DateFrom from, const SourceRef& sourceRef,
               const std::string& dateFolder, long number, int groupSuffix)
    {
        const std::string& source = sourceRef.path;
        const bool skipSame = options_.SkipSame == 1;
        std::optional<SameContent> same;
        const NameTakenTest taken = [&](const std::string& folder, const std::string& name) {
            if (!settings_.dryRun) {
                // A folder this run made holds only what it stored there: no status call per
                // file. Should anything else appear in it, the store (which never replaces)
                // says so, and names are resolved by status calls from then on.
                if (folderMadeHere_ && !skipSame && storedHere_.count(NameKey(name)) == 0)
                    return false;
                if (!NameTakenAt(folder_.fd, name))
                    return false;
                if (skipSame && !same) {
                    SameContent found = CompareWithStored(folder_.fd, name, sourceRef,
                                                          options_.Move == 1 && perFileFlush_);
                    if (found.same) {
                        same = found;
                        return false; // resolve to this name: the file is there
                    }
                }
                return true;
            }
            const std::string path = JoinPath(folder, name);
            const bool planned = plannedPaths_.Contains(path);
            // Nothing can hold a name in a folder that does not exist: no status call per file.
            if (!planned && (absentFolders_.count(folder) != 0 || !NameTaken(folder, name)))
                return false;
            if (skipSame && !same) {
                // A name planned by this run holds its source's content.
                const auto plannedSource = plannedSources_.find(path);
                SameContent found =
                    plannedSource != plannedSources_.end()
                        ? CompareFiles(plannedSource->second, sourceRef, true)
                        : (planned ? SameContent{} : CompareFiles(path, sourceRef, false));
                if (found.same) {
                    same = found;
                    return false;
                }
            }
            return true;
        };
        std::set<std::string> passedOver; // the group's names below its suffix
        for (int k = 0; k < groupSuffix; ++k)
            passedOver.insert(
                SuffixedName(NameStem(entry, options_.RenamePattern, options_.YYYY, number),
                             NameTail(entry), options_.Suffix, k));
        const NameTakenTest takenInGroup = [&](const std::string& folder, const std::string& name) {
            const bool isTaken = taken(folder, name);
            return isTaken || (!same && passedOver.count(name) != 0);
        };
        // A name can be taken between its resolution and the store; then resolve again. Each
        // round sees one more name taken, so this ends at the latest with an overflow.
        for (;;) {
            const DestPath dest =
                MakeDestFilePath(entry, dateFolder, options_.RenamePattern, number, options_,
                                 groupSuffix > 0 ? takenInGroup : taken);
            if (dest.overflow) {
                RunError error;
                error.kind = RunError::Kind::SuffixOverflow;
                error.path = JoinPath(
                    dateFolder, NameStem(entry, options_.RenamePattern, options_.YYYY, number) +
                                    NameTail(entry));
                error.step = "name";
                error.message = SuffixOverflowMessage;
                return Fail(std::move(error));
            }
            host_.Dated(entry, from);
            if (same)
                return AlreadyThere(sourceRef, dest.path, *same);
            const std::string name = NameOfPath(dest.path);
            if (name.size() > nameMax_) // seen alike by the dry run and the real one
                return FileFailed(
                    Failure({ENAMETOOLONG, std::generic_category()}, dest.path, "store"));
            if (settings_.dryRun) {
                if (const auto denied = deniedFolders_.find(dateFolder);
                    denied != deniedFolders_.end()) {
                    // As the real run fails: a rename within the file system, else the copy.
                    const std::error_code code(denied->second.first, std::generic_category());
                    struct stat st {};
                    const bool renamed = options_.Move == 1 &&
                                         ::fstatat(sourceRef.dirFd, sourceRef.name.c_str(), &st,
                                                   AT_SYMLINK_NOFOLLOW) == 0 &&
                                         S_ISREG(st.st_mode) && st.st_dev == denied->second.second;
                    return Fail(renamed ? Failure(code, source, "move")
                                        : Failure(code, dest.path, "create the copy"));
                }
                plannedPaths_.Insert(dest.path);
                if (skipSame)
                    plannedSources_.emplace(dest.path, source);
                if (options_.Move == 1)
                    plannedMoves_.Insert(source);
                Stored(source, dest.path);
                return true;
            }
            if (settings_.beforeStore)
                settings_.beforeStore(dest.path);
            // A run that keeps a history hands each copy it makes to the history, open.
            StoreResult stored =
                options_.Move == 1 ? StoreMove(sourceRef, folder_, name, perFileFlush_, recording_)
                                   : StoreCopy(sourceRef, folder_, name, perFileFlush_, recording_);
            switch (stored.status) {
            case StoreResult::Status::Stored:
                unflushed_ = true;
                if (recording_) {
                    FileRecord& file = Row();
                    file.action = options_.Move == 1 ? FileAction::Moved : FileAction::Copied;
                    file.source = source;
                    file.dest = dest.path;
                    file.stored = stored.stored;
                    // A rename leaves no source; a copy's source is as it was read.
                    file.sourceKnown = options_.Move != 1 || stored.sourceLeft;
                    file.sourceId = stored.copied;
                    history_->FileStored(file, std::move(stored.content));
                }
                if (folderMadeHere_)
                    storedHere_.insert(NameKey(name));
                Stored(source, dest.path);
                return !stored.sourceLeft || SourceLeft(sourceRef, dest.path, stored, false);
            case StoreResult::Status::NameTaken:
                folderMadeHere_ = false;
                continue;
            case StoreResult::Status::Failed:
                return StoreFailed(stored, source);
            }
        }
    }

    // A file whose content is already stored as existing: not stored again. A move removes its
    // source, as it removes a copied source: once the stored file and its row are on disk,
    // and only while the source is still the file compared.
    bool AlreadyThere(const SourceRef& sourceRef, const std::string& existing,
                      const SameContent& same)
    {
        const std::string& source = sourceRef.path;
        ++result_.filesSame;
        host_.AlreadyStored(source, existing);
        if (options_.Move != 1)
            return true;
        if (settings_.dryRun) {
            plannedMoves_.Insert(source);
            return true;
        }
        if (recording_) {
            FileRecord& file = Row();
            file.action = FileAction::Same;
            file.source = source;
            file.dest = existing;
            file.stored = same.existing;
            file.hashed = true;
            file.hash = same.existingHash;
            file.sourceKnown = true;
            file.sourceId = same.source;
            history_->FileStored(file);
        }
        unflushed_ = true;
        StoreResult kept;
        kept.copied = same.source;
        kept.stored = same.existing;
        return SourceLeft(sourceRef, existing, kept, true);
    }

    // The row of a stored file for the history: the same record each time, so that its paths
    // are copied into memory it already has.
    FileRecord& Row()
    {
        row_.hashed = false;
        row_.hash = 0;
        row_.sourceKnown = false;
        row_.stored = row_.sourceId = FileIdentity();
        return row_;
    }

    // The stored file at path is still the one compared (identity): not rewritten meanwhile
    // by an editor or a sync client, so it still stands for the source.
    bool StillStored(const std::string& path, const FileIdentity& identity,
                     const std::string& source)
    {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && SameFile(IdentityOf(st), identity))
            return true;
        RunError error = Failure({ECANCELED, std::generic_category()}, source, "delete");
        error.message = "\"" + path + "\" changed after it was found to hold the content of \"" +
                        source + "\", so \"" + source + "\" was kept.";
        FileFailed(std::move(error));
        return false;
    }

    // A move's copy is stored and its source still in place: remove it now where each file is
    // flushed on its own, else once its batch is flushed.
    // checkStored: the stored file must still be stored.stored (a file found already there).
    bool SourceLeft(const SourceRef& source, const std::string& copyPath, const StoreResult& stored,
                    bool checkStored)
    {
        if (perFileFlush_) {
            if (recording_)
                history_->Commit(true); // the row goes to disk before the source goes
            if (checkStored && !StillStored(copyPath, stored.stored, source.path))
                return !failed_;
            const StoreResult removed = RemoveMovedSource(source, stored.copied, copyPath);
            return removed.status == StoreResult::Status::Stored ||
                   StoreFailed(removed, source.path);
        }
        UniqueFd dir(::fcntl(source.dirFd, F_DUPFD_CLOEXEC, 0));
        if (dir.get() < 0)
            return Fail(Failure({errno, std::generic_category()}, source.path, "delete"));
        pending_.push_back(
            {std::move(dir), source.name, source.path, copyPath, stored.copied,
             checkStored ? std::optional<FileIdentity>(stored.stored) : std::nullopt});
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
                if (p.stored && !StillStored(p.copyPath, *p.stored, p.source)) {
                    ok = ok && !failed_;
                    continue;
                }
                const StoreResult removed = RemoveMovedSource(
                    SourceRef{p.dir.get(), p.name, p.source}, p.copied, p.copyPath);
                if (removed.status != StoreResult::Status::Stored)
                    ok = StoreFailed(removed, p.source) && ok;
            }
        }
        pending_.clear();
        pendingBytes_ = 0;
        return ok;
    }

    bool FlushAll()
    {
        // The rows reach the system before the files are flushed, so a kill in the flush
        // leaves a run that can be undone; they reach the disk after, before any source goes.
        // A copy whose close failed (the history closes them) fails the flush like a failed
        // flush would: no source of the batch goes.
        if (recording_) {
            history_->Commit(false);
            const std::vector<History::WriteFailure> lost = history_->WriteFailures();
            for (const History::WriteFailure& failure : lost)
                FileFailed(
                    Failure({failure.error, std::generic_category()}, failure.dest, "write"));
            if (!lost.empty())
                return false;
        }
        for (const FlushTarget& target : flushTargets_)
            if (const std::error_code error = FlushFileSystem(target.fd))
                return Fail(Failure(error, target.path, "flush"));
        if (recording_)
            history_->Commit(true); // a failure is kept by the history and reported at the end
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
    FileRecord row_;      // Row()
    FolderHandle folder_; // the date folder of the file being stored, owned
    const int umask_ = ProcessUmask(); // read once: the run's copies are made under it
    bool folderMadeHere_ = false; // folder_ was made by this run and nothing else took a name
    // Keys of the names this run stored in folder_ while folderMadeHere_: a key found there
    // is checked on disk, so two names with one key cost a status call, never a wrong name.
    std::unordered_set<std::uint64_t> storedHere_;
    static std::uint64_t NameKey(const std::string& name)
    {
        return std::hash<std::string_view>{}(name);
    }
    std::vector<FlushTarget> flushTargets_;
    bool perFileFlush_ = false;
    bool unflushed_ = false;
    std::vector<PendingSource> pending_;
    std::uint64_t pendingBytes_ = 0;
    std::size_t n_ = 0;
    RecordTable records_;
    PathSet plannedPaths_;                 // dry run: names handed out so far
    std::set<std::string> plannedFolders_; // dry run: date folders seen so far
    std::set<std::string> absentFolders_;  // dry run: those of them that do not exist yet
    PathSet plannedMoves_;                 // dry run: sources moved away so far
    std::set<std::string> plannedLevels_;  // dry run: folder levels counted as made
    std::map<std::string, std::string> plannedSources_; // dry run with SkipSame: name -> source
    std::optional<FolderTemplate> template_;            // DirTemplate, when set
    // Dry run: existing date folders the user cannot write: errno and file system.
    std::map<std::string, std::pair<int, dev_t>> deniedFolders_;
    std::optional<SourceTree> tree_; // the source folder and the folders below it
    History* history_ = settings_.history;
    bool recording_ = false; // the run has its row in the history
};

} // namespace

RunResult ClassificationRun(const RunOptions& options, RunHost& host, const RunSettings& settings)
{
    return Run(options, host, settings).Execute();
}

} // namespace engine
