#include "platform/OnlineAccounts.h"

#include "platform/EventWait.h"
#include "platform/Exception.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMap>

namespace {

const QString Service = QStringLiteral("org.gnome.OnlineAccounts");
const QString MailInterface = QStringLiteral("org.gnome.OnlineAccounts.Mail");
const QString OAuth2Interface = QStringLiteral("org.gnome.OnlineAccounts.OAuth2Based");
const QString AccountInterface = QStringLiteral("org.gnome.OnlineAccounts.Account");

int waitMs = OnlineAccounts::DefaultWaitMs;

QDBusPendingCall Ask(const QString &path, const QString &interface, const QString &method)
{
    return QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(Service, path, interface, method),
                                                   waitMs);
}

// Why a call came back with an error, as the user reads it.
QString Reason(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
        return QCoreApplication::translate(
            "SignIn", "デスクトップにオンラインアカウントのサービス（GNOME Online Accounts）がありません。");
    case QDBusError::NoReply:
    case QDBusError::Timeout:
        return QCoreApplication::translate("SignIn",
                                           "デスクトップのオンラインアカウントが %1 秒以内に応答しませんでした。")
            .arg(waitMs / 1000);
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
        return QCoreApplication::translate("SignIn", "デスクトップのセッションバス（D-Bus）に接続できません。");
    default:
        return QCoreApplication::translate("SignIn", "デスクトップのオンラインアカウントがエラーを返しました（%1）。")
            .arg(error.message().left(200));
    }
}

// "host" or "host:port"; without a port, the usual one of the protection.
void SetServer(OnlineMailAccount &account, const QString &server)
{
    const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
    bool number = false;
    const int port = colon > 0 ? server.mid(colon + 1).toInt(&number) : 0;
    const bool hasPort = number && port > 0 && port < 65536 && !server.left(colon).contains(QLatin1Char(':'));
    account.SmtpHost = hasPort ? server.left(colon) : server;
    account.SmtpPort = hasPort                                      ? port
                       : account.Security == SmtpSecurity::Tls      ? 465
                       : account.Security == SmtpSecurity::StartTls ? 587
                                                                    : 25;
}

// The accounts of a GetManagedObjects answer (a{oa{sa{sv}}}) that have mail that is on.
QList<OnlineMailAccount> MailAccountsOf(const QDBusMessage &answer)
{
    QMap<QDBusObjectPath, QMap<QString, QVariantMap>> objects;
    answer.arguments().value(0).value<QDBusArgument>() >> objects;
    QList<OnlineMailAccount> accounts;
    for (auto object = objects.cbegin(); object != objects.cend(); ++object) {
        const QVariantMap mail = object->value(MailInterface), account = object->value(AccountInterface);
        if (!object->contains(MailInterface) || account.value("MailDisabled").toBool() ||
            !mail.value("SmtpSupported", true).toBool())
            continue;
        OnlineMailAccount found;
        found.Path = object.key().path();
        found.Provider = account.value("ProviderName").toString();
        found.Address = mail.value("EmailAddress").toString();
        found.Security = mail.value("SmtpUseSsl").toBool()   ? SmtpSecurity::Tls
                         : mail.value("SmtpUseTls").toBool() ? SmtpSecurity::StartTls
                                                             : SmtpSecurity::None;
        SetServer(found, mail.value("SmtpHost").toString());
        found.SmtpUser = mail.value("SmtpUserName").toString();
        if (found.SmtpUser.isEmpty())
            found.SmtpUser = found.Address;
        found.OAuth2 = object->contains(OAuth2Interface);
        accounts.append(found);
    }
    return accounts;
}

// Waits for a call in the event loop, within the bound; the answer, or the reason thrown.
QDBusMessage Await(const QDBusPendingCall &call)
{
    EventWait wait(waitMs + 1000, true);
    QDBusPendingCallWatcher watcher(call);
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, [&wait] { wait.Finish(); });
    if (watcher.isFinished())
        wait.Finish();
    switch (wait.Run()) {
    case EventWait::Finished:
        if (watcher.isError())
            throw Exception(Reason(watcher.error()));
        return watcher.reply();
    case EventWait::TimedOut:
        throw Exception(Reason(QDBusError(QDBusError::Timeout, {})));
    case EventWait::Stopped:
        break;
    }
    throw Exception(QCoreApplication::translate("SignIn", "サインインを中止しました。"));
}

} // namespace

namespace OnlineAccounts {

QList<OnlineMailAccount> MailAccounts()
{
    return MailAccountsOf(
        Await(Ask("/org/gnome/OnlineAccounts", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects")));
}

void ListMailAccounts(QObject *context,
                      const std::function<void(const QList<OnlineMailAccount> &, const QString &reason)> &done)
{
    if (!QDBusConnection::sessionBus().isConnected())
        return done({}, Reason(QDBusError(QDBusError::Disconnected, {})));
    auto *watcher = new QDBusPendingCallWatcher(
        Ask("/org/gnome/OnlineAccounts", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects"), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done] {
        watcher->deleteLater();
        if (watcher->isError())
            done({}, Reason(watcher->error()));
        else
            done(MailAccountsOf(watcher->reply()), {});
    });
}

std::optional<OnlineMailAccount> AccountFor(const QList<OnlineMailAccount> &accounts, const QString &address,
                                            QString &reason)
{
    for (const OnlineMailAccount &account : accounts) {
        if (account.Address.compare(address, Qt::CaseInsensitive) != 0)
            continue;
        if (account.OAuth2)
            return account;
        reason =
            QCoreApplication::translate(
                "SignIn",
                "デスクトップの %1 のアカウントはパスワードでログインするもので、OAuth2 のサインインではありません。")
                .arg(address);
        return std::nullopt;
    }
    reason = QCoreApplication::translate("SignIn",
                                         "デスクトップのオンラインアカウントに %1 のメールアカウントがありません。")
                 .arg(address);
    return std::nullopt;
}

QByteArray AccessToken(const OnlineMailAccount &account)
{
    const QDBusMessage answer = Await(Ask(account.Path, OAuth2Interface, "GetAccessToken"));
    QByteArray token = answer.arguments().value(0).toString().toLatin1();
    if (token.isEmpty())
        throw Exception(QCoreApplication::translate(
            "SignIn", "デスクトップのオンラインアカウントがアクセストークンを返しませんでした。"));
    return token;
}

void SetWait(int milliseconds)
{
    waitMs = milliseconds;
}

} // namespace OnlineAccounts
