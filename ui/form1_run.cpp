// Runs started from the window: the engine on a worker thread while the window takes no input,
// progress and the refresh posted back, and the report of a failed run.

#include "media/media_dates.h"
#include "ui/form1.h"

#include <memory>
#include <utility>

#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>

#include "engine/history/history.h"
#include "engine/naming/naming.h"
#include "engine/run_host.h"
#include "ui/qt_path.h"

namespace ui {

namespace {

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
    engine::DateSource* MediaDateSource() override { return &mediaDates_; }

    // Called before every file; posted only when the value changes, so a run of many files
    // sends the window at most about a hundred updates instead of one per file.
    void SetProgress(int value) override
    {
        if (value == posted_) {
            return;
        }
        posted_ = value;
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
    media::MediaDateReader mediaDates_; // asked only when the option is on
    int posted_ = -1;                   // the last value posted to the bar
};

} // namespace

void Form1::ExecuteRun()
{
    if (running_) {
        return;
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    ClearNotice();
    // The history ("元に戻す" undoes the run by it) is opened before the list is read: a run
    // killed earlier may have taken sources aside under hidden names, and they get their names
    // back first, so that the list this run takes holds them again.
    std::string historyProblem;
    std::unique_ptr<engine::History> history =
        engine::History::Open(engine::HistoryPath(), historyProblem);
    const bool recovered = history && !history->RecoverKilledRuns().empty();
    if (options_.Recursive == 1 || recovered)
        ListFiles(); // the options may have changed since the list was read
    auto host = std::make_unique<WindowRunHost>(this, progressBar1_, Options().SourceFolder,
                                                listedNames_, desktop_(), documents_());
    running_ = true;
    HoldFolderList();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // The window takes no input until the run ends, yet keeps painting its progress.
    setEnabled(false);
    worker_ = std::thread([this, options = Options(), host = std::move(host),
                           history = std::move(history), problem = std::move(historyProblem)] {
        engine::RunSettings settings;
        settings.history = history.get();
        engine::RunResult result = engine::ClassificationRun(options, *host, settings);
        if (!history && result.filesStored + result.filesSame > 0)
            result.historyProblem = problem + "; this run cannot be undone.";
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
    if (!result.historyProblem.empty()) {
        ShowNotice(QString::fromUtf8("元に戻す履歴を残せませんでした: ") +
                   FromPath(result.historyProblem));
    }
    if (!result.ok) {
        ReportRunFailure(result.error);
    } else if (!result.skipped.empty()) {
        // KeepGoing: the run went on without these files; the user learns which and why.
        QString text = QString::fromUtf8("%1 個のファイルは保存できませんでした。\n")
                           .arg(result.skipped.size());
        for (const engine::RunError& skipped : result.skipped) {
            text += QStringLiteral("\n") + ToQString(skipped.message);
        }
        messageBox_(QMessageBox::Warning, QStringLiteral("Velmora"), text);
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
} // namespace ui
