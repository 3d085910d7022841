#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace engine {

// What an undo left alone, and why.
struct UndoLeft {
    std::string path;   // the stored file (or the source name in the way)
    std::string reason; // a sentence for the user
};

struct UndoResult {
    bool read = false;              // the journal could be read; else message says why
    std::string message;            // when !read
    std::size_t undone = 0;         // files put back or removed (or found so already)
    std::size_t foldersRemoved = 0; // empty folders of the run removed
    std::vector<UndoLeft> left;     // everything left alone
    bool complete = false;          // read, and nothing left alone
};

// Undoes the run of the journal at path, last file first, and marks the journal (complete or
// not; an incomplete undo can be run again and takes up what is left):
//  - a moved file goes back to its source path: renamed without replacing anything, or, on
//    another file system, copied back (flushed) and then removed from the destination while it
//    is still the very file stored;
//  - a copy is removed only while it is unchanged: same inode, size, modification and change
//    times as journaled, and the same hash;
//  - a move whose file was already stored ("same") gets its source back as a copy of the
//    stored file, while that is unchanged;
//  - the date folders the run made are removed when empty.
// A stored file that changed, is gone, or whose source name is taken is left alone and listed.
// Folders below the journal's destination base are opened without following links. A file
// already back in place (an earlier, incomplete undo) counts as undone.
UndoResult UndoJournal(const std::string& path);

} // namespace engine
