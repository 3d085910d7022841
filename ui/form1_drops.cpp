// Drops of files and folders from the file manager on the ten drop targets.

#include "ui/form1.h"

#include <algorithm>

#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTreeView>
#include <QUrl>

#include "settings/settings_file.h"
#include "ui/qt_path.h"

namespace ui {

namespace {

// The first file path of a drop: its first local-file URL; empty when it carries none (plain
// text, web links).
QString FirstDroppedPath(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls()) {
        return {};
    }
    const QList<QUrl> urls = data->urls();
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
            return url.toLocalFile();
        }
    }
    return {};
}

// The folder a dropped path names, by the same rule as a path on the command line.
QString DroppedFolder(const QString& path)
{
    return FromPath(settings::FolderNamedBy(ToPath(path)));
}

// A drop only chooses a folder and touches no file, so it is taken as a copy or a link, never
// as a move that the dragging program might complete by deleting its files.
bool AcceptWithoutMove(QDropEvent* event)
{
    for (const Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction}) {
        if (event->possibleActions().testFlag(action)) {
            event->setDropAction(action);
            event->accept();
            return true;
        }
    }
    event->ignore();
    return false;
}

} // namespace

void Form1::SetUpDropTargets()
{
    const char* const names[] = {"Frame3", "Drive1", "Dir1",          "File1",      "RefreshButton",
                                 "Label5", "Label6", "ExecuteButton", "ExitButton", "AboutButton"};
    for (const char* name : names) {
        dropTargets_.push_back(findChild<QWidget*>(QString::fromLatin1(name)));
    }
    // The item views take their drops on their viewports.
    dropTargets_.push_back(dir1_->viewport());
    dropTargets_.push_back(file1_->viewport());
    for (QObject* target : dropTargets_) {
        static_cast<QWidget*>(target)->setAcceptDrops(true);
        target->installEventFilter(this);
    }
    // ExplorerButton lies inside Frame3, and a drag that a widget does not take passes on to
    // its parent: ExplorerButton takes the drag's entry itself, then refuses to be dropped on.
    explorerButton_->setAcceptDrops(true);
    explorerButton_->installEventFilter(this);
}

void Form1::SetDroppedFolder(const QMimeData* data)
{
    const QString path = FirstDroppedPath(data);
    if (!path.isEmpty()) {
        SetSourceFolder(DroppedFolder(path));
    }
}

bool Form1::HandleDragEvent(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
        return false;
    }
    if (watched == explorerButton_) {
        // Taking the entry keeps the drag from passing on to Frame3; moves and drops are refused.
        event->setAccepted(type == QEvent::DragEnter);
        return true;
    }
    if (std::find(dropTargets_.begin(), dropTargets_.end(), watched) == dropTargets_.end()) {
        return false;
    }
    // Entries and moves are drop events too.
    auto* drop = static_cast<QDropEvent*>(event);
    // While a run works the window takes no input, drops included.
    if (running_ || FirstDroppedPath(drop->mimeData()).isEmpty() || !AcceptWithoutMove(drop)) {
        drop->ignore();
    } else if (type == QEvent::Drop) {
        SetDroppedFolder(drop->mimeData());
    }
    return true;
}
} // namespace ui
