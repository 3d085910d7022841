// The options beyond the detail panel's controls: checkable entries of a context menu that a
// right click anywhere on the detail panel opens, so the panel itself keeps its layout. Each
// entry writes its field of the run options as it is toggled, and start-up sets it from the
// settings file.
#include <QAction>
#include <QGroupBox>
#include <QMenu>

#include "ui/form1.h"

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
};

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
        connect(action, &QAction::toggled, this,
                [this, field](bool on) { options_.*field = on ? 1 : 0; });
    }
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
}

} // namespace ui
