#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/run_options.h"

namespace settings {

inline constexpr const char* SettingsFileName = "kestrum.ini";
inline constexpr const char* SettingsSection = "kestrum";

// The settings file beside the program: programFolder + "/kestrum.ini".
std::string SettingsFile(const std::string& programFolder);

// The texts read from the settings file, one per key; what the layout does not carry is empty.
struct SettingsTexts {
    enum class Layout { NoFile, Legacy, Ini };
    Layout layout = Layout::NoFile;
    std::string DirPath, DirPattern, RenamePattern, DestPattern, FileNameCase, ExtCase, Move,
        Suffix, Detail, YYYY, Model;
};

// Reads the settings file: no file (or one that cannot be read), the legacy layout of eight
// lines, or the INI layout (a non-empty ninth line).
SettingsTexts LoadSettings(const std::string& file);

// The number rule for setting texts: leading blanks skipped, a sign, digits and an optional
// fraction, rounded half to even; a text without a number gives 0. Returns false (value 0)
// when the number does not fit a 16-bit signed integer.
bool ParseSettingNumber(std::string_view text, std::int16_t& value);

// The run options that the texts give once the text-to-value and range rules are applied
// (empty DestPattern 1, empty Move and Suffix 0; DirPattern outside 1,3,4,5,7 gives 4,
// RenamePattern outside 1..6 gives 1, DestPattern outside 1..3 gives 1; Detail, YYYY, Model
// compared as texts). SourceFolder is set to DirPath.
engine::RunOptions ToRunOptions(const SettingsTexts& texts);

// Writes the twelve keys to the file (Version, DirPath, then the options in table order;
// Model removed when 0), keeping every other line. The file is replaced atomically: a crash
// never leaves it half-written. Returns false when it could not be written.
bool SaveSettings(const std::string& file, const std::string& dirPath,
                  const engine::RunOptions& options);

// The source folder named by the program's first argument: surrounding double quotes removed;
// an existing regular, non-hidden file stands for its folder; anything else is taken as a
// folder. Empty argument: empty result.
std::string StartFolderFromArgument(std::string_view argument);

} // namespace settings
