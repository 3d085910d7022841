// Runs started from the window: the files stored, the progress bar, the refreshed lists, and
// the two ways a run ends the program.

#include <QAction>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeView>
#include <QtTest>

#include "tests/ui/form1_harness.h"
#include "ui/folder_tree_model.h"

namespace {

QDateTime At(int day, int hour)
{
    return QDateTime(QDate(2002, 4, day), QTime(hour, 0, 0));
}

QStringList Listed(const QListWidget* list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i) {
        names << list->item(i)->text();
    }
    return names;
}

// Whether the folder list shows a folder (its model has read it).
bool FolderListShows(QTreeView* tree, const QString& path)
{
    auto* model = qobject_cast<ui::FolderTreeModel*>(tree->model());
    if (model == nullptr) {
        return false;
    }
    const QModelIndex parent = model->index(QFileInfo(path).path());
    if (model->canFetchMore(parent)) {
        model->fetchMore(parent);
    }
    const QModelIndex index = model->index(path);
    return index.isValid() && model->filePath(index) == path;
}

} // namespace

class Form1RunTest : public QObject {
    Q_OBJECT
private slots:
    void copyRunStoresTheListedFiles();
    void mediaDatesFromTheMenuDateAVideoByItsContent();
    void moveRunEmptiesTheFileList();
    void windowTakesNoInputDuringARun();
    void failingRunReportsAndEndsWithoutSaving();
    void suffixOverflowReportsAndEndsWithoutSaving();
};

void Form1RunTest::copyRunStoresTheListedFiles()
{
    QTemporaryDir source;
    const QDir dir(source.path());
    QVERIFY(uitest::MakeFile(dir.filePath("b.jpg"), At(26, 9)));
    QVERIFY(uitest::MakeFile(dir.filePath("a.jpg"), At(26, 10)));
    QVERIFY(uitest::MakeFile(dir.filePath("c.txt"), At(27, 8)));
    QVERIFY(uitest::MakeFile(dir.filePath("d.wav"), At(27, 9)));

    uitest::Harness h;
    h.window->show();
    QVERIFY(h.window->SetSourceFolder(source.path()));
    auto* file1 = h.Find<QListWidget>("File1");
    QCOMPARE(Listed(file1), QStringList({"a.jpg", "b.jpg", "c.txt", "d.wav"}));
    // Made after the list was read: the run classifies only what the list showed.
    QVERIFY(uitest::MakeFile(dir.filePath("e.jpg"), At(28, 9)));

    QList<int> progress;
    connect(h.Find<QProgressBar>("ProgressBar1"), &QProgressBar::valueChanged,
            [&progress](int value) { progress << value; });
    QSignalSpy finished(h.window.get(), &ui::Form1::runFinished);
    QTest::mouseClick(h.Find<QPushButton>("ExecuteButton"), Qt::LeftButton);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), true);

    for (const char* stored : {"020426/a.jpg", "020426/b.jpg", "020427/c.txt", "020427/d.wav"}) {
        QVERIFY2(QFile::exists(dir.filePath(stored)), stored);
    }
    QVERIFY(!dir.exists("020428"));
    QCOMPARE(progress.isEmpty() ? -1 : *std::max_element(progress.begin(), progress.end()), 75);
    QVERIFY(progress.contains(25) && progress.contains(50));
    QCOMPARE(h.Find<QProgressBar>("ProgressBar1")->value(), 0);

    QCOMPARE(Listed(file1), QStringList({"a.jpg", "b.jpg", "c.txt", "d.wav", "e.jpg"}));
    auto* dir1 = h.Find<QTreeView>("Dir1");
    QTRY_VERIFY(FolderListShows(dir1, dir.filePath("020426")));
    QCOMPARE(h.window->SourceFolder(), QDir::cleanPath(source.path()));
    QVERIFY(h.messages.empty());
    QVERIFY(h.endCodes.empty());
    QVERIFY(h.window->isEnabled());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QCOMPARE(h.window->focusWidget(), h.Find("ExecuteButton"));
}

void Form1RunTest::mediaDatesFromTheMenuDateAVideoByItsContent()
{
    // ftyp, then moov holding a version 0 mvhd created 2020-01-02 03:04:05 UTC.
    const auto be32 = [](quint32 v) {
        return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
    };
    const auto box = [&](const char* type, const QByteArray& body) {
        return be32(8 + body.size()) + type + body;
    };
    const quint32 created = 2082844800u + 1577934245u;
    const QByteArray mvhd = box("mvhd", QByteArray(4, '\0') + be32(created) + be32(created) +
                                            be32(600) + be32(60) + QByteArray(80, '\0'));
    const QByteArray mp4 = box("ftyp", "isom" + be32(0) + "isom") + box("moov", mvhd);
    QTemporaryDir source;
    const QDir dir(source.path());
    QVERIFY(uitest::MakeFile(dir.filePath("clip.mp4"), At(26, 9), mp4));

    for (const bool on : {false, true}) {
        uitest::Harness h;
        h.window->show();
        QVERIFY(h.window->SetSourceFolder(source.path()));
        h.window->findChild<QAction*>(QStringLiteral("MediaDatesAction"))->setChecked(on);
        QSignalSpy finished(h.window.get(), &ui::Form1::runFinished);
        QTest::mouseClick(h.Find<QPushButton>("ExecuteButton"), Qt::LeftButton);
        QTRY_COMPARE(finished.count(), 1);
        // The day in local time: the 1st or the 2nd of January 2020, whatever the zone.
        const bool byContent = dir.exists("200102/clip.mp4") || dir.exists("200101/clip.mp4");
        QCOMPARE(byContent, on);
        QCOMPARE(dir.exists("020426/clip.mp4"), !on);
        QDir(dir.filePath("020426")).removeRecursively();
    }
}

void Form1RunTest::moveRunEmptiesTheFileList()
{
    QTemporaryDir source;
    const QDir dir(source.path());
    QVERIFY(uitest::MakeFile(dir.filePath("IMG_0001.JPG"), At(26, 9)));
    QVERIFY(uitest::MakeFile(dir.filePath("IMG_0002.JPG"), At(26, 10)));

    uitest::Harness h;
    h.window->show();
    QVERIFY(h.window->SetSourceFolder(source.path()));
    uitest::ClickIndicator(h.Find<QCheckBox>("Check5"));
    uitest::ClickIndicator(h.Find<QRadioButton>("Option7"));
    // The hidden detail panel's choices still act on the run.
    h.window->DetailToggle();
    QSignalSpy finished(h.window.get(), &ui::Form1::runFinished);
    h.window->ExecuteRun();
    QTRY_COMPARE(finished.count(), 1);

    QVERIFY(QFile::exists(dir.filePath("0204/IMG_0001.JPG")));
    QVERIFY(QFile::exists(dir.filePath("0204/IMG_0002.JPG")));
    QVERIFY(!QFile::exists(dir.filePath("IMG_0001.JPG")));
    QCOMPARE(h.Find<QListWidget>("File1")->count(), 0);
    QVERIFY(h.messages.empty());
}

void Form1RunTest::windowTakesNoInputDuringARun()
{
    QTemporaryDir source;
    QVERIFY(uitest::MakeFile(QDir(source.path()).filePath("a.jpg"), At(26, 9)));
    uitest::Harness h;
    h.window->show();
    QVERIFY(h.window->SetSourceFolder(source.path()));
    QSignalSpy finished(h.window.get(), &ui::Form1::runFinished);

    h.window->ExecuteRun();
    // The run's end reaches the window through its event loop, so it is still running here.
    QVERIFY(h.window->IsRunning());
    QVERIFY(!h.window->isEnabled());
    QVERIFY(QGuiApplication::overrideCursor() != nullptr);
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QVERIFY(!h.window->close());
    QVERIFY(h.window->isVisible());

    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(!h.window->IsRunning());
    QVERIFY(h.window->isEnabled());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QVERIFY(!QFile::exists(h.SettingsFile()));
}

void Form1RunTest::failingRunReportsAndEndsWithoutSaving()
{
    QTemporaryDir source;
    QTemporaryDir home;
    QVERIFY(uitest::MakeFile(QDir(source.path()).filePath("a.jpg"), At(26, 9)));
    const QString desktop = QDir(home.path()).filePath("Desktop"); // does not exist
    uitest::Harness h;
    h.window->SetSpecialFolderFunctions([&desktop] { return desktop.toStdString(); },
                                        [] { return std::string(); });
    h.window->show();
    QVERIFY(h.window->SetSourceFolder(source.path()));
    h.Find<QRadioButton>("Option22")->setChecked(true);
    QSignalSpy finished(h.window.get(), &ui::Form1::runFinished);
    h.window->ExecuteRun();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), false);

    QCOMPARE(h.messages.size(), std::size_t{1});
    const uitest::Message& message = h.messages[0];
    QCOMPARE(message.icon, QMessageBox::Critical);
    QCOMPARE(message.title, QStringLiteral("Velmora - Error"));
    const std::error_code missing = std::make_error_code(std::errc::no_such_file_or_directory);
    QVERIFY2(message.text.contains(QString::number(missing.value())), qPrintable(message.text));
    QVERIFY2(message.text.contains(QString::fromStdString(missing.message())),
             qPrintable(message.text));
    QVERIFY2(message.text.contains(desktop), qPrintable(message.text));
    QCOMPARE(h.endCodes.size(), std::size_t{1});
    QVERIFY(h.endCodes[0] != 0);
    QVERIFY(QFile::exists(QDir(source.path()).filePath("a.jpg")));

    // The program is ending: closing the window now writes no settings.
    h.window->close();
    QVERIFY(!QFile::exists(h.SettingsFile()));
}

void Form1RunTest::suffixOverflowReportsAndEndsWithoutSaving()
{
    QTemporaryDir source;
    const QDir dir(source.path());
    QVERIFY(uitest::MakeFile(dir.filePath("a.jpg"), At(26, 9)));
    QVERIFY(dir.mkdir("020426"));
    QVERIFY(uitest::MakeFile(dir.filePath("020426/a.jpg"), At(1, 0)));
    for (int n = 1; n <= 999; ++n) {
        const QString name = QStringLiteral("020426/a[%1].jpg").arg(n, 3, 10, QLatin1Char('0'));
        QVERIFY(uitest::MakeFile(dir.filePath(name), At(1, 0)));
    }
    uitest::Harness h;
    h.window->show();
    QVERIFY(h.window->SetSourceFolder(source.path()));
    h.Find<QRadioButton>("Option4")->setChecked(true);
    h.Find<QRadioButton>("Option31")->setChecked(true);
    QSignalSpy finished(h.window.get(), &ui::Form1::runFinished);
    h.window->ExecuteRun();
    QTRY_COMPARE(finished.count(), 1);

    QCOMPARE(h.messages.size(), std::size_t{1});
    QCOMPARE(h.messages[0].icon, QMessageBox::Critical);
    QCOMPARE(h.messages[0].title, QStringLiteral("Velmora - Error"));
    QCOMPARE(h.messages[0].text, QStringLiteral("Suffix overflow for file name duplication."));
    QCOMPARE(h.endCodes.size(), std::size_t{1});
    QVERIFY(h.endCodes[0] != 0);
    QCOMPARE(QDir(dir.filePath("020426")).entryList(QDir::Files).size(), 1000);
    h.window->close();
    QVERIFY(!QFile::exists(h.SettingsFile()));
}

QTEST_MAIN(Form1RunTest)
#include "form1_run_test.moc"
