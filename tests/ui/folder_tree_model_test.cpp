// The folder tree's model on real folders: what it lists, what a path finds, and how it
// follows folders made and removed.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/folder_tree_model.h"

namespace {

QStringList Rows(const ui::FolderTreeModel& model, const QModelIndex& parent)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        names << model.index(row, 0, parent).data().toString();
    }
    return names;
}

} // namespace

class FolderTreeModelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void pathsFindFoldersOnly_data();
    void pathsFindFoldersOnly();
    void followsFoldersMadeAndRemoved_data();
    void followsFoldersMadeAndRemoved();

private:
    QTemporaryDir home_;
    QTemporaryDir tree_;
    QString Path(const QString& below) const { return tree_.filePath(below); }
};

void FolderTreeModelTest::initTestCase()
{
    // Under the C locale names sort by code point; a user's locale sorts numbers by value.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qputenv("HOME", QFile::encodeName(home_.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.filePath(".config")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(home_.filePath(".local/state")));
    QDir root(tree_.path());
    for (const char* folder : {"a2", "A10", "b/sub", ".hidden/inner", "many/only", "locked/in"}) {
        QVERIFY(root.mkpath(folder));
    }
    for (const char* file : {"f.jpg", "b/x.jpg"}) {
        QVERIFY(QFile(Path(file)).open(QIODevice::WriteOnly));
    }
    for (int i = 0; i < 3000; ++i) {
        QVERIFY(QFile(Path(QStringLiteral("many/IMG_%1.JPG").arg(i))).open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(Path("b"), Path("to b")));
    QVERIFY(QFile::link(Path("f.jpg"), Path("to file")));
    QVERIFY(QFile::link(Path("gone"), Path("dangling")));
    // Opened but not listed (by anyone but root).
    QVERIFY(QFile::setPermissions(Path("locked"), QFile::ExeOwner));
}

void FolderTreeModelTest::cleanupTestCase()
{
    QFile::setPermissions(Path("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void FolderTreeModelTest::pathsFindFoldersOnly_data()
{
    QTest::addColumn<QString>("asked"); // below the tree; invalid when "shown" is empty
    QTest::addColumn<QString>("shown"); // its path as the model gives it
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("rowsOfTop"); // afterwards

    const QStringList top = {"a2", "A10", "b", "locked", "many", "to b"};
    QTest::newRow("folders only, numbers by value, no hidden, links to folders")
        << ""
        << "" << top << top;
    QTest::newRow("a folder of 3,000 files") << "many"
                                             << "many" << QStringList{"only"} << top;
    QTest::newRow("through a link") << "to b/sub"
                                    << "to b/sub" << QStringList() << top;
    QTest::newRow("below a folder that cannot be listed") << "locked/in"
                                                          << "locked/in" << QStringList() << top;
    QTest::newRow("a hidden folder asked for is shown")
        << ".hidden"
        << ".hidden" << QStringList{"inner"}
        << QStringList{".hidden", "a2", "A10", "b", "locked", "many", "to b"};
    QTest::newRow("extra slashes and dots") << "b//./sub/"
                                            << "b/sub" << QStringList() << top;
    for (const char* none : {"missing", "f.jpg", "to file", "dangling", "b/x.jpg"}) {
        QTest::newRow(none) << none << "" << QStringList() << top;
    }
}

void FolderTreeModelTest::pathsFindFoldersOnly()
{
    QFETCH(QString, asked);
    QFETCH(QString, shown);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, rowsOfTop);
    ui::FolderTreeModel model;
    QCOMPARE(Rows(model, {}), QStringList{"/"});
    const QModelIndex index = model.index(Path(asked));
    if (shown.isEmpty() && !asked.isEmpty()) {
        QVERIFY(!index.isValid());
    } else {
        QVERIFY(index.isValid());
        QCOMPARE(model.filePath(index), QDir::cleanPath(Path(shown)));
        QCOMPARE(index.data(ui::FolderTreeModel::FilePathRole).toString(), model.filePath(index));
        QCOMPARE(model.parent(index), model.index(QFileInfo(model.filePath(index)).path()));
        if (model.canFetchMore(index)) {
            model.fetchMore(index);
        }
        QCOMPARE(Rows(model, index), rows);
        QCOMPARE(model.hasChildren(index), !rows.isEmpty());
    }
    QCOMPARE(Rows(model, model.index(tree_.path())), rowsOfTop);
}

void FolderTreeModelTest::followsFoldersMadeAndRemoved_data()
{
    QTest::addColumn<bool>("watching");
    QTest::addColumn<QString>("made");    // a folder made after the tree was read
    QTest::addColumn<QString>("removed"); // a folder removed
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("made, in its sorted place")
        << true << "a5"
        << "" << QStringList{"a2", "a5", "A10", "b", "locked", "many", "to b"};
    QTest::newRow("removed, with the folders read below it")
        << true << ""
        << "gone/deeper" << QStringList{"a2", "A10", "b", "locked", "many", "to b"};
    QTest::newRow("no longer watched: stays as read")
        << false << "a5"
        << "" << QStringList{"a2", "A10", "b", "locked", "many", "to b"};
}

void FolderTreeModelTest::followsFoldersMadeAndRemoved()
{
    QFETCH(bool, watching);
    QFETCH(QString, made);
    QFETCH(QString, removed);
    QFETCH(QStringList, rows);
    if (!removed.isEmpty()) {
        QVERIFY(QDir(tree_.path()).mkpath(removed));
    }
    ui::FolderTreeModel model;
    if (!removed.isEmpty()) {
        QVERIFY(model.index(Path(removed)).isValid()); // read down to it
    }
    const QModelIndex top = model.index(tree_.path());
    if (model.canFetchMore(top)) {
        model.fetchMore(top);
    }
    if (!watching) {
        model.StopWatching();
    }
    const QPersistentModelIndex b = model.index(Path("b"));
    if (!made.isEmpty()) {
        QVERIFY(QDir(tree_.path()).mkdir(made));
    }
    if (!removed.isEmpty()) {
        QVERIFY(QDir(Path(removed.section('/', 0, 0))).removeRecursively());
    }
    QVERIFY(QFile(Path("new.jpg")).open(QIODevice::WriteOnly)); // files are no rows
    if (watching) {
        QTRY_COMPARE(Rows(model, top), rows);
    } else {
        QTest::qWait(300);
        QCOMPARE(Rows(model, top), rows);
    }
    QCOMPARE(model.filePath(b), Path("b")); // the rows that stay keep their indexes
    QVERIFY(QFile::remove(Path("new.jpg")));
    if (!made.isEmpty()) {
        QVERIFY(QDir(tree_.path()).rmdir(made));
    }
}

QTEST_MAIN(FolderTreeModelTest)
#include "folder_tree_model_test.moc"
