#include "engine/classification_run.h"

#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/dest_folder.h"
#include "engine/exif_reader.h"
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

class Run {
public:
    Run(const RunOptions& options, RunHost& host, const RunSettings& settings)
        : options_(options), host_(host), settings_(settings)
    {}

    RunResult Execute()
    {
        host_.SetBusy(true);
        if (!FirstPass() || !SettleBase() || !SecondPass())
            result_.ok = false;
        host_.Refresh();
        host_.SetBusy(false);
        host_.SetProgress(0);
        return result_;
    }

private:
    bool Fail(RunError error)
    {
        result_.error = std::move(error);
        return false;
    }

    bool FirstPass()
    {
        folder_ = host_.SourceFolder();
        const std::vector<std::string> names = host_.ListedNames();
        n_ = names.size();
        records_.resize(n_ + 1); // the last record stays empty: "the record after the last file"
        for (std::size_t i = 0; i < n_; ++i) {
            Record& record = records_[i];
            record.listedName = names[i];
            SetNameFields(record.entry, names[i], options_);
            const std::string source = JoinPath(folder_, names[i]);
            if (auto error = SetDateFieldsFromFileTime(record.entry, source))
                return Fail(Failure(error, source, "read the date of"));
            record.entry.CameraModel.clear();
            if (auto error = ReadExifInfo(source, record.entry, options_))
                return Fail(Failure(error, source, "read"));
            BuildKeys(record.entry);
        }
        CombSort(records_, n_);
        return true;
    }

    bool SettleBase()
    {
        // A dry run must not create the "分類" folder either.
        const DestBaseResult base = SettleDestBase(options_, folder_, host_, !settings_.dryRun);
        if (base.error) {
            RunError error = Failure(base.error, base.errorPath, "use the destination folder");
            if (!base.message.empty())
                error.message = base.message;
            return Fail(std::move(error));
        }
        destBase_ = base.path;
        return true;
    }

    bool SecondPass()
    {
        SerialCounter serial;
        for (std::size_t i = 0; i < n_; ++i) {
            host_.SetProgress(
                static_cast<int>(static_cast<float>(i) / static_cast<float>(n_) * 100.0f));
            const Record& record = records_[i];
            const std::string source = JoinPath(folder_, record.listedName);
            const std::string dateFolder = DateFolder(destBase_, options_.DirPattern, record.entry);
            if (!MakeFolder(dateFolder))
                return false;
            const long number =
                serial.BeforeFile(i == 0 ? nullptr : &records_[i - 1].entry, record.entry);
            if (!Store(record, source, dateFolder, number))
                return false;
            serial.AfterFile(record.entry, records_[i + 1].entry);
        }
        return true;
    }

    bool MakeFolder(const std::string& dateFolder)
    {
        if (settings_.dryRun) {
            if (plannedFolders_.insert(dateFolder).second &&
                !NameTaken(FolderOfPath(dateFolder), NameOfPath(dateFolder))) {
                ++result_.foldersMade;
                absentFolders_.insert(dateFolder);
            }
            return true;
        }
        bool created = false;
        if (auto error = CreateDateFolder(dateFolder, created))
            return Fail(Failure(error, dateFolder, "create the folder"));
        if (created)
            ++result_.foldersMade;
        return true;
    }

    bool Store(const Record& record, const std::string& source, const std::string& dateFolder,
               long number)
    {
        const NameTakenTest taken = [this](const std::string& folder, const std::string& name) {
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
            if (settings_.dryRun) {
                plannedPaths_.insert(dest.path);
                Stored(source, dest.path);
                return true;
            }
            if (settings_.beforeStore)
                settings_.beforeStore(dest.path);
            const StoreResult stored = options_.Move == 1 ? StoreMove(source, dest.path)
                                                          : StoreCopy(source, dest.path, false);
            switch (stored.status) {
            case StoreResult::Status::Stored:
                Stored(source, dest.path);
                return true;
            case StoreResult::Status::NameTaken:
                continue;
            case StoreResult::Status::Failed:
                return Fail(Failure(stored.error, stored.errorPath, StepText(stored.step)));
            }
        }
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

    const RunOptions& options_;
    RunHost& host_;
    const RunSettings& settings_;
    RunResult result_;
    std::string folder_;
    std::string destBase_;
    std::size_t n_ = 0;
    std::vector<Record> records_;
    std::set<std::string> plannedPaths_;   // dry run: names handed out so far
    std::set<std::string> plannedFolders_; // dry run: date folders seen so far
    std::set<std::string> absentFolders_;  // dry run: those of them that do not exist yet
};

} // namespace

RunResult ClassificationRun(const RunOptions& options, RunHost& host, const RunSettings& settings)
{
    return Run(options, host, settings).Execute();
}

} // namespace engine
