// The settings dialog's login method: none, a password, or a sign-in with a provider's page
// in the browser (Microsoft, Google, one of the user's own) or with the desktop's online
// account; and the sign-in's own buttons.
#include "settings/SettingsDialog.h"

#include "ui_SettingsDialog.h"

#include "platform/Command.h"
#include "platform/MsgBox.h"
#include "platform/OAuthTokens.h"
#include "settings/OAuthDetailsDialog.h"
#include "settings/SignInWindow.h"

#include <QStandardItemModel>

namespace {

// The login method box's entries, in its order: the login and, for a sign-in, the provider.
const std::pair<SmtpLogin, const char *> LoginMethods[] = {
    {SmtpLogin::None, ""},         {SmtpLogin::Password, ""},      {SmtpLogin::OAuth2, "microsoft"},
    {SmtpLogin::OAuth2, "google"}, {SmtpLogin::OAuth2, "desktop"}, {SmtpLogin::OAuth2, "custom"},
};
constexpr int DesktopMethod = 4;

} // namespace

void SettingsDialog::ConnectSignInBoxes()
{
    // Only the user's choice fills in a provider's server, not the showing's own filling.
    connect(ui->loginMethodCombo, &QComboBox::activated, this, [this] {
        RunCommand([this] {
            FillProviderServer();
            EnableLoginBoxes();
        });
    });
    // The sign-in shown is that of the login name, or of the sender's address.
    for (QLineEdit *box : {ui->loginNameEdit, ui->senderAddressEdit})
        connect(box, &QLineEdit::editingFinished, this, [this] { RunCommand([this] { ShowSignInState(); }); });
    connect(ui->signInButton, &QPushButton::clicked, this, [this] { RunCommand([this] { SignInNow(); }); });
    connect(ui->signOutButton, &QPushButton::clicked, this, [this] { RunCommand([this] { SignOutNow(); }); });
    connect(ui->detailsButton, &QPushButton::clicked, this, [this] { RunCommand([this] { EditSignInDetails(); }); });
}

void SettingsDialog::ShowLoginMethod(SmtpLogin login, const QString &provider)
{
    storedProvider = provider;
    int index = -1;
    for (int i = 0; i < int(std::size(LoginMethods)); ++i)
        if (LoginMethods[i].first == login && (login != SmtpLogin::OAuth2 || provider == LoginMethods[i].second))
            index = i;
    ui->loginMethodCombo->setCurrentIndex(index);
}

std::optional<SmtpLogin> SettingsDialog::ChosenLogin() const
{
    const int index = ui->loginMethodCombo->currentIndex();
    return index < 0 ? std::nullopt : std::optional(LoginMethods[index].first);
}

QString SettingsDialog::ChosenProvider() const
{
    const int index = ui->loginMethodCombo->currentIndex();
    return index >= 0 && LoginMethods[index].first == SmtpLogin::OAuth2
               ? QString::fromLatin1(LoginMethods[index].second)
               : storedProvider;
}

void SettingsDialog::FillProviderServer()
{
    const OAuthProvider *provider = FindProvider(ChosenProvider());
    if (ChosenLogin() != SmtpLogin::OAuth2 || !provider || provider->SmtpHost.isEmpty())
        return;
    ui->serverEdit->setText(ProviderSmtpHost(*provider, ui->senderAddressEdit->text()));
    ui->serverEdit->setEnabled(true);
    ui->serverLabel->setEnabled(true);
    ui->portEdit->setText(QString::number(provider->SmtpPort));
    ShowSecurity(provider->Security);
}

void SettingsDialog::EnableLoginBoxes()
{
    const SmtpLogin login = ChosenLogin().value_or(SmtpLogin::None);
    const bool signIn = login == SmtpLogin::OAuth2, desktop = signIn && ChosenProvider() == DesktopAccount;
    // The desktop's account brings its own login name.
    for (QWidget *w : std::initializer_list<QWidget *>{ui->loginNameEdit, ui->loginNameLabel})
        w->setEnabled(login != SmtpLogin::None && !desktop);
    for (QWidget *w : std::initializer_list<QWidget *>{ui->passwordEdit, ui->passwordLabel}) {
        w->setVisible(!signIn);
        w->setEnabled(login == SmtpLogin::Password);
    }
    for (QWidget *w :
         std::initializer_list<QWidget *>{ui->signInStateLabel, ui->signInButton, ui->signOutButton, ui->detailsButton})
        w->setVisible(signIn && !desktop);
    ShowSignInState();
}

void SettingsDialog::AskDesktopAccounts()
{
    desktopAccounts.reset();
    desktopReason = tr("デスクトップのオンラインアカウントを確認しています…");
    ShowDesktopChoice();
    OnlineAccounts::ListMailAccounts(this, [this](const QList<OnlineMailAccount> &accounts, const QString &reason) {
        desktopAccounts = accounts;
        desktopReason = reason;
        ShowDesktopChoice();
    });
}

void SettingsDialog::ShowDesktopChoice()
{
    // Usable only with an OAuth2 account of the sender's address; otherwise the choice is
    // greyed, and says why.
    QString reason = desktopReason;
    if (desktopAccounts && reason.isEmpty())
        OnlineAccounts::AccountFor(*desktopAccounts, ui->senderAddressEdit->text(), reason);
    auto *model = qobject_cast<QStandardItemModel *>(ui->loginMethodCombo->model());
    if (QStandardItem *item = model ? model->item(DesktopMethod) : nullptr) {
        item->setEnabled(reason.isEmpty());
        item->setToolTip(reason);
    }
    ShowSignInNote();
}

void SettingsDialog::ShowSignInState()
{
    if (ui->signInStateLabel->isHidden()) {
        ShowSignInNote();
        return;
    }
    const QString login =
        ui->loginNameEdit->text().isEmpty() ? ui->senderAddressEdit->text() : ui->loginNameEdit->text();
    std::optional<QByteArray> stored = OAuthTokens::StoredRefreshToken(SignInAccount());
    ui->signInStateLabel->setText(stored ? tr("%1 のサインインは保存されています。").arg(login)
                                         : tr("%1 のサインインはまだ保存されていません。").arg(login));
    ui->signOutButton->setEnabled(stored.has_value());
    if (stored)
        stored->fill('\0');
    ShowSignInNote();
}

void SettingsDialog::ShowSignInNote()
{
    const QString provider = ChosenProvider();
    QString note =
        tr("認証を使うときは STARTTLS か SSL/TLS を選んでください。パスワードはデスクトップのキーリングに保存され、"
           "kelvo.ini には書き込まれません。ポート番号は「SMTPの設定」の難しい設定で変えられます。");
    if (ChosenLogin() == SmtpLogin::OAuth2 && provider == DesktopAccount) {
        QString reason = desktopReason;
        const std::optional<OnlineMailAccount> account =
            desktopAccounts && reason.isEmpty()
                ? OnlineAccounts::AccountFor(*desktopAccounts, ui->senderAddressEdit->text(), reason)
                : std::nullopt;
        note = account ? tr("デスクトップの %1 のアカウントで %2 から送ります（ポート %3）。"
                            "トークンは送信のたびにデスクトップから受け取ります。")
                             .arg(account->Provider, account->SmtpHost)
                             .arg(account->SmtpPort)
                       : reason;
    } else if (ChosenLogin() == SmtpLogin::OAuth2) {
        const OAuthClient client = ClientFor(provider, signInOverrides);
        note = WhatSignInLacks(client);
        if (note.isEmpty())
            note = tr("「サインイン」でブラウザに %1 のページが開きます。送信の前に求められたときでもかまいません。"
                      "サインインの情報はキーリングに保存し、kelvo.ini には書き込みません。")
                       .arg(client.Name);
    }
    ui->securityNote->setText(note);
}

QString SettingsDialog::SignInAccount() const
{
    const QString login = ui->loginNameEdit->text();
    return OAuthTokens::Account(ChosenProvider(), login.isEmpty() ? ui->senderAddressEdit->text() : login);
}

void SettingsDialog::SignInNow()
{
    const OAuthClient client = ClientFor(ChosenProvider(), signInOverrides);
    const QString lacks = WhatSignInLacks(client);
    if (!lacks.isEmpty()) {
        WarningBox(lacks);
        return;
    }
    std::optional<TokenGrant> grant = SignInWindow::SignIn(client, ui->senderAddressEdit->text(), this);
    if (!grant)
        return;
    const bool kept = OAuthTokens::Keep(SignInAccount(), *grant);
    grant->AccessToken.fill('\0');
    grant->RefreshToken.fill('\0');
    if (!kept)
        InformationBox(tr("サインインをキーリングに保存できませんでした。kelvoを終了するまでの間だけ覚えておきます。"));
    ShowSignInState();
}

void SettingsDialog::SignOutNow()
{
    OAuthTokens::SignOut(SignInAccount());
    ShowSignInState();
}

// A refresh token belongs to the client and the token endpoint that gave it: when the details
// change under the same provider, the stored sign-in is forgotten rather than sent elsewhere.
void SettingsDialog::ForgetSignInOfAnotherClient()
{
    const OAuthClient before = ClientFor(settings.OAuthProvider, settings.OAuth);
    const OAuthClient after = ClientFor(ChosenProvider(), signInOverrides);
    if (before.Provider == after.Provider && (before.TokenUrl != after.TokenUrl || before.ClientId != after.ClientId))
        OAuthTokens::SignOut(OAuthTokens::Account(settings.OAuthProvider, LoginName(settings)));
}

void SettingsDialog::EditSignInDetails()
{
    if (const std::optional<OAuthOverrides> edited = OAuthDetailsDialog::Edit(ChosenProvider(), signInOverrides, this))
        signInOverrides = *edited;
    ShowSignInNote();
}

bool SettingsDialog::SignInCanBeSaved(SmtpLogin login)
{
    if (login != SmtpLogin::OAuth2 || ChosenProvider() == DesktopAccount)
        return true;
    const QString lacks = WhatSignInLacks(ClientFor(ChosenProvider(), signInOverrides));
    if (!lacks.isEmpty())
        WarningBox(lacks);
    return lacks.isEmpty();
}
