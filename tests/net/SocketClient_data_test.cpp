#include "LoopbackServer.h"
#include "NetTest.h"

#include "platform/SocketWindow.h"
#include "platform/WinsockErrors.h"

#include <QBuffer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <utility>

namespace {

// What the server read, handed to the GUI thread.
using Received = std::promise<QByteArray>;

TEST(SocketData, ReadLnSplitsPacketsIntoLinesAndJoinsBytesIntoLines)
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
    client.ConnectTo(server.Port());
    EXPECT_EQ(client.ReadLn(), "220 first\r\n");
    EXPECT_EQ(client.ReadLn(), "250 second\r\n");
    EXPECT_EQ(client.ReadLn(), QByteArray("354 go\0on\r\n", 11));
    EXPECT_TRUE(client.ReceiveBuffer.isEmpty());
}

TEST(SocketData, TransactionReplyCodesAndStatusTexts)
{
    struct Row
    {
        QByteArray reply;
        qint16 code;
        QString failure;
        int level = 0;
    } rows[] = {
        {"250 ok\r\n", 250, ""},
        {"OK fine\r\n", 0, ""},
        {"32767 top\r\n", 32767, ""},
        {"99999 over\r\n", 0, "Reply code 99999 out of range"},
        {"12345678901 eleven digits\r\n", 0, "Reply code 1234567890 out of range"},
        {"9999999999 past int\r\n", 0, ""},
        {"250 ok\r\n", 250, "", 1},
        {"250 ok\r\n", 250, "", 4},
        {"250 ok\r\n", 250, "", 8},
    };
    LoopbackServer server([&](int fd) {
        for (const Row &row : rows) {
            LoopbackServer::ReadLine(fd);
            LoopbackServer::SendAll(fd, row.reply);
        }
    });
    RecordingClient client;
    client.ConnectTo(server.Port());
    qint16 codeWhileWaiting = -1;
    client.OnDataArrived = [&](QObject *) { codeWhileWaiting = client.ReplyCode; };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.reply.toStdString() + " level " + std::to_string(row.level));
        client.ReportLevel = row.level;
        client.Log.clear();
        client.ReplyCode = 77;
        EXPECT_EQ(FailureOf<ESockError>([&] { EXPECT_EQ(client.Transaction("NOOP"), row.reply); }), row.failure);
        EXPECT_EQ(client.LastReply, row.reply);
        EXPECT_EQ(client.ReplyCode, row.code);
        EXPECT_EQ(codeWhileWaiting, 0);
        const QString status = "status " + row.reply;
        if (row.level < 8) {
            QStringList expected;
            if (row.level == 4)
                expected << "status Sending Buffer";
            if (row.level > 0)
                expected << status;
            EXPECT_EQ(client.Log.filter("status"), expected);
            continue;
        }
        // The handlers report too, as the bytes move.
        EXPECT_EQ(client.Log.mid(0, 4),
                  (QStringList{"status Transaction", "status Writeln", "status Write", "status Sending Buffer"}));
        for (const char *text : {"status WriteFromStream", "status ReadLn", "status ReadToStream"})
            EXPECT_TRUE(client.Log.contains(text)) << text;
        EXPECT_EQ(client.Log.last(), status);
        EXPECT_EQ(client.StatusText, row.reply);
    }
}

TEST(SocketData, WriteStopsAtZeroAndWritelnAddsCrLf)
{
    Received got;
    // The first socket closes with a reset, which drops unsent bytes: the client waits for
    // the server to have read everything before it disconnects.
    LoopbackServer server([&](int fd) {
        got.set_value(LoopbackServer::ReadUntil(fd, "QUIT\r\n"));
        LoopbackServer::SendAll(fd, "221 bye\r\n");
        LoopbackServer::ReadToEnd(fd);
    });
    RecordingClient client;
    client.ConnectTo(server.Port());
    client.Guard();
    client.Write(QByteArray("HELO a\0hidden", 13));
    client.Write(""); // nothing to send: returns at once
    client.Writeln("RSET");
    client.Write(QByteArray(20000, 'x')); // at most 16384 bytes of a text go out
    EXPECT_EQ(client.Transaction("QUIT"), "221 bye\r\n");
    EXPECT_EQ(got.get_future().get(), "HELO aRSET\r\n" + QByteArray(16384, 'x') + "QUIT\r\n");
}

TEST(SocketData, SendStreamDeliversEverythingInOrderThroughPartialSends)
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
            got.set_value(all);
            LoopbackServer::SendAll(fd, "250 ok\r\n");
            LoopbackServer::ReadToEnd(fd);
        },
        4096);
    RecordingClient client;
    int small = 4096;
    Winsock::SetSockOpt(client.SocketHandle, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    client.ConnectTo(server.Port());
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
    client.Guard(20000);
    EXPECT_EQ(client.ReadLn(), "250 ok\r\n");
    QByteArray all = got.get_future().get();
    ASSERT_EQ(all.size(), body.size() + 6);
    EXPECT_TRUE(all == "DATA\r\n" + body);
}

TEST(SocketData, CancelledSendClearsTheFlagAndLeavesNothingForTheNextConnection)
{
    Received got;
    LoopbackServer stuck([](int fd) { usleep(300000), (void)fd; });
    LoopbackServer next([&](int fd) { got.set_value(LoopbackServer::ReadToEnd(fd)); });
    RecordingClient client;
    client.ConnectTo(stuck.Port());
    QByteArray big(8 * 1024 * 1024, 'z');
    QBuffer stream(&big);
    stream.open(QIODevice::ReadOnly);
    client.OnPacketSent = [&](QObject *) { client.Cancel(); };
    EXPECT_EQ(FailureOf<EAbortError>([&] { client.SendStream(stream); }), "Socket send aborted");
    EXPECT_FALSE(client.CancelPending);
    EXPECT_GT(client.SentBytes, 0);

    client.Disconnect();
    client.ConnectTo(next.Port());
    client.Writeln("HELO me");
    client.Disconnect();
    ASSERT_TRUE(WaitFor([&] { return next.Done(); }));
    EXPECT_EQ(got.get_future().get(), "HELO me\r\n");
}

TEST(SocketData, CancelledOrTimedOutReadLnLeavesTheFlagSet)
{
    Received got;
    LoopbackServer server([&](int fd) {
        QByteArray line = LoopbackServer::ReadLine(fd);
        got.set_value(line);
        LoopbackServer::SendAll(fd, "250 late\r\n");
        LoopbackServer::ReadToEnd(fd);
    });
    RecordingClient client;
    client.ConnectTo(server.Port());
    QTimer::singleShot(20, [&] { client.Cancel(); });
    EXPECT_EQ(FailureOf<EAbortError>([&] { client.ReadLn(); }), "Socket readln aborted");
    EXPECT_TRUE(client.CancelPending);
    client.Write("SKIPPED\r\n"); // sends nothing, raises nothing
    EXPECT_EQ(FailureOf<EAbortError>([&] { client.ReadLn(); }), "Socket readln aborted");
    client.CancelPending = false;
    EXPECT_EQ(client.Transaction("NOOP"), "250 late\r\n");
    EXPECT_EQ(got.get_future().get(), "NOOP\r\n");

    // A time-out armed around ReadLn ends it through Abort and Cancel.
    client.Guard(30);
    EXPECT_EQ(FailureOf<EAbortError>([&] { client.ReadLn(); }), "Socket readln aborted");
    EXPECT_TRUE(client.TimedOut);
    EXPECT_EQ(client.Log.count("Abort"), 1);
}

TEST(SocketData, LineWithoutLineFeedIsBounded)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::SendAll(fd, QByteArray(SocketClient::MaxLineLength + 100000, 'A'));
        LoopbackServer::ReadToEnd(fd);
    });
    RecordingClient client;
    client.ConnectTo(server.Port());
    client.Guard();
    EXPECT_EQ(FailureOf<ESockError>([&] { client.ReadLn(); }), "Line too long: no line feed in 1048576 bytes");
    EXPECT_LT(client.ReceiveBuffer.size(), SocketClient::MaxLineLength);
}

TEST(SocketData, FullReceiveTriesOnceMoreAndReportsWouldBlock)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::SendAll(fd, QByteArray(16383, 'r'));
        LoopbackServer::ReadToEnd(fd);
    });
    RecordingClient client;
    client.ConnectTo(server.Port());
    ASSERT_TRUE(WaitFor([&] { return client.ReceiveBuffer.size() == 16383 && client.Log.size() > 1; }));
    EXPECT_EQ(client.Log, (QStringList{"OnConnect", "OnError 10035 10035:Operation would block"}));
}

TEST(SocketData, SendToClosedPeerRaisesNoSignal)
{
    // Straight at the platform: after the peer's reset, sends fail (the second one with the
    // error that would raise SIGPIPE) and the process lives on.
    LoopbackServer server([](int fd) { LoopbackServer::Reset(fd); });
    SocketWindow window;
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

TEST(SocketData, NotificationDuringAHandlerIsHandledAfterIt)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::ReadLine(fd);
        LoopbackServer::SendAll(fd, "250 ok\r\n");
        LoopbackServer::ReadToEnd(fd);
    });
    RecordingClient client;
    client.ConnectTo(server.Port());
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

TEST(SocketData, LookUpCancelledOrTimedOutPassesThroughConnect)
{
    RecordingClient client;
    client.Host = QStringLiteral("localhost");
    client.Port = 25;
    client.ReportLevel = 8;
    client.OnStatus = [&](QObject *, const QString &status) {
        if (status == "Resolve Host")
            client.Cancel();
    };
    EXPECT_EQ(FailureOf<ESockError>([&] { client.Connect(); }), "Host Lookup Canceled");
    EXPECT_TRUE(client.Log.isEmpty());

    // A time-out that is due before the look-up's answer is handled: Abort runs, no
    // OnConnectionFailed. The first event of the wait holds the thread long enough for
    // the 1 ms timer to be due whatever the speed of the look-up.
    client.OnStatus = [](QObject *, const QString &status) {
        if (status == "Timer On")
            QTimer::singleShot(0, [] { QThread::msleep(20); });
    };
    client.TimeOut = 1;
    EXPECT_EQ(FailureOf<ESockError>([&] { client.Connect(); }), "Host Lookup Timed Out");
    EXPECT_EQ(client.Log, QStringList{"Abort"});
}

} // namespace
