#include "platform/TokenEndpoint.h"

#include "platform/EventWait.h"
#include "platform/HttpsTrust.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>

namespace {

// A provider's words in a message: printable, and not a page of them.
QString Shown(const QString &text)
{
    QString shown;
    for (const QChar c : text.left(200))
        shown += c.isPrint() ? c : QLatin1Char(' ');
    return text.size() > 200 ? shown + QStringLiteral("...") : shown;
}

// A token as it may stand in a keyring entry or an AUTH line: visible ASCII only.
bool IsVisibleAscii(const QByteArray &token)
{
    return std::all_of(token.begin(), token.end(), [](char c) { return c > 32 && c < 127; });
}

QByteArray FormBody(const FormFields &fields)
{
    QByteArray body;
    for (const auto &[name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(QString::fromUtf8(value));
    }
    return body;
}

} // namespace

TokenRequest::TokenRequest(const QUrl &endpoint, const FormFields &fields, QObject *parent)
    : QObject(parent), endpoint(endpoint), network(new QNetworkAccessManager(this))
{
    if (endpoint.scheme() != QLatin1String("https") || endpoint.host().isEmpty()) {
        Fail(QCoreApplication::translate("SignIn", "トークンの発行元 %1 は https:// で始まる必要があります。")
                 .arg(Shown(endpoint.toString())));
        return;
    }
    QNetworkRequest request(endpoint);
    request.setSslConfiguration(HttpsConfiguration());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    QByteArray body = FormBody(fields);
    reply = network->post(request, body);
    body.fill('\0');
    connect(reply, &QNetworkReply::readyRead, this, &TokenRequest::ReadSome);
    connect(reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError> &errors) {
        for (const QSslError &error : errors)
            tlsErrors << error.errorString();
    });
    connect(reply, &QNetworkReply::finished, this, &TokenRequest::Conclude);
}

TokenRequest::~TokenRequest()
{
    answer.fill('\0');
    if (reply && !reply->isFinished()) {
        reply->disconnect(this);
        reply->abort();
    }
}

void TokenRequest::Abort()
{
    if (reply && !reply->isFinished())
        reply->abort(); // finished follows, with OperationCanceledError
}

void TokenRequest::ReadSome()
{
    // Counted as it comes: an endpoint that sends without end must not fill the memory.
    const qint64 room = MaxAnswer + 1 - answer.size();
    answer += reply->read(std::max<qint64>(room, 0));
    if (answer.size() > MaxAnswer) {
        tooLarge = true;
        reply->abort();
    }
}

void TokenRequest::Fail(const QString &message)
{
    failure = std::make_exception_ptr(Exception(message));
    finished = true;
    // Told from the event loop, so that whoever waits has begun to.
    QMetaObject::invokeMethod(this, &TokenRequest::Finished, Qt::QueuedConnection);
}

void TokenRequest::Conclude()
{
    if (!tooLarge)
        ReadSome();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString host = endpoint.host();
    try {
        if (tooLarge)
            throw Exception(QCoreApplication::translate("SignIn", "%1 の応答が大きすぎます（%2 バイトまで）。")
                                .arg(host)
                                .arg(MaxAnswer));
        if (status == 0) {
            const QString reason = tlsErrors.isEmpty() ? reply->errorString() : tlsErrors.join(QStringLiteral("、"));
            throw Exception(
                QCoreApplication::translate("SignIn", "%1 に接続できませんでした（%2）。").arg(host, Shown(reason)));
        }
        if (status >= 300 && status < 400)
            throw Exception(QCoreApplication::translate(
                                "SignIn", "%1 が別の場所（%2）へ転送しようとしました。サインインの情報は転送しません。")
                                .arg(host, Shown(QString::fromUtf8(reply->rawHeader("Location")))));
        grant = ReadGrant(status);
    } catch (...) {
        failure = std::current_exception();
    }
    answer.fill('\0');
    finished = true;
    reply->deleteLater();
    reply = nullptr;
    emit Finished();
}

TokenGrant TokenRequest::ReadGrant(int status) const
{
    const QString host = endpoint.host();
    const QJsonObject json = QJsonDocument::fromJson(answer).object();
    if (json.isEmpty())
        throw Exception(
            QCoreApplication::translate("SignIn", "%1 の応答はトークンではありませんでした（HTTP %2、%3）。")
                .arg(host)
                .arg(status)
                .arg(Shown(reply->header(QNetworkRequest::ContentTypeHeader).toString())));
    if (status != 200) {
        const QString error = Shown(json.value("error").toString());
        const QString description = Shown(json.value("error_description").toString());
        const QString words = description.isEmpty() ? error : error + QStringLiteral(": ") + description;
        if (error == QLatin1String("invalid_grant"))
            throw ESignInEnded(
                QCoreApplication::translate("SignIn",
                                            "%1 へのサインインは終了しています（%2）。もう一度サインインしてください。")
                    .arg(host, words));
        throw Exception(QCoreApplication::translate("SignIn", "%1 がトークンの発行を断りました（HTTP %2、%3）。")
                            .arg(host)
                            .arg(status)
                            .arg(words));
    }
    TokenGrant tokens;
    tokens.AccessToken = json.value("access_token").toString().toUtf8();
    tokens.RefreshToken = json.value("refresh_token").toString().toUtf8();
    const QString type = json.value("token_type").toString(QStringLiteral("Bearer"));
    if (tokens.AccessToken.isEmpty() || !IsVisibleAscii(tokens.AccessToken) || !IsVisibleAscii(tokens.RefreshToken) ||
        type.compare(QLatin1String("Bearer"), Qt::CaseInsensitive) != 0)
        throw Exception(
            QCoreApplication::translate("SignIn", "%1 の応答に使えるアクセストークンがありませんでした。").arg(host));
    const QJsonValue expiresIn = json.value("expires_in");
    tokens.ExpiresIn = expiresIn.isDouble() ? expiresIn.toInt() : expiresIn.toString().toInt();
    return tokens;
}

TokenGrant TokenRequest::Grant() const
{
    if (failure)
        std::rethrow_exception(failure);
    return grant;
}

TokenGrant RequestTokens(const QUrl &endpoint, const FormFields &fields)
{
    EventWait wait(TokenWaitMs, true);
    TokenRequest request(endpoint, fields);
    QObject::connect(&request, &TokenRequest::Finished, [&wait] { wait.Finish(); });
    if (request.IsFinished())
        wait.Finish();
    switch (wait.Run()) {
    case EventWait::Finished:
        return request.Grant();
    case EventWait::TimedOut:
        throw Exception(QCoreApplication::translate("SignIn", "%1 が %2 秒以内に応答しませんでした。")
                            .arg(endpoint.host())
                            .arg(TokenWaitMs / 1000));
    case EventWait::Stopped:
        break;
    }
    throw Exception(QCoreApplication::translate("SignIn", "サインインを中止しました。"));
}
