#pragma once

#include <string>

namespace platform {

// The current user's Desktop folder as an absolute path without a trailing separator, or the
// empty text when the system knows none.
std::string GetDeskTopFolder();

// The current user's Documents folder, likewise.
std::string GetMyDocumentFolder();

} // namespace platform
