#pragma once

#include <QDialog>

#include <memory>
#include <optional>

namespace Ui {
class PasswordDialog;
}

// The small prompt for the SMTP password, shown by a send that knows none for its login.
// The password is typed into a masked box; Return is OK, and キャンセル (or Escape, or the
// title bar's close) gives nothing.
class PasswordDialog : public QDialog
{
    Q_OBJECT
public:
    PasswordDialog(const QString &host, const QString &user, QWidget *parent = nullptr);
    ~PasswordDialog() override;

    // Shows the prompt modally: the password typed, or nothing when the user cancelled.
    static std::optional<QString> Ask(const QString &host, const QString &user, QWidget *parent);

private:
    std::unique_ptr<Ui::PasswordDialog> ui;
};
