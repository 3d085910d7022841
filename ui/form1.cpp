// The window as a whole: its making, the seams for tests, start-up from the settings file and
// the command line, and the settings written when it closes. The parts live beside it:
// form1_layout.cpp (controls, texts, tooltips, detail panel), form1_options.cpp (option and
// command handlers), form1_folder.cpp (drive, folder and file lists, notices),
// form1_drops.cpp (drops) and form1_run.cpp (runs).

#include "ui/form1.h"

#include <utility>

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPushButton>
#include <QStatusTipEvent>
#include <QStorageInfo>
#include <QUrl>

#include "engine/naming/naming.h"
#include "platform/special_folders.h"
#include "settings/settings_file.h"
#include "ui/qt_path.h"

// Resources of a static library must be registered by name, outside any namespace.
static void InitVelmoraResources()
{
    Q_INIT_RESOURCE(velmora);
}

namespace ui {

namespace {

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

} // namespace

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
    ApplyCompactStyle();
    SetTabOrder();
    ConnectHandlers();
    BuildOptionsMenu();
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

void Form1::SetFolderDialogFunction(FolderDialogFunction function)
{
    folderDialog_ = std::move(function);
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
    ApplyMenuSettings(texts); // a legacy layout or a first start leaves every entry off

    // A folder that is not there (or cannot be read) leaves the list on the current folder;
    // the saved folder is not tried after a command-line folder that failed.
    SetSourceFolder(FromPath(startFolder.empty() ? texts.DirPath : startFolder));

    ApplyNumericSettings(texts);
    ApplyOverrideSettings(texts); // the menu's stand-ins for buttons, now that those are set
    if (options_.Recursive == 1)
        ListFiles(); // the date-folder pattern that tells the run's own folders is known now
    setWindowTitle(WindowCaption());
}

engine::RunOptions Form1::Options() const
{
    engine::RunOptions options = options_;
    options.SourceFolder = ToPath(sourceFolder_);
    return options;
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

bool Form1::event(QEvent* event)
{
    // The window has no status bar: status texts show in the progress bar (form1_folder.cpp).
    if (event->type() == QEvent::StatusTip) {
        ShowStatusText(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QWidget::event(event);
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
