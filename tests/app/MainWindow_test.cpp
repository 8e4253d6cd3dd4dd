#include "TestWindow.h"

#include <QClipboard>
#include <QDropEvent>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>

namespace {

TEST(MainWindow, FirstShowing)
{
    const struct
    {
        const char *kai, *port, *written, *box;
        int dots;
    } rows[] = {
        {nullptr, "25", nullptr, nullptr, 120}, // first run: the settings dialog, no file
        {"3", "25", "4", nullptr, 95},
        {"4", "25", "1", "kelvoの最新版探しに行きますか？", 95}, // answered No
        {"7", "25", "8", nullptr, 95},
        {"3", "x", "3", "'x' は数値ではありません", 120}, // the showing stops at the bad number
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.kai ? row.kai : "no file");
        QByteArray ini = KelvoIni().replace("kai=0", QByteArray("kai=") + row.kai);
        TestWindow w(row.kai ? ini.replace("Port=25", QByteArray("Port=") + row.port) : "");
        EXPECT_EQ(w.settei.Shown, row.kai ? 0 : 1);
        EXPECT_EQ(w.folder.Read("kelvo.ini").mid(11, 1), QByteArray(row.written));
        EXPECT_EQ(w.boxes.Texts(), row.box ? QStringList(QString::fromUtf8(row.box)) : QStringList());
        EXPECT_EQ(w.main.Settings.DotSize, row.dots);
    }
    // The commands that open the dialogs and the version box.
    TestWindow w;
    w.Trigger("acSettei");
    w.Trigger("mnuAddress");
    w.Trigger("mnuVersion");
    w.Child<QToolButton>("SpeedButton1")->click();
    EXPECT_EQ(w.settei.Shown * 10 + w.address.Shown, 12);
    EXPECT_EQ(w.boxes.Texts(), QStringList("kelvo Ver. 0.32 beta"));
}

// The body box's 1000 characters hold for whatever the user types (tabs and line breaks
// too), pastes or commits from an input method, and no character is cut in two.
TEST(MainWindow, BodyBoxLimit)
{
    TestWindow w;
    auto *body = w.Child<QPlainTextEdit>("txtBody");
    const QString emoji = QStringLiteral("😀");
    const struct
    {
        int start;
        char how; // k: keys, p: paste, i: input method
        QString input, added;
    } rows[] = {
        {998, 'k', "abc", "ab"},      {999, 'k', "\t\t", "\t"},         {999, 'k', "\r\r", "\n"},
        {998, 'p', "x" + emoji, "x"}, {998, 'p', "\r\n" + emoji, "\n"}, {999, 'i', emoji, ""},
    };
    for (const auto &row : rows) {
        body->setPlainText(QString(row.start, 'a'));
        body->moveCursor(QTextCursor::End);
        QInputMethodEvent commit;
        commit.setCommitString(row.input);
        QGuiApplication::clipboard()->setText(row.input);
        if (row.how == 'k')
            QTest::keyClicks(body, row.input);
        else if (row.how == 'p')
            body->paste();
        else
            QCoreApplication::sendEvent(body, &commit);
        EXPECT_EQ(body->toPlainText().mid(row.start), row.added) << row.how << row.start;
        EXPECT_EQ(body->toPlainText().left(row.start), QString(row.start, 'a'));
    }
}

// As the platform does: the drag enters, then it is dropped, with the paths offered as
// text as well (file managers do).
void Drop(QWidget *target, const QStringList &paths)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls.append(QUrl::fromLocalFile(p));
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
    Drop(w.Child<QPlainTextEdit>("txtBody")->viewport(), {w.Picture("onbox.jpg", 64, 48)});
    EXPECT_EQ(w.Shown().size(), QSize(120, 90));
    EXPECT_TRUE(w.Child<QPlainTextEdit>("txtBody")->toPlainText().isEmpty());
    // A bad file ends the drop with the error box; a .jpg has already emptied the preview.
    for (const char *name : {"cut.bmp", "cut.jpeg", "cut.jpg"}) {
        w.folder.Write(name, w.folder.Read("onbox.jpg").left(300));
        Drop(&w.main, {w.folder.File(name), w.Picture("after.jpg", 30, 60)});
        EXPECT_EQ(w.Shown().isNull(), QByteArray(name).endsWith(".jpg")) << name;
    }
    EXPECT_EQ(w.boxes.Messages.size(), 5);
    EXPECT_EQ(w.boxes.Messages[4].Kind, MsgKind::Error);
}

TEST(MainWindow, GreyAndSave)
{
    TestWindow w;
    w.Trigger("acGray");
    w.Trigger("acSave");
    EXPECT_EQ(w.boxes.Texts(), QStringList({QStringLiteral("画像が読み込まれていないのでグレースケール化できません。"),
                                            QStringLiteral("画像が読み込まれていないので保存できません。")}));
    w.main.DropFiles({w.Picture("colour.jpg", 640, 480)});
    w.Trigger("acGray");
    EXPECT_TRUE(w.Shown().allGray());
    // Saved as it would be mailed.
    w.main.AskSavePath = [&w] { return w.folder.File("saved.jpeg"); };
    w.Trigger("acSave");
    EXPECT_LE(w.folder.Read("saved.jpeg").size(), 4800);
    EXPECT_EQ(DecodeJpeg(w.folder.Read("saved.jpeg")).size(), QSize(95, 71));
}

} // namespace
