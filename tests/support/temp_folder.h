#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Writes bytes to a file, replacing it.
void WriteFile(const std::filesystem::path& path, std::string_view bytes);
std::string ReadFile(const std::filesystem::path& path);

// The names of everything in a folder, sorted, hidden entries included.
std::vector<std::string> Entries(const std::filesystem::path& folder);

// Every file (not folder) below root as sorted relative paths, hidden ones included.
std::vector<std::string> Tree(const std::filesystem::path& root);

// Creates the folder holding stem + tail and every numbered clash name stem[001]tail to
// stem[999]tail, so that no free name is left for stem + tail.
void TakeEveryName(const std::filesystem::path& folder, const std::string& stem,
                   const std::string& tail);

// Sets a file's modification time to the given local time.
void SetLocalMTime(const std::filesystem::path& path, int year, int month, int day, int hour,
                   int minute, int second);

} // namespace test
