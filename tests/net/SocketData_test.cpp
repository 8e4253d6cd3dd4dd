#include "NetTest.h"

#include "platform/SocketWindow.h"
#include "platform/WinsockErrors.h"

#include <QBuffer>

#include <utility>

namespace {

TEST(SocketData, ReadLnSplitsPacketsIntoLinesAndJoinsBytesIntoLines)
{
    S::Script script{S::SayRaw("220 first\r\n250 second\r\n")};
    for (char c : QByteArray("354 go\0on\r\n", 11))
        script << S::SayRaw(QByteArray(1, c)) << S::Wait(3);
    S server(script);
    RecordingClient client;
    client.ConnectTo(server.Port());
    client.Guard();
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
    S::Script script;
    for (const Row &row : rows)
        script << S::Expect("NOOP") << S::SayRaw(row.reply);
    S server(script);
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
        QStringList expected{"status " + row.reply};
        if (row.level == 4)
            expected.prepend("status Sending Buffer");
        if (row.level < 8)
            EXPECT_EQ(client.Log.filter("status"), row.level ? expected : QStringList());
        else // the handlers report too, as the bytes move
            EXPECT_EQ(client.Log.mid(0, 4),
                      (QStringList{"status Transaction", "status Writeln", "status Write", "status Sending Buffer"}));
    }
}

TEST(SocketData, WriteStopsAtZeroAndAt16384BytesAndWritelnAddsCrLf)
{
    S server({S::Expect("HELO aRSET"), S::Expect(QByteArray(16384, 'x') + "QUIT"), S::Say("221 bye")});
    RecordingClient client;
    client.ConnectTo(server.Port());
    client.Guard();
    client.Write(QByteArray("HELO a\0hidden", 13));
    client.Write(""); // nothing to send: returns at once
    client.Writeln("RSET");
    client.Write(QByteArray(20000, 'x'));
    EXPECT_EQ(client.Transaction("QUIT"), "221 bye\r\n");
    server.Stop();
    EXPECT_EQ(server.Problems(), QStringList());
}

TEST(SocketData, SendStreamDeliversEverythingInOrderThroughPartialSends)
{
    QByteArray body;
    for (int i = 0; body.size() < 10 * 1024 * 1024; ++i)
        body += "line " + QByteArray::number(i) + "\r\n";
    // The server reads nothing for a while: the sends come back partial, then would-block.
    S server({S::Expect("DATA"), S::Wait(300), S::ReadMessage(), S::Say("250 ok")});
    RecordingClient client;
    client.ConnectTo(server.Port());
    client.Writeln("DATA");
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
    client.Guard(20000);
    EXPECT_EQ(client.ReadLn(), "250 ok\r\n");
    ASSERT_EQ(server.Messages().size(), 1);
    EXPECT_TRUE(server.Messages()[0] == body);
}

TEST(SocketData, CancelledSendClearsTheFlagAndLeavesNothingForTheNextConnection)
{
    S stuck({S::Wait(300)});
    S next({S::Expect("HELO me")});
    RecordingClient client;
    client.ConnectTo(stuck.Port());
    QBuffer stream;
    stream.setData(QByteArray(8 * 1024 * 1024, 'z'));
    stream.open(QIODevice::ReadOnly);
    client.OnPacketSent = [&](QObject *) { client.Cancel(); };
    EXPECT_EQ(FailureOf<EAbortError>([&] { client.SendStream(stream); }), "Socket send aborted");
    EXPECT_FALSE(client.CancelPending);
    EXPECT_GT(client.SentBytes, 0);
    client.Disconnect();
    client.ConnectTo(next.Port());
    client.Writeln("HELO me");
    client.Disconnect();
    next.Finish();
    EXPECT_EQ(next.Problems(), QStringList());
}

TEST(SocketData, CancelledOrTimedOutReadLnLeavesTheFlagSet)
{
    S server({S::Expect("NOOP"), S::Say("250 late")});
    RecordingClient client;
    client.ConnectTo(server.Port());
    QTimer::singleShot(20, [&] { client.Cancel(); });
    EXPECT_EQ(FailureOf<EAbortError>([&] { client.ReadLn(); }), "Socket readln aborted");
    EXPECT_TRUE(client.CancelPending);
    client.Write("SKIPPED\r\n"); // sends nothing, raises nothing
    EXPECT_EQ(FailureOf<EAbortError>([&] { client.ReadLn(); }), "Socket readln aborted");
    client.CancelPending = false;
    EXPECT_EQ(client.Transaction("NOOP"), "250 late\r\n");
    // A time-out armed around ReadLn ends it through Abort and Cancel.
    client.Guard(30);
    EXPECT_EQ(FailureOf<EAbortError>([&] { client.ReadLn(); }), "Socket readln aborted");
    EXPECT_TRUE(client.TimedOut);
    EXPECT_EQ(client.Log.count("Abort"), 1);
}

TEST(SocketData, WhatThePeerSendsIsBounded)
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
            ASSERT_TRUE(WaitFor([&] { return !client.Connected; }));
            EXPECT_EQ(client.ReceiveBuffer.size(), 0);
        }
        client.Guard();
        EXPECT_EQ(FailureOf<ESockError>([&] { client.ReadLn(); }), failure);
        EXPECT_LT(client.ReceiveBuffer.size(), SocketClient::MaxLineLength);
    }
}

TEST(SocketData, FullReceiveTriesOnceMoreAndReportsWouldBlock)
{
    S server({S::SayRaw(QByteArray(16383, 'r'))});
    RecordingClient client;
    client.ConnectTo(server.Port());
    ASSERT_TRUE(WaitFor([&] { return client.ReceiveBuffer.size() == 16383 && client.Log.size() > 1; }));
    EXPECT_EQ(client.Log, (QStringList{"OnConnect", "OnError 10035 10035:Operation would block"}));
}

TEST(SocketData, SendToResetPeerRaisesNoSignal)
{
    // Straight at the platform: after the peer's reset, sends fail (the second one with the
    // error that would raise SIGPIPE) and the process lives on.
    S server({S::Abort()});
    SocketWindow window;
    TSocket s = Winsock::Socket(2, 1, 6);
    TSockAddrIn address;
    address.Family = AF_INET;
    address.Port = Winsock::Htons(server.Port());
    address.Address = Winsock::InetAddr("127.0.0.1");
    Winsock::AsyncSelect(s, &window, 1125, FdAll);
    Winsock::Connect(s, address);
    server.Finish();
    ASSERT_TRUE(WaitFor([&] { return Winsock::Send(s, "x", 1) == SocketError; }));
    EXPECT_EQ(Winsock::Send(s, "x", 1), SocketError);
    EXPECT_EQ(Winsock::GetLastError(), WsaError::Shutdown);
    Winsock::CloseSocket(s);
}

TEST(SocketData, NotificationDuringAHandlerIsHandledAfterIt)
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
