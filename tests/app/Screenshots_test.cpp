// Pictures of the main window for the README, taken while a mail goes out. Not part of
// the suite (disabled); run on a real screen or under Xvfb:
//
//   QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" build/tests/app_tests
//       --gtest_also_run_disabled_tests --gtest_filter='Screenshots.*'
//
// They are written to docs/send-in-progress.png and docs/send-done.png.
#include "app/MainWindow.h"

#include "imaging/Pipeline.h"
#include "platform/MsgBox.h"

#include "support/SmtpSink.h"
#include "support/TestFolder.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <cmath>

#include <gtest/gtest.h>

TEST(Screenshots, DISABLED_SendInProgressAndDone)
{
    SmtpSink sink;
    ASSERT_NE(sink.Port(), 0);
    TestFolder folder;
    // The user's own size, 240 dots, and the 100 KB limit: the mail goes out in several
    // packets, so the progress shows part of the way.
    folder.Write("kelvo.ini", "[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@example.jp\r\nPort=" +
                                  QByteArray::number(sink.Port()) +
                                  "\r\nSMTP=127.0.0.1\r\nID=taro\r\nDest=hanako@example.jp\r\n[keitai]\r\n"
                                  "dotsettei=2\r\nsiteidot=240\r\nrfsize=2\r\n[Koukoku]\r\nflg=1\r\n");
    MessageRecorder boxes;
    MainWindow main;
    main.show();
    QTest::qWait(200);

    QImage photo(800, 600, QImage::Format_BGR888);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const double sky = std::min(1.0, y / 360.0);
            const bool hill = y > 380 + 60 * std::sin(x / 90.0);
            const QRgb c = hill ? qRgb(60 + (x * y) % 40, 140 + (x % 50), 50)
                                : qRgb(int(90 + 120 * sky), int(150 + 80 * sky), 235);
            photo.setPixel(x, y, c);
        }
    SaveJpeg(photo, folder.File("photo.jpg"), 95);
    main.DropFiles({folder.File("photo.jpg")});
    main.findChild<QLineEdit *>("txtSubject")->setText(QStringLiteral("週末の写真"));
    main.findChild<QPlainTextEdit *>("txtBody")->setPlainText(
        QStringLiteral("山の上から撮りました。\nまた行きましょう。"));

    const QString docs = QStringLiteral(KELVO_SOURCE_DIR "/docs/");
    int packets = 0;
    const TNotifyEvent shown = main.NMSMTP1->OnPacketSent;
    main.NMSMTP1->OnPacketSent = [&](QObject *sender) {
        shown(sender);
        if (++packets == 1) {
            QCoreApplication::processEvents();
            EXPECT_TRUE(main.grab().save(docs + "send-in-progress.png"));
        }
    };
    main.findChild<QAction *>("acSend")->trigger();
    EXPECT_TRUE(boxes.Messages.isEmpty()) << boxes.Texts().join("|").toStdString();
    EXPECT_GE(packets, 2);
    QTest::qWait(100);
    EXPECT_TRUE(main.grab().save(docs + "send-done.png"));
}
