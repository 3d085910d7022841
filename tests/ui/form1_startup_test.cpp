// Start-up: the window prepared from real settings files in a temporary program folder and
// from the command-line argument, and the settings written back when it closes.

#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include "tests/ui/form1_harness.h"
#include "ui/folder_tree_model.h"

namespace {

// An INI settings file as the program writes it, defaults everywhere, with some lines changed:
// "Key=value" replaces the key's line (or adds it), "-Key" leaves it out.
QByteArray Ini(const QStringList& changes)
{
    QStringList lines = {"Version=0.4.5", "DirPath=",       "DirPattern=4", "RenamePattern=1",
                         "DestPattern=1", "FileNameCase=0", "ExtCase=0",    "Move=0",
                         "Suffix=0",      "Detail=1",       "YYYY=0"};
    for (const QString& change : changes) {
        const QString key = change.section('=', 0, 0).remove(QLatin1Char('-'));
        const auto at = std::find_if(lines.begin(), lines.end(), [&](const QString& line) {
            return line.section('=', 0, 0) == key;
        });
        if (change.startsWith('-')) {
            lines.erase(at);
        } else if (at != lines.end()) {
            *at = change;
        } else {
            lines << change;
        }
    }
    return ("[kestrum]\r\n" + lines.join("\r\n") + "\r\n").toUtf8();
}

// The "key=value" lines of one section of a settings file.
QMap<QString, QString> Section(const QString& file, const QString& name = "kestrum")
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        return {};
    }
    QMap<QString, QString> keys;
    QString section;
    for (QString line : QString::fromUtf8(in.readAll()).split('\n')) {
        line.remove('\r');
        if (line.startsWith('[')) {
            section = line.mid(1, line.size() - 2);
        } else if (section == name && line.contains('=')) {
            keys.insert(line.section('=', 0, 0), line.section('=', 1));
        }
    }
    return keys;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

// Every option button and check box of the window with its state, and the window's width.
QStringList ControlStates(const uitest::Harness& h)
{
    QStringList states;
    for (QAbstractButton* button : h.window->findChildren<QAbstractButton*>()) {
        if (auto* box = qobject_cast<QCheckBox*>(button)) {
            states << QStringLiteral("%1=%2%3")
                          .arg(box->objectName())
                          .arg(box->checkState())
                          .arg(box->isEnabled() ? "" : " disabled");
        } else if (qobject_cast<QRadioButton*>(button) != nullptr) {
            states << QStringLiteral("%1=%2").arg(button->objectName()).arg(button->isChecked());
        }
    }
    states.sort();
    states << QStringLiteral("width=%1").arg(h.window->width());
    return states;
}

// Makes a folder the process's current one for as long as it lives.
class CurrentFolder {
public:
    explicit CurrentFolder(const QString& folder) : before_(QDir::currentPath())
    {
        QDir::setCurrent(folder);
    }
    ~CurrentFolder() { QDir::setCurrent(before_); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    QString before_;
};

} // namespace

class Form1StartUpTest : public QObject {
    Q_OBJECT
private slots:
    void settingsSetTheControls_data();
    void settingsSetTheControls();
    void startFolder_data();
    void startFolder();
    void settingsRoundTripThroughStartUpAndClose();
};

void Form1StartUpTest::settingsSetTheControls_data()
{
    QTest::addColumn<QByteArray>("file"); // null: no settings file
    QTest::addColumn<bool>("wide");
    QTest::addColumn<QStringList>("selected"); // every other option button is clear
    QTest::addColumn<QStringList>("ticked");   // every other check box is clear...
    QTest::addColumn<QStringList>("grayed");   // ...unless it shows grayed
    QTest::addColumn<QStringList>("written");  // lines of the file written at close; "-Key": absent

    const QStringList defaults = {"Option4", "Option11", "Option21", "Option31"};
    QTest::newRow("first start") << QByteArray() << true << defaults << QStringList()
                                 << QStringList() << QStringList{"Version=0.4.5",   "DirPattern=4",
                                                                 "RenamePattern=1", "DestPattern=1",
                                                                 "FileNameCase=0",  "ExtCase=0",
                                                                 "Move=0",          "Suffix=0",
                                                                 "Detail=1",        "YYYY=0",
                                                                 "-Model"};
    QTest::newRow("Detail=0") << Ini({"Detail=0"}) << false << defaults << QStringList()
                              << QStringList() << QStringList{"Detail=0"};
    QTest::newRow("DirPattern=6") << Ini({"DirPattern=6"}) << true << defaults << QStringList()
                                  << QStringList() << QStringList{"DirPattern=4"};
    QTest::newRow("FileNameCase=1, ExtCase=0")
        << Ini({"FileNameCase=1"}) << true << defaults << QStringList{"Check3"}
        << QStringList{"Check4"} << QStringList{"FileNameCase=1", "ExtCase=2"};
    // ExtCase is looked at after FileNameCase has made it 2: the box stays grayed.
    QTest::newRow("FileNameCase=1, ExtCase=1")
        << Ini({"FileNameCase=1", "ExtCase=1"}) << true << defaults << QStringList{"Check3"}
        << QStringList{"Check4"} << QStringList{"FileNameCase=1", "ExtCase=2"};
    // Check4's handler copies Check3's state into FileNameCase.
    QTest::newRow("FileNameCase=5, ExtCase=1")
        << Ini({"FileNameCase=5", "ExtCase=1"}) << true << defaults << QStringList{"Check4"}
        << QStringList() << QStringList{"FileNameCase=0", "ExtCase=1"};
    // ExtCase 2 lowers the extension in a run: the box shows it grayed and takes clicks, and
    // its handler copies Check3's state into FileNameCase.
    QTest::newRow("FileNameCase=0, ExtCase=2")
        << Ini({"ExtCase=2"}) << true << defaults << QStringList() << QStringList{"Check4"}
        << QStringList{"FileNameCase=0", "ExtCase=2"};
    QTest::newRow("FileNameCase=5, ExtCase=2")
        << Ini({"FileNameCase=5", "ExtCase=2"}) << true << defaults << QStringList()
        << QStringList{"Check4"} << QStringList{"FileNameCase=0", "ExtCase=2"};
    QTest::newRow("values no control shows are kept")
        << Ini({"FileNameCase=5", "ExtCase=3", "Move=3"}) << true << defaults << QStringList()
        << QStringList() << QStringList{"FileNameCase=5", "ExtCase=3", "Move=3"};
    QTest::newRow("Suffix=3") << Ini({"Suffix=3"}) << true
                              << QStringList{"Option4", "Option11", "Option21"} << QStringList()
                              << QStringList() << QStringList{"Suffix=3"};
    QTest::newRow("every choice away from the defaults")
        << Ini({"DirPattern=7", "RenamePattern=6", "DestPattern=3", "ExtCase=1", "Move=1",
                "Suffix=1", "Detail=0", "YYYY=4", "Model=1"})
        << false << QStringList{"Option7", "Option16", "Option23", "Option32"}
        << QStringList{"Check4", "Check5", "Check_yyyy", "Check_Model"} << QStringList()
        << QStringList{"DirPattern=7", "RenamePattern=6", "DestPattern=3", "FileNameCase=0",
                       "ExtCase=1",    "Move=1",          "Suffix=1",      "Detail=0",
                       "YYYY=4",       "Model=1"};
    QTest::newRow("texts that are not numbers or not exact")
        << Ini({"DirPattern=abc", "RenamePattern=0", "-DestPattern",
                "Move=", "Suffix=", "Detail=no", "YYYY=04", "Model=yes"})
        << true << defaults << QStringList() << QStringList()
        << QStringList{"DirPattern=4", "RenamePattern=1", "DestPattern=1", "Move=0",
                       "Suffix=0",     "Detail=1",        "YYYY=0",        "-Model"};
    QTest::newRow("fractions and numbers beyond 16 bits")
        << Ini({"DirPattern=70000", "RenamePattern=5.5", "DestPattern=2.5", "Suffix=-40000"})
        << true << QStringList{"Option4", "Option16", "Option22", "Option31"} << QStringList()
        << QStringList()
        << QStringList{"DirPattern=4", "RenamePattern=6", "DestPattern=2", "Suffix=0"};
    QTest::newRow("legacy lines") << QByteArray("\r\n7\r\n5\r\n2\r\n0\r\n1\r\n1\r\n3\r\n") << true
                                  << QStringList{"Option7", "Option15", "Option22"}
                                  << QStringList{"Check4", "Check5"} << QStringList()
                                  << QStringList{"Version=0.4.5", "DirPattern=7", "RenamePattern=5",
                                                 "DestPattern=2", "ExtCase=1",    "Move=1",
                                                 "Suffix=3",      "Detail=1",     "YYYY=0",
                                                 "-Model"};
}

void Form1StartUpTest::settingsSetTheControls()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, wide);
    QFETCH(QStringList, selected);
    QFETCH(QStringList, ticked);
    QFETCH(QStringList, grayed);
    QFETCH(QStringList, written);
    uitest::Harness h;
    if (!file.isNull()) {
        QVERIFY(WriteFile(h.SettingsFile(), file));
    }

    h.window->StartUp(QString());
    h.window->show();

    QCOMPARE(h.window->windowTitle(),
             QStringLiteral("Velmora 0.4.5 :フォルダ内の全ファイルを日付にもとづいて分類"));
    QCOMPARE(h.window->size(), QSize(wide ? 527 : 248, 431));
    QCOMPARE(h.Find<QPushButton>("Command6")->text(),
             wide ? QStringLiteral("詳細非表示 <<") : QStringLiteral("詳細設定 >>"));
    QCOMPARE(h.window->Options().Detail, wide ? 1 : 0);
    for (QRadioButton* button : h.window->findChildren<QRadioButton*>()) {
        QVERIFY2(button->isChecked() == selected.contains(button->objectName()),
                 qPrintable(button->objectName()));
    }
    for (QCheckBox* box : h.window->findChildren<QCheckBox*>()) {
        const QString name = box->objectName();
        const Qt::CheckState state = ticked.contains(name)   ? Qt::Checked
                                     : grayed.contains(name) ? Qt::PartiallyChecked
                                                             : Qt::Unchecked;
        QVERIFY2(box->checkState() == state, qPrintable(name));
    }
    // Check4 takes no input while the whole name is lowered.
    QCOMPARE(h.Find<QCheckBox>("Check4")->isEnabled(), !ticked.contains("Check3"));
    QCOMPARE(h.window->SourceFolder(), QDir::currentPath());

    QVERIFY(h.window->close());
    const QMap<QString, QString> keys = Section(h.SettingsFile());
    for (const QString& line : written) {
        if (line.startsWith('-')) {
            QVERIFY2(!keys.contains(line.mid(1)), qPrintable(line));
        } else {
            QCOMPARE(line.section('=', 0, 0) + "=" + keys.value(line.section('=', 0, 0)), line);
        }
    }
    QCOMPARE(keys.value("DirPath"), QDir::currentPath());
}

void Form1StartUpTest::startFolder_data()
{
    // {A} holds the argument's files, {B} is the saved folder, {C} the current folder.
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("dirPath");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("listed"); // File1's one file
    QTest::newRow("quoted file, saved folder elsewhere") << "\"{A}/IMG_0001.JPG\""
                                                         << "{B}"
                                                         << "{A}"
                                                         << "IMG_0001.JPG";
    QTest::newRow("unquoted file") << "{A}/IMG_0001.JPG"
                                   << "{B}"
                                   << "{A}"
                                   << "IMG_0001.JPG";
    QTest::newRow("quoted folder") << "\"{A}\""
                                   << "{B}"
                                   << "{A}"
                                   << "IMG_0001.JPG";
    QTest::newRow("unquoted folder") << "{A}"
                                     << ""
                                     << "{A}"
                                     << "IMG_0001.JPG";
    QTest::newRow("file in a folder with a blank") << "\"{A}/写真 2024/DSC_0001.JPG\""
                                                   << "{B}"
                                                   << "{A}/写真 2024"
                                                   << "DSC_0001.JPG";
    QTest::newRow("missing folder: the saved one is not tried") << "\"{A}/missing\""
                                                                << "{B}"
                                                                << "{C}"
                                                                << "current.jpg";
    QTest::newRow("hidden file is no file and no folder") << "\"{A}/.hidden.jpg\""
                                                          << "{B}"
                                                          << "{C}"
                                                          << "current.jpg";
    QTest::newRow("no argument: the saved folder") << ""
                                                   << "{B}"
                                                   << "{B}"
                                                   << "saved.jpg";
    QTest::newRow("no argument, saved folder gone") << ""
                                                    << "{B}/gone"
                                                    << "{C}"
                                                    << "current.jpg";
}

void Form1StartUpTest::startFolder()
{
    QFETCH(QString, argument);
    QFETCH(QString, dirPath);
    QFETCH(QString, expected);
    QFETCH(QString, listed);
    QTemporaryDir root;
    const QDir dir(root.path());
    const QString a = dir.filePath("a"), b = dir.filePath("b"), c = dir.filePath("c");
    QVERIFY(dir.mkpath("a/写真 2024") && dir.mkpath("b") && dir.mkpath("c"));
    QVERIFY(uitest::MakeFile(a + "/IMG_0001.JPG", QDateTime::currentDateTime()));
    QVERIFY(uitest::MakeFile(a + "/.hidden.jpg", QDateTime::currentDateTime()));
    QVERIFY(uitest::MakeFile(a + "/写真 2024/DSC_0001.JPG", QDateTime::currentDateTime()));
    QVERIFY(uitest::MakeFile(b + "/saved.jpg", QDateTime::currentDateTime()));
    QVERIFY(uitest::MakeFile(c + "/current.jpg", QDateTime::currentDateTime()));
    const auto fill = [&](QString text) {
        return text.replace("{A}", a).replace("{B}", b).replace("{C}", c);
    };

    const CurrentFolder current(c);
    uitest::Harness h;
    QVERIFY(WriteFile(h.SettingsFile(), Ini({"DirPath=" + fill(dirPath)})));
    auto* drive1 = h.Find<QComboBox>("Drive1");
    const int drive = drive1->currentIndex();

    h.window->StartUp(fill(argument));

    const QString folder = fill(expected);
    QCOMPARE(h.window->SourceFolder(), folder);
    auto* dir1 = h.Find<QTreeView>("Dir1");
    QCOMPARE(
        QDir::cleanPath(dir1->currentIndex().data(ui::FolderTreeModel::FilePathRole).toString()),
        folder);
    QCOMPARE(uitest::Listed(*h.window), QStringList{listed});
    QCOMPARE(drive1->currentIndex(), drive);
}

void Form1StartUpTest::settingsRoundTripThroughStartUpAndClose()
{
    QTemporaryDir source;
    const QString folder = source.filePath("写真 2024");
    QVERIFY(QDir().mkpath(folder));
    uitest::Harness h;
    const QByteArray other = "[other]\r\nkeep=this\r\n";
    QVERIFY(WriteFile(
        h.SettingsFile(),
        other + Ini({"DirPath=" + folder, "DirPattern=3", "RenamePattern=4", "DestPattern=2",
                     "FileNameCase=1", "Move=1", "Suffix=7", "Detail=0", "YYYY=4", "Model=1"})));

    h.window->StartUp(QString());
    const QStringList states = ControlStates(h);
    QCOMPARE(h.window->SourceFolder(), folder);
    QVERIFY(h.window->close());

    QFile written(h.SettingsFile());
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray first = written.readAll();
    written.close();
    QVERIFY(first.startsWith(other));
    const QMap<QString, QString> expected = {
        {"Version", "0.4.5"}, {"DirPath", folder},   {"DirPattern", "3"}, {"RenamePattern", "4"},
        {"DestPattern", "2"}, {"FileNameCase", "1"}, {"ExtCase", "2"},    {"Move", "1"},
        {"Suffix", "7"},      {"Detail", "0"},       {"YYYY", "4"},       {"Model", "1"}};
    QCOMPARE(Section(h.SettingsFile()), expected);

    // The next start shows the same window and, closed unchanged, writes the same file.
    h.Reopen();
    h.window->StartUp(QString());
    QCOMPARE(ControlStates(h), states);
    QCOMPARE(h.window->SourceFolder(), folder);
    QVERIFY(h.window->close());
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), first);
    QVERIFY(h.endCodes.empty());
}

QTEST_MAIN(Form1StartUpTest)
#include "form1_startup_test.moc"
