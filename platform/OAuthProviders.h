#pragma once

#include "platform/SmtpSecurity.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <utility>

// The providers kelvo signs in with by itself (OAuth2 for native apps, RFC 8252): one row
// each, a custom one among them. The desktop's online account ("desktop") is no row: the
// desktop signs in for kelvo there.
struct OAuthProvider
{
    QString Key; // as [oauth] Provider names it
    QString AuthorizeUrl, TokenUrl, Scope;
    // Built into this kelvo from the build's CMake cache (KELVO_<PROVIDER>_CLIENT_ID, ...):
    // empty unless whoever built it registered a client with the provider.
    QString ClientId, ClientSecret;
    // What the provider needs in the authorization request to give a refresh token too.
    QList<std::pair<QString, QString>> ExtraParameters;
    QString SmtpHost;
    int SmtpPort = 0;
    SmtpSecurity Security = SmtpSecurity::None;
};

// The row named by key ("microsoft", "google", "custom"); nothing for any other.
const OAuthProvider *FindProvider(const QString &key);

// The name the user reads: "Microsoft", "Google", or for a custom provider the host of its
// authorization page.
QString ProviderName(const QString &key, const QString &authorizeUrl = {});

// Where the provider takes mail from the address: Microsoft's personal accounts
// (outlook.com, hotmail, live, msn) have a server of their own, organisations another.
QString ProviderSmtpHost(const OAuthProvider &provider, const QString &senderAddress);

// The values of [oauth] that stand in for a row's own; empty ones leave the row's.
struct OAuthOverrides
{
    QString ClientId, ClientSecret, AuthorizeUrl, TokenUrl, Scope;
    bool operator==(const OAuthOverrides &) const = default;
};

// A provider's row with the overrides applied: what a sign-in and its refreshes use.
struct OAuthClient
{
    QString Provider; // the row's key
    QString Name;
    QUrl AuthorizeUrl, TokenUrl;
    QString Scope, ClientId, ClientSecret;
    QList<std::pair<QString, QString>> ExtraParameters;
};
OAuthClient ClientFor(const QString &provider, const OAuthOverrides &overrides);

// What keeps the client from signing in, as the user reads it (a client ID missing, a page
// that is not https://); empty when nothing does.
QString WhatSignInLacks(const OAuthClient &client);
