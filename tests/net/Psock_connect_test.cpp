#include "LoopbackServer.h"
#include "NetTest.h"

#include <unistd.h>

namespace {

// A server that only holds the connection until the client goes.
LoopbackServer::Session Idle = [](int fd) { LoopbackServer::ReadToEnd(fd); };

TEST(PsockConnect, DottedAddressConnectsWithoutLookUp)
{
    LoopbackServer server(Idle);
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    EXPECT_TRUE(client.Connected);
    EXPECT_EQ(client.Log, QStringList{"OnConnect"});
}

TEST(PsockConnect, NameIsLookedUpAndResolvedFires)
{
    LoopbackServer server(Idle);
    RecordingClient client;
    client.Host = QStringLiteral("localhost");
    client.Port = server.Port();
    client.Connect();
    EXPECT_TRUE(client.Connected);
    EXPECT_EQ(client.Log, (QStringList{"OnHostResolved", "OnConnect"}));
}

TEST(PsockConnect, HostsWithoutAddressFailWithNullRemoteAddress)
{
    // Four zeros parse as "no address"; a name under the reserved TLD never resolves; an
    // IPv6-only answer is no address for this IPv4 socket.
    for (const QString &host : {QStringLiteral("0.0.0.0"), QStringLiteral("nohost.invalid"), QStringLiteral("::1")}) {
        SCOPED_TRACE(host.toStdString());
        RecordingClient client;
        client.Host = host;
        client.Port = 25;
        EXPECT_EQ(Failure<ESockError>([&] { client.Connect(); }), "Null Remote Address");
        EXPECT_TRUE(client.Log.isEmpty()) << client.Log.join('|').toStdString();
    }
}

TEST(PsockConnect, InvalidHostHandlerGetsOneChance)
{
    LoopbackServer server(Idle);
    RecordingClient client;
    client.Host = QStringLiteral("nohost.invalid");
    client.Port = server.Port();
    int calls = 0;
    // Left unusable: the second failure raises without asking again.
    client.OnInvalidHost = [&](bool &handled) {
        ++calls;
        handled = true;
    };
    EXPECT_EQ(Failure<ESockError>([&] { client.Connect(); }), "Null Remote Address");
    EXPECT_EQ(calls, 1);

    // Repaired: the connection is made.
    calls = 0;
    client.OnInvalidHost = [&](bool &handled) {
        ++calls;
        client.Host = QStringLiteral("127.0.0.1");
        handled = true;
    };
    client.Connect();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(client.Connected);
}

TEST(PsockConnect, RefusedConnectionFiresConnectionFailedThenRaises)
{
    RefusingPort port;
    RecordingClient client;
    client.Port = port.Port();
    EXPECT_EQ(Failure<ESockError>([&] { client.Connect(); }), "Connection Failed");
    EXPECT_EQ(client.Log, QStringList{"OnConnectionFailed"});
    EXPECT_FALSE(client.Connected);
}

TEST(PsockConnect, AlreadyConnectedAfterReportingConnecting)
{
    LoopbackServer server(Idle);
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    client.ReportLevel = 8;
    client.Log.clear();
    EXPECT_EQ(Failure<ESockError>([&] { client.Connect(); }), "Already connected");
    EXPECT_EQ(client.Log, QStringList{"status Connecting"});
}

TEST(PsockConnect, CancelEndsTheConnectionWait)
{
    HangingListener listener;
    RecordingClient client;
    client.Port = listener.Port();
    QTimer::singleShot(30, [&] { client.Cancel(); });
    EXPECT_EQ(Failure<ESockError>([&] { client.Connect(); }), "Connection Canceled");
    EXPECT_EQ(client.Log, QStringList{"OnConnectionFailed"});
}

TEST(PsockConnect, TimeOutAbortsThenFailsConnection)
{
    HangingListener listener;
    RecordingClient client;
    client.Port = listener.Port();
    client.TimeOut = 50;
    EXPECT_EQ(Failure<ESockError>([&] { client.Connect(); }), "Connection Timed out");
    EXPECT_EQ(client.Log, (QStringList{"Abort", "OnConnectionFailed"}));
    EXPECT_TRUE(client.TimedOut);

    // The attempt is still under way on that socket: the platform's refusal goes through
    // OnError before it is raised.
    client.Log.clear();
    EXPECT_EQ(Failure<ESockError>([&] { client.Connect(); }), "10037:Operation already in progress");
    EXPECT_EQ(client.Log, QStringList{"OnError 10037 10037:Operation already in progress"});
}

TEST(PsockConnect, PlatformRefusalGoesThroughOnErrorFirst)
{
    // Four 255s are no address to parse, so they are looked up; TCP to the broadcast
    // address is refused at once by this machine.
    RecordingClient client;
    client.Host = QStringLiteral("255.255.255.255");
    client.Port = 25;
    client.ReportLevel = 16;
    QString failure = Failure<ESockError>([&] { client.Connect(); });
    EXPECT_TRUE(failure.startsWith("100")) << failure.toStdString();
    ASSERT_GE(client.Log.size(), 3);
    EXPECT_TRUE(client.Log.contains("OnHostResolved"));
    EXPECT_EQ(client.Log.mid(client.Log.size() - 3, 2),
              (QStringList{"status Checking Error In Error Manager", "status Looking Up Error Message"}));
    EXPECT_EQ(client.Log.last(), "OnError " + QString::number(client.LastError) + " " + failure);
}

TEST(PsockConnect, StatusTextsFollowTheLevel)
{
    // A look-up that ends without an address, at level 8: its texts, and no OnError.
    RecordingClient client;
    client.ReportLevel = 8;
    client.Host = QStringLiteral("x.invalid");
    Failure([&] { client.Connect(); });
    EXPECT_EQ(client.Log,
              (QStringList{"status Connecting", "status Resolve Host", "status Timer On", "status Timer Off"}));
    // At level 4 only the level-4 texts pass.
    client.ReportLevel = 4;
    client.Log.clear();
    client.Disconnect();
    EXPECT_EQ(client.Log, (QStringList{"status Request Close Socket", "OnDisconnect"}));
}

TEST(PsockConnect, PeerCloseKeepsLastBytesAndMakesAFreshSocket)
{
    LoopbackServer first([](int fd) { LoopbackServer::SendAll(fd, "221 bye\r\npartial"); });
    LoopbackServer second(Idle);
    RecordingClient client;
    client.Port = first.Port();
    client.Connect();
    TSocket before = client.SocketHandle;
    ASSERT_TRUE(WaitFor([&] { return !client.Connected; }));
    EXPECT_EQ(client.ReceiveBuffer, "221 bye\r\npartial");
    EXPECT_EQ(client.Log, (QStringList{"OnConnect", "OnDisconnect"}));
    EXPECT_TRUE(client.LastEventOk);
    EXPECT_NE(client.SocketHandle, before);
    EXPECT_EQ(client.ReadLn(), "221 bye\r\n");

    client.Port = second.Port();
    client.Connect();
    EXPECT_TRUE(client.Connected);
}

TEST(PsockConnect, PeerResetClosesWithTheErrorAndNoCrash)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::ReadLine(fd);
        LoopbackServer::Reset(fd);
    });
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    client.Writeln("QUIT");
    ASSERT_TRUE(WaitFor([&] { return !client.Connected; }));
    EXPECT_FALSE(client.LastEventOk);
    EXPECT_EQ(client.Log, (QStringList{"OnConnect", "OnDisconnect"}));

    // Nothing can go out on the fresh socket: the send fails instead of waiting for ever.
    EXPECT_EQ(Failure<ESockError>([&] { client.Write("RSET\r\n"); }), "Connection closed by the server");
}

TEST(PsockConnect, RequireConnectionAsksOnce)
{
    LoopbackServer server(Idle);
    RecordingClient client;
    EXPECT_EQ(Failure([&] { client.RequireConnection(); }), "Not Connected");
    int calls = 0;
    client.OnConnectionRequired = [&](bool &handled) {
        ++calls;
        handled = true;
    };
    EXPECT_EQ(Failure([&] { client.RequireConnection(); }), "Not Connected");
    EXPECT_EQ(calls, 1);
    client.Port = server.Port();
    client.OnConnectionRequired = [&](bool &handled) {
        client.Connect();
        handled = true;
    };
    client.RequireConnection();
    EXPECT_TRUE(client.Connected);
}

TEST(PsockConnect, DestroyRunsTheOverriddenAbortAndReleasesTheSockets)
{
    int before = TPowersock::SocketsInUse();
    QStringList log;
    {
        RecordingClient client;
        EXPECT_EQ(TPowersock::SocketsInUse(), before + 1);
        client.OnDisconnect = [&](QObject *) { log << "OnDisconnect"; };
        client.Destroy();
        log = client.Log;
        EXPECT_TRUE(client.CancelPending);
        EXPECT_EQ(client.SocketHandle, InvalidSocket);
    }
    EXPECT_EQ(log, QStringList{"Abort"});
    EXPECT_EQ(TPowersock::SocketsInUse(), before);
    if (before == 0) {
        // The client that starts the socket layer describes it.
        TPowersock first;
        ASSERT_EQ(first.SocketInfo.size(), 6);
        EXPECT_EQ(first.SocketInfo.first(), "Version= 1.1");
        EXPECT_TRUE(first.SocketInfo.last().startsWith("Max Udp pack size= "));
    }
}

TEST(PsockConnect, ErrorTexts)
{
    TPowersock client;
    EXPECT_EQ(client.LookupErrorText(10061), "10061:Connection refused");
    EXPECT_EQ(client.LookupErrorText(10035), "10035:Operation would block");
    EXPECT_EQ(client.LookupErrorText(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(client.LookupErrorText(12345), "Unknown Error No. 12345");
    EXPECT_EQ(client.LookupErrorText(10090), "Unknown Error No. 10090");
    EXPECT_EQ(client.LookupErrorText(0), "");
}

TEST(PsockConnect, NegativeTimeOutIsARangeError)
{
    RecordingClient client;
    client.TimeOut = -1;
    EXPECT_EQ(Failure([&] { client.TimerOn(); }), "TimeOut out of range: -1");
}

} // namespace
