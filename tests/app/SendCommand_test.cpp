#include "app/HeaderEncoding.h"
#include "app/MainWindow.h"

#include "imaging/Pipeline.h"
#include "platform/MsgBox.h"

#include "support/Printers.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"
#include "support/TestFolder.h"

#include <QAction>
#include <QComboBox>
#include <QDropEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

using S = ScriptedSmtpServer;

QByteArray Ini(quint16 port, bool footer, const QByteArray &host = "127.0.0.1")
{
    return "[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@example.jp\r\nPort=" + QByteArray::number(port) +
           "\r\nSMTP=" + host +
           "\r\nID=kelvo\r\nDest=hanako@example.jp\r\n[keitai]\r\ndotsettei=0\r\nkishu=x:1\r\nsiteidot=100\r\n"
           "rfsize=0\r\nofsize=5\r\n[Koukoku]\r\nflg=" +
           (footer ? "1" : "2") + "\r\n";
}

// A mail as Python's email package reads it (encoded words and charsets decoded).
QJsonObject ReadMail(const QByteArray &raw)
{
    QTemporaryFile file;
    EXPECT_TRUE(file.open());
    file.write(raw);
    file.flush();
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(KELVO_SOURCE_DIR "/tests/app/read_mail.py"), file.fileName()});
    EXPECT_TRUE(python.waitForFinished(20000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

struct Window
{
    explicit Window(quint16 port, bool footer = false, const QByteArray &host = "127.0.0.1")
    {
        folder.Write("kelvo.ini", Ini(port, footer, host));
        main.show();
        QTest::qWait(10);
        QObject::connect(&main, &MainWindow::StatusChanged, [this](const QString &t) { statuses.append(t); });
    }
    void DropPicture(int w = 640, int h = 480)
    {
        QImage image(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.setPixel(x, y, qRgb((x * 7) % 256, (y * 3) % 256, (x ^ y) % 256));
        SaveJpeg(image.convertToFormat(QImage::Format_BGR888), folder.File("photo.jpg"), 95);
        main.DropFiles({folder.File("photo.jpg")});
        ASSERT_TRUE(main.PicturePresent());
    }
    template <class T> T *Child(const char *name) { return main.findChild<T *>(name); }
    void Send() { Child<QAction>("acSend")->trigger(); }

    TestFolder folder;
    MessageRecorder boxes;
    MainWindow main;
    QStringList statuses;
};

TEST(SendCommand, EndToEndToARealServer)
{
    SmtpSink sink;
    ASSERT_NE(sink.Port(), 0) << sink.Error().toStdString();
    Window w(sink.Port(), true);
    w.DropPicture();
    const QString subject = QStringLiteral("テスト送信①～ｶﾞ");
    const QString longLine = QString(1000, QChar(0x65E5));
    const QString typed = QStringLiteral("こんにちは、世界\n.\n") + longLine;
    w.Child<QLineEdit>("txtSubject")->setText(subject);
    w.Child<QPlainTextEdit>("txtBody")->setPlainText(typed);
    w.main.Settings.FromName = QStringLiteral("山田太郎");
    w.Send();
    ASSERT_TRUE(w.boxes.Messages.isEmpty()) << w.boxes.Texts().join("|").toStdString();

    const QList<SmtpSink::Message> got = sink.WaitForMessages(1);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].From, "taro@example.jp");
    EXPECT_EQ(got[0].Rcpt, QList<QByteArray>({"hanako@example.jp"}));
    EXPECT_EQ(got[0].Helo, "kelvo");

    // What a mail program shows.
    const QJsonObject mail = ReadMail(got[0].Data);
    EXPECT_EQ(mail["subject"].toString(), QStringLiteral("テスト送信〓〜ガ"));
    EXPECT_EQ(mail["from"].toString(), QStringLiteral("山田太郎 <taro@example.jp>"));
    EXPECT_TRUE(mail["defects"].toArray().isEmpty());
    const QJsonArray parts = mail["parts"].toArray();
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[0]["charset"].toString(), "iso-2022-jp");
    const QString expectedBody = typed + QStringLiteral("\n---\n") + AdvertisementFooter;
    QString body = parts[0]["text"].toString();
    body.replace("\r\n", "\n");
    const QStringList lines = body.split('\n');
    EXPECT_EQ(lines[0], QStringLiteral("こんにちは、世界"));
    EXPECT_EQ(lines[1], ".");
    EXPECT_TRUE(lines.contains(AdvertisementFooter));
    // The long line comes back split at character boundaries, nothing lost.
    EXPECT_EQ(QString(body).remove('\n'), QString(expectedBody).remove('\n'));

    // The bytes: the subject's ISO-2022-JP ends in ASCII, no line passes 998 bytes.
    for (const QByteArray &line : got[0].Data.split('\n')) {
        EXPECT_LE(line.size(), 999); // 998 and the CR
        if (line.startsWith("Subject: ")) {
            const QByteArray word = line.trimmed().mid(9);
            ASSERT_TRUE(word.startsWith("=?ISO-2022-JP?B?")) << word.data();
            EXPECT_TRUE(QByteArray::fromBase64(word.mid(16, word.size() - 18)).endsWith("\x1B(B"));
        }
    }

    // The attachment: a JPEG within the size limit at the fitted size.
    EXPECT_EQ(parts[1]["filename"].toString(), "kelvo.jpg");
    const QByteArray jpeg = QByteArray::fromBase64(parts[1]["data"].toString().toLatin1());
    EXPECT_LE(jpeg.size(), w.main.Settings.SizeLimit);
    EXPECT_EQ(jpeg, w.folder.Read("kelvo.jpg"));
    EXPECT_EQ(DecodeJpeg(jpeg).size(), QSize(95, 71));

    // The status bar went through the send and ends disconnected.
    EXPECT_EQ(w.statuses.first(), QStringLiteral("サーバに接続しました。"));
    EXPECT_TRUE(w.statuses.contains(QStringLiteral("送信開始")));
    const qsizetype success = w.statuses.indexOf(QStringLiteral("送信成功"));
    ASSERT_GE(success, 0);
    EXPECT_TRUE(w.statuses[success - 1].endsWith(QStringLiteral("バイト送信")));
    EXPECT_EQ(w.statuses.last(), QStringLiteral("サーバから切断しました。"));
    EXPECT_EQ(w.main.StatusText(), QStringLiteral("サーバから切断しました。"));
    EXPECT_EQ(w.main.ProgressBar->value(), 100);
}

TEST(SendCommand, PureAsciiMailIsSentAsComposed)
{
    S server(S::Greeting() + S::Mail("taro@example.jp", {"hanako@example.jp"}) +
             S::Script{S::Expect("QUIT"), S::Say("221 bye")});
    Window w(server.Port());
    w.Child<QLineEdit>("txtSubject")->setText("hello");
    w.Child<QPlainTextEdit>("txtBody")->setPlainText("line 1\n.dot\n"); // the last break starts no line
    w.boxes.Answer(MsgResult::Yes);                                     // send without a picture
    w.Send();
    server.Finish();
    EXPECT_TRUE(server.Problems().isEmpty()) << server.Problems().join("|").toStdString();
    ASSERT_EQ(server.Messages().size(), 1);
    EXPECT_EQ(server.Messages()[0], "From: kelvo<taro@example.jp>\r\nTo: hanako@example.jp\r\n"
                                    "Subject: =?ISO-2022-JP?B?aGVsbG8=?=\r\nX-Mailer: kelvo Ver. 0.32 beta\r\n"
                                    "Mime-Version: 1.0\r\nContent-Type: text/plain;                        "
                                    "charset=us-ascii\r\n\r\n\r\nline 1\r\n..dot\r\n");
    // No picture: no attachment part, but the file is still written, empty.
    EXPECT_TRUE(QFile::exists(w.folder.File("kelvo.jpg")));
    EXPECT_EQ(QFileInfo(w.folder.File("kelvo.jpg")).size(), 0);
    ASSERT_EQ(w.boxes.Messages.size(), 1);
    EXPECT_EQ(w.boxes.Messages[0].Text, QStringLiteral("画像が読み込まれていません。送信しますか？"));
    EXPECT_EQ(w.boxes.Messages[0].Kind, MsgKind::Confirmation);
}

TEST(SendCommand, ChecksBeforeSending)
{
    S server(S::Script{});
    Window w(server.Port(), true);
    // No picture and No: nothing happens.
    w.Send();
    EXPECT_EQ(w.boxes.Texts(), QStringList({QStringLiteral("画像が読み込まれていません。送信しますか？")}));
    // A destination without "@": a warning, no footer, nothing sent; the empty file-name
    // box has become kelvo already.
    w.boxes.Clear();
    w.DropPicture();
    w.Child<QLineEdit>("txtFilemei")->clear();
    w.Child<QComboBox>("DestCombo")->setEditText("nobody");
    w.Child<QPlainTextEdit>("txtBody")->setPlainText("body");
    w.Send();
    EXPECT_EQ(w.boxes.Texts(), QStringList({QStringLiteral("正しいメールアドレスを入力してください。")}));
    EXPECT_EQ(w.boxes.Messages[0].Kind, MsgKind::Warning);
    EXPECT_EQ(w.Child<QPlainTextEdit>("txtBody")->toPlainText(), "body");
    EXPECT_EQ(w.Child<QLineEdit>("txtFilemei")->text(), "kelvo");
    server.Stop();
    EXPECT_TRUE(server.Lines().isEmpty());
}

TEST(SendCommand, FooterAddsUpAndFileNameDefaults)
{
    SmtpSink sink;
    ASSERT_NE(sink.Port(), 0);
    Window w(sink.Port(), true);
    w.DropPicture(300, 400);
    w.Child<QLineEdit>("txtFilemei")->clear();
    w.Child<QLineEdit>("txtSubject")->clear();
    w.Child<QPlainTextEdit>("txtBody")->setPlainText("hi");
    w.Send();
    w.Send();
    const QString footer = QStringLiteral("\n---\n") + AdvertisementFooter;
    EXPECT_EQ(w.Child<QPlainTextEdit>("txtBody")->toPlainText(), "hi" + footer + footer);
    const QList<SmtpSink::Message> got = sink.WaitForMessages(2);
    ASSERT_EQ(got.size(), 2);
    EXPECT_TRUE(got[0].Data.contains("\r\nSubject: =?ISO-2022-JP?B?"
                                     "?=\r\n"));
    const QJsonObject second = ReadMail(got[1].Data);
    EXPECT_EQ(second["parts"][0]["text"].toString().replace("\r\n", "\n"), "hi" + footer + footer);
    EXPECT_EQ(second["parts"][1]["filename"].toString(), "kelvo.jpg");
    EXPECT_TRUE(QFile::exists(w.folder.File("kelvo.jpg")));
    EXPECT_TRUE(w.boxes.Messages.isEmpty());
}

TEST(SendCommand, FailedSendThenAGoodOne)
{
    // The first send fails at the final "."; the connection stays open and the second
    // send goes out on it, starting with RSET, to its own destination only.
    const auto transaction = [](const QByteArray &rcpt, const QByteArray &finalReply) {
        return S::Script{S::Expect("RSET"),
                         S::Say("250 ok"),
                         S::Expect("MAIL FROM:<taro@example.jp>"),
                         S::Say("250 ok"),
                         S::Expect("RCPT TO:<" + rcpt + ">"),
                         S::Say("250 ok"),
                         S::Expect("DATA"),
                         S::Say("354 go"),
                         S::ReadMessage(),
                         S::Say(finalReply)};
    };
    S server(S::Greeting() + transaction("first@example.jp", "554 no thanks") +
             transaction("second@example.jp", "250 queued") + S::Script{S::Expect("QUIT"), S::Say("221 bye")});
    Window w(server.Port());
    w.DropPicture();
    w.Child<QComboBox>("DestCombo")->setEditText("first@example.jp");
    w.Send();
    ASSERT_EQ(w.boxes.Messages.size(), 2);
    EXPECT_EQ(w.boxes.Messages[0].Text, QStringLiteral("問題が発生しました。"));
    EXPECT_EQ(w.boxes.Messages[0].Kind, MsgKind::Warning);
    EXPECT_EQ(w.boxes.Messages[1].Kind, MsgKind::Error);
    EXPECT_EQ(w.boxes.Messages[1].Text, "554 no thanks\r\n");

    w.boxes.Clear();
    w.Child<QComboBox>("DestCombo")->setEditText("second@example.jp");
    w.Send();
    server.Finish();
    EXPECT_TRUE(w.boxes.Messages.isEmpty()) << w.boxes.Texts().join("|").toStdString();
    EXPECT_TRUE(server.Problems().isEmpty()) << server.Problems().join("|").toStdString();
    ASSERT_EQ(server.Messages().size(), 2);
    const QJsonObject mail = ReadMail(server.Messages()[1]);
    EXPECT_EQ(mail["to"].toString(), "second@example.jp");
    EXPECT_EQ(mail["parts"].toArray().size(), 2);
    EXPECT_EQ(w.main.StatusText(), QStringLiteral("サーバから切断しました。"));
}

// Each failure shows the warning of its handler first, then the error, and leaves the
// window ready for the next command.
TEST(SendCommand, Failures)
{
    const QString refusedBy = QStringLiteral("接続に失敗しました");
    struct Row
    {
        const char *name;
        S::Script script;
        QByteArray host;
        QStringList expected;
    } rows[] = {
        {"connection refused", {}, "127.0.0.1", {refusedBy, "Connection Failed"}},
        {"unresolvable server",
         {},
         "no-such-host.invalid",
         {QStringLiteral("サーバの設定が間違っています。"), "Null Remote Address"}},
        {"RCPT and DATA refused",
         S::Greeting() + S::Script{S::Expect("RSET"), S::Say("250 ok"), S::ExpectAnyLine(), S::Say("250 ok"),
                                   S::ExpectAnyLine(), S::Say("550 no such user"), S::Expect("DATA"),
                                   S::Say("554 no valid recipients")},
         "127.0.0.1",
         {"554 no valid recipients\r\n"}},
        {"final dot refused",
         S::Greeting() + S::Script{S::Expect("RSET"), S::Say("250 ok"), S::ExpectAnyLine(), S::Say("250 ok"),
                                   S::ExpectAnyLine(), S::Say("250 ok"), S::Expect("DATA"), S::Say("354 go"),
                                   S::ReadMessage(), S::Say("552 too big")},
         "127.0.0.1",
         {QStringLiteral("問題が発生しました。"), "552 too big\r\n"}},
        {"server closes in the middle of DATA",
         S::Greeting() + S::Script{S::Expect("RSET"), S::Say("250 ok"), S::ExpectAnyLine(), S::Say("250 ok"),
                                   S::ExpectAnyLine(), S::Say("250 ok"), S::Expect("DATA"), S::Say("354 go"),
                                   S::ReadSome(100), S::Hangup()},
         "127.0.0.1",
         {"Connection closed by the server"}},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::unique_ptr<S> server;
        quint16 port = 1; // nothing listens on port 1 of the loopback
        if (!row.script.isEmpty()) {
            server = std::make_unique<S>(row.script);
            port = server->Port();
        }
        Window w(port, false, row.host);
        w.DropPicture(1200, 900);
        w.Send();
        EXPECT_EQ(w.boxes.Texts(), row.expected);
        EXPECT_EQ(w.boxes.Messages.last().Kind, MsgKind::Error);
        if (row.expected.size() == 2) {
            EXPECT_EQ(w.boxes.Messages.first().Kind, MsgKind::Warning);
        }
        if (server)
            server->Stop();
        // Usable afterwards: the next command runs and the send can be started again.
        w.boxes.Clear();
        w.Child<QAction>("acGray")->trigger();
        EXPECT_TRUE(w.boxes.Messages.isEmpty());
        EXPECT_TRUE(w.Child<QAction>("acSend")->isEnabled());
        EXPECT_FALSE(w.main.Sending());
    }
}

TEST(SendCommand, AttachmentDeletedBeforeSending)
{
    S server(S::Greeting() + S::Script{S::Expect("QUIT"), S::Say("221 bye")});
    Window w(server.Port());
    w.DropPicture();
    // The file goes between its writing and the composition (the client is connected).
    const TNotifyEvent connected = w.main.NMSMTP1->OnConnect;
    w.main.NMSMTP1->OnConnect = [&](QObject *sender) {
        connected(sender);
        QFile::remove(w.folder.File("kelvo.jpg"));
    };
    w.Send();
    ASSERT_EQ(w.boxes.Messages.size(), 2);
    EXPECT_EQ(w.boxes.Messages[0].Text, QStringLiteral("添付すべきファイルが削除されました。"));
    EXPECT_EQ(w.boxes.Messages[1].Kind, MsgKind::Error);
    EXPECT_TRUE(w.boxes.Messages[1].Text.contains("kelvo.jpg"));
    // No command of the mail went out.
    server.Stop();
    EXPECT_EQ(server.Lines(), QList<QByteArray>({"HELO kelvo"}));
}

TEST(SendCommand, SilentServerEndsWithinTheTimeOut)
{
    EXPECT_EQ(MainWindow().NMSMTP1->TimeOut, 60000);
    struct Row
    {
        const char *name;
        S::Script script;
    } rows[] = {
        {"no greeting", {S::Wait(4000)}},
        {"no reply to HELO", {S::Say("220 hi"), S::Expect("HELO kelvo"), S::Wait(4000)}},
        {"no reply to the message",
         S::Greeting() + S::Script{S::Expect("RSET"), S::Say("250 ok"), S::ExpectAnyLine(), S::Say("250 ok"),
                                   S::ExpectAnyLine(), S::Say("250 ok"), S::Expect("DATA"), S::Say("354 go"),
                                   S::ReadMessage(), S::Wait(4000)}},
        {"no reply to QUIT", S::Greeting() + S::Mail("taro@example.jp", {"hanako@example.jp"}) +
                                 S::Script{S::Expect("QUIT"), S::Wait(4000)}},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        S server(row.script);
        Window w(server.Port());
        w.main.NMSMTP1->TimeOut = 300;
        w.DropPicture(200, 100);
        w.Send();
        ASSERT_EQ(w.boxes.Messages.size(), 1) << w.boxes.Texts().join("|").toStdString();
        EXPECT_EQ(w.boxes.Messages[0].Kind, MsgKind::Error);
        EXPECT_EQ(w.boxes.Messages[0].Text, "The server did not answer within 0.3 seconds");
        EXPECT_FALSE(w.main.NMSMTP1->Connected);
        EXPECT_FALSE(w.main.Sending());
        server.Stop();
    }
}

TEST(SendCommand, ClosingTheWindowCancelsTheSend)
{
    S server(S::Script{S::Say("220 hi"), S::Expect("HELO kelvo"), S::Wait(4000)});
    Window w(server.Port());
    w.DropPicture(200, 100);
    QTimer::singleShot(200, &w.main, [&] {
        EXPECT_TRUE(w.main.Sending());
        w.main.close();
    });
    w.Send();
    QTest::qWait(50);
    EXPECT_FALSE(w.main.isVisible());
    EXPECT_FALSE(w.main.Sending());
    EXPECT_TRUE(w.boxes.Messages.isEmpty()) << w.boxes.Texts().join("|").toStdString();
    server.Stop();
}

TEST(SendCommand, NextSendAfterAFailedConnectionOrAHangUp)
{
    // A refused connection, then the right port: the second send connects afresh.
    SmtpSink sink;
    ASSERT_NE(sink.Port(), 0);
    Window w(1);
    w.DropPicture(200, 100);
    w.Send();
    EXPECT_EQ(w.boxes.Texts(), QStringList({QStringLiteral("接続に失敗しました"), "Connection Failed"}));
    w.boxes.Clear();
    w.main.Settings.SmtpPort = sink.Port();
    w.Send();
    EXPECT_TRUE(w.boxes.Messages.isEmpty()) << w.boxes.Texts().join("|").toStdString();
    EXPECT_EQ(sink.WaitForMessages(1).size(), 1);

    // A failed send keeps the connection; the server then says goodbye and hangs up.
    // Its last words must not be taken for the next server's greeting.
    S server(S::Greeting() +
             S::Script{S::Expect("RSET"), S::Say("250 ok"), S::ExpectAnyLine(), S::Say("250 ok"), S::ExpectAnyLine(),
                       S::Say("250 ok"), S::Expect("DATA"), S::Say("554 no"), S::Say("421 idle, closing"), S::Hangup(),
                       S::AcceptNext()} +
             S::Greeting() + S::Mail("taro@example.jp", {"hanako@example.jp"}) +
             S::Script{S::Expect("QUIT"), S::Say("221 bye")});
    w.main.Settings.SmtpPort = server.Port();
    w.boxes.Clear();
    w.Send();
    EXPECT_EQ(w.boxes.Texts(), QStringList({"554 no\r\n"}));
    QTest::qWait(100); // the hang-up arrives
    w.boxes.Clear();
    w.Send();
    server.Finish();
    EXPECT_TRUE(w.boxes.Messages.isEmpty()) << w.boxes.Texts().join("|").toStdString();
    EXPECT_TRUE(server.Problems().isEmpty()) << server.Problems().join("|").toStdString();
}

TEST(SendCommand, PictureNameIsAFileNameBesideTheProgram)
{
    SmtpSink sink;
    ASSERT_NE(sink.Port(), 0);
    Window w(sink.Port());
    w.DropPicture(200, 100);
    // A name that would leave the program's folder is refused before anything is sent.
    w.Child<QLineEdit>("txtFilemei")->setText("../x");
    w.Send();
    EXPECT_EQ(w.boxes.Texts(), QStringList({QStringLiteral("画像名「../x」はファイル名に使えません。")}));
    EXPECT_FALSE(QFile::exists(w.folder.File("../x.jpg")));
    // A Japanese name is carried in the header as an encoded word.
    w.boxes.Clear();
    w.Child<QLineEdit>("txtFilemei")->setText(QStringLiteral("写真"));
    w.Send();
    EXPECT_TRUE(w.boxes.Messages.isEmpty()) << w.boxes.Texts().join("|").toStdString();
    const QList<SmtpSink::Message> got = sink.WaitForMessages(1);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(ReadMail(got[0].Data)["parts"][1]["filename"].toString(), QStringLiteral("写真.jpg"));
    for (const QByteArray &line : got[0].Data.split('\n'))
        if (line.startsWith("Content-"))
            EXPECT_FALSE(std::any_of(line.cbegin(), line.cend(), [](char c) { return uchar(c) >= 0x80; }));
    EXPECT_TRUE(QFile::exists(w.folder.File(QStringLiteral("写真.jpg"))));
}

} // namespace
