// The menu entries that stand in for a group of the panel's buttons: a destination folder of
// the user's own choosing, and the folder template. While one is in force, its group's buttons
// show unchecked and the panel shows what is in force instead (the entry's text and the
// frame's tooltip), so the panel never contradicts the run; clicking one of the buttons ends
// it. Also the keyboard's way to the menu from anywhere in the window.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QMenu>
#include <QShortcut>
#include <QVariant>

#include "ui/form1.h"
#include "ui/qt_path.h"

namespace ui {

namespace {

// Unchecks every button of an exclusive group, which never lets its last button go itself.
void ClearGroup(QButtonGroup* group)
{
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons())
        button->setChecked(false);
    group->setExclusive(true);
}

// The frame's own tooltip, followed by a line on what is in force instead of its buttons
// (none: the tooltip alone).
void ShowInForce(QWidget* frame, const QString& inForce)
{
    if (frame == nullptr)
        return;
    QVariant plain = frame->property("plainToolTip");
    if (!plain.isValid()) {
        plain = frame->toolTip();
        frame->setProperty("plainToolTip", plain);
    }
    frame->setToolTip(inForce.isEmpty() ? plain.toString()
                                        : plain.toString() + QLatin1Char('\n') + inForce);
}

} // namespace

QString DestCaption(const QString& path)
{
    return path.isEmpty() ? QString::fromUtf8("保存先を選ぶ…")
                          : QString::fromUtf8("保存先: ") + path;
}

void Form1::BuildOverrideEntries()
{
    folderDialog_ = [this](const QString& start) {
        return QFileDialog::getExistingDirectory(
            this, QString::fromUtf8("日付別フォルダを作るフォルダを選ぶ"), start);
    };
    QAction* dest = optionsMenu_->addAction(DestCaption({}));
    dest->setObjectName(QStringLiteral("DestPathAction"));
    dest->setCheckable(true);
    connect(dest, &QAction::triggered, this, &Form1::ChooseDestFolder);
    // Clicks only: start-up selects buttons by code before it applies the menu's settings.
    connect(destGroup_, &QButtonGroup::idClicked, this, [this] {
        if (!options_.DestPath.empty())
            SetChosenDest({});
    });
    connect(dirGroup_, &QButtonGroup::idClicked, this, [this] {
        if (!options_.DirTemplate.empty())
            optionsMenu_->findChild<QAction*>(QStringLiteral("DirTemplateAction"))
                ->setChecked(false);
    });

    for (const QKeySequence& keys :
         {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &Form1::PopupOptionsMenuAtFocus);
    }
}

void Form1::PopupOptionsMenuAtFocus()
{
    if (running_)
        return;
    QWidget* focus = QApplication::focusWidget();
    const QPoint at = focus != nullptr && isAncestorOf(focus)
                          ? focus->mapToGlobal(focus->rect().center())
                          : mapToGlobal(rect().center());
    optionsMenu_->popup(at);
    if (!optionsMenu_->actions().isEmpty())
        optionsMenu_->setActiveAction(optionsMenu_->actions().first());
}

void Form1::ChooseDestFolder()
{
    const QString start =
        options_.DestPath.empty() ? QDir::homePath() : FromPath(options_.DestPath);
    QString chosen = folderDialog_(start);
    while (chosen.size() > 1 && chosen.endsWith(QLatin1Char('/')))
        chosen.chop(1);
    if (!chosen.isEmpty() && QDir::isAbsolutePath(chosen))
        SetChosenDest(ToPath(chosen));
    else // cancelled: what was in force stays
        SetChosenDest(options_.DestPattern == 4 ? options_.DestPath : std::string());
}

void Form1::SetChosenDest(const std::string& path)
{
    auto* action = optionsMenu_->findChild<QAction*>(QStringLiteral("DestPathAction"));
    const QString shown = FromPath(path);
    const bool changed = path != options_.DestPath;
    if (!path.empty()) {
        options_.DestPattern = 4;
        ClearGroup(destGroup_);
    } else if (options_.DestPattern == 4) {
        // Nothing chosen and no button clicked: the specified default.
        options_.DestPattern = 1;
        destGroup_->button(1)->setChecked(true);
    }
    options_.DestPath = path;
    action->setChecked(!path.empty());
    action->setText(DestCaption(fontMetrics().elidedText(shown, Qt::ElideMiddle, 400)));
    action->setToolTip(shown);
    ShowInForce(findChild<QWidget*>(QStringLiteral("Frame4")),
                path.empty() ? QString()
                             : QString::fromUtf8("いまは「%1」の中に作ります"
                                                 "（右クリックのメニューで変更）")
                                   .arg(shown));
    if (changed && options_.Recursive == 1)
        ListFiles(); // the run's own date folders are left out of the list by their base
}

void Form1::ShowTemplateInForce()
{
    if (!options_.DirTemplate.empty()) {
        ClearGroup(dirGroup_);
    } else if (dirGroup_->checkedButton() == nullptr) {
        if (QAbstractButton* button = dirGroup_->button(options_.DirPattern))
            button->setChecked(true);
    }
    ShowInForce(findChild<QWidget*>(QStringLiteral("Frame1")),
                options_.DirTemplate.empty()
                    ? QString()
                    : QString::fromUtf8("いまはテンプレート「%1」で作ります"
                                        "（右クリックのメニューで変更）")
                          .arg(FromPath(options_.DirTemplate)));
}

void Form1::ApplyOverrideSettings(const settings::SettingsTexts& texts)
{
    const engine::RunOptions read = settings::ToRunOptions(texts);
    SetChosenDest(read.DestPattern == 4 ? read.DestPath : std::string());
    ShowTemplateInForce();
}

} // namespace ui
