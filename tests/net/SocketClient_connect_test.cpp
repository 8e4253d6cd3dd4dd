#include "LoopbackServer.h"
#include "NetTest.h"

namespace {

// A server that only holds the connection until the client goes.
LoopbackServer::Session Idle = [](int fd) { LoopbackServer::ReadToEnd(fd); };

TEST(SocketConnect, DottedAddressSkipsTheLookUpAndANameIsLookedUp)
{
    for (const auto &[host, log] : {std::pair{"127.0.0.1", QStringList{"OnConnect"}},
                                    std::pair{"localhost", QStringList{"OnHostResolved", "OnConnect"}}}) {
        SCOPED_TRACE(host);
        LoopbackServer server(Idle);
        RecordingClient client;
        client.Host = host;
        client.ConnectTo(server.Port());
        EXPECT_TRUE(client.Connected);
        EXPECT_EQ(client.Log, log);
    }
}

TEST(SocketConnect, LongHostNamesAreUsedWhole)
{
    // 127.0.0.1 written with 140 leading zeros in its octal first part: cut at 127
    // characters it would be all zeros, which is no address.
    const QString host = QString(140, QLatin1Char('0')) + QStringLiteral("177.0.0.1");
    LoopbackServer server(Idle);
    RecordingClient client;
    client.Host = host;
    client.ConnectTo(server.Port());
    EXPECT_TRUE(client.Connected);
}

TEST(SocketConnect, HostsWithoutAddressFailWithNullRemoteAddress)
{
    // Four zeros parse as "no address"; a name under the reserved TLD never resolves; an
    // IPv6-only answer is no address for this IPv4 socket.
    for (const char *host : {"0.0.0.0", "nohost.invalid", "::1"}) {
        SCOPED_TRACE(host);
        RecordingClient client;
        client.Host = host;
        client.Port = 25;
        EXPECT_EQ(FailureOf<ESockError>([&] { client.Connect(); }), "Null Remote Address");
        EXPECT_TRUE(client.Log.isEmpty()) << client.Log.join('|').toStdString();
    }
}

TEST(SocketConnect, InvalidHostHandlerGetsOneChance)
{
    LoopbackServer server(Idle);
    RecordingClient client;
    client.Host = QStringLiteral("nohost.invalid");
    client.Port = server.Port();
    int calls = 0;
    QString repair;
    client.OnInvalidHost = [&](bool &handled) {
        ++calls;
        if (!repair.isEmpty())
            client.Host = repair;
        handled = true;
    };
    // Left unusable: the second failure raises without asking again.
    EXPECT_EQ(FailureOf<ESockError>([&] { client.Connect(); }), "Null Remote Address");
    EXPECT_EQ(calls, 1);
    repair = QStringLiteral("127.0.0.1");
    client.Connect();
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(client.Connected);
}

TEST(SocketConnect, RefusedTimedOutAndCancelledConnections)
{
    DeadPort refusing(DeadPort::Refusing), hanging(DeadPort::Hanging);
    RecordingClient client;
    EXPECT_EQ(FailureOf<ESockError>([&] { client.ConnectTo(refusing.Port()); }), "Connection Failed");
    EXPECT_EQ(client.Log, QStringList{"OnConnectionFailed"});
    EXPECT_FALSE(client.Connected);

    RecordingClient timed;
    timed.TimeOut = 50;
    EXPECT_EQ(FailureOf<ESockError>([&] { timed.ConnectTo(hanging.Port()); }), "Connection Timed out");
    EXPECT_EQ(timed.Log, (QStringList{"Abort", "OnConnectionFailed"}));
    EXPECT_TRUE(timed.TimedOut);

    // A failed attempt leaves nothing behind: the same clients connect at once afterwards.
    LoopbackServer server(Idle);
    client.ConnectTo(server.Port());
    timed.ConnectTo(server.Port());
    EXPECT_TRUE(client.Connected && timed.Connected);
    client.Disconnect();
    timed.Disconnect();

    RecordingClient cancelled;
    QTimer::singleShot(30, [&] { cancelled.Cancel(); });
    EXPECT_EQ(FailureOf<ESockError>([&] { cancelled.ConnectTo(hanging.Port()); }), "Connection Canceled");
    EXPECT_EQ(cancelled.Log, QStringList{"OnConnectionFailed"});
}

TEST(SocketConnect, PlatformRefusalGoesThroughTheErrorManagerAndOnErrorFirst)
{
    // Four 255s are no address to parse, so they are looked up; TCP to the broadcast
    // address is refused at once by this machine.
    RecordingClient client;
    client.Host = QStringLiteral("255.255.255.255");
    client.Port = 25;
    client.ReportLevel = 16;
    QString failure = FailureOf<ESockError>([&] { client.Connect(); });
    EXPECT_TRUE(failure.startsWith("100")) << failure.toStdString();
    EXPECT_TRUE(client.Log.contains("OnHostResolved"));
    EXPECT_EQ(client.Log.mid(client.Log.size() - 3),
              (QStringList{"status Checking Error In Error Manager", "status Looking Up Error Message",
                           "OnError " + QString::number(client.LastError) + " " + failure}));
}

TEST(SocketConnect, StatusTextsFollowTheLevel)
{
    LoopbackServer server(Idle);
    RecordingClient client;
    client.ConnectTo(server.Port());
    client.ReportLevel = 8;
    client.Log.clear();
    EXPECT_EQ(FailureOf<ESockError>([&] { client.Connect(); }), "Already connected");
    EXPECT_EQ(client.Log, QStringList{"status Connecting"});
    // At level 4 only the level-4 texts pass.
    client.ReportLevel = 4;
    client.Log.clear();
    client.Disconnect();
    EXPECT_EQ(client.Log, (QStringList{"status Request Close Socket", "OnDisconnect"}));

    // A look-up that ends without an address, at level 8: its texts, and no OnError.
    client.ReportLevel = 8;
    client.Host = QStringLiteral("x.invalid");
    client.Log.clear();
    FailureOf([&] { client.Connect(); });
    EXPECT_EQ(client.Log,
              (QStringList{"status Connecting", "status Resolve Host", "status Timer On", "status Timer Off"}));
}

TEST(SocketConnect, PeerCloseKeepsLastBytesAndMakesAFreshSocket)
{
    LoopbackServer first([](int fd) { LoopbackServer::SendAll(fd, "221 bye\r\npartial"); });
    LoopbackServer second(Idle);
    RecordingClient client;
    client.ConnectTo(first.Port());
    TSocket before = client.SocketHandle;
    ASSERT_TRUE(WaitFor([&] { return !client.Connected; }));
    EXPECT_EQ(client.ReceiveBuffer, "221 bye\r\npartial");
    EXPECT_EQ(client.Log, (QStringList{"OnConnect", "OnDisconnect"}));
    EXPECT_TRUE(client.LastEventOk);
    EXPECT_NE(client.SocketHandle, before);
    EXPECT_EQ(client.ReadLn(), "221 bye\r\n");
    // The cut last line is no line: the read fails instead of waiting.
    client.Guard();
    EXPECT_EQ(FailureOf<ESockError>([&] { client.ReadLn(); }), "Connection closed by the server");
    EXPECT_FALSE(client.TimedOut);
    client.TimerOff();
    client.ConnectTo(second.Port());
    EXPECT_TRUE(client.Connected);
}

TEST(SocketConnect, PeerResetClosesWithTheErrorAndNoCrash)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::ReadLine(fd);
        LoopbackServer::Reset(fd);
    });
    RecordingClient client;
    client.ConnectTo(server.Port());
    client.Writeln("QUIT");
    ASSERT_TRUE(WaitFor([&] { return !client.Connected; }));
    EXPECT_FALSE(client.LastEventOk);
    EXPECT_EQ(client.Log, (QStringList{"OnConnect", "OnDisconnect"}));
    // Nothing can go out on the fresh socket: the send fails instead of waiting for ever.
    EXPECT_EQ(FailureOf<ESockError>([&] { client.Write("RSET\r\n"); }), "Connection closed by the server");
}

TEST(SocketConnect, RequireConnectionAsksOnce)
{
    LoopbackServer server(Idle);
    RecordingClient client;
    EXPECT_EQ(FailureOf([&] { client.RequireConnection(); }), "Not Connected");
    int calls = 0;
    bool connect = false;
    client.OnConnectionRequired = [&](bool &handled) {
        ++calls;
        if (connect)
            client.ConnectTo(server.Port());
        handled = true;
    };
    EXPECT_EQ(FailureOf([&] { client.RequireConnection(); }), "Not Connected");
    EXPECT_EQ(calls, 1);
    connect = true;
    client.RequireConnection();
    EXPECT_TRUE(client.Connected);
}

TEST(SocketConnect, DestroyRunsTheOverriddenAbortAndReleasesTheSockets)
{
    int before = SocketClient::SocketsInUse();
    QStringList log;
    {
        RecordingClient client;
        EXPECT_EQ(SocketClient::SocketsInUse(), before + 1);
        client.Destroy();
        log = client.Log;
        EXPECT_TRUE(client.CancelPending);
        EXPECT_EQ(client.SocketHandle, InvalidSocket);
    }
    EXPECT_EQ(log, QStringList{"Abort"});
    EXPECT_EQ(SocketClient::SocketsInUse(), before);
}

TEST(SocketConnect, ErrorTexts)
{
    SocketClient client;
    EXPECT_EQ(client.LookupErrorText(10061), "10061:Connection refused");
    EXPECT_EQ(client.LookupErrorText(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(client.LookupErrorText(10090), "Unknown Error No. 10090");
    EXPECT_EQ(client.LookupErrorText(0), "");
    RecordingClient timed;
    timed.TimeOut = -1;
    EXPECT_EQ(FailureOf([&] { timed.TimerOn(); }), "TimeOut out of range: -1");
}

} // namespace
