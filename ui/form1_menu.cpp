// The options beyond the detail panel's controls: checkable entries of a context menu that a
// right click anywhere on the detail panel opens, so the panel itself keeps its layout. Each
// entry writes its field of the run options as it is toggled, and start-up sets it from the
// settings file.
#include <QAction>
#include <QDateTime>
#include <QGroupBox>
#include <QMenu>

#include "engine/history/history.h"
#include "engine/history/undo.h"
#include "engine/naming/folder_template.h"
#include "ui/form1.h"
#include "ui/qt_path.h"
#include "ui/template_dialog.h"

namespace ui {

namespace {

// One checkable entry: the action's objectName, its caption, and the option it turns on.
struct MenuOption {
    const char* name;
    const char* caption;
    std::int16_t engine::RunOptions::*field;
    std::string settings::SettingsTexts::*key;
};

const MenuOption kMenuOptions[] = {
    {"MediaDatesAction", "動画・HEIC・RAWの撮影日時を使う", &engine::RunOptions::MediaDates,
     &settings::SettingsTexts::MediaDates},
    {"NameDatesAction", "ファイル名の日付を使う", &engine::RunOptions::NameDates,
     &settings::SettingsTexts::NameDates},
    {"RecursiveAction", "サブフォルダも含める", &engine::RunOptions::Recursive,
     &settings::SettingsTexts::Recursive},
    {"SkipSameAction", "保存済みの同じファイルは飛ばす", &engine::RunOptions::SkipSame,
     &settings::SettingsTexts::SkipSame},
    {"KeepGoingAction", "読めないファイルは飛ばす", &engine::RunOptions::KeepGoing,
     &settings::SettingsTexts::KeepGoing},
    {"KeepTogetherAction", "同じ名前のファイルをまとめる", &engine::RunOptions::KeepTogether,
     &settings::SettingsTexts::KeepTogether},
};

// The caption of the template entry: the template that is set, or what choosing it does.
QString TemplateCaption(const std::string& folderTemplate)
{
    return folderTemplate.empty() ? QString::fromUtf8("日付フォルダをテンプレートで作る…")
                                  : QString::fromUtf8("日付フォルダ: ") + FromPath(folderTemplate);
}

} // namespace

void Form1::BuildOptionsMenu()
{
    optionsMenu_ = new QMenu(this);
    optionsMenu_->setObjectName(QStringLiteral("OptionsMenu"));
    for (const MenuOption& option : kMenuOptions) {
        QAction* action = optionsMenu_->addAction(QString::fromUtf8(option.caption));
        action->setObjectName(QString::fromLatin1(option.name));
        action->setCheckable(true);
        const auto field = option.field;
        connect(action, &QAction::toggled, this, [this, field](bool on) {
            options_.*field = on ? 1 : 0;
            if (field == &engine::RunOptions::Recursive)
                ListFiles(); // the list shows what a run takes
        });
    }
    // A set template overrides the date-folder buttons; the entry shows it.
    QAction* folders = optionsMenu_->addAction(TemplateCaption({}));
    folders->setObjectName(QStringLiteral("DirTemplateAction"));
    folders->setCheckable(true);
    connect(folders, &QAction::toggled, this, [this, folders](bool on) {
        if (on && dirTemplate_.empty()) {
            // A bad template keeps the dialog open, with the text and the reason.
            TemplateDialog dialog(QStringLiteral("yyyy/mm/dd"), this);
            if (dialog.exec() == QDialog::Accepted)
                dirTemplate_ = dialog.Template();
            if (dirTemplate_.empty()) {
                folders->setChecked(false);
                return;
            }
        }
        options_.DirTemplate = on ? dirTemplate_ : std::string();
        folders->setText(TemplateCaption(options_.DirTemplate));
        ShowTemplateInForce();
        if (options_.Recursive == 1)
            ListFiles();
    });
    BuildOverrideEntries();
    optionsMenu_->addSeparator();
    QAction* undo = optionsMenu_->addAction(QString::fromUtf8("元に戻す"));
    undo->setObjectName(QStringLiteral("UndoAction"));
    connect(undo, &QAction::triggered, this, &Form1::UndoNewestRun);
    // The panel's frames lie side by side rather than inside Frame5: each of them opens it.
    for (const char* frame : {"Frame5", "Frame1", "Frame2", "Frame4", "Frame6"}) {
        auto* box = findChild<QGroupBox*>(QString::fromLatin1(frame));
        if (box == nullptr)
            continue;
        box->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(box, &QWidget::customContextMenuRequested, this, [this, box](const QPoint& at) {
            if (!running_)
                optionsMenu_->popup(box->mapToGlobal(at));
        });
    }
}

void Form1::ApplyMenuSettings(const settings::SettingsTexts& texts)
{
    for (const MenuOption& option : kMenuOptions) {
        auto* action = optionsMenu_->findChild<QAction*>(QString::fromLatin1(option.name));
        action->setChecked(texts.*option.key == "1");
        options_.*option.field = action->isChecked() ? 1 : 0;
    }
    // A template that does not parse is left out: the buttons decide.
    std::string message;
    dirTemplate_ =
        engine::ParseFolderTemplate(texts.DirTemplate, message) ? texts.DirTemplate : std::string();
    auto* folders = optionsMenu_->findChild<QAction*>(QStringLiteral("DirTemplateAction"));
    folders->setChecked(!dirTemplate_.empty());
    options_.DirTemplate = dirTemplate_;
    folders->setText(TemplateCaption(options_.DirTemplate));
}

void Form1::SetConfirmFunction(ConfirmFunction function)
{
    confirm_ = std::move(function);
}

void Form1::UndoNewestRun()
{
    const QString title = QStringLiteral("Velmora");
    std::string problem;
    const std::unique_ptr<engine::History> history =
        engine::History::Open(engine::HistoryPath(), problem);
    if (!history) {
        messageBox_(QMessageBox::Warning, title, FromPath(problem));
        return;
    }
    std::string message;
    std::optional<engine::RunRecord> run =
        engine::ChooseRunToUndo(*history, std::nullopt, ToPath(sourceFolder_), message);
    if (!run)
        run = engine::ChooseRunToUndo(*history, std::nullopt, {}, message);
    if (!run) {
        messageBox_(QMessageBox::Information, title,
                    history->Problem().empty() ? QString::fromUtf8("元に戻せる実行はありません。")
                                               : FromPath(history->Problem()));
        return;
    }
    const QString when =
        QDateTime::fromSecsSinceEpoch(run->started).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    const QString question =
        QString::fromUtf8("次の実行を元に戻しますか?\n\n日時: %1\nフォルダ: %2\n%3: %4 個のファイル\n"
                          "保存先: %5\n\n移動したファイルは元の場所へ戻し、コピーは元のファイルが"
                          "同じ内容で残っている場合だけ削除します。")
            .arg(when, FromPath(run->source),
                 run->move ? QString::fromUtf8("移動") : QString::fromUtf8("コピー"))
            .arg(run->files)
            .arg(FromPath(run->base));
    const bool confirmed = confirm_ ? confirm_(title, question)
                                    : QMessageBox::question(this, title, question,
                                                            QMessageBox::Yes | QMessageBox::No,
                                                            QMessageBox::No) == QMessageBox::Yes;
    if (!confirmed)
        return;
    const engine::UndoResult result = engine::UndoRun(*history, run->id, false);
    RefreshLists();
    if (!result.started) {
        messageBox_(QMessageBox::Warning, title, FromPath(result.message));
        return;
    }
    QString text = QString::fromUtf8("%1 個のファイルを元に戻しました。").arg(result.undone);
    if (result.foldersRemoved > 0)
        text += QString::fromUtf8("空になったフォルダ %1 個を削除しました。").arg(result.foldersRemoved);
    if (result.left > 0) {
        text += QString::fromUtf8("\n次の %1 個はそのままにしました:").arg(result.left);
        std::size_t shown = 0;
        for (const engine::UndoStep& step : result.steps) {
            if (step.kind != engine::UndoStep::Kind::Leave)
                continue;
            if (++shown > 20) {
                text += QString::fromUtf8("\nほか %1 個").arg(result.left - 20);
                break;
            }
            text += QStringLiteral("\n") + FromPath(step.path) + QStringLiteral(": ") +
                    FromPath(step.reason);
        }
    }
    if (!result.message.empty())
        text += QStringLiteral("\n") + FromPath(result.message);
    messageBox_(result.complete ? QMessageBox::Information : QMessageBox::Warning, title, text);
}

} // namespace ui
