#include "platform/BrowserSignIn.h"

#include "platform/LoopbackRedirect.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrlQuery>

#include <utility>

namespace {

constexpr auto Base64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// Random bytes from the system's generator, in base64url: 32 of them make a PKCE verifier
// of 43 characters (RFC 7636, 4.1), 16 a state nobody can guess.
QByteArray RandomText(int bytes)
{
    QByteArray random(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(random.begin(), random.end());
    QByteArray text = random.toBase64(Base64Url);
    random.fill('\0');
    return text;
}

// The only sign-in that may run.
BrowserSignIn *running = nullptr;

} // namespace

std::function<bool(const QUrl &)> BrowserSignIn::OpenBrowser = [](const QUrl &url) {
    return QDesktopServices::openUrl(url);
};
int BrowserSignIn::TimeOutMs = BrowserSignIn::DefaultTimeOutMs;

BrowserSignIn::BrowserSignIn(const OAuthClient &client, const QString &loginHint, QObject *parent)
    : QObject(parent), client(client), loginHint(loginHint), redirect(new LoopbackRedirect(this)),
      timeOut(new QTimer(this))
{
    timeOut->setSingleShot(true);
    connect(timeOut, &QTimer::timeout, this, [this] {
        End(std::make_exception_ptr(
            Exception(QCoreApplication::translate("SignIn", "%1 分以内にブラウザでのサインインが終わりませんでした。")
                          .arg(BrowserSignIn::TimeOutMs / 60000.0))));
    });
    connect(redirect, &LoopbackRedirect::Answered, this, &BrowserSignIn::TakeAnswer);
}

BrowserSignIn::~BrowserSignIn()
{
    if (running == this)
        running = nullptr;
    for (QByteArray *secret : {&verifier, &state})
        secret->fill('\0');
}

void BrowserSignIn::Start()
{
    if (running)
        throw Exception(QCoreApplication::translate(
            "SignIn", "別のサインインを待っています。そちらをブラウザで終えるか、キャンセルしてください。"));
    const QString lacks = WhatSignInLacks(client);
    if (!lacks.isEmpty())
        throw Exception(lacks);
    if (!redirect->Listen())
        throw Exception(QCoreApplication::translate("SignIn", "サインインの戻り先（127.0.0.1）を開けませんでした。"));
    // Kept: the listener forgets its port once it has closed, and the token request must
    // name the same redirect URI as the authorization request.
    redirectUri = redirect->RedirectUri();
    verifier = RandomText(32);
    state = RandomText(16);
    const QString page = QCoreApplication::translate(
                             "SignIn", "kelvo：%1 へのサインインの結果を受け取りました。このタブは閉じてかまいません。")
                             .arg(client.Name)
                             .toHtmlEscaped();
    redirect->Page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>kelvo</title></head><body><p>" +
                     page.toUtf8() + "</p></body></html>";
    if (!OpenBrowser(AuthorizationUrl())) {
        redirect->Close();
        throw Exception(QCoreApplication::translate("SignIn", "ブラウザを開けませんでした。"));
    }
    running = this;
    timeOut->start(TimeOutMs);
}

QUrl BrowserSignIn::AuthorizationUrl() const
{
    const QByteArray challenge = QCryptographicHash::hash(verifier, QCryptographicHash::Sha256).toBase64(Base64Url);
    QList<std::pair<QString, QString>> fields{
        {"response_type", "code"},
        {"client_id", client.ClientId},
        {"redirect_uri", redirectUri.toString()},
        {"scope", client.Scope},
        {"state", QString::fromLatin1(state)},
        {"code_challenge", QString::fromLatin1(challenge)},
        {"code_challenge_method", "S256"},
    };
    if (!loginHint.isEmpty())
        fields.append({"login_hint", loginHint});
    fields += client.ExtraParameters;
    // Spelt out by hand, so that a "+" or "&" in a value stays what it is.
    QUrl url = client.AuthorizeUrl;
    QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
    for (const auto &[name, value] : fields)
        query += (query.isEmpty() ? "" : "&") + QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    url.setQuery(QString::fromLatin1(query));
    return url;
}

void BrowserSignIn::TakeAnswer()
{
    const QUrlQuery answer = redirect->Answer();
    const auto value = [&answer](const char *name) {
        return answer.queryItemValue(QLatin1String(name), QUrl::FullyDecoded);
    };
    // An answer that does not carry our state was not asked for by this sign-in: whoever
    // sent it gets no token request with its code.
    if (value("state").toLatin1() != state || state.isEmpty())
        return End(std::make_exception_ptr(Exception(QCoreApplication::translate(
            "SignIn", "サインインの戻りの state が送ったものと一致しないため、安全のため中止しました。"))));
    if (!value("error").isEmpty()) {
        const QString words = (value("error") + QLatin1Char(' ') + value("error_description")).trimmed().left(200);
        return End(std::make_exception_ptr(Exception(
            QCoreApplication::translate("SignIn", "%1 がサインインを断りました（%2）。").arg(client.Name, words))));
    }
    QByteArray code = value("code").toUtf8();
    if (code.isEmpty())
        return End(std::make_exception_ptr(Exception(
            QCoreApplication::translate("SignIn", "%1 からの戻りにコードがありませんでした。").arg(client.Name))));
    FormFields form{{"grant_type", "authorization_code"},
                    {"code", code},
                    {"redirect_uri", redirectUri.toString().toUtf8()},
                    {"client_id", client.ClientId.toUtf8()},
                    {"code_verifier", verifier}};
    if (!client.ClientSecret.isEmpty())
        form.append({"client_secret", client.ClientSecret.toUtf8()});
    tokenRequest = new TokenRequest(client.TokenUrl, form, this);
    code.fill('\0');
    for (auto &field : form)
        field.second.fill('\0');
    connect(tokenRequest, &TokenRequest::Finished, this, [this] {
        try {
            grant = tokenRequest->Grant();
            End(nullptr);
        } catch (...) {
            End(std::current_exception());
        }
    });
    emit CodeReceived();
}

void BrowserSignIn::Cancel()
{
    End(std::make_exception_ptr(
        ESignInCancelled(QCoreApplication::translate("SignIn", "サインインをキャンセルしました。"))));
}

void BrowserSignIn::End(std::exception_ptr failed)
{
    if (finished)
        return;
    finished = true;
    failure = std::move(failed);
    timeOut->stop();
    redirect->Close();
    if (tokenRequest && !tokenRequest->IsFinished()) {
        tokenRequest->disconnect(this);
        tokenRequest->Abort();
    }
    if (running == this)
        running = nullptr;
    emit Finished();
}

TokenGrant BrowserSignIn::Grant() const
{
    if (failure)
        std::rethrow_exception(failure);
    return grant;
}
