#include "settings/SignInWindow.h"

#include "ui_SignInWindow.h"

#include "platform/Accessibility.h"
#include "platform/BrowserSignIn.h"
#include "platform/EventWait.h"
#include "platform/Fonts.h"

#include <QCloseEvent>

SignInWindow::SignInWindow(const QString &provider, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::SignInWindow>()), provider(provider)
{
    ui->setupUi(this);
    setFont(WindowFont());
    setWindowModality(Qt::ApplicationModal);
    ui->waitingLabel->setText(tr("ブラウザで %1 のページが開きました。そこでサインインしてください。\n"
                                 "ブラウザでのサインインを待っています…（%2 分で打ち切ります）")
                                  .arg(provider)
                                  .arg(BrowserSignIn::TimeOutMs / 60000.0));
    NameControlsByTheirLabels(this);
    connect(ui->cancelButton, &QPushButton::clicked, this, &SignInWindow::Cancelled);
}

SignInWindow::~SignInWindow() = default;

void SignInWindow::ShowExchanging()
{
    ui->waitingLabel->setText(tr("%1 からサインインの結果を受け取っています…").arg(provider));
}

void SignInWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    emit Cancelled();
}

void SignInWindow::reject()
{
    emit Cancelled();
}

std::optional<TokenGrant> SignInWindow::SignIn(const OAuthClient &client, const QString &loginHint, QWidget *parent)
{
    BrowserSignIn signIn(client, loginHint);
    signIn.Start();
    SignInWindow window(client.Name, parent);
    // The sign-in bounds itself; the wait's own bound only keeps a lost answer from
    // holding the window for ever.
    EventWait wait(BrowserSignIn::TimeOutMs + TokenWaitMs, false);
    connect(&window, &SignInWindow::Cancelled, &signIn, &BrowserSignIn::Cancel);
    connect(&signIn, &BrowserSignIn::CodeReceived, &window, &SignInWindow::ShowExchanging);
    connect(&signIn, &BrowserSignIn::Finished, &window, [&wait] { wait.Finish(); });
    window.show();
    const EventWait::Outcome outcome = wait.Run();
    window.hide();
    if (outcome != EventWait::Finished) {
        signIn.Cancel();
        if (outcome == EventWait::Stopped)
            return std::nullopt;
    }
    try {
        return signIn.Grant();
    } catch (const ESignInCancelled &) {
        return std::nullopt;
    }
}
