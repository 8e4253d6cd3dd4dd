#include "mail/SmtpClient.h"

#include "support/Failure.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"
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
const Script ToData = S::Greeting() + OneMail.mid(0, 7); // up to DATA
// A greeting the client leaves with QUIT: it stopped before the mail; or one good mail.
const Script Gone = S::Greeting() + Quit;
const Script Delivered = S::Greeting() + OneMail + Quit;
const QString Closed = "Connection closed by the server";
const QStringList Sent = {"connect", "packet sent", "success"};

class Session;
using RowSetup = std::function<void(Session &)>;

// One Connect, SendMail (as often as sends says) and Disconnect against the script.
struct Row
{
    const char *name;
    RowSetup setup = {};
    Script script;
    QString failure;         // the start of the first failure's message, or "(none)"
    QStringList events = {}; // every event in order, when given
    int sends = 1;
    QByteArray sent = {}; // the whole text after DATA, when given
};

class Session : public ::testing::Test
{
public:
    // Also before each row: a fresh mail and the usual settings on the same client.
    void SetUp() override
    {
        events.clear();
        smtp.Host = "127.0.0.1";
        auto note = [this](const char *event) { return [this, event](QObject *) { events << event; }; };
        smtp.OnConnect = note("connect");
        smtp.OnSuccess = note("success");
        smtp.OnMessageRefused = note("message refused");
        smtp.OnPacketSent = [this](QObject *) {
            if (!events.endsWith("packet sent"))
                events << "packet sent";
        };
        smtp.OnEncodeStart = [this](const QString &f) { events << "encode " + f; };
        smtp.OnAttachmentNotFound = [this](const QString &f) { events << "not found " + f; };
        smtp.OnRecipientRefused = [this](const QByteArray &r) { events << "refused " + QString::fromLatin1(r); };
        smtp.OnSendStart = nullptr;
        smtp.OnHeloRefused = nullptr;
        smtp.OnHeaderIncomplete = nullptr;
        smtp.HeloName = "kelvo";
        smtp.Mail = {.FromAddress = "me@example.com", .To = {"you@example.jp"}, .Body = {"hi"}};
        smtp.Security = SmtpSecurity::None;
        smtp.Auth = false;
        smtp.TimeOut = 5000; // a wait that never ends fails the test instead of hanging it
        smtp.MaxIdleForReuse = 60000;
    }
    void Serve(const Script &script, int receiveBuffer = 0)
    {
        server = std::make_unique<ScriptedSmtpServer>(script, receiveBuffer);
        smtp.Port = server->Port();
    }
    // Hangs up and gives what the server found wrong.
    QStringList Finish()
    {
        FailureOf([&] { smtp.Disconnect(); });
        server->Stop();
        return server->Problems();
    }
    // The failure's message, marked when the login was refused (it forgets the password) or the mail is in doubt.
    template <typename F> QString FailureOf(F f)
    {
        QString login, doubt;
        const QString other = ::FailureOf(
            [&] { doubt = ::FailureOf<EDeliveryInDoubt>([&] { login = ::FailureOf<EAuthError>(f); }); }, "(none)");
        return !login.isEmpty() ? "login refused: " + login : !doubt.isEmpty() ? "in doubt: " + doubt : other;
    }

    // Runs each row on a fresh client state. A refusal in good order keeps the connection and gets its QUIT; a
    // broken dialogue is left at once, without a QUIT. Either way the client ends idle and disconnected.
    void Check(std::initializer_list<Row> rows)
    {
        for (const Row &row : rows) {
            SCOPED_TRACE(row.name);
            SetUp();
            if (row.setup)
                row.setup(*this);
            Serve(row.script + Script{S::Wait(200)});
            QString failure = FailureOf([&] { smtp.Connect(); });
            for (int i = 0; i < row.sends; ++i)
                if (const QString f = FailureOf([&] { smtp.SendMail(); }); failure == "(none)")
                    failure = f;
            if (const QString f = FailureOf([&] { smtp.Disconnect(); }); failure == "(none)")
                failure = f;
            EXPECT_TRUE(failure.startsWith(row.failure)) << failure.left(100).toStdString();
            EXPECT_LE(failure.size(), 600);
            EXPECT_EQ(events, row.events.isEmpty() ? events : row.events);
            const QByteArray sent = server->Messages().value(0);
            EXPECT_EQ(sent, row.sent.isEmpty() ? sent : row.sent);
            // After a delivered mail the recipients and attachments go, not before.
            EXPECT_EQ(smtp.Mail.To.isEmpty() && smtp.Mail.Attachments.isEmpty(), events.endsWith("success"));
            EXPECT_FALSE(smtp.Busy);
            EXPECT_FALSE(smtp.Connected);
            EXPECT_EQ(Finish(), row.script.isEmpty() ? QStringList{"no client connected"} : QStringList());
        }
    }

    TestFolder folder;
    SmtpClient smtp;
    std::unique_ptr<ScriptedSmtpServer> server;
    QStringList events;
};

// Submission: STARTTLS or TLS on connect, and a login as "kelvo".
RowSetup Login(const QByteArray &password = "secret", SmtpSecurity security = SmtpSecurity::StartTls)
{
    return [=](Session &t) {
        t.smtp.Security = security;
        t.smtp.Auth = true;
        t.smtp.AuthUser = "kelvo";
        t.smtp.Password = password;
    };
}

// TLS and login against misbehaving servers, all on one client: the rows that succeed show it goes on after failures.
TEST_F(Session, Submission)
{
    const QString noTls = "127.0.0.1 と暗号化した接続を確立できません（";
    const RowSetup tls = Login("secret", SmtpSecurity::Tls);
    // The STARTTLS dialogue up to the EHLO that follows the handshake, and up to the login line.
    const Script upToTls = {
        S::Say("220 hi"),       S::Expect("EHLO kelvo"), S::Say("250-test\r\n250-AUTH PLAIN\r\n250 STARTTLS"),
        S::Expect("STARTTLS"),  S::Say("220 go ahead"),  S::Handshake(SmtpSink::Certificates().toUtf8() + "/good"),
        S::Expect("EHLO kelvo")};
    const Script upToLogin = upToTls + Script{S::Say("250-test\r\n250 AUTH PLAIN"), S::ExpectAnyLine()};
    Check({
        // clang-format off
        {"close during the handshake", tls, {S::Hangup()}, noTls},
        // The client's hello is read first: its random bytes may hold line feeds.
        {"garbage during the handshake", tls, {S::ReadSome(1), S::Say("220 no TLS"), S::Wait(100), S::Hangup()}, noTls},
        {"silence during the handshake", [&](Session &t) { tls(t); t.smtp.TimeOut = 300; }, {S::Wait(3000)},
         "The server did not answer within 0.3 seconds"},
        {"AUTH offered only before TLS", Login(), upToTls + Script{S::Say("250 test")} + Quit,
         "127.0.0.1 はログイン（SMTP AUTH）に対応していません。"},
        {"reply injected behind the 220 to STARTTLS", Login(),
         upToTls.mid(0, 4) + Script{S::SayRaw("220 go\r\n250 injected\r\n")}, "The server sent data before TLS began"},
        {"AUTH LOGIN", Login(), upToTls + Script{S::Say("250-test\r\n250 AUTH LOGIN"), S::Expect("AUTH LOGIN"),
            S::Say("334 VXNlcm5hbWU6"), S::Expect("a2Vsdm8="), S::Say("334 UGFzc3dvcmQ6"), S::Expect("c2VjcmV0"),
            S::Say("235 ok")} + OneMail + Quit, "(none)", Sent},
        {"2 MiB line after STARTTLS", Login(), upToTls + Script{S::SayRaw(QByteArray(2 * 1024 * 1024, 'x') + "\r\n")},
         "Line too long"},
        {"AUTH reply that never ends", Login(),
         upToLogin + Script{S::SayRaw(QByteArray("334-more\r\n").repeated(1200))}, "Too many continuation lines"},
        // Only 535 costs the stored password; a short one is left in the server's words.
        {"login failing for now", Login(), upToLogin + Script{S::Say("454 4.7.0 later")} + Quit, "454 4.7.0 later"},
        // The password is taken out of every text, also of a reply that is no reply.
        {"invalid reply echoing the login", Login(),
         upToLogin + Script{S::Say("AUTH PLAIN AGtlbHZvAHNlY3JldA== secret?")},
         "Invalid reply from the server: AUTH PLAIN ******** ********?"},
        {"login refused", Login("x"), upToLogin + Script{S::Say("535 AGtlbHZvAHg= box")} + Quit,
         "login refused: 127.0.0.1 にログインできませんでした（535 ******** box）。"},
        // Refused before anything is sent: the server sees no client.
        {"password with a line break", Login("se\r\ncret"), {}, "ログイン名とパスワードに改行は使えません。"},
        {"password with a zero", Login(QByteArray("se\0cret", 7)), {},
         "ログイン名とパスワードに NUL 文字（文字コード 0）は使えません。"},
        {"AUTH line over 12288 bytes", Login(QByteArray(9200, 'p')), {},
         "ログイン名とパスワードが長すぎて送れません（ログインの行は 12288 バイトまでです）。"},
        {"login without TLS", Login("pw", SmtpSecurity::None), {}, "パスワードを暗号化せずに送ることはできません。"},
        // clang-format on
    });
}

// Replies of many lines, every kind of recipient; one chance to mend a refused HELO or a mail without a sender.
// Signing in with an OAuth2 access token, as "kelvo" over STARTTLS.
RowSetup Token(const QByteArray &token = "tok-1.2_3~4+5/6=", SmtpSecurity security = SmtpSecurity::StartTls)
{
    return [=](Session &t) {
        Login("", security)(t);
        t.smtp.AccessToken = token;
    };
}

// The sign-in with a token: XOAUTH2 unless OAUTHBEARER is offered; a token refused with a challenge, which is
// answered as each mechanism asks before the final refusal, whose status is shown; nothing sent unprotected.
TEST_F(Session, SignInWithAToken)
{
    const Script upToTls = {
        S::Say("220 hi"),       S::Expect("EHLO kelvo"), S::Say("250-test\r\n250 STARTTLS"),
        S::Expect("STARTTLS"),  S::Say("220 go ahead"),  S::Handshake(SmtpSink::Certificates().toUtf8() + "/good"),
        S::Expect("EHLO kelvo")};
    const QByteArray xoauth2 = "AUTH XOAUTH2 " + QByteArray("user=kelvo\x01"
                                                            "auth=Bearer tok-1.2_3~4+5/6=\x01\x01")
                                                     .toBase64();
    const auto challenge = [](const char *json) { return S::Say("334 " + QByteArray(json).toBase64()); };
    const QString refused = "login refused: 127.0.0.1 がサインインのトークンを受け付けませんでした（535 5.7.8 ";
    Check({
        // clang-format off
        {"XOAUTH2 when OAUTHBEARER is not offered", Token(), upToTls + Script{S::Say("250-test\r\n250 AUTH PLAIN XOAUTH2"),
            S::Expect(xoauth2), S::Say("235 ok")} + OneMail + Quit, "(none)", Sent},
        {"XOAUTH2 refused", Token(), upToTls + Script{S::Say("250-test\r\n250 AUTH XOAUTH2"), S::Expect(xoauth2),
            challenge(R"({"status":"401","schemes":"bearer"})"), S::Expect(""), S::Say("535 5.7.8 not accepted")} + Quit,
         refused + "not accepted、状態 401）。"},
        {"OAUTHBEARER refused", Token(), upToTls + Script{S::Say("250-test\r\n250 AUTH XOAUTH2 OAUTHBEARER"), S::ExpectAnyLine(),
            challenge(R"({"status":"invalid_token"})"), S::Expect("AQ=="), S::Say("535 5.7.8 no")} + Quit,
         refused + "no、状態 invalid_token）。"},
        {"refused without a challenge", Token(), upToTls + Script{S::Say("250-test\r\n250 AUTH XOAUTH2"), S::ExpectAnyLine(),
            S::Say("535 5.7.8 no")} + Quit, refused + "no）。"},
        {"neither mechanism", Token(), upToTls + Script{S::Say("250-test\r\n250 AUTH PLAIN LOGIN")} + Quit,
         "127.0.0.1 は OAuth2 のサインイン（OAUTHBEARER、XOAUTH2）に対応していません。"},
        {"echoed token", Token(), upToTls + Script{S::Say("250-test\r\n250 AUTH XOAUTH2"), S::ExpectAnyLine(),
            S::Say("AUTH tok-1.2_3~4+5/6=")}, "Invalid reply from the server: AUTH ********"},
        {"no TLS", Token("tok", SmtpSecurity::None), {}, "サインインのトークンを暗号化せずに送ることはできません。"},
        {"token with a blank", Token("tok en"), {}, "サインインのトークンかログイン名に使えない文字があります。"},
        // clang-format on
    });
    // OAUTHBEARER names the login as a SASL name, the host and the port connected to (RFC 7628).
    Token()(*this);
    smtp.AuthUser = "kel,vo=";
    Serve(upToTls + Script{S::Say("250-test\r\n250 AUTH OAUTHBEARER"), S::ExpectAnyLine(), S::Say("235 ok")} + Quit);
    smtp.Connect();
    EXPECT_TRUE(Finish().isEmpty());
    EXPECT_EQ(server->Lines().value(3),
              "AUTH OAUTHBEARER " + ("n,a=kel=2Cvo=3D,\x01host=127.0.0.1\x01port=" + QByteArray::number(smtp.Port) +
                                     "\x01"
                                     "auth=Bearer tok-1.2_3~4+5/6=\x01\x01")
                                        .toBase64());
}

TEST_F(Session, GreetingHeloAndHeaders)
{
    auto secondName = [](Session &t) {
        t.smtp.OnHeloRefused = [&t](bool &retry) { t.smtp.HeloName = "second", retry = true; };
    };
    auto helo = [](const QByteArray &second) {
        return Script{S::Say("220 hi"), S::Expect("HELO kelvo"), S::Say("501"), S::Expect("HELO second"),
                      S::Say(second)};
    };
    Check({
        // clang-format off
        {"second HELO accepted", secondName, helo("250 ok") + OneMail + Quit, "(none)", Sent},
        {"HELO refused twice, the second time with 554", secondName, helo("554 5.7.1 not from here") + Quit,
         "554 5.7.1 not from here"},
        {"greeting refused", {}, Script{S::Say("554 go away")} + Quit, "554 go away"},
        {"no sender, no handler", [](Session &t) { t.smtp.Mail.FromAddress = ""; }, Gone, "Incomplete Header"},
        {"no sender, repaired", [](Session &t) {
             t.smtp.Mail.FromAddress = "";
             t.smtp.OnHeaderIncomplete = [&t](bool &retry, MissingHeader missing) {
                 t.events << QStringLiteral("incomplete %1").arg(int(missing));
                 t.smtp.Mail.FromAddress = "me@example.com", retry = true;
             };
         }, Delivered, "(none)", {"connect", "incomplete 1", "packet sent", "success"}},
        {"only a blind copy", [](Session &t) { std::swap(t.smtp.Mail.To, t.smtp.Mail.Bcc); }, Delivered, "(none)"},
        {.name = "a header line added at the start of the send", .setup = [](Session &t) {
             t.smtp.Mail = {.FromAddress = "me@example.com", .MessageId = "<1@example.com>",
                            .To = {"you@example.jp", "Hanako <hanako@example.jp>"},
                            .Cc = {"copy:cc@example.jp"}, .Bcc = {"hidden@example.jp", "<>"}, .Body = {"hi"}};
             t.smtp.OnSendStart = [&t](QObject *) { t.smtp.FinalHeader.SetHeaderValue("X-Added", "yes"); };
         },
         .script = Script{S::SayRaw("220-first\r\n220-second\r\n more\r\n220 ready\r\n"), S::Expect("HELO kelvo"),
                          S::SayRaw("250-test.local\r\n250-SIZE 1000\r\n250 HELP\r\n")}
                   + S::Mail("me@example.com", {"you@example.jp", "hanako@example.jp", "cc@example.jp", "hidden@example.jp"}) + Quit,
         .failure = "(none)", .events = Sent,
         .sent = "From: <me@example.com>\r\nTo: you@example.jp,Hanako <hanako@example.jp>\r\nCC: copy:cc@example.jp\r\n"
                 "Message-ID: <1@example.com>\r\nMime-Version: 1.0\r\nContent-Type: text/plain;                        charset=us-ascii\r\n"
                 "X-Added: yes\r\n\r\n\r\nhi\r\n"},
        // clang-format on
    });
}

// A refusal leaves the connection to the next mail, unless the server gave it up or it was idle for long. Once the
// mail was accepted, only a goodbye, a hang-up or silence at QUIT is no news; anything else may take the acceptance
// back. A line before it answered nothing: the 250 taken for the acceptance was a stray one.
TEST_F(Session, RefusalsAndWhatComesAfterTheAcceptance)
{
    // A refused message, then the next one sent over a fresh connection.
    const QStringList thenAfresh = {"connect", "packet sent", "message refused", "connect", "packet sent", "success"};
    const Script data = ToData + Script{S::Say("354 go"), S::ReadMessage()};
    const Script refused = data + Script{S::Say("552 too big")};
    auto atQuit = [](const S::Step &answer) { return S::Greeting() + OneMail + Script{S::Expect("QUIT"), answer}; };
    const QByteArray spam = "554 5.7.1 rejected as spam";
    Check({
        // clang-format off
        {.name = "DATA refused after RCPT 300 and 550, then a good send",
         .setup = [](Session &t) { t.smtp.Mail.To = {"ok@x", "Bad <bad@x>"}; },
         .script = S::Greeting() + Script{S::Expect("RSET"), S::Say("250 OK"), S::ExpectAnyLine(), S::Say("250 OK"),
            S::Expect("RCPT TO:<ok@x>"), S::Say("300 fine, oddly"), S::Expect("RCPT TO:<bad@x>"),
            S::SayRaw("550-5.1.1 No such user here.\r\n550-5.1.1 Check the address\r\n550 5.1.1 https://help.x/550\r\n"),
            S::Expect("DATA"), S::Say("554 no valid recipients")} + S::Mail("me@example.com", {"ok@x", "bad@x"}) + Quit,
         .failure = "554 no valid recipients\nサーバが送信先 bad@x を受け付けませんでした。\n550-5.1.1 No such user here.\n"
                    "550-5.1.1 Check the address\n550 5.1.1 https://help.x/550",
         .events = {"connect", "refused Bad <bad@x>", "packet sent", "success"}, .sends = 2},
        {"421 on an idle reused connection", {}, refused + Script{S::Expect("RSET"), S::Say("421 4.4.2 idle timeout"),
            S::ExpectHangup(), S::AcceptNext()} + Delivered, "552 too big", thenAfresh, 2},
        {"connection idle for too long", [](Session &t) { t.smtp.MaxIdleForReuse = 0; },
         refused + Script{S::ExpectHangup(), S::AcceptNext()} + Delivered, "552 too big", thenAfresh, 2},
        {"QUIT refused", {}, S::Greeting() + Script{S::Expect("QUIT"), S::Say("500 what")}, "500 what", {}, 0},
        {"late 250 after 354", {}, data + Script{S::SayRaw("250 ok\r\n" + spam + "\r\n"), S::ExpectHangup()},
         "in doubt: " + spam, Sent},
        {"mixed codes in the reply to \".\"", {},
         data + Script{S::SayRaw("250-ok\r\n" + spam + "\r\n"), S::ExpectHangup()},
         "Invalid reply from the server: 250-ok\n" + spam, {"connect", "packet sent"}},
        {"hang-up at QUIT after the mail", {}, atQuit(S::Hangup()), "(none)"},
        {"silence at QUIT after the mail", [](Session &t) { t.smtp.TimeOut = 300; }, atQuit(S::Wait(1000)), "(none)"},
        // clang-format on
    });
}

// Data that would break its lines is refused before the mail; replies that are no replies; servers that go away.
TEST_F(Session, InputAndRepliesThatBreakTheDialogue)
{
    const QString address = "Invalid character in address", header = "Invalid character in header";
    folder.Write("picture.jpg", "abc");
    folder.Write("big.jpg", QByteArray(3 * 1024 * 1024, 'b'));
    const QString picture = folder.File("picture.jpg"), gone = folder.File("gone.jpg"), big = folder.File("big.jpg");
    const RowSetup withBig = [big](Session &t) { t.smtp.Mail.Attachments = {big}; };
    auto rset = [](const QByteArray &bytes) { return S::Greeting() + Script{S::Expect("RSET"), S::SayRaw(bytes)}; };
    const Script upload = ToData + Script{S::Say("354 go"), S::ReadSome(100000)};
    Check({
        // clang-format off
        {"sender with CR LF", [](Session &t) { t.smtp.Mail.FromAddress = "me@x>\r\nRCPT TO:<evil@x"; }, Gone, address},
        {"copy with a zero", [](Session &t) { t.smtp.Mail.Cc = {QByteArray("c@x\0d", 5)}; }, Gone, address},
        {"header line added with CR LF", [](Session &t) {
             t.smtp.OnSendStart = [&t](QObject *) { t.smtp.FinalHeader << "X: 1\r\n.\r\nQUIT"; }; }, Gone, header},
        {"From line of 999 bytes", [](Session &t) { t.smtp.Mail.FromAddress = QByteArray(991, 'a'); }, Gone,
         "Header line longer than 998 bytes: From"},
        {"folded subject", [](Session &t) { t.smtp.Mail.Subject = "x\r\n =?A?B?Aa==?="; }, Delivered, "(none)"},
        {.name = "attachment missing", .setup = [=](Session &t) { t.smtp.Mail.Attachments = {picture, gone}; },
         .script = Gone, .failure = "Cannot open file", .events = {"connect", "encode " + picture, "not found " + gone}},
        {"eleven digits", {}, rset("12345678901 many\r\n"), "Reply code 1234567890 out of range"},
        // Its text is cut between two characters, not inside one.
        {"1 MiB refusal", {}, rset("550 " + QByteArray(507, 'x') + QByteArray("日").repeated(349000) + "\r\n") + Quit,
         "550 " + QString(507, 'x') + "..."},
        {"RSET answered twice", {}, rset("250 OK\r\n250 OK\r\n"), "The server sent a reply nobody asked for: 250 OK"},
        {"DATA answered with 250", {}, ToData + Script{S::Say("250 OK")}, "Unexpected reply to DATA: 250 OK"},
        {"hang-up before the greeting", {}, {S::Hangup()}, Closed},
        {"hang-up in the middle of the message", withBig, upload + Script{S::Hangup()}, Closed},
        {"refusal in the middle of the message", withBig, upload + Script{S::Say("552 5.3.4 too big"), S::Hangup()},
         "552 5.3.4 too big"},
        // clang-format on
    });
}

// Busy stays set while a handler connects from inside SendMail, so an inner SendMail returns at once; an abort
// ends the wait and clears it.
TEST_F(Session, BusyThroughAConnectionAskedForAndAfterAnAbort)
{
    EXPECT_EQ(FailureOf([&] { smtp.SendMail(); }), "Not Connected");
    Serve(Delivered);
    smtp.OnConnectionRequired = [&](bool &retry) { smtp.Connect(), retry = smtp.Busy; };
    smtp.OnSendStart = [&](QObject *) { smtp.SendMail(), events << "inner returned"; };
    smtp.SendMail();
    EXPECT_EQ(events, QStringList({"connect", "inner returned", "packet sent", "success"}));
    EXPECT_EQ(Finish(), QStringList());
    Check({{"abort while waiting for a reply",
            [](Session &t) {
                t.smtp.OnSendStart = [&t](QObject *) { QTimer::singleShot(100, [&t] { t.smtp.Abort(); }); };
            },
            S::Greeting() + Script{S::Expect("RSET")} + Quit, "Socket readln aborted"}});
}

// However long a reply, what is kept of it is bounded: 101 lines, each cut one byte past 512.
TEST_F(Session, ReplyLinesKeptAreBounded)
{
    Serve({S::SayRaw(("250-" + QByteArray(4000, 'x') + "\r\n").repeated(300) + "250 end\r\n")});
    smtp.SocketClient::Connect();
    QByteArray reply = smtp.ReadLn();
    QList<QByteArray> lines;
    smtp.ReadContinuationLines(reply, lines);
    EXPECT_EQ(reply, "250 end\r\n"); // every line was read
    EXPECT_EQ(lines.size(), 101);
    EXPECT_EQ(lines.last().size(), 513);
}

// The time-out measures the server's silence: a moving upload may outlast it, a stalled one fails right at it.
TEST_F(Session, UploadTimeOutMeasuresSilence)
{
    folder.Write("big.jpg", QByteArray(4 * 1024 * 1024, 'b'));
    smtp.TimeOut = 400;
    smtp.Mail.Attachments = {folder.File("big.jpg")}; // the failed send keeps the mail for the next
    Script slow = ToData + Script{S::Say("354 go")};
    for (int i = 0; i < 6; ++i)
        slow += Script{S::ReadSome(512 * 1024), S::Wait(150)};
    QElapsedTimer clock;
    qint64 lastPacket = 0;
    smtp.OnPacketSent = [&](QObject *) { lastPacket = clock.elapsed(); };
    // The stalled upload first: what it left unsent must not reach the next connection.
    for (const Script &script : {ToData + Script{S::Say("354 go"), S::ReadSome(256 * 1024), S::Wait(3000)},
                                 slow + Script{S::ReadMessage(), S::Say("250 ok")} + Quit}) {
        const bool stalls = script.size() < slow.size();
        Serve(script, 4096); // the upload moves only as fast as the server reads
        smtp.Connect();
        clock.start();
        EXPECT_EQ(FailureOf([&] { smtp.SendMail(); }),
                  stalls ? "The server took no part of the message for 0.4 seconds" : "(none)");
        const qint64 silence = clock.elapsed() - lastPacket;
        EXPECT_TRUE(!stalls || (silence >= 390 && silence < 600)) << silence;
        EXPECT_EQ(smtp.Connected, !stalls);
        EXPECT_EQ(Finish(), QStringList());
    }
}

} // namespace
