#pragma once

// Texts and paths between Qt and the engine and settings layers, which take std::string.

#include <string>

#include <QByteArray>
#include <QFile>
#include <QString>

namespace ui {

inline QString ToQString(const std::string& text)
{
    return QString::fromStdString(text);
}

// Paths cross to the engine and the settings layer as the file system's bytes.
inline std::string ToPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

inline QString FromPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace ui
