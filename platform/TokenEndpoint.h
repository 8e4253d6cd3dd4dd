#pragma once

#include "platform/Exception.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <exception>
#include <utility>

class QNetworkAccessManager;
class QNetworkReply;

// What a token endpoint gave. Secrets, like a password: never in a file or a text shown.
struct TokenGrant
{
    QByteArray AccessToken;
    QByteArray RefreshToken; // empty when none came (a refresh then keeps the old one)
    int ExpiresIn = 0;       // seconds the access token lasts; 0 when the endpoint did not say
};

// The token endpoint refused the refresh token (invalid_grant): the sign-in has ended, and
// only signing in again gives a new one.
class ESignInEnded : public Exception
{
public:
    using Exception::Exception;
};

// The fields of a request's form, the values as bytes (they may be secrets).
using FormFields = QList<std::pair<QString, QByteArray>>;

// One POST of a form to a token endpoint (RFC 6749) over HTTPS, with the trust of
// HttpsConfiguration: a plain http:// endpoint is refused before anything is sent, and a
// redirect is never followed (the form carries secrets, which belong to that endpoint
// alone). The answer is read up to MaxAnswer bytes. Finished fires once, also after Abort.
class TokenRequest : public QObject
{
    Q_OBJECT
public:
    TokenRequest(const QUrl &endpoint, const FormFields &fields, QObject *parent = nullptr);
    ~TokenRequest() override;

    void Abort();
    bool IsFinished() const { return finished; }
    // Once Finished: the tokens, or the failure as the user reads it thrown (ESignInEnded
    // for invalid_grant).
    TokenGrant Grant() const;

    static constexpr qint64 MaxAnswer = 256 * 1024;

signals:
    void Finished();

private:
    void ReadSome();
    void Conclude();
    TokenGrant ReadGrant(int status) const;
    void Fail(const QString &message);

    QUrl endpoint;
    QNetworkAccessManager *network;
    QNetworkReply *reply = nullptr;
    QByteArray answer;
    bool tooLarge = false;
    bool finished = false;
    QStringList tlsErrors;
    TokenGrant grant;
    std::exception_ptr failure;
};

// One request in a bounded wait (EventWait, the windows taking no input): the tokens, or the
// failure thrown. A wait that times out or is stopped throws too.
TokenGrant RequestTokens(const QUrl &endpoint, const FormFields &fields);
inline constexpr int TokenWaitMs = 60000;
