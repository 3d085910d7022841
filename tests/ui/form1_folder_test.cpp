// Choosing the source folder: drops on the ten drop targets and nowhere else, the drive list,
// the folder list, the refresh button and the file-manager button.

#include <optional>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTreeView>
#include <QUrl>
#include <QtTest>

#include "engine/base/path_text.h"

#include "engine/file_list.h"
#include "settings/settings_file.h"
#include "tests/ui/form1_harness.h"
#include "ui/folder_tree_model.h"

namespace {

const char* const DropTargets[] = {"Frame3",        "Drive1",     "Dir1",   "File1",
                                   "RefreshButton", "Label5",     "Label6", "ExecuteButton",
                                   "ExitButton",    "AboutButton"};

// A point of the window (in its coordinates) where the widget itself, or one of its own
// parts such as an item view's viewport, is the top-most widget.
std::optional<QPoint> PointOn(QWidget* window, QWidget* widget)
{
    for (int y = 1; y < widget->height(); y += 2) {
        for (int x = 1; x < widget->width(); x += 2) {
            const QPoint at = widget->mapTo(window, QPoint(x, y));
            QWidget* hit = window->childAt(at);
            if (hit == widget || widget->isAncestorOf(hit)) {
                return at;
            }
        }
    }
    return std::nullopt;
}

// What the platform's drag manager does when something is dragged onto the window at a point
// and let go there: enter and move, then the drop only when the move was accepted.
struct DropResult {
    bool accepted = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

DropResult DropAt(QWidget* window, QPoint at, const QMimeData& data,
                  Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction)
{
    QWindow* handle = window->windowHandle();
    QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &enter);
    QDragMoveEvent move(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &move);
    if (!move.isAccepted()) {
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(handle, &leave);
        return {};
    }
    QDropEvent drop(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &drop);
    return {drop.isAccepted(), drop.dropAction()};
}

std::unique_ptr<QMimeData> Files(const QStringList& paths)
{
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls << QUrl::fromLocalFile(path);
    }
    data->setUrls(urls);
    return data;
}

QStringList EngineListing(const QString& folder)
{
    std::error_code error;
    QStringList names;
    for (const std::string& name :
         engine::ListFolderFiles(QFile::encodeName(folder).toStdString(), error)) {
        names << QFile::decodeName(QByteArray::fromStdString(name));
    }
    return names;
}

ui::FolderTreeModel* FolderModel(QTreeView* tree)
{
    return qobject_cast<ui::FolderTreeModel*>(tree->model());
}

bool Touch(const QString& path)
{
    return uitest::MakeFile(path, QDateTime::currentDateTime());
}

} // namespace

class Form1FolderTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void drops_data();
    void drops();
    void refusedDrops_data();
    void refusedDrops();
    void dragThatOnlyOffersAMoveIsRefused();
    void fileAtTheTopStandsForTheRoot();
    void folderListChangesRelistTheFiles();
    void chosenFolderIsReadable_data();
    void chosenFolderIsReadable();
    void driveListMovesTheFolderList();
    void unreadableDriveKeepsTheFolderAndSaysSo();
    void anotherUsersLinkIsLeftOutAndNamed();
    void refreshRereadsEverythingAndKeepsOpenFolders();
    void explorerOpensTheFolder();

private:
    // One window and one set of folders for the drop rows; each row starts on `start`.
    std::unique_ptr<uitest::Harness> shared_;
    QTemporaryDir root_;
    QString start_, a_, b_;
    std::unique_ptr<QTemporaryFile> topFile_; // a file in "/", when that can be made
};

void Form1FolderTest::initTestCase()
{
    QVERIFY(root_.isValid());
    const QDir root(root_.path());
    start_ = root.filePath(QStringLiteral("start"));
    a_ = root.filePath(QStringLiteral("写真 A"));
    b_ = root.filePath(QStringLiteral("b"));
    for (const QString& folder : {start_, a_, b_}) {
        QVERIFY(root.mkpath(folder));
    }
    QVERIFY(Touch(start_ + "/s.jpg"));
    QVERIFY(Touch(a_ + "/IMG_0001.JPG"));
    QVERIFY(Touch(a_ + "/IMG_0002.JPG"));
    QVERIFY(Touch(a_ + "/.hidden.jpg"));
    QVERIFY(Touch(b_ + "/notes.txt"));

    topFile_ = std::make_unique<QTemporaryFile>(QStringLiteral("/velmora-drop-XXXXXX.jpg"));
    if (!topFile_->open()) {
        topFile_.reset();
    }

    shared_ = std::make_unique<uitest::Harness>();
    // Should a drop ever start a run, it stores into a folder of the test's own.
    const QString desktop = root.filePath(QStringLiteral("desktop"));
    QVERIFY(root.mkpath(desktop));
    shared_->window->SetSpecialFolderFunctions(
        [desktop] { return QFile::encodeName(desktop).toStdString(); },
        [desktop] { return QFile::encodeName(desktop).toStdString(); });
    shared_->Find<QRadioButton>("Option22")->setChecked(true);
    shared_->window->show();
    QVERIFY(QTest::qWaitForWindowExposed(shared_->window.get()));
}

void Form1FolderTest::cleanupTestCase()
{
    shared_.reset();
    topFile_.reset();
}

void Form1FolderTest::drops_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("accepted");  // the drag is taken at all
    QTest::addColumn<QString>("folder"); // the source folder afterwards; empty: unchanged
    const char* const kinds[] = {"file",         "folder",     "several items", "hidden file",
                                 "missing path", "plain text", "web link",      "file at the top"};
    for (const char* target : DropTargets) {
        for (const char* kind : kinds) {
            const QString k = QString::fromLatin1(kind);
            const bool accepted = k != "plain text" && k != "web link";
            QString folder;
            if (k == "file") {
                folder = "A";
            } else if (k == "folder" || k == "several items") {
                folder = "B";
            } else if (k == "file at the top") {
                folder = "/";
            }
            QTest::addRow("%s, %s", target, kind) << target << k << accepted << folder;
        }
    }
}

void Form1FolderTest::drops()
{
    QFETCH(QString, target);
    QFETCH(QString, kind);
    QFETCH(bool, accepted);
    QFETCH(QString, folder);
    uitest::Harness& h = *shared_;
    ui::Form1& window = *h.window;

    auto data = std::make_unique<QMimeData>();
    if (kind == "file") {
        data = Files({a_ + "/IMG_0002.JPG"});
    } else if (kind == "folder") {
        data = Files({b_});
    } else if (kind == "several items") {
        data = Files({b_, a_ + "/IMG_0001.JPG", start_});
    } else if (kind == "hidden file") {
        data = Files({a_ + "/.hidden.jpg"});
    } else if (kind == "missing path") {
        data = Files({a_ + "/missing"});
    } else if (kind == "plain text") {
        data->setText(a_);
    } else if (kind == "web link") {
        data->setUrls({QUrl(QStringLiteral("https://example.org/IMG_0001.JPG"))});
    } else if (kind == "file at the top") {
        if (!topFile_) {
            QSKIP("no file can be made in /; fileAtTheTopStandsForTheRoot covers the rule");
        }
        data = Files({topFile_->fileName()});
    }
    const QString expected = folder == "A"   ? a_
                             : folder == "B" ? b_
                             : folder == "/" ? QStringLiteral("/")
                                             : start_;

    QVERIFY(window.SetSourceFolder(start_));
    auto* drive1 = h.Find<QComboBox>("Drive1");
    const int drive = drive1->currentIndex();
    h.messages.clear();

    const std::optional<QPoint> at = PointOn(&window, h.Find(target.toLatin1().constData()));
    QVERIFY(at.has_value());
    const DropResult result = DropAt(&window, *at, *data);

    QCOMPARE(result.accepted, accepted);
    if (accepted) {
        QCOMPARE(result.action, Qt::CopyAction);
    }
    QCOMPARE(window.SourceFolder(), expected);
    QCOMPARE(uitest::Listed(window), EngineListing(expected));
    auto* dir1 = h.Find<QTreeView>("Dir1");
    QCOMPARE(FolderModel(dir1)->filePath(dir1->currentIndex()), expected);
    // Nothing sets the drive list from the folder list.
    QCOMPARE(drive1->currentIndex(), drive);
    // A drop only ever changes the folder: no run, no closing, no message, no notice.
    QVERIFY(!window.IsRunning());
    QVERIFY(window.isVisible());
    QVERIFY(h.messages.empty());
    QVERIFY(h.endCodes.empty());
    QVERIFY(!QFile::exists(h.SettingsFile()));
    QCOMPARE(uitest::Notice(window), QString());
    QVERIFY(QDir(root_.filePath(QStringLiteral("desktop"))).isEmpty());
}

void Form1FolderTest::refusedDrops_data()
{
    QTest::addColumn<QString>("kind");
    for (const char* target :
         {"ExplorerButton", "Frame5", "Option11", "Check5", "Command6", "ProgressBar1"}) {
        QTest::addRow("%s, file", target) << "file";
        QTest::addRow("%s, folder", target) << "folder";
    }
}

void Form1FolderTest::refusedDrops()
{
    QFETCH(QString, kind);
    const QString target = QString::fromLatin1(QTest::currentDataTag()).section(',', 0, 0);
    uitest::Harness& h = *shared_;
    QVERIFY(h.window->SetSourceFolder(start_));
    const auto data = Files({kind == "file" ? a_ + "/IMG_0001.JPG" : b_});

    const std::optional<QPoint> at = PointOn(h.window.get(), h.Find(target.toLatin1().constData()));
    QVERIFY(at.has_value());
    QVERIFY(!DropAt(h.window.get(), *at, *data).accepted);
    QCOMPARE(h.window->SourceFolder(), start_);
    QCOMPARE(uitest::Listed(*h.window), QStringList({"s.jpg"}));
}

void Form1FolderTest::dragThatOnlyOffersAMoveIsRefused()
{
    // Taking it would let the dragging program delete what it believes was moved.
    uitest::Harness& h = *shared_;
    QVERIFY(h.window->SetSourceFolder(start_));
    const std::optional<QPoint> at = PointOn(h.window.get(), h.Find("Label6"));
    QVERIFY(at.has_value());
    QVERIFY(!DropAt(h.window.get(), *at, *Files({b_}), Qt::MoveAction).accepted);
    QCOMPARE(h.window->SourceFolder(), start_);
    QVERIFY(DropAt(h.window.get(), *at, *Files({b_}), Qt::LinkAction | Qt::MoveAction).accepted);
    QCOMPARE(h.window->SourceFolder(), b_);
}

void Form1FolderTest::fileAtTheTopStandsForTheRoot()
{
    // The rule the drops and the command line share, for paths that need no file in "/".
    QCOMPARE(engine::FolderOfPath("/IMG_0001.JPG"), std::string("/"));
    QCOMPARE(engine::FolderOfPath("/photos/IMG_0001.JPG"), std::string("/photos"));
    uitest::Harness& h = *shared_;
    QVERIFY(h.window->SetSourceFolder(start_));
    auto data = Files({QStringLiteral("/")});
    h.window->SetDroppedFolder(data.get());
    QCOMPARE(h.window->SourceFolder(), QStringLiteral("/"));
    QCOMPARE(uitest::Listed(*h.window), EngineListing(QStringLiteral("/")));
}

void Form1FolderTest::folderListChangesRelistTheFiles()
{
    uitest::Harness& h = *shared_;
    QVERIFY(h.window->SetSourceFolder(a_));
    QCOMPARE(uitest::Listed(*h.window), QStringList({"IMG_0001.JPG", "IMG_0002.JPG"}));
    auto* dir1 = h.Find<QTreeView>("Dir1");
    auto* drive1 = h.Find<QComboBox>("Drive1");
    const int drive = drive1->currentIndex();

    // A click on a sibling folder in the tree. The model loads and sorts folders in the
    // background, which moves rows: the row is looked up afresh until it is laid out and in
    // view (an empty rectangle would put the click on whatever row is at the top).
    // The row may be wider than the list: the click goes to the part of it in view.
    QRect bRect;
    QTRY_VERIFY(
        (dir1->scrollTo(FolderModel(dir1)->index(b_)),
         bRect =
             dir1->visualRect(FolderModel(dir1)->index(b_)).intersected(dir1->viewport()->rect()),
         !bRect.isEmpty()));
    QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {}, bRect.center());
    QCOMPARE(h.window->SourceFolder(), b_);
    QCOMPARE(uitest::Listed(*h.window), QStringList({"notes.txt"}));
    QCOMPARE(h.window->Options().SourceFolder, QFile::encodeName(b_).toStdString());

    // And by code.
    dir1->setCurrentIndex(FolderModel(dir1)->index(start_));
    QCOMPARE(h.window->SourceFolder(), start_);
    QCOMPARE(uitest::Listed(*h.window), QStringList({"s.jpg"}));
    QCOMPARE(drive1->currentIndex(), drive);
}

void Form1FolderTest::chosenFolderIsReadable_data()
{
    QTest::addColumn<QString>("below"); // the chosen folder below a temporary one
    QTest::newRow("near the top") << "写真";
    QTest::newRow("deep, long names")
        << "Pictures/2024 summer trip/card_backup_2024-08-15/DCIM/100CANON_family_holiday";
}

void Form1FolderTest::chosenFolderIsReadable()
{
    QFETCH(QString, below);
    QTemporaryDir root;
    const QString folder = QDir(root.path()).filePath(below);
    QVERIFY(QDir().mkpath(folder));
    uitest::Harness h;
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    QVERIFY(h.window->SetSourceFolder(folder));
    auto* dir1 = h.Find<QTreeView>("Dir1");

    // The chosen row's name, whole and in view: the list scrolls sideways to it.
    QTRY_VERIFY([&] {
        const QModelIndex current = dir1->currentIndex();
        const QRect row = dir1->visualRect(current); // from the name to the column's end
        const QRect name(row.topLeft(),
                         QSize(dir1->sizeHintForIndex(current).width(), row.height()));
        return current.isValid() && row.contains(name) && dir1->viewport()->rect().contains(name);
    }());

    // The whole path: for screen readers, and in the progress bar while the pointer rests on
    // the folder list; when it is too long for the bar, its end with the folder's name.
    const QString path = QDir::toNativeSeparators(folder);
    QCOMPARE(dir1->accessibleDescription(), path);
    // Moves of the pointer as the platform reports them, so that widgets see it come and go.
    const auto pointTo = [&h](QWidget* widget) {
        QTest::mouseMove(h.window->windowHandle(),
                         widget->mapTo(h.window.get(), widget->rect().center()));
    };
    pointTo(h.Find("ExecuteButton"));
    pointTo(dir1->viewport());
    QTRY_VERIFY(!uitest::BarText(*h.window).isEmpty());
    const QString shown = uitest::BarText(*h.window).remove(QChar(0x200B));
    auto* bar = h.Find<QProgressBar>("ProgressBar1");
    QVERIFY(bar->fontMetrics().horizontalAdvance(shown) <= bar->width());
    QVERIFY2(shown == path || (shown.startsWith(QChar(0x2026)) && path.endsWith(shown.mid(1)) &&
                               shown.contains(QDir::separator() + QDir(folder).dirName())),
             qPrintable(shown));
    QCOMPARE(uitest::Notice(*h.window), QString()); // no notice: gone when the pointer leaves
    pointTo(h.Find("ExecuteButton"));
    QTRY_COMPARE(uitest::BarText(*h.window), QString());
}

void Form1FolderTest::driveListMovesTheFolderList()
{
    QTemporaryDir volumeA, volumeB;
    QVERIFY(Touch(volumeB.filePath("DSC_0001.JPG")));
    uitest::Harness h;
    h.window->show();
    h.window->SetVolumeFunction([&] { return QStringList{volumeA.path(), volumeB.path()}; });
    QTest::mouseClick(h.Find<QPushButton>("RefreshButton"), Qt::LeftButton);
    auto* drive1 = h.Find<QComboBox>("Drive1");
    QCOMPARE(drive1->count(), 2);
    QCOMPARE(drive1->itemText(1), volumeB.path());
    // Re-reading the drives alone moves nothing.
    QCOMPARE(h.window->SourceFolder(), QDir::currentPath());

    drive1->setCurrentIndex(0);
    QTest::keyClick(drive1, Qt::Key_Down);
    QCOMPARE(drive1->currentIndex(), 1);
    QCOMPARE(h.window->SourceFolder(), volumeB.path());
    QCOMPARE(uitest::Listed(*h.window), QStringList({"DSC_0001.JPG"}));
    auto* dir1 = h.Find<QTreeView>("Dir1");
    QCOMPARE(FolderModel(dir1)->filePath(dir1->currentIndex()), volumeB.path());
}

void Form1FolderTest::unreadableDriveKeepsTheFolderAndSaysSo()
{
    QTemporaryDir volume;
    QVERIFY(Touch(volume.filePath("DSC_0001.JPG")));
    const QString gone = volume.filePath("unmounted 100%p"); // "%p" is no number here
    uitest::Harness h;
    h.window->show();
    h.window->SetVolumeFunction([&] { return QStringList{volume.path(), gone}; });
    QTest::mouseClick(h.Find<QPushButton>("RefreshButton"), Qt::LeftButton);
    auto* drive1 = h.Find<QComboBox>("Drive1");
    drive1->setCurrentIndex(1);
    QTest::keyClick(drive1, Qt::Key_Up);
    QCOMPARE(h.window->SourceFolder(), volume.path());

    QTest::keyClick(drive1, Qt::Key_Down);
    QCOMPARE(h.window->SourceFolder(), volume.path());
    QCOMPARE(uitest::Listed(*h.window), QStringList({"DSC_0001.JPG"}));
    QCOMPARE(drive1->currentIndex(), 0); // back on the drive that is shown
    // Told in the progress bar, on one line that fits it; the whole text in its tooltip.
    auto* bar = h.Find<QProgressBar>("ProgressBar1");
    const QString notice = uitest::Notice(*h.window);
    QVERIFY2(
        QString(notice).remove(QChar(0x200B)).endsWith(QStringLiteral("100%p を読み取れません")),
        qPrintable(notice));
    QVERIFY(bar->fontMetrics().horizontalAdvance(notice) <= bar->width());
    QCOMPARE(bar->toolTip(), QStringLiteral("%1 を読み取れません").arg(gone));
    QVERIFY(h.messages.empty());

    // The next folder chosen clears the notice.
    QVERIFY(h.window->SetSourceFolder(QDir::tempPath()));
    QCOMPARE(uitest::Notice(*h.window), QString());
    QCOMPARE(bar->toolTip(), QString());
}

void Form1FolderTest::anotherUsersLinkIsLeftOutAndNamed()
{
    QTemporaryDir shared;
    QVERIFY(Touch(shared.filePath("DSC_0001.JPG")));
    const QByteArray link = QFile::encodeName(shared.filePath("DSC_0002.JPG"));
    QVERIFY(::symlink("DSC_0001.JPG", link.constData()) == 0);
    if (::lchown(link.constData(), 65534, 65534) != 0) {
        QSKIP("only root can give a link to another user");
    }
    uitest::Harness h;
    h.window->show();
    QVERIFY(h.window->SetSourceFolder(shared.path()));
    QCOMPARE(uitest::Listed(*h.window), QStringList({"DSC_0001.JPG"}));
    const QString notice = uitest::Notice(*h.window).remove(QChar(0x200B));
    QCOMPARE(notice, QStringLiteral("一覧に入れなかったもの 1 件: DSC_0002.JPG"));
    QVERIFY2(h.Find<QProgressBar>("ProgressBar1")->toolTip().contains(
                 shared.filePath("DSC_0002.JPG") +
                 QStringLiteral(" (a symbolic link that belongs to another user)")),
             qPrintable(h.Find<QProgressBar>("ProgressBar1")->toolTip()));
    QVERIFY(h.messages.empty());

    // A folder without such links clears the notice.
    QTemporaryDir other;
    QVERIFY(h.window->SetSourceFolder(other.path()));
    QCOMPARE(uitest::Notice(*h.window), QString());
}

void Form1FolderTest::refreshRereadsEverythingAndKeepsOpenFolders()
{
    uitest::Harness& h = *shared_;
    QTemporaryDir tree;
    const QString x = tree.filePath("x"), y = tree.filePath("y"), y1 = tree.filePath("y/y1");
    QVERIFY(QDir().mkpath(x) && QDir().mkpath(y1));
    QVERIFY(h.window->SetSourceFolder(x));
    auto* dir1 = h.Find<QTreeView>("Dir1");
    ui::FolderTreeModel* before = FolderModel(dir1);
    dir1->expand(before->index(y));
    QCOMPARE(uitest::Listed(*h.window), QStringList());

    QVERIFY(Touch(x + "/later.jpg"));
    QVERIFY(QDir().mkpath(tree.filePath("z")));
    QTest::mouseClick(h.Find<QPushButton>("RefreshButton"), Qt::LeftButton);

    ui::FolderTreeModel* after = FolderModel(dir1);
    QVERIFY(after != before); // the tree was read anew
    QCOMPARE(h.window->SourceFolder(), x);
    QCOMPARE(after->filePath(dir1->currentIndex()), x);
    QCOMPARE(uitest::Listed(*h.window), QStringList({"later.jpg"}));
    QVERIFY(dir1->isExpanded(after->index(y)));
    QTRY_VERIFY(after->index(tree.filePath("z")).isValid());
}

void Form1FolderTest::explorerOpensTheFolder()
{
    uitest::Harness& h = *shared_;
    QVERIFY(h.window->SetSourceFolder(a_));
    h.openedFolders.clear();
    auto* explorer = h.Find<QPushButton>("ExplorerButton");

    QTest::mouseClick(explorer, Qt::LeftButton);
    QCOMPARE(h.openedFolders, std::vector<QString>({a_}));
    QCOMPARE(uitest::Notice(*h.window), QString());

    // A file manager that cannot be started is told in the notice, without a dialog.
    h.openSucceeds = false;
    QTest::mouseClick(explorer, Qt::LeftButton);
    h.openSucceeds = true;
    QCOMPARE(h.openedFolders.size(), std::size_t{2});
    QCOMPARE(uitest::Notice(*h.window), QStringLiteral("このフォルダを開けませんでした"));
    QVERIFY(h.messages.empty());
    QCOMPARE(h.window->SourceFolder(), a_);

    // Refreshing clears it.
    QTest::mouseClick(h.Find<QPushButton>("RefreshButton"), Qt::LeftButton);
    QCOMPARE(uitest::Notice(*h.window), QString());
}

QTEST_MAIN(Form1FolderTest)
#include "form1_folder_test.moc"
