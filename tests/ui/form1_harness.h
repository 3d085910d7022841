#pragma once

#include <memory>
#include <vector>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
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

// A window whose settings file lives in a temporary program folder and whose message boxes,
// program end and file-manager launches are recorded instead of shown or done.
class Harness {
public:
    // Each harness gives the process a home, settings and state folder of its own, so no
    // test sees the runs (or the settings) of another one, or of the user.
    Harness()
    {
        for (const char* folder : {".config", ".local/state"})
            QDir(home.path()).mkpath(QString::fromLatin1(folder));
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
        qputenv("XDG_STATE_HOME",
                QFile::encodeName(home.filePath(QStringLiteral(".local/state"))));
        Reopen();
    }

    // A new window on the same program folder, as the next start of the program.
    void Reopen()
    {
        window.reset();
        window = std::make_unique<ui::Form1>(programFolder.path());
        window->SetMessageBoxFunction(
            [this](QMessageBox::Icon icon, const QString& title, const QString& text) {
                messages.push_back({icon, title, text});
            });
        window->SetEndProgramFunction([this](int code) { endCodes.push_back(code); });
        window->SetConfirmFunction([this](const QString&, const QString& text) {
            questions.push_back(text);
            return confirm;
        });
        window->SetOpenFolderFunction([this](const QString& folder) {
            openedFolders.push_back(folder);
            return openSucceeds;
        });
    }

    template <typename W = QWidget> W* Find(const char* name) const
    {
        return window->findChild<W*>(QString::fromLatin1(name));
    }

    QString SettingsFile() const { return programFolder.filePath(QStringLiteral("kestrum.ini")); }

    QTemporaryDir home;
    QTemporaryDir programFolder;
    std::unique_ptr<ui::Form1> window;
    std::vector<Message> messages;
    std::vector<int> endCodes;
    std::vector<QString> questions; // asked before an undo
    bool confirm = true;            // the answer to them
    std::vector<QString> openedFolders;
    bool openSucceeds = true;
};

// The text the window shows in its progress bar, or the empty text.
inline QString BarText(const ui::Form1& window)
{
    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    return bar != nullptr && bar->isTextVisible() ? bar->text() : QString();
}

// The notice the window shows in its progress bar, or the empty text. A notice carries its
// whole text as the bar's tooltip; the status text of the control under the pointer does not.
inline QString Notice(const ui::Form1& window)
{
    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    return bar != nullptr && !bar->toolTip().isEmpty() ? BarText(window) : QString();
}

// The names File1 shows, in order.
inline QStringList Listed(const ui::Form1& window)
{
    auto* list = window.findChild<QListWidget*>(QStringLiteral("File1"));
    QStringList names;
    for (int i = 0; list != nullptr && i < list->count(); ++i) {
        names << list->item(i)->text();
    }
    return names;
}

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
