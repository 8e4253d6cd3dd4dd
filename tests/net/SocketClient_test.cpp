#include "NetTest.h"

#include "platform/SocketWindow.h"
#include "platform/WinsockErrors.h"

#include <QBuffer>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

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
}

TEST(SocketClient, InvalidHostHandlerGetsOneChance)
{
    S server({});
    RecordingClient client;
    client.Host = QStringLiteral("nohost.invalid");
    client.Port = server.Port();
    QStringList repairs{"x.invalid", "127.0.0.1"};
    client.OnInvalidHost = [&](bool &handled) { client.Host = repairs.takeFirst(), handled = true; };
    // Left unusable: the second failure raises without asking again.
    EXPECT_EQ(FailureOf<ESockError>([&] { client.Connect(); }), "Null Remote Address");
    client.Connect();
    EXPECT_TRUE(client.Connected && repairs.isEmpty());
}

TEST(SocketClient, RefusedTimedOutAndCancelledConnectionsLeaveNothingBehind)
{
    // A port whose backlog is full: a connection to it is never completed.
    const int hanging = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), filler = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof a;
    ::bind(hanging, reinterpret_cast<sockaddr *>(&a), size);
    ::listen(hanging, 0);
    ::getsockname(hanging, reinterpret_cast<sockaddr *>(&a), &size);
    ::connect(filler, reinterpret_cast<sockaddr *>(&a), size);
    RecordingClient refused, timed, cancelled;
    EXPECT_EQ(FailureOf<ESockError>([&] { refused.ConnectTo(1); }), "Connection Failed");
    timed.TimeOut = 50;
    EXPECT_EQ(FailureOf<ESockError>([&] { timed.ConnectTo(ntohs(a.sin_port)); }), "Connection Timed out");
    QTimer::singleShot(30, [&] { cancelled.Cancel(); });
    EXPECT_EQ(FailureOf<ESockError>([&] { cancelled.ConnectTo(ntohs(a.sin_port)); }), "Connection Canceled");
    EXPECT_EQ(refused.Log + timed.Log + cancelled.Log,
              QStringList({"OnConnectionFailed", "Abort", "OnConnectionFailed", "OnConnectionFailed"}));
    for (RecordingClient *c : {&refused, &timed, &cancelled}) {
        S server({});
        c->ConnectTo(server.Port());
        EXPECT_TRUE(c->Connected);
    }
    ::close(filler);
    ::close(hanging);
}

TEST(SocketClient, PeerCloseOrResetKeepsTheLastBytesAndMakesAFreshSocket)
{
    for (const S::Step &end : {S::Hangup(), S::Abort()}) {
        S server({S::SayRaw("221 bye\r\npartial"), S::Wait(100), end});
        RecordingClient client;
        client.ConnectTo(server.Port());
        const TSocket before = client.SocketHandle;
        ASSERT_TRUE(WaitFor([&] { return !client.Connected; }));
        EXPECT_EQ(client.Log, (QStringList{"OnConnect", "OnDisconnect"}));
        EXPECT_EQ(client.LastEventOk, end.kind == S::Step::Close);
        EXPECT_NE(client.SocketHandle, before);
        EXPECT_EQ(client.ReadLn(), "221 bye\r\n");
        // The cut last line is no line, and nothing can go out: both fail instead of waiting.
        client.Guard();
        EXPECT_EQ(FailureOf<ESockError>([&] { client.ReadLn(); }), "Connection closed by the server");
        EXPECT_EQ(FailureOf<ESockError>([&] { client.Write("RSET\r\n"); }), "Connection closed by the server");
        S next({});
        client.ConnectTo(next.Port());
        EXPECT_TRUE(client.Connected);
    }
}

TEST(SocketClient, RequireConnectionDestroyAndErrorTexts)
{
    RecordingClient client;
    int asked = 0;
    client.OnConnectionRequired = [&](bool &handled) { handled = ++asked; };
    EXPECT_EQ(FailureOf([&] { client.RequireConnection(); }), "Not Connected");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(client.LookupErrorText(10061), "10061:Connection refused");
    EXPECT_EQ(client.LookupErrorText(10090), "Unknown Error No. 10090");
    EXPECT_EQ(client.LookupErrorText(0), "");
    // Destroy reaches the override of Abort, which a base destructor could not.
    client.Destroy();
    EXPECT_EQ(client.Log, QStringList{"Abort"});
    EXPECT_EQ(client.SocketHandle, InvalidSocket);
}

TEST(SocketClient, LookUpCancelledOrTimedOutPassesThroughConnect)
{
    RecordingClient client;
    client.Host = QStringLiteral("localhost");
    client.ReportLevel = 8;
    client.OnStatus = [&](QObject *, const QString &status) {
        if (status == "Resolve Host")
            client.Cancel();
    };
    EXPECT_EQ(FailureOf<ESockError>([&] { client.Connect(); }), "Host Lookup Canceled");
    // A time-out due before the look-up's answer is handled: Abort runs, no
    // OnConnectionFailed. The first event of the wait holds the thread long enough.
    client.OnStatus = [](QObject *, const QString &status) {
        if (status == "Timer On")
            QTimer::singleShot(0, [] { QThread::msleep(20); });
    };
    client.TimeOut = 1;
    EXPECT_EQ(FailureOf<ESockError>([&] { client.Connect(); }), "Host Lookup Timed Out");
    EXPECT_EQ(client.Log, QStringList{"Abort"});
}

TEST(SocketClient, ReadLnAndTransaction)
{
    const std::pair<QByteArray, qint16> replies[] = {
        {"250 ok\r\n", 250},      {"OK fine\r\n", 0},
        {"32767 top\r\n", 32767}, {"9999999999 past int\r\n", 0},
        {"99999 over\r\n", -1},   {"12345678901 eleven digits\r\n", -1}, // out of range
    };
    S::Script script{S::SayRaw("220 first\r\n250 second\r\n")};
    for (char c : QByteArray("354 go\0on\r\n", 11))
        script << S::SayRaw(QByteArray(1, c)) << S::Wait(3);
    for (const auto &[reply, code] : replies)
        script << S::Expect("NOOP") << S::SayRaw(reply);
    S server(script);
    RecordingClient client;
    client.ConnectTo(server.Port());
    client.Guard();
    EXPECT_EQ(client.ReadLn(), "220 first\r\n");
    EXPECT_EQ(client.ReadLn(), "250 second\r\n");
    EXPECT_EQ(client.ReadLn(), QByteArray("354 go\0on\r\n", 11));
    qint16 whileWaiting = -1;
    client.OnDataArrived = [&](QObject *) { whileWaiting = client.ReplyCode; };
    for (const auto &[reply, code] : replies) {
        client.ReplyCode = 77;
        const QString failure = FailureOf<ESockError>([&] { client.Transaction("NOOP"); });
        EXPECT_EQ(failure.startsWith("Reply code"), code < 0) << failure.toStdString();
        EXPECT_EQ(client.LastReply, reply);
        EXPECT_EQ(client.ReplyCode, qMax<qint16>(code, 0));
        EXPECT_EQ(whileWaiting, 0);
    }
}

TEST(SocketClient, WriteStopsAtZeroAndAt16384BytesAndWritelnAddsCrLf)
{
    S server({S::Expect("HELO aRSET"), S::Expect(QByteArray(16384, 'x') + "QUIT")});
    RecordingClient client;
    client.ConnectTo(server.Port());
    client.Guard();
    client.Write(QByteArray("HELO a\0hidden", 13));
    client.Write(""); // nothing to send: returns at once
    client.Writeln("RSET");
    client.Write(QByteArray(20000, 'x'));
    client.Writeln("QUIT");
    server.Finish();
    EXPECT_EQ(server.Problems(), QStringList());
}

TEST(SocketClient, SendStreamDeliversEverythingInOrderThroughPartialSends)
{
    QByteArray body;
    for (int i = 0; body.size() < 10 * 1024 * 1024; ++i)
        body += "line " + QByteArray::number(i) + "\r\n";
    // The server reads nothing for a while: the sends come back partial, then would-block.
    S server({S::Wait(300), S::ReadMessage()});
    RecordingClient client;
    client.ConnectTo(server.Port());
    int packets = 0;
    client.OnPacketSent = [&](QObject *) { ++packets; };
    QBuffer stream;
    stream.setData(body + ".\r\n");
    stream.open(QIODevice::ReadOnly);
    stream.seek(body.size()); // SendStream starts from the beginning whatever the position
    client.SendStream(stream);
    EXPECT_EQ(client.SentBytes, body.size() + 3);
    EXPECT_EQ(client.TotalBytes, body.size() + 3);
    EXPECT_GT(packets, body.size() / 16383);
    EXPECT_EQ(client.LastError, 10035); // the would-block path was taken
    server.Finish();
    EXPECT_TRUE(server.Messages().value(0) == body);
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
    for (const auto &[flood, failure] : {std::pair{QByteArray(SocketClient::MaxLineLength + 100000, 'A'),
                                                   "Line too long: no line feed in 1048576 bytes"},
                                         std::pair{lines, "The server sent more than 4 MiB that nobody asked for"}}) {
        S server({S::SayRaw(flood), S::Wait(200)});
        RecordingClient client;
        client.ConnectTo(server.Port());
        if (flood == lines) {
            EXPECT_TRUE(WaitFor([&] { return !client.Connected && client.ReceiveBuffer.isEmpty(); }));
        }
        client.Guard();
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
    Winsock::Connect(s, {AF_INET, Winsock::Htons(server.Port()), Winsock::InetAddr("127.0.0.1")});
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
    client.Guard();
    EXPECT_EQ(client.ReadLn(), "250 ok\r\n");
}

} // namespace
