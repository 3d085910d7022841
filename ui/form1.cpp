#include "ui/form1.h"

namespace ui {

Form1::Form1(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Velmora"));
}

} // namespace ui
