#include "ui/template_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "engine/naming/folder_template.h"
#include "ui/qt_path.h"

namespace ui {

TemplateDialog::TemplateDialog(const QString& text, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TemplateDialog"));
    setWindowTitle(QStringLiteral("Velmora"));
    auto* layout = new QVBoxLayout(this);
    auto* prompt =
        new QLabel(QString::fromUtf8("日付フォルダのテンプレート (yyyy, yy, mm, dd, -, _ と /):"));
    edit_ = new QLineEdit(text);
    edit_->setObjectName(QStringLiteral("TemplateEdit"));
    prompt->setBuddy(edit_);
    reason_ = new QLabel;
    reason_->setObjectName(QStringLiteral("TemplateReason"));
    reason_->setWordWrap(true);
    reason_->setStyleSheet(QStringLiteral("color: #b00020"));
    reason_->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A new text makes the old reason stale.
    connect(edit_, &QLineEdit::textEdited, reason_, &QLabel::hide);
    layout->addWidget(prompt);
    layout->addWidget(edit_);
    layout->addWidget(reason_);
    layout->addWidget(buttons);
    setMinimumWidth(420); // a reason wraps into lines of a readable length
    edit_->selectAll();
}

std::string TemplateDialog::Template() const
{
    return ToPath(edit_->text());
}

QString TemplateDialog::Reason() const
{
    return reason_->isHidden() ? QString() : reason_->text();
}

void TemplateDialog::accept()
{
    std::string message;
    if (engine::ParseFolderTemplate(Template(), message)) {
        QDialog::accept();
        return;
    }
    reason_->setText(QString::fromUtf8("このテンプレートは使えません: ") + FromPath(message));
    reason_->show();
    adjustSize(); // room for the whole reason
    edit_->setFocus();
}

} // namespace ui
