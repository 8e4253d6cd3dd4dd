// The main window driven as a user would; the send command against a scripted server and aiosmtpd.
#include "KelvoVersion.h"
#include "app/MainWindow.h"
#include "imaging/Pipeline.h"
#include "platform/Accessibility.h"
#include "platform/MsgBox.h"
#include "platform/PasswordStore.h"
#include "settings/SettingKeys.h"
#include "support/Printers.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"
#include "support/TestFolder.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using S = ScriptedSmtpServer;

// Settings that skip the first-run dialog: pictures fitted to 95 dots, the 4800-byte limit, no footer.
QByteArray KelvoIni(quint16 port = 25, const QByteArray &host = "127.0.0.1")
{
    return "[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@example.jp\r\nID=kelvo\r\nSMTP=" + host +
           "\r\nPort=" + QByteArray::number(port) + "\r\n[keitai]\r\ndotsettei=0\r\nrfsize=0\r\n[Koukoku]\r\nflg=2\r\n";
}

struct CountingDialog : QDialog
{
    int exec() override { return ++Shown, QDialog::Rejected; }
    int Shown = 0;
};

// The window in a fresh folder holding `ini` (if any), boxes answered with `answers`, each status with its progress.
struct TestWindow
{
    explicit TestWindow(const QByteArray &ini = KelvoIni(), const QList<MsgResult> &answers = {})
    {
        PasswordStore::UseKeyring(false); // never the keyring of whoever runs the tests
        // The real prompt, answered as a user would: `Typed` and Return, or キャンセル for nullptr; "" wants
        // none. One still open after 3 s is closed, failing rather than hanging the test.
        main.AskPassword = [this, prompt = main.AskPassword](const QString &host, const QString &user) {
            EXPECT_TRUE(!Typed || *Typed) << "unexpected password prompt";
            ++Asked;
            QObject prompting; // the timers end with it
            QTimer::singleShot(3000, &prompting, [] {
                if (auto *open = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                    open->reject();
            });
            QTimer::singleShot(100, &prompting, [typed = Typed] {
                auto *prompt = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                ASSERT_NE(prompt, nullptr);
                EXPECT_EQ(prompt->windowTitle(), QStringLiteral("SMTPパスワード"));
                auto *box = qobject_cast<QLineEdit *>(prompt->focusWidget());
                ASSERT_TRUE(box && box->echoMode() == QLineEdit::Password);
                if (!typed)
                    return prompt->findChild<QPushButton *>("cancelButton")->click();
                QTest::keyClicks(box, typed);
                QTest::keyClick(box, Qt::Key_Return); // OK is the default button
            });
            return prompt(host, user);
        };
        if (!ini.isEmpty())
            folder.Write("kelvo.ini", ini);
        for (MsgResult answer : answers)
            boxes.Answer(answer);
        QObject::connect(&main, &MainWindow::StatusChanged, [this](const QString &t) {
            statuses.append(t);
            progress.append(main.ProgressBar->value());
        });
        main.OpenUrl = [this](const QUrl &url) { return opened.append(url), true; };
        main.SetDialogs(&settingsDialog, &addressBook);
        main.show();
        QTest::qWait(20); // the first showing runs from the event loop
    }
    template <class T = QWidget> T *Child(const char *name) { return main.findChild<T *>(name); }
    void Trigger(const char *action) { Child<QAction>(action)->trigger(); }
    QImage Shown() { return Child<QLabel>("previewPicture")->pixmap().toImage(); }
    QString Picture(const QString &name, int w, int h) { return WritePicture(folder.File(name), w, h); }
    void Send(const QString &subject, const QString &dest, const QString &body)
    {
        Child<QLineEdit>("subjectEdit")->setText(subject);
        Child<QComboBox>("destinationCombo")->setEditText(dest);
        Child<QPlainTextEdit>("bodyEdit")->setPlainText(body);
        Trigger("sendAction");
    }

    TestFolder folder;
    MessageRecorder boxes;
    CountingDialog settingsDialog, addressBook;
    MainWindow main;
    QStringList statuses;
    QList<int> progress;
    const char *Typed = ""; // at the password prompt
    int Asked = 0;
    QList<QUrl> opened; // by the web command and the help
};

TEST(MainWindow, FirstShowing)
{
    // The stored counter, what is written back, the box shown.
    const std::tuple<const char *, const char *, const char *> rows[] = {
        {nullptr, nullptr, nullptr}, // first run: the settings dialog, no file
        {"3", "4", nullptr},         {"4", "1", "kelvoの最新版探しに行きますか？"}, // answered No
        {"7", "8", nullptr},         {"x", "x", "'x' は数値ではありません"},        // the error box ends the showing
    };
    for (const auto &[kai, written, box] : rows) {
        SCOPED_TRACE(kai ? kai : "no file");
        TestWindow w(kai ? KelvoIni().replace("kai=0", QByteArray("kai=") + kai) : "");
        EXPECT_EQ(w.settingsDialog.Shown, kai ? 0 : 1);
        EXPECT_EQ(ReadSetting(Setting::LaunchCount), written ? written : "");
        EXPECT_EQ(w.boxes.Texts(), box ? QStringList(QString::fromUtf8(box)) : QStringList());
        EXPECT_EQ(w.main.Settings.DotSize, kai ? 95 : 120);
    }
}

TEST(MainWindow, BodyBoxLimit)
{
    TestWindow w;
    auto *body = w.Child<QPlainTextEdit>("bodyEdit");
    const QString emoji = QStringLiteral("😀");
    // Where the text ends, how more comes (k: keys, p: paste, i: input method), what comes, what is added.
    const std::tuple<int, char, QString, QString> rows[] = {
        {998, 'k', "abc", "ab"},      {999, 'p', "\t\t", "\t"},         {999, 'k', "\r\r", "\n"},
        {998, 'p', "x" + emoji, "x"}, {998, 'p', "\r\n" + emoji, "\n"}, {999, 'i', emoji, ""},
    };
    for (const auto &[start, how, input, added] : rows) {
        body->setPlainText(QString(start, 'a'));
        body->moveCursor(QTextCursor::End);
        QInputMethodEvent commit;
        commit.setCommitString(input);
        QGuiApplication::clipboard()->setText(input);
        if (how == 'k')
            QTest::keyClicks(body, input);
        else if (how == 'p')
            body->paste();
        else
            QCoreApplication::sendEvent(body, &commit);
        EXPECT_EQ(body->toPlainText().mid(start - 1), 'a' + added) << how << start;
    }
}

// As the platform does: the drag enters, then it drops, the paths also given as text.
void Drop(QWidget *target, const QStringList &paths)
{
    QMimeData data;
    QList<QUrl> urls(paths.size());
    std::ranges::transform(paths, urls.begin(), QUrl::fromLocalFile);
    data.setUrls(urls);
    data.setText(paths.join('\n'));
    QDragEnterEvent enter(QPoint(9, 9), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(9, 9), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, enter.isAccepted() ? &drop : &enter);
}

TEST(MainWindow, PictureIntake)
{
    TestWindow w;
    w.folder.Write("notes.txt", "hello");
    Drop(&w.main, {w.folder.File("notes.txt"), w.Picture("photo.JpG", 640, 480)});
    EXPECT_EQ(w.Shown().size(), QSize(95, 71));
    w.main.Settings.DotSize = 120; // the size in force at the drop counts
    Drop(&w.main, {w.Picture("tall.bmp", 30, 60), w.Picture("wide.jpeg", 200, 100)});
    EXPECT_EQ(w.Shown().size(), QSize(60, 120));
    // Not supported, and the picture stays: nothing, or a .jpe and a folder.
    QDir(w.folder.Path()).mkdir("folder.jpg");
    Drop(&w.main, {});
    Drop(&w.main, {w.Picture("x.jpe", 10, 10), w.folder.File("folder.jpg")});
    EXPECT_EQ(w.boxes.Texts(), QStringList(2, QStringLiteral("このファイルタイプには対応しておりません。")));
    EXPECT_EQ(w.Shown().size(), QSize(60, 120));
    // A path past 254 characters is used whole.
    const QString deep = w.folder.Path() + QString("/long-folder-name").repeated(20);
    ASSERT_TRUE(QDir().mkpath(deep) && QFile::rename(w.Picture("long.jpg", 64, 32), deep + "/long.jpg"));
    Drop(&w.main, {deep + "/long.jpg"});
    EXPECT_EQ(w.Shown().size(), QSize(120, 60));
    // Dropped on an edit box, the file still reaches the window, not the box's text.
    Drop(w.Child<QPlainTextEdit>("bodyEdit")->viewport(), {w.Picture("onbox.jpg", 64, 48)});
    EXPECT_EQ(w.Shown().size(), QSize(120, 90));
    EXPECT_TRUE(w.Child<QPlainTextEdit>("bodyEdit")->toPlainText().isEmpty());
    // A bad file of any kind ends the drop with the error box, and the picture held before stays.
    w.folder.Write("text.jpg", "Hello");
    for (const char *name : {"cut.bmp", "cut.jpeg", "cut.jpg", "text.jpg"}) {
        if (name[0] == 'c')
            w.folder.Write(name, w.folder.Read("onbox.jpg").left(300));
        Drop(&w.main, {w.folder.File(name), w.Picture("after.jpg", 30, 60)});
        EXPECT_EQ(w.Shown().size(), QSize(120, 90)) << name;
    }
    EXPECT_EQ(w.boxes.Messages.size(), 6);
    EXPECT_EQ(w.boxes.Messages[5].Kind, MsgKind::Error);
    EXPECT_EQ(
        w.boxes.Messages[5].Text,
        QStringLiteral("ファイル %1 は JPEG 画像ではありません (先頭は \"Hello\")。").arg(w.folder.File("text.jpg")));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the busy cursor of a failed load stayed";
    // The held picture made grey, and saved as it would be mailed.
    w.main.DropFiles({w.Picture("tall.bmp", 30, 60)});
    w.Trigger("greyAction");
    EXPECT_TRUE(w.Shown().allGray());
    w.main.AskSavePath = [&w] { return w.folder.File("saved.jpeg"); };
    w.Trigger("savePictureAction");
    EXPECT_EQ(DecodeJpeg(w.folder.Read("saved.jpeg")).size(), QSize(60, 120));
    EXPECT_LE(w.folder.Read("saved.jpeg").size(), 4800);
}

// A FIFO that no one writes is refused at once with the error box, the picture kept, and the window takes the next
// drop. Opening it to read would wait for a writer: should the drop wait, the alarm ends the test.
TEST(MainWindow, DroppedFifoIsRefusedAtOnce)
{
    TestWindow w;
    w.main.DropFiles({w.Picture("before.jpg", 64, 48)});
    const QString fifo = w.folder.File("fifo.png");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    alarm(30);
    Drop(&w.main, {fifo});
    alarm(0);
    EXPECT_EQ(w.boxes.Texts(),
              QStringList(fifo +
                          QStringLiteral(" は普通のファイルではない (パイプやデバイスなどの) ため、読み込めません。")));
    EXPECT_EQ(w.Shown().size(), QSize(95, 71));
    Drop(&w.main, {w.Picture("after.jpg", 30, 60)});
    EXPECT_EQ(w.Shown().size(), QSize(47, 95));
}

// File → Open Picture takes the chosen file as a drop of it, starting in the Pictures folder, then in the last
// picture's. A file that is no picture kelvo takes, is gone or cannot be read gets the drop's box and the picture
// stays; cancelled, nothing happens. The preview is named with the picture's size, its hint hidden.
TEST(MainWindow, OpenPictureTakesTheDropsWay)
{
    TestWindow w;
    QStringList startedIn;
    QString chosen;
    w.main.AskPicturePath = [&](const QString &folder) { return startedIn.append(folder), chosen; };
    QDir(w.folder.Path()).mkdir("shots");
    w.folder.Write("damaged.png", "\x89PNG\r\n\x1a\n garbage");
    for (const QString &file : {w.Picture("shots/photo.JPG", 640, 480), w.folder.File("notes.txt"),
                                w.folder.File("gone.png"), w.folder.File("damaged.png"), QString()}) {
        chosen = file;
        w.Trigger("openPictureAction");
        EXPECT_EQ(w.Shown().size(), QSize(95, 71));
    }
    EXPECT_EQ(startedIn, QStringList{QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)} +
                             QStringList(4, w.folder.File("shots")));
    EXPECT_EQ(w.boxes.Texts().mid(0, 2),
              QStringList({QStringLiteral("このファイルタイプには対応しておりません。"),
                           QStringLiteral("ファイル %1 を開けません。").arg(chosen = w.folder.File("gone.png"))}));
    EXPECT_EQ(w.boxes.Messages.value(2).Kind, MsgKind::Error);
    EXPECT_EQ(w.Child<QLabel>("previewPicture")->accessibleName(), QStringLiteral("画像のプレビュー（95×71ドット）"));
    EXPECT_FALSE(w.Child<QLabel>("dropHintLabel")->isVisibleTo(&w.main));
}

// Tab goes round the window in reading order and leaves the body. New Mail asks only for text not yet sent: No keeps
// it all, Yes empties the subject, the body and the preview. F1 opens the README, Ctrl+Q closes the window.
TEST(MainWindow, KeysAndCommands)
{
    TestWindow w({}, {MsgResult::No, MsgResult::Yes});
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.main));
    QStringList order{"bodyEdit"};
    for (w.Child("bodyEdit")->setFocus(); order.size() < 8; order.append(QApplication::focusWidget()->objectName()))
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(order.join(' '), "bodyEdit subjectEdit pictureNameEdit addressBookButton destinationCombo sendButton "
                               "previewScroll bodyEdit");
    w.main.DropFiles({w.Picture("photo.jpg", 64, 48)});
    w.Child<QPlainTextEdit>("bodyEdit")->setPlainText("typed");
    for (int i = 0; i < 3; ++i) // the last asks nothing
        w.Trigger("newMailAction");
    EXPECT_TRUE(w.Child<QLineEdit>("subjectEdit")->text().isEmpty() && w.Shown().isNull());
    EXPECT_EQ(w.boxes.Texts(),
              QStringList(2, QStringLiteral("送信していない件名か本文があります。消して新しいメールを作りますか？")));
    w.folder.Write("README.md", "# kelvo"); // beside a portable kelvo
    QTest::keyClick(&w.main, Qt::Key_F1);
    EXPECT_EQ(w.opened, QList<QUrl>{QUrl::fromLocalFile(w.folder.File("README.md"))});
    QTest::keyClick(&w.main, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(w.main.isVisible());
}

// The drop hint takes the theme's text colour on a box it reads on, in the light theme and in a dark one whose
// grey-text colour is a light grey.
TEST(MainWindow, DropHintReadsInLightAndDarkThemes)
{
    TestWindow w;
    const QWidget *hint = w.Child("dropHintLabel"), *box = w.Child("previewContents");
    QPalette dark(QColor(45, 45, 45));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(160, 160, 160));
    for (const QPalette &theme : {QApplication::palette(), dark}) {
        w.main.setPalette(theme);
        EXPECT_GE(
            ContrastRatio(hint->palette().color(hint->foregroundRole()), box->palette().color(box->backgroundRole())),
            4.5);
    }
}

// The whole of one mail to rcpt, the server's last reply replaced by `last`.
S::Script Mail(const QByteArray &rcpt, const QByteArray &last = "250 queued")
{
    return S::Mail("taro@example.jp", {rcpt}).mid(0, 9) << S::Say(last);
}

// A send to a port where nothing listens fails with one box saying where and why; the sends after it carry the footer
// once. Each mail has the time of its send and an id of its own.
TEST(SendCommand, EndToEndToARealServer)
{
    SmtpSink sink;
    ASSERT_NE(sink.Port(), 0) << sink.Error().toStdString();
    TestWindow w(KelvoIni(1).replace("flg=2", "flg=1")); // nothing listens on port 1 of the loopback
    w.main.DropFiles({w.Picture("photo.jpg", 640, 480)});
    w.Child<QLineEdit>("pictureNameEdit")->setText(QStringLiteral("写真"));
    const QString name = (w.main.Settings.FromName = QStringLiteral("山田") + QString(400, QChar(0x6F22)));
    const QString to = QStringLiteral("山田 花子") + QString(30, QChar(0x6F22)) + " <hanako@example.jp>";
    const QString typed = QStringLiteral("こんにちは\n.") + QString(1000, 'a') + '\n' + QString(1000, QChar(0x65E5));
    w.Send(QStringLiteral("テスト送信①～ｶﾞ") + QString(190, 'x'), to, typed);
    EXPECT_EQ(w.boxes.Texts(),
              QStringList(QStringLiteral("サーバ 127.0.0.1 のポート 1 に接続できません（接続を拒否されました）。")));
    EXPECT_EQ(w.boxes.Messages.value(0).Kind, MsgKind::Error);
    w.main.Settings.SmtpPort = sink.Port();
    w.Trigger("sendAction");
    w.Trigger("sendAction");
    EXPECT_EQ(w.boxes.Messages.size(), 1) << w.boxes.Texts().join("|").toStdString();
    EXPECT_EQ(w.statuses.value(w.statuses.indexOf(QStringLiteral("サーバから切断しました。")) + 1), "")
        << "the status of the send before stays";

    const QList<SmtpSink::Message> got = sink.WaitForMessages(2);
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(got[1].Rcpt, QList<QByteArray>{"hanako@example.jp"});
    const QJsonObject first = SmtpSink::Parse(got[0].Data), mail = SmtpSink::Parse(got[1].Data);
    EXPECT_LT(std::abs(mail["date"].toDouble() - double(QDateTime::currentSecsSinceEpoch())), 60);
    EXPECT_TRUE(mail["message_id"].toString().endsWith("@example.jp>")) << mail["message_id"].toString().toStdString();
    EXPECT_NE(mail["message_id"].toString(), first["message_id"].toString());
    EXPECT_EQ(mail["subject"].toString(), QStringLiteral("テスト送信〓〜ガ") + QString(190, 'x'));
    EXPECT_EQ(mail["from"].toString(), name + " <taro@example.jp>");
    EXPECT_EQ(mail["to"].toString(), to);
    EXPECT_TRUE(mail["header_ascii"].toBool() && mail["defects"].toArray().isEmpty() && mail["longest"].toInt() <= 998)
        << QJsonDocument(mail).toJson().left(400).data();
    const QString footer = QStringLiteral("\n---\n") + AdvertisementFooter();
    EXPECT_EQ(w.Child<QPlainTextEdit>("bodyEdit")->toPlainText(), typed + footer);
    const QJsonArray parts = mail["parts"].toArray();
    // The long lines come back split at character boundaries, nothing lost.
    const QString text = parts[0]["text"].toString();
    EXPECT_EQ(QString(text).remove('\n'), QString(typed + footer).remove('\n'));
    EXPECT_TRUE(text.startsWith(QStringLiteral("こんにちは\n.aaa"))) << text.left(20).toStdString();
    EXPECT_EQ(parts[1]["filename"].toString(), QStringLiteral("写真.jpg")); // the file beside the program
    EXPECT_EQ(mail["plain_filename"].toString(), QStringLiteral("写真.jpg"));
    const QByteArray jpeg = QByteArray::fromBase64(parts[1]["data"].toString().toLatin1());
    EXPECT_EQ(jpeg, w.folder.Read(QStringLiteral("写真.jpg")));
    // The bar was full at the end of a send, empty as the next one connected.
    EXPECT_EQ(w.main.ProgressBar->value(), 100);
    EXPECT_EQ(w.progress.value(w.statuses.lastIndexOf(QStringLiteral("サーバに接続しました。"))), 0);
}

TEST(SendCommand, PureAsciiMailWithoutPictureIsSentAsComposed)
{
    S server(S::Greeting() + Mail("hanako@example.jp") << S::Expect("QUIT") << S::Say("221 bye"));
    TestWindow w(KelvoIni(server.Port()), {MsgResult::Yes});               // send without a picture: Yes
    w.Send("hello", "hanako@example.jp", "." + QString(1000, 'a') + "\n"); // the last break starts no line
    server.Finish();
    EXPECT_TRUE(server.Problems().isEmpty()) << server.Problems().join("|").toStdString();
    // The date and the id differ at every send: their forms, right before Mime-Version, then the rest as it always was.
    QString sent = QString::fromLatin1(server.Messages().value(0));
    const QRegularExpression dateAndId("Date: \\w{3}, \\d\\d \\w{3} \\d{4} [\\d:]{8} [+-]\\d{4}\r\n"
                                       "Message-ID: <[0-9a-f]{32}@example\\.jp>\r\n(?=Mime)");
    EXPECT_EQ(sent.remove(dateAndId),
              QStringLiteral("From: kelvo<taro@example.jp>\r\nTo: hanako@example.jp\r\nSubject: "
                             "=?ISO-2022-JP?B?aGVsbG8=?=\r\nX-Mailer: %1\r\nMime-Version: 1.0\r\n"
                             "Content-Type: text/plain;                        "
                             "charset=us-ascii\r\n\r\n\r\n..%2\r\naaaa\r\n")
                  .arg(KelvoVersionText, QString(996, 'a')));
    EXPECT_EQ(w.folder.Read("kelvo.jpg"), QByteArray("")); // no attachment, but the file is written, empty
    w.Trigger("newMailAction");                            // all of it sent: a new mail asks nothing
    EXPECT_TRUE(w.boxes.Messages.size() == 1 && w.Child<QLineEdit>("subjectEdit")->text().isEmpty());
}

// Checks that stop the send before it connects, and before the footer where they can.
TEST(SendCommand, ChecksBeforeSending)
{
    // The size limit (0: no picture), the picture's name, the destination, the box.
    const std::tuple<int, const char *, QString, const char *> rows[] = {
        {0, "kelvo", "hanako@example.jp", "画像が読み込まれていません。送信しますか？"}, // answered No
        {4800, "", "nobody", "正しいメールアドレスを入力してください。"},
        {4800, "kelvo", "山田 <はなこ@example.jp>",
         "送信先のメールアドレスには半角の英数字と記号だけを使ってください。"},
        {4800, "../x", "hanako@example.jp", "画像名「../x」はファイル名に使えません。"},
        {4800, "kelvo", QString(400, QChar(0x6F22)) + " <h@x>", "送信先が長すぎます。名前を短くしてください。"},
        {300, "kelvo", "hanako@example.jp", // answered No
         "画質を最も下げても画像が制限の300バイトに収まりません。このまま送信しますか？"},
    };
    for (const auto &[limit, name, dest, box] : rows) {
        SCOPED_TRACE(box);
        TestWindow w(KelvoIni(1).replace("flg=2", "flg=1")); // a send that went on would be refused
        w.main.Settings.SizeLimit = limit;
        if (limit)
            w.main.DropFiles({w.Picture("photo.jpg", 200, 100)});
        w.Child<QLineEdit>("pictureNameEdit")->setText(name);
        w.Send("hi", dest, "body");
        EXPECT_EQ(w.boxes.Texts(), QStringList(QString::fromUtf8(box)));
        EXPECT_EQ(w.Child<QLineEdit>("pictureNameEdit")->text(), *name ? name : "kelvo");
        EXPECT_EQ(w.Child<QPlainTextEdit>("bodyEdit")->toPlainText(),
                  *name == '.' || limit == 300 ? "body\n---\n" + AdvertisementFooter() : "body");
    }
    // A security kelvo does not know stops the send, though an older key stopped the loading.
    TestWindow w(KelvoIni(1).replace("flg=2", "flg=yes").replace("[smtp]\r\n", "[smtp]\r\nSecurity=STARTTLS\r\n"));
    w.Send("hi", "hanako@example.jp", "body");
    EXPECT_EQ(w.boxes.Texts(), QStringList({"'yes' は数値ではありません",
                                            "設定ファイルの [smtp] Security=STARTTLS は 0、1、2 のどれでもないため、"
                                            "送信できません。「kelvoの設定」で接続の保護を選んで保存してください。"}));
}

// After an unknown server, a refused connection and a mail refused at its end (the connection stays
// open), the same once STARTTLS with a login is chosen takes a new connection, then the open one is used
// again, to its own destination only. A mail refused at QUIT is no success, a refused HELO no failed login.
TEST(SendCommand, SendsAfterFailedOnesAndShowsTheServersWords)
{
    S server(
        S::Greeting() + Mail("first@example.jp", "554 no thanks") +
        S::Script{S::AcceptNext(), S::Say("220 hi"), S::Expect("EHLO kelvo"), S::Say("250-test\r\n250 STARTTLS"),
                  S::Expect("STARTTLS"), S::Say("220 go"), S::Handshake(SmtpSink::Certificates().toUtf8() + "/good"),
                  S::Expect("EHLO kelvo"), S::Say("250-test\r\n250 AUTH PLAIN"),
                  S::Expect("AUTH PLAIN " + QByteArray("\0taro@example.jp\0secret", 23).toBase64()), S::Say("235 ok")} +
        Mail("first@example.jp", "554 no thanks") + Mail("second@example.jp") +
        S::Script{S::Expect("QUIT"), S::Say("554 5.7.1 rejected as spam"), S::AcceptNext(), S::Say("220 hi"),
                  S::Expect("HELO kelvo"), S::Say("554 5.7.1 not from here"), S::Expect("QUIT"), S::Say("221 bye")});
    TestWindow w(KelvoIni(1, "no-such-host.invalid")); // nothing listens on port 1 of the loopback
    w.main.smtpClient->TimeOut = 3000;                 // a connection used when it should not be falls silent
    w.main.DropFiles({w.Picture("photo.jpg", 640, 480)});
    w.Send("hi", "first@example.jp", "body");
    w.main.Settings.SmtpHost = "127.0.0.1";
    w.Trigger("sendAction");
    w.main.Settings.SmtpPort = server.Port();
    w.Trigger("sendAction");
    EXPECT_EQ(w.main.ProgressBar->value(), 0); // the message went out whole, then was refused
    w.main.Settings.Security = SmtpSecurity::StartTls;
    w.main.Settings.Auth = SmtpLogin::Password; // no login name: the sender's address
    PasswordStore::Remember(PasswordStore::Account("127.0.0.1", "taro@example.jp"), "secret");
    w.Trigger("sendAction");
    w.Send("hi", "second@example.jp", "body");
    EXPECT_EQ(w.main.ProgressBar->value(), 0);
    w.main.Settings.Security = SmtpSecurity::None;
    w.main.Settings.Auth = SmtpLogin::None;
    w.Trigger("sendAction");
    server.Finish();
    const QStringList refused{QStringLiteral("問題が発生しました。"), "554 no thanks"};
    EXPECT_EQ(w.boxes.Texts(),
              QStringList(
                  {QStringLiteral("サーバ no-such-host.invalid のポート 1 に接続できません（名前が見つかりません）。"),
                   QStringLiteral("サーバ 127.0.0.1 のポート 1 に接続できません（接続を拒否されました）。")}) +
                  refused + refused +
                  QStringList({QStringLiteral("送信したメールがサーバに受け付けられなかった可能性があります。"
                                              "\nサーバの応答：\n554 5.7.1 rejected as spam"),
                               QStringLiteral("サーバに接続を断られました。"), "554 5.7.1 not from here"}));
    EXPECT_EQ(w.boxes.Messages.value(6).Kind, MsgKind::Warning);
    EXPECT_TRUE(server.Problems().isEmpty()) << server.Problems().join("|").toStdString();
    const QByteArray second = server.Messages().value(2);
    EXPECT_TRUE(second.startsWith("From: kelvo<taro@example.jp>\r\nTo: second@example.jp\r\n"));
    EXPECT_EQ(second.count("Content-Disposition: attachment"), 1);
}

// Sending through a provider that wants STARTTLS and a login (aiosmtpd), one send a row.
TEST(SendCommand, ThroughAProvider)
{
    SmtpSink sink(SmtpSink::StartTls);
    ASSERT_NE(sink.Port(), 0) << sink.Error().toStdString();
    TestWindow w(KelvoIni(sink.Port()));
    w.main.DropFiles({w.Picture("photo.jpg", 640, 480)});
    w.main.Settings.Auth = SmtpLogin::Password;
    w.main.Settings.AuthUser = "kelvo";
    PasswordStore::Forget(PasswordStore::Account("127.0.0.1", "kelvo"));
    // Protection, what is typed at the prompt ("": not asked; nullptr: キャンセル), the box, the mails then.
    const std::tuple<SmtpSecurity, const char *, const char *, int> rows[] = {
        {SmtpSecurity::None, "",
         "暗号化しない接続ではSMTP認証のパスワードを送れません。「kelvoの設定」で、"
         "接続の保護に STARTTLS か SSL/TLS を選んでください。",
         0},
        {SmtpSecurity::StartTls, nullptr, "", 0},
        {SmtpSecurity::StartTls, "wrong",
         "127.0.0.1 にログインできませんでした（535 5.7.8 Authentication credentials invalid）。\n"
         "パスワードは消去しました。次の送信で入力してください。",
         0},
        {SmtpSecurity::StartTls, "secret", "", 1}, // asked again, then kept
        {SmtpSecurity::StartTls, "", "", 2},
    };
    for (const auto &[security, typed, box, mails] : rows) {
        SCOPED_TRACE(typed ? typed : "cancelled");
        const qsizetype before = w.boxes.Messages.size();
        w.main.Settings.Security = security;
        w.Asked = 0;
        w.Typed = typed;
        w.Send("hi", "hanako@example.jp", "body");
        EXPECT_EQ(w.Asked, !typed || *typed ? 1 : 0);
        EXPECT_EQ(w.boxes.Texts().mid(before), *box ? QStringList(QString::fromUtf8(box)) : QStringList());
        EXPECT_EQ(sink.WaitForMessages(mails).size(), mails);
    }
    const QString statuses = w.statuses.join('|').replace(QRegularExpression("(\\d+バイト中\\d+バイト送信\\|)+"), "#|");
    EXPECT_EQ(statuses.section('|', -7),
              QStringLiteral("暗号化通信を開始しました。|認証に成功しました。|"
                             "サーバに接続しました。|送信開始|#|送信成功|サーバから切断しました。"));
    EXPECT_EQ(sink.Messages().value(1).Login, "kelvo"); // the last row saw both mails
    // Neither password, in any form the login sends, is shown or written to a file.
    QByteArray files;
    for (const QString &name : QDir(w.folder.Path()).entryList(QDir::Files))
        files += w.folder.Read(name);
    for (const QByteArray secret : {"secret", "wrong", "AGtlbHZvAHNlY3JldA", "c2VjcmV0", "d3Jvbmc"})
        EXPECT_FALSE(files.contains(secret) || (w.boxes.Texts() + w.statuses).join('|').contains(secret))
            << secret.data();
    EXPECT_TRUE(w.main.smtpClient->Password.isEmpty());
}

// Closed while the server is silent after HELO, the send is cancelled and the window closes once it returned;
// the settings, which could change the login under the send, wait for its end, other commands do not.
TEST(SendCommand, ClosingTheWindowCancelsTheSend)
{
    S server({S::Say("220 hi"), S::Expect("HELO kelvo"), S::Wait(4000)});
    TestWindow w(KelvoIni(server.Port()), {MsgResult::Yes}); // no picture: send anyway
    QTimer::singleShot(200, &w.main, [&] {
        w.Trigger("settingsAction"); // waits for the send's end, while the address book opens
        w.Trigger("addressBookAction");
        w.main.close();
    });
    w.Send("hi", "hanako@example.jp", "body");
    QTest::qWait(50);
    EXPECT_EQ(w.settingsDialog.Shown, 0);
    EXPECT_EQ(w.addressBook.Shown, 1);
    EXPECT_TRUE(w.Child<QAction>("settingsAction")->isEnabled());
    EXPECT_FALSE(w.main.isVisible());
    EXPECT_EQ(w.boxes.Texts().size(), 1) << w.boxes.Texts().join("|").toStdString(); // the question
    server.Stop();
    EXPECT_EQ(server.Lines().size(), 1);
}

// On X11 the window manager's close is input the event loop may hold back: closed by openbox while a
// keyring that answers after 10 s is asked (slow_keyring_desktop.py, under Xvfb), the send ends at once,
// unprompted, nothing reaches the server and the window closes. Keys typed meanwhile start nothing.
TEST(SendCommand, ClosedByTheWindowManagerWhileTheKeyringIsAsked)
{
    if (qgetenv("QT_QPA_PLATFORM") != "xcb") {
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start("dbus-run-session",
                    {"--", "env", "QT_QPA_PLATFORM=xcb", "/usr/bin/python3",
                     QStringLiteral(KELVO_SOURCE_DIR "/tests/app/slow_keyring_desktop.py"),
                     QCoreApplication::applicationFilePath(), "--gtest_filter=SendCommand.ClosedBy*"});
        EXPECT_TRUE(child.waitForFinished(60000) && child.exitCode() == 0) << child.readAll().toStdString();
        return;
    }
    SmtpSink sink(SmtpSink::StartTls);
    TestWindow w(KelvoIni(sink.Port()), {MsgResult::Yes}); // no picture: send anyway
    PasswordStore::UseKeyring(true);
    w.main.Settings.Security = SmtpSecurity::StartTls;
    w.main.Settings.Auth = SmtpLogin::Password;
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.main));
    QObject::connect(&w.main, &MainWindow::StatusChanged, [&](const QString &text) {
        if (text == QStringLiteral("キーリングからパスワードを読み込んでいます…"))
            QTimer::singleShot(300, &w.main, [&] { // meanwhile Ctrl+S starts no command
                QTest::keyClick(&w.main, Qt::Key_S, Qt::ControlModifier);
                QProcess::execute("wmctrl", {"-i", "-c", QString::number(w.main.winId())});
            });
    });
    const QDeadlineTimer inTime(5000);
    w.Send("hi", "hanako@example.jp", "body");
    QTest::qWait(200);
    EXPECT_FALSE(inTime.hasExpired());
    EXPECT_FALSE(w.main.isVisible());
    EXPECT_EQ(w.boxes.Texts().size(), 1) << w.boxes.Texts().join("|").toStdString(); // the question
    EXPECT_EQ(sink.Messages().size(), 0);
}

} // namespace
