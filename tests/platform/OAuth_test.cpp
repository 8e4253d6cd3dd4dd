// kelvo's own sign-in and the token endpoint against smtp_sink.py's OAuth2 provider over HTTPS (the test CA): a
// provider that is not ours, which checks the PKCE verifier against the challenge.
#include "platform/BrowserSignIn.h"
#include "platform/OAuthTokens.h"
#include "platform/PasswordStore.h"

#include "support/Failure.h"
#include "support/SmtpSink.h"

#include <QProcess>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// curl as the browser: it fetches the provider's page and follows its redirect back to kelvo's listener.
bool Curl(const QUrl &url)
{
    auto *curl = new QProcess(QCoreApplication::instance());
    QObject::connect(curl, &QProcess::finished, curl, &QObject::deleteLater);
    curl->start("curl", {"-s", "-L", "--max-redirs", "1", "--cacert", qEnvironmentVariable("SSL_CERT_FILE"),
                         url.toString(QUrl::FullyEncoded)});
    return true;
}

QString At(const SmtpSink &provider, const char *path, const QString &scheme = "https")
{
    return scheme + "://localhost:" + QString::number(provider.HttpsPort()) + path;
}

using Meanwhile = std::function<void(BrowserSignIn &)>;

// A whole sign-in with curl as the browser, or with a browser that never comes back while `meanwhile` acts; its
// failure, or "(none)".
QString SignInFailure(const OAuthClient &client, const Meanwhile &meanwhile = {}, TokenGrant *grant = nullptr)
{
    BrowserSignIn::OpenBrowser = meanwhile ? [](const QUrl &) { return true; } : Curl;
    BrowserSignIn signIn(client, "taro@example.jp");
    if (QString failure = FailureOf([&] { signIn.Start(); }); !failure.isEmpty())
        return failure;
    if (meanwhile)
        meanwhile(signIn);
    EXPECT_TRUE(QTest::qWaitFor([&] { return signIn.IsFinished(); }, 10000));
    return FailureOf([&] { grant ? void(*grant = signIn.Grant()) : void(signIn.Grant()); }, "(none)");
}

// The flow, and every way it ends without tokens: the provider's refusal, an answer without our state (no token
// is asked for with its code), Cancel, the time-out, a second sign-in meanwhile, a page that is not https://.
TEST(SignIn, ThroughTheBrowserWithPkceAndAState)
{
    SmtpSink provider(SmtpSink::OAuth);
    ASSERT_NE(provider.HttpsPort(), 0) << provider.Error().toStdString();
    const OAuthClient client =
        ClientFor("custom", {"kelvo-test-client", "", At(provider, "/authorize"), At(provider, "/token"), "smtp"});
    TokenGrant grant;
    EXPECT_EQ(SignInFailure(client, {}, &grant), "(none)");
    EXPECT_TRUE(grant.AccessToken.startsWith("kelvo-test-access-") &&
                grant.RefreshToken.startsWith("kelvo-test-refresh-"));
    EXPECT_EQ(grant.ExpiresIn, 3600);

    BrowserSignIn::TimeOutMs = 300;
    const Meanwhile none = [](BrowserSignIn &) {};
    const QString timedOut = "0.005 分以内にブラウザでのサインインが終わりませんでした。";
    OAuthClient plain = client;
    plain.AuthorizeUrl = At(provider, "/authorize", "http");
    const std::tuple<const char *, Meanwhile, QString, OAuthClient> rows[] = {
        {"set authorize_error access_denied", {}, "localhost がサインインを断りました（access_denied）。", client},
        {"set state wrong",
         {},
         "サインインの戻りの state が送ったものと一致しないため、安全のため中止しました。",
         client},
        {"", [](BrowserSignIn &s) { QTimer::singleShot(50, &s, &BrowserSignIn::Cancel); },
         "サインインをキャンセルしました。", client},
        {"", none, timedOut, client},
        {"",
         [&](BrowserSignIn &) {
             EXPECT_EQ(SignInFailure(client, none),
                       "別のサインインを待っています。そちらをブラウザで終えるか、キャンセルしてください。");
         },
         timedOut, client},
        {"", {}, plain.AuthorizeUrl.toString() + " は https:// で始まるURLではありません。", plain},
    };
    const QByteArray tokenRequests = provider.Control("get token_requests");
    for (const auto &[command, meanwhile, failure, rowClient] : rows) {
        SCOPED_TRACE(failure.toStdString());
        provider.Control("set authorize_error ");
        provider.Control("set state keep");
        provider.Control(command);
        EXPECT_EQ(SignInFailure(rowClient, meanwhile), failure);
    }
    EXPECT_EQ(provider.Control("get token_requests"), tokenRequests);
    BrowserSignIn::TimeOutMs = BrowserSignIn::DefaultTimeOutMs;
}

// What the token endpoint answers that gives no token, each a clear message: a refused refresh token (which is then
// forgotten), a page, JSON without a token, an answer without end, a redirect elsewhere, plain HTTP, a certificate
// of a CA that is not trusted.
TEST(SignIn, TokenEndpointAnswersWithoutAToken)
{
    SmtpSink provider(SmtpSink::OAuth);
    ASSERT_NE(provider.HttpsPort(), 0) << provider.Error().toStdString();
    PasswordStore::UseKeyring(false);
    const QString untrusted = SmtpSink::Certificates() + "/rogue.pem", trusted = qEnvironmentVariable("SSL_CERT_FILE");
    const std::tuple<const char *, QString, QString, QString> rows[] = {
        {"json", "https", trusted,
         "localhost へのサインインは終了しています（invalid_grant: The grant is no longer valid.）。"
         "もう一度サインインしてください。"},
        {"html", "https", trusted, "localhost の応答はトークンではありませんでした（HTTP 200、text/html）。"},
        {"noaccess", "https", trusted, "localhost の応答に使えるアクセストークンがありませんでした。"},
        {"huge", "https", trusted, "localhost の応答が大きすぎます（262144 バイトまで）。"},
        {"redirect", "https", trusted,
         "localhost "
         "が別の場所（http://example.invalid/token）へ転送しようとしました。サインインの情報は転送しません。"},
        {"json", "http", trusted,
         "トークンの発行元 " + At(provider, "/token", "http") + " は https:// で始まる必要があります。"},
        {"json", "https", untrusted,
         "localhost に接続できませんでした（The issuer certificate of a locally looked up certificate could not be "
         "found"},
    };
    for (const auto &[answer, scheme, certificates, failure] : rows) {
        SCOPED_TRACE(answer);
        provider.Control(QByteArray("set token_answer ") + answer);
        qputenv("SSL_CERT_FILE", certificates.toLocal8Bit());
        PasswordStore::Remember("account", "kelvo-test-refresh-unknown");
        const OAuthClient client =
            ClientFor("custom", {"kelvo-test-client", "", "", At(provider, "/token", scheme), ""});
        const QString refused =
            FailureOf([&] { OAuthTokens::Refresh(client, "account", "kelvo-test-refresh-unknown"); });
        EXPECT_TRUE(refused.startsWith(failure)) << refused.toStdString();
        // Only a refusal of the refresh token forgets it.
        EXPECT_EQ(OAuthTokens::StoredRefreshToken("account").has_value(),
                  answer != QByteArray("json") || scheme == "http" || certificates == untrusted);
    }
    qputenv("SSL_CERT_FILE", trusted.toLocal8Bit());
}

} // namespace
