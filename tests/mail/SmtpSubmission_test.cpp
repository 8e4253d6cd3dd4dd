#include "mail/SmtpClient.h"

#include "support/Failure.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"
#include "support/TestFolder.h"

#include <QJsonArray>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using S = ScriptedSmtpServer;

// A client set up as the window does it, watched so that a wait that never ends fails the
// test instead of hanging it.
class Submission : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(SmtpSink::Certificates().isEmpty());
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            stuck = true;
            smtp.Cancel();
        });
        smtp.Host = "localhost";
        smtp.UserID = "kelvo-host";
        smtp.TimeOut = 5000;
        MailMessage &m = smtp.PostMessage;
        m.FromAddress = "sender@example.com";
        m.Subject = "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=";
        m.Body = {"Hello.", ".", "", "Bye."};
        smtp.OnSecured = [this](QObject *) { events << "secured"; };
        smtp.OnAuthenticated = [this](QObject *) { events << "authenticated"; };
        smtp.OnPacketSent = [this](QObject *) { progress << smtp.SentBytes; };
    }
    void TearDown() override { EXPECT_FALSE(stuck) << "a wait did not end by itself"; }

    // Connect, SendMail and Disconnect as the window runs them; the first failure's message.
    template <typename E = Exception> QString Send(quint16 port, SmtpSecurity security, bool auth = false)
    {
        smtp.Port = port;
        smtp.Security = security;
        smtp.Auth = auth;
        smtp.PostMessage.ToAddress = {"Phone <phone@example.jp>"};
        smtp.PostMessage.ToBlindCarbonCopy = {"bcc@example.jp"};
        events.clear();
        progress.clear();
        watchdog.start(15000);
        return FailureOf<E>([&] {
            smtp.Connect();
            smtp.SendMail();
            smtp.Disconnect();
        });
    }

    TestFolder folder;
    SmtpClient smtp;
    QTimer watchdog;
    bool stuck = false;
    QStringList events;
    QList<qint32> progress;
};

// Read back by aiosmtpd and Python's email package: readers that are not ours.
TEST_F(Submission, RealServerDeliversInEveryMode)
{
    QByteArray picture(1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < picture.size(); ++i)
        picture[i] = char((i * 7919) >> 5);
    folder.Write(QStringLiteral("写真.jpg"), picture);
    struct Row
    {
        SmtpSink::Mode mode;
        SmtpSecurity security;
        QByteArray user, password;
    } rows[] = {
        {SmtpSink::Plain, SmtpSecurity::None, "", ""},
        {SmtpSink::StartTls, SmtpSecurity::StartTls, "kelvo", "secret"},
        {SmtpSink::Tls, SmtpSecurity::Tls, "ユーザー", "pässwörd 秘密"}, // UTF-8 credentials
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(int(row.mode));
        SmtpSink sink(row.mode);
        ASSERT_NE(sink.Port(), 0) << sink.Error().toStdString();
        smtp.PostMessage.Attachments = {folder.File(QStringLiteral("写真.jpg"))};
        smtp.AuthUser = row.user;
        smtp.Password = row.password;
        EXPECT_EQ(Send(sink.Port(), row.security, !row.user.isEmpty()), "");
        EXPECT_EQ(events, row.user.isEmpty() ? QStringList() : QStringList({"secured", "authenticated"}));
        // Progress moves through the whole message, over TLS as in the clear.
        EXPECT_GT(progress.size(), 10);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_EQ(progress.last(), smtp.TotalBytes);

        const QList<SmtpSink::Message> got = sink.WaitForMessages(1);
        ASSERT_EQ(got.size(), 1);
        EXPECT_EQ(got[0].Rcpt, QList<QByteArray>({"phone@example.jp", "bcc@example.jp"}));
        EXPECT_EQ(got[0].Helo, "kelvo-host");
        EXPECT_EQ(got[0].Login, row.user);
        const QJsonObject parsed = SmtpSink::Parse(got[0].Data);
        EXPECT_EQ(parsed["defects"].toArray().size(), 0);
        const QJsonArray parts = parsed["parts"].toArray();
        ASSERT_EQ(parts.size(), 2);
        EXPECT_EQ(SmtpSink::PartData(parsed, 0), "Hello.\r\n.\r\n\r\nBye."); // dot-stuffing undone
        EXPECT_EQ(parts[1]["filename"].toString(), QStringLiteral("写真.jpg"));
        EXPECT_EQ(parts[1]["defects"].toArray().size(), 0);
        EXPECT_EQ(SmtpSink::PartData(parsed, 1), picture);
        EXPECT_FALSE(got[0].Data.contains("bcc@"));
    }
}

TEST_F(Submission, RealServerRefusalsEndTheSendBeforeTheMail)
{
    struct Row
    {
        const char *name;
        SmtpSink::Mode mode;
        const char *certificate;
        SmtpSecurity security;
        QByteArray password;
        QString failure;
    } rows[] = {
        {"wrong password", SmtpSink::StartTls, "good", SmtpSecurity::StartTls, "wrong",
         "localhost にログインできませんでした（535 5.7.8 Authentication credentials invalid）。"},
        {"certificate of another host", SmtpSink::Tls, "other", SmtpSecurity::Tls, "secret",
         "localhost の証明書を確認できません（hostname mismatch）。"},
        {"unknown issuer", SmtpSink::StartTls, "unknown", SmtpSecurity::StartTls, "secret",
         "localhost の証明書を確認できません（unable to get local issuer certificate）。"},
        {"no STARTTLS", SmtpSink::Plain, "good", SmtpSecurity::StartTls, "secret",
         "localhost は STARTTLS に対応していません。セキュリティの設定を確認してください。"},
    };
    smtp.AuthUser = "kelvo";
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SmtpSink sink(row.mode, row.certificate);
        smtp.Password = row.password;
        // A refused login is an EAuthError (FailureOf lets any other kind through).
        EXPECT_EQ(row.password == "wrong" ? Send<EAuthError>(sink.Port(), row.security, true)
                                          : Send(sink.Port(), row.security, true),
                  row.failure);
        EXPECT_FALSE(smtp.Connected);
        EXPECT_FALSE(events.contains("authenticated"));
        EXPECT_TRUE(sink.Messages().isEmpty());
    }
}

TEST_F(Submission, BadServersAndBadInputEndClearlyAndTheClientGoesOn)
{
    const QByteArray good = SmtpSink::Certificates().toUtf8() + "/good";
    const S::Script toTls{S::Say("220 hi"),
                          S::Expect("EHLO kelvo-host"),
                          S::SayRaw("250-test\r\n250-AUTH PLAIN LOGIN\r\n250 STARTTLS\r\n"),
                          S::Expect("STARTTLS"),
                          S::Say("220 go ahead"),
                          S::Handshake(good),
                          S::Expect("EHLO kelvo-host")};
    struct Row
    {
        const char *name;
        SmtpSecurity security;
        S::Script script;
        QString failureStart;
        QByteArray password = "secret";
        bool auth = true;
    } rows[] = {
        {"close during the handshake",
         SmtpSecurity::Tls,
         {S::Hangup()},
         "localhost と暗号化した接続を確立できません（"},
        {"garbage during the handshake",
         SmtpSecurity::Tls,
         {S::Say("220 not TLS at all"), S::Wait(500)},
         "localhost と暗号化した接続を確立できません（"},
        {"silence during the handshake",
         SmtpSecurity::Tls,
         {S::Wait(3000)},
         "The server did not answer within 0.3 seconds"},
        {"AUTH offered only before TLS", SmtpSecurity::StartTls,
         toTls + S::Script{S::Say("250 test"), S::Expect("QUIT"), S::Say("221 bye")},
         "localhost はログイン（SMTP AUTH）に対応していません。"},
        {"2 MiB line after STARTTLS", SmtpSecurity::StartTls,
         toTls + S::Script{S::SayRaw(QByteArray(2 * 1024 * 1024, 'x') + "\r\n")}, "Line too long"},
        {"AUTH reply that never ends", SmtpSecurity::StartTls,
         toTls + S::Script{S::SayRaw("250-test\r\n250 AUTH PLAIN\r\n"), S::ExpectAnyLine(),
                           S::SayRaw(QByteArray("334-more\r\n").repeated(1200))},
         "Too many continuation lines"},
        {"password with a line break",
         SmtpSecurity::StartTls,
         {},
         "ログイン名とパスワードに改行は使えません。",
         "se\r\ncret"},
        {"login without TLS", SmtpSecurity::None, {}, "パスワードを暗号化せずに送ることはできません。"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        S server(row.script);
        smtp.TimeOut = row.script.value(0).kind == S::Step::Pause ? 300 : 5000;
        smtp.AuthUser = "kelvo";
        smtp.Password = row.password;
        const QString failure = Send(server.Port(), row.security, row.auth);
        EXPECT_TRUE(failure.startsWith(row.failureStart)) << failure.left(100).toStdString();
        EXPECT_FALSE(smtp.Connected);
        server.Stop();
        // Refused before anything was sent, or after the server had said all it had to say.
        EXPECT_EQ(server.Problems().contains("no client connected"), row.script.isEmpty());
        EXPECT_TRUE(row.script.size() < 8 || server.ScriptDone());
    }
    // The same client then speaks the plain dialogue, byte for byte as it always did.
    S server(S::Greeting("HELO kelvo-host") + S::Mail("sender@example.com", {"phone@example.jp", "bcc@example.jp"}) +
             S::Script{S::Expect("QUIT"), S::Say("221 bye")});
    smtp.PostMessage.Attachments.clear();
    EXPECT_EQ(Send(server.Port(), SmtpSecurity::None), "");
    server.Finish();
    EXPECT_EQ(server.Problems(), QStringList());
    EXPECT_EQ(server.Messages().value(0),
              "From: <sender@example.com>\r\nTo: Phone <phone@example.jp>\r\n"
              "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\nMime-Version: 1.0\r\n"
              "Content-Type: text/plain;                        charset=us-ascii\r\n\r\n\r\n"
              "Hello.\r\n..\r\n\r\nBye.\r\n");
}

} // namespace
