#pragma once

#include <string>
#include <string_view>

namespace engine {

// folder + "/" + name, with a single separator after the root "/".
std::string JoinPath(std::string_view folder, std::string_view name);

// The folder part of a path, without trailing separators: "/pics/a.jpg" gives "/pics", a path
// at the top of the file system gives "/", a bare name gives ".".
std::string FolderOfPath(std::string_view path);

// The last part of a path: "/pics/a.jpg" gives "a.jpg".
std::string NameOfPath(std::string_view path);

} // namespace engine
