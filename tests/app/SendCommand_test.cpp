#include "TestWindow.h"

#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>

namespace {

using S = ScriptedSmtpServer;

// A mail as Python's email package reads it (see read_mail.py).
QJsonObject ReadMail(const QByteArray &raw)
{
    QTemporaryFile file;
    EXPECT_TRUE(file.open() && file.write(raw) == raw.size() && file.flush());
    QProcess python;
    python.start("/usr/bin/python3", {KELVO_SOURCE_DIR "/tests/app/read_mail.py", file.fileName()});
    EXPECT_TRUE(python.waitForFinished(20000) && python.exitCode() == 0) << python.readAllStandardError().data();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

// The whole of one mail to rcpt, the server's last reply replaced by `last`.
S::Script Mail(const QByteArray &rcpt, const QByteArray &last = "250 queued")
{
    return S::Mail("taro@example.jp", {rcpt}).mid(0, 9) << S::Say(last);
}

TEST(SendCommand, EndToEndToARealServer)
{
    SmtpSink sink;
    ASSERT_NE(sink.Port(), 0) << sink.Error().toStdString();
    TestWindow w(KelvoIni(sink.Port()).replace("flg=2", "flg=1"));
    w.main.DropFiles({w.Picture("photo.jpg", 640, 480)});
    w.Child<QLineEdit>("txtFilemei")->setText(QStringLiteral("写真"));
    const QString name = QStringLiteral("山田") + QString(400, QChar(0x6F22)); // past a line's 998 bytes
    w.main.Settings.FromName = name;
    const QString typed = QStringLiteral("こんにちは\n.\n") + QString(1000, QChar(0x65E5));
    w.Send(QStringLiteral("テスト送信①～ｶﾞ") + QString(190, 'x'), QStringLiteral("山田 花子 <hanako@example.jp>"),
           typed);
    w.Trigger("acSend"); // the footer is added again, and the second mail carries both
    EXPECT_TRUE(w.boxes.Messages.isEmpty()) << w.boxes.Texts().join("|").toStdString();

    const QList<SmtpSink::Message> got = sink.WaitForMessages(2);
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(got[1].From + got[1].Rcpt.value(0) + got[1].Helo, "taro@example.jphanako@example.jpkelvo");
    const QJsonObject mail = ReadMail(got[1].Data);
    EXPECT_EQ(mail["subject"].toString(), QStringLiteral("テスト送信〓〜ガ") + QString(190, 'x'));
    EXPECT_EQ(mail["from"].toString(), name + " <taro@example.jp>");
    EXPECT_EQ(mail["to"].toString(), QStringLiteral("山田 花子 <hanako@example.jp>"));
    EXPECT_TRUE(mail["header_ascii"].toBool());
    EXPECT_EQ(mail["defects"].toArray().size(), 0);
    EXPECT_LE(mail["longest"].toInt(), 998);
    const QString footer = QStringLiteral("\n---\n") + AdvertisementFooter;
    EXPECT_EQ(w.Child<QPlainTextEdit>("txtBody")->toPlainText(), typed + footer + footer);
    const QJsonArray parts = mail["parts"].toArray();
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[0]["charset"].toString(), "iso-2022-jp");
    // The long line comes back split at character boundaries, nothing lost.
    const QString text = parts[0]["text"].toString();
    EXPECT_EQ(QString(text).remove('\n'), QString(typed + footer + footer).remove('\n'));
    EXPECT_TRUE(text.startsWith(QStringLiteral("こんにちは\n.\n日"))) << text.left(20).toStdString();
    // The attachment: the file beside the program, within the limit, at the fitted size.
    EXPECT_EQ(parts[1]["filename"].toString(), QStringLiteral("写真.jpg"));
    const QByteArray jpeg = QByteArray::fromBase64(parts[1]["data"].toString().toLatin1());
    EXPECT_EQ(jpeg, w.folder.Read(QStringLiteral("写真.jpg")));
    EXPECT_LE(jpeg.size(), 4800);
    EXPECT_EQ(DecodeJpeg(jpeg).size(), QSize(95, 71));
    // The status bar followed the send and ends disconnected, the bar full.
    const qsizetype sent = w.statuses.indexOf(QStringLiteral("送信成功")) - 1;
    EXPECT_EQ(w.statuses.mid(0, 2),
              QStringList({QStringLiteral("サーバに接続しました。"), QStringLiteral("送信開始")}));
    EXPECT_TRUE(w.statuses.value(sent).endsWith(QStringLiteral("バイト送信"))) << sent;
    EXPECT_EQ(w.statuses.last(), QStringLiteral("サーバから切断しました。"));
    EXPECT_EQ(w.main.ProgressBar->value(), 100);
    EXPECT_EQ(w.progress.value(w.statuses.lastIndexOf(QStringLiteral("サーバに接続しました。"))), 0); // the next send
}

TEST(SendCommand, PureAsciiMailWithoutPictureIsSentAsComposed)
{
    S server(S::Greeting() + Mail("hanako@example.jp") << S::Expect("QUIT") << S::Say("221 bye"));
    TestWindow w(KelvoIni(server.Port()), {MsgResult::Yes}); // send without a picture: Yes
    w.Send("hello", "hanako@example.jp", "line 1\n.dot\n");  // the last break starts no line
    server.Finish();
    EXPECT_TRUE(server.Problems().isEmpty()) << server.Problems().join("|").toStdString();
    EXPECT_EQ(server.Messages().value(0), "From: kelvo<taro@example.jp>\r\nTo: hanako@example.jp\r\n"
                                          "Subject: =?ISO-2022-JP?B?aGVsbG8=?=\r\nX-Mailer: kelvo Ver. 0.32 beta\r\n"
                                          "Mime-Version: 1.0\r\nContent-Type: text/plain;                        "
                                          "charset=us-ascii\r\n\r\n\r\nline 1\r\n..dot\r\n");
    EXPECT_EQ(w.boxes.Texts(), QStringList(QStringLiteral("画像が読み込まれていません。送信しますか？")));
    // No attachment part, but the file is still written, empty.
    EXPECT_EQ(w.folder.Read("kelvo.jpg"), QByteArray(""));
}

// Checks that stop the send before anything goes to the server or into the body.
TEST(SendCommand, ChecksBeforeSending)
{
    const struct
    {
        bool picture;
        int limit;
        const char *name, *dest, *box;
    } rows[] = {
        {false, 4800, "kelvo", "hanako@example.jp", "画像が読み込まれていません。送信しますか？"}, // answered No
        {true, 4800, "", "nobody", "正しいメールアドレスを入力してください。"},
        {true, 4800, "kelvo", "山田 <はなこ@example.jp>",
         "送信先のメールアドレスには半角の英数字と記号だけを使ってください。"},
        {true, 4800, "../x", "hanako@example.jp", "画像名「../x」はファイル名に使えません。"},
        {true, 300, "kelvo", "hanako@example.jp", // answered No
         "画質を最も下げても画像が制限の300バイトに収まりません。このまま送信しますか？"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.box);
        S server(S::Script{});
        TestWindow w(KelvoIni(server.Port()).replace("flg=2", "flg=1"));
        w.main.Settings.SizeLimit = row.limit;
        if (row.picture)
            w.main.DropFiles({w.Picture("photo.jpg", 200, 100)});
        w.Child<QLineEdit>("txtFilemei")->setText(row.name);
        w.Send("hi", QString::fromUtf8(row.dest), "body");
        EXPECT_EQ(w.boxes.Texts(), QStringList(QString::fromUtf8(row.box)));
        EXPECT_EQ(w.Child<QLineEdit>("txtFilemei")->text(), *row.name ? row.name : "kelvo");
        EXPECT_EQ(w.Child<QPlainTextEdit>("txtBody")->toPlainText(),
                  *row.name == '.' || row.limit < 4800 ? "body\n---\n" + AdvertisementFooter : "body");
        EXPECT_FALSE(QFile::exists(w.folder.File("../x.jpg")));
        server.Stop();
        EXPECT_TRUE(server.Lines().isEmpty());
    }
}

// A refused connection, then a send refused at its end: the connection stays open and
// the next send goes out on it, starting with RSET, to its own destination only.
TEST(SendCommand, SendsAfterFailedOnes)
{
    S server(S::Greeting() + Mail("first@example.jp", "554 no thanks") + Mail("second@example.jp")
             << S::Expect("QUIT") << S::Say("221 bye"));
    TestWindow w(KelvoIni(1)); // nothing listens on port 1 of the loopback
    w.main.DropFiles({w.Picture("photo.jpg", 640, 480)});
    w.Send("hi", "first@example.jp", "body");
    w.main.Settings.SmtpPort = server.Port();
    w.Trigger("acSend");
    EXPECT_EQ(w.main.ProgressBar->value(), 0); // the message went out whole, then was refused
    w.Send("hi", "second@example.jp", "body");
    server.Finish();
    EXPECT_EQ(w.boxes.Texts(), QStringList({QStringLiteral("接続に失敗しました"), "Connection Failed",
                                            QStringLiteral("問題が発生しました。"), "554 no thanks\r\n"}));
    EXPECT_TRUE(server.Problems().isEmpty()) << server.Problems().join("|").toStdString();
    const QByteArray second = server.Messages().value(1);
    EXPECT_TRUE(second.startsWith("From: kelvo<taro@example.jp>\r\nTo: second@example.jp\r\n"));
    EXPECT_EQ(second.count("Content-Disposition: attachment"), 1);
}

// Each failure shows the warning of its handler, then the error, and leaves the window
// ready for the next send.
TEST(SendCommand, Failures)
{
    const struct
    {
        S::Script script;
        QByteArray host;
        QStringList boxes;
    } rows[] = {
        {{}, "no-such-host.invalid", {QStringLiteral("サーバの設定が間違っています。"), "Null Remote Address"}},
        {S::Greeting() + Mail("hanako@example.jp").mid(0, 8) << S::ReadSome(100) << S::Hangup(),
         "127.0.0.1",
         {"Connection closed by the server"}},
    };
    for (const auto &row : rows) {
        S server(row.script);
        TestWindow w(KelvoIni(server.Port(), row.host));
        w.main.DropFiles({w.Picture("photo.jpg", 1200, 900)});
        w.Send("hi", "hanako@example.jp", "body");
        EXPECT_EQ(w.boxes.Texts(), row.boxes);
        EXPECT_EQ(w.boxes.Messages.last().Kind, MsgKind::Error);
        EXPECT_TRUE(w.Child<QAction>("acSend")->isEnabled());
        server.Stop();
    }
}

TEST(SendCommand, ClosingTheWindowCancelsTheSend)
{
    S server(S::Script{S::Say("220 hi"), S::Expect("HELO kelvo"), S::Wait(4000)});
    TestWindow w(KelvoIni(server.Port()), {MsgResult::Yes}); // no picture: send anyway
    bool sending = false;
    QTimer::singleShot(200, &w.main, [&] {
        sending = !w.Child<QAction>("acSend")->isEnabled();
        w.main.close();
    });
    w.Send("hi", "hanako@example.jp", "body");
    QTest::qWait(50);
    EXPECT_TRUE(sending);
    EXPECT_GT(w.main.NMSMTP1->TimeOut, 0); // a server that never answers is given up on
    EXPECT_FALSE(w.main.isVisible());
    EXPECT_EQ(w.boxes.Texts().size(), 1) << w.boxes.Texts().join("|").toStdString(); // the question
    server.Stop();
}

} // namespace
