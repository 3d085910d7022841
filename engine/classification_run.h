#pragma once

// The run: the folder's files listed, each dated (dating/), named (naming/), stored (storing/)
// and recorded (history/). The files in engine/ itself are the run's; the parts below never
// include them, and base/ includes none of the others.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "engine/base/run_options.h"
#include "engine/run_host.h"
#include "engine/storing/source_tree.h"

namespace engine {

class History;

// Why a run stopped before its end.
struct RunError {
    enum class Kind {
        Failure,        // a file-system step failed; code, path and step say which
        SuffixOverflow, // all 999 suffixes of a name were taken (SuffixOverflowMessage)
        Stopped,        // the host asked to stop (RunHost::StopRequested)
    };
    Kind kind = Kind::Failure;
    std::error_code code; // errno value; its message() is the description
    std::string path;     // the file or folder the failing step worked on
    std::string step;     // what was being done: "read", "copy to", "create folder", ...
    std::string message;  // a full sentence for the user
};

struct RunResult {
    bool ok = true;
    RunError error;               // when !ok
    std::size_t filesStored = 0;  // files stored (or planned, in a dry run)
    std::size_t foldersMade = 0;  // date folders this run created
    std::size_t filesSame = 0;    // files already stored with the same content (SkipSame)
    std::size_t filesInPlace = 0; // Recursive: files that already lay in their date folder
    // KeepGoing: the files that could not be read or stored, each with its message; the run
    // went on without them.
    std::vector<RunError> skipped;
    std::int64_t historyRun = 0; // the run's id in the run history (history.h), if recorded
    std::string historyProblem;  // why the history of the run is missing or incomplete; the
                                 // run went on
};

struct RunSettings {
    bool dryRun = false; // change nothing on disk; names planned so far count as taken
    // Called with the resolved destination path right before a file is stored (tests use it
    // to make the name appear in between).
    std::function<void(const std::string& destination)> beforeStore;
    // The run history the run records itself in (history.h); none: not recorded. A dry run
    // records nothing. Used only on the run's thread while the run goes on.
    History* history = nullptr;
    // Without history: the history being opened meanwhile, asked for once the files are dated
    // and before anything is stored (none: not recorded).
    std::function<History*()> awaitHistory;
    // The folders of the listing (file_list.h ListFolderTree): a listed file is read only
    // through the folders listed under its path. Folders missing here count as first seen.
    FolderIds listedFolders;
};

// Classifies every listed file of the host's source folder: dates them (EXIF picture date,
// media and name dates when their options are on, else modification time; see
// date_source.h), sorts them by SortKey, and stores each into its date folder under the base
// chosen by DestPattern, named by RenamePattern, never replacing anything. Date folders
// are opened relative to the base and are never links. When moving to another file system,
// copies are flushed in batches and a batch's sources are removed only after its flush, and
// only while each is still the file that was copied. Everything stored is flushed to disk
// before the run returns. Stops at the first failure (an existing date folder is none); files
// stored so far stay, later files are untouched. A run with no files makes nothing. A dry run
// stops with the same error as the real run wherever it can see it without writing.
// Reports progress 0..100 through the host, refreshes it and resets progress at the end.
//
// Options beyond the window's panel: Recursive takes the listed names as paths relative to
// the source folder (file_list.h ListFolderTree) and names each record by its last part.
// DirTemplate makes nested date folders, each level opened as a date folder is; a bad template
// stops the run before anything is touched. SkipSame passes over a file whose content is already
// stored under its resolved name or one of that name's suffixed names (a move removes its source,
// once the stored file is on disk); the host hears of it through AlreadyStored. Each stored file
// and date folder goes into the run history (settings.history), committed with the run's
// flushes: no moved source is removed before its row is on disk. At its start the run removes
// the oldest runs of the history and finishes what killed runs left. A history that cannot be
// written does not stop the run; result.historyProblem says so.
//
// Every listed file is reached from the source folder one folder at a time without following
// links (SourceTree), so a subfolder swapped after the listing stops that file; a link at a
// file's name is followed only when it belongs to the running user or root. With Recursive, a
// file that already lies in the date folder its date gives below the destination base is
// passed over (result.filesInPlace). A dry run fails as the real run would on a destination
// base or date folder the user cannot write. KeepGoing: a file that cannot be read or stored
// (its own failure, not one of the destination as a whole: a full or read-only disk, a folder
// that cannot be made) is skipped, named in result.skipped, and the run goes on.
// KeepTogether: companions (companions.h) share the date of the best-dated of them, one date
// folder, one base name and serial number, and one clash suffix, the first under which every
// member's name is free (or, with SkipSame, holds that member's content).
RunResult ClassificationRun(const RunOptions& options, RunHost& host,
                            const RunSettings& settings = {});

} // namespace engine
