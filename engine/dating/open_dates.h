#pragma once

#include <string>
#include <sys/stat.h>
#include <system_error>

#include "engine/base/file_entry.h"
#include "engine/base/run_options.h"
#include "engine/dating/date_source.h"
#include "engine/dating/exif_reader.h"

namespace engine {

// Reads at most 5001 bytes from offset 0 of the open file fd, whose size was size when it was
// opened, into head (zeros after its end). The file offset is not moved.
std::error_code ReadHeadAt(int fd, off_t size, HeadBuffer& head);

// Dates a record from a file the run holds open as fd, st its status: the modification time
// of st, then ReadFileDates's order, the head read through fd (no second open, no status call
// by path). path names the file for the media reader. Errors and results as ReadFileDates.
std::error_code ReadOpenFileDates(int fd, const struct stat& st, const std::string& path,
                                  const std::string& listedName, FileEntry& entry,
                                  const RunOptions& options, DateSource* media, DateFrom* from);

} // namespace engine
