#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <system_error>

#include "engine/base/run_options.h"

namespace engine {

// The record a run keeps for each file. Dates travel as fixed-width digit texts.
struct FileEntry {
    std::string BaseName;    // name without its extension; lowered when FileNameCase is 1
    std::string Year4;       // "2002": decimal year without leading zeros
    std::string Year2;       // last two characters of Year4
    std::string Month;       // "04"
    std::string Day;         // "26"
    std::string Hour;        // "09", 0..23
    std::string Minute;      // "05"
    std::string Second;      // "07"
    std::string SortKey;     // Year4 Month Day Hour Minute Second BaseName Extension
    std::string DateKey;     // Year4 Month Day
    std::string Extension;   // ".JPG" with its dot, or empty; lowered when ExtCase is 1 or 2
    std::string CameraModel; // "[Acme Z10]" or empty
};

// Splits a bare file name at its last "." : "archive.tar.gz" gives "archive.tar" and ".gz".
// A name without a dot, or whose only dot is its first character, has no extension.
void SplitFileName(std::string_view name, std::string& baseName, std::string& extension);

// Lowers every upper-case letter of a UTF-8 text, not only ASCII ones ("ÄBC" gives "äbc",
// "ＩＭＧ" gives "ｉｍｇ"). Bytes that are not valid UTF-8 are kept as they are.
std::string LowerText(std::string_view text);

// Fills BaseName and Extension from a listed file name and lowers them as the options say.
void SetNameFields(FileEntry& entry, std::string_view listedName, const RunOptions& options);

// Fills Year4..Second from a broken-down local time.
void SetDateFields(FileEntry& entry, const std::tm& local);

// Fills Year4..Second from the modification time of the file at path (following a symbolic
// link to its file), in local time. Returns the error of the status call, if any.
std::error_code SetDateFieldsFromFileTime(FileEntry& entry, const std::string& path);

// Builds SortKey and DateKey from the other fields; called after the EXIF step.
void BuildKeys(FileEntry& entry);

} // namespace engine
