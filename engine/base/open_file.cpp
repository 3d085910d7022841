#include "engine/base/open_file.h"

#include <cerrno>
#include <fcntl.h>

namespace engine {

UniqueFd OpenRegularFile(int dirFd, const std::string& path, int extraFlags, struct stat& st,
                         std::error_code& error)
{
    error.clear();
    UniqueFd fd(
        ::openat(dirFd, path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | extraFlags));
    int code = 0;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
        code = errno;
    else if (!S_ISREG(st.st_mode))
        code = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (code == 0)
        return fd;
    error.assign(code, std::generic_category());
    return UniqueFd();
}

} // namespace engine
