// The source folder: the drive, folder and file lists, the refresh and file-manager buttons,
// and the notices shown in the progress bar.

#include "ui/form1.h"

#include <algorithm>
#include <functional>

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QListWidget>
#include <QProgressBar>
#include <QStorageInfo>
#include <QTreeView>

#include "engine/file_list.h"
#include "ui/qt_path.h"

namespace ui {

namespace {

// The texts of the two notices.
const char* const UnreadableDriveNotice = "%1 を読み取れません";
const char* const ExplorerFailedNotice = "このフォルダを開けませんでした";

// The folder model keeps a hidden row for every file of a folder it reads, and asks its icon
// provider for the icon and type of each as it arrives, on the GUI thread. The default asks
// the MIME database per file, which for a folder of 15,000 files takes longer than the run
// that stored them. Folders keep their usual icons; files get none.
class FolderIconProvider : public QFileIconProvider {
public:
    using QFileIconProvider::icon;

    QIcon icon(const QFileInfo& info) const override
    {
        return info.isDir() ? QFileIconProvider::icon(info) : QIcon();
    }

    QString type(const QFileInfo& info) const override
    {
        return info.isDir() ? QFileIconProvider::type(info) : QString();
    }
};

// Shared by every model of every window; it must outlive them, so it is never deleted.
QFileIconProvider* FolderIcons()
{
    static auto* const provider = new FolderIconProvider;
    return provider;
}

} // namespace

bool Form1::SetSourceFolder(const QString& path)
{
    if (path.isEmpty()) {
        return false;
    }
    const QFileInfo info(path);
    if (!info.isDir()) {
        return false;
    }
    const QString folder = QDir::cleanPath(info.absoluteFilePath());
    // Read before anything changes: a folder that cannot be listed is not taken.
    std::error_code error;
    std::vector<std::string> names = engine::ListFolderFiles(ToPath(folder), error);
    if (error) {
        return false;
    }
    sourceFolder_ = folder;
    // Like a classic folder list, the tree shows the way down to the folder and the folders
    // in it; what was opened elsewhere closes.
    dir1_->collapseAll();
    SelectInFolderList();
    ShowFiles(std::move(names));
    ClearNotice();
    return true;
}

void Form1::SelectInFolderList()
{
    const QModelIndex index = dirModel_->index(sourceFolder_);
    if (!index.isValid()) {
        return;
    }
    dir1_->setCurrentIndex(index);
    dir1_->expand(index);
    dir1_->scrollTo(index, QAbstractItemView::PositionAtCenter);
    followCurrentFolder_ = true;
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (HandleDragEvent(watched, event)) {
        return true;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::KeyPress:
        followCurrentFolder_ = false; // the user moves around the folder list
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::OnFolderActivated(const QModelIndex& index)
{
    if (!index.isValid()) {
        return;
    }
    const QString path = QDir::cleanPath(dirModel_->filePath(index));
    if (path != sourceFolder_) {
        sourceFolder_ = path;
        ListFiles();
        ClearNotice();
    }
}

void Form1::ListFiles()
{
    std::error_code error;
    std::vector<std::string> names = engine::ListFolderFiles(ToPath(sourceFolder_), error);
    if (error) {
        names.clear(); // a folder the user opened but may not read lists nothing
    }
    ShowFiles(std::move(names));
}

void Form1::ShowFiles(std::vector<std::string> names)
{
    listedNames_ = std::move(names);
    QStringList shown;
    shown.reserve(static_cast<qsizetype>(listedNames_.size()));
    for (const std::string& name : listedNames_) {
        shown << FromPath(name);
    }
    // One insertion: the view lays out a folder of many thousand files once, not per file.
    file1_->clear();
    file1_->addItems(shown);
}

void Form1::HoldFolderList()
{
    // A run makes its date folders in the folder the tree shows, thousands of them in a big
    // run: the tree would read the folder again after each. It stops following the disk
    // until the refresh at the end of the run, which reads everything once.
    dirModel_->setOption(QFileSystemModel::DontWatchForChanges, true);
    followCurrentFolder_ = false;
}

QStringList Form1::ExpandedFolders() const
{
    QStringList folders;
    if (dirModel_ == nullptr) {
        return folders;
    }
    // Parents before their children, so that they can be opened again in this order.
    const std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
        for (int row = 0; row < dirModel_->rowCount(parent); ++row) {
            const QModelIndex child = dirModel_->index(row, 0, parent);
            if (dir1_->isExpanded(child)) {
                folders << dirModel_->filePath(child);
                walk(child);
            }
        }
    };
    walk(dir1_->rootIndex());
    return folders;
}

void Form1::RefreshLists()
{
    const QStringList expanded = ExpandedFolders();
    // A fresh model reads the folder tree anew, so folders made or removed since show up.
    auto* model = new QFileSystemModel(this);
    model->setIconProvider(FolderIcons());
    model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    model->setRootPath(QDir::rootPath());
    QItemSelectionModel* oldSelection = dir1_->selectionModel();
    QFileSystemModel* oldModel = dirModel_;
    dir1_->setModel(model);
    dirModel_ = model;
    delete oldSelection;
    delete oldModel;
    for (int column = 1; column < model->columnCount(); ++column) {
        dir1_->hideColumn(column);
    }
    // The model reads folders in the background and sorts them later: until the user takes
    // the folder list in hand, bring the current folder back into view whenever rows arrive,
    // once the view has taken them in.
    const auto keepInView = [this] {
        if (followCurrentFolder_) {
            QMetaObject::invokeMethod(
                dir1_,
                [this] {
                    dir1_->scrollTo(dir1_->currentIndex(), QAbstractItemView::PositionAtCenter);
                },
                Qt::QueuedConnection);
        }
    };
    connect(model, &QFileSystemModel::rowsInserted, this, keepInView);
    connect(model, &QFileSystemModel::layoutChanged, this, keepInView);
    connect(model, &QFileSystemModel::directoryLoaded, this, keepInView);
    connect(dir1_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { OnFolderActivated(current); });
    for (const QString& folder : expanded) {
        const QModelIndex index = model->index(folder); // invalid once the folder has gone
        if (index.isValid()) {
            dir1_->expand(index);
        }
    }
    if (!sourceFolder_.isEmpty()) {
        SelectInFolderList();
        ListFiles();
    }
}

void Form1::RefreshDrives()
{
    drive1_->clear();
    for (const QString& root : volumes_()) {
        drive1_->addItem(root, root);
    }
    int index = drive1_->findData(driveRoot_);
    if (index < 0) {
        // The volume shown has gone: show the one that holds the source folder.
        index = drive1_->findData(QStorageInfo(sourceFolder_).rootPath());
    }
    drive1_->setCurrentIndex(std::max(0, index));
    if (drive1_->currentIndex() >= 0) {
        driveRoot_ = drive1_->currentData().toString();
    }
}

void Form1::OnDriveChosen(int index)
{
    const QString root = drive1_->itemData(index).toString();
    if (SetSourceFolder(root)) {
        driveRoot_ = root;
        return;
    }
    // No medium, gone, or no access: the folder and file lists stay on their readable folder,
    // and the drive list goes back to the drive it showed.
    drive1_->setCurrentIndex(std::max(0, drive1_->findData(driveRoot_)));
    ShowNotice(QString::fromUtf8(UnreadableDriveNotice).arg(root));
}

void Form1::OnRefresh()
{
    ClearNotice();
    RefreshDrives();
    RefreshLists();
    update();
}

void Form1::OnExplorer()
{
    if (openFolder_(sourceFolder_)) {
        ClearNotice();
    } else {
        ShowNotice(QString::fromUtf8(ExplorerFailedNotice));
    }
}

void Form1::ShowNotice(const QString& text)
{
    // One line in the bar, shortened in the middle when a long path makes it too wide; the
    // whole text shows as the bar's tooltip.
    const int room = progressBar1_->width() - 8;
    QString shown = progressBar1_->fontMetrics().elidedText(text, Qt::ElideMiddle, room);
    // The bar puts numbers for "%p", "%v" and "%m" and has no escape: a zero-width space
    // after each "%" keeps a path's "%" as it is.
    shown.replace(QLatin1Char('%'), QStringLiteral("%\u200B"));
    progressBar1_->setFormat(shown);
    progressBar1_->setToolTip(text);
    progressBar1_->setTextVisible(true);
}

void Form1::ClearNotice()
{
    progressBar1_->setTextVisible(false);
    progressBar1_->resetFormat();
    progressBar1_->setToolTip(QString());
}
} // namespace ui
