#include "platform/special_folders.h"

#include <QDir>
#include <QStandardPaths>

namespace platform {

namespace {

// Qt's answer as an absolute path without a trailing separator ("/" stays "/"), or the empty
// text when Qt knows none or gives a relative path, which would name no fixed folder.
std::string FolderOf(QStandardPaths::StandardLocation location)
{
    const QString path = QStandardPaths::writableLocation(location);
    if (path.isEmpty() || QDir::isRelativePath(path))
        return {};
    return QDir::cleanPath(path).toStdString();
}

} // namespace

std::string GetDeskTopFolder()
{
    return FolderOf(QStandardPaths::DesktopLocation);
}

std::string GetMyDocumentFolder()
{
    return FolderOf(QStandardPaths::DocumentsLocation);
}

} // namespace platform
