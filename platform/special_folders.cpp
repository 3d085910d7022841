#include "platform/special_folders.h"

#include <QStandardPaths>

namespace platform {
std::string GetDeskTopFolder() { return {}; }
std::string GetMyDocumentFolder() { return {}; }
} // namespace platform
