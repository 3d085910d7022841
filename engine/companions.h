#pragma once

#include <string_view>

#include "engine/base/file_entry.h"
#include "engine/base/run_options.h"

namespace engine {

class RecordTable;

// Companions (option KeepTogether): the files of one folder that share a base name, such as
// IMG_0001.CR3 and IMG_0001.JPG (raw and JPEG of one shot), IMG_0001.XMP, IMG_0001.THM,
// IMG_0001.WAV, IMG_0001.AAE, and the IMG_0001.CR3.xmp form that raw editors write, are one
// shot: they take one date, land in one date folder and keep one base name.

// What names the group of a listed path: its folder part and its base name as listed (case
// kept: IMG_0001 and img_0001 are two names), without the inner extension of a sidecar named
// after its whole picture. Always the start of listed: "DCIM/IMG_0001" for
// "DCIM/IMG_0001.CR3.xmp" and for "DCIM/IMG_0001.JPG".
std::string_view CompanionKey(std::string_view listed);

// BaseName and Extension of a file that joins a group: as SetNameFields, except that a sidecar
// named after its whole picture ("IMG_0001.CR3.xmp") gets the picture's base name ("IMG_0001")
// and keeps both extensions (".CR3.xmp", each lowered as ExtCase says), so that it keeps its
// form under every rename pattern.
void SetCompanionNameFields(FileEntry& entry, std::string_view name, const RunOptions& options);

// Joins the companions among the records: every member of a group of two or more takes the
// date of its best-dated member (a content date before a name date before a file time; among
// equals the earliest date) and what dated it (the record's tag), and that member's camera tag
// (or, when it has none, the first member's that has one); its names are set by
// SetCompanionNameFields. The members are marked in the table, which then sorts each group
// together (RecordTable::Replace). Records of files without companions are left as they are.
void JoinCompanions(RecordTable& records, const RunOptions& options);

} // namespace engine
