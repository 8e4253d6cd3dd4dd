#pragma once

#include "platform/OAuthProviders.h"
#include "platform/TokenEndpoint.h"

#include <QDialog>

#include <memory>
#include <optional>

namespace Ui {
class SignInWindow;
}

// The small window that stands while the user signs in in the browser: it says so, and its
// Cancel (or its close box) ends the sign-in.
class SignInWindow : public QDialog
{
    Q_OBJECT
public:
    explicit SignInWindow(const QString &provider, QWidget *parent = nullptr);
    ~SignInWindow() override;

    // Signs in with the provider's page in the browser while the window stands (BrowserSignIn;
    // its time-out is five minutes). The tokens; nothing when the user cancelled or the
    // window it was opened over was closed (EventWait::StopAll); other failures are thrown.
    static std::optional<TokenGrant> SignIn(const OAuthClient &client, const QString &loginHint, QWidget *parent);

    void ShowExchanging();

signals:
    void Cancelled();

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    std::unique_ptr<Ui::SignInWindow> ui;
    QString provider;
};
