#include "NetTest.h"

namespace {

TEST(SocketConnect, HostsAndAddresses)
{
    struct Row
    {
        QString host;
        QString failure;
        QStringList log;
    } rows[] = {
        {"127.0.0.1", "", {"OnConnect"}},
        {"localhost", "", {"OnHostResolved", "OnConnect"}},
        // 127.0.0.1 with 140 leading zeros in its octal first part: cut short it would be 0.
        {QString(140, '0') + "177.0.0.1", "", {"OnConnect"}},
        // Four zeros are no address; a name under the reserved TLD never resolves; an IPv6
        // answer is no address for this IPv4 socket.
        {"0.0.0.0", "Null Remote Address", {}},
        {"nohost.invalid", "Null Remote Address", {}},
        {"::1", "Null Remote Address", {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.host.left(20).toStdString());
        S server({});
        RecordingClient client;
        client.Host = row.host;
        EXPECT_EQ(FailureOf<ESockError>([&] { client.ConnectTo(server.Port()); }), row.failure);
        EXPECT_EQ(client.Connected, row.failure.isEmpty());
        EXPECT_EQ(client.Log, row.log);
    }
}

TEST(SocketConnect, InvalidHostHandlerGetsOneChance)
{
    S server({});
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
    HangingPort hanging;
    RecordingClient client, timed, cancelled;
    EXPECT_EQ(FailureOf<ESockError>([&] { client.ConnectTo(1); }), "Connection Failed");
    EXPECT_EQ(client.Log, QStringList{"OnConnectionFailed"});
    timed.TimeOut = 50;
    EXPECT_EQ(FailureOf<ESockError>([&] { timed.ConnectTo(hanging.port); }), "Connection Timed out");
    EXPECT_EQ(timed.Log, (QStringList{"Abort", "OnConnectionFailed"}));
    QTimer::singleShot(30, [&] { cancelled.Cancel(); });
    EXPECT_EQ(FailureOf<ESockError>([&] { cancelled.ConnectTo(hanging.port); }), "Connection Canceled");
    EXPECT_EQ(cancelled.Log, QStringList{"OnConnectionFailed"});
    // A failed attempt leaves nothing behind: the same clients connect at once afterwards.
    for (RecordingClient *c : {&client, &timed}) {
        S server({});
        c->ConnectTo(server.Port());
        EXPECT_TRUE(c->Connected);
        c->Disconnect();
    }
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

TEST(SocketConnect, PeerCloseOrResetKeepsTheLastBytesAndMakesAFreshSocket)
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
        EXPECT_FALSE(client.TimedOut);
        S next({});
        client.ConnectTo(next.Port());
        EXPECT_TRUE(client.Connected);
    }
}

TEST(SocketConnect, RequireConnectionAsksOnce)
{
    S server({});
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

TEST(SocketConnect, DestroyRunsTheOverriddenAbortAndClosesTheSocket)
{
    RecordingClient client;
    client.Destroy();
    EXPECT_EQ(client.Log, QStringList{"Abort"});
    EXPECT_TRUE(client.CancelPending);
    EXPECT_EQ(client.SocketHandle, InvalidSocket);
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

TEST(SocketConnect, LookUpCancelledOrTimedOutPassesThroughConnect)
{
    RecordingClient client;
    client.Host = QStringLiteral("localhost");
    client.ReportLevel = 8;
    client.OnStatus = [&](QObject *, const QString &status) {
        if (status == "Resolve Host")
            client.Cancel();
    };
    EXPECT_EQ(FailureOf<ESockError>([&] { client.Connect(); }), "Host Lookup Canceled");
    EXPECT_TRUE(client.Log.isEmpty());
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

} // namespace
