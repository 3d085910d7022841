#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include "engine/classification_run.h"
#include "engine/run_options.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace ui {

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

    // programFolder holds the settings file written at close; empty means the folder of the
    // running executable.
    explicit Form1(QString programFolder = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // Seams for tests; the defaults show a modal QMessageBox, quit the application's event
    // loop, and ask the platform layer for the Desktop and Documents folders.
    void SetMessageBoxFunction(MessageBoxFunction function);
    void SetEndProgramFunction(EndProgramFunction function);
    void SetSpecialFolderFunctions(FolderFunction desktop, FolderFunction documents);

    // The run options as the controls have set them, with SourceFolder filled in.
    engine::RunOptions Options() const;

    // The source folder: the folder list's current folder, without a trailing separator
    // except at the root.
    QString SourceFolder() const { return sourceFolder_; }
    // Moves the folder list to an existing folder and re-lists the file list. Returns false,
    // changing nothing, when the path names no folder.
    bool SetSourceFolder(const QString& path);
    // Re-reads the folder list at its current folder and the file list.
    void RefreshLists();

    // The detail panel: DetailToggle is the press of Command6; SetDetailShown puts the window
    // into either state directly (start-up). Detail is 1 while the panel is shown.
    void DetailToggle();
    void SetDetailShown(bool shown);

    // Sets every option control of a freshly made window from a set of run options as
    // start-up does, letting the
    // handlers fill in the fields: values outside a group's choices select its default
    // (Option4, Option11, Option21); FileNameCase 1 ticks Check3 and shows Check4 grayed;
    // a Suffix other than 0 and 1 selects neither suffix button and is kept as it is.
    void SetOptionControls(const engine::RunOptions& options);
    // Clears both suffix style buttons (a Suffix value that names neither).
    void ClearSuffixOptions();

    // Starts a run of the current options over the listed files, as ExecuteButton does. The
    // engine works on a worker thread while the window takes no input; runFinished is emitted
    // on the GUI thread once the window is back (a failure ends the program first).
    void ExecuteRun();
    bool IsRunning() const { return running_; }

signals:
    // A run has ended and the window takes input again; ok is false after a failure.
    void runFinished(bool ok);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLeftColumn();
    void BuildDetailPanel();
    void SetTabOrder();
    void ConnectHandlers();
    void ListFiles();
    void SelectInFolderList();
    void OnFolderActivated(const QModelIndex& index);
    void OnCheck3Changed();
    void OnCheck4Changed();
    void OnAbout();
    void OnRunEnded(const engine::RunResult& result);
    void ReportRunFailure(const engine::RunError& error);
    void EndProgram(int exitCode);
    std::string SettingsFilePath() const;

    QString programFolder_;
    MessageBoxFunction messageBox_;
    EndProgramFunction endProgram_;
    FolderFunction desktop_;
    FolderFunction documents_;

    engine::RunOptions options_;
    QString sourceFolder_;
    std::vector<std::string> listedNames_; // File1's entries as the engine listed them

    bool followCurrentFolder_ = false; // keep Dir1's current folder in view while it loads
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
    QFileSystemModel* dirModel_ = nullptr;
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
};

} // namespace ui
