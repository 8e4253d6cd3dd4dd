#include "mail/SmtpClient.h"

#include "support/Failure.h"
#include "support/SmtpSink.h"
#include "support/TestFolder.h"

#include <QJsonArray>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

// The whole road against aiosmtpd, in the clear and over TLS with a login, read back by Python's email package: a
// server and a reader that are not ours. A refusal ends the send before the mail; the same client then goes on.
TEST(Submission, RealServer)
{
    TestFolder folder;
    QByteArray picture(1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(picture.data()), picture.size() / 4);
    folder.Write(QStringLiteral("写真.jpg"), picture);
    SmtpClient smtp;
    smtp.HeloName = "kelvo-host";
    smtp.TimeOut = 5000; // a wait that never ends fails the test instead of hanging it
    QStringList events;
    QList<qint32> progress;
    smtp.OnSecured = [&](QObject *) { events << "secured"; };
    smtp.OnAuthenticated = [&](QObject *) { events << "authenticated"; };
    smtp.OnError = [&](QObject *, quint16, const QString &text) { events << text; }; // none in a good session
    smtp.OnPacketSent = [&](QObject *) { progress << smtp.SentBytes; };
    smtp.Mail.FromAddress = "sender@example.com";
    smtp.Mail.Body = {"Hello.", ".", "", "Bye."};
    using M = SmtpSink::Mode;
    using enum SmtpSecurity;
    struct Row
    {
        SmtpSecurity security;
        const char *certificate;
        QString failure;
        QByteArray user = "kelvo", password = "secret";
        QString host = "localhost";
        M mode = security == Tls ? M::Tls : security == StartTls ? M::StartTls : M::Plain;
    } rows[] = {
        {StartTls, "good", ""},
        {Tls, "good", "", "ユーザー", "pässwörd 秘密"}, // UTF-8 credentials
        {Tls, "other", "localhost の証明書を確認できません（hostname mismatch）。"},
        // An address in a form only the socket layer reads: the one connected to is checked.
        {Tls, "other", "127.1 の証明書を確認できません（IP address mismatch）。", "kelvo", "secret", "127.1"},
        {StartTls, "unknown", "localhost の証明書を確認できません（unable to get local issuer certificate）。"},
        // The subject's CN names no host: only the certificate's names count.
        {Tls, "cnonly", "localhost の証明書を確認できません（hostname mismatch）。"},
        {StartTls, "good", "localhost は STARTTLS に対応していません。セキュリティの設定を確認してください。", "kelvo",
         "secret", "localhost", M::Plain},
        {None, "good", "", "", ""}, // after the refusals, the same client goes on
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.failure.isEmpty() ? row.user.constData() : row.failure.toStdString());
        SmtpSink sink(row.mode, row.certificate);
        ASSERT_NE(sink.Port(), 0) << sink.Error().toStdString();
        smtp.Host = row.host;
        smtp.Port = sink.Port();
        smtp.Security = row.security;
        smtp.Auth = !row.user.isEmpty();
        smtp.AuthUser = row.user;
        smtp.Password = row.password;
        smtp.Mail.To = {"Phone <phone@example.jp>"}; // a delivered mail takes its recipients and attachments
        smtp.Mail.Bcc = {"bcc@example.jp"};
        smtp.Mail.Attachments = {folder.File(QStringLiteral("写真.jpg"))};
        events.clear();
        progress.clear();
        EXPECT_EQ(FailureOf([&] { smtp.Connect(), smtp.SendMail(), smtp.Disconnect(); }), row.failure);
        EXPECT_FALSE(smtp.Connected);
        const QList<SmtpSink::Message> got = sink.WaitForMessages(row.failure.isEmpty() ? 1 : 0);
        ASSERT_EQ(got.size(), row.failure.isEmpty() ? 1 : 0);
        if (got.isEmpty())
            continue;
        EXPECT_EQ(events, row.user.isEmpty() ? QStringList() : QStringList({"secured", "authenticated"}));
        // Progress moves through the whole message, over TLS as in the clear.
        EXPECT_GT(progress.size(), 10);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_EQ(progress.value(progress.size() - 1), smtp.TotalBytes);
        EXPECT_EQ(got[0].Rcpt, QList<QByteArray>({"phone@example.jp", "bcc@example.jp"}));
        EXPECT_EQ(got[0].Helo, "kelvo-host");
        EXPECT_EQ(got[0].Login, row.user);
        const QJsonObject parsed = SmtpSink::Parse(got[0].Data);
        EXPECT_EQ(parsed["defects"].toArray().size(), 0);
        const QJsonArray parts = parsed["parts"].toArray();
        ASSERT_EQ(parts.size(), 2);
        EXPECT_EQ(parts[0]["text"].toString(), "Hello.\n.\n\nBye."); // dot-stuffing undone
        EXPECT_EQ(parts[1]["filename"].toString(), QStringLiteral("写真.jpg"));
        EXPECT_EQ(QByteArray::fromBase64(parts[1]["data"].toString().toLatin1()), picture);
    }

    // A partial wildcard (m*.kelvo.test) covers no name. Only the handshake is tried, with the
    // name given: no name of three labels resolves on a test machine.
    SmtpSink partial(SmtpSink::Tls, "partial");
    smtp.Host = "127.0.0.1";
    smtp.Port = partial.Port();
    smtp.SocketClient::Connect();
    EXPECT_EQ(FailureOf([&] { smtp.StartTls("mail.kelvo.test"); }),
              "mail.kelvo.test の証明書を確認できません（hostname mismatch）。");
    smtp.SocketClient::Disconnect();
}

// Over IPv6 as over IPv4: the server given as ::1 or [::1], STARTTLS with the address the certificate names checked
// against the one connected to, and EHLO giving an IPv6 address as an address literal.
TEST(Submission, OverIpv6)
{
    SmtpClient smtp;
    smtp.TimeOut = 5000;
    smtp.Security = SmtpSecurity::StartTls;
    smtp.Auth = true, smtp.AuthUser = "kelvo", smtp.Password = "secret";
    smtp.HeloName = "[::1]";
    smtp.Mail = {.FromAddress = "sender@example.com", .To = {"phone@example.jp"}, .Body = {"Hello."}};
    for (const auto &[host, certificate, failure] :
         {std::tuple{"::1", "good", ""},
          {"[::1]", "other", "[::1] の証明書を確認できません（IP address mismatch）。"}}) {
        SmtpSink sink(SmtpSink::StartTls, certificate, "::1");
        if (sink.Port() == 0)
            GTEST_SKIP() << "no server on ::1, the IPv6 loopback; is there one here? " << sink.Error().toStdString();
        smtp.Host = host;
        smtp.Port = sink.Port();
        EXPECT_EQ(FailureOf([&] { smtp.Connect(), smtp.SendMail(), smtp.Disconnect(); }), failure);
        const QList<SmtpSink::Message> got = sink.WaitForMessages(*failure ? 0 : 1);
        EXPECT_EQ(got.size(), *failure ? 0 : 1);
        EXPECT_EQ(got.value(0).Helo, *failure ? "" : "[IPv6:::1]");
    }
}

} // namespace
