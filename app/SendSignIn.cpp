// The sign-in steps of the send command: where the access token comes from (kelvo's own
// sign-in with a provider, or the desktop's online account), asking the user before a
// browser opens, and one fresh token when the server refuses the one it got.
#include "app/MainWindow.h"

#include "platform/Exception.h"
#include "platform/MsgBox.h"
#include "platform/OAuthTokens.h"
#include "settings/SignInWindow.h"

namespace {

// The status bar says what a send waits for while it waits, then goes back to what it said.
template <class Wait> auto WithStatus(MainWindow &window, const QString &status, const Wait &wait)
{
    const QString before = window.StatusText();
    window.SetStatusText(status);
    const auto restore = qScopeGuard([&] { window.SetStatusText(before); });
    return wait();
}

} // namespace

bool MainWindow::SignInAllowsSending()
{
    if (Settings.Auth != SmtpLogin::OAuth2)
        return true;
    if (Settings.OAuthProvider != DesktopAccount && !FindProvider(Settings.OAuthProvider)) {
        WarningBox(tr("設定ファイルの [oauth] Provider=%1 は microsoft、google、desktop、custom のどれでもないため、"
                      "送信できません。「kelvoの設定」でログイン方法を選んで保存してください。")
                       .arg(Settings.OAuthProvider));
        return false;
    }
    if (Settings.OAuthProvider == DesktopAccount)
        return true; // the desktop's account brings its server and its protection
    if (!ProtectsLogin(Settings.Security)) {
        WarningBox(tr("暗号化しない接続ではサインインのトークンを送れません。"
                      "「kelvoの設定」で、接続の保護に STARTTLS か SSL/TLS を選んでください。"));
        return false;
    }
    const QString lacks = WhatSignInLacks(ClientFor(Settings.OAuthProvider, Settings.OAuth));
    if (!lacks.isEmpty())
        WarningBox(lacks);
    return lacks.isEmpty();
}

std::optional<MainWindow::SignIn> MainWindow::SignInForSending(const QString &login)
{
    SignIn signIn;
    if (Settings.OAuthProvider == DesktopAccount) {
        const QList<OnlineMailAccount> accounts =
            WithStatus(*this, tr("デスクトップのオンラインアカウントに問い合わせています…"),
                       [] { return OnlineAccounts::MailAccounts(); });
        QString reason;
        signIn.Desktop = OnlineAccounts::AccountFor(accounts, Settings.FromAddress, reason);
        if (!signIn.Desktop)
            throw Exception(reason);
        RenewToken(signIn);
    } else {
        signIn.Client = ClientFor(Settings.OAuthProvider, Settings.OAuth);
        signIn.Account = OAuthTokens::Account(Settings.OAuthProvider, login);
        std::optional<QByteArray> token = OwnAccessToken(signIn);
        if (!token)
            return std::nullopt;
        signIn.Token = *token;
        SocketClient::Wipe(*token);
    }
    // The window was closed during a wait: nothing is sent.
    if (closeRequested)
        return std::nullopt;
    return signIn;
}

std::optional<QByteArray> MainWindow::OwnAccessToken(const SignIn &signIn)
{
    if (std::optional<QByteArray> fresh = OAuthTokens::FreshAccessToken(signIn.Account))
        return fresh;
    std::optional<QByteArray> refresh = WithStatus(*this, tr("キーリングからサインインの情報を読み込んでいます…"),
                                                   [&] { return OAuthTokens::StoredRefreshToken(signIn.Account); });
    if (closeRequested)
        return std::nullopt;
    if (!refresh)
        return SignInWithBrowser(
            signIn, tr("%1 にサインインして %2 から送信しますか？").arg(signIn.Client.Name, Settings.FromAddress));
    const auto wipe = qScopeGuard([&] { SocketClient::Wipe(*refresh); });
    try {
        return WithStatus(*this, tr("%1 から新しいトークンを受け取っています…").arg(signIn.Client.Name),
                          [&] { return OAuthTokens::Refresh(signIn.Client, signIn.Account, *refresh); });
    } catch (const ESignInEnded &ended) {
        return SignInWithBrowser(signIn, tr("%1\n%2 にサインインし直して %3 から送信しますか？")
                                             .arg(ended.Message, signIn.Client.Name, Settings.FromAddress));
    }
}

std::optional<QByteArray> MainWindow::SignInWithBrowser(const SignIn &signIn, const QString &question)
{
    // The browser opens only when the user says so; Cancel sends nothing.
    if (closeRequested || ConfirmBox(question, MsgButtons::OkCancel) != MsgResult::Ok || closeRequested)
        return std::nullopt;
    std::optional<TokenGrant> grant = SignInWindow::SignIn(signIn.Client, Settings.FromAddress, this);
    if (!grant || closeRequested)
        return std::nullopt;
    const bool kept = OAuthTokens::Keep(signIn.Account, *grant);
    SocketClient::Wipe(grant->RefreshToken);
    if (!kept)
        InformationBox(tr("サインインをキーリングに保存できませんでした。kelvoを終了するまでの間だけ覚えておきます。"));
    return grant->AccessToken;
}

void MainWindow::UseSignIn(const SignIn &signIn)
{
    smtpClient->AccessToken = signIn.Token;
    if (!signIn.Desktop)
        return;
    // The desktop's account says where and how its mail goes out.
    smtpClient->Host = signIn.Desktop->SmtpHost;
    smtpClient->Port = signIn.Desktop->SmtpPort;
    smtpClient->Security = signIn.Desktop->Security;
    smtpClient->AuthUser = signIn.Desktop->SmtpUser.toUtf8();
}

void MainWindow::RenewToken(SignIn &signIn)
{
    SocketClient::Wipe(signIn.Token);
    if (signIn.Desktop) {
        signIn.Token = WithStatus(*this, tr("デスクトップのオンラインアカウントからトークンを受け取っています…"),
                                  [&] { return OnlineAccounts::AccessToken(*signIn.Desktop); });
    } else {
        OAuthTokens::DropAccessToken(signIn.Account);
        std::optional<QByteArray> refresh = OAuthTokens::StoredRefreshToken(signIn.Account);
        if (!refresh)
            throw Exception(tr("%1 のサインインが見つかりません。もう一度送信してサインインしてください。")
                                .arg(signIn.Client.Name));
        const auto wipe = qScopeGuard([&] { SocketClient::Wipe(*refresh); });
        signIn.Token = WithStatus(*this, tr("%1 から新しいトークンを受け取っています…").arg(signIn.Client.Name),
                                  [&] { return OAuthTokens::Refresh(signIn.Client, signIn.Account, *refresh); });
    }
}
