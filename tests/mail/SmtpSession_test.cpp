#include "mail/SmtpClient.h"

#include "platform/Exception.h"
#include "support/Failure.h"
#include "support/ScriptedSmtpServer.h"
#include "support/TestFolder.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using S = ScriptedSmtpServer;
using Script = ScriptedSmtpServer::Script;

const Script Quit{S::Expect("QUIT"), S::Say("221 bye")};
const Script OneMail = S::Mail("me@example.com", {"you@example.jp"});

class Session : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A wait that never ends must fail the test, not hang it.
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            watchdogFired = true;
            smtp.Cancel();
        });
        watchdog.start(8000);
        smtp.Host = "127.0.0.1";
        smtp.UserID = "kelvo";
        smtp.PostMessage.FromAddress = "me@example.com";
        smtp.PostMessage.ToAddress = {"you@example.jp"};
        smtp.PostMessage.Body = {"hi"};
        smtp.OnConnect = [this](QObject *s) { events << (s == &smtp ? "connect" : "connect?"); };
        auto note = [this](const char *event) { return [this, event](QObject *) { events << event; }; };
        smtp.OnSendStart = note("send start");
        smtp.OnSuccess = note("success");
        smtp.OnFailure = note("failure");
        smtp.OnDisconnect = note("disconnect");
        smtp.OnPacketSent = [this](QObject *) {
            if (events.isEmpty() || events.last() != "packet sent")
                events << "packet sent";
        };
        smtp.OnEncodeStart = [this](const QString &f) { events << "encode start " + f; };
        smtp.OnEncodeEnd = [this](const QString &f) { events << "encode end " + f; };
        smtp.OnAttachmentNotFound = [this](const QString &f) { events << "not found " + f; };
        smtp.OnRecipientNotFound = [this](const QByteArray &r) { events << "refused " + QString::fromLatin1(r); };
    }

    void TearDown() override { EXPECT_FALSE(watchdogFired) << "a wait did not end by itself"; }

    void Serve(const Script &script, int receiveBuffer = 0)
    {
        server = std::make_unique<ScriptedSmtpServer>(script, receiveBuffer);
        smtp.Port = server->Port();
    }

    // Connects to a server running the script and gives the failure of one SendMail.
    QString Send(const Script &script)
    {
        Serve(script);
        smtp.Connect();
        events.clear();
        return FailureOf([&] { smtp.SendMail(); });
    }

    // Hangs up and expects the server to have seen what its script says.
    void Finish()
    {
        smtp.Disconnect();
        EXPECT_EQ(Problems(), QStringList());
    }

    QStringList Problems()
    {
        server->Stop();
        return server->Problems();
    }

    // The message of the failure f throws, or "(none)".
    template <typename F> QString FailureOf(F f) { return ::FailureOf(f, QStringLiteral("(none)")); }

    TestFolder folder;
    SmtpClient smtp;
    std::unique_ptr<ScriptedSmtpServer> server;
    QStringList events;
    QTimer watchdog;
    bool watchdogFired = false;
};

} // namespace

TEST_F(Session, OneSendInOrderWithEventsAndMultiLineReplies)
{
    folder.Write("kelvo.jpg", QByteArray(100, 'j'));
    const QString jpg = folder.File("kelvo.jpg");
    MailMessage &m = smtp.PostMessage;
    m.ToAddress = {"you@example.jp", "Hanako <hanako@example.jp>"};
    m.ToCarbonCopy = {"copy:cc@example.jp"};
    m.ToBlindCarbonCopy = {"hidden@example.jp", "<>"};
    m.Body = {"line 1", ".", "line 3"};
    m.Attachments = {jpg};
    smtp.FinalHeader = {"X-Before: gone"};
    smtp.OnSendStart = [&](QObject *) {
        events << "send start";
        smtp.FinalHeader.SetHeaderValue("X-Added", "yes");
    };
    // Multi-line greeting and HELO reply, each read whole.
    Serve(Script{S::SayRaw("220-first\r\n220-second\r\n more\r\n220 ready\r\n"), S::Expect("HELO kelvo"),
                 S::SayRaw("250-test.local\r\n250-SIZE 1000\r\n250 HELP\r\n")} +
          S::Mail("me@example.com", {"you@example.jp", "hanako@example.jp", "cc@example.jp", "hidden@example.jp"}) +
          Quit);

    smtp.Connect();
    EXPECT_TRUE(smtp.Connected);
    smtp.SendMail();
    Finish();
    EXPECT_FALSE(smtp.Connected);
    EXPECT_EQ(server->Lines(),
              QList<QByteArray>({"HELO kelvo", "RSET", "MAIL FROM:<me@example.com>", "RCPT TO:<you@example.jp>",
                                 "RCPT TO:<hanako@example.jp>", "RCPT TO:<cc@example.jp>",
                                 "RCPT TO:<hidden@example.jp>", "DATA", "QUIT"}));
    EXPECT_EQ(events, QStringList({"connect", "encode start " + jpg, "encode end " + jpg, "send start", "packet sent",
                                   "success", "disconnect"}));
    ASSERT_EQ(server->Messages().size(), 1);
    // The text is the composed one (see the composition tests), with FinalHeader as it was
    // after OnSendStart.
    const QByteArray text = server->Messages().first();
    EXPECT_TRUE(text.startsWith("From: <me@example.com>\r\nTo: you@example.jp,Hanako <hanako@example.jp>\r\n"))
        << text.constData();
    EXPECT_FALSE(text.contains("X-Before"));
    EXPECT_FALSE(text.contains("hidden"));
    const qsizetype headerEnd = text.indexOf("\r\n\r\n\r\n");
    EXPECT_TRUE(text.left(headerEnd).endsWith("\r\nX-Added: yes"));
    EXPECT_EQ(text.mid(headerEnd + 6), smtp.MessageBody());

    // ClearParams: recipients and attachments go, the rest stays
    EXPECT_TRUE(m.ToAddress.isEmpty() && m.ToCarbonCopy.isEmpty() && m.ToBlindCarbonCopy.isEmpty());
    EXPECT_TRUE(m.Attachments.isEmpty());
    EXPECT_EQ(m.Body.size(), 3);
    EXPECT_EQ(m.FromAddress, "me@example.com");
}

TEST_F(Session, HeloRefused)
{
    auto Helo = [](const Script &replies) {
        return Script{S::Say("220 hi"), S::Expect("HELO kelvo")} + replies + Quit;
    };
    struct Row
    {
        const char *name;
        bool handler;
        bool handled;
        Script script;
        QString failure;
        int handlerCalls;
    } rows[] = {
        {"no handler", false, false, Helo({S::Say("550 who are you")}), "Authentication failed", 0},
        {"handler declines", true, false, Helo({S::Say("501 no")}), "Authentication failed", 1},
        {"second HELO accepted", true, true, Helo({S::Say("501 no"), S::Expect("HELO second"), S::Say("250 ok")}),
         "(none)", 1},
        {"refused twice", true, true, Helo({S::Say("501 no"), S::Expect("HELO second"), S::Say("550 still no")}),
         "Authentication failed", 1},
        {"greeting refused", true, true, Script{S::Say("554 go away")} + Quit, "554 go away\r\n", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        events.clear();
        smtp.UserID = "kelvo";
        int calls = 0;
        smtp.OnAuthenticationFailed = nullptr;
        if (row.handler)
            smtp.OnAuthenticationFailed = [&](bool &handled) {
                ++calls;
                smtp.UserID = "second";
                handled = row.handled;
            };
        Serve(row.script);
        EXPECT_EQ(FailureOf([&] { smtp.Connect(); }), row.failure);
        EXPECT_EQ(calls, row.handlerCalls);
        EXPECT_FALSE(smtp.Busy);
        const bool ok = row.failure == "(none)";
        EXPECT_EQ(smtp.Connected, ok);
        EXPECT_EQ(events.contains("connect"), ok);
        if (ok)
            smtp.Disconnect();
        EXPECT_EQ(Problems(), QStringList());
    }
}

TEST_F(Session, IncompleteHeader)
{
    struct Row
    {
        const char *name;
        QByteArray from;
        bool recipients;
        bool handler;
        bool repair;
        bool handled;
        int hiType;
        bool sent;
    } rows[] = {
        {"no sender, no handler", "", true, false, false, false, 0, false},
        {"no sender, handler repairs", "", true, true, true, true, 1, true},
        {"no recipients, handler declines", "me@example.com", false, true, true, false, 2, false},
        {"no recipients, handled but not repaired", "me@example.com", false, true, false, true, 2, false},
        {"nothing at all", "", false, true, false, true, 1, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Serve(S::Greeting() + (row.sent ? OneMail : Script()) + Quit);
        smtp.Connect();
        smtp.PostMessage.FromAddress = row.from;
        smtp.PostMessage.ToAddress.clear();
        if (row.recipients)
            smtp.PostMessage.ToAddress = {"you@example.jp"};
        int calls = 0, type = 0;
        smtp.OnHeaderIncomplete = nullptr;
        if (row.handler)
            smtp.OnHeaderIncomplete = [&](bool &handled, int hiType) {
                ++calls;
                type = hiType;
                if (row.repair) {
                    smtp.PostMessage.FromAddress = "me@example.com";
                    smtp.PostMessage.ToAddress = {"you@example.jp"};
                }
                handled = row.handled;
            };
        EXPECT_EQ(FailureOf([&] { smtp.SendMail(); }), row.sent ? "(none)" : "Incomplete Header");
        EXPECT_EQ(calls, row.handler ? 1 : 0);
        EXPECT_EQ(type, row.hiType);
        EXPECT_FALSE(smtp.Busy);
        Finish();
        EXPECT_EQ(server->Lines().size(), row.sent ? 6 : 2); // HELO (mail) QUIT
    }
}

TEST_F(Session, OnlyBlindCopyRecipients)
{
    smtp.PostMessage.ToAddress.clear();
    smtp.PostMessage.ToBlindCarbonCopy = {"Secret <s@example.jp>"};
    EXPECT_EQ(Send(S::Greeting() + S::Mail("me@example.com", {"s@example.jp"}) + Quit), "(none)");
    Finish();
    ASSERT_EQ(server->Messages().size(), 1);
    EXPECT_TRUE(server->Messages().first().startsWith("From: <me@example.com>\r\nMime-Version: 1.0\r\n"));
}

TEST(SmtpClient, ExtractAddress)
{
    // Pairs of entry and address.
    const QByteArrayList rows{
        "a@x",          "a@x",    "Taro <taro@x>", "taro@x", "<only@x>", "only@x", "<>",         "",
        "name <open@x", "open@x", "a <b@x> <c@x>", "b@x",    "x <y<z>",  "y",      "To:word@x",  "word@x",
        "a:b@x:c",      "b@x",    "trailing:",     "",       "",         "",       " spaced@x ", " spaced@x "};
    for (qsizetype i = 0; i < rows.size(); i += 2)
        EXPECT_EQ(SmtpClient::ExtractAddress(rows[i]), rows[i + 1]) << rows[i].constData();
}

TEST_F(Session, RefusalsEndTheSendAndTheNextBeginsWithRset)
{
    const Script opening{S::Expect("RSET"), S::Say("250 OK"), S::Expect("MAIL FROM:<me@example.com>"),
                         S::Say("250 OK")};
    struct Row
    {
        const char *name;
        QList<QByteArray> to;
        Script replies;
        QString failure;
        QStringList events;
    } rows[] = {
        {"DATA refused after RCPT 300 and 550",
         {"ok@example.jp", "Bad <bad@example.jp>"},
         {S::Expect("RCPT TO:<ok@example.jp>"), S::Say("300 fine, oddly"), S::Expect("RCPT TO:<bad@example.jp>"),
          S::Say("550 no such user"), S::Expect("DATA"), S::Say("554 no valid recipients")},
         "554 no valid recipients\r\n",
         {"send start", "refused Bad <bad@example.jp>"}},
        {"message refused",
         {"you@example.jp"},
         {S::Expect("RCPT TO:<you@example.jp>"), S::Say("250 OK"), S::Expect("DATA"), S::Say("354 go"),
          S::ReadMessage(), S::Say("552 too big")},
         "552 too big\r\n",
         {"send start", "packet sent", "failure"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        smtp.PostMessage.ToAddress = row.to;
        QList<QByteArray> rcpts;
        for (const QByteArray &to : row.to)
            rcpts << SmtpClient::ExtractAddress(to);
        EXPECT_EQ(Send(S::Greeting() + opening + row.replies + S::Mail("me@example.com", rcpts) + Quit), row.failure);
        EXPECT_EQ(events, row.events);
        EXPECT_TRUE(smtp.Connected);
        EXPECT_FALSE(smtp.Busy);
        EXPECT_EQ(smtp.PostMessage.ToAddress, row.to); // ClearParams only after success

        smtp.SendMail();
        EXPECT_TRUE(events.endsWith("success"));
        EXPECT_TRUE(smtp.PostMessage.ToAddress.isEmpty());
        Finish();
    }
}

TEST_F(Session, QuitReplies)
{
    // After a delivered mail, a QUIT that goes wrong is no error: the user would send again.
    struct Row
    {
        QByteArray reply;
        bool mail;
        QString failure;
    } rows[] = {
        {"221 bye", false, "(none)"},
        {"339 odd but fine", false, "(none)"},
        {"500 what", false, "500 what\r\n"},
        {"500 what", true, "(none)"},
        {"", true, "(none)"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.reply.constData());
        smtp.PostMessage.ToAddress = {"you@example.jp"};
        Serve(S::Greeting() + (row.mail ? OneMail : Script()) + Script{S::Expect("QUIT")} +
              Script{row.reply.isEmpty() ? S::Hangup() : S::Say(row.reply)});
        smtp.Connect();
        if (row.mail)
            smtp.SendMail();
        EXPECT_EQ(FailureOf([&] { smtp.Disconnect(); }), row.failure);
        EXPECT_FALSE(smtp.Connected); // closed in every case
        EXPECT_EQ(Problems(), QStringList());
    }
}

TEST_F(Session, ConnectionRequiredAndSendMailWhileBusy)
{
    // Without a handler: "Not Connected" before any command (and no connection is made).
    EXPECT_EQ(FailureOf([&] { smtp.SendMail(); }), "Not Connected");
    EXPECT_FALSE(smtp.Busy);

    // A handler that connects from inside SendMail: its Connect leaves SendMail's Busy set,
    // so a SendMail from inside the running send returns at once.
    Serve(S::Greeting() + OneMail + Quit);
    smtp.OnConnectionRequired = [&](bool &handled) {
        events << "connection required";
        smtp.Connect();
        EXPECT_TRUE(smtp.Busy);
        handled = true;
    };
    smtp.OnSendStart = [&](QObject *) {
        events << "send start";
        smtp.SendMail();
        events << "inner returned";
    };
    smtp.SendMail();
    Finish();
    EXPECT_EQ(events, QStringList({"connection required", "connect", "send start", "inner returned", "packet sent",
                                   "success", "disconnect"}));
    EXPECT_EQ(server->Lines().count("RSET"), 1);
}

TEST_F(Session, AttachmentThatCannotBeOpenedFailsBeforeAnyCommand)
{
    folder.Write("there.jpg", "abc");
    const QString there = folder.File("there.jpg");
    for (const QString &bad : {folder.File("gone.jpg"), folder.Path()}) {
        SCOPED_TRACE(bad.toStdString());
        smtp.PostMessage.Attachments = {there, bad};
        const QString failure = Send(S::Greeting() + Quit);
        EXPECT_TRUE(failure.contains(bad)) << failure.toStdString();
        EXPECT_EQ(events, QStringList({"encode start " + there, "encode end " + there, "not found " + bad}));
        EXPECT_TRUE(smtp.Connected);
        EXPECT_FALSE(smtp.Busy);
        Finish();
        EXPECT_EQ(server->Lines(), QList<QByteArray>({"HELO kelvo", "QUIT"}));
    }
}

TEST_F(Session, LineBreaksInAddressesAndHeadersAreRefused)
{
    struct Row
    {
        const char *name;
        std::function<void(SmtpClient &)> spoil;
        QString failure;
    } rows[] = {
        {"sender", [](SmtpClient &s) { s.PostMessage.FromAddress = "me@x>\r\nRCPT TO:<evil@x"; },
         "Invalid character in address"},
        {"recipient", [](SmtpClient &s) { s.PostMessage.ToAddress = {"you@x\r\nDATA"}; },
         "Invalid character in address"},
        {"blind copy", [](SmtpClient &s) { s.PostMessage.ToBlindCarbonCopy = {"b@x\n"}; },
         "Invalid character in address"},
        {"zero byte", [](SmtpClient &s) { s.PostMessage.ToCarbonCopy = {QByteArray("c@x\0d", 5)}; },
         "Invalid character in address"},
        {"sender name", [](SmtpClient &s) { s.PostMessage.FromName = "Evil\r\nBcc: x@y"; },
         "Invalid character in header"},
        {"subject", [](SmtpClient &s) { s.PostMessage.Subject = "hi\nX-Spam: no"; }, "Invalid character in header"},
        {"mailer", [](SmtpClient &s) { s.PostMessage.LocalProgram = "k\r"; }, "Invalid character in header"},
        {"added by a handler",
         [](SmtpClient &s) { s.OnSendStart = [&s](QObject *) { s.FinalHeader << "X-A: 1\r\n.\r\nQUIT"; }; },
         "Invalid character in header"},
        {"a lone dot added by a handler",
         [](SmtpClient &s) { s.OnSendStart = [&s](QObject *) { s.FinalHeader << "."; }; },
         "Invalid character in header"},
    };
    const MailMessage clean = smtp.PostMessage;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        smtp.PostMessage = clean;
        smtp.OnSendStart = nullptr;
        row.spoil(smtp);
        EXPECT_EQ(Send(S::Greeting() + Quit), row.failure);
        Finish();
        EXPECT_EQ(server->Lines(), QList<QByteArray>({"HELO kelvo", "QUIT"}));
    }

    // a user ID is refused before anything is sent at all
    smtp.UserID = "kelvo\r\nMAIL FROM:<x>";
    EXPECT_EQ(FailureOf([&] { smtp.Connect(); }), "Invalid character in user ID");
    EXPECT_FALSE(smtp.Connected);

    // a folded header line is no injection: it goes out as it stands
    smtp.UserID = "kelvo";
    smtp.PostMessage = clean;
    smtp.OnSendStart = nullptr;
    smtp.PostMessage.Subject = "=?ISO-2022-JP?B?GyRCJCIbKEI=?=\r\n =?ISO-2022-JP?B?GyRCJCQbKEI=?=";
    EXPECT_EQ(Send(S::Greeting() + OneMail + Quit), "(none)");
    Finish();
    EXPECT_TRUE(server->Messages().value(0).contains("\r\nSubject: =?ISO-2022-JP?B?GyRCJCIbKEI=?=\r\n =?ISO"));
}

TEST_F(Session, BadRepliesAndHangUpsFailClearly)
{
    folder.Write("big.jpg", QByteArray(3 * 1024 * 1024, 'b'));
    auto reply = [](const QByteArray &bytes) { return S::Greeting() + Script{S::Expect("RSET"), S::SayRaw(bytes)}; };
    const Script toData =
        S::Greeting() + Script{S::Expect("RSET"),  S::Say("250 OK"), S::ExpectAnyLine(), S::Say("250 OK"),
                               S::ExpectAnyLine(), S::Say("250 OK"), S::Expect("DATA")};
    const Script upload = toData + Script{S::Say("354 go"), S::ReadSome(100000)};
    const QString closed = "Connection closed by the server";
    // A server that breaks the protocol is left at once, without QUIT: its answer would
    // mean nothing. Nothing is reported as sent.
    struct Row
    {
        const char *name;
        Script script;
        QString failureStart;
        bool inConnect = false;
    } rows[] = {
        {"only CR LF", reply("\r\n"), "Invalid reply from the server"},
        {"eleven digits", reply("12345678901 many\r\n"), "Reply code 1234567890 out of range"},
        {"beyond 32 bits", reply("99999999999 many\r\n"), "Invalid reply from the server: 99999999999 many"},
        {"two digits", reply("25 short\r\n"), "Invalid reply from the server: 25 short"},
        {"1 MiB refusal", reply("550 " + QByteArray(1024 * 1024 - 6, 'x') + "\r\n") + Quit, "550 xxxx"},
        {"longer than 1 MiB", reply("250 " + QByteArray(1024 * 1024 + 10, 'y') + "\r\n"), "Line too long"},
        {"RSET answered twice", reply("250 OK\r\n250 OK\r\n"), "The server sent a reply nobody asked for: 250 OK"},
        {"DATA answered with 250", toData + Script{S::Say("250 OK")}, "Unexpected reply to DATA: 250 OK"},
        {"invalid greeting", {S::Say("hello")}, "Invalid reply from the server: hello", true},
        {"greeting longer than 1 MiB", {S::SayRaw(QByteArray(1024 * 1024 + 10, 'g'))}, "Line too long", true},
        {"hang-up before the greeting", {S::Hangup()}, closed, true},
        {"hang-up after HELO", {S::Say("220 hi"), S::Expect("HELO kelvo"), S::Hangup()}, closed, true},
        {"hang-up after RCPT", toData.mid(0, toData.size() - 1) + Script{S::Wait(100), S::Hangup()}, closed},
        {"hang-up in the middle of the message", upload + Script{S::Hangup()}, closed},
        {"refusal in the middle of the message",
         upload + Script{S::Say("552 5.3.4 Message size exceeds fixed limit"), S::Hangup()},
         "552 5.3.4 Message size exceeds fixed limit\r\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        watchdog.start();
        events.clear();
        smtp.PostMessage.ToAddress = {"you@example.jp"};
        smtp.PostMessage.Attachments = {folder.File("big.jpg")};
        Serve(row.script + Script{S::Wait(200)});
        QString failure = FailureOf([&] { smtp.Connect(); });
        if (!row.inConnect)
            failure = FailureOf([&] { smtp.SendMail(); });
        EXPECT_TRUE(failure.startsWith(row.failureStart)) << failure.left(100).toStdString();
        EXPECT_LE(failure.size(), 600);
        EXPECT_FALSE(smtp.Busy);
        // A refusal leaves the connection open; anything else has closed it.
        EXPECT_EQ(smtp.Connected, failure.startsWith("550"));
        EXPECT_FALSE(events.contains("success"));
        FailureOf([&] { smtp.Disconnect(); });
        EXPECT_EQ(Problems(), QStringList());
    }
}

TEST_F(Session, AbortWhileBusyEndsTheWait)
{
    Serve(S::Greeting() + Script{S::Expect("RSET"), S::Wait(3000)});
    smtp.Connect();
    QTimer::singleShot(100, [&] { smtp.Abort(); });
    EXPECT_EQ(FailureOf([&] { smtp.SendMail(); }), "Socket readln aborted");
    EXPECT_FALSE(smtp.Busy);
    EXPECT_FALSE(events.contains("success"));
    server->Stop();
}

namespace {

// The time-out measures the server's silence: an upload that keeps moving may take longer
// than it; one that stops fails once the silence has lasted it, not a tick or two later.
TEST_F(Session, UploadTimeOutMeasuresSilence)
{
    QByteArray picture(4 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < picture.size(); ++i)
        picture[i] = char((i * 7919) >> 3);
    folder.Write("big.jpg", picture);
    smtp.TimeOut = 400;
    const Script data =
        S::Greeting() + Script{S::Expect("RSET"),  S::Say("250 ok"), S::ExpectAnyLine(), S::Say("250 ok"),
                               S::ExpectAnyLine(), S::Say("250 ok"), S::Expect("DATA"),  S::Say("354 go")};
    Script slow = data;
    for (int i = 0; i < 6; ++i)
        slow += Script{S::ReadSome(512 * 1024), S::Wait(150)};
    QElapsedTimer clock;
    qint64 lastPacket = 0;
    smtp.OnPacketSent = [&](QObject *) { lastPacket = clock.elapsed(); };
    for (const Script &script : {slow + Script{S::ReadMessage(), S::Say("250 ok")} + Quit,
                                 data + Script{S::ReadSome(256 * 1024), S::Wait(3000)}}) {
        const bool stalls = script.size() < slow.size();
        smtp.PostMessage.ToAddress = {"you@example.jp"};
        smtp.PostMessage.Attachments = {folder.File("big.jpg")};
        Serve(script, 4096); // the upload moves only as fast as the server reads
        smtp.Connect();
        clock.start();
        EXPECT_EQ(FailureOf([&] { smtp.SendMail(); }),
                  stalls ? "The server took no part of the message for 0.4 seconds" : "(none)");
        if (stalls) {
            EXPECT_GE(clock.elapsed() - lastPacket, 390);
            EXPECT_LT(clock.elapsed() - lastPacket, 600);
        }
        EXPECT_EQ(smtp.Connected, !stalls);
        FailureOf([&] { smtp.Disconnect(); });
        server->Stop();
    }
}

} // namespace
