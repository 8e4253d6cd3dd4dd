#include "app/MainWindow.h"

#include "imaging/Pipeline.h"
#include "platform/MsgBox.h"

#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

const QString Unsupported = QStringLiteral("このファイルタイプには対応しておりません。");

QImage Colourful(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x + y) % 256));
    return image;
}

struct Fixture
{
    Fixture()
    {
        // A settings file keeps the first showing from opening the settings dialog.
        folder.Write("kelvo.ini", "[web]\r\nkai=0\r\n[smtp]\r\nPort=25\r\n[keitai]\r\ndotsettei=0\r\nrfsize=0\r\n"
                                  "[Koukoku]\r\nflg=2\r\n");
        main.show();
        QTest::qWait(10);
        EXPECT_EQ(main.Settings.DotSize, 95);
    }
    QString Jpeg(const QString &name, int w, int h)
    {
        SaveJpeg(Colourful(w, h).convertToFormat(QImage::Format_BGR888), folder.File(name), 90);
        return folder.File(name);
    }
    QString Bmp(const QString &name, int w, int h)
    {
        EXPECT_TRUE(Colourful(w, h).save(folder.File(name), "BMP"));
        return folder.File(name);
    }
    QString Bytes(const QString &name, const QByteArray &bytes)
    {
        folder.Write(name, bytes);
        return folder.File(name);
    }
    void Drop(const QStringList &paths, QWidget *target = nullptr)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString &p : paths)
            urls.append(QUrl::fromLocalFile(p));
        data.setUrls(urls);
        // File managers offer the paths as text as well.
        QStringList text;
        for (const QUrl &url : urls)
            text.append(url.toString());
        data.setText(text.join(QLatin1Char('\n')));
        // As the platform does: the drag enters the window, then it is dropped.
        QDragEnterEvent enter(QPoint(200, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target ? target : &main, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(200, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target ? target : &main, &drop);
    }
    QSize Held() const { return main.HeldPicture().size(); }
    QSize Shown() const { return main.findChild<QLabel *>("PicData")->size(); }

    TestFolder folder;
    MessageRecorder boxes;
    MainWindow main;
};

TEST(PictureIntake, FirstMatchingPathWinsInDropOrder)
{
    Fixture f;
    f.Drop({f.Bytes("notes.txt", "hello"), f.Jpeg("photo.JpG", 640, 480)});
    EXPECT_TRUE(f.boxes.Messages.isEmpty()) << f.boxes.Texts().join("|").toStdString();
    EXPECT_EQ(f.Held(), QSize(95, 71));
    EXPECT_EQ(f.Shown(), QSize(95, 71));
    EXPECT_EQ(f.main.HeldPicture().format(), QImage::Format_BGR888);

    // A .bmp then a .jpeg: only the first is loaded (a portrait bitmap, a landscape JPEG).
    f.Drop({f.Bmp("tall.bmp", 30, 60), f.Jpeg("wide.jpeg", 200, 100)});
    EXPECT_EQ(f.Held(), QSize(47, 95));

    // A .gif alone is not supported and the picture stays; so is an empty drop.
    f.Drop({f.Bytes("anim.gif", "GIF89a")});
    f.Drop({});
    EXPECT_EQ(f.boxes.Texts(), QStringList({Unsupported, Unsupported}));
    EXPECT_EQ(f.boxes.Messages[0].Kind, MsgKind::Warning);
    EXPECT_EQ(f.Held(), QSize(47, 95));

    // A .jpe is never opened, whatever it holds; a folder named like a JPEG is no file.
    f.boxes.Clear();
    QDir(f.folder.Path()).mkdir("folder.jpg");
    f.Drop({f.Jpeg("x.jpe", 10, 10), f.folder.File("folder.jpg")});
    EXPECT_EQ(f.boxes.Texts(), QStringList({Unsupported}));
    EXPECT_EQ(f.Held(), QSize(47, 95));
}

TEST(PictureIntake, DropsOnTheEditBoxesReachTheWindow)
{
    Fixture f;
    // A file manager offers the path as text too; the boxes must not take it as such.
    for (const char *box : {"txtBody", "txtSubject", "DestCombo"}) {
        QWidget *target = f.main.findChild<QWidget *>(box);
        if (auto *body = qobject_cast<QPlainTextEdit *>(target))
            target = body->viewport();
        f.main.DropFiles({});
        f.boxes.Clear();
        f.Drop({f.Jpeg("onbox.jpg", 64, 48)}, target);
        EXPECT_EQ(f.Held(), QSize(95, 71)) << box;
        EXPECT_TRUE(f.boxes.Messages.isEmpty()) << box;
    }
    EXPECT_TRUE(f.main.findChild<QPlainTextEdit *>("txtBody")->toPlainText().isEmpty());
    EXPECT_EQ(f.main.findChild<QLineEdit *>("txtSubject")->text(), "Message from kelvo Ver. 0.32 beta");
}

TEST(PictureIntake, DotSizeInForceAtTheDropDecides)
{
    Fixture f;
    f.main.Settings.DotSize = 220;
    f.Drop({f.Jpeg("small.jpg", 40, 30)});
    EXPECT_EQ(f.Held(), QSize(220, 165));
    f.main.Settings.DotSize = 95;
    EXPECT_EQ(f.Held(), QSize(220, 165)); // a held picture is not resized
    // A panorama whose shorter side would compute to 0 gets 1 row.
    f.Drop({f.Bmp("pano.bmp", 3000, 10)});
    EXPECT_EQ(f.Held(), QSize(95, 1));
}

TEST(PictureIntake, LongPathsAreUsedWhole)
{
    Fixture f;
    // Past 254 characters: a cut path would name another file or none.
    QString dir = f.folder.Path();
    while (dir.size() < 300)
        dir += QStringLiteral("/a-rather-long-folder-name");
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString path = dir + QStringLiteral("/picture.jpg");
    SaveJpeg(Colourful(100, 50).convertToFormat(QImage::Format_BGR888), path, 90);
    f.Drop({path});
    EXPECT_TRUE(f.boxes.Messages.isEmpty()) << f.boxes.Texts().join("|").toStdString();
    EXPECT_EQ(f.Held(), QSize(95, 47));
}

TEST(PictureIntake, BadFilesShowAnErrorAndKeepThePreviewAsTheirExtensionSays)
{
    Fixture f;
    const QByteArray jpeg = f.folder.Read(QFileInfo(f.Jpeg("good.jpg", 64, 48)).fileName());
    const QByteArray bmp = f.folder.Read(QFileInfo(f.Bmp("good.bmp", 64, 48)).fileName());
    struct Row
    {
        const char *name;
        QByteArray bytes;
        bool previewKept;
    } rows[] = {
        {"cut.jpg", jpeg.left(jpeg.size() / 2), false},
        {"zero.jpg", QByteArray(), false},
        {"bitmap.jpg", bmp, false},
        {"cut.jpeg", jpeg.left(jpeg.size() / 2), true},
        {"garbage.JPEG", QByteArray(500, '\x7f'), true},
        {"cut.bmp", bmp.left(60), true},
        {"zero.BMP", QByteArray(), true},
        {"jpeg.bmp", jpeg, true},
    };
    for (const Row &row : rows) {
        f.Drop({f.Jpeg("before.jpg", 60, 30)});
        ASSERT_EQ(f.Held(), QSize(95, 47));
        f.boxes.Clear();
        // A bad file ends the drop: the good file after it is not tried.
        f.Drop({f.Bytes(row.name, row.bytes), f.Jpeg("after.jpg", 30, 60)});
        ASSERT_EQ(f.boxes.Messages.size(), 1) << row.name;
        EXPECT_EQ(f.boxes.Messages[0].Kind, MsgKind::Error) << row.name;
        EXPECT_FALSE(f.boxes.Messages[0].Text.isEmpty());
        if (row.previewKept) {
            EXPECT_EQ(f.Held(), QSize(95, 47)) << row.name;
        } else {
            EXPECT_FALSE(f.main.PicturePresent()) << row.name;
            EXPECT_EQ(f.Shown(), QSize(0, 0)) << row.name;
        }
    }
}

TEST(PictureCommands, GreyAndSaveWithoutAPicture)
{
    Fixture f;
    QString asked;
    f.main.AskSavePath = [&] { return asked = "asked"; };
    f.main.findChild<QAction *>("acGray")->trigger();
    f.main.findChild<QAction *>("acSave")->trigger();
    EXPECT_EQ(f.boxes.Texts(), QStringList({QStringLiteral("画像が読み込まれていないのでグレースケール化できません。"),
                                            QStringLiteral("画像が読み込まれていないので保存できません。")}));
    EXPECT_EQ(f.boxes.Messages[0].Kind, MsgKind::Information);
    EXPECT_EQ(f.boxes.Messages[1].Caption, QStringLiteral("情報"));
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_FALSE(f.main.PicturePresent());
}

TEST(PictureCommands, GreyKeepsTheSizeAndRepeatsToTheSamePicture)
{
    Fixture f;
    f.Drop({f.Jpeg("colour.jpg", 300, 200)});
    f.main.findChild<QAction *>("acGray")->trigger();
    const QImage once = f.main.HeldPicture();
    EXPECT_EQ(once.format(), QImage::Format_Indexed8);
    EXPECT_EQ(once.size(), QSize(95, 63));
    EXPECT_EQ(once.colorTable(), MakeGreyPalette(255));
    f.main.findChild<QAction *>("acGray")->trigger();
    EXPECT_EQ(f.main.HeldPicture(), once);
    EXPECT_TRUE(f.boxes.Messages.isEmpty());
}

TEST(PictureCommands, SaveWritesThePictureAsItWouldBeMailed)
{
    Fixture f;
    f.Drop({f.Jpeg("colour.jpg", 640, 480)});
    const QString target = f.folder.File("saved.jpeg");
    f.main.AskSavePath = [&] { return target; };
    f.main.findChild<QAction *>("acSave")->trigger();
    const QByteArray saved = f.folder.Read("saved.jpeg");
    ASSERT_FALSE(saved.isEmpty());
    EXPECT_LE(saved.size(), f.main.Settings.SizeLimit);
    EXPECT_EQ(DecodeJpeg(saved).size(), QSize(95, 71));

    // Cancelling the dialog writes nothing; a folder in the way shows the file error.
    f.main.AskSavePath = [] { return QString(); };
    f.main.findChild<QAction *>("acSave")->trigger();
    EXPECT_TRUE(f.boxes.Messages.isEmpty());
    QDir(f.folder.Path()).mkdir("blocked.jpeg");
    f.main.AskSavePath = [&] { return f.folder.File("blocked.jpeg"); };
    f.main.findChild<QAction *>("acSave")->trigger();
    ASSERT_EQ(f.boxes.Messages.size(), 1);
    EXPECT_EQ(f.boxes.Messages[0].Kind, MsgKind::Error);
}

} // namespace
