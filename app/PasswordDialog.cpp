#include "app/PasswordDialog.h"

#include "ui_PasswordDialog.h"

#include "platform/Accessibility.h"
#include "platform/Fonts.h"

#include <QPushButton>

PasswordDialog::PasswordDialog(const QString &host, const QString &user, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::PasswordDialog>())
{
    ui->setupUi(this);
    setFont(WindowFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    ui->promptLabel->setText(tr("%1 に %2 としてログインします。\nパスワードを入力してください。").arg(host, user));
    // A password is never empty: OK waits for one, so an early Return does not try the
    // server with nothing.
    ui->okButton->setEnabled(false);
    connect(ui->passwordEdit, &QLineEdit::textChanged, this,
            [this](const QString &text) { ui->okButton->setEnabled(!text.isEmpty()); });
    connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    NameControlsByTheirLabels(this);
    ui->passwordEdit->setFocus();
}

PasswordDialog::~PasswordDialog() = default;

std::optional<QString> PasswordDialog::Ask(const QString &host, const QString &user, QWidget *parent)
{
    PasswordDialog dialog(host, user, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QString password = dialog.ui->passwordEdit->text();
    dialog.ui->passwordEdit->clear();
    return password;
}
