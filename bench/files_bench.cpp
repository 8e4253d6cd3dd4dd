// kelvo.ini and address.dat at the sizes their readers allow, and the damaged files a review
// found slow, each read as a start reads it; offscreen. Prints the time (median of the rounds)
// and, at the end, the peak memory of the process.
//
//   files_bench [rounds]
#include "platform/MsgBox.h"
#include "platform/ProgramFolder.h"
#include "settings/AddressBookDialog.h"
#include "settings/AddressFile.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <sys/resource.h>

namespace {

const QByteArray KelvoKeys = "[web]\r\nkai=2\r\n[smtp]\r\nname=taro\r\nFromAddress=taro@example.jp\r\nPort=25\r\n"
                             "SMTP=mail.example.jp\r\nID=taro\r\nDest=hanako@example.jp\r\n[keitai]\r\ndotsettei=0\r\n"
                             "rfsize=0\r\n[Koukoku]\r\nflg=1\r\n";

// Sections of one key each, as many as fit before kelvo's keys in `size` bytes.
QByteArray ManySmallSections(qsizetype size)
{
    QByteArray file;
    for (int i = 0; file.size() + 24 + KelvoKeys.size() <= size; ++i)
        file += "[s" + QByteArray::number(i) + "]\r\nk=v\r\n";
    return file + KelvoKeys;
}

QByteArray Le32(quint32 v)
{
    return QByteArray(1, char(v)) + char(v >> 8) + char(v >> 16) + char(v >> 24);
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

// address.dat whose Items.Data block declares `count` entries in `size` bytes of records that
// start with `first` and are zero bytes after it; written without holding it in memory.
void WriteBook(const QString &path, quint32 count, const QByteArray &first, qint64 size)
{
    const QByteArray head = "TPF0\x09TListView\x0b"
                            "AddressList\x0aItems.Data\x0a" +
                            Le32(quint32(8 + size)) + Le32(quint32(8 + size)) + Le32(count) + first;
    Write(path, head);
    QFile file(path);
    // The zero records, and the two zero bytes that end the properties and the objects.
    if (!file.resize(head.size() - first.size() + size + 2))
        std::fprintf(stderr, "cannot grow %s\n", qPrintable(path));
}

void PrintPeak()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory so far: %ld MB\n", usage.ru_maxrss / 1024);
}

void Measure(const char *what, int rounds, const std::function<void()> &run)
{
    std::vector<double> times;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        run();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("%-58s %9.1f ms\n", what, times[times.size() / 2]);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTemporaryDir dir;
    SetProgramFolder(dir.path());
    QDir::setCurrent(dir.path());
    MessageRecorder boxes;

    Write(dir.filePath("kelvo.ini"), ManySmallSections(1024 * 1024));
    Measure("kelvo.ini of 1 MiB, 73,000 sections before kelvo's: load", rounds, [] {
        MainSettings settings;
        LoadSettings(settings, {});
    });

    // The most entries the largest book can declare: records of 21 zero bytes, no sub-items.
    const quint32 most = quint32((2 * 1024 * 1024 - 64) / 21);
    WriteBook(dir.filePath("address.dat"), most, {}, qint64(most) * 21);
    Measure("address.dat of 2 MiB, 99,800 empty entries: read and show", rounds, [] { AddressBookDialog dialog({}); });
    PrintPeak();
    // A book of the largest size whose one entry declares a sub-item for each byte left, and the
    // review's file: 52 million of them in 52 MB.
    const auto oneEntry = [&](quint32 subItems) {
        WriteBook(dir.filePath("address.dat"), 1, Le32(0) + Le32(~0u) + Le32(~0u) + Le32(subItems) + Le32(0),
                  21 + qint64(subItems));
    };
    oneEntry(quint32(2 * 1024 * 1024 - 100));
    Measure("address.dat of 2 MiB, an entry of 2 million sub-items: read", rounds,
            [] { AddressBookDialog dialog({}); });
    oneEntry(52'000'000);
    Measure("address.dat of 52 MB, an entry of 52 million sub-items: read", rounds,
            [] { AddressBookDialog dialog({}); });
    PrintPeak();
    return 0;
}
