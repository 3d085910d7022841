// The window's controls: kinds, places, captions, tooltips, stacking, focus and the two widths.

#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include "tests/ui/form1_harness.h"
#include "ui/folder_tree_model.h"

namespace {

int Pixels(int twips)
{
    return qRound(twips / 15.0);
}

QString Caption(const QWidget* widget)
{
    if (auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* frame = qobject_cast<const QGroupBox*>(widget)) {
        return frame->title();
    }
    if (auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    return {};
}

const char* const LeftColumn[] = {"Frame3",     "Command6",    "ExecuteButton",
                                  "ExitButton", "AboutButton", "ProgressBar1"};

} // namespace

class Form1LayoutTest : public QObject {
    Q_OBJECT
private slots:
    void controls_data();
    void controls();
    void toolTips_data();
    void toolTips();
    void onlyListedControlsHaveToolTips();
    void label6ShowsOneAmpersand();
    void check4HasAGrayedStateOnlyCodeSets();
    void progressBarRangeIsZeroToHundred();
    void buttonsLieInFrontOfTheirFrames_data();
    void buttonsLieInFrontOfTheirFrames();
    void executeButtonHasTheFocusWhenTheWindowOpens();
    void narrowFormHidesTheWholeDetailPanel();
    void captionsFitTheirControls();
    void folderListShowsTheSourceFolder();
};

void Form1LayoutTest::controls_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");

    auto row = [](const char* name, const char* parent, const char* kind, const char* caption,
                  int left, int top, int width, int height) {
        QTest::newRow(name) << QString::fromLatin1(parent) << QString::fromLatin1(kind)
                            << QString::fromUtf8(caption) << QRect(left, top, width, height);
    };
    row("Frame3", "Form1", "QGroupBox", "分類対象のあるフォルダ", 120, 120, 3495, 5895);
    row("Command6", "Form1", "QPushButton", "詳細非表示 <<", 2040, 360, 1455, 375);
    row("ExecuteButton", "Form1", "QPushButton", "", 2400, 3720, 1095, 1095);
    row("ExitButton", "Form1", "QPushButton", "さようなら～", 2400, 4920, 1095, 495);
    row("AboutButton", "Form1", "QPushButton", "About...", 2400, 5520, 1095, 375);
    row("ProgressBar1", "Form1", "QProgressBar", "", 120, 6120, 3495, 255);
    row("Label6", "Frame3", "QLabel", "☆ここにD&Dできます", 120, 360, 1815, 255);
    row("Drive1", "Frame3", "QComboBox", "", 120, 720, 3255, 300);
    row("Dir1", "Frame3", "QTreeView", "", 120, 1080, 3255, 2190);
    row("Label5", "Frame3", "QLabel", "分類されるファイル", 120, 3480, 1575, 255);
    row("File1", "Frame3", "QListWidget", "", 120, 3720, 2055, 810);
    row("RefreshButton", "Frame3", "QPushButton", "最新の情報に更新", 120, 4800, 2055, 495);
    row("ExplorerButton", "Frame3", "QPushButton", "このフォルダを開く", 120, 5400, 2055, 375);
    row("Frame5", "Form1", "QGroupBox", "分類条件の詳細設定", 3720, 120, 4095, 6255);
    row("Check5", "Form1", "QCheckBox", "ファイルを移動", 6240, 360, 1455, 255);
    row("Frame4", "Form1", "QGroupBox", "日付別フォルダ作成場所", 3840, 600, 3855, 1215);
    row("Frame1", "Form1", "QGroupBox", "分類パターン(分類フォルダ名)", 3840, 1920, 3855, 1455);
    row("Frame2", "Form1", "QGroupBox", "ファイル名変更", 3840, 3480, 3855, 2055);
    row("Frame6", "Frame5", "QGroupBox", "ファイル名の重複処理", 120, 5520, 3855, 612);
    row("Option21", "Frame4", "QRadioButton", "元フォルダの下に直接", 240, 360, 2175, 180);
    row("Option22", "Frame4", "QRadioButton", "デスクトップ上の「分類」フォルダ内", 240, 600, 3015,
        180);
    row("Option23", "Frame4", "QRadioButton", "マイドキュメント内の「分類」フォルダ内", 240, 840,
        3255, 225);
    row("Label1", "Frame1", "QLabel", "月ごとに分類", 120, 360, 1215, 255);
    row("Label4", "Frame1", "QLabel", "日ごとに分類", 1680, 360, 1095, 255);
    row("Option1", "Frame1", "QRadioButton", "\\yyyymm", 240, 600, 1095, 255);
    row("Option7", "Frame1", "QRadioButton", "\\yymm", 240, 840, 975, 180);
    row("Option3", "Frame1", "QRadioButton", "\\yyyymmdd", 1800, 600, 1215, 255);
    row("Option4", "Frame1", "QRadioButton", "\\yymmdd", 1800, 840, 1095, 180);
    row("Option5", "Frame1", "QRadioButton", "\\yy_mmdd", 1800, 1080, 1095, 180);
    row("Option11", "Frame2", "QRadioButton", "変更なし", 240, 360, 1815, 180);
    row("Option12", "Frame2", "QRadioButton", "yymmdd+旧ファイル名", 1680, 360, 2055, 180);
    row("Option13", "Frame2", "QRadioButton", "mmdd+旧ファイル名", 1680, 600, 1935, 180);
    row("Option14", "Frame2", "QRadioButton", "yymmdd####", 240, 600, 1455, 180);
    row("Option15", "Frame2", "QRadioButton", "mmddhhmmss (月日時分秒)", 240, 840, 3015, 255);
    row("Option16", "Frame2", "QRadioButton", "yymmddhhmm (年月日時分)", 240, 1080, 3495, 255);
    row("Check3", "Frame2", "QCheckBox", "小文字に変換", 240, 1440, 1455, 255);
    row("Check4", "Frame2", "QCheckBox", "拡張子のみ小文字に", 1680, 1440, 1935, 255);
    row("Check_yyyy", "Frame2", "QCheckBox", "年4桁(yyyy)", 240, 1680, 1335, 255);
    row("Check_Model", "Frame2", "QCheckBox", "カメラ情報の付加", 1680, 1680, 1935, 255);
    row("Option32", "Frame6", "QRadioButton", "a, b, c, ...", 240, 240, 975, 252);
    row("Option31", "Frame6", "QRadioButton", "[001], [002], ...", 1680, 240, 1455, 252);
}

void Form1LayoutTest::controls()
{
    QFETCH(QString, parent);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);

    uitest::Harness h;
    QWidget* widget = h.Find(QTest::currentDataTag());
    QVERIFY(widget != nullptr);
    QVERIFY2(widget->inherits(kind.toLatin1().constData()), widget->metaObject()->className());
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->geometry(), QRect(Pixels(twips.x()), Pixels(twips.y()), Pixels(twips.width()),
                                       Pixels(twips.height())));
    QCOMPARE(Caption(widget), caption);
}

void Form1LayoutTest::toolTips_data()
{
    QTest::addColumn<QString>("tip");
    const char* folder =
        "このフォルダ内の全ファイルが分類先にコピーされます．このフレーム内にはフォル"
        "ダまたはファイルをドラッグ&ドロップできます";
    auto row = [](const char* name, const char* tip) {
        QTest::newRow(name) << QString::fromUtf8(tip);
    };
    row("Frame3", folder);
    row("Label5", folder);
    row("Label6", "このフレーム内にはフォルダまたはファイルをドラッグ&ドロップできます");
    row("Dir1", "ここで指定されたフォルダの内の全ファイルが分類されます");
    row("File1", "フォルダ内の全ファイルが分類されます．ファイル単位の指定はできません");
    row("RefreshButton", "分類対象フォルダの表示情報を更新します");
    row("ExplorerButton", "表示フォルダをエクスプローラで開きます");
    row("ExecuteButton", "分類を実行します");
    row("ExitButton", "「Velmora」を終了します");
    row("AboutButton", "著作権情報など");
    row("Command6", "詳細設定の表示/非表示を切り替えます");
    row("Check5", "分類先にファイルを (コピーではなく) 移動します");
    row("Frame4", "分類結果のフォルダをどこに作るかを指定します");
    row("Option21", "元ファイルのあるフォルダの下に日付別フォルダが作られます");
    row("Option22", "デスクトップに「分類」というフォルダを作り，その中にさらに日付別のフォルダを作"
                    "ります");
    row("Option23", "マイドキュメントの中に「分類」というフォルダを作り，その中にさらに日付別のフォ"
                    "ルダを作ります");
    row("Frame1", "分類用日付別フォルダのパターンを選びます");
    row("Label1", "月ごとにフォルダをまとめます");
    row("Label4", "日ごとにフォルダをまとめます");
    row("Option1", "月ごとにフォルダをまとめます．年4桁月 200204 のようなフォルダ名になります");
    row("Option7", "月ごとにフォルダをまとめます．年2桁月 0204 のようなフォルダ名になります");
    row("Option3", "日ごとにフォルダをまとめます．年4桁月日 20020426 のようなフォルダ名になります");
    row("Option4", "日ごとにフォルダをまとめます．年2桁月日 020426 のようなフォルダ名になります");
    row("Option5", "日ごとにフォルダをまとめます．年2桁_月日 02_0426 のようなフォルダ名になります");
    row("Frame2", "コピー後のファイル名の変更パターンを指定します．重複ファイル名には[001]などが付"
                  "加されます");
    row("Option11", "ファイル名は変更されません");
    row("Option12", "コピー後のファイル名の変更パターンを指定します．元のファイル名の前に年2桁月日"
                    "が付き，020426IMGFILE.jpg のようになります，");
    row("Option13", "コピー後のファイル名の変更パターンを指定します．元のファイル名の前に月日が付き"
                    "，0426IMGFILE.jpg のようになります，");
    row("Option14", "コピー後のファイル名の変更パターンを指定します．年2桁月日連番4桁 "
                    "0204260001.jpg のようになります");
    row("Option15", "コピー後のファイル名の変更パターンを指定します．月日時分秒 0426103523.jpg "
                    "のようになります．");
    row("Option16", "コピー後のファイル名の変更パターンを指定します．年月日時分 0204261035.jpg "
                    "のようになります．");
    row("Check3", "ファイル名の大文字を小文字に変換します");
    row("Check4", "ファイルの拡張子を小文字に変換します");
    row("Check_yyyy", "年の表示を4桁にします(標準は下2桁)");
    row("Frame6", "コピー/移動先でファイル名が重なった場合に，区別のためにファイル名に付加される文"
                  "字列のタイプを指定します．");
}

void Form1LayoutTest::toolTips()
{
    QFETCH(QString, tip);
    uitest::Harness h;
    QWidget* widget = h.Find(QTest::currentDataTag());
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->toolTip(), tip);
}

void Form1LayoutTest::onlyListedControlsHaveToolTips()
{
    const QStringList silent = {"Frame5",      "Drive1",   "ProgressBar1",
                                "Check_Model", "Option31", "Option32"};
    uitest::Harness h;
    for (const QString& name : silent) {
        QWidget* widget = h.window->findChild<QWidget*>(name);
        QVERIFY2(widget != nullptr, qPrintable(name));
        QVERIFY2(widget->toolTip().isEmpty(), qPrintable(name));
    }
    QVERIFY(h.window->toolTip().isEmpty());
}

void Form1LayoutTest::label6ShowsOneAmpersand()
{
    uitest::Harness h;
    auto* label = h.Find<QLabel>("Label6");
    QVERIFY(label != nullptr);
    // With a buddy the ampersand would mark an access key and vanish from view.
    QVERIFY(label->buddy() == nullptr);
    QCOMPARE(label->textFormat(), Qt::AutoText);
    QVERIFY(!Qt::mightBeRichText(label->text()));
    QCOMPARE(label->text().count(QLatin1Char('&')), 1);
}

void Form1LayoutTest::check4HasAGrayedStateOnlyCodeSets()
{
    uitest::Harness h;
    h.window->show();
    auto* check4 = h.Find<QCheckBox>("Check4");
    QVERIFY(check4 != nullptr);
    QVERIFY(check4->isTristate());
    check4->setCheckState(Qt::PartiallyChecked);
    QCOMPARE(check4->checkState(), Qt::PartiallyChecked);
    // A click on the grayed box clears it; clicks then move between clear and ticked only.
    const Qt::CheckState expected[] = {Qt::Unchecked, Qt::Checked, Qt::Unchecked, Qt::Checked};
    for (Qt::CheckState state : expected) {
        uitest::ClickIndicator(check4);
        QCOMPARE(check4->checkState(), state);
    }
}

void Form1LayoutTest::progressBarRangeIsZeroToHundred()
{
    uitest::Harness h;
    auto* bar = h.Find<QProgressBar>("ProgressBar1");
    QVERIFY(bar != nullptr);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
}

void Form1LayoutTest::buttonsLieInFrontOfTheirFrames_data()
{
    QTest::addColumn<QString>("behind");
    QTest::newRow("Command6") << "Frame3";
    QTest::newRow("ExecuteButton") << "Frame3";
    QTest::newRow("ExitButton") << "Frame3";
    QTest::newRow("AboutButton") << "Frame3";
    QTest::newRow("Check5") << "Frame5";
    QTest::newRow("Frame4") << "Frame5";
    QTest::newRow("Frame1") << "Frame5";
    QTest::newRow("Frame2") << "Frame5";
}

void Form1LayoutTest::buttonsLieInFrontOfTheirFrames()
{
    QFETCH(QString, behind);
    uitest::Harness h;
    h.window->show();
    QWidget* front = h.Find(QTest::currentDataTag());
    QWidget* back = h.window->findChild<QWidget*>(behind);
    QVERIFY(front != nullptr && back != nullptr);
    QVERIFY(back->geometry().intersects(front->geometry()));
    // A point just inside the control's top-left corner belongs to the control, not the frame.
    QWidget* hit = h.window->childAt(front->geometry().topLeft() + QPoint(2, 2));
    QVERIFY(hit != nullptr);
    QVERIFY2(hit == front || front->isAncestorOf(hit), qPrintable(hit->objectName()));
}

void Form1LayoutTest::executeButtonHasTheFocusWhenTheWindowOpens()
{
    uitest::Harness h;
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    QCOMPARE(h.window->focusWidget(), h.Find("ExecuteButton"));
    QWidget* first = h.window->nextInFocusChain();
    while (first != h.window.get() && !(first->focusPolicy() & Qt::TabFocus)) {
        first = first->nextInFocusChain();
    }
    QCOMPARE(first, h.Find("ExecuteButton"));
    QCOMPARE(first->nextInFocusChain(), h.Find("ExitButton"));
}

void Form1LayoutTest::narrowFormHidesTheWholeDetailPanel()
{
    uitest::Harness h;
    QCOMPARE(h.window->size(), QSize(527, 431));
    QCOMPARE(h.window->minimumSize(), h.window->maximumSize());

    h.window->SetDetailShown(false);
    QCOMPARE(h.window->size(), QSize(248, 431));
    QCOMPARE(h.window->minimumSize(), h.window->maximumSize());
    const QRect client = h.window->rect();
    for (const char* name : LeftColumn) {
        QVERIFY2(client.contains(h.Find(name)->geometry()), name);
    }
    QVERIFY(!client.intersects(h.Find("Frame5")->geometry()));
    for (QWidget* child : h.Find("Frame5")->findChildren<QWidget*>()) {
        const QRect inWindow(child->mapTo(h.window.get(), QPoint(0, 0)), child->size());
        QVERIFY2(!client.intersects(inWindow), qPrintable(child->objectName()));
    }
    for (const char* name : {"Check5", "Frame4", "Frame1", "Frame2"}) {
        QVERIFY2(!client.intersects(h.Find(name)->geometry()), name);
    }
}

void Form1LayoutTest::captionsFitTheirControls()
{
    if (QFontDatabase::families(QFontDatabase::Japanese).isEmpty()) {
        QSKIP("no Japanese font installed: caption widths would be those of placeholder boxes");
    }
    uitest::Harness h;
    h.window->show();
    for (QWidget* widget : h.window->findChildren<QWidget*>()) {
        const QString caption = Caption(widget);
        if (caption.isEmpty() || widget->objectName().isEmpty()) {
            continue;
        }
        const QFontMetrics metrics(widget->font());
        const int text = metrics.horizontalAdvance(caption);
        int needed = text;
        if (qobject_cast<QRadioButton*>(widget) != nullptr ||
            qobject_cast<QCheckBox*>(widget) != nullptr) {
            needed = widget->sizeHint().width();
        } else if (qobject_cast<QPushButton*>(widget) != nullptr) {
            needed = text + 8;
        } else if (qobject_cast<QGroupBox*>(widget) != nullptr) {
            needed = text + 8;
        }
        QVERIFY2(needed <= widget->width(), qPrintable(QStringLiteral("%1 needs %2 px, has %3")
                                                           .arg(widget->objectName())
                                                           .arg(needed)
                                                           .arg(widget->width())));
        QVERIFY2(metrics.ascent() + metrics.descent() <= widget->height(),
                 qPrintable(widget->objectName()));
    }
}

void Form1LayoutTest::folderListShowsTheSourceFolder()
{
    QTemporaryDir source;
    const QString folder = QDir::cleanPath(source.path() + QStringLiteral("/a/b/c"));
    QVERIFY(QDir().mkpath(folder));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder)); // the window starts on the current folder
    uitest::Harness h;
    QVERIFY(QDir::setCurrent(before));
    h.window->show();
    auto* dir1 = h.Find<QTreeView>("Dir1");
    auto* model = qobject_cast<ui::FolderTreeModel*>(dir1->model());
    QVERIFY(model != nullptr);
    QCOMPARE(model->filePath(dir1->currentIndex()), folder);
    QTRY_VERIFY(dir1->viewport()->rect().intersects(dir1->visualRect(dir1->currentIndex())));
}

QTEST_MAIN(Form1LayoutTest)
#include "form1_layout_test.moc"
