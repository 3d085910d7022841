#pragma once

#include <string>
#include <vector>

#include "engine/dating/date_source.h"
#include "engine/storing/dest_folder.h"

namespace engine {

// What a run needs of the front end that started it: the window, velmora-cli, or a test.
// Called on the thread that runs ClassificationRun.
class RunHost : public SpecialFolders {
public:
    virtual std::string SourceFolder() = 0;             // the folder whose files are classified
    virtual std::vector<std::string> ListedNames() = 0; // its listed file names, in list order
    virtual void SetProgress(int value) = 0;            // 0..100
    virtual void Refresh() = 0;                         // re-read the folder and file lists
    virtual void SetBusy(bool busy) = 0;                // busy pointer on, off
    // The date a file is sorted by and the source it came from; told right before the
    // Stored or AlreadyStored call of that file.
    virtual void Dated(const FileEntry& /*entry*/, DateFrom /*from*/) {}
    // One file has been stored (or, in a dry run, planned).
    virtual void Stored(const std::string& /*source*/, const std::string& /*destination*/) {}
    // One file was not stored because existing holds the same content (option SkipSame); in a
    // move its source is removed (or, in a dry run, would be).
    virtual void AlreadyStored(const std::string& /*source*/, const std::string& /*existing*/) {}
    // Asked before each file: true stops the run there, cleanly (for example when the front
    // end can no longer report what it does).
    virtual bool StopRequested() { return false; }
    // The reader of capture dates embedded in media files, asked once at the start of a run
    // whose MediaDates option is 1; none (the default) leaves those files on their other dates.
    virtual DateSource* MediaDateSource() { return nullptr; }
};

} // namespace engine
