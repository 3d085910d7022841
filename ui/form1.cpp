#include "ui/form1.h"

#include <algorithm>
#include <memory>
#include <utility>

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStorageInfo>
#include <QTreeView>
#include <QUrl>

#include "engine/file_list.h"
#include "engine/naming.h"
#include "engine/run_host.h"
#include "platform/special_folders.h"
#include "settings/settings_file.h"

// Resources of a static library must be registered by name, outside any namespace.
static void InitVelmoraResources()
{
    Q_INIT_RESOURCE(velmora);
}

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

// A check box's value as the options hold it: 0 clear, 1 ticked, 2 grayed.
std::int16_t CheckValue(const QCheckBox* box)
{
    switch (box->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

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

// Selects the button of value in group, or the button of fallback when none has that value.
// Returns the value selected.
int SelectOption(QButtonGroup* group, int value, int fallback)
{
    QAbstractButton* button = group->button(value);
    if (button == nullptr) {
        value = fallback;
        button = group->button(value);
    }
    button->setChecked(true);
    return value;
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

QString ToQString(const std::string& text)
{
    return QString::fromStdString(text);
}

// Paths cross to the engine and the settings layer as the file system's bytes.
std::string ToPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString FromPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

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

QStringList ReadyVolumes()
{
    QStringList roots;
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo& volume : volumes) {
        if (volume.isValid() && volume.isReady()) {
            roots << volume.rootPath();
        }
    }
    return roots;
}

// The texts of the two notices.
const char* const UnreadableDriveNotice = "%1 を読み取れません";
const char* const ExplorerFailedNotice = "このフォルダを開けませんでした";

// What a run asks of the window. Built on the GUI thread before the run starts, then used
// only on the run's worker thread: the folder, its listed names and the special folders are
// copies taken at the start; progress and the refresh are posted to the GUI thread.
class WindowRunHost : public engine::RunHost {
public:
    WindowRunHost(Form1* window, QProgressBar* progress, std::string folder,
                  std::vector<std::string> names, std::string desktop, std::string documents)
        : window_(window), progress_(progress), folder_(std::move(folder)),
          names_(std::move(names)), desktop_(std::move(desktop)), documents_(std::move(documents))
    {}

    std::string SourceFolder() override { return folder_; }
    std::vector<std::string> ListedNames() override { return names_; }
    std::string DeskTopFolder() override { return desktop_; }
    std::string MyDocumentFolder() override { return documents_; }

    void SetProgress(int value) override
    {
        QMetaObject::invokeMethod(
            progress_, [bar = progress_, value] { bar->setValue(value); }, Qt::QueuedConnection);
    }

    void Refresh() override
    {
        QMetaObject::invokeMethod(
            window_, [window = window_] { window->RefreshLists(); }, Qt::QueuedConnection);
    }

    // The window shows the hourglass from before the worker starts until it has ended.
    void SetBusy(bool) override {}

private:
    Form1* window_;
    QProgressBar* progress_;
    std::string folder_;
    std::vector<std::string> names_;
    std::string desktop_;
    std::string documents_;
};

} // namespace

QString WindowCaption()
{
    return QStringLiteral("Velmora ") + QString::fromLatin1(engine::ProgramVersion) +
           QStringLiteral(" :フォルダ内の全ファイルを日付にもとづいて分類");
}

Form1::Form1(QString programFolder, QWidget* parent)
    : QWidget(parent), programFolder_(std::move(programFolder))
{
    InitVelmoraResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Velmora"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/velmora/icon16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/velmora/icon32.png"), QSize(32, 32));
    setWindowIcon(icon);

    // The twip layout leaves little room around the captions: a compact font keeps them whole.
    QFont small = font();
    small.setPixelSize(10);
    setFont(small);

    messageBox_ = [this](QMessageBox::Icon boxIcon, const QString& title, const QString& text) {
        QMessageBox box(boxIcon, title, text, QMessageBox::Ok, this);
        box.exec();
    };
    endProgram_ = [](int exitCode) { QCoreApplication::exit(exitCode); };
    desktop_ = platform::GetDeskTopFolder;
    documents_ = platform::GetMyDocumentFolder;
    openFolder_ = [](const QString& folder) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    volumes_ = ReadyVolumes;
    driveRoot_ = QStorageInfo(QDir::currentPath()).rootPath();

    BuildLeftColumn();
    BuildDetailPanel();
    ApplyToolTips();
    // Made after every control, so it is deleted after them.
    auto* compactStyle = new CompactStyle;
    compactStyle->setParent(this);
    for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
        if (qobject_cast<QRadioButton*>(button) != nullptr ||
            qobject_cast<QCheckBox*>(button) != nullptr) {
            button->setStyle(compactStyle);
        }
    }
    SetTabOrder();
    ConnectHandlers();
    SetUpDropTargets();
    SetDetailShown(true);
    SetSourceFolder(QDir::currentPath());
    executeButton_->setFocus();
}

Form1::~Form1()
{
    if (worker_.joinable()) {
        worker_.join();
    }
    if (running_) {
        QGuiApplication::restoreOverrideCursor();
    }
}

void Form1::BuildLeftColumn()
{
    auto* frame3 = MakeFrame(this, "Frame3", "分類対象のあるフォルダ", {120, 120, 3495, 5895});
    // One literal ampersand: a label without a buddy has no access key.
    MakeLabel(frame3, "Label6", "☆ここにD&Dできます", {120, 360, 1815, 255});

    drive1_ = Place(new QComboBox(frame3), "Drive1", {120, 720, 3255, 300});
    RefreshDrives();

    dir1_ = Place(new QTreeView(frame3), "Dir1", {120, 1080, 3255, 2190});
    dir1_->setHeaderHidden(true);
    dir1_->setUniformRowHeights(true);
    dir1_->installEventFilter(this);
    dir1_->viewport()->installEventFilter(this);
    dir1_->verticalScrollBar()->installEventFilter(this);

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

void Form1::ConnectHandlers()
{
    // idToggled, not a click signal: selections made by code run the same handler.
    // Each button's id is the value it stands for.
    const auto bindGroup = [this](QButtonGroup* group, std::int16_t engine::RunOptions::*field) {
        connect(group, &QButtonGroup::idToggled, this, [this, field](int id, bool checked) {
            if (checked) {
                options_.*field = static_cast<std::int16_t>(id);
            }
        });
    };
    bindGroup(dirGroup_, &engine::RunOptions::DirPattern);
    bindGroup(renameGroup_, &engine::RunOptions::RenamePattern);
    bindGroup(destGroup_, &engine::RunOptions::DestPattern);
    bindGroup(suffixGroup_, &engine::RunOptions::Suffix);

    connect(check3_, &QCheckBox::stateChanged, this, &Form1::OnCheck3Changed);
    connect(check4_, &QCheckBox::stateChanged, this, &Form1::OnCheck4Changed);
    connect(check5_, &QCheckBox::stateChanged, this,
            [this] { options_.Move = CheckValue(check5_); });
    connect(checkYyyy_, &QCheckBox::stateChanged, this,
            [this] { options_.YYYY = checkYyyy_->checkState() == Qt::Checked ? 4 : 0; });
    connect(checkModel_, &QCheckBox::stateChanged, this,
            [this] { options_.Model = checkModel_->checkState() == Qt::Checked ? 1 : 0; });

    connect(command6_, &QPushButton::clicked, this, &Form1::DetailToggle);
    connect(executeButton_, &QPushButton::clicked, this, &Form1::ExecuteRun);
    connect(exitButton_, &QPushButton::clicked, this, &QWidget::close);
    connect(aboutButton_, &QPushButton::clicked, this, &Form1::OnAbout);
    connect(refreshButton_, &QPushButton::clicked, this, &Form1::OnRefresh);
    connect(explorerButton_, &QPushButton::clicked, this, &Form1::OnExplorer);
    // activated, not currentIndexChanged: only the user's choice moves the folder list.
    connect(drive1_, &QComboBox::activated, this, &Form1::OnDriveChosen);
}

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

void Form1::ApplyToolTips()
{
    const auto tips = ToolTips();
    for (const TipSpec& tip : tips) {
        if (auto* widget = findChild<QWidget*>(QString::fromLatin1(tip.name))) {
            widget->setToolTip(tip.text);
        }
    }
}

void Form1::SetMessageBoxFunction(MessageBoxFunction function)
{
    messageBox_ = std::move(function);
}

void Form1::SetEndProgramFunction(EndProgramFunction function)
{
    endProgram_ = std::move(function);
}

void Form1::SetSpecialFolderFunctions(FolderFunction desktop, FolderFunction documents)
{
    desktop_ = std::move(desktop);
    documents_ = std::move(documents);
}

void Form1::SetOpenFolderFunction(OpenFolderFunction function)
{
    openFolder_ = std::move(function);
}

void Form1::SetVolumeFunction(VolumeFunction function)
{
    volumes_ = std::move(function);
}

void Form1::StartUp(const QString& argument)
{
    // The steps keep a fixed order: later ones rely on what earlier ones set, and the handlers
    // of the controls set here fill in the run options. First the narrow form, with Detail 1
    // whatever the width until the settings file settles both.
    SetDetailShown(false);
    options_.Detail = 1;
    options_.Model = 0;
    options_.YYYY = 0;

    ApplyToolTips();

    // The folder named on the command line.
    const std::string startFolder = settings::StartFolderFromArgument(ToPath(argument));

    const settings::SettingsTexts texts = settings::LoadSettings(SettingsFilePath());

    // The detail panel and the settings compared as texts. The legacy layout carries none of
    // them, like a first start.
    if (texts.layout == settings::SettingsTexts::Layout::Ini) {
        SetDetailShown(texts.Detail != "0");
        checkYyyy_->setChecked(texts.YYYY == "4");
        checkModel_->setChecked(texts.Model == "1");
    } else {
        SetDetailShown(true);
    }

    // A folder that is not there (or cannot be read) leaves the list on the current folder;
    // the saved folder is not tried after a command-line folder that failed.
    SetSourceFolder(FromPath(startFolder.empty() ? texts.DirPath : startFolder));

    ApplyNumericSettings(texts);
    setWindowTitle(WindowCaption());
}

void Form1::ApplyNumericSettings(const settings::SettingsTexts& texts)
{
    const auto number = [](const std::string& text, std::string_view ifEmpty) {
        // A number outside 16 bits reads as 0, which the range rules treat like any other
        // value outside their choices.
        std::int16_t value = 0;
        settings::ParseSettingNumber(text.empty() ? ifEmpty : std::string_view(text), value);
        return value;
    };
    // The window's integers take the values read; selecting a control below lets its
    // handler overwrite what that control stands for, and the rest keep what was read.
    options_.DirPattern = number(texts.DirPattern, "");
    options_.RenamePattern = number(texts.RenamePattern, "");
    options_.DestPattern = number(texts.DestPattern, "1");
    options_.FileNameCase = number(texts.FileNameCase, "");
    options_.ExtCase = number(texts.ExtCase, "");
    options_.Move = number(texts.Move, "0");
    options_.Suffix = number(texts.Suffix, "0");

    // A value outside a group's choices selects the group's default.
    options_.DirPattern =
        static_cast<std::int16_t>(SelectOption(dirGroup_, options_.DirPattern, 4));
    options_.RenamePattern =
        static_cast<std::int16_t>(SelectOption(renameGroup_, options_.RenamePattern, 1));
    options_.DestPattern =
        static_cast<std::int16_t>(SelectOption(destGroup_, options_.DestPattern, 1));

    // Check3's handler ticks and disables Check4; Check4 then shows grayed, and its
    // handler records ExtCase 2.
    if (options_.FileNameCase == 1) {
        check3_->setCheckState(Qt::Checked);
        check4_->setCheckState(Qt::PartiallyChecked);
    }
    // Looked at after FileNameCase has made it 2, so a grayed box stays grayed. Check4's
    // handler also sets FileNameCase from Check3.
    if (options_.ExtCase == 1) {
        check4_->setCheckState(Qt::Checked);
    }
    if (options_.Move == 1) {
        check5_->setCheckState(Qt::Checked);
    }
    // A Suffix other than 0 and 1 selects neither style and is kept.
    if (options_.Suffix == 0 || options_.Suffix == 1) {
        suffixGroup_->button(options_.Suffix)->setChecked(true);
    } else {
        ClearSuffixOptions();
    }
}

engine::RunOptions Form1::Options() const
{
    engine::RunOptions options = options_;
    options.SourceFolder = ToPath(sourceFolder_);
    return options;
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
    file1_->clear();
    for (const std::string& name : listedNames_) {
        file1_->addItem(FromPath(name));
    }
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

void Form1::OnCheck3Changed()
{
    if (check3_->checkState() == Qt::Checked) {
        // Lowering the whole name lowers the extension too.
        check4_->setCheckState(Qt::Checked);
        check4_->setEnabled(false);
    } else {
        check4_->setEnabled(true);
    }
    options_.FileNameCase = CheckValue(check3_);
    options_.ExtCase = CheckValue(check4_);
}

void Form1::OnCheck4Changed()
{
    options_.FileNameCase = CheckValue(check3_);
    options_.ExtCase = CheckValue(check4_);
}

void Form1::ClearSuffixOptions()
{
    // An exclusive group never lets its last selected button go.
    suffixGroup_->setExclusive(false);
    for (QAbstractButton* button : suffixGroup_->buttons()) {
        button->setChecked(false);
    }
    suffixGroup_->setExclusive(true);
}

void Form1::OnAbout()
{
    messageBox_(QMessageBox::NoIcon, QStringLiteral("Velmora"), windowTitle());
}

void Form1::ExecuteRun()
{
    if (running_) {
        return;
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    ClearNotice();
    auto host = std::make_unique<WindowRunHost>(this, progressBar1_, Options().SourceFolder,
                                                listedNames_, desktop_(), documents_());
    running_ = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // The window takes no input until the run ends, yet keeps painting its progress.
    setEnabled(false);
    worker_ = std::thread([this, options = Options(), host = std::move(host)] {
        const engine::RunResult result = engine::ClassificationRun(options, *host);
        QMetaObject::invokeMethod(
            this, [this, result] { OnRunEnded(result); }, Qt::QueuedConnection);
    });
}

void Form1::OnRunEnded(const engine::RunResult& result)
{
    if (worker_.joinable()) {
        worker_.join();
    }
    running_ = false;
    QGuiApplication::restoreOverrideCursor();
    progressBar1_->setValue(0);
    setEnabled(true);
    executeButton_->setFocus();
    if (!result.ok) {
        ReportRunFailure(result.error);
    }
    emit runFinished(result.ok);
}

void Form1::ReportRunFailure(const engine::RunError& error)
{
    const QString title = QString::fromUtf8(engine::ErrorTitle);
    if (error.kind == engine::RunError::Kind::SuffixOverflow) {
        messageBox_(QMessageBox::Critical, title, QString::fromUtf8(engine::SuffixOverflowMessage));
    } else {
        // The run's own sentence names the step and the path; the number and the description
        // are added when it lacks them.
        const QString number = QString::number(error.code.value());
        const QString description = ToQString(error.code.message());
        const QString path = FromPath(error.path);
        QString text = ToQString(error.message);
        if (text.isEmpty()) {
            text = QStringLiteral("Error %1: %2").arg(number, description);
        } else {
            if (!text.contains(description)) {
                text += QStringLiteral("\n") + description;
            }
            if (!text.contains(QStringLiteral("error ") + number, Qt::CaseInsensitive)) {
                text += QStringLiteral("\nError %1").arg(number);
            }
        }
        if (!path.isEmpty() && !text.contains(path)) {
            text += QStringLiteral("\n") + path;
        }
        messageBox_(QMessageBox::Critical, title, text);
    }
    EndProgram(1);
}

void Form1::EndProgram(int exitCode)
{
    ending_ = true;
    endProgram_(exitCode);
}

std::string Form1::SettingsFilePath() const
{
    const QString folder =
        programFolder_.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder_;
    return settings::SettingsFile(ToPath(folder));
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (running_) {
        event->ignore();
        return;
    }
    // After a failure the program ends without saving.
    if (!ending_) {
        settings::SaveSettings(SettingsFilePath(), ToPath(sourceFolder_), options_);
    }
    event->accept();
}

} // namespace ui
