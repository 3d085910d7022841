#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "engine/base/run_options.h"
#include "engine/classification_run.h"
#include "engine/file_list.h"
#include "settings/settings_file.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QListWidget;
class QMenu;
class QMimeData;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace ui {

class FolderTreeModel;

// Client-area sizes of the window: the height never changes; the width is narrow while the
// detail panel is hidden and wide while it is shown.
inline constexpr int NarrowWidth = 248;  // 3720 twips
inline constexpr int WideWidth = 527;    // 7905 twips
inline constexpr int WindowHeight = 431; // 6465 twips

// Pixels of a length in twips (15 twips per pixel), rounded to the nearest pixel.
constexpr int Px(int twips)
{
    return (twips * 2 + 15) / 30;
}

// The caption that start-up gives the window: "Velmora 0.4.5 :フォルダ内の…".
QString WindowCaption();

// The program's one window. It owns the source folder (the folder list's path), the file list
// and the run options; each option button and check box writes its field of RunOptions as soon
// as its state changes, whether the user or code changed it. Everything here is called on the
// GUI thread.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // Shows a message box and returns when the user has answered it.
    using MessageBoxFunction =
        std::function<void(QMessageBox::Icon icon, const QString& title, const QString& text)>;
    // Ends the program with the given exit code; called on the GUI thread.
    using EndProgramFunction = std::function<void(int exitCode)>;
    // Returns a special folder (absolute, no trailing separator) or the empty text.
    using FolderFunction = std::function<std::string()>;
    // Opens a folder in the desktop's file manager without waiting for it; false when the
    // file manager could not be started.
    using OpenFolderFunction = std::function<bool(const QString& folder)>;
    // The root paths of the mounted volumes that are ready to be read, in the drive list's
    // order.
    using VolumeFunction = std::function<QStringList()>;
    // Asks the user for a folder, starting at start; the empty text when cancelled.
    using FolderDialogFunction = std::function<QString(const QString& start)>;
    // Asks a yes-or-no question; true when the user confirms.
    using ConfirmFunction = std::function<bool(const QString& title, const QString& text)>;

    // programFolder holds the settings file written at close; empty means the folder of the
    // running executable.
    explicit Form1(QString programFolder = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // Seams for tests; the defaults show a modal QMessageBox, quit the application's event
    // loop, ask the platform layer for the Desktop and Documents folders, open folders with
    // QDesktopServices and list QStorageInfo's mounted, ready volumes. The volume function
    // is asked when the drive list is re-read (RefreshButton).
    void SetMessageBoxFunction(MessageBoxFunction function);
    void SetEndProgramFunction(EndProgramFunction function);
    void SetSpecialFolderFunctions(FolderFunction desktop, FolderFunction documents);
    void SetOpenFolderFunction(OpenFolderFunction function);
    void SetVolumeFunction(VolumeFunction function);
    // The folder dialog of "保存先を選ぶ…"; the default is QFileDialog's.
    void SetFolderDialogFunction(FolderDialogFunction function);
    // The question before "元に戻す" undoes a run (default: a modal QMessageBox, No first).
    void SetConfirmFunction(ConfirmFunction function);

    // Prepares a freshly made window before it is first shown, once: narrow form, tooltips,
    // the start folder from the program's first argument (surrounding double quotes removed;
    // a file stands for its folder; empty for none), the settings file beside the program,
    // the detail panel, the folder list (the argument's folder, else the saved one; a folder
    // that does not exist leaves the list on the process's current folder), every option
    // control through its handler, and the caption.
    void StartUp(const QString& argument);

    // The run options as the controls have set them, with SourceFolder filled in.
    engine::RunOptions Options() const;

    // The source folder: the folder list's current folder, without a trailing separator
    // except at the root.
    QString SourceFolder() const { return sourceFolder_; }
    // Moves the folder list to an existing folder and re-lists the file list. Returns false,
    // changing nothing, when the path names no folder or the folder cannot be read. The drive
    // list is left alone.
    bool SetSourceFolder(const QString& path);
    // Re-reads the folder list at its current folder, keeping the folders the user opened,
    // and the file list.
    void RefreshLists();

    // A drop on one of the drop targets: the first file path of the data chooses the source
    // folder (a regular, non-hidden file stands for its folder). Data without file paths, or a
    // path that names no readable folder, changes nothing and shows nothing.
    void SetDroppedFolder(const QMimeData* data);

    // The detail panel: DetailToggle is the press of Command6; SetDetailShown puts the window
    // into either state directly (start-up). Detail is 1 while the panel is shown.
    void DetailToggle();
    void SetDetailShown(bool shown);

    // Starts a run of the current options over the listed files, as ExecuteButton does. The
    // engine works on a worker thread while the window takes no input; runFinished is emitted
    // on the GUI thread once the window is back (a failure ends the program first).
    void ExecuteRun();
    bool IsRunning() const { return running_; }

signals:
    // A run has ended and the window takes input again; ok is false after a failure.
    void runFinished(bool ok);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // form1_layout.cpp
    void BuildLeftColumn();
    void BuildDetailPanel();
    void ApplyCompactStyle();
    void SetTabOrder();
    void ApplyToolTips();

    // form1_options.cpp
    void ConnectHandlers();
    void ApplyNumericSettings(const settings::SettingsTexts& texts);
    void ClearSuffixOptions();
    void OnCheck3Changed();
    void OnCheck4Changed();
    void OnAbout();

    // form1_drops.cpp
    void SetUpDropTargets();
    bool HandleDragEvent(QObject* watched, QEvent* event);

    // form1_folder.cpp
    void SetUpFolderList();
    void ListFiles();
    // The files of folder a run of the current options takes (engine::ListRunFolder), and
    // what the listing passed over.
    engine::FolderListing ListRunFolder(const QString& folder, std::error_code& error);
    // Shows the listed files; what the listing passed over (another user's links, folders that
    // cannot be read) is named in a notice.
    void ShowFiles(engine::FolderListing listing);
    // Stops the folder list from following changes on disk until RefreshLists.
    void HoldFolderList();
    void SelectInFolderList();
    // Scrolls Dir1 so that the current folder's row and its whole name are in view.
    void KeepCurrentFolderInView();
    // While the user has not taken Dir1 in hand, keeps the current folder in view as rows
    // arrive; one queued scroll for any number of calls.
    void FollowCurrentFolder();
    // Gives the source folder's whole path to Dir1's accessible description and status text.
    void ShowFolderPath();
    QStringList ExpandedFolders() const;
    void OnFolderActivated(const QModelIndex& index);
    void RefreshDrives();
    void OnDriveChosen(int index);
    void OnRefresh();
    void OnExplorer();
    // Short notices (a drive that cannot be read, a file manager that did not start) show as
    // the text of ProgressBar1 until the folder changes, the lists are refreshed or a run
    // starts; the window has no status bar and the layout has no room for one.
    void ShowNotice(const QString& text);
    void ClearNotice();
    // The status text of the control under the pointer shows in the bar the same way, while
    // no notice is shown and no run works; empty hides it.
    void ShowStatusText(const QString& text);
    void ShowBarText(const QString& text, Qt::TextElideMode elide);
    void HideBarText();

    // form1_run.cpp
    void OnRunEnded(const engine::RunResult& result);
    void ReportRunFailure(const engine::RunError& error);

    // form1_menu.cpp
    void BuildOptionsMenu();
    // Sets the menu's entries, and so their options, from the settings file.
    void ApplyMenuSettings(const settings::SettingsTexts& texts);
    // "元に戻す": shows the run it would undo (the newest of the folder on screen, else the
    // newest), undoes it once the user confirms, and says what was undone and what was left
    // alone and why.
    void UndoNewestRun();

    // form1_overrides.cpp
    void BuildOverrideEntries();
    void PopupOptionsMenuAtFocus();
    // "保存先を選ぶ…": a destination folder of the user's own (DestPattern 4).
    void ChooseDestFolder();
    // Puts a chosen destination in force (empty: ends it) and shows it on the panel.
    void SetChosenDest(const std::string& path);
    // The folder-pattern buttons and Frame1's tooltip after the template changed.
    void ShowTemplateInForce();
    // The chosen destination and the template of the settings, once the buttons are set.
    void ApplyOverrideSettings(const settings::SettingsTexts& texts);

    // form1.cpp
    void EndProgram(int exitCode);
    std::string SettingsFilePath() const;

    QString programFolder_;
    MessageBoxFunction messageBox_;
    EndProgramFunction endProgram_;
    FolderFunction desktop_;
    FolderFunction documents_;
    OpenFolderFunction openFolder_;
    VolumeFunction volumes_;
    FolderDialogFunction folderDialog_;
    ConfirmFunction confirm_;

    engine::RunOptions options_;
    QString sourceFolder_;
    std::vector<std::string> listedNames_; // File1's entries as the engine listed them
    std::string dirTemplate_;              // the folder template of the menu, kept while off
    QString driveRoot_;                    // the volume Drive1 shows
    std::vector<QObject*> dropTargets_;    // the drop targets and the item views' viewports

    bool followCurrentFolder_ = false; // keep Dir1's current folder in view while it loads
    bool followQueued_ = false;        // a FollowCurrentFolder scroll waits in the queue
    bool noticeShown_ = false;
    bool skippedShown_ = false; // the notice names what the listing passed over
    bool running_ = false;
    bool ending_ = false; // the program is ending after a failure: closing saves nothing
    std::thread worker_;

    QPushButton* command6_ = nullptr;
    QPushButton* executeButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
    QPushButton* refreshButton_ = nullptr;
    QPushButton* explorerButton_ = nullptr;
    QProgressBar* progressBar1_ = nullptr;
    QComboBox* drive1_ = nullptr;
    QTreeView* dir1_ = nullptr;
    FolderTreeModel* dirModel_ = nullptr;
    QListWidget* file1_ = nullptr;
    QCheckBox* check3_ = nullptr;
    QCheckBox* check4_ = nullptr;
    QCheckBox* check5_ = nullptr;
    QCheckBox* checkYyyy_ = nullptr;
    QCheckBox* checkModel_ = nullptr;
    QButtonGroup* dirGroup_ = nullptr;    // Frame1: DirPattern
    QButtonGroup* renameGroup_ = nullptr; // Frame2: RenamePattern
    QButtonGroup* destGroup_ = nullptr;   // Frame4: DestPattern
    QButtonGroup* suffixGroup_ = nullptr; // Frame6: Suffix
    QMenu* optionsMenu_ = nullptr;        // the detail panel's context menu
};

} // namespace ui
