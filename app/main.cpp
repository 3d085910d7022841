#include <QApplication>
#include <QStringList>

#include "platform/qt_translations.h"
#include "ui/form1.h"

int main(int argc, char* argv[])
{
    // QApplication takes its own options (-platform, -style, ...) out of the arguments; the
    // first one left is the folder or file to open on.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    platform::LoadQtTranslations(app); // Qt's own buttons and dialogs in the window's language

    ui::Form1 window;
    QApplication::setWindowIcon(window.windowIcon());
    window.StartUp(QCoreApplication::arguments().value(1));
    window.show();
    return QApplication::exec();
}
