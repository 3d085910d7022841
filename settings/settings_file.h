#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/base/run_options.h"
#include "settings/profile_file.h"

namespace settings {

inline constexpr const char* SettingsFileName = "kestrum.ini";
inline constexpr const char* SettingsSection = "kestrum";

// Where the settings live: for a program installed by make install or the package (see
// IsInstalledProgram), UserSettingsFile() for every user, root included; for a copy run outside
// an install prefix (its build folder, a USB stick), beside the program (programFolder +
// "/kestrum.ini") while the user can write that folder, else UserSettingsFile().
std::string SettingsFile(const std::string& programFolder);

// True when programFolder is the "bin" folder of an install prefix that holds the program's
// menu entry, PREFIX/share/applications/org.velmora.Velmora.desktop, as every installation
// does; a copy of the programs alone, or the build folder, is not installed.
bool IsInstalledProgram(const std::string& programFolder);

// $XDG_CONFIG_HOME/velmora/kestrum.ini, or ~/.config/velmora/kestrum.ini when that variable
// is unset or not absolute. Saving creates the missing folders.
std::string UserSettingsFile();

// The texts read from the settings file, one per key; what the layout does not carry is empty.
struct SettingsTexts {
    enum class Layout { NoFile, Legacy, Ini };
    Layout layout = Layout::NoFile;
    std::string DirPath, DirPattern, RenamePattern, DestPattern, FileNameCase, ExtCase, Move,
        Suffix, Detail, YYYY, Model;
    // Options beyond the window's panel; INI layout only.
    std::string MediaDates, NameDates, Recursive, SkipSame, KeepGoing, DirTemplate, KeepTogether;
    // The destination of DestPattern 4, read whole: a path cut short would be another folder.
    std::string DestPath;
};

// Reads the settings file: no file (or one that cannot be read), the legacy layout of eight
// lines, or the INI layout (a non-empty ninth line). INI values are cut to 255 bytes, at a
// character boundary; legacy lines are taken whole. Lines may end in CR LF or LF.
SettingsTexts LoadSettings(const std::string& file);

// The number rule for setting texts: leading blanks skipped, a sign, digits and an optional
// fraction, rounded half to even; a text without a number gives 0. Returns false (value 0)
// when the number does not fit a 16-bit signed integer.
bool ParseSettingNumber(std::string_view text, std::int16_t& value);

// The run options that the texts give once the text-to-value and range rules are applied
// (empty DestPattern 1, empty Move and Suffix 0; DirPattern outside 1,3,4,5,7 gives 4,
// RenamePattern outside 1..6 gives 1, DestPattern outside 1..3 gives 1 except 4 with a
// DestPath, which chooses that folder; Detail, YYYY, Model
// compared as texts; MediaDates, NameDates, Recursive, SkipSame, KeepGoing and KeepTogether 1
// only for the text "1";
// DirTemplate taken as it is, checked by the run). SourceFolder is set to
// DirPath.
// Detail is 1 for the no-file and legacy layouts, which carry none. FileNameCase 1 brings
// ExtCase 2, as the window's start-up does (lowering the name greys and sets the extension box),
// so a run from these options lowers the same names as a run from the window.
engine::RunOptions ToRunOptions(const SettingsTexts& texts);

// Writes the twelve keys to the file (Version, DirPath, then the options in table order;
// Model removed when 0), then MediaDates, NameDates, Recursive, SkipSame, KeepGoing and
// KeepTogether as "1"
// when on and
// DirTemplate when set, each removed when off, and DestPath only while DestPattern is 4
// (a DestPath holding a line break cannot be written: DestPattern is then saved as 1),
// like Model, keeping every other line. The file is replaced atomically: a crash
// never leaves it half-written. Returns false when it could not be written, or when it exists
// but cannot be read (it is then left alone); never throws.
// A file read as the legacy layout because its ninth line is empty loses empty lines in ninth
// place, so that what is saved is read back as INI.
bool SaveSettings(const std::string& file, const std::string& dirPath,
                  const engine::RunOptions& options);

// SaveSettings with a hook that runs just before the new file replaces the old one (see
// ReplaceFileAtomically); returning false abandons the save. For tests.
bool SaveSettings(const std::string& file, const std::string& dirPath,
                  const engine::RunOptions& options, const BeforeReplaceHook& beforeReplace);

// The folder that a path given by the user (on the command line or by a drop) stands for: an
// existing regular file whose name does not begin with "." stands for the folder that holds it
// (a file at the top of the file system for "/", a bare name for "."); anything else is taken
// as a folder, as it is.
std::string FolderNamedBy(std::string_view path);

// The source folder named by the program's first argument: surrounding double quotes removed,
// then FolderNamedBy. Empty argument: empty result.
std::string StartFolderFromArgument(std::string_view argument);

} // namespace settings
