// The option buttons and check boxes: each writes its field of the run options as soon as its
// state changes, whether the user or code changed it; the settings read at start-up select
// them. Also the plain command buttons.

#include "ui/form1.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

namespace ui {

namespace {

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

} // namespace

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
    // ExtCase 2 without FileNameCase 1 comes from clearing Check3 after such a start: runs
    // still lower the extension, so the box shows it, grayed and enabled, and a click clears
    // it as it clears any grayed box.
    if (options_.ExtCase == 2) {
        check4_->setCheckState(Qt::PartiallyChecked);
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
} // namespace ui
