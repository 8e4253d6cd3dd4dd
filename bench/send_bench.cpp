// The whole send through the main window, offscreen: a JPEG dropped, then the send
// command to a local aiosmtpd, once for each carrier limit (4800, 10800, 100000 bytes),
// with the time split into its stages by the status texts the window shows.
//
//   send_bench [photo.jpg] [rounds]
//
// Without a file it makes a photo-like 4000 x 3000 (12-megapixel) JPEG first.
#include "app/MainWindow.h"
#include "imaging/Pipeline.h"
#include "platform/MsgBox.h"
#include "platform/ProgramFolder.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace {

QImage PhotoLike(int w, int h)
{
    QImage image(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const double fx = double(x) / w, fy = double(y) / h;
            row[3 * x] = uchar(127 + 120 * std::sin(fx * 9 + fy * 4));
            row[3 * x + 1] = uchar(127 + 120 * std::sin(fy * 13 - fx * 3));
            row[3 * x + 2] = uchar((x * 7 + y * 3 + (x ^ y)) & 255);
        }
    }
    return image;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double ElapsedMs(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

constexpr int StageCount = 7;
const char *const Stages[StageCount] = {"drop (decode + fit)",
                                        "prepare + encode under limit",
                                        "connect + HELO",
                                        "compose",
                                        "RSET .. DATA, text, final reply",
                                        "QUIT + close",
                                        "whole send"};

// kelvo.ini for a send to the sink at port, with the carrier limit chosen by option.
void WriteSettings(const QString &path, const QByteArray &port, int option)
{
    QFile ini(path);
    ini.open(QIODevice::WriteOnly);
    ini.write("[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@example.jp\r\nPort=" + port +
              "\r\nSMTP=127.0.0.1\r\nID=kelvo\r\nDest=hanako@example.jp\r\n[keitai]\r\ndotsettei=0\r\n"
              "rfsize=" +
              QByteArray::number(option) + "\r\n[Koukoku]\r\nflg=2\r\n");
}

struct SendTimes
{
    double Stage[StageCount] = {};
    int MessageBytes = 0;
};

// One drop and send through a fresh window, timed by the status texts it shows.
SendTimes TimeOneSend(const QString &photo)
{
    MainWindow main;
    main.show();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    main.smtpClient->ReportLevel = 8; // "Connecting" marks the end of the preparation
    QElapsedTimer clock;
    std::vector<std::pair<double, QString>> marks;
    QObject::connect(&main, &MainWindow::StatusChanged,
                     [&](const QString &t) { marks.emplace_back(ElapsedMs(clock), t); });
    clock.start();
    main.DropFiles({photo});
    const double dropped = ElapsedMs(clock);
    main.findChild<QAction *>("sendAction")->trigger();
    const double end = ElapsedMs(clock);
    const auto at = [&](const QString &text) {
        for (const auto &[t, s] : marks)
            if (s == text)
                return t;
        return -1.0;
    };
    const double points[] = {0,
                             dropped,
                             at("Connecting"),
                             at(QStringLiteral("サーバに接続しました。")),
                             at(QStringLiteral("送信開始")),
                             at(QStringLiteral("送信成功")),
                             at(QStringLiteral("サーバから切断しました。"))};
    SendTimes times;
    for (int s = 0; s < StageCount - 1; ++s)
        times.Stage[s] = points[s + 1] - points[s];
    times.Stage[StageCount - 1] = end - dropped;
    times.MessageBytes = main.smtpClient->TotalBytes;
    return times;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir work;
    SetProgramFolder(work.path());
    QDir::setCurrent(work.path());

    QString photo = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    if (photo.isEmpty()) {
        photo = work.filePath("photo-12mp.jpg");
        SaveJpeg(PhotoLike(4000, 3000), photo, 90);
    }
    std::printf("picture: %s (%lld bytes)\n", qPrintable(photo), QFileInfo(photo).size());

    QProcess sink;
    sink.start("/usr/bin/python3", {QStringLiteral(KELVO_SOURCE_DIR "/tests/support/smtp_sink.py"),
                                    QStringLiteral("serve"), work.filePath("mail")});
    QDir().mkpath(work.filePath("mail"));
    if (!sink.waitForReadyRead(20000)) {
        std::fprintf(stderr, "aiosmtpd did not start: %s\n", sink.readAllStandardError().constData());
        return 1;
    }
    const QByteArray port = sink.readLine().trimmed().mid(5);

    MessageRecorder boxes; // a box would stop the run; none is expected
    for (const auto &[option, limit] : std::map<int, int>{{0, 4800}, {1, 10800}, {2, 100000}}) {
        std::vector<double> times[StageCount];
        SendTimes last;
        for (int round = 0; round < rounds; ++round) {
            WriteSettings(work.filePath("kelvo.ini"), port, option);
            last = TimeOneSend(photo);
            for (int s = 0; s < StageCount; ++s)
                times[s].push_back(last.Stage[s]);
            if (!boxes.Messages.isEmpty()) {
                std::fprintf(stderr, "a box came up: %s\n", qPrintable(boxes.Texts().join(" | ")));
                return 1;
            }
        }
        const int size = int(QFileInfo(work.filePath("kelvo.jpg")).size());
        std::printf("\nlimit %d bytes: attachment %d bytes, message body %d bytes (median of %d)\n", limit, size,
                    last.MessageBytes, rounds);
        for (int s = 0; s < StageCount; ++s)
            std::printf("  %-30s %9.2f ms\n", Stages[s], Median(times[s]));
    }
    sink.closeWriteChannel();
    sink.waitForFinished(5000);
    return 0;
}
