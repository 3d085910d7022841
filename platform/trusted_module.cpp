#include "platform/trusted_module.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "engine/base/unique_fd.h"

namespace platform {

namespace {

// Why a file or folder, in status st, may not be trusted: neither root's nor the program
// owner's, or writable by everyone; empty when it may.
std::string Distrust(const std::string& what, const struct stat& st, uid_t owner)
{
    if (st.st_uid != 0 && st.st_uid != owner)
        return what + " belongs to user " + std::to_string(st.st_uid) +
               ", neither root nor the owner of the program";
    if ((st.st_mode & S_IWOTH) != 0)
        return what + " may be written by everyone";
    return {};
}

// The reason the module open as fd, at path in folder, may not be loaded; empty when it may.
std::string Untrusted(int fd, const std::string& path, const std::string& folder, uid_t owner)
{
    struct stat file {
    }, dir{};
    if (::fstat(fd, &file) != 0)
        return path + ": " + std::strerror(errno);
    if (!S_ISREG(file.st_mode))
        return path + " is not a regular file";
    if (std::string why = Distrust(path, file, owner); !why.empty())
        return why;
    if (::stat(folder.c_str(), &dir) != 0)
        return "the folder " + folder + ": " + std::strerror(errno);
    if (!S_ISDIR(dir.st_mode))
        return folder + " is not a folder";
    return Distrust("the folder " + folder, dir, owner);
}

} // namespace

void* LoadTrustedModule(const std::string& fileName, const char* interfaceSymbol,
                        int interfaceVersion, std::string& problem)
{
    std::string exe(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
    struct stat program {};
    if (n <= 0 || static_cast<std::size_t>(n) >= exe.size() ||
        ::stat("/proc/self/exe", &program) != 0) {
        problem = fileName + " could not be looked for: the program's own path is unknown";
        return nullptr;
    }
    exe.resize(static_cast<std::size_t>(n));
    const std::string folder = exe.substr(0, exe.rfind('/') + 1);

    std::vector<std::string> reasons;
    for (const std::string& dir : {folder + VELMORA_MODULE_FROM_BIN, folder}) {
        const std::string candidate = (dir.back() == '/' ? dir : dir + "/") + fileName;
        // Without blocking: a FIFO put in the module's place must not hang the program.
        const engine::UniqueFd file(::open(candidate.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (file.get() < 0) {
            reasons.push_back(candidate + ": " + std::strerror(errno));
            continue;
        }
        if (std::string why = Untrusted(file.get(), candidate, dir, program.st_uid); !why.empty()) {
            reasons.push_back(why);
            continue;
        }
        // Loaded through the descriptor checked, not the name, which may change meanwhile.
        const std::string opened = "/proc/self/fd/" + std::to_string(file.get());
        void* module = ::dlopen(opened.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            const char* error = ::dlerror();
            reasons.push_back(candidate +
                              " cannot be loaded: " + (error != nullptr ? error : "unknown error"));
            continue;
        }
        const auto version = reinterpret_cast<int (*)()>(::dlsym(module, interfaceSymbol));
        const int built = version != nullptr ? version() : -1;
        if (built == interfaceVersion)
            return module;
        reasons.push_back(candidate +
                          (version == nullptr
                               ? std::string(" is not a module of this program")
                               : " has interface " + std::to_string(built) +
                                     ", this program needs " + std::to_string(interfaceVersion)));
        ::dlclose(module);
    }
    problem = fileName + " could not be loaded (";
    for (std::size_t k = 0; k < reasons.size(); ++k)
        problem += (k == 0 ? "" : "; ") + reasons[k];
    problem += ")";
    return nullptr;
}

} // namespace platform
