#include <QApplication>
#include <QDir>
#include <QFile>

#include "settings/settings_file.h"
#include "ui/form1.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));

    ui::Form1 window;
    QApplication::setWindowIcon(window.windowIcon());

    // The settings saved at the last exit; the handlers fill the run options from the controls.
    const std::string file = settings::SettingsFile(
        QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
    const settings::SettingsTexts texts = settings::LoadSettings(file);
    const engine::RunOptions options = settings::ToRunOptions(texts);
    window.SetDetailShown(options.Detail != 0);
    if (!options.SourceFolder.empty()) {
        // A folder that no longer exists leaves the window on the current folder.
        window.SetSourceFolder(QFile::decodeName(QByteArray::fromStdString(options.SourceFolder)));
    }
    window.SetOptionControls(options);
    window.setWindowTitle(ui::WindowCaption());

    window.show();
    return QApplication::exec();
}
