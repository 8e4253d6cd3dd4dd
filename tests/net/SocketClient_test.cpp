#include "net/SocketClient.h"
#include "platform/MessageTarget.h"
#include "platform/WinsockErrors.h"
#include "support/Failure.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTest>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <utility>

namespace {

using S = ScriptedSmtpServer;

// Logs its events; its Abort cancels the running wait as the SMTP client's does, so a fault ends it, not a hang.
class RecordingClient : public SocketClient
{
public:
    explicit RecordingClient(quint16 port = 0)
    {
        Host = QStringLiteral("127.0.0.1");
        Port = port;
        OnSocketConnected = [this](QObject *) { Log << "connected"; };
        TimeOut = 5000;
        Target->Handler = [this, pass = Target->Handler](quint32 message, quintptr word, qintptr value) {
            if (message != SocketNotification || word != SocketHandle || !Before || !Before(value & 0xFFFF, value))
                pass(message, word, value);
        };
    }
    // Sees each notification of the socket first; one it takes goes no further but by Deliver.
    std::function<bool(long kind, qintptr value)> Before;
    void Deliver(qintptr value) { HandleSocketMessage(SocketNotification, SocketHandle, value); }
    ~RecordingClient() override { Destroy(); }
    void Abort() override
    {
        Log << "Abort";
        Cancel();
    }
    using SocketClient::TimerOn;
    QStringList Log;
};

// A listener on 127.0.0.3 whose backlog one connection fills: later ones are never answered.
struct SilentAddress
{
    explicit SilentAddress(quint16 port)
    {
        sockaddr_in address{AF_INET, htons(port), {htonl(0x7F000003)}, {}};
        EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::listen(listener, 0);
        (void)::connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address); // under way, not refused
    }
    ~SilentAddress() { ::close(filler), ::close(listener); }
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
};

// A name's addresses are tried in the resolver's order, each for its share of the time-out, until one takes the
// connection; when none does, the one failure names the server, the port and the last reason, within the time-out.
// An address is also written in any form inet_addr reads. The invalid-host handler gets one chance, and Destroy
// reaches the override of Abort.
TEST(SocketClient, EveryAddressInTurn)
{
    S server({});
    const SilentAddress silent(server.Port());
    const QHostAddress live(QHostAddress::LocalHost), refusing("127.0.0.2"), unanswered("127.0.0.3");
    QList<QHostAddress> fiftyRefusing;
    for (quint32 i = 0; i < 50; ++i)
        fiftyRefusing << QHostAddress(0x7F000100 + i);
    const QHash<QString, QList<QHostAddress>> hosts{{"dead-first", {refusing, live}},
                                                    {"silent-first", {unanswered, live}},
                                                    {"50-refusing", fiftyRefusing},
                                                    {"50-silent", QList<QHostAddress>(50, unanswered)}};
    Winsock::AnswerLookupsFrom(&hosts);
    // The host; the reason it fails for (empty: connected to 127.0.0.1); the events.
    const std::tuple<QString, QString, QString> rows[] = {
        {QString(140, '0') + "177.0.0.1", "", "connected Abort"}, // octal: cut short it would be 0
        {"dead-first", "", "connected Abort"},
        {"silent-first", "", "connected Abort"},
        {"50-refusing", "接続を拒否されました", "failed Abort"},
        {"50-silent", "応答がなく時間切れになりました", "Abort failed Abort"},
        {"nohost.invalid", "名前が見つかりません", "invalid host Abort"},
        {"0.0.0.0", "使えるアドレスではありません", "invalid host Abort"},
        {"fe80::1%nosuchif0", "ゾーンに当たるネットワークインターフェースがありません", "failed Abort"},
    };
    for (const auto &[host, reason, events] : rows) {
        SCOPED_TRACE(host.left(20).toStdString());
        RecordingClient client(server.Port());
        client.Host = host;
        client.TimeOut = 1000;
        client.OnConnectionFailed = [&](QObject *) { client.Log << "failed"; };
        client.OnInvalidHost = [&](bool &handled) { client.Log << "invalid host", handled = true; };
        QElapsedTimer took;
        took.start();
        EXPECT_EQ(
            FailureOf<ESockError>([&] { client.Connect(); }),
            reason.isEmpty()
                ? ""
                : QString("サーバ %1 のポート %2 に接続できません（%3）。").arg(host).arg(server.Port()).arg(reason));
        EXPECT_LT(took.elapsed(), 2 * client.TimeOut) << "the time-out bounds the whole of Connect";
        client.Destroy();
        EXPECT_EQ(client.Log.join(' '), events);
    }
    Winsock::AnswerLookupsFrom(nullptr);
}

TEST(SocketClient, WhatThePeerSendsIsBounded)
{
    const QByteArray lines = QByteArray("250 unasked\r\n").repeated(SocketClient::MaxReceiveBuffer / 13 + 1);
    // A line without end fails the reader; a flood nobody reads ends the connection, even with no call waiting.
    for (const auto &[flood, failure] : {std::pair{QByteArray(SocketClient::MaxLineLength + 100000, 'A'),
                                                   "Line too long: no line feed in 1048576 bytes"},
                                         std::pair{lines, "The server sent more than 4 MiB that nobody asked for"}}) {
        S server({S::SayRaw(flood), S::Wait(200)});
        RecordingClient client(server.Port());
        client.Connect();
        EXPECT_TRUE(flood != lines ||
                    QTest::qWaitFor([&] { return !client.Connected && client.ReceiveBuffer.isEmpty(); }));
        client.TimerOn();
        EXPECT_EQ(FailureOf<ESockError>([&] { client.ReadLn(); }), failure);
        EXPECT_LT(client.ReceiveBuffer.size(), SocketClient::MaxLineLength);
    }
}

TEST(SocketClient, SendToResetPeerRaisesNoSignal)
{
    // Straight at the platform: after the peer's reset, sends fail (the second one with the
    // error that would raise SIGPIPE) and the process lives on.
    S server({S::Abort()});
    MessageTarget target;
    const SocketId s = Winsock::Socket(2, 1, 6);
    Winsock::AsyncSelect(s, &target, SocketClient::SocketNotification, Notify::AllSocketKinds);
    Winsock::Connect(s, QHostAddress(QHostAddress::LocalHost), server.Port());
    server.Finish();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Winsock::Send(s, "x", 1) == SocketError; }));
    EXPECT_EQ(Winsock::Send(s, "x", 1), SocketError);
    EXPECT_EQ(Winsock::GetLastError(), WsaError::Shutdown);
    Winsock::CloseSocket(s);
}

TEST(SocketClient, NotificationDuringAHandlerIsHandledAfterIt)
{
    S server({S::Expect("DATA"), S::Say("250 ok")});
    RecordingClient client(server.Port());
    client.Connect();
    // The reply arrives while the send handler is still in its event handler.
    client.OnPacketSent = [](QObject *) { QTest::qWait(100); };
    QBuffer stream;
    stream.setData("DATA\r\n");
    stream.open(QIODevice::ReadOnly);
    client.SendStream(stream);
    client.TimerOn();
    EXPECT_EQ(client.ReadLn(), "250 ok\r\n");
}

// The TLS handshake's own notification tells how it ended, whatever follows in the same pass;
// a reader taking a byte at a time gets all of a record, whose rest waits unseen in the session.
TEST(SocketClient, TlsNotifications)
{
    S server({S::ReadSome(1), S::Say("220 not TLS"), S::AcceptNext(),
              S::Handshake(SmtpSink::Certificates().toUtf8() + "/good"), S::Say("250 hello"), S::Wait(6000)});
    RecordingClient client(server.Port());
    client.Before = [&](long kind, qintptr value) {
        char byte;
        if (kind == Notify::TlsDone)
            client.Deliver(value), client.Deliver(Notify::Write);
        else if (kind == Notify::Read && Winsock::Recv(client.SocketHandle, &byte, 1) == 1)
            client.ReceiveBuffer += byte;
        return kind == Notify::TlsDone || kind == Notify::Read;
    };
    client.Connect();
    EXPECT_TRUE(FailureOf<ESockError>([&] { client.StartTls("127.0.0.1"); }).contains("暗号化した接続"));
    client.Disconnect();
    client.Connect();
    client.StartTls("127.0.0.1");
    client.TimerOn();
    EXPECT_EQ(client.ReadLn(), "250 hello\r\n");
}

} // namespace
