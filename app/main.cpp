#include <QApplication>
#include <QStringList>

#include "ui/form1.h"
#include "ui/qt_translations.h"

int main(int argc, char* argv[])
{
    // QApplication takes its own options (-platform, -style, ...) out of the arguments; the
    // first one left is the folder or file to open on.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    ui::LoadQtTranslations(app); // Qt's own buttons and dialogs in the window's language

    ui::Form1 window;
    QApplication::setWindowIcon(window.windowIcon());
    window.StartUp(QCoreApplication::arguments().value(1));
    window.show();
    return QApplication::exec();
}
