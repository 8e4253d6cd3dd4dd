#include "platform/OAuthProviders.h"

#include <QCoreApplication>

#include <iterator>

namespace {

const OAuthProvider Providers[] = {
    {"microsoft",
     "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
     "https://login.microsoftonline.com/common/oauth2/v2.0/token",
     "https://outlook.office.com/SMTP.Send offline_access",
     KELVO_MICROSOFT_CLIENT_ID,
     KELVO_MICROSOFT_CLIENT_SECRET,
     {},
     "smtp.office365.com",
     587,
     SmtpSecurity::StartTls},
    {"google",
     "https://accounts.google.com/o/oauth2/v2/auth",
     "https://oauth2.googleapis.com/token",
     "https://mail.google.com/",
     KELVO_GOOGLE_CLIENT_ID,
     KELVO_GOOGLE_CLIENT_SECRET,
     // Google gives a refresh token only to a request for offline access, and again only
     // when it asks for consent.
     {{"access_type", "offline"}, {"prompt", "consent"}},
     "smtp.gmail.com",
     465,
     SmtpSecurity::Tls},
    {"custom", "", "", "", "", "", {}, "", 0, SmtpSecurity::StartTls},
};

// Microsoft's personal accounts, by the first label of their domain (outlook.com,
// outlook.jp, hotmail.co.jp, live.jp, msn.com, ...).
const QString PersonalMicrosoftDomains[] = {"outlook", "hotmail", "live", "msn", "windowslive", "passport"};

} // namespace

const OAuthProvider *FindProvider(const QString &key)
{
    for (const OAuthProvider &provider : Providers)
        if (provider.Key == key)
            return &provider;
    return nullptr;
}

QString ProviderName(const QString &key, const QString &authorizeUrl)
{
    if (key == QLatin1String("microsoft"))
        return QStringLiteral("Microsoft");
    if (key == QLatin1String("google"))
        return QStringLiteral("Google");
    const QString host = QUrl(authorizeUrl).host();
    return host.isEmpty() ? QCoreApplication::translate("SignIn", "OAuth2 のプロバイダ") : host;
}

QString ProviderSmtpHost(const OAuthProvider &provider, const QString &senderAddress)
{
    if (provider.Key != QLatin1String("microsoft"))
        return provider.SmtpHost;
    const QString domain = senderAddress.section(QLatin1Char('@'), -1).section(QLatin1Char('.'), 0, 0).toLower();
    for (const QString &personal : PersonalMicrosoftDomains)
        if (domain == personal)
            return QStringLiteral("smtp-mail.outlook.com");
    return provider.SmtpHost;
}

OAuthClient ClientFor(const QString &provider, const OAuthOverrides &overrides)
{
    const OAuthProvider *row = FindProvider(provider);
    const OAuthProvider none;
    const OAuthProvider &base = row ? *row : none;
    const auto either = [](const QString &own, const QString &builtIn) { return own.isEmpty() ? builtIn : own; };
    OAuthClient client;
    client.Provider = provider;
    client.AuthorizeUrl = QUrl(either(overrides.AuthorizeUrl, base.AuthorizeUrl));
    client.TokenUrl = QUrl(either(overrides.TokenUrl, base.TokenUrl));
    client.Name = ProviderName(provider, client.AuthorizeUrl.toString());
    client.Scope = either(overrides.Scope, base.Scope);
    client.ClientId = either(overrides.ClientId, base.ClientId);
    // A secret belongs to its client ID: the built-in one only goes with the built-in ID.
    client.ClientSecret =
        overrides.ClientId.isEmpty() ? either(overrides.ClientSecret, base.ClientSecret) : overrides.ClientSecret;
    client.ExtraParameters = base.ExtraParameters;
    return client;
}

QString WhatSignInLacks(const OAuthClient &client)
{
    if (client.AuthorizeUrl.isEmpty() || client.TokenUrl.isEmpty() || client.Scope.isEmpty())
        return QCoreApplication::translate("SignIn",
                                           "「詳細…」で認可ページのURL、トークンのURL、スコープを入力してください。");
    for (const QUrl &url : {client.AuthorizeUrl, client.TokenUrl})
        if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty())
            return QCoreApplication::translate("SignIn", "%1 は https:// で始まるURLではありません。")
                .arg(url.toString());
    if (client.ClientId.isEmpty())
        return QCoreApplication::translate(
                   "SignIn",
                   "この kelvo には %1 のクライアントIDがありません。README の「サインイン用のクライアントID」の手順で"
                   "登録し、「詳細…」に入力してください。")
            .arg(client.Name);
    return {};
}
