#include "engine/base/path_text.h"

namespace engine {

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string path(folder);
    if (path != "/")
        path += '/';
    path += name;
    return path;
}

std::string FolderOfPath(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    std::string_view folder = path.substr(0, slash);
    while (folder.size() > 1 && folder.back() == '/')
        folder.remove_suffix(1);
    if (folder.empty())
        return "/";
    return std::string(folder);
}

std::string NameOfPath(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace engine
