#pragma once

#include "platform/SmtpSecurity.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// A mail account of the desktop's online accounts (GNOME Online Accounts), as its Mail
// interface describes it.
struct OnlineMailAccount
{
    QString Path;     // the account's object on the session bus
    QString Provider; // "Google", "Microsoft", ... as the desktop names it
    QString Address;
    QString SmtpHost;
    int SmtpPort = 0;
    SmtpSecurity Security = SmtpSecurity::None;
    QString SmtpUser;
    bool OAuth2 = false; // signs in with OAuth2: the desktop gives the access token
};

// GNOME Online Accounts (org.gnome.OnlineAccounts on the session bus) through QtDBus: the
// desktop signs in, kelvo asks it for the server and for an access token at each send. Every
// call is bounded; the failures carry the reason as the user reads it.
namespace OnlineAccounts {

// The enabled mail accounts, in a bounded wait (EventWait, the windows taking no input).
QList<OnlineMailAccount> MailAccounts();

// The same without a wait: `done` gets the accounts, or the reason there are none to ask.
void ListMailAccounts(QObject *context,
                      const std::function<void(const QList<OnlineMailAccount> &, const QString &reason)> &done);

// The account of the address that kelvo can sign in with (OAuth2); else nothing, with why.
std::optional<OnlineMailAccount> AccountFor(const QList<OnlineMailAccount> &accounts, const QString &address,
                                            QString &reason);

// A fresh access token of the account (GetAccessToken), in a bounded wait.
QByteArray AccessToken(const OnlineMailAccount &account);

// How long the service may take to answer: DefaultWaitMs, time enough for it to start and
// to refresh a token over the network. Tests of a slow service make it short.
inline constexpr int DefaultWaitMs = 25000;
void SetWait(int milliseconds);

} // namespace OnlineAccounts
