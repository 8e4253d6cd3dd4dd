#pragma once

#include "platform/OAuthProviders.h"
#include "platform/TokenEndpoint.h"

#include <QObject>

#include <exception>
#include <functional>

class LoopbackRedirect;
class QTimer;
class TokenRequest;

// The user cancelled the sign-in (or the window it ran for was closed).
class ESignInCancelled : public Exception
{
public:
    using Exception::Exception;
};

// kelvo's own sign-in with a provider (RFC 8252): the authorization code flow with PKCE
// (S256) and a random state; the provider's page in the user's browser; the browser coming
// back to a loopback listener that is open only meanwhile; the code exchanged for tokens at
// the token endpoint over HTTPS. An answer without the state sent is refused before any
// token is asked for. One sign-in runs at a time.
class BrowserSignIn : public QObject
{
    Q_OBJECT
public:
    BrowserSignIn(const OAuthClient &client, const QString &loginHint, QObject *parent = nullptr);
    ~BrowserSignIn() override;

    // Opens the listener and the provider's page; throws when the sign-in cannot begin
    // (another one runs, the client lacks something, the browser did not open).
    void Start();
    void Cancel();
    bool IsFinished() const { return finished; }
    // Once Finished: the tokens, or the failure thrown (ESignInCancelled after Cancel).
    TokenGrant Grant() const;

    // Opens the provider's page: QDesktopServices::openUrl (xdg-open), unless a test
    // puts a browser of its own here.
    static std::function<bool(const QUrl &)> OpenBrowser;
    // How long the whole sign-in may take: DefaultTimeOutMs, unless a test shortens it.
    static constexpr int DefaultTimeOutMs = 5 * 60 * 1000;
    static int TimeOutMs;

signals:
    // The browser came back with a code; the tokens are being asked for.
    void CodeReceived();
    void Finished();

private:
    QUrl AuthorizationUrl() const;
    void TakeAnswer();
    void End(std::exception_ptr failure);

    OAuthClient client;
    QString loginHint;
    LoopbackRedirect *redirect;
    QTimer *timeOut;
    TokenRequest *tokenRequest = nullptr;
    QUrl redirectUri;
    QByteArray verifier, state;
    bool finished = false;
    TokenGrant grant;
    std::exception_ptr failure;
};
