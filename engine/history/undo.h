#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/history/history.h"

namespace engine {

// One step of an undo, done or (in a dry run) planned.
struct UndoStep {
    enum class Kind {
        Remove,       // a copy removed: path
        MoveBack,     // a moved file renamed back from path to to
        CopyBack,     // a file copied back from path to to (another file system, or a source
                      // that an "already there" move had removed)
        Leave,        // path left alone; reason says why
        RemoveFolder, // an empty folder the run made, removed
    };
    Kind kind = Kind::Leave;
    std::string path, to, reason;
};

struct UndoResult {
    bool started = false;           // the run was found and taken; else message says why
    std::string message;            // why nothing was done, or a problem with the history
    RunRecord run;                  // the run undone (when started)
    std::size_t undone = 0;         // files put back or removed (or found so already)
    std::size_t foldersRemoved = 0; // empty folders of the run removed
    std::vector<UndoStep> steps;    // everything done (or planned), Leave steps included
    std::size_t left = 0;           // files left alone (their Leave steps say why)
    bool complete = false;          // started, nothing left alone, the history written
};

// The run an undo takes: id when given; else the newest run not undone whose source folder is
// folder (absolute paths compared, and the folders' real paths); else, with folder empty, the
// newest run not undone. Nothing, with a message, when there is none.
std::optional<RunRecord> ChooseRunToUndo(History& history, std::optional<std::int64_t> id,
                                         const std::string& folder, std::string& message);

// Undoes run id, newest file first, and records in the history what became of each file and
// the run's state (undone, or partly undone: an undo can be run again and takes up what is
// left). Refused (message) while the run is going or being undone by a live process, and for
// a run undone already. A killed run is first finished (History::RecoverKilledRuns).
//  - A copy is removed only while it is the very file stored (device, inode, size,
//    modification and change times, and the hash of its whole content) and its source still
//    holds the same bytes (compared): otherwise it may be the only copy left, and it stays.
//  - A moved file goes back to its source name without replacing anything, through folders
//    opened level by level without following links below the recorded source folder (missing
//    levels are made again); on another file system it is copied back (flushed) first and then
//    removed while it is still the file stored. A cross-file-system move whose source was
//    never removed (a kill in its flush) is undone as a copy.
//  - An "already there" entry gets its source back as a copy of the stored file, only while
//    that is the very inode recorded, unchanged.
//  - Empty date folders the run made, and "分類" when it made it, are removed.
// Everything not undone gets a Leave step with its reason. dryRun: the same checks, nothing
// changed (the history included); the steps say what would be done.
UndoResult UndoRun(History& history, std::int64_t id, bool dryRun);

} // namespace engine
