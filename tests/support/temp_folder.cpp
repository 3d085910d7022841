#include "tests/support/temp_folder.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>

namespace test {

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    // Tests may have taken permissions away; give them back so everything can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

namespace {

// Every test process gets a home, settings and state folder of its own, made before any test
// runs and removed at its end: nothing a test does reaches the user's folders, and runs of the
// suite never see each other's run history.
struct PrivateHome {
    PrivateHome()
    {
        const std::filesystem::path home = folder.path();
        std::filesystem::create_directories(home / ".config");
        std::filesystem::create_directories(home / ".local/state");
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (home / ".local/state").c_str(), 1);
    }
    TempFolder folder;
};
const PrivateHome privateHome;

} // namespace

void WriteFile(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Entries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Tree(const std::filesystem::path& root)
{
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (!entry.is_directory())
            paths.push_back(std::filesystem::relative(entry.path(), root).string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

void TakeEveryName(const std::filesystem::path& folder, const std::string& stem,
                   const std::string& tail)
{
    std::filesystem::create_directories(folder);
    WriteFile(folder / (stem + tail), "");
    for (int i = 1; i <= 999; ++i) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "[%03d]", i);
        WriteFile(folder / (stem + suffix + tail), "");
    }
}

void SetLocalMTime(const std::filesystem::path& path, int year, int month, int day, int hour,
                   int minute, int second)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const time_t when = ::mktime(&local);
    const struct timeval times[2] = {{when, 0}, {when, 0}};
    if (::lutimes(path.c_str(), times) != 0)
        throw std::runtime_error("cannot set the time of " + path.string());
}

} // namespace test
