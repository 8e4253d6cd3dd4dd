#include "LoopbackServer.h"
#include "NetTest.h"

#include "platform/SocketWindow.h"
#include "platform/WinsockErrors.h"

#include <QBuffer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <utility>

namespace {

// Collects what the server read, for the GUI thread to look at after the session ended.
struct Received
{
    std::mutex lock;
    QByteArray bytes;
    void Set(const QByteArray &b)
    {
        std::lock_guard<std::mutex> guard(lock);
        bytes = b;
    }
    QByteArray Get()
    {
        std::lock_guard<std::mutex> guard(lock);
        return bytes;
    }
};

TEST(PsockData, ReadLnSplitsPacketsIntoLinesAndJoinsBytesIntoLines)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::SendAll(fd, "220 first\r\n250 second\r\n");
        for (char c : QByteArray("354 go\0on\r\n", 11)) {
            LoopbackServer::SendAll(fd, QByteArray(1, c));
            usleep(3000);
        }
        LoopbackServer::ReadToEnd(fd);
    });
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    EXPECT_EQ(client.ReadLn(), "220 first\r\n");
    EXPECT_EQ(client.ReadLn(), "250 second\r\n");
    EXPECT_EQ(client.ReadLn(), QByteArray("354 go\0on\r\n", 11));
    EXPECT_TRUE(client.ReceiveBuffer.isEmpty());
}

TEST(PsockData, TransactionReplyCodes)
{
    struct Row
    {
        QByteArray reply;
        qint16 code;
        QString failure;
    } rows[] = {
        {"250 ok\r\n", 250, ""},
        {"OK fine\r\n", 0, ""},
        {"32767 top\r\n", 32767, ""},
        {"99999 over\r\n", 0, "Reply code 99999 out of range"},
        {"12345678901 eleven digits\r\n", 0, "Reply code 1234567890 out of range"},
        {"9999999999 past int\r\n", 0, ""},
    };
    LoopbackServer server([&](int fd) {
        for (const Row &row : rows) {
            LoopbackServer::ReadLine(fd);
            LoopbackServer::SendAll(fd, row.reply);
        }
    });
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    qint16 codeWhileWaiting = -1;
    client.OnDataArrived = [&](QObject *) { codeWhileWaiting = client.ReplyCode; };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.reply.toStdString());
        client.ReplyCode = 77;
        EXPECT_EQ(Failure<ESockError>([&] { EXPECT_EQ(client.Transaction("NOOP"), row.reply); }), row.failure);
        EXPECT_EQ(client.LastReply, row.reply);
        EXPECT_EQ(client.ReplyCode, row.code);
        EXPECT_EQ(codeWhileWaiting, 0);
    }
}

TEST(PsockData, TransactionStatusTextsByLevel)
{
    LoopbackServer server([](int fd) {
        for (int i = 0; i < 4; ++i) {
            LoopbackServer::ReadLine(fd);
            LoopbackServer::SendAll(fd, "250 ok\r\n");
        }
    });
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    const QStringList reply{"status 250 ok\r\n"};
    for (int level : {0, 1, 4, 8}) {
        client.ReportLevel = level;
        client.Log.clear();
        client.Transaction("NOOP");
        if (level < 8) {
            QStringList expected = level == 0 ? QStringList() : reply;
            if (level == 4)
                expected.prepend("status Sending Buffer");
            EXPECT_EQ(client.Log, expected) << level;
            continue;
        }
        // The handlers report too, as the bytes move.
        EXPECT_EQ(client.Log.mid(0, 4),
                  (QStringList{"status Transaction", "status Writeln", "status Write", "status Sending Buffer"}));
        EXPECT_TRUE(client.Log.contains("status WriteFromStream"));
        EXPECT_TRUE(client.Log.contains("status ReadLn"));
        EXPECT_TRUE(client.Log.contains("status ReadToStream"));
        EXPECT_EQ(client.Log.last(), reply.first());
        EXPECT_EQ(client.StatusText, "250 ok\r\n");
    }
}

TEST(PsockData, WriteStopsAtZeroAndWritelnAddsCrLf)
{
    Received got;
    // The first socket closes with a reset, which drops unsent bytes: the client waits for
    // the server to have read everything before it disconnects.
    LoopbackServer server([&](int fd) {
        got.Set(LoopbackServer::ReadUntil(fd, "QUIT\r\n"));
        LoopbackServer::SendAll(fd, "221 bye\r\n");
        LoopbackServer::ReadToEnd(fd);
    });
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    client.Guard();
    client.Write(QByteArray("HELO a\0hidden", 13));
    client.Write(""); // nothing to send: returns at once
    client.Writeln("RSET");
    client.Write(QByteArray(20000, 'x')); // at most 16384 bytes of a text go out
    EXPECT_EQ(client.Transaction("QUIT"), "221 bye\r\n");
    EXPECT_EQ(got.Get(), "HELO aRSET\r\n" + QByteArray(16384, 'x') + "QUIT\r\n");
}

TEST(PsockData, SendStreamDeliversEverythingInOrderThroughPartialSends)
{
    QByteArray body(10 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < body.size(); ++i)
        body[i] = char((i * 7 + i / 251) & 0xFF);
    Received got;
    // A small receive buffer and a reader that pauses: sends come back partial or would-block.
    LoopbackServer server(
        [&](int fd) {
            QByteArray all;
            char buffer[8192];
            ssize_t n;
            int reads = 0;
            while (all.size() < body.size() + 6 && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
                all.append(buffer, n);
                if (++reads % 64 == 0)
                    usleep(1000);
            }
            got.Set(all);
            LoopbackServer::SendAll(fd, "250 ok\r\n");
            LoopbackServer::ReadToEnd(fd);
        },
        4096);
    RecordingClient client;
    client.Port = server.Port();
    int small = 4096;
    Winsock::SetSockOpt(client.SocketHandle, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    client.Connect();
    client.Writeln("DATA");
    int packets = 0;
    client.OnPacketSent = [&](QObject *) { ++packets; };
    QBuffer stream(&body);
    stream.open(QIODevice::ReadOnly);
    stream.seek(body.size()); // SendStream starts from the beginning whatever the position
    client.ReportLevel = 8;
    client.Log.clear();
    client.SendStream(stream);
    EXPECT_EQ(client.SentBytes, body.size());
    EXPECT_EQ(client.TotalBytes, body.size());
    EXPECT_GT(packets, body.size() / 16383);
    EXPECT_EQ(client.LastError, 10035); // the would-block path was taken
    EXPECT_EQ(client.Log.mid(0, 2), (QStringList{"status SendStream", "status SendFile"}));
    EXPECT_FALSE(client.CountTraffic);
    client.Guard(20000);
    EXPECT_EQ(client.ReadLn(), "250 ok\r\n");
    QByteArray all = got.Get();
    ASSERT_EQ(all.size(), body.size() + 6);
    EXPECT_TRUE(all == "DATA\r\n" + body);
}

TEST(PsockData, CancelledSendClearsTheFlagAndLeavesNothingForTheNextConnection)
{
    Received got;
    LoopbackServer stuck([](int fd) { usleep(300000), (void)fd; });
    LoopbackServer next([&](int fd) { got.Set(LoopbackServer::ReadToEnd(fd)); });
    RecordingClient client;
    client.Port = stuck.Port();
    client.Connect();
    QByteArray big(8 * 1024 * 1024, 'z');
    QBuffer stream(&big);
    stream.open(QIODevice::ReadOnly);
    client.OnPacketSent = [&](QObject *) { client.Cancel(); };
    EXPECT_EQ(Failure<EAbortError>([&] { client.SendStream(stream); }), "Socket send aborted");
    EXPECT_FALSE(client.CancelPending);
    EXPECT_GT(client.SentBytes, 0);

    client.Disconnect();
    client.Port = next.Port();
    client.Connect();
    client.Writeln("HELO me");
    client.Disconnect();
    ASSERT_TRUE(WaitFor([&] { return next.Done(); }));
    EXPECT_EQ(got.Get(), "HELO me\r\n");
}

TEST(PsockData, CancelledReadLnLeavesTheFlagSet)
{
    Received got;
    LoopbackServer server([&](int fd) {
        QByteArray line = LoopbackServer::ReadLine(fd);
        got.Set(line);
        LoopbackServer::SendAll(fd, "250 late\r\n");
        LoopbackServer::ReadToEnd(fd);
    });
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    QTimer::singleShot(20, [&] { client.Cancel(); });
    EXPECT_EQ(Failure<EAbortError>([&] { client.ReadLn(); }), "Socket readln aborted");
    EXPECT_TRUE(client.CancelPending);
    client.Write("SKIPPED\r\n"); // sends nothing, raises nothing
    EXPECT_EQ(Failure<EAbortError>([&] { client.ReadLn(); }), "Socket readln aborted");
    client.CancelPending = false;
    EXPECT_EQ(client.Transaction("NOOP"), "250 late\r\n");
    EXPECT_EQ(got.Get(), "NOOP\r\n");
}

TEST(PsockData, TimeOutArmedAroundReadLnEndsItThroughAbortAndCancel)
{
    LoopbackServer server([](int fd) { LoopbackServer::ReadToEnd(fd); });
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    client.Guard(30);
    EXPECT_EQ(Failure<EAbortError>([&] { client.ReadLn(); }), "Socket readln aborted");
    EXPECT_TRUE(client.TimedOut);
    EXPECT_EQ(client.Log.count("Abort"), 1);
}

TEST(PsockData, HangUpEndsTheWaitingOperation)
{
    QByteArray big(4 * 1024 * 1024, 'b');
    QBuffer stream(&big);
    stream.open(QIODevice::ReadOnly);
    struct Row
    {
        const char *name;
        LoopbackServer::Session session;
        std::function<QByteArray(RecordingClient &)> call;
    } rows[] = {
        {"reply awaited", [](int fd) { LoopbackServer::ReadLine(fd); },
         [](RecordingClient &c) { return c.Transaction("NOOP"); }},
        {"last line cut short", [](int fd) { LoopbackServer::SendAll(fd, "250 ok\r\n250 cut"); },
         [](RecordingClient &c) { return c.ReadLn() + c.ReadLn(); }},
        {"stream half sent",
         [](int fd) {
             char buffer[65536];
             ::recv(fd, buffer, sizeof buffer, 0);
         },
         [&](RecordingClient &c) {
             c.SendStream(stream);
             return QByteArray();
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackServer server(row.session);
        RecordingClient client;
        client.Port = server.Port();
        client.Connect();
        client.Guard();
        EXPECT_EQ(Failure<ESockError>([&] { row.call(client); }), "Connection closed by the server");
        EXPECT_FALSE(client.Connected);
        EXPECT_FALSE(client.TimedOut);
    }
}

TEST(PsockData, LineWithoutLineFeedIsBounded)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::SendAll(fd, QByteArray(TPowersock::MaxLineLength + 100000, 'A'));
        LoopbackServer::ReadToEnd(fd);
    });
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    client.Guard();
    EXPECT_EQ(Failure<ESockError>([&] { client.ReadLn(); }), "Line too long: no line feed in 1048576 bytes");
    EXPECT_LT(client.ReceiveBuffer.size(), TPowersock::MaxLineLength);
}

TEST(PsockData, FullReceiveTriesOnceMoreAndReportsWouldBlock)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::SendAll(fd, QByteArray(16383, 'r'));
        LoopbackServer::ReadToEnd(fd);
    });
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    ASSERT_TRUE(WaitFor([&] { return client.ReceiveBuffer.size() == 16383 && client.Log.size() > 1; }));
    EXPECT_EQ(client.Log, (QStringList{"OnConnect", "OnError 10035 10035:Operation would block"}));
}

TEST(PsockData, SendToClosedPeerRaisesNoSignal)
{
    // Straight at the platform: after the peer's reset, sends fail (the second one with the
    // error that would raise SIGPIPE) and the process lives on.
    LoopbackServer server([](int fd) { LoopbackServer::Reset(fd); });
    TSocketWindow window;
    TSocket s = Winsock::Socket(2, 1, 6);
    TSockAddrIn address;
    address.Family = AF_INET;
    address.Port = Winsock::Htons(server.Port());
    address.Address = Winsock::InetAddr("127.0.0.1");
    Winsock::AsyncSelect(s, &window, 1125, FdAll);
    Winsock::Connect(s, address);
    ASSERT_TRUE(WaitFor([&] { return server.Done(); }));
    ASSERT_TRUE(WaitFor([&] { return Winsock::Send(s, "x", 1) == SocketError; }));
    EXPECT_EQ(Winsock::Send(s, "x", 1), SocketError);
    EXPECT_EQ(Winsock::GetLastError(), WsaError::Shutdown);
    Winsock::CloseSocket(s);
}

TEST(PsockData, NotificationDuringAHandlerIsHandledAfterIt)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::ReadLine(fd);
        LoopbackServer::SendAll(fd, "250 ok\r\n");
        LoopbackServer::ReadToEnd(fd);
    });
    RecordingClient client;
    client.Port = server.Port();
    client.Connect();
    bool first = true;
    // The reply arrives while the send handler is still in its event handler.
    client.OnPacketSent = [&](QObject *) {
        if (std::exchange(first, false))
            WaitFor([] { return false; }, 100);
    };
    QByteArray body("DATA\r\n");
    QBuffer stream(&body);
    stream.open(QIODevice::ReadOnly);
    client.SendStream(stream);
    client.Guard();
    EXPECT_EQ(client.ReadLn(), "250 ok\r\n");
    client.TimerOff();
}

TEST(PsockData, LookUpCancelledOrTimedOutPassesThroughConnect)
{
    RecordingClient client;
    client.Host = QStringLiteral("localhost");
    client.Port = 25;
    client.ReportLevel = 8;
    client.OnStatus = [&](QObject *, const QString &status) {
        if (status == "Resolve Host")
            client.Cancel();
    };
    EXPECT_EQ(Failure<ESockError>([&] { client.Connect(); }), "Host Lookup Canceled");
    EXPECT_TRUE(client.Log.isEmpty());

    // A time-out that is due before the look-up's answer is handled: Abort runs, no
    // OnConnectionFailed. The first event of the wait holds the thread long enough for
    // the 1 ms timer to be due whatever the speed of the look-up.
    client.OnStatus = [](QObject *, const QString &status) {
        if (status == "Timer On")
            QTimer::singleShot(0, [] { QThread::msleep(20); });
    };
    client.TimeOut = 1;
    EXPECT_EQ(Failure<ESockError>([&] { client.Connect(); }), "Host Lookup Timed Out");
    EXPECT_EQ(client.Log, QStringList{"Abort"});
}

TEST(PsockData, NthField)
{
    const QString text = QStringLiteral("a,b,,c");
    const QStringList expected{"", "a", "b", "", "c", ""};
    for (int n = 0; n <= 5; ++n)
        EXPECT_EQ(TPowersock::NthField(text, ',', n), expected[n]) << n;
    EXPECT_EQ(TPowersock::NthField(QByteArray("250 ok"), ' ', 2), "ok");
    EXPECT_EQ(TPowersock::NthField(QString(), ',', 1), "");
}

} // namespace
