#pragma once

#include <string>

#include <QDialog>

class QLabel;
class QLineEdit;

namespace ui {

// Asks for a folder template ("yyyy/mm/dd"). OK accepts only a template that parses; a bad one
// keeps the dialog open with the text as typed and the reason shown under it.
class TemplateDialog : public QDialog {
    Q_OBJECT
public:
    explicit TemplateDialog(const QString& text, QWidget* parent = nullptr);

    // The template as the file system's bytes, once accepted.
    std::string Template() const;
    // The reason the last OK was refused, or the empty text.
    QString Reason() const;

    void accept() override;

private:
    QLineEdit* edit_ = nullptr;
    QLabel* reason_ = nullptr;
};

} // namespace ui
