// The window's layout and texts, built from tables: every control with its twip place and
// caption, the tab order, the tooltips, and the two widths of the detail panel.

#include "ui/form1.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

#include "engine/naming/naming.h"

namespace ui {

namespace {

// A control's place in twips, relative to its container's client area.
struct Twips {
    int left, top, width, height;
};

QRect ToPixels(const Twips& t)
{
    return {Px(t.left), Px(t.top), Px(t.width), Px(t.height)};
}

template <typename W> W* Place(W* widget, const char* name, const Twips& place)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(ToPixels(place));
    return widget;
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const char* title, const Twips& place)
{
    return Place(new QGroupBox(QString::fromUtf8(title), parent), name, place);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, const Twips& place)
{
    return Place(new QLabel(QString::fromUtf8(text), parent), name, place);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, const Twips& place)
{
    return Place(new QPushButton(QString::fromUtf8(text), parent), name, place);
}

QCheckBox* MakeCheck(QCheckBox* box, const char* name, const char* text, const Twips& place)
{
    box->setText(QString::fromUtf8(text));
    return Place(box, name, place);
}

// Check4 shows a third, grayed state that only code sets. A click moves between ticked and
// clear; a grayed box counts as ticked (its extension is lowered), so a click clears it.
class ExtCaseCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override
    {
        setCheckState(checkState() == Qt::Unchecked ? Qt::Checked : Qt::Unchecked);
    }
};

// The twip layout gives option buttons and check boxes little room: smaller indicators, set
// closer to their captions, keep the captions whole.
class CompactStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override
    {
        switch (metric) {
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight:
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
            return 11;
        case PM_RadioButtonLabelSpacing:
        case PM_CheckBoxLabelSpacing:
            return 2;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }
};

struct OptionSpec {
    const char* name;
    const char* caption;
    Twips place;
    int value;
};

// Option buttons of one frame form one group whose ids are the option values.
QButtonGroup* MakeOptionGroup(QWidget* frame, std::initializer_list<OptionSpec> options)
{
    auto* group = new QButtonGroup(frame);
    group->setExclusive(true);
    for (const OptionSpec& option : options) {
        auto* button = Place(new QRadioButton(QString::fromUtf8(option.caption), frame),
                             option.name, option.place);
        group->addButton(button, option.value);
    }
    return group;
}

const char* const FolderTip = "このフォルダ内の全ファイルが分類先にコピーされます．"
                              "このフレーム内にはフォルダまたはファイルをドラッグ&ドロップできます";
const char* const RenameTip = "コピー後のファイル名の変更パターンを指定します．";

struct TipSpec {
    const char* name;
    QString text;
};

// The tooltip of every control that has one.
std::vector<TipSpec> ToolTips()
{
    auto u = [](const char* text) { return QString::fromUtf8(text); };
    const QString rename = u(RenameTip);
    return {
        {"Frame3", u(FolderTip)},
        {"Label5", u(FolderTip)},
        {"Label6", u("このフレーム内にはフォルダまたはファイルをドラッグ&ドロップできます")},
        {"Dir1", u("ここで指定されたフォルダの内の全ファイルが分類されます")},
        {"File1", u("フォルダ内の全ファイルが分類されます．ファイル単位の指定はできません")},
        {"RefreshButton", u("分類対象フォルダの表示情報を更新します")},
        {"ExplorerButton", u("表示フォルダをエクスプローラで開きます")},
        {"ExecuteButton", u("分類を実行します")},
        {"ExitButton", u("「Velmora」を終了します")},
        {"AboutButton", u("著作権情報など")},
        {"Command6", u("詳細設定の表示/非表示を切り替えます")},
        {"Check5", u("分類先にファイルを (コピーではなく) 移動します")},
        {"Frame4", u("分類結果のフォルダをどこに作るかを指定します")},
        {"Option21", u("元ファイルのあるフォルダの下に日付別フォルダが作られます")},
        {"Option22", u("デスクトップに「分類」というフォルダを作り，"
                       "その中にさらに日付別のフォルダを作ります")},
        {"Option23", u("マイドキュメントの中に「分類」というフォルダを作り，"
                       "その中にさらに日付別のフォルダを作ります")},
        {"Frame1", u("分類用日付別フォルダのパターンを選びます")},
        {"Label1", u("月ごとにフォルダをまとめます")},
        {"Label4", u("日ごとにフォルダをまとめます")},
        {"Option1", u("月ごとにフォルダをまとめます．年4桁月 200204 のようなフォルダ名になります")},
        {"Option7", u("月ごとにフォルダをまとめます．年2桁月 0204 のようなフォルダ名になります")},
        {"Option3",
         u("日ごとにフォルダをまとめます．年4桁月日 20020426 のようなフォルダ名になります")},
        {"Option4",
         u("日ごとにフォルダをまとめます．年2桁月日 020426 のようなフォルダ名になります")},
        {"Option5",
         u("日ごとにフォルダをまとめます．年2桁_月日 02_0426 のようなフォルダ名になります")},
        {"Frame2", u("コピー後のファイル名の変更パターンを指定します．"
                     "重複ファイル名には[001]などが付加されます")},
        {"Option11", u("ファイル名は変更されません")},
        {"Option12", rename + u("元のファイル名の前に年2桁月日が付き，"
                                "020426IMGFILE.jpg のようになります，")},
        {"Option13",
         rename + u("元のファイル名の前に月日が付き，0426IMGFILE.jpg のようになります，")},
        {"Option14", rename + u("年2桁月日連番4桁 0204260001.jpg のようになります")},
        {"Option15", rename + u("月日時分秒 0426103523.jpg のようになります．")},
        {"Option16", rename + u("年月日時分 0204261035.jpg のようになります．")},
        {"Check3", u("ファイル名の大文字を小文字に変換します")},
        {"Check4", u("ファイルの拡張子を小文字に変換します")},
        {"Check_yyyy", u("年の表示を4桁にします(標準は下2桁)")},
        {"Frame6", u("コピー/移動先でファイル名が重なった場合に，"
                     "区別のためにファイル名に付加される文字列のタイプを指定します．")},
    };
}

} // namespace

QString WindowCaption()
{
    return QStringLiteral("Velmora ") + QString::fromLatin1(engine::ProgramVersion) +
           QStringLiteral(" :フォルダ内の全ファイルを日付にもとづいて分類");
}

void Form1::BuildLeftColumn()
{
    auto* frame3 = MakeFrame(this, "Frame3", "分類対象のあるフォルダ", {120, 120, 3495, 5895});
    // One literal ampersand: a label without a buddy has no access key.
    MakeLabel(frame3, "Label6", "☆ここにD&Dできます", {120, 360, 1815, 255});

    drive1_ = Place(new QComboBox(frame3), "Drive1", {120, 720, 3255, 300});
    RefreshDrives();

    dir1_ = Place(new QTreeView(frame3), "Dir1", {120, 1080, 3255, 2190});
    SetUpFolderList();

    MakeLabel(frame3, "Label5", "分類されるファイル", {120, 3480, 1575, 255});
    file1_ = Place(new QListWidget(frame3), "File1", {120, 3720, 2055, 810});
    refreshButton_ =
        MakeButton(frame3, "RefreshButton", "最新の情報に更新", {120, 4800, 2055, 495});
    explorerButton_ =
        MakeButton(frame3, "ExplorerButton", "このフォルダを開く", {120, 5400, 2055, 375});

    // Made after Frame3, so they lie in front of it.
    command6_ = MakeButton(this, "Command6", "", {2040, 360, 1455, 375});
    executeButton_ = MakeButton(this, "ExecuteButton", "", {2400, 3720, 1095, 1095});
    executeButton_->setIcon(QIcon(QStringLiteral(":/velmora/execute.png")));
    executeButton_->setIconSize(QSize(73, 74));
    exitButton_ = MakeButton(this, "ExitButton", "さようなら～", {2400, 4920, 1095, 495});
    aboutButton_ = MakeButton(this, "AboutButton", "About...", {2400, 5520, 1095, 375});

    progressBar1_ = Place(new QProgressBar(this), "ProgressBar1", {120, 6120, 3495, 255});
    progressBar1_->setRange(0, 100);
    progressBar1_->setValue(0);
    progressBar1_->setTextVisible(false);
    progressBar1_->setAlignment(Qt::AlignCenter); // for notices

    RefreshLists();
}

void Form1::BuildDetailPanel()
{
    auto* frame5 = MakeFrame(this, "Frame5", "分類条件の詳細設定", {3720, 120, 4095, 6255});
    auto* frame6 = MakeFrame(frame5, "Frame6", "ファイル名の重複処理", {120, 5520, 3855, 612});
    suffixGroup_ =
        MakeOptionGroup(frame6, {
                                    {"Option32", "a, b, c, ...", {240, 240, 975, 252}, 1},
                                    {"Option31", "[001], [002], ...", {1680, 240, 1455, 252}, 0},
                                });

    // Made after Frame5, so they lie in front of it.
    check5_ = MakeCheck(new QCheckBox(this), "Check5", "ファイルを移動", {6240, 360, 1455, 255});

    auto* frame4 = MakeFrame(this, "Frame4", "日付別フォルダ作成場所", {3840, 600, 3855, 1215});
    destGroup_ = MakeOptionGroup(
        frame4,
        {
            {"Option21", "元フォルダの下に直接", {240, 360, 2175, 180}, 1},
            {"Option22", "デスクトップ上の「分類」フォルダ内", {240, 600, 3015, 180}, 2},
            {"Option23", "マイドキュメント内の「分類」フォルダ内", {240, 840, 3255, 225}, 3},
        });
    destGroup_->button(1)->setChecked(true);

    auto* frame1 =
        MakeFrame(this, "Frame1", "分類パターン(分類フォルダ名)", {3840, 1920, 3855, 1455});
    MakeLabel(frame1, "Label1", "月ごとに分類", {120, 360, 1215, 255});
    MakeLabel(frame1, "Label4", "日ごとに分類", {1680, 360, 1095, 255});
    dirGroup_ = MakeOptionGroup(frame1, {
                                            {"Option1", "\\yyyymm", {240, 600, 1095, 255}, 1},
                                            {"Option7", "\\yymm", {240, 840, 975, 180}, 7},
                                            {"Option3", "\\yyyymmdd", {1800, 600, 1215, 255}, 3},
                                            {"Option4", "\\yymmdd", {1800, 840, 1095, 180}, 4},
                                            {"Option5", "\\yy_mmdd", {1800, 1080, 1095, 180}, 5},
                                        });

    auto* frame2 = MakeFrame(this, "Frame2", "ファイル名変更", {3840, 3480, 3855, 2055});
    renameGroup_ = MakeOptionGroup(
        frame2, {
                    {"Option11", "変更なし", {240, 360, 1815, 180}, 1},
                    {"Option12", "yymmdd+旧ファイル名", {1680, 360, 2055, 180}, 2},
                    {"Option13", "mmdd+旧ファイル名", {1680, 600, 1935, 180}, 3},
                    {"Option14", "yymmdd####", {240, 600, 1455, 180}, 4},
                    {"Option15", "mmddhhmmss (月日時分秒)", {240, 840, 3015, 255}, 5},
                    {"Option16", "yymmddhhmm (年月日時分)", {240, 1080, 3495, 255}, 6},
                });
    check3_ = MakeCheck(new QCheckBox(frame2), "Check3", "小文字に変換", {240, 1440, 1455, 255});
    check4_ = MakeCheck(new ExtCaseCheckBox(frame2), "Check4", "拡張子のみ小文字に",
                        {1680, 1440, 1935, 255});
    check4_->setTristate(true);
    checkYyyy_ =
        MakeCheck(new QCheckBox(frame2), "Check_yyyy", "年4桁(yyyy)", {240, 1680, 1335, 255});
    checkModel_ = MakeCheck(new QCheckBox(frame2), "Check_Model", "カメラ情報の付加",
                            {1680, 1680, 1935, 255});
}

void Form1::ApplyCompactStyle()
{
    // Made after every control, so it is deleted after them.
    auto* compactStyle = new CompactStyle;
    compactStyle->setParent(this);
    for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
        if (qobject_cast<QRadioButton*>(button) != nullptr ||
            qobject_cast<QCheckBox*>(button) != nullptr) {
            button->setStyle(compactStyle);
        }
    }
}

void Form1::SetTabOrder()
{
    const char* const order[] = {
        "ExecuteButton", "ExitButton",    "AboutButton",    "Command6",    "Drive1",   "Dir1",
        "File1",         "RefreshButton", "ExplorerButton", "Check5",      "Option21", "Option22",
        "Option23",      "Option1",       "Option7",        "Option3",     "Option4",  "Option5",
        "Option11",      "Option14",      "Option15",       "Option16",    "Option12", "Option13",
        "Check3",        "Check4",        "Check_yyyy",     "Check_Model", "Option32", "Option31",
    };
    QWidget* previous = nullptr;
    for (const char* name : order) {
        auto* widget = findChild<QWidget*>(QString::fromLatin1(name));
        if (previous != nullptr) {
            setTabOrder(previous, widget);
        }
        previous = widget;
    }
}

void Form1::ApplyToolTips()
{
    const auto tips = ToolTips();
    for (const TipSpec& tip : tips) {
        if (auto* widget = findChild<QWidget*>(QString::fromLatin1(tip.name))) {
            widget->setToolTip(tip.text);
        }
    }
}

void Form1::DetailToggle()
{
    if (options_.Detail == 0) {
        SetDetailShown(true);
    } else if (options_.Detail == 1) {
        SetDetailShown(false);
    }
}

void Form1::SetDetailShown(bool shown)
{
    command6_->setText(shown ? QStringLiteral("詳細非表示 <<") : QStringLiteral("詳細設定 >>"));
    // Only the width changes; the window keeps its left edge.
    setFixedSize(shown ? WideWidth : NarrowWidth, WindowHeight);
    options_.Detail = shown ? 1 : 0;
}

} // namespace ui
