#include "engine/dest_folder.h"

#include <cerrno>
#include <sys/stat.h>
#include <utility>

namespace engine {

namespace {

std::error_code Errno(int value)
{
    return {value, std::generic_category()};
}

// True when path names a folder, following a symbolic link to it.
bool IsFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DestBaseResult Failure(int code, std::string path, std::string message)
{
    return {{}, Errno(code), std::move(path), std::move(message)};
}

} // namespace

DestBaseResult SettleDestBase(const RunOptions& options, const std::string& sourceFolder,
                              SpecialFolders& folders, bool create)
{
    if (options.DestPattern != 2 && options.DestPattern != 3)
        return {sourceFolder, {}, {}, {}};

    const bool desktop = options.DestPattern == 2;
    const std::string special = desktop ? folders.DeskTopFolder() : folders.MyDocumentFolder();
    const std::string what = desktop ? "Desktop" : "Documents";

    // An empty or relative answer would put the folder at the root or in the working folder.
    struct stat st {};
    int missing = 0;
    if (special.empty() || special.front() != '/')
        missing = ENOENT;
    else if (::stat(special.c_str(), &st) != 0)
        missing = errno;
    else if (!S_ISDIR(st.st_mode))
        missing = ENOTDIR;
    if (missing != 0)
        return Failure(missing, special, "The " + what + " folder could not be found.");

    const std::string base = special + "/" + ClassifiedFolderName;
    int error = 0;
    if (create) {
        if (::mkdir(base.c_str(), 0777) == 0)
            return {base, {}, {}, {}};
        error = errno;
    } else {
        // Without creating: a missing folder is fine, any other entry must be a folder.
        if (::lstat(base.c_str(), &st) == 0)
            error = EEXIST;
        else if (errno == ENOENT)
            return {base, {}, {}, {}};
        else
            error = errno;
    }
    if (error == EEXIST && IsFolder(base))
        return {base, {}, {}, {}};
    return Failure(error == EEXIST ? ENOTDIR : error, base,
                   "The folder " + std::string(ClassifiedFolderName) +
                       " could not be made in the " + what + " folder.");
}

std::string DateFolder(const std::string& destBase, int dirPattern, const FileEntry& entry)
{
    std::string name;
    switch (dirPattern) {
    case 1:
        name = entry.Year4 + entry.Month;
        break;
    case 3:
        name = entry.Year4 + entry.Month + entry.Day;
        break;
    case 5:
        name = entry.Year2 + "_" + entry.Month + entry.Day;
        break;
    case 7:
        name = entry.Year2 + entry.Month;
        break;
    default:
        name = entry.Year2 + entry.Month + entry.Day;
        break;
    }
    return destBase + "/" + name;
}

std::error_code CreateDateFolder(const std::string& folder, bool& created)
{
    created = false;
    if (::mkdir(folder.c_str(), 0777) == 0) {
        created = true;
        return {};
    }
    const int error = errno;
    if (error != EEXIST)
        return Errno(error);
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? std::error_code{} : Errno(ENOTDIR);
    // The name is held by something that is no folder, such as a dangling link.
    return Errno(errno == ENOENT ? ENOTDIR : errno);
}

} // namespace engine
