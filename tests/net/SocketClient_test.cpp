#include "NetTest.h"

#include "platform/SocketWindow.h"
#include "platform/WinsockErrors.h"

#include <QBuffer>

#include <utility>

namespace {

TEST(SocketClient, HostsAndAddresses)
{
    const std::pair<QString, QStringList> rows[] = {
        {"127.0.0.1", {"OnConnect"}},
        {"localhost", {"OnHostResolved", "OnConnect"}},
        // 127.0.0.1 with 140 leading zeros in its octal first part: cut short it would be 0.
        {QString(140, '0') + "177.0.0.1", {"OnConnect"}},
        // No address: four zeros, a name under the reserved TLD, an IPv6 answer.
        {"0.0.0.0", {}},
        {"nohost.invalid", {}},
        {"::1", {}},
    };
    for (const auto &[host, log] : rows) {
        S server({});
        RecordingClient client;
        client.Host = host;
        EXPECT_EQ(FailureOf<ESockError>([&] { client.ConnectTo(server.Port()); }),
                  log.isEmpty() ? "Null Remote Address" : "");
        EXPECT_EQ(client.Log, log) << host.left(20).toStdString();
    }
    // The invalid-host handler gets one chance: a host it leaves unusable fails at once.
    RecordingClient client;
    client.Host = QStringLiteral("nohost.invalid");
    int calls = 0;
    client.OnInvalidHost = [&](bool &handled) { handled = ++calls; };
    EXPECT_EQ(FailureOf<ESockError>([&] { client.Connect(); }), "Null Remote Address");
    EXPECT_EQ(calls, 1);
}

TEST(SocketClient, CancelledSendLeavesNothingForTheNextConnection)
{
    S stuck({S::Wait(300)}), next({S::Expect("HELO me")});
    RecordingClient client;
    client.ConnectTo(stuck.Port());
    QBuffer stream;
    stream.setData(QByteArray(8 * 1024 * 1024, 'z'));
    stream.open(QIODevice::ReadOnly);
    client.OnPacketSent = [&](QObject *) { client.Cancel(); };
    EXPECT_EQ(FailureOf<EAbortError>([&] { client.SendStream(stream); }), "Socket send aborted");
    EXPECT_FALSE(client.CancelPending);
    client.Disconnect();
    client.ConnectTo(next.Port());
    client.Writeln("HELO me");
    client.Disconnect();
    next.Finish();
    EXPECT_EQ(next.Problems(), QStringList());
}

TEST(SocketClient, WhatThePeerSendsIsBounded)
{
    QByteArray lines;
    while (lines.size() <= SocketClient::MaxReceiveBuffer)
        lines += "250 unasked\r\n";
    // A line without end fails the reader; a flood nobody reads ends the connection, also
    // while no call waits.
    for (const auto &[flood, failure] :
         {std::pair{QByteArray(SocketClient::MaxLineLength + 100000, 'A'), "Line too long: no line feed in 1048576 bytes"},
          std::pair{lines, "The server sent more than 4 MiB that nobody asked for"}}) {
        S server({S::SayRaw(flood), S::Wait(200)});
        RecordingClient client;
        client.ConnectTo(server.Port());
        if (flood == lines) {
            EXPECT_TRUE(WaitFor([&] { return !client.Connected && client.ReceiveBuffer.isEmpty(); }));
        }
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
    SocketWindow window;
    const TSocket s = Winsock::Socket(2, 1, 6);
    Winsock::AsyncSelect(s, &window, 1125, FdAll);
    Winsock::Connect(s, {2, Winsock::Htons(server.Port()), Winsock::InetAddr("127.0.0.1")}); // IPv4
    server.Finish();
    ASSERT_TRUE(WaitFor([&] { return Winsock::Send(s, "x", 1) == SocketError; }));
    EXPECT_EQ(Winsock::Send(s, "x", 1), SocketError);
    EXPECT_EQ(Winsock::GetLastError(), WsaError::Shutdown);
    Winsock::CloseSocket(s);
}

TEST(SocketClient, NotificationDuringAHandlerIsHandledAfterIt)
{
    S server({S::Expect("DATA"), S::Say("250 ok")});
    RecordingClient client;
    client.ConnectTo(server.Port());
    bool first = true;
    // The reply arrives while the send handler is still in its event handler.
    client.OnPacketSent = [&](QObject *) {
        if (std::exchange(first, false))
            WaitFor([] { return false; }, 100);
    };
    QBuffer stream;
    stream.setData("DATA\r\n");
    stream.open(QIODevice::ReadOnly);
    client.SendStream(stream);
    client.TimerOn();
    EXPECT_EQ(client.ReadLn(), "250 ok\r\n");
    // Destroy reaches the override of Abort, which a base destructor could not.
    client.Log.clear();
    client.Destroy();
    EXPECT_EQ(client.Log, QStringList{"Abort"});
}

} // namespace
