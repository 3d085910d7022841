#pragma once

#include <cstdint>
#include <string>

#include "engine/storing/file_store.h"
#include "engine/storing/source_tree.h"

namespace engine {

// The outcome of comparing a file already stored with a file to be stored.
struct SameContent {
    bool same = false;              // byte for byte the same, and two different files
    FileIdentity existing;          // the stored file (when same)
    FileIdentity source;            // the source as compared, unchanged throughout (when same)
    std::uint64_t existingHash = 0; // content hash of the stored file (when same)
};

// Compares the file name in the folder open as dirFd (never through a link; a regular file
// only) with the listed file source (opened as a store opens it: OpenSourceFile). Sizes first, the
// contents only when they match; the whole contents. A source that changes while it is read,
// the same file under two names, and anything unreadable are not the same. durable: when the
// same, the stored file is flushed to disk before the answer (its source may be removed next).
SameContent CompareWithStored(int dirFd, const std::string& name, const SourceRef& source,
                              bool durable);

// The same for two paths, for plans that are not on disk yet: stored is a path whose last
// part is followed when it is a link only if followStored (a planned copy of a listed file).
SameContent CompareFiles(const std::string& stored, const SourceRef& source, bool followStored);

// The same for two open regular files, read from their start: byte for byte the same, two
// different files, neither changed while read.
bool SameBytes(int a, int b);

} // namespace engine
