#pragma once

#include "platform/OAuthProviders.h"
#include "platform/TokenEndpoint.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The tokens of kelvo's own sign-ins. The refresh token is kept like the password
// (PasswordStore: the keyring, an entry of its own per provider and login, or memory until
// kelvo ends); the access token only in memory, until a minute before it expires.
namespace OAuthTokens {

// The name the sign-in is kept under: the provider and the login name.
QString Account(const QString &provider, const QString &login);

// The access token of account while it lasts.
std::optional<QByteArray> FreshAccessToken(const QString &account);
void DropAccessToken(const QString &account);

// The stored refresh token, in memory or in the keyring; nothing when there is none or the
// keyring does not answer.
std::optional<QByteArray> StoredRefreshToken(const QString &account);

// Keeps what a sign-in or a refresh gave: the access token in memory, a refresh token (if one
// came) in the keyring. False when the keyring did not take it: it is then kept in memory.
bool Keep(const QString &account, const TokenGrant &grant);

// Asks the token endpoint for a new access token with the refresh token, and keeps what
// comes. Throws the failure; ESignInEnded when the endpoint refused the refresh token,
// which is then forgotten.
QByteArray Refresh(const OAuthClient &client, const QString &account, const QByteArray &refreshToken);

// Forgets the sign-in: both tokens, in memory and in the keyring.
void SignOut(const QString &account);

// An access token is not used in its last minute: the send that takes it may need that long.
inline constexpr int ExpiryMarginSeconds = 60;

} // namespace OAuthTokens
