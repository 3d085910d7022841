#include "cli/terminal_host.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <utility>

#include "engine/base/path_text.h"
#include "engine/json_line.h"
#include "platform/folders_client.h"

namespace cli {

namespace {

// "1.2 GB", "340 MB", "12 kB": three figures at most, decimal units as file managers show.
std::string Bytes(double bytes)
{
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 999.5 && unit < 4) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 || bytes >= 9.95 ? "%.0f %s" : "%.1f %s", bytes,
                  units[unit]);
    return text;
}

// "0:07", "12:30", "1:02:03".
std::string Duration(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

} // namespace

std::string EscapedPath(const std::string& path)
{
    std::string out;
    out.reserve(path.size());
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out;
}

TerminalHost::TerminalHost(std::string folder, std::vector<std::string> names, Listing listing,
                           std::string action, bool progressBar)
    : folder_(std::move(folder)), names_(std::move(names)), listing_(listing),
      action_(std::move(action)), progressBar_(progressBar)
{
    if (!progressBar_)
        return;
    // The sizes, for the bytes of the bar: one status call per file, only at a terminal.
    for (const std::string& name : names_) {
        const std::string path = engine::JoinPath(folder_, name);
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            sizes_[path] = static_cast<std::uint64_t>(st.st_size);
            totalBytes_ += static_cast<std::uint64_t>(st.st_size);
        }
    }
}

std::string SpecialFolder(bool desktop)
{
    static bool told = false;
    std::string problem;
    std::string folder = platform::SpecialFolderFromModule(desktop, problem);
    if (!problem.empty() && !told) {
        told = true;
        std::fprintf(stderr, "velmora-cli: cannot look up the %s folder: %s.\n",
                     desktop ? "Desktop" : "Documents", problem.c_str());
    }
    return folder;
}

std::string TerminalHost::DeskTopFolder()
{
    return SpecialFolder(true);
}

std::string TerminalHost::MyDocumentFolder()
{
    return SpecialFolder(false);
}

void TerminalHost::SetBusy(bool busy)
{
    if (busy) {
        running_ = true;
        start_ = std::chrono::steady_clock::now();
        return;
    }
    if (progressBar_ && running_ && drawn_) {
        DrawBar(true);
        std::fputs("\n", stderr); // the summary stands on a line of its own
    }
    running_ = false; // the run's last progress value (0) draws nothing
}

void TerminalHost::SetProgress(int /*value*/)
{
    if (progressBar_ && running_)
        DrawBar(false);
}

void TerminalHost::DrawBar(bool final)
{
    const auto now = std::chrono::steady_clock::now();
    if (!final && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100))
        return;
    if (!final && !drawn_ && now - start_ < std::chrono::milliseconds(100))
        return; // a run that ends at once needs no bar
    lastDraw_ = now;
    drawn_ = true;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double fraction =
        totalBytes_ > 0  ? static_cast<double>(bytesDone_) / static_cast<double>(totalBytes_)
        : names_.empty() ? 1.0
                         : static_cast<double>(filesDone_) / static_cast<double>(names_.size());
    constexpr int kWidth = 20;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string line =
        "\r\033[K" + std::to_string(filesDone_) + "/" + std::to_string(names_.size()) + " files  " +
        Bytes(static_cast<double>(bytesDone_)) + "/" + Bytes(static_cast<double>(totalBytes_)) +
        "  [" + std::string(static_cast<std::size_t>(filled), '#') +
        std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "]";
    char percent[16];
    std::snprintf(percent, sizeof percent, " %3d%%", static_cast<int>(fraction * 100));
    line += percent;
    if (seconds > 0.2 && bytesDone_ > 0) {
        const double rate = static_cast<double>(bytesDone_) / seconds;
        line += "  " + Bytes(rate) + "/s";
        if (!final)
            line += "  " + Duration(static_cast<double>(totalBytes_ - bytesDone_) / rate) + " left";
        else
            line += "  " + Duration(seconds);
    }
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void TerminalHost::Dated(const engine::FileEntry& entry, engine::DateFrom from)
{
    date_ = engine::IsoDateText(entry);
    dateFrom_ = engine::DateFromText(from);
}

void TerminalHost::Stored(const std::string& source, const std::string& destination)
{
    Listed(source, destination, false);
}

void TerminalHost::AlreadyStored(const std::string& source, const std::string& existing)
{
    Listed(source, existing, true);
}

void TerminalHost::Listed(const std::string& source, const std::string& destination, bool same)
{
    if (progressBar_) {
        ++filesDone_;
        if (const auto size = sizes_.find(source); size != sizes_.end())
            bytesDone_ += size->second;
        DrawBar(false);
    }
    if (listing_ == Listing::None || outputError_ != 0)
        return;
    bool written = true;
    switch (listing_) {
    case Listing::NullFields:
        if (!same)
            written =
                std::fwrite(source.c_str(), 1, source.size() + 1, stdout) == source.size() + 1 &&
                std::fwrite(destination.c_str(), 1, destination.size() + 1, stdout) ==
                    destination.size() + 1;
        break;
    case Listing::Json:
        written = std::fputs(engine::JsonLine()
                                 .Add("source", source)
                                 .Add("destination", destination)
                                 .Add("action", same ? std::string("already there") : action_)
                                 .Add("date", date_)
                                 .Add("date_from", dateFrom_)
                                 .Text()
                                 .c_str(),
                             stdout) >= 0;
        break;
    case Listing::DatedLines:
        written = std::fprintf(stdout, "%s\t%s\t%s\t%s%s\n", EscapedPath(source).c_str(),
                               EscapedPath(destination).c_str(), date_.c_str(), dateFrom_,
                               same ? "\talready there" : "") >= 0;
        break;
    default:
        written =
            std::fprintf(stdout, "%s\t%s%s\n", EscapedPath(source).c_str(),
                         EscapedPath(destination).c_str(), same ? "\talready there" : "") >= 0;
        break;
    }
    if (!written || std::ferror(stdout))
        outputError_ = errno != 0 ? errno : EIO;
}

} // namespace cli
