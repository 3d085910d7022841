// velmora-cli: one classification run of a folder's files from a terminal, with every option
// of the window.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "cli/terminal_host.h"
#include "engine/base/path_text.h"
#include "engine/base/run_options.h"
#include "engine/classification_run.h"
#include "engine/file_list.h"
#include "engine/history/history.h"
#include "engine/history/undo.h"
#include "engine/json_line.h"
#include "engine/naming/folder_template.h"
#include "engine/naming/naming.h"
#include "media/media_dates.h"
#include "settings/settings_file.h"

namespace {

enum ExitStatus { kDone = 0, kRunFailed = 1, kUsage = 2, kOverflow = 3, kPartial = 23 };

constexpr const char* kUsageText = R"(Usage: velmora-cli [OPTION]... FOLDER
Copy (or move) every file of FOLDER into folders named after the files' dates: the EXIF
picture date of camera JPEGs, then (when asked for) the capture date of other pictures and
videos and a date in the name, else the modification time. Nothing is ever overwritten.

Date folders:
      --folders=PATTERN      yyyymm, yyyymmdd, yymmdd (default), yy_mmdd or yymm;
                               or a template of nested folders made of yyyy, yy,
                               mm, dd, "-", "_" and "/" (yyyy/mm/dd, yyyy/yyyymmdd)
      --dest=PLACE           source: in FOLDER (default); desktop or documents: in a
                               folder "分類" on the Desktop or in Documents; any
                               other PLACE is a folder to make them in, itself made
                               when missing (./desktop for a folder of that name)

Stored names:
      --names=N              1 unchanged (default), 2 yymmdd+name, 3 mmdd+name,
                               4 yymmdd####, 5 mmddhhmmss, 6 yymmddhhmm
      --lower-name           lower-case the whole name, extension included
      --lower-ext            lower-case the extension
      --yyyy                 four-digit years in stored names
      --model                add the camera model, as [model], to stored names
      --suffix=STYLE         clash suffixes: number ([001], [002], ...; default) or
                               letter (a, b, ...)

Dates:
      --media-dates          date HEIC, AVIF, raw, TIFF, PNG, WebP and MP4/MOV files
                               (and JPEGs the EXIF reader misses) by the capture
                               date they hold
      --name-dates           date files without such a date by a date in their name
                               (IMG_20230708_223101.jpg, Screenshot_2023-07-08-...)

Run:
      --move                 move the files instead of copying them
      --recursive            take the files of FOLDER's subfolders too (not hidden
                               ones, links, or date folders of the destination)
      --skip-same            do not store a file again whose content is already
                               stored under its name (a move removes its source)
      --keep-going           skip a file that cannot be read or stored, name it, and
                               go on (a full or read-only destination still stops
                               the run)
      --keep-together        keep the files of a folder that share a base name
                               (IMG_0001.CR3, .JPG, .XMP, .CR3.xmp, ...) together:
                               the best-dated one's date, one folder, one name
      --runs                 list the runs of the history, newest first
      --undo[=ID]            undo the newest run not undone (or run ID; with FOLDER
                               the newest of that folder): moved files go back, copies
                               are removed only while unchanged and their source still
                               holds the same bytes, empty date folders of the run
                               too; anything else is left alone and listed. With
                               --dry-run: only print what it would do. The history is
                               $XDG_STATE_HOME/velmora/history.sqlite3
      --dry-run              change nothing; print the plan
      --settings[=FILE]      take the options, and FOLDER when none is given, from a
                               settings file (default: the window's kestrum.ini,
                               beside the program or in ~/.config/velmora); options
                               given here override it; the file is only read

Output:
      --verbose              print each store as it happens, with the date the file
                               was sorted by and where it came from
      --json                 print one JSON object per file (with "date" and
                               "date_from"), then one with the counts
  -0, --null                 end each path of the plan with a NUL byte, unescaped
      --quiet                no progress bar and no summary
      --help                 show this help and exit
      --version              show the version and exit

--dry-run and --verbose print "source TAB destination" lines; a TAB, line end, backslash
or other control character in a path is written as \t, \n, \\ or \xHH, so every line
splits at its TAB. --verbose adds two fields after the destination: the date (ISO 8601,
local time) and where it came from: exif, media (--media-dates), name (--name-dates) or
file (the modification time). A file already stored (--skip-same) gets a third field, "already there"
(with --json its action; -0 leaves it out). With --json, bytes of a name that are not UTF-8 are written as \udcXX.

Exit status: 0 done, 1 the run stopped on a failure (or its output could not be written;
with --undo: something was left alone), 2 bad usage, 3 no free suffix for a name, 23 the
run ended but skipped something, each named on standard error: a subfolder that cannot be
read, a link of another user, or (--keep-going) a file that could not be stored.
)";

struct Overrides {
    std::optional<std::int16_t> dirPattern, renamePattern, destPattern, suffix;
    bool lowerName = false, lowerExt = false, move = false, yyyy = false, model = false;
    bool mediaDates = false, nameDates = false, recursive = false, skipSame = false;
    bool keepGoing = false;
    bool keepTogether = false;
    std::optional<std::string> dirTemplate; // set by --folders; empty for the five patterns
    std::string destPath;                   // set by --dest PATH: absolute
};

struct CommandLine {
    Overrides overrides;
    std::string folder;
    bool dryRun = false, verbose = false, quiet = false, null = false, json = false;
    bool useSettings = false;
    std::string settingsFile; // empty: beside the program
    bool undo = false, runs = false;
    std::optional<std::int64_t> undoId; // --undo=ID
};

int Usage(const std::string& message)
{
    std::fprintf(stderr, "velmora-cli: %s\nTry 'velmora-cli --help'.\n", message.c_str());
    return kUsage;
}

// The options that take one of a few words, and the value of each word.
using ChoiceTable = std::vector<std::pair<const char*, std::int16_t>>;
struct ChoiceOption {
    const char* name;
    std::optional<std::int16_t> Overrides::*field;
    ChoiceTable values;
    const char* hint; // added to the message for an unknown value
};

const std::vector<ChoiceOption>& Choices()
{
    static const std::vector<ChoiceOption> choices = {
        {"--folders",
         &Overrides::dirPattern,
         {{"yyyymm", 1}, {"yyyymmdd", 3}, {"yymmdd", 4}, {"yy_mmdd", 5}, {"yymm", 7}},
         ""},
        {"--names",
         &Overrides::renamePattern,
         {{"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"5", 5}, {"6", 6}},
         " (1 to 6)"},
        {"--dest", &Overrides::destPattern, {{"source", 1}, {"desktop", 2}, {"documents", 3}}, ""},
        {"--suffix", &Overrides::suffix, {{"number", 0}, {"letter", 1}}, ""},
    };
    return choices;
}

std::optional<std::int16_t> Choice(const std::string& value, const ChoiceTable& table)
{
    for (const auto& [name, number] : table)
        if (value == name)
            return number;
    return std::nullopt;
}

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ProgramFolder()
{
    std::string exe(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
    if (n <= 0)
        return ".";
    exe.resize(static_cast<std::size_t>(n));
    return engine::FolderOfPath(exe);
}

// The arguments before "--": the ones a usage message can be about.
std::vector<std::string> OptionWords(const std::vector<std::string>& args)
{
    std::vector<std::string> words;
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        words.push_back(arg);
    }
    return words;
}

// The options written "--name=VALUE".
bool TakesValue(const std::string& name)
{
    return name == "--settings" || name == "--undo" ||
           std::any_of(Choices().begin(), Choices().end(),
                       [&](const ChoiceOption& c) { return name == c.name; });
}

// The usage message for a parse the parser refused: a value missing after an option, or a
// value given to an option that takes none.
std::string RefusedUsage(const std::vector<std::string>& args)
{
    const std::vector<std::string> words = OptionWords(args);
    for (const std::string& word : words) {
        if (word.rfind("--", 0) != 0 || word.find('=') == std::string::npos)
            continue;
        const std::string name = word.substr(0, word.find('='));
        if (!TakesValue(name))
            return "unknown option '" + word + "'";
    }
    return (words.empty() ? std::string("an option") : words.back()) + " needs a value";
}

// Parses the arguments; returns an exit status when the program should stop here.
std::optional<int> Parse(int argc, char* argv[], CommandLine& line)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    // "--folders=" with nothing after the sign is a missing value, never the next word.
    for (const std::string& word : OptionWords(args)) {
        const std::string name = word.substr(0, word.find('='));
        if (word.size() > 2 && word.rfind("--", 0) == 0 && word.back() == '=' &&
            name.size() + 1 == word.size() && TakesValue(name))
            return Usage(name + " needs a value");
    }
    // "--undo=ID" names a run; a plain "--undo" leaves FOLDER to the other arguments.
    for (std::size_t i = 0; i < args.size() && args[i] != "--";) {
        if (args[i] == "--undo" || args[i].rfind("--undo=", 0) == 0) {
            line.undo = true;
            if (args[i].size() > 6) {
                const std::string id = args[i].substr(7);
                char* end = nullptr;
                errno = 0;
                const long long value = std::strtoll(id.c_str(), &end, 10);
                if (id.empty() || *end != '\0' || errno != 0 || value <= 0)
                    return Usage("--undo=ID takes the number of a run (see --runs), not '" + id +
                                 "'");
                line.undoId = value;
            }
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    // "--settings" takes the next word only when that is an existing file: "--settings FOLDER"
    // reads the settings beside the program and sorts FOLDER. Without a file it is taken here.
    for (std::size_t i = 0; i < args.size() && args[i] != "--";) {
        const bool takesFile = i + 1 < args.size() && !args[i + 1].empty() &&
                               args[i + 1][0] != '-' && IsRegularFile(args[i + 1]);
        if (args[i] == "--settings" && !takesFile) {
            line.useSettings = true;
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }

    // "--opt=" with nothing after the sign would take the next word as its value.
    for (const std::string& word : OptionWords(args))
        if (word.size() > 3 && word.rfind("--", 0) == 0 && word.back() == '=')
            return Usage(word.substr(0, word.size() - 1) + " needs a value");

    CLI::App app;
    app.set_help_flag();
    app.allow_extras(); // unknown options are reported below, in this program's words
    bool help = false, version = false;
    std::vector<std::string> folders;
    std::string settingsFile;
    Overrides& o = line.overrides;
    const std::pair<const char*, bool*> flags[] = {
        {"--help", &help},
        {"--version", &version},
        {"--lower-name", &o.lowerName},
        {"--lower-ext", &o.lowerExt},
        {"--move", &o.move},
        {"--yyyy", &o.yyyy},
        {"--model", &o.model},
        {"--media-dates", &o.mediaDates},
        {"--name-dates", &o.nameDates},
        {"--recursive", &o.recursive},
        {"--skip-same", &o.skipSame},
        {"--keep-going", &o.keepGoing},
        {"--keep-together", &o.keepTogether},
        {"--dry-run", &line.dryRun},
        {"--verbose", &line.verbose},
        {"--quiet", &line.quiet},
        {"--json", &line.json},
        {"-0,--null", &line.null},
        {"--runs", &line.runs},
    };
    for (const auto& [name, target] : flags)
        app.add_flag(name, *target)->disable_flag_override();
    const std::vector<ChoiceOption>& choices = Choices();
    std::vector<std::string> values(choices.size());
    for (std::size_t k = 0; k < choices.size(); ++k)
        app.add_option(choices[k].name, values[k])
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    CLI::Option* settings = app.add_option("--settings", settingsFile)
                                ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("FOLDER", folders);

    std::vector<std::string> reversed(args.rbegin(), args.rend()); // the parser takes them so
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError&) {
        return Usage(RefusedUsage(args));
    }
    if (help) {
        std::fputs(kUsageText, stdout);
        return kDone;
    }
    for (const std::string& extra : app.remaining())
        if (extra != "--")
            return Usage("unknown option '" + extra + "'");
    if (version) {
        std::printf("velmora-cli %s\nThe window program velmora uses Qt %s.\n",
                    engine::ProgramVersion, VELMORA_QT_VERSION);
        return kDone;
    }
    for (std::size_t k = 0; k < choices.size(); ++k) {
        if (app.count(choices[k].name) == 0)
            continue;
        o.*choices[k].field = Choice(values[k], choices[k].values);
        if (choices[k].field == &Overrides::dirPattern) {
            // Not one of the five patterns: a template of nested folders, checked here, before
            // anything is touched.
            std::string message;
            if (o.dirPattern)
                o.dirTemplate = std::string();
            else if (engine::ParseFolderTemplate(values[k], message))
                o.dirTemplate = values[k];
            else
                return Usage("unknown --folders value '" + values[k] + "': " + message);
            continue;
        }
        if (choices[k].field == &Overrides::destPattern && !o.destPattern) {
            // Not one of the three words: a folder of the user's choosing.
            if (values[k].empty())
                return Usage("--dest needs a value");
            o.destPattern = 4;
            // The shell leaves "--dest=~/Pictures" alone: "~" is the home folder here too
            // ("./~" names a folder of that name).
            std::string path = values[k];
            const char* home = std::getenv("HOME");
            if ((path == "~" || path.rfind("~/", 0) == 0) && home != nullptr && home[0] == '/')
                path.replace(0, 1, home);
            o.destPath = engine::AbsolutePath(path);
            continue;
        }
        if (!(o.*choices[k].field))
            return Usage("unknown " + std::string(choices[k].name) + " value '" + values[k] + "'" +
                         choices[k].hint);
    }
    if (settings->count() > 0) {
        line.useSettings = true;
        line.settingsFile = settingsFile;
    }
    if (folders.size() > 1)
        return Usage("only one FOLDER may be given");
    if (!folders.empty())
        line.folder = folders.front();
    if (line.undo || line.runs) {
        // An undo and the list take only what means something to them.
        const char* what = line.undo ? "--undo" : "--runs";
        const bool options = o.dirPattern || o.renamePattern || o.destPattern || o.suffix ||
                             o.lowerName || o.lowerExt || o.move || o.yyyy || o.model ||
                             o.mediaDates || o.nameDates || o.recursive || o.skipSame ||
                             o.keepGoing || o.dirTemplate.has_value() || !o.destPath.empty();
        if (line.undo && line.runs)
            return Usage("--undo and --runs cannot be given together");
        if (options || line.useSettings || line.verbose || line.null)
            return Usage(std::string("only --dry-run, --json and --quiet go with ") + what +
                         " (the run's own options are in the history)");
        if (line.runs && (line.dryRun || !line.folder.empty()))
            return Usage("--runs takes no FOLDER and no --dry-run");
        if (line.undoId && !line.folder.empty())
            return Usage("give either --undo=ID or --undo FOLDER, not both");
    }
    return std::nullopt;
}

// "1 file", "2 files".
std::string Counted(std::size_t n, const char* noun)
{
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// The output could not be written: what the run did is said on standard error instead.
// done is the past tense of the run's work ("copied", "moved", "planned").
int OutputFailed(int error, const engine::RunResult& result, const char* done)
{
    std::fprintf(stderr, "velmora-cli: cannot write to standard output: %s.\n",
                 std::strerror(error));
    if (!result.ok && result.error.kind != engine::RunError::Kind::Stopped)
        std::fprintf(stderr, "velmora-cli: %s\n", result.error.message.c_str());
    std::fprintf(stderr, "velmora-cli: %s; %s %s.\n",
                 result.ok ? "the run ended" : "the run stopped there",
                 Counted(result.filesStored, "file").c_str(), done);
    return kRunFailed;
}

// The last object of --json: the counts, and the failure when there was one. False when it
// could not be written.
bool JsonSummary(const engine::RunResult& result, const char* done, double seconds,
                 const std::string& historyProblem)
{
    engine::JsonLine line;
    line.AddBool("summary", true)
        .AddBool("ok", result.ok)
        .Add("action", done)
        .AddUnsigned("files", result.filesStored)
        .AddUnsigned("folders", result.foldersMade);
    if (result.filesSame > 0)
        line.AddUnsigned("same", result.filesSame);
    if (!result.skipped.empty())
        line.AddUnsigned("skipped", result.skipped.size());
    line.AddSeconds("seconds", seconds);
    if (result.historyRun != 0)
        line.Add("run", result.historyRun);
    if (!historyProblem.empty())
        line.Add("history", historyProblem);
    if (!result.ok)
        line.Add("error", result.error.message).Add("path", result.error.path);
    return std::fputs(line.Text().c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

// Names what the listing passed over (a folder that cannot be read, a link of another user) or
// a file the run skipped (--keep-going): on standard error, and with --json as an object
// {"skipped": path, "reason": why} on standard output. False when that could not be written.
bool NameSkipped(const std::vector<engine::SkippedEntry>& skipped, bool json,
                 bool sentences = false)
{
    for (const engine::SkippedEntry& entry : skipped) {
        if (sentences) // the run's messages name the file themselves
            std::fprintf(stderr, "velmora-cli: skipped: %s\n", entry.reason.c_str());
        else
            std::fprintf(stderr, "velmora-cli: skipped \"%s\": %s\n", entry.path.c_str(),
                         entry.reason.c_str());
        if (json && std::fputs(engine::JsonLine()
                                   .Add("skipped", entry.path)
                                   .Add("reason", entry.reason)
                                   .Text()
                                   .c_str(),
                               stdout) < 0)
            return false;
    }
    return true;
}

bool NameSkipped(const std::vector<engine::RunError>& skipped, bool json)
{
    std::vector<engine::SkippedEntry> entries;
    for (const engine::RunError& error : skipped)
        entries.push_back({error.path, error.message});
    return NameSkipped(entries, json, true);
}

std::string LocalTimeText(std::int64_t seconds)
{
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    ::localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// Opens the history for --runs and --undo; nothing (and the reason on standard error) when
// it cannot be had.
std::unique_ptr<engine::History> OpenHistoryOrSay()
{
    std::string problem;
    std::unique_ptr<engine::History> history = engine::History::Open(engine::HistoryPath(), problem);
    if (!history)
        std::fprintf(stderr, "velmora-cli: %s\n", problem.c_str());
    return history;
}

// velmora-cli --runs: the runs of the history, newest first.
int ListRuns(const CommandLine& line)
{
    const std::unique_ptr<engine::History> history = OpenHistoryOrSay();
    if (!history)
        return kRunFailed;
    history->RecoverKilledRuns(); // a killed run is listed as what it is: failed
    const std::vector<engine::RunRecord> runs = history->Runs();
    if (!history->Problem().empty()) {
        std::fprintf(stderr, "velmora-cli: %s\n", history->Problem().c_str());
        return kRunFailed;
    }
    for (const engine::RunRecord& run : runs) {
        if (line.json) {
            engine::JsonLine json;
            json.Add("id", run.id)
                .Add("started", LocalTimeText(run.started))
                .Add("source", run.source)
                .Add("destination", run.base)
                .Add("action", run.move ? "move" : "copy")
                .Add("files", run.files)
                .Add("state", engine::StateText(run.state));
            if (!run.note.empty())
                json.Add("note", run.note);
            std::fputs(json.Text().c_str(), stdout);
        } else {
            std::printf("%lld\t%s\t%s\t%s\t%s\t%s\n", static_cast<long long>(run.id),
                        LocalTimeText(run.started).c_str(), cli::EscapedPath(run.source).c_str(),
                        run.move ? "move" : "copy",
                        Counted(static_cast<std::size_t>(run.files), "file").c_str(),
                        engine::StateText(run.state));
        }
    }
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "velmora-cli: cannot write to standard output: %s.\n",
                     std::strerror(errno));
        return kRunFailed;
    }
    return kDone;
}

// velmora-cli --undo: undoes a run of the history and lists what it left alone, or, with
// --dry-run, prints what it would do.
int UndoRun(const CommandLine& line)
{
    const std::unique_ptr<engine::History> history = OpenHistoryOrSay();
    if (!history)
        return kRunFailed;
    std::string message;
    const std::optional<engine::RunRecord> run =
        engine::ChooseRunToUndo(*history, line.undoId, line.folder, message);
    if (!run) {
        std::fprintf(stderr, "velmora-cli: %s.\n", message.c_str());
        return kRunFailed;
    }
    const engine::UndoResult result = engine::UndoRun(*history, run->id, line.dryRun);
    if (!result.started) {
        std::fprintf(stderr, "velmora-cli: %s.\n", result.message.c_str());
        return kRunFailed;
    }
    using Kind = engine::UndoStep::Kind;
    for (const engine::UndoStep& step : result.steps) {
        if (line.json) {
            static const char* const kinds[] = {"remove", "move back", "copy back", "leave",
                                                "remove folder"};
            engine::JsonLine json;
            json.Add("action", kinds[static_cast<int>(step.kind)]).Add("path", step.path);
            if (!step.to.empty())
                json.Add("to", step.to);
            if (!step.reason.empty())
                json.Add("reason", step.reason);
            std::fputs(json.Text().c_str(), stdout);
        } else if (step.kind == Kind::Leave) {
            std::fprintf(line.dryRun ? stdout : stderr, "%sleft alone: %s: %s\n",
                         line.dryRun ? "would be " : "velmora-cli: ",
                         cli::EscapedPath(step.path).c_str(), step.reason.c_str());
        } else if (line.dryRun) {
            const std::string path = cli::EscapedPath(step.path);
            const std::string to = cli::EscapedPath(step.to);
            if (step.kind == Kind::Remove)
                std::printf("would remove %s\n", path.c_str());
            else if (step.kind == Kind::MoveBack)
                std::printf("would move %s back to %s\n", path.c_str(), to.c_str());
            else if (step.kind == Kind::CopyBack)
                std::printf("would copy %s back to %s\n", path.c_str(), to.c_str());
            else
                std::printf("would remove the folder %s\n", path.c_str());
        }
    }
    if (!result.message.empty())
        std::fprintf(stderr, "velmora-cli: %s\n", result.message.c_str());
    if (line.json) {
        engine::JsonLine json;
        json.AddBool("summary", true)
            .AddBool("ok", result.complete)
            .Add("run", result.run.id)
            .AddBool("dry_run", line.dryRun)
            .AddUnsigned("undone", result.undone)
            .AddUnsigned("left", result.left)
            .AddUnsigned("folders", result.foldersRemoved);
        std::fputs(json.Text().c_str(), stdout);
    } else if (!line.quiet) {
        std::printf("%s %s, %s left alone, %s %s (run %lld, %s)\n",
                    Counted(result.undone, "file").c_str(),
                    line.dryRun ? "to undo" : "undone", Counted(result.left, "file").c_str(),
                    Counted(result.foldersRemoved, "folder").c_str(),
                    line.dryRun ? "to remove" : "removed", static_cast<long long>(result.run.id),
                    cli::EscapedPath(result.run.source).c_str());
    }
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "velmora-cli: cannot write to standard output: %s.\n",
                     std::strerror(errno));
        return kRunFailed;
    }
    return result.complete ? kDone : kRunFailed;
}

// Asks the platform for the special folders, for the destination base before a run.
struct PlatformFolders : engine::SpecialFolders {
    std::string DeskTopFolder() override { return cli::SpecialFolder(true); }
    std::string MyDocumentFolder() override { return cli::SpecialFolder(false); }
};

std::string WithoutTrailingSlash(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

} // namespace

int main(int argc, char* argv[])
{
    // A closed output pipe is an error to report, not a reason to die half-way through a move.
    std::signal(SIGPIPE, SIG_IGN);
    CommandLine line;
    if (const auto status = Parse(argc, argv, line))
        return *status;
    if (line.undo)
        return UndoRun(line);
    if (line.runs)
        return ListRuns(line);

    engine::RunOptions options;
    if (line.useSettings) {
        const std::string file =
            line.settingsFile.empty() ? settings::SettingsFile(ProgramFolder()) : line.settingsFile;
        const settings::SettingsTexts texts = settings::LoadSettings(file);
        if (texts.layout == settings::SettingsTexts::Layout::NoFile)
            return Usage("cannot read the settings file '" + file + "'");
        options = settings::ToRunOptions(texts);
        if (line.folder.empty())
            line.folder = options.SourceFolder;
    }
    const Overrides& o = line.overrides;
    if (o.dirPattern)
        options.DirPattern = *o.dirPattern;
    if (o.renamePattern)
        options.RenamePattern = *o.renamePattern;
    if (o.destPattern) {
        options.DestPattern = *o.destPattern;
        options.DestPath = o.destPath;
    }
    if (o.suffix)
        options.Suffix = *o.suffix;
    // The flags that turn an option on, and the value they give it.
    const std::tuple<bool Overrides::*, std::int16_t engine::RunOptions::*, std::int16_t>
        flagOptions[] = {
            {&Overrides::lowerName, &engine::RunOptions::FileNameCase, 1},
            {&Overrides::lowerName, &engine::RunOptions::ExtCase, 1}, // the whole name
            {&Overrides::lowerExt, &engine::RunOptions::ExtCase, 1},
            {&Overrides::move, &engine::RunOptions::Move, 1},
            {&Overrides::yyyy, &engine::RunOptions::YYYY, 4},
            {&Overrides::model, &engine::RunOptions::Model, 1},
            {&Overrides::mediaDates, &engine::RunOptions::MediaDates, 1},
            {&Overrides::nameDates, &engine::RunOptions::NameDates, 1},
            {&Overrides::recursive, &engine::RunOptions::Recursive, 1},
            {&Overrides::skipSame, &engine::RunOptions::SkipSame, 1},
            {&Overrides::keepGoing, &engine::RunOptions::KeepGoing, 1},
            {&Overrides::keepTogether, &engine::RunOptions::KeepTogether, 1},
        };
    for (const auto& [flag, field, value] : flagOptions)
        if (o.*flag)
            options.*field = value;
    if (o.dirTemplate)
        options.DirTemplate = *o.dirTemplate;
    if (!options.DirTemplate.empty()) {
        std::string message;
        if (!engine::ParseFolderTemplate(options.DirTemplate, message))
            return Usage("bad folder template in the settings file: " + message);
    }

    if (line.folder.empty())
        return Usage("no FOLDER given");
    line.folder = WithoutTrailingSlash(line.folder);
    options.SourceFolder = line.folder;
    // The history is opened while the folder is read and the files are dated. A run killed
    // earlier may have taken a source aside under a hidden name: a folder that shows such a
    // name is read again once the history has finished what killed runs left, so that this
    // run lists the source under its own name. (The run finishes them anyway before it
    // stores anything; none of them can change a listing that shows no hidden name.)
    std::optional<engine::HistoryOpening> opening;
    if (!line.dryRun)
        opening.emplace(engine::HistoryPath());
    std::error_code listError;
    PlatformFolders specialFolders;
    engine::FolderListing listed = engine::ListRunFolder(options, specialFolders, listError);
    if (listed.hiddenByRun && opening) {
        if (const std::unique_ptr<engine::History>& history = opening->Wait().history)
            history->RecoverKilledRuns();
        listed = engine::ListRunFolder(options, specialFolders, listError);
    }
    if (listError)
        return Usage("cannot read the folder '" + line.folder + "': " + listError.message());
    if (!NameSkipped(listed.skipped, line.json))
        return OutputFailed(errno != 0 ? errno : EIO, {}, "planned");

    const bool anyFiles = !listed.names.empty();
    const bool listing = line.dryRun || line.verbose || line.json;
    const char* done = line.dryRun ? "planned" : (options.Move == 1 ? "moved" : "copied");
    // Each line of a real run goes out as the file is stored, so a reader that stops reading
    // stops the run at once; a plan is written in blocks.
    if (listing && !line.dryRun)
        std::setvbuf(stdout, nullptr, line.null ? _IOFBF : _IOLBF, BUFSIZ);
    using Listing = cli::TerminalHost::Listing;
    cli::TerminalHost host(line.folder, std::move(listed.names),
                           !listing       ? Listing::None
                           : line.json    ? Listing::Json
                           : line.null    ? Listing::NullFields
                           : line.verbose ? Listing::DatedLines
                                          : Listing::Lines,
                           done, !line.quiet && !listing && ::isatty(STDERR_FILENO));
    engine::RunSettings runSettings;
    runSettings.dryRun = line.dryRun;
    // A run without a history says so before it stores anything.
    std::string historyProblem;
    if (!line.dryRun && anyFiles)
        runSettings.awaitHistory = [&opening, &historyProblem]() -> engine::History* {
            engine::HistoryOpening::Opened& opened = opening->Wait();
            historyProblem = opened.problem;
            if (!opened.history)
                std::fprintf(stderr, "velmora-cli: %s; this run cannot be undone.\n",
                             historyProblem.c_str());
            return opened.history.get();
        };
    runSettings.listedFolders = std::move(listed.folders);
    const auto start = std::chrono::steady_clock::now();
    const engine::RunResult result = engine::ClassificationRun(options, host, runSettings);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (std::fflush(stdout) != 0 && host.OutputError() == 0)
        host.SetOutputError(errno);
    if (host.OutputError() == 0 && !NameSkipped(result.skipped, line.json))
        host.SetOutputError(errno != 0 ? errno : EIO);
    if (!result.historyProblem.empty())
        historyProblem = result.historyProblem;
    else if (!historyProblem.empty())
        historyProblem += "; this run cannot be undone.";
    if (line.json && !JsonSummary(result, done, seconds, historyProblem) &&
        host.OutputError() == 0)
        host.SetOutputError(errno != 0 ? errno : EIO);
    if (host.OutputError() != 0)
        return OutputFailed(host.OutputError(), result, done);
    if (!result.historyProblem.empty())
        std::fprintf(stderr, "velmora-cli: %s\n", result.historyProblem.c_str());

    if (!result.skipped.empty())
        std::fprintf(stderr, "velmora-cli: %s could not be stored.\n",
                     Counted(result.skipped.size(), "file").c_str());
    if (!result.ok) {
        if (result.error.kind == engine::RunError::Kind::SuffixOverflow) {
            std::fprintf(stderr, "velmora-cli: %s (%s)\n", engine::SuffixOverflowMessage,
                         result.error.path.c_str());
            return kOverflow;
        }
        std::fprintf(stderr, "velmora-cli: %s\n", result.error.message.c_str());
        if (result.filesStored > 0)
            std::fprintf(stderr, "velmora-cli: %s %s before the failure.\n",
                         Counted(result.filesStored, "file").c_str(),
                         line.dryRun ? "planned"
                                     : (result.filesStored == 1 ? "was stored" : "were stored"));
        return kRunFailed;
    }
    if (!line.quiet && !line.json) {
        std::FILE* out = listing ? stderr : stdout;
        // "N already there" only where the option can make any.
        const std::string same =
            options.SkipSame == 1 ? ", " + std::to_string(result.filesSame) + " already there" : "";
        const int written = std::fprintf(
            out, "%s %s%s, %s %s, %.2f s\n", Counted(result.filesStored, "file").c_str(), done,
            same.c_str(), Counted(result.foldersMade, "folder").c_str(),
            line.dryRun ? "to make" : "made", seconds);
        if ((written < 0 || std::fflush(out) != 0) && out == stdout)
            return OutputFailed(errno, result, done);
    }
    return listed.skipped.empty() && result.skipped.empty() ? kDone : kPartial;
}
