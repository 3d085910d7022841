// Option and check handlers, the detail toggle, the about box and the settings written at close.

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "platform/qt_translations.h"
#include "settings/settings_file.h"
#include "tests/ui/form1_harness.h"
#include "ui/template_dialog.h"

namespace {

enum class Field { DirPattern, RenamePattern, DestPattern, Suffix, YYYY, Move, Model };

int Value(const engine::RunOptions& options, Field field)
{
    switch (field) {
    case Field::DirPattern:
        return options.DirPattern;
    case Field::RenamePattern:
        return options.RenamePattern;
    case Field::DestPattern:
        return options.DestPattern;
    case Field::Suffix:
        return options.Suffix;
    case Field::YYYY:
        return options.YYYY;
    case Field::Move:
        return options.Move;
    case Field::Model:
        return options.Model;
    }
    return -1;
}

} // namespace

Q_DECLARE_METATYPE(Field)

class Form1HandlersTest : public QObject {
    Q_OBJECT
private slots:
    void optionButtons_data();
    void optionButtons();
    void option22LeavesTheOtherFramesAlone();
    void checkBoxes_data();
    void checkBoxes();
    void check3LowersTheExtensionToo();
    void detailToggleTwiceRestoresTheWindow();
    void aboutShowsTheCaption();
    void closingSavesTheSettings_data();
    void closingSavesTheSettings();
    void menuOptions_data();
    void menuOptions();
    void menuTemplateAndUndo();
    void chosenDestinationAndTemplateShowOnThePanel();
    void keyboardMenuTemplateDialogAndQtTexts();
};

void Form1HandlersTest::optionButtons_data()
{
    QTest::addColumn<QString>("other"); // a button of the same group selected first
    QTest::addColumn<Field>("field");
    QTest::addColumn<int>("value");
    QTest::newRow("Option1") << "Option3" << Field::DirPattern << 1;
    QTest::newRow("Option3") << "Option1" << Field::DirPattern << 3;
    QTest::newRow("Option4") << "Option1" << Field::DirPattern << 4;
    QTest::newRow("Option5") << "Option1" << Field::DirPattern << 5;
    QTest::newRow("Option7") << "Option1" << Field::DirPattern << 7;
    QTest::newRow("Option11") << "Option16" << Field::RenamePattern << 1;
    QTest::newRow("Option12") << "Option11" << Field::RenamePattern << 2;
    QTest::newRow("Option13") << "Option11" << Field::RenamePattern << 3;
    QTest::newRow("Option14") << "Option11" << Field::RenamePattern << 4;
    QTest::newRow("Option15") << "Option11" << Field::RenamePattern << 5;
    QTest::newRow("Option16") << "Option11" << Field::RenamePattern << 6;
    QTest::newRow("Option21") << "Option23" << Field::DestPattern << 1;
    QTest::newRow("Option22") << "Option21" << Field::DestPattern << 2;
    QTest::newRow("Option23") << "Option21" << Field::DestPattern << 3;
    QTest::newRow("Option31") << "Option32" << Field::Suffix << 0;
    QTest::newRow("Option32") << "Option31" << Field::Suffix << 1;
}

void Form1HandlersTest::optionButtons()
{
    QFETCH(QString, other);
    QFETCH(Field, field);
    QFETCH(int, value);
    uitest::Harness h;
    h.window->show();
    auto* button = h.Find<QRadioButton>(QTest::currentDataTag());
    auto* otherButton = h.window->findChild<QRadioButton*>(other);
    QVERIFY(button != nullptr && otherButton != nullptr);

    // By a click.
    otherButton->setChecked(true);
    QVERIFY(Value(h.window->Options(), field) != value);
    uitest::ClickIndicator(button);
    QVERIFY(button->isChecked());
    QVERIFY(!otherButton->isChecked());
    QCOMPARE(Value(h.window->Options(), field), value);

    // By code.
    otherButton->setChecked(true);
    QVERIFY(Value(h.window->Options(), field) != value);
    button->setChecked(true);
    QCOMPARE(Value(h.window->Options(), field), value);
}

void Form1HandlersTest::option22LeavesTheOtherFramesAlone()
{
    uitest::Harness h;
    h.window->show();
    for (const char* name : {"Option3", "Option14", "Option32"}) {
        h.Find<QRadioButton>(name)->setChecked(true);
    }
    QVERIFY(h.Find<QRadioButton>("Option21")->isChecked());
    uitest::ClickIndicator(h.Find<QRadioButton>("Option22"));

    QVERIFY(h.Find<QRadioButton>("Option22")->isChecked());
    QVERIFY(!h.Find<QRadioButton>("Option21")->isChecked());
    QVERIFY(!h.Find<QRadioButton>("Option23")->isChecked());
    for (const char* name : {"Option3", "Option14", "Option32"}) {
        QVERIFY2(h.Find<QRadioButton>(name)->isChecked(), name);
    }
    const engine::RunOptions options = h.window->Options();
    QCOMPARE(options.DestPattern, 2);
    QCOMPARE(options.DirPattern, 3);
    QCOMPARE(options.RenamePattern, 4);
    QCOMPARE(options.Suffix, 1);
}

void Form1HandlersTest::checkBoxes_data()
{
    QTest::addColumn<Field>("field");
    QTest::addColumn<int>("ticked");
    QTest::newRow("Check_yyyy") << Field::YYYY << 4;
    QTest::newRow("Check5") << Field::Move << 1;
    QTest::newRow("Check_Model") << Field::Model << 1;
}

void Form1HandlersTest::checkBoxes()
{
    QFETCH(Field, field);
    QFETCH(int, ticked);
    uitest::Harness h;
    h.window->show();
    auto* box = h.Find<QCheckBox>(QTest::currentDataTag());
    QVERIFY(box != nullptr);
    QCOMPARE(Value(h.window->Options(), field), 0);
    uitest::ClickIndicator(box);
    QCOMPARE(Value(h.window->Options(), field), ticked);
    uitest::ClickIndicator(box);
    QCOMPARE(Value(h.window->Options(), field), 0);
    box->setChecked(true); // by code
    QCOMPARE(Value(h.window->Options(), field), ticked);
}

void Form1HandlersTest::check3LowersTheExtensionToo()
{
    uitest::Harness h;
    h.window->show();
    auto* check3 = h.Find<QCheckBox>("Check3");
    auto* check4 = h.Find<QCheckBox>("Check4");

    uitest::ClickIndicator(check3);
    QCOMPARE(check4->checkState(), Qt::Checked);
    QVERIFY(!check4->isEnabled());
    QCOMPARE(h.window->Options().FileNameCase, 1);
    QCOMPARE(h.window->Options().ExtCase, 1);

    uitest::ClickIndicator(check3);
    QVERIFY(check4->isEnabled());
    QCOMPARE(check4->checkState(), Qt::Checked);
    QCOMPARE(h.window->Options().FileNameCase, 0);
    QCOMPARE(h.window->Options().ExtCase, 1);

    uitest::ClickIndicator(check4);
    QCOMPARE(h.window->Options().ExtCase, 0);
    uitest::ClickIndicator(check4);
    QCOMPARE(h.window->Options().ExtCase, 1);
}

void Form1HandlersTest::detailToggleTwiceRestoresTheWindow()
{
    uitest::Harness h;
    h.window->show();
    auto* command6 = h.Find<QPushButton>("Command6");
    const int left = h.window->x();
    QCOMPARE(h.window->Options().Detail, 1);
    QCOMPARE(command6->text(), QStringLiteral("詳細非表示 <<"));

    QTest::mouseClick(command6, Qt::LeftButton);
    QCOMPARE(h.window->Options().Detail, 0);
    QCOMPARE(command6->text(), QStringLiteral("詳細設定 >>"));
    QCOMPARE(h.window->size(), QSize(248, 431));
    QCOMPARE(h.window->x(), left);

    QTest::mouseClick(command6, Qt::LeftButton);
    QCOMPARE(h.window->Options().Detail, 1);
    QCOMPARE(command6->text(), QStringLiteral("詳細非表示 <<"));
    QCOMPARE(h.window->size(), QSize(527, 431));
    QCOMPARE(h.window->x(), left);
}

void Form1HandlersTest::aboutShowsTheCaption()
{
    uitest::Harness h;
    h.window->show();
    for (const QString& caption : {ui::WindowCaption(), QStringLiteral("another caption")}) {
        h.messages.clear();
        h.window->setWindowTitle(caption);
        QTest::mouseClick(h.Find<QPushButton>("AboutButton"), Qt::LeftButton);
        QCOMPARE(h.messages.size(), std::size_t{1});
        QCOMPARE(h.messages[0].icon, QMessageBox::NoIcon);
        QCOMPARE(h.messages[0].title, QStringLiteral("Velmora"));
        QCOMPARE(h.messages[0].text, caption);
    }
    QCOMPARE(ui::WindowCaption(),
             QStringLiteral("Velmora 0.4.5 :フォルダ内の全ファイルを日付にもとづいて分類"));
    QVERIFY(h.endCodes.empty());
    QVERIFY(!QFile::exists(h.SettingsFile()));
}

void Form1HandlersTest::closingSavesTheSettings_data()
{
    QTest::addColumn<bool>("byExitButton");
    QTest::newRow("close box") << false;
    QTest::newRow("ExitButton") << true;
}

void Form1HandlersTest::closingSavesTheSettings()
{
    QFETCH(bool, byExitButton);
    QTemporaryDir source;
    uitest::Harness h;
    h.window->show();
    QVERIFY(h.window->SetSourceFolder(source.path()));
    h.Find<QRadioButton>("Option3")->setChecked(true);
    h.Find<QRadioButton>("Option22")->setChecked(true);
    h.Find<QCheckBox>("Check_yyyy")->setChecked(true);
    h.Find<QCheckBox>("Check3")->setChecked(true);
    h.window->DetailToggle();
    QVERIFY(!QFile::exists(h.SettingsFile()));

    if (byExitButton) {
        QTest::mouseClick(h.Find<QPushButton>("ExitButton"), Qt::LeftButton);
    } else {
        QVERIFY(h.window->close());
    }
    QVERIFY(!h.window->isVisible());

    const settings::SettingsTexts texts =
        settings::LoadSettings(QFile::encodeName(h.SettingsFile()).toStdString());
    QCOMPARE(texts.layout, settings::SettingsTexts::Layout::Ini);
    QCOMPARE(QString::fromStdString(texts.DirPath), QDir::cleanPath(source.path()));
    QCOMPARE(texts.DirPattern, std::string("3"));
    QCOMPARE(texts.RenamePattern, std::string("1"));
    QCOMPARE(texts.DestPattern, std::string("2"));
    QCOMPARE(texts.FileNameCase, std::string("1"));
    QCOMPARE(texts.ExtCase, std::string("1"));
    QCOMPARE(texts.Detail, std::string("0"));
    QCOMPARE(texts.YYYY, std::string("4"));
    QCOMPARE(texts.Model, std::string());
    QVERIFY(h.endCodes.empty());
}

void Form1HandlersTest::menuOptions_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("frame"); // where the right click goes
    QTest::newRow("MediaDatesAction") << "MediaDates"
                                      << "Frame1";
    QTest::newRow("NameDatesAction") << "NameDates"
                                     << "Frame6";
    QTest::newRow("RecursiveAction") << "Recursive"
                                     << "Frame2";
    QTest::newRow("SkipSameAction") << "SkipSame"
                                    << "Frame4";
    QTest::newRow("KeepGoingAction") << "KeepGoing"
                                     << "Frame2";
    QTest::newRow("KeepTogetherAction") << "KeepTogether"
                                        << "Frame6";
}

// An option of the context menu: read at start, opened by a right click on the detail panel,
// written to the run options when toggled, saved only while on.
void Form1HandlersTest::menuOptions()
{
    QFETCH(QString, key);
    QFETCH(QString, frame);
    uitest::Harness h;
    QFile ini(h.SettingsFile());
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(("[kestrum]\r\nVersion=0.4.5\r\nDirPath=\r\nDirPattern=4\r\nRenamePattern=1\r\n"
               "DestPattern=1\r\nFileNameCase=0\r\nExtCase=0\r\nMove=0\r\nSuffix=0\r\n"
               "Detail=1\r\nYYYY=0\r\n" +
               key + "=1\r\n")
                  .toUtf8());
    ini.close();
    h.window->StartUp(QString());
    h.window->show();
    const auto field = [&] {
        const engine::RunOptions o = h.window->Options();
        return key == "MediaDates"  ? o.MediaDates
               : key == "NameDates" ? o.NameDates
               : key == "Recursive" ? o.Recursive
               : key == "SkipSame"  ? o.SkipSame
               : key == "KeepGoing" ? o.KeepGoing
                                    : o.KeepTogether;
    };
    auto* action = h.window->findChild<QAction*>(QTest::currentDataTag());
    QVERIFY(action != nullptr);
    QVERIFY(action->isChecked());
    QCOMPARE(field(), 1);

    auto* menu = h.window->findChild<QMenu*>(QStringLiteral("OptionsMenu"));
    auto* box = h.window->findChild<QWidget*>(frame);
    QVERIFY(menu != nullptr && box != nullptr);
    QVERIFY(!menu->isVisible());
    emit box->customContextMenuRequested(QPoint(5, 5));
    QTRY_VERIFY(menu->isVisible());
    QVERIFY(menu->actions().contains(action));
    menu->hide();

    action->trigger();
    QCOMPARE(field(), 0);
    QVERIFY(h.window->close());
    settings::SettingsTexts texts =
        settings::LoadSettings(QFile::encodeName(h.SettingsFile()).toStdString());
    QCOMPARE(key == "MediaDates"  ? texts.MediaDates
             : key == "NameDates" ? texts.NameDates
             : key == "Recursive" ? texts.Recursive
             : key == "SkipSame"  ? texts.SkipSame
             : key == "KeepGoing" ? texts.KeepGoing
                                  : texts.KeepTogether,
             std::string());

    h.Reopen();
    h.window->StartUp(QString());
    QVERIFY(!h.window->findChild<QAction*>(QTest::currentDataTag())->isChecked());
    h.window->findChild<QAction*>(QTest::currentDataTag())->trigger();
    QCOMPARE(field(), 1);
}

// The template entry shows the template of the settings file and the folders follow it;
// "元に戻す" shows the run and undoes it once confirmed, and turning the template off gives
// the buttons back.
void Form1HandlersTest::menuTemplateAndUndo()
{
    QTemporaryDir state; // journals of its own: "元に戻す" must find this test's run only
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    uitest::Harness h;
    QTemporaryDir source;
    const QString card = source.filePath(QStringLiteral("DCIM/100CANON"));
    QVERIFY(QDir().mkpath(card));
    for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG"}) {
        QFile file(card + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(name);
        file.flush();
        QVERIFY(file.setFileTime(QDateTime(QDate(2002, 4, 26), QTime(10, 0)),
                                 QFileDevice::FileModificationTime));
        file.close();
    }
    QFile ini(h.SettingsFile());
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(("[kestrum]\r\nVersion=0.4.5\r\nDirPath=" + source.path() +
               "\r\nDirPattern=4\r\nRenamePattern=1\r\nDestPattern=1\r\nFileNameCase=0\r\n"
               "ExtCase=0\r\nMove=1\r\nSuffix=0\r\nDetail=1\r\nYYYY=0\r\n"
               "Recursive=1\r\nDirTemplate=yyyy/mm/dd\r\n")
                  .toUtf8());
    ini.close();
    h.window->StartUp(QString());
    auto* folders = h.Find<QAction>("DirTemplateAction");
    QVERIFY(folders != nullptr && folders->isChecked());
    QVERIFY(folders->text().endsWith(QStringLiteral("yyyy/mm/dd")));
    QCOMPARE(h.window->Options().DirTemplate, std::string("yyyy/mm/dd"));
    // The file list shows the card's files with their paths.
    QCOMPARE(h.Find<QListWidget>("File1")->count(), 2);
    QCOMPARE(h.Find<QListWidget>("File1")->item(0)->text(),
             QStringLiteral("DCIM/100CANON/IMG_0001.JPG"));

    QSignalSpy finished(h.window.get(), &ui::Form1::runFinished);
    h.window->ExecuteRun();
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(QFile::exists(source.filePath(QStringLiteral("2002/04/26/IMG_0002.JPG"))));
    QVERIFY(!QFile::exists(card + QStringLiteral("/IMG_0002.JPG")));

    h.confirm = false; // asked first: cancelled, nothing changes
    h.Find<QAction>("UndoAction")->trigger();
    QCOMPARE(h.questions.size(), std::size_t{1});
    for (const QString& part : {source.path(), QString::fromUtf8("移動: 2 個のファイル")})
        QVERIFY2(h.questions[0].contains(part), qPrintable(h.questions[0]));
    QVERIFY(h.messages.empty());
    QVERIFY(!QFile::exists(card + QStringLiteral("/IMG_0002.JPG")));
    h.confirm = true;
    h.Find<QAction>("UndoAction")->trigger();
    QCOMPARE(h.messages.size(), std::size_t{1});
    QCOMPARE(h.messages[0].icon, QMessageBox::Information);
    QVERIFY(h.messages[0].text.startsWith(QString::fromUtf8("2 個のファイルを元に戻しました")));
    QVERIFY(QFile::exists(card + QStringLiteral("/IMG_0002.JPG")));
    QVERIFY(!QDir(source.filePath(QStringLiteral("2002"))).exists());
    h.Find<QAction>("UndoAction")->trigger(); // nothing left to undo
    QCOMPARE(h.messages.back().text, QString::fromUtf8("元に戻せる実行はありません。"));

    folders->trigger();
    QCOMPARE(h.window->Options().DirTemplate, std::string());
    QVERIFY(!folders->text().contains(QStringLiteral("yyyy")));
    QVERIFY(h.window->close());
    const settings::SettingsTexts texts =
        settings::LoadSettings(QFile::encodeName(h.SettingsFile()).toStdString());
    QCOMPARE(texts.DirTemplate, std::string());
    QCOMPARE(texts.Recursive, std::string("1"));
}

// "保存先を選ぶ…" puts a folder of one's own in force: the entry is checked and shows it, the three
// destination buttons show unchecked, a run stores there, the settings keep it, and a click on
// one of the buttons ends it. A folder template shows on the panel the same way.
void Form1HandlersTest::chosenDestinationAndTemplateShowOnThePanel()
{
    QTemporaryDir state, source, chosen;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    QVERIFY(uitest::MakeFile(source.filePath(QStringLiteral("a.txt")),
                             QDateTime(QDate(2002, 4, 26), QTime(10, 0))));
    uitest::Harness h;
    QString answer = chosen.path() + QStringLiteral("/"); // the dialog's answer
    QStringList asked;                                    // where the dialog started
    const auto dialog = [&](const QString& start) {
        asked << start;
        return answer;
    };
    h.window->SetFolderDialogFunction(dialog);
    h.window->StartUp(source.path());
    auto* dest = h.Find<QAction>("DestPathAction");
    const auto buttonsChecked = [&](std::initializer_list<const char*> names) {
        QStringList checked;
        for (const char* name : names)
            if (h.Find<QAbstractButton>(name)->isChecked())
                checked << QString::fromLatin1(name);
        return checked;
    };
    QVERIFY(dest != nullptr && !dest->isChecked());
    QCOMPARE(buttonsChecked({"Option21", "Option22", "Option23"}), QStringList{"Option21"});

    dest->trigger();
    QCOMPARE(asked, QStringList{QDir::homePath()});
    QVERIFY(dest->isChecked());
    QVERIFY(dest->text().endsWith(chosen.path()));
    QVERIFY(h.Find<QWidget>("Frame4")->toolTip().contains(chosen.path()));
    QCOMPARE(buttonsChecked({"Option21", "Option22", "Option23"}), QStringList());
    QCOMPARE(h.window->Options().DestPattern, 4);
    QCOMPARE(h.window->Options().DestPath, QFile::encodeName(chosen.path()).toStdString());

    QSignalSpy finished(h.window.get(), &ui::Form1::runFinished);
    h.window->ExecuteRun();
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(QFile::exists(chosen.filePath(QStringLiteral("020426/a.txt"))));
    QVERIFY(!QDir(source.filePath(QStringLiteral("020426"))).exists());

    // Kept by the settings and in force at the next start; a cancelled dialog changes nothing.
    QVERIFY(h.window->close());
    h.Reopen();
    h.window->SetFolderDialogFunction(dialog);
    h.window->StartUp(QString());
    dest = h.Find<QAction>("DestPathAction");
    QVERIFY(dest->isChecked());
    QCOMPARE(buttonsChecked({"Option21", "Option22", "Option23"}), QStringList());
    answer.clear();
    dest->trigger();
    QCOMPARE(asked.last(), chosen.path());
    QVERIFY(dest->isChecked());
    QCOMPARE(h.window->Options().DestPattern, 4);

    uitest::ClickIndicator(h.Find<QAbstractButton>("Option22"));
    QCOMPARE(h.window->Options().DestPattern, 2);
    QVERIFY(!dest->isChecked());
    QVERIFY(!dest->text().contains(chosen.path()));
    QVERIFY(!h.Find<QWidget>("Frame4")->toolTip().contains(chosen.path()));
    QVERIFY(h.window->close());
    settings::SettingsTexts texts =
        settings::LoadSettings(QFile::encodeName(h.SettingsFile()).toStdString());
    QCOMPARE(texts.DestPattern, std::string("2"));
    QCOMPARE(texts.DestPath, std::string());

    // A template in force: the five pattern buttons show unchecked until one is clicked.
    QFile ini(h.SettingsFile());
    QVERIFY(ini.open(QIODevice::Append));
    ini.write("DirTemplate=yyyy/mm\r\n");
    ini.close();
    h.Reopen();
    h.window->StartUp(QString());
    const auto patterns = {"Option1", "Option3", "Option4", "Option5", "Option7"};
    QCOMPARE(buttonsChecked(patterns), QStringList());
    QVERIFY(h.Find<QWidget>("Frame1")->toolTip().contains(QStringLiteral("yyyy/mm")));
    QVERIFY(h.Find<QAction>("DirTemplateAction")->text().endsWith(QStringLiteral("yyyy/mm")));
    uitest::ClickIndicator(h.Find<QAbstractButton>("Option3"));
    QCOMPARE(h.window->Options().DirTemplate, std::string());
    QCOMPARE(h.window->Options().DirPattern, 3);
    QCOMPARE(buttonsChecked(patterns), QStringList{"Option3"});
    QVERIFY(!h.Find<QAction>("DirTemplateAction")->isChecked());
    QVERIFY(!h.Find<QWidget>("Frame1")->toolTip().contains(QStringLiteral("yyyy/mm")));
    h.Find<QAction>("DirTemplateAction")->trigger(); // the template kept from the start
    QCOMPARE(h.window->Options().DirTemplate, std::string("yyyy/mm"));
    QCOMPARE(buttonsChecked(patterns), QStringList());
    h.Find<QAction>("DirTemplateAction")->trigger();
    QCOMPARE(buttonsChecked(patterns), QStringList{"Option3"});
}

// Shift+F10 and the Menu key open the menu wherever the focus is; a bad template keeps its
// dialog open with the text and the reason; Qt's own buttons speak Japanese.
void Form1HandlersTest::keyboardMenuTemplateDialogAndQtTexts()
{
    uitest::Harness h;
    h.window->StartUp(QString());
    h.window->show();
    h.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    auto* menu = h.window->findChild<QMenu*>(QStringLiteral("OptionsMenu"));
    for (const char* focus : {"File1", "Dir1", "ExecuteButton", "Check5"}) {
        for (const QKeyCombination keys :
             {QKeyCombination(Qt::ShiftModifier, Qt::Key_F10), QKeyCombination(Qt::Key_Menu)}) {
            h.Find<QWidget>(focus)->setFocus();
            QTest::keyClick(QApplication::focusWidget(), keys.key(), keys.keyboardModifiers());
            QTRY_VERIFY2(menu->isVisible(), focus);
            QVERIFY(menu->activeAction() != nullptr);
            menu->hide();
        }
    }

    ui::TemplateDialog dialog(QStringLiteral("yyyy/mm/dd"));
    dialog.findChild<QLineEdit*>(QStringLiteral("TemplateEdit"))
        ->setText(QStringLiteral("yyyy/ww"));
    dialog.open();
    auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    ok->click();
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.Reason().isEmpty());
    QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("TemplateEdit"))->text(),
             QStringLiteral("yyyy/ww"));
    dialog.findChild<QLineEdit*>(QStringLiteral("TemplateEdit"))
        ->setText(QStringLiteral("yyyy/mm"));
    ok->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Template(), std::string("yyyy/mm"));

    QVERIFY(platform::LoadQtTranslations(*qApp));
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QString::fromUtf8("キャンセル"));
}

QTEST_MAIN(Form1HandlersTest)
#include "form1_handlers_test.moc"
