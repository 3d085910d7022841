#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/run_host.h"
#include "media/media_dates.h"

namespace cli {

// A path for a line of "source TAB destination": TAB, line ends, the backslash and the other
// control characters escaped (\t \n \\ \xHH), so the line splits at its one TAB whatever the
// names hold.
std::string EscapedPath(const std::string& path);

// The Desktop folder (desktop true) or the Documents folder, from the folders module, as the
// window finds it. When the module cannot be had, says why on standard error (once) and gives
// the empty text, which the run then reports as a folder it cannot find.
std::string SpecialFolder(bool desktop);

// velmora-cli's side of a run: the folder's listed files, what each store prints on standard
// output, and the progress bar on standard error.
class TerminalHost : public engine::RunHost {
public:
    enum class Listing {
        None,
        Lines,      // source TAB destination, escaped
        DatedLines, // the same, then TAB date TAB where it came from
        NullFields, // source NUL destination NUL
        Json,       // one JSON object per file
    };

    // action: what a store is called in JSON ("copied", "moved", "planned"). progressBar
    // draws the bar on standard error (a terminal).
    TerminalHost(std::string folder, std::vector<std::string> names, Listing listing,
                 std::string action, bool progressBar);

    std::string SourceFolder() override { return folder_; }
    std::vector<std::string> ListedNames() override { return names_; }
    void SetProgress(int value) override;
    void Refresh() override {}
    void SetBusy(bool busy) override;
    std::string DeskTopFolder() override;
    std::string MyDocumentFolder() override;
    engine::DateSource* MediaDateSource() override { return &mediaDates_; }
    void Dated(const engine::FileEntry& entry, engine::DateFrom from) override;
    void Stored(const std::string& source, const std::string& destination) override;
    // Listed like a store, with the mark "already there" (left out of -0 output).
    void AlreadyStored(const std::string& source, const std::string& existing) override;
    // A reader that went away, or a full disk under the output: the run stops after the file
    // it is at, since nobody could learn what it did next.
    bool StopRequested() override { return outputError_ != 0; }

    int OutputError() const { return outputError_; }
    void SetOutputError(int error) { outputError_ = error; }

private:
    // Redraws the bar, at most ten times a second unless final.
    void DrawBar(bool final);
    void Listed(const std::string& source, const std::string& destination, bool same);

    std::string folder_;
    std::vector<std::string> names_; // the folder's files as listed before the run
    Listing listing_;
    std::string action_;
    bool progressBar_;
    int outputError_ = 0;
    std::string date_;          // the date of the file about to be listed (IsoDateText)
    const char* dateFrom_ = ""; // and where it came from (DateFromText)
    media::MediaDateReader mediaDates_;

    // The bar: files and bytes done of the listed ones.
    bool running_ = false;
    std::unordered_map<std::string, std::uint64_t> sizes_; // by source path
    std::uint64_t totalBytes_ = 0, bytesDone_ = 0;
    std::size_t filesDone_ = 0;
    std::chrono::steady_clock::time_point start_, lastDraw_;
    bool drawn_ = false;
};

} // namespace cli
