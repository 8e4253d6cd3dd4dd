#pragma once

#include "app/MainWindow.h"
#include "imaging/Pipeline.h"
#include "platform/MsgBox.h"
#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

// Settings that show the main window without the first-run dialog: pictures fitted to
// 95 dots, the 4800-byte limit, no footer, the server `host` at `port`.
inline QByteArray KelvoIni(quint16 port = 25, const QByteArray &host = "127.0.0.1")
{
    return "[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@example.jp\r\nID=kelvo\r\nSMTP=" + host +
           "\r\nPort=" + QByteArray::number(port) + "\r\n[keitai]\r\ndotsettei=0\r\nrfsize=0\r\n[Koukoku]\r\nflg=2\r\n";
}

// Stands in for a dialog: counts its modal showings.
struct CountingDialog : QDialog
{
    int exec() override { return ++Shown, QDialog::Rejected; }
    int Shown = 0;
};

// The main window in a fresh program folder that holds `ini` (no file when it is
// empty), shown, its first showing done. Message boxes are recorded and answered with
// `answers`; status texts are collected with the progress bar's value at each.
struct TestWindow
{
    explicit TestWindow(const QByteArray &ini = KelvoIni(), QList<MsgResult> answers = {})
    {
        if (!ini.isEmpty())
            folder.Write("kelvo.ini", ini);
        for (MsgResult answer : answers)
            boxes.Answer(answer);
        QObject::connect(&main, &MainWindow::StatusChanged, [this](const QString &t) {
            statuses.append(t);
            progress.append(main.ProgressBar->value());
        });
        main.SetDialogs(&settei, &address);
        main.show();
        QTest::qWait(20); // the first showing runs from the event loop
    }
    template <class T = QWidget> T *Child(const char *name) { return main.findChild<T *>(name); }
    void Trigger(const char *action) { Child<QAction>(action)->trigger(); }
    QImage Shown() { return Child<QLabel>("PicData")->pixmap().toImage(); }
    // A colourful picture in the folder, a BMP or a JPEG as its name says.
    QString Picture(const QString &name, int w, int h)
    {
        QImage image(w, h, QImage::Format_BGR888);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.setPixel(x, y, qRgb((x * 7) % 256, (y * 3) % 256, (x ^ y) % 256));
        if (name.endsWith(".bmp"))
            EXPECT_TRUE(image.save(folder.File(name), "BMP"));
        else
            SaveJpeg(image, folder.File(name), 90);
        return folder.File(name);
    }
    void Send(const QString &subject, const QString &dest, const QString &body)
    {
        Child<QLineEdit>("txtSubject")->setText(subject);
        Child<QComboBox>("DestCombo")->setEditText(dest);
        Child<QPlainTextEdit>("txtBody")->setPlainText(body);
        Trigger("acSend");
    }

    TestFolder folder;
    MessageRecorder boxes;
    CountingDialog settei, address;
    MainWindow main;
    QStringList statuses;
    QList<int> progress;
};
