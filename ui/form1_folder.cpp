// The source folder: the drive, folder and file lists, the refresh and file-manager buttons,
// and the notices shown in the progress bar.

#include "ui/form1.h"

#include <algorithm>
#include <functional>

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QListWidget>
#include <QProgressBar>
#include <QScrollBar>
#include <QStorageInfo>
#include <QTreeView>

#include "engine/file_list.h"
#include "ui/folder_tree_model.h"
#include "ui/qt_path.h"

namespace ui {

namespace {

// The texts of the two notices.
const char* const UnreadableDriveNotice = "%1 を読み取れません";
const char* const ExplorerFailedNotice = "このフォルダを開けませんでした";

} // namespace

void Form1::SetUpFolderList()
{
    dir1_->setHeaderHidden(true);
    dir1_->setUniformRowHeights(true);
    // Deep folders and long names: names are never shortened, the one column is as wide as
    // the widest name laid out, and the list scrolls sideways.
    dir1_->setTextElideMode(Qt::ElideNone);
    dir1_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    dir1_->header()->setStretchLastSection(false);
    dir1_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The column widens and the scroll range grows after the rows arrive.
    connect(dir1_->header(), &QHeaderView::sectionResized, this, &Form1::FollowCurrentFolder);
    connect(dir1_->horizontalScrollBar(), &QScrollBar::rangeChanged, this,
            &Form1::FollowCurrentFolder);
    // The user's hand on the list ends the following (eventFilter).
    dir1_->installEventFilter(this);
    dir1_->viewport()->installEventFilter(this);
    dir1_->verticalScrollBar()->installEventFilter(this);
    dir1_->horizontalScrollBar()->installEventFilter(this);
}

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
    engine::FolderListing listing = ListRunFolder(folder, error);
    if (error) {
        return false;
    }
    sourceFolder_ = folder;
    // Like a classic folder list, the tree shows the way down to the folder and the folders
    // in it; what was opened elsewhere closes.
    dir1_->collapseAll();
    SelectInFolderList();
    ClearNotice();
    ShowFiles(std::move(listing));
    ShowFolderPath();
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
    KeepCurrentFolderInView();
    followCurrentFolder_ = true;
}

void Form1::KeepCurrentFolderInView()
{
    const QModelIndex current = dir1_->currentIndex();
    if (!current.isValid()) {
        return;
    }
    dir1_->scrollTo(current, QAbstractItemView::PositionAtCenter);
    // scrollTo places the column, not the name, which may lie far to the right in a deep
    // folder: show the name's end, or its start when it is wider than the list.
    QScrollBar* bar = dir1_->horizontalScrollBar();
    const int start = dir1_->visualRect(current).left() + bar->value();
    const int end = start + dir1_->sizeHintForIndex(current).width();
    bar->setValue(std::max(0, std::min(start, end - dir1_->viewport()->width())));
}

void Form1::FollowCurrentFolder()
{
    // The model reads folders in the background and sorts them later: until the user takes
    // the folder list in hand, bring the current folder back into view whenever rows arrive
    // or the column widens, once the view has taken them in; many arrivals, one scroll.
    if (!followCurrentFolder_ || followQueued_) {
        return;
    }
    followQueued_ = true;
    QMetaObject::invokeMethod(
        dir1_,
        [this] {
            followQueued_ = false;
            if (followCurrentFolder_) {
                KeepCurrentFolderInView();
            }
        },
        Qt::QueuedConnection);
}

void Form1::ShowFolderPath()
{
    // The window has no room for the path: screen readers find it in the folder list's
    // description, and the progress bar shows it while the pointer rests on the list.
    const QString path = QDir::toNativeSeparators(sourceFolder_);
    dir1_->setAccessibleDescription(path);
    dir1_->setStatusTip(path);
    if (dir1_->underMouse()) {
        ShowStatusText(path);
    }
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
    case QEvent::Resize:
        if (watched == dir1_->viewport()) {
            // Short names: the column still spans the list, so the chosen row is marked
            // across it.
            dir1_->header()->setMinimumSectionSize(dir1_->viewport()->width());
        }
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
        ClearNotice();
        ListFiles();
        ShowFolderPath();
    }
}

engine::FolderListing Form1::ListRunFolder(const QString& folder, std::error_code& error)
{
    // The special folders as a run asks for them, for the destination base of Recursive.
    struct Folders : engine::SpecialFolders {
        Folders(const FolderFunction& desktop, const FolderFunction& documents)
            : desktop_(desktop), documents_(documents)
        {}
        std::string DeskTopFolder() override { return desktop_(); }
        std::string MyDocumentFolder() override { return documents_(); }
        const FolderFunction& desktop_;
        const FolderFunction& documents_;
    } folders(desktop_, documents_);
    engine::RunOptions options = options_;
    options.SourceFolder = ToPath(folder);
    return engine::ListRunFolder(options, folders, error);
}

void Form1::ListFiles()
{
    std::error_code error;
    engine::FolderListing listing = ListRunFolder(sourceFolder_, error);
    if (error) {
        listing = {}; // a folder the user opened but may not read lists nothing
    }
    ShowFiles(std::move(listing));
}

void Form1::ShowFiles(engine::FolderListing listing)
{
    if (!listing.skipped.empty()) {
        // The bar has room for the count and a name; the tooltip gives each path and why.
        const QString count = QString::fromUtf8("一覧に入れなかったもの %1 件")
                                  .arg(listing.skipped.size());
        const std::string& first = listing.skipped.front().path;
        ShowNotice(count + QStringLiteral(": ") + FromPath(first.substr(first.rfind('/') + 1)));
        QString all = count + QStringLiteral(":");
        for (std::size_t i = 0; i < listing.skipped.size() && i < 20; ++i) {
            all += QStringLiteral("\n") + FromPath(listing.skipped[i].path) + QStringLiteral(" (") +
                   QString::fromStdString(listing.skipped[i].reason) + QStringLiteral(")");
        }
        progressBar1_->setToolTip(all);
        skippedShown_ = true;
    } else if (skippedShown_) {
        ClearNotice();
    }
    listedNames_ = std::move(listing.names);
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
    dirModel_->StopWatching();
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
    auto* model = new FolderTreeModel(this);
    QItemSelectionModel* oldSelection = dir1_->selectionModel();
    FolderTreeModel* oldModel = dirModel_;
    dir1_->setModel(model);
    dirModel_ = model;
    delete oldSelection;
    delete oldModel;
    connect(model, &FolderTreeModel::rowsInserted, this, &Form1::FollowCurrentFolder);
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
    ShowBarText(text, Qt::ElideMiddle);
    progressBar1_->setToolTip(text); // the whole text
    noticeShown_ = true;
}

void Form1::ClearNotice()
{
    skippedShown_ = false;
    HideBarText();
    progressBar1_->setToolTip(QString());
    noticeShown_ = false;
}

void Form1::ShowStatusText(const QString& text)
{
    // A notice stays until the user acts, and a running bar shows no text.
    if (noticeShown_ || running_) {
        return;
    }
    if (text.isEmpty()) {
        HideBarText();
    } else {
        // A path too long for the bar keeps its end, the folder's name and its parents.
        ShowBarText(text, Qt::ElideLeft);
    }
}

void Form1::ShowBarText(const QString& text, Qt::TextElideMode elide)
{
    // One line in the bar, shortened when a long path makes it too wide.
    const int room = progressBar1_->width() - 8;
    QString shown = progressBar1_->fontMetrics().elidedText(text, elide, room);
    // The bar puts numbers for "%p", "%v" and "%m" and has no escape: a zero-width space
    // after each "%" keeps a path's "%" as it is.
    shown.replace(QLatin1Char('%'), QStringLiteral("%\u200B"));
    progressBar1_->setFormat(shown);
    progressBar1_->setTextVisible(true);
}

void Form1::HideBarText()
{
    progressBar1_->setTextVisible(false);
    progressBar1_->resetFormat();
}
} // namespace ui
