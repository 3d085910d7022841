#include "engine/storing/dest_folder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

#include "engine/base/path_text.h"

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

// Makes the last level of base when create is true and it is missing; without create, a
// missing base is fine. Any other entry in its place must be a folder (or a link to one).
DestBaseResult MakeBaseLevel(const std::string& base, bool create, const std::string& failure)
{
    struct stat st {};
    int error = 0;
    if (create) {
        if (::mkdir(base.c_str(), 0777) == 0) {
            DestBaseResult made{base, {}, {}, {}};
            made.created = true;
            return made;
        }
        error = errno;
    } else {
        if (::lstat(base.c_str(), &st) == 0)
            error = EEXIST;
        else if (errno == ENOENT)
            return {base, {}, {}, {}};
        else
            error = errno;
    }
    if (error == EEXIST && IsFolder(base))
        return {base, {}, {}, {}};
    return Failure(error == EEXIST ? ENOTDIR : error, base, failure);
}

// DestPattern 4: the folder the user chose.
DestBaseResult ChosenBase(const std::string& chosen, bool create)
{
    std::string base = chosen;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    if (base.empty() || base.front() != '/')
        return Failure(EINVAL, chosen,
                       base.empty()
                           ? std::string("No destination folder is set.")
                           : "The destination folder \"" + chosen + "\" is not an absolute path.");
    DestBaseResult result = MakeBaseLevel(base, create, {});
    if (result.error == std::errc::not_a_directory)
        result.message = "The destination folder \"" + base + "\" is not a folder.";
    else if (result.error == std::errc::no_such_file_or_directory)
        result.message = "The destination folder \"" + base +
                         "\" could not be made: the folder above it does not exist.";
    else if (result.error)
        result.message = "The destination folder \"" + base +
                         "\" could not be made: " + result.error.message() + ".";
    return result;
}

} // namespace

DestBaseResult SettleDestBase(const RunOptions& options, const std::string& sourceFolder,
                              SpecialFolders& folders, bool create)
{
    if (options.DestPattern == 4)
        return ChosenBase(options.DestPath, create);
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

    return MakeBaseLevel(special + "/" + ClassifiedFolderName, create,
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

DateFolderResult OpenDateFolder(int baseFd, const std::string& basePath, const std::string& name,
                                bool create)
{
    DateFolderResult result;
    if (create && ::mkdirat(baseFd, name.c_str(), 0777) == 0)
        result.created = true;
    else if (create && errno != EEXIST) {
        result.error = Errno(errno);
        return result;
    }
    result.fd = ::openat(baseFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (result.fd >= 0)
        return result;
    int error = errno;
    if (error == ENOENT && !create)
        return result;
    const std::string path = JoinPath(basePath, name);
    struct stat st {};
    if (error == ELOOP ||
        (::fstatat(baseFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))) {
        error = ELOOP;
        result.message = "The date folder \"" + path +
                         "\" is a symbolic link; files are never stored through a link, so "
                         "nothing was stored into it. Remove or rename the link and run again.";
    } else if (error == ENOTDIR) {
        result.message = "The date folder \"" + path +
                         "\" is not a folder, so nothing was stored into it. Remove or rename it "
                         "and run again.";
    }
    result.error = Errno(error);
    return result;
}

} // namespace engine
