#pragma once

// Base: what every part of the engine speaks: the run's options, a file's record, path and
// UTF-8 text, JSON text, owned descriptors, opening a file without blocking. The standard
// library only.

#include <cstdint>
#include <string>

namespace engine {

// The version written to the settings file and shown in the window caption.
inline constexpr const char* ProgramVersion = "0.4.5";

// The choices with which one run classifies a folder. Each option is a small signed integer
// named after its settings key; values other than those listed act as the comments say.
struct RunOptions {
    std::string SourceFolder;       // folder whose files are classified; no trailing "/" except "/"
    std::int16_t DirPattern = 4;    // 1 yyyymm, 3 yyyymmdd, 4 yymmdd, 5 yy_mmdd, 7 yymm
    std::int16_t RenamePattern = 1; // 1..6, see naming.h
    std::int16_t DestPattern = 1;   // 1 source folder, 2 Desktop/分類, 3 Documents/分類,
                                    // 4 DestPath (a folder of the user's choosing)
    std::int16_t FileNameCase = 0;  // 1: lower the base name
    std::int16_t ExtCase = 0;       // 1 or 2: lower the extension (2 is the grayed check box)
    std::int16_t Move = 0;          // 1: delete each source after it is stored
    std::int16_t Suffix = 0;        // 0: "[001]" suffixes; anything else: "a", "b", ...
    std::int16_t Detail = 1;        // window only: the detail panel is shown
    std::int16_t YYYY = 0;          // 4: rename patterns use the four-digit year
    std::int16_t Model = 0;         // 1: the camera model enters the stored name
    // Options beyond the window's panel, off by default; see date_source.h for the order.
    std::int16_t MediaDates = 0; // 1: capture dates of HEIC, RAW, PNG, WebP and video files
    std::int16_t NameDates = 0;  // 1: dates written in file names (IMG_20230708_223101.jpg)
    std::int16_t Recursive = 0;  // 1: the files of the subfolders too (file_list.h)
    std::int16_t SkipSame = 0;   // 1: a file already stored with the same content is not stored
    std::int16_t KeepGoing = 0;  // 1: a file that cannot be read or stored is skipped and named
    std::int16_t KeepTogether = 0; // 1: files of a folder sharing a base name share date and name
    // Nested date folders ("yyyy/mm/dd", folder_template.h); empty: DirPattern decides.
    std::string DirTemplate;
    // With DestPattern 4: the absolute path of the folder the date folders are made in.
    std::string DestPath;
};

} // namespace engine
