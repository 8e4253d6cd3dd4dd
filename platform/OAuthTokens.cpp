#include "platform/OAuthTokens.h"

#include "platform/PasswordStore.h"

#include <QDeadlineTimer>
#include <QHash>

#include <algorithm>

namespace {

struct AccessToken
{
    QByteArray Token;
    QDeadlineTimer Expiry;
};

QHash<QString, AccessToken> &AccessTokens()
{
    static QHash<QString, AccessToken> tokens;
    return tokens;
}

} // namespace

namespace OAuthTokens {

QString Account(const QString &provider, const QString &login)
{
    return QStringLiteral("OAuth2 %1 %2").arg(provider, login);
}

std::optional<QByteArray> FreshAccessToken(const QString &account)
{
    const auto known = AccessTokens().constFind(account);
    if (known == AccessTokens().constEnd() || known->Expiry.hasExpired())
        return std::nullopt;
    return known->Token;
}

void DropAccessToken(const QString &account)
{
    auto known = AccessTokens().find(account);
    if (known == AccessTokens().end())
        return;
    known->Token.fill('\0');
    AccessTokens().erase(known);
}

std::optional<QByteArray> StoredRefreshToken(const QString &account)
{
    const std::optional<QString> stored = PasswordStore::Find(account);
    if (!stored || stored->isEmpty())
        return std::nullopt;
    return stored->toLatin1();
}

bool Keep(const QString &account, const TokenGrant &grant)
{
    DropAccessToken(account);
    // A token without an expiry is taken to last an hour, as most do.
    const int lasts = (grant.ExpiresIn > 0 ? grant.ExpiresIn : 3600) - ExpiryMarginSeconds;
    AccessTokens().insert(account, {grant.AccessToken, QDeadlineTimer(qint64(std::max(lasts, 0)) * 1000)});
    return grant.RefreshToken.isEmpty() || PasswordStore::Save(account, QString::fromLatin1(grant.RefreshToken));
}

QByteArray Refresh(const OAuthClient &client, const QString &account, const QByteArray &refreshToken)
{
    FormFields form{
        {"grant_type", "refresh_token"}, {"refresh_token", refreshToken}, {"client_id", client.ClientId.toUtf8()}};
    if (!client.ClientSecret.isEmpty())
        form.append({"client_secret", client.ClientSecret.toUtf8()});
    try {
        TokenGrant grant = RequestTokens(client.TokenUrl, form);
        Keep(account, grant);
        grant.RefreshToken.fill('\0');
        return grant.AccessToken;
    } catch (const ESignInEnded &) {
        SignOut(account);
        throw;
    }
}

void SignOut(const QString &account)
{
    DropAccessToken(account);
    PasswordStore::Forget(account);
}

} // namespace OAuthTokens
