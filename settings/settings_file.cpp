#include "settings/settings_file.h"

#include <array>
#include <cstdlib>
#include <exception>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/base/path_text.h"

namespace settings {

namespace {

using Field = std::string SettingsTexts::*;

struct KeyField {
    const char* key;
    Field field;
};

// The keys read from an INI file, in reading order. The first eight are also the lines of the
// legacy layout, in the same order.
constexpr std::array<KeyField, 18> Keys = {{
    {"DirPath", &SettingsTexts::DirPath},
    {"DirPattern", &SettingsTexts::DirPattern},
    {"RenamePattern", &SettingsTexts::RenamePattern},
    {"DestPattern", &SettingsTexts::DestPattern},
    {"FileNameCase", &SettingsTexts::FileNameCase},
    {"ExtCase", &SettingsTexts::ExtCase},
    {"Move", &SettingsTexts::Move},
    {"Suffix", &SettingsTexts::Suffix},
    {"Detail", &SettingsTexts::Detail},
    {"YYYY", &SettingsTexts::YYYY},
    {"Model", &SettingsTexts::Model},
    {"MediaDates", &SettingsTexts::MediaDates},
    {"NameDates", &SettingsTexts::NameDates},
    {"Recursive", &SettingsTexts::Recursive},
    {"SkipSame", &SettingsTexts::SkipSame},
    {"KeepGoing", &SettingsTexts::KeepGoing},
    {"KeepTogether", &SettingsTexts::KeepTogether},
    {"DirTemplate", &SettingsTexts::DirTemplate},
}};
constexpr std::size_t LegacyLineCount = 8;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The number of a setting text, or nothing when it does not fit 16 bits; `ifEmpty` stands for
// an empty text.
std::optional<std::int16_t> SettingNumber(const std::string& text, std::string_view ifEmpty)
{
    std::int16_t value = 0;
    if (!ParseSettingNumber(text.empty() ? ifEmpty : std::string_view(text), value))
        return std::nullopt;
    return value;
}

std::int16_t InRangeOr(std::optional<std::int16_t> value, std::initializer_list<int> allowed,
                       std::int16_t fallback)
{
    if (value) {
        for (int candidate : allowed) {
            if (*value == candidate)
                return *value;
        }
    }
    return fallback;
}

// Makes the folders that lead to path where they are missing (private, as a user's
// configuration folders are); one that cannot be made shows when the file is written.
void MakeFoldersFor(const std::string& path)
{
    const std::string folder = engine::FolderOfPath(path);
    struct stat st {};
    if (folder == "/" || folder == "." || ::stat(folder.c_str(), &st) == 0)
        return;
    MakeFoldersFor(folder);
    ::mkdir(folder.c_str(), 0700);
}

bool SaveSettingsOrThrow(const std::string& file, const std::string& dirPath,
                         const engine::RunOptions& options, const BeforeReplaceHook& beforeReplace)
{
    if (file == UserSettingsFile()) // the user's configuration folder may not exist yet
        MakeFoldersFor(file);
    auto document = LoadProfileForUpdate(file);
    if (!document)
        return false;
    const auto set = [&](const char* key, const std::string& value) {
        document->Set(SettingsSection, key, value);
    };
    const auto setNumber = [&](const char* key, std::int16_t value) {
        set(key, std::to_string(value));
    };
    set("Version", engine::ProgramVersion);
    set("DirPath", dirPath);
    setNumber("DirPattern", options.DirPattern);
    setNumber("RenamePattern", options.RenamePattern);
    // A chosen destination that a profile line cannot hold whole is not kept.
    const bool destPath = options.DestPattern == 4 && !options.DestPath.empty() &&
                          options.DestPath.find_first_of("\r\n") == std::string::npos;
    setNumber("DestPattern", options.DestPattern == 4 && !destPath ? 1 : options.DestPattern);
    setNumber("FileNameCase", options.FileNameCase);
    setNumber("ExtCase", options.ExtCase);
    setNumber("Move", options.Move);
    setNumber("Suffix", options.Suffix);
    setNumber("Detail", options.Detail);
    setNumber("YYYY", options.YYYY);
    // Model and the options beyond the panel are written only when on, so a file of someone
    // who never turned them on holds exactly the panel's keys.
    const auto setWhenOn = [&](const char* key, std::int16_t value) {
        if (value != 0)
            setNumber(key, value);
        else
            document->Remove(SettingsSection, key);
    };
    setWhenOn("Model", options.Model);
    setWhenOn("MediaDates", options.MediaDates == 1 ? 1 : 0);
    setWhenOn("NameDates", options.NameDates == 1 ? 1 : 0);
    setWhenOn("Recursive", options.Recursive == 1 ? 1 : 0);
    setWhenOn("SkipSame", options.SkipSame == 1 ? 1 : 0);
    setWhenOn("KeepGoing", options.KeepGoing == 1 ? 1 : 0);
    setWhenOn("KeepTogether", options.KeepTogether == 1 ? 1 : 0);
    if (!options.DirTemplate.empty())
        set("DirTemplate", options.DirTemplate);
    else
        document->Remove(SettingsSection, "DirTemplate");
    if (destPath)
        set("DestPath", options.DestPath);
    else
        document->Remove(SettingsSection, "DestPath");

    // An empty ninth line makes the reader take the file for the legacy layout and ignore every
    // key. Blank lines mean nothing in a profile, so drop them from that place; the section
    // and its keys give enough non-empty lines to fill it.
    while (document->Lines().size() > LegacyLineCount && document->Lines()[8].empty())
        document->EraseLine(8);

    return ReplaceFileAtomically(file, document->Text(), beforeReplace);
}

} // namespace

bool IsInstalledProgram(const std::string& programFolder)
{
    std::string folder = programFolder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (engine::NameOfPath(folder) != "bin")
        return false;
    const std::string entry = engine::JoinPath(engine::FolderOfPath(folder),
                                               "share/applications/org.velmora.Velmora.desktop");
    struct stat st {};
    return ::stat(entry.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string SettingsFile(const std::string& programFolder)
{
    if (IsInstalledProgram(programFolder))
        return UserSettingsFile();
    // Beside the program while its folder can be written (a portable copy, a build folder).
    if (::access(programFolder.empty() ? "." : programFolder.c_str(), W_OK) == 0) {
        if (programFolder.empty())
            return SettingsFileName;
        return engine::JoinPath(programFolder, SettingsFileName);
    }
    return UserSettingsFile();
}

std::string UserSettingsFile()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = engine::JoinPath(home != nullptr && home[0] == '/' ? home : "/", ".config");
    }
    return engine::JoinPath(engine::JoinPath(base, "velmora"), SettingsFileName);
}

SettingsTexts LoadSettings(const std::string& file)
{
    SettingsTexts texts;
    std::error_code error;
    const auto bytes = ReadWholeFile(file, error);
    if (!bytes)
        return texts; // missing or unreadable: a first start

    const ProfileDocument document(*bytes);
    const std::vector<std::string>& lines = document.Lines();
    if (lines.size() > LegacyLineCount && !lines[LegacyLineCount].empty()) {
        texts.layout = SettingsTexts::Layout::Ini;
        for (const KeyField& key : Keys)
            texts.*key.field = document.Get(SettingsSection, key.key);
        texts.DestPath = document.Get(SettingsSection, "DestPath", {}, std::string::npos);
    } else {
        texts.layout = SettingsTexts::Layout::Legacy;
        for (std::size_t i = 0; i < LegacyLineCount && i < lines.size(); ++i)
            texts.*Keys[i].field = lines[i];
    }
    return texts;
}

bool ParseSettingNumber(std::string_view text, std::int16_t& value)
{
    value = 0;
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t wholeStart = i;
    while (i < text.size() && IsDigit(text[i]))
        ++i;
    std::string_view whole = text.substr(wholeStart, i - wholeStart);
    std::string_view fraction;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fractionStart = ++i;
        while (i < text.size() && IsDigit(text[i]))
            ++i;
        fraction = text.substr(fractionStart, i - fractionStart);
    }
    if (whole.empty() && fraction.empty())
        return true; // no number at the start: 0

    while (!whole.empty() && whole.front() == '0')
        whole.remove_prefix(1);
    if (whole.size() > 5)
        return false; // 100000 or more
    long magnitude = 0;
    for (char digit : whole)
        magnitude = magnitude * 10 + (digit - '0');

    // Round on the decimal digits themselves, so that 2.5000001 is not taken for a half.
    if (!fraction.empty()) {
        const char first = fraction.front();
        const bool beyondHalf = fraction.find_first_not_of('0', 1) != std::string_view::npos;
        if (first > '5' || (first == '5' && (beyondHalf || magnitude % 2 == 1)))
            ++magnitude;
    }
    const long number = negative ? -magnitude : magnitude;
    if (number < INT16_MIN || number > INT16_MAX)
        return false;
    value = static_cast<std::int16_t>(number);
    return true;
}

engine::RunOptions ToRunOptions(const SettingsTexts& texts)
{
    engine::RunOptions options;
    options.SourceFolder = texts.DirPath;
    options.DirPattern = InRangeOr(SettingNumber(texts.DirPattern, ""), {1, 3, 4, 5, 7}, 4);
    options.RenamePattern =
        InRangeOr(SettingNumber(texts.RenamePattern, ""), {1, 2, 3, 4, 5, 6}, 1);
    options.DestPattern = InRangeOr(SettingNumber(texts.DestPattern, "1"), {1, 2, 3, 4}, 1);
    if (options.DestPattern == 4 && texts.DestPath.empty())
        options.DestPattern = 1;
    if (options.DestPattern == 4)
        options.DestPath = texts.DestPath;
    // These keys have no range: a number that does not fit counts as 0.
    options.FileNameCase = SettingNumber(texts.FileNameCase, "").value_or(0);
    options.ExtCase = SettingNumber(texts.ExtCase, "").value_or(0);
    options.Move = SettingNumber(texts.Move, "0").value_or(0);
    options.Suffix = SettingNumber(texts.Suffix, "0").value_or(0);
    if (options.FileNameCase == 1)
        options.ExtCase = 2;

    options.Detail = (texts.layout == SettingsTexts::Layout::Ini && texts.Detail == "0") ? 0 : 1;
    options.YYYY = texts.YYYY == "4" ? 4 : 0;
    options.Model = texts.Model == "1" ? 1 : 0;
    options.MediaDates = texts.MediaDates == "1" ? 1 : 0;
    options.NameDates = texts.NameDates == "1" ? 1 : 0;
    options.Recursive = texts.Recursive == "1" ? 1 : 0;
    options.SkipSame = texts.SkipSame == "1" ? 1 : 0;
    options.KeepGoing = texts.KeepGoing == "1" ? 1 : 0;
    options.KeepTogether = texts.KeepTogether == "1" ? 1 : 0;
    options.DirTemplate = texts.DirTemplate;
    return options;
}

bool SaveSettings(const std::string& file, const std::string& dirPath,
                  const engine::RunOptions& options)
{
    return SaveSettings(file, dirPath, options, {});
}

bool SaveSettings(const std::string& file, const std::string& dirPath,
                  const engine::RunOptions& options, const BeforeReplaceHook& beforeReplace)
{
    // The program ends right after saving; a failure here must not become a crash.
    try {
        return SaveSettingsOrThrow(file, dirPath, options, beforeReplace);
    } catch (const std::exception&) {
        return false;
    }
}

std::string StartFolderFromArgument(std::string_view argument)
{
    if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"')
        argument = argument.substr(1, argument.size() - 2);
    return FolderNamedBy(argument);
}

std::string FolderNamedBy(std::string_view argument)
{
    const std::string path(argument);
    if (path.empty() || path.find('\0') != std::string::npos)
        return path;

    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string::npos
                                      ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
    struct stat info {};
    // stat follows links: a link to a regular file stands for that file, under the link's name.
    if (!name.empty() && name.front() != '.' && ::stat(path.c_str(), &info) == 0 &&
        S_ISREG(info.st_mode))
        return engine::FolderOfPath(path);
    return path;
}

} // namespace settings
