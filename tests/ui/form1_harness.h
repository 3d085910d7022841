#pragma once

#include <memory>
#include <vector>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QMessageBox>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>

#include "ui/form1.h"

namespace uitest {

// A message box the window asked for.
struct Message {
    QMessageBox::Icon icon;
    QString title;
    QString text;
};

// A window whose settings file lives in a temporary program folder and whose message boxes
// and program end are recorded instead of shown or done.
class Harness {
public:
    Harness() : window(std::make_unique<ui::Form1>(programFolder.path()))
    {
        window->SetMessageBoxFunction(
            [this](QMessageBox::Icon icon, const QString& title, const QString& text) {
                messages.push_back({icon, title, text});
            });
        window->SetEndProgramFunction([this](int code) { endCodes.push_back(code); });
    }

    template <typename W = QWidget> W* Find(const char* name) const
    {
        return window->findChild<W*>(QString::fromLatin1(name));
    }

    QString SettingsFile() const { return programFolder.filePath(QStringLiteral("kestrum.ini")); }

    QTemporaryDir programFolder;
    std::unique_ptr<ui::Form1> window;
    std::vector<Message> messages;
    std::vector<int> endCodes;
};

// Clicks a check box or option button on its indicator, as a user does.
inline void ClickIndicator(QAbstractButton* button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
    const QRect indicator = button->style()->subElementRect(
        radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &option, button);
    QTest::mouseClick(button, Qt::LeftButton, {}, indicator.center());
}

// Creates a file with some bytes and the given local modification time.
inline bool MakeFile(const QString& path, const QDateTime& modified, const QByteArray& bytes = "x")
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()) {
        return false;
    }
    // After the flush, so that no later write moves the time again.
    return file.setFileTime(modified, QFileDevice::FileModificationTime);
}

} // namespace uitest
