#include "net/SocketClient.h"
#include "platform/MessageTarget.h"
#include "platform/WinsockErrors.h"
#include "support/Failure.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"

#include <QBuffer>
#include <QTest>

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

TEST(SocketClient, HostsAddressesAndDestroy)
{
    // 127.0.0.1 with 140 leading zeros in its octal first part (cut short it would be 0); no
    // address: a name under the reserved TLD, an IPv6 answer.
    for (const QString &host : {QString(140, '0') + "177.0.0.1", QString("nohost.invalid"), QString("::1")}) {
        const bool reached = host.startsWith('0');
        S server({});
        RecordingClient client(server.Port());
        client.Host = host;
        // The invalid-host handler, when there is one, gets one chance: a host it leaves unusable fails at once.
        int calls = 0;
        if (host == "::1")
            client.OnInvalidHost = [&](bool &handled) { handled = ++calls; };
        EXPECT_EQ(FailureOf<ESockError>([&] { client.Connect(); }), reached ? "" : "Null Remote Address");
        EXPECT_EQ(calls, host == "::1");
        // Destroy reaches the override of Abort, which a base destructor could not.
        client.Destroy();
        EXPECT_EQ(client.Log.join(' '), reached ? "connected Abort" : "Abort") << host.left(20).toStdString();
    }
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
    Winsock::Connect(s, {2, Winsock::Htons(server.Port()), Winsock::InetAddr("127.0.0.1")}); // IPv4
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
