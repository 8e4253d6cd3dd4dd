#include "app/MainWindow.h"

#include "platform/MsgBox.h"

#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// Stands in for a dialog: counts its modal showings.
class CountingDialog : public QDialog
{
public:
    int exec() override
    {
        ++Shown;
        return QDialog::Rejected;
    }
    int Shown = 0;
};

} // namespace

// Catches the web command instead of starting a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    UrlCatcher()
    {
        QDesktopServices::setUrlHandler("https", this, "Open");
        QDesktopServices::setUrlHandler("http", this, "Open");
    }
    ~UrlCatcher() override
    {
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("http");
    }
    QList<QUrl> Opened;

public slots:
    void Open(const QUrl &url) { Opened.append(url); }
};

namespace {

struct Window
{
    Window()
    {
        main.SetDialogs(&settei, &address);
        main.show();
        QTest::qWait(20); // the first showing runs from the event loop
    }
    MainWindow main;
    CountingDialog settei;
    CountingDialog address;
};

QByteArray Ini(const QByteArray &kai)
{
    return "[web]\r\nkai=" + kai +
           "\r\n[smtp]\r\nname=n\r\nFromAddress=a@b.c\r\nPort=25\r\nSMTP=h\r\nID=i\r\nDest=d@e.f\r\n"
           "[keitai]\r\ndotsettei=0\r\nkishu=x:1\r\nsiteidot=100\r\nrfsize=0\r\nofsize=5\r\n[Koukoku]\r\nflg=2\r\n";
}

TEST(MainWindow, CreationState)
{
    TestFolder folder;
    MessageRecorder boxes;
    Window w;
    EXPECT_EQ(w.main.windowTitle(), "kelvo Ver. 0.32 beta");
    EXPECT_EQ(w.main.findChild<QLineEdit *>("txtSubject")->text(), "Message from kelvo Ver. 0.32 beta");
    EXPECT_EQ(w.main.findChild<QLineEdit *>("txtSubject")->maxLength(), 200);
    EXPECT_EQ(w.main.findChild<QLineEdit *>("txtFilemei")->text(), "kelvo");
    EXPECT_EQ(w.main.findChild<QLineEdit *>("txtFilemei")->maxLength(), 8);
    EXPECT_EQ(w.main.findChild<QLabel *>("PicSetu")->text(),
              QStringLiteral("ここに画像ファイル\r\n[bmp,jpeg,jpg]を\r\nドラッグ＆ドロップ\r\nしてください。"));
    EXPECT_EQ(w.main.centralWidget()->size(), QSize(421, 324));
    const QProgressBar *bar = w.main.ProgressBar;
    EXPECT_EQ(bar->geometry(), QRect(302, 2, 98, 22));
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(w.main.Settings.DotSize, 120);
    EXPECT_EQ(w.main.Settings.SizeLimit, 4800);

    // The version box.
    w.main.findChild<QAction *>("mnuVersion")->trigger();
    ASSERT_EQ(boxes.Messages.size(), 1);
    EXPECT_EQ(boxes.Messages[0].Kind, MsgKind::Information);
    EXPECT_EQ(boxes.Messages[0].Caption, QStringLiteral("情報"));
    EXPECT_EQ(boxes.Messages[0].Text, "kelvo Ver. 0.32 beta");
}

TEST(MainWindow, MenuCaptionsAndInertItems)
{
    TestFolder folder;
    folder.Write("kelvo.ini", Ini("0"));
    MessageRecorder boxes;
    UrlCatcher urls;
    Window w;
    QStringList captions;
    for (QAction *menu : w.main.menuBar()->actions()) {
        captions << menu->text();
        for (QAction *item : menu->menu()->actions())
            captions << (item->isSeparator() ? QStringLiteral("-") : item->text());
    }
    EXPECT_EQ(captions,
              QStringList({QStringLiteral("ファイル (&F)"), QStringLiteral("メールの新規作成"), "-",
                           QStringLiteral("画像を開く"), QStringLiteral("画像の保存"), QStringLiteral("メール (&M)"),
                           QStringLiteral("メールの送信"), "-", QStringLiteral("アドレス帳 (&A)"),
                           QStringLiteral("エフェクト (&E)"), QStringLiteral("画像のグレースケール化"),
                           QStringLiteral("その他 (&O)"), QStringLiteral("ヘルプの参照"), QStringLiteral("最新版Get"),
                           "-", QStringLiteral("kelvoの設定"), "-", QStringLiteral("バージョン情報")}));
    EXPECT_FALSE(w.main.findChild<QAction *>("mnuOpen")->isEnabled());
    EXPECT_EQ(w.main.findChild<QAction *>("acSend")->shortcut(), QKeySequence("Ctrl+M"));

    // New mail, open and help do nothing, chosen or by their shortcuts.
    const QString subject = w.main.findChild<QLineEdit *>("txtSubject")->text();
    for (const char *name : {"acNEW", "mnuOpen", "acOpen", "acHelp"})
        w.main.findChild<QAction *>(name)->trigger();
    QSignalSpy newMail(w.main.findChild<QAction *>("acNEW"), &QAction::triggered);
    QSignalSpy help(w.main.findChild<QAction *>("acHelp"), &QAction::triggered);
    w.main.activateWindow();
    for (int key : {Qt::Key_N, Qt::Key_O, Qt::Key_H})
        QTest::keyClick(&w.main, Qt::Key(key), Qt::ControlModifier);
    QTest::qWait(10);
    EXPECT_EQ(newMail.count(), 1); // the shortcuts did reach the actions
    EXPECT_EQ(help.count(), 1);
    EXPECT_TRUE(boxes.Messages.isEmpty());
    EXPECT_TRUE(urls.Opened.isEmpty());
    EXPECT_EQ(w.settei.Shown + w.address.Shown, 0);
    EXPECT_EQ(w.main.findChild<QLineEdit *>("txtSubject")->text(), subject);

    // The dialogs open from their commands; the web command opens the home page.
    w.main.findChild<QAction *>("acSettei")->trigger();
    w.main.findChild<QAction *>("mnuAddress")->trigger();
    w.main.findChild<QWidget *>("SpeedButton1")
        ->metaObject()
        ->invokeMethod(w.main.findChild<QWidget *>("SpeedButton1"), "click");
    EXPECT_EQ(w.settei.Shown, 1);
    EXPECT_EQ(w.address.Shown, 2);
    w.main.findChild<QAction *>("acWeb")->trigger();
    ASSERT_EQ(urls.Opened.size(), 1);
    EXPECT_EQ(urls.Opened[0], QUrl(HomePageAddress));
}

TEST(MainWindow, FirstRunOpensTheSettingsAndLeavesNoCounter)
{
    TestFolder folder;
    MessageRecorder boxes;
    Window w;
    EXPECT_EQ(w.settei.Shown, 1);
    EXPECT_FALSE(QFile::exists(folder.File("kelvo.ini")));
    EXPECT_TRUE(boxes.Messages.isEmpty());
}

TEST(MainWindow, LaunchCounter)
{
    struct Row
    {
        QByteArray stored, written;
        bool asks;
    } rows[] = {{"0", "1", false}, {"3", "4", false}, {"4", "1", true}, {"7", "8", false}, {"-1", "0", false}};
    for (const Row &row : rows) {
        TestFolder folder;
        folder.Write("kelvo.ini", Ini(row.stored));
        MessageRecorder boxes;
        boxes.Answer(MsgResult::Yes);
        UrlCatcher urls;
        Window w;
        EXPECT_EQ(w.settei.Shown, 0);
        EXPECT_TRUE(folder.Read("kelvo.ini").startsWith("[web]\r\nkai=" + row.written + "\r\n")) << row.stored.data();
        EXPECT_EQ(w.main.Settings.LaunchCount, row.stored.toInt() + 1);
        EXPECT_EQ(w.main.Settings.SmtpHost, "h");
        EXPECT_EQ(w.main.DestinationText(), "d@e.f");
        EXPECT_EQ(w.main.Settings.DotSize, 95);
        if (row.asks) {
            ASSERT_EQ(boxes.Messages.size(), 1);
            EXPECT_EQ(boxes.Messages[0].Kind, MsgKind::Plain);
            EXPECT_EQ(boxes.Messages[0].Caption, ApplicationTitle());
            EXPECT_EQ(boxes.Messages[0].Text, QStringLiteral("kelvoの最新版探しに行きますか？"));
            EXPECT_EQ(boxes.Messages[0].Buttons, MsgButtons::YesNo);
            EXPECT_EQ(urls.Opened.size(), 1);
        } else {
            EXPECT_TRUE(boxes.Messages.isEmpty()) << row.stored.data();
            EXPECT_TRUE(urls.Opened.isEmpty());
        }
    }
}

TEST(MainWindow, BadNumberStopsTheShowingWithTheErrorBox)
{
    TestFolder folder;
    QByteArray ini = Ini("3");
    ini.replace("rfsize=0", "rfsize=big");
    folder.Write("kelvo.ini", ini);
    MessageRecorder boxes;
    Window w;
    ASSERT_EQ(boxes.Messages.size(), 1);
    EXPECT_EQ(boxes.Messages[0].Kind, MsgKind::Error);
    EXPECT_EQ(boxes.Messages[0].Caption, "kelvo");
    EXPECT_EQ(boxes.Messages[0].Text, QStringLiteral("'big' は数値ではありません"));
    // What came before stays loaded; the counter is not reached.
    EXPECT_EQ(w.main.Settings.UserId, "i");
    EXPECT_EQ(w.main.Settings.DotSize, 120);
    EXPECT_TRUE(folder.Read("kelvo.ini").startsWith("[web]\r\nkai=3\r\n"));
}

} // namespace

#include "MainWindow_test.moc"
