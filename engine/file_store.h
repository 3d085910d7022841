#pragma once

#include <string>
#include <system_error>

namespace engine {

// The outcome of storing one file under a final name.
struct StoreResult {
    enum class Status {
        Stored,    // the final name now holds a complete copy (or the moved file)
        NameTaken, // the final name appeared meanwhile; nothing was changed, resolve again
        Failed,    // nothing is left under the final name; error and errorPath say why
    };
    Status status = Status::Stored;
    std::error_code error;
    std::string errorPath; // the file the failing step worked on
    std::string step;      // "open", "read", "write", "create", "delete", ...
};

// Copies source (a symbolic link is followed) to destination, which must not exist. The copy
// is written under a name nobody sees and linked to the final name only when it is complete,
// so the final name never holds a partial file and an existing entry is never replaced. The
// copy keeps the source's permissions and modification time. durable: the copy and its
// folder are flushed to disk before returning (needed before the source is deleted).
StoreResult StoreCopy(const std::string& source, const std::string& destination, bool durable);

// Moves source to destination, which must not exist. A regular file on the same file system
// is renamed with no-replace semantics (no data copied). Otherwise the file is copied with
// StoreCopy(durable) and the source removed after that; for a symbolic link only the link
// is removed.
StoreResult StoreMove(const std::string& source, const std::string& destination);

} // namespace engine
