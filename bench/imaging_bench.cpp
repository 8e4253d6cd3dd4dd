// Imaging bench: how long a dropped picture takes to reach the preview, to be greyed and
// to be encoded under the carriers' limits, beside djpeg or heif-convert decoding the
// same file.
//
//   imaging_bench gen WIDTH HEIGHT OUT.jpg [ORIENTATION [p3]]
//                                          writes a photo-like test JPEG (quality 90), with
//                                          an EXIF orientation tag when one is given, and
//                                          tagged with a Display P3 profile with "p3"
//   imaging_bench run [-r ROUNDS] FILE...  times the pipeline on each file
//   imaging_bench compare [-r ROUNDS] A B  times the drops of two files, interleaved; a
//                                          drop that is refused is timed to its refusal
//   imaging_bench peak [whole] FILE        one drop, and the peak memory it adds to the
//                                          process; with "whole", the picture decoded
//                                          whole and then fitted, as before rows were
//                                          streamed
//
// "run" interleaves its own drop (LoadPicture: decode, turn upright, fit to 95 dots) with
// `djpeg -bmp -outfile /dev/null FILE` for a JPEG, or with `heif-convert FILE OUT.y4m`
// and `heif-convert FILE OUT.jpg` for a HEIC file, one after the other in every round,
// and reports the median of each and their ratio. The tools' times are measured around
// the whole process, start-up included (about a millisecond).
#include "imaging/ColourProfile.h"
#include "imaging/PictureIntake.h"
#include "imaging/Pipeline.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

double Milliseconds(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// CPU time of this process (libheif decodes on threads of its own): what the work costs,
// whatever else the machine runs.
double CpuMilliseconds(const std::function<void()> &work, int who = RUSAGE_SELF)
{
    rusage before{}, after{};
    getrusage(who, &before);
    work();
    getrusage(who, &after);
    auto ms = [](const rusage &u) {
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
               double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
    };
    return ms(after) - ms(before);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The pages this process holds now, from /proc/self/statm.
long ResidentKilobytes()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// Smooth light and shade, a few hard edges and sensor-like noise: compresses about as a
// photo does, so decode times are representative.
QImage PhotoLike(int w, int h)
{
    QImage picture(w, h, QImage::Format_BGR888);
    quint32 noise = 12345;
    for (int y = 0; y < h; ++y) {
        uchar *row = picture.scanLine(y);
        const double fy = double(y) / h;
        for (int x = 0; x < w; ++x) {
            const double fx = double(x) / w;
            noise = noise * 1664525u + 1013904223u;
            const int n = int(noise >> 28) - 8;
            const bool disc = (fx - 0.6) * (fx - 0.6) + (fy - 0.4) * (fy - 0.4) < 0.04;
            const double sky = 0.5 + 0.5 * std::sin(fx * 9 + fy * 4);
            const int b = disc ? 40 : int(90 + 140 * sky * (1 - fy));
            const int g = disc ? 70 : int(60 + 120 * fy + 40 * std::sin(fx * 31));
            const int r = disc ? 210 : int(50 + 150 * fy * fx + 30 * std::cos(fy * 23));
            row[3 * x] = uchar(std::clamp(b + n, 0, 255));
            row[3 * x + 1] = uchar(std::clamp(g + n, 0, 255));
            row[3 * x + 2] = uchar(std::clamp(r + n, 0, 255));
        }
    }
    return picture;
}

// An EXIF block with the orientation tag alone, in an APP1 segment after the JFIF one.
QByteArray WithOrientation(const QByteArray &jpeg, int orientation)
{
    QByteArray block = QByteArray::fromHex("ffe10022 457869660000 4d4d002a 00000008 0001 0112 0003 00000001 00000000 "
                                           "00000000");
    block[29] = char(orientation);
    return QByteArray(jpeg).insert(4 + (uchar(jpeg[4]) << 8 | uchar(jpeg[5])), block);
}

// The profile in an APP2 segment after the first segment.
QByteArray WithProfile(const QByteArray &jpeg, const QByteArray &profile)
{
    const QByteArray block = "ICC_PROFILE" + QByteArray("\0\1\1", 3) + profile;
    const QByteArray segment =
        QByteArray("\xFF\xE2", 2) + char((block.size() + 2) >> 8) + char(block.size() + 2) + block;
    return QByteArray(jpeg).insert(4 + (uchar(jpeg[4]) << 8 | uchar(jpeg[5])), segment);
}

int Generate(int w, int h, const QString &path, int orientation, bool p3)
{
    QByteArray jpeg = EncodeJpeg(PhotoLike(w, h), 90);
    if (orientation > 1)
        jpeg = WithOrientation(jpeg, orientation);
    if (p3)
        jpeg = WithProfile(jpeg, QColorSpace(QColorSpace::DisplayP3).iccProfile());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size())
        return 1;
    std::printf("wrote %s: %dx%d, orientation %d%s, %lld bytes\n", qPrintable(path), w, h, orientation,
                p3 ? ", Display P3" : "", qint64(jpeg.size()));
    return 0;
}

PictureFormat FormatOf(const QString &path)
{
    return PictureTypeOf(path).Format;
}

// The picture at full size, as stored.
QImage Decode(const QString &path)
{
    switch (FormatOf(path)) {
    case PictureFormat::Bmp:
        return LoadBmp(path);
    case PictureFormat::Png:
        return LoadPng(path);
    case PictureFormat::WebP:
        return LoadWebP(path);
    case PictureFormat::Heif:
        return LoadHeif(path);
    default:
        return LoadJpeg(path);
    }
}

// What the window's drop does: decode, turn upright, fit.
QImage Drop(const QString &path, int dots)
{
    return LoadPicture(path, FormatOf(path), dots);
}

// The independent tool on the same file: djpeg, or heif-convert to a raw YCbCr file (its
// decode floor) or to a JPEG (quality 90, heif-convert's usual use).
double RunTool(const QString &path, const QString &heifOutput)
{
    QProcess tool;
    return Milliseconds([&] {
        if (FormatOf(path) == PictureFormat::Heif)
            tool.start("heif-convert", {"--quiet", path, heifOutput});
        else
            tool.start("djpeg", {"-bmp", "-outfile", "/dev/null", path});
        tool.waitForFinished(-1);
    });
}

// The drop beside the independent tool, round by round, then the decode alone: the
// preview the drop made.
QImage DropBesideTool(const QString &path, int rounds)
{
    const bool heif = FormatOf(path) == PictureFormat::Heif;
    QTemporaryDir scratch;
    const QStringList outputs =
        heif ? QStringList{scratch.filePath("out.y4m"), scratch.filePath("out.jpg")} : QStringList{QString()};
    std::vector<double> ours, oursCpu;
    std::vector<std::vector<double>> tools(outputs.size()), toolsCpu(outputs.size());
    QImage preview;
    for (int round = 0; round < rounds; ++round) {
        for (qsizetype t = 0; t < outputs.size(); ++t)
            toolsCpu[t].push_back(
                CpuMilliseconds([&] { tools[t].push_back(RunTool(path, outputs[t])); }, RUSAGE_CHILDREN));
        oursCpu.push_back(CpuMilliseconds([&] { ours.push_back(Milliseconds([&] { preview = Drop(path, 95); })); }));
    }
    // Before anything here decodes the picture whole.
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("peak memory         %8ld MB   (ru_maxrss after the drops; the tool's largest %ld MB)\n",
                PeakMegabytes(), children.ru_maxrss / 1024);

    std::vector<double> decodeOnly;
    decodeOnly.reserve(rounds);
    QSize full;
    for (int round = 0; round < rounds; ++round)
        decodeOnly.push_back(Milliseconds([&] { full = Decode(path).size(); }));
    const double dropMs = Median(ours), dropCpu = Median(oursCpu);
    std::printf("size                %dx%d -> %dx%d\n", full.width(), full.height(), preview.width(), preview.height());
    std::printf("decode alone        %8.1f ms   (the picture whole, not interleaved)\n", Median(decodeOnly));
    std::printf("drop to preview     %8.1f ms   (LoadPicture at 95 dots, median of %d)\n", dropMs, rounds);
    std::printf("  CPU time          %8.1f ms   (median, all threads)\n", dropCpu);
    for (qsizetype t = 0; t < outputs.size(); ++t) {
        const QString name = heif ? "heif-convert ." + QFileInfo(outputs[t]).suffix() : QString("djpeg -bmp");
        const double toolMs = Median(tools[t]), toolCpu = Median(toolsCpu[t]);
        std::printf("%-19s %8.1f ms   (median of %d, same rounds)\n", qPrintable(name), toolMs, rounds);
        std::printf("  CPU time          %8.1f ms   (median)\n", toolCpu);
        std::printf("ratio               %8.2f      (target <= %.2f; CPU time ratio %.2f)\n", dropMs / toolMs,
                    heif ? 1.2 : 0.8, dropCpu / toolCpu);
    }
    return preview;
}

// The fit alone, upright and with each kind of turn: the turn must cost next to nothing.
void FitWithTurns(const QImage &stored, int rounds)
{
    const int fitRounds = std::max(rounds, 9);
    for (const int exif : {1, 2, 3, 6, 8}) {
        std::vector<double> fitMs;
        for (int round = 0; round < fitRounds; ++round) {
            QImage picture = stored;
            fitMs.push_back(Milliseconds([&] { FitToSize(picture, 95, FromExif(exif)); }));
        }
        std::printf("fit, orientation %d %7.1f ms   (fastest %.1f ms)\n", exif, Median(fitMs),
                    *std::min_element(fitMs.begin(), fitMs.end()));
    }
    // What is not done: turning the full-size picture a quarter round before the fit.
    std::vector<double> turnMs;
    turnMs.reserve(fitRounds);
    for (int round = 0; round < fitRounds; ++round)
        turnMs.push_back(Milliseconds([&] { Turned(stored, FromExif(6)); }));
    std::printf("turning it whole    %8.1f ms   (a quarter turn at full size, which the drop does not do)\n",
                Median(turnMs));
}

// The grey command, and what a tagged photo adds to its drop: its profile read and the
// preview converted.
void GreyAndColour(const QImage &preview, int rounds)
{
    QImage grey;
    std::vector<double> greyMs;
    greyMs.reserve(rounds);
    for (int round = 0; round < rounds; ++round)
        greyMs.push_back(Milliseconds([&] { ConvertToGrey(preview, grey); }));
    std::printf("ConvertToGrey       %8.3f ms\n", Median(greyMs));

    // The first profile of a kind makes its LittleCMS transform; later drops find it made
    // (the P3 one by the drops above, Adobe RGB's and the CMYK one only here).
    const QByteArray p3 = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    const QByteArray adobe = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    // Inks of the preview's colours, and black rising across it.
    QImage inks(preview.size(), QImage::Format_RGBA8888);
    for (int y = 0; y < inks.height(); ++y)
        for (int x = 0; x < inks.width(); ++x) {
            const QRgb c = preview.pixel(x, y);
            inks.setPixel(x, y, qRgba(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c), 255 * x / inks.width()));
        }
    const struct
    {
        const char *name;
        std::function<ColourProfile()> colours;
        QImage picture;
    } kinds[] = {
        {"P3", [&] { return *ColourProfile::FromIcc(p3, ColourModel::Rgb); }, preview},
        {"Adobe RGB", [&] { return *ColourProfile::FromIcc(adobe, ColourModel::Rgb); }, preview},
        {"CMYK (SWOP)", [] { return ColourProfile::ForInks({}, false); }, inks},
    };
    for (const auto &kind : kinds) {
        std::vector<double> colourMs;
        for (int round = 0; round < std::max(rounds, 9) + 1; ++round) {
            QImage converted = kind.picture;
            colourMs.push_back(Milliseconds([&] { ConvertToSrgb(converted, kind.colours()); }));
        }
        const double first = colourMs.front();
        colourMs.erase(colourMs.begin());
        std::printf("to sRGB from %-11s %7.3f ms   (the profile read, the preview converted; the first time, with its "
                    "transform made, %.1f ms)\n",
                    kind.name, Median(colourMs), first);
    }
}

void EncodeUnderLimits(const QImage &preview, int rounds)
{
    QTemporaryDir scratch;
    const QString out = scratch.filePath("kelvo.jpg");
    for (const int limit : {4800, 10800, 100000}) {
        int quality = 0;
        std::vector<double> runs, bareRuns;
        for (int round = 0; round < rounds; ++round) {
            runs.push_back(Milliseconds([&] { quality = EncodeUnderLimit(preview, out, limit); }));
            // The same encodes in memory alone, for the cost per attempt.
            bareRuns.push_back(Milliseconds([&] {
                for (int q = 100; q >= quality; --q)
                    EncodeJpeg(preview, q);
            }));
        }
        const int attempts = 101 - quality;
        const double ms = Median(runs), bare = Median(bareRuns);
        std::printf("under %6d bytes   %8.2f ms   %3d attempts, quality %d, %lld bytes; per attempt %.3f ms vs "
                    "bare encode %.3f ms (x%.2f)\n",
                    limit, ms, attempts, quality, QFileInfo(out).size(), ms / attempts, bare / attempts, ms / bare);
    }
}

void Bench(const QString &path, int rounds)
{
    std::printf("== %s (%lld bytes)\n", qPrintable(QFileInfo(path).fileName()), QFileInfo(path).size());
    const QImage preview = DropBesideTool(path, rounds);
    FitWithTurns(Decode(path), rounds);
    GreyAndColour(preview, rounds);
    EncodeUnderLimits(preview, rounds);
}

// A 640-dot picture under each limit, down to the worst case of the send command: a
// limit that nothing fits, 100 attempts.
void At640(const QString &path)
{
    QImage picture = Drop(path, 640);
    QTemporaryDir dir;
    std::printf("== at 640 dots (%dx%d)\n", picture.width(), picture.height());
    for (const int limit : {100000, 10800, 4800, 1}) {
        int quality = 0;
        std::vector<double> runs, bareRuns;
        for (int round = 0; round < 5; ++round) {
            runs.push_back(
                Milliseconds([&] { quality = EncodeUnderLimit(picture, dir.filePath("kelvo.jpg"), limit); }));
            bareRuns.push_back(Milliseconds([&] {
                for (int q = 100; q >= quality; --q)
                    EncodeJpeg(picture, q);
            }));
        }
        const double cpu = CpuMilliseconds([&] { EncodeUnderLimit(picture, dir.filePath("kelvo.jpg"), limit); });
        const double ms = Median(runs), bare = Median(bareRuns);
        std::printf("under %6d bytes   %8.1f ms   (CPU %.1f ms) %3d attempts, quality %d; the same encodes in memory "
                    "%.1f ms (x%.2f)%s\n",
                    limit, ms, cpu, 101 - quality, quality, bare, ms / bare, limit == 1 ? "  target < 150 ms" : "");
    }
}

// The drops of two files, one after the other in every round, with the peak memory after
// the first file's first drop alone (before the second is touched).
void Compare(const QString &a, const QString &b, int rounds)
{
    QString outcome[2];
    const auto drop = [&](int which) {
        try {
            const QImage preview = Drop(which ? b : a, 95);
            outcome[which] = QStringLiteral("%1x%2").arg(preview.width()).arg(preview.height());
        } catch (const std::exception &e) {
            outcome[which] = QString::fromUtf8(e.what());
        }
    };
    drop(0);
    const long firstPeak = PeakMegabytes();
    std::vector<double> wall[2], cpu[2];
    for (int round = 0; round < rounds; ++round)
        for (const int which : {0, 1})
            cpu[which].push_back(CpuMilliseconds([&] { wall[which].push_back(Milliseconds([&] { drop(which); })); }));
    for (const int which : {0, 1})
        std::printf("%-24s %9.2f ms (CPU %.2f ms, medians of %d): %s\n",
                    qPrintable(QFileInfo(which ? b : a).fileName()), Median(wall[which]), Median(cpu[which]), rounds,
                    qPrintable(outcome[which]));
    std::printf("ratio                    %9.4f       (CPU time ratio %.4f)\n", Median(wall[0]) / Median(wall[1]),
                Median(cpu[0]) / Median(cpu[1]));
    std::printf("peak memory after the first file's drop alone: %ld MB\n", firstPeak);
}

// The drop as it was before rows were streamed: the picture decoded whole, then fitted.
QImage WholePictureDrop(const QString &path)
{
    Orientation turn;
    ColourProfile colours;
    QImage picture = LoadJpeg(path, &turn, &colours);
    FitToSize(picture, 95, turn);
    ConvertToSrgb(picture, colours);
    return picture;
}

// One drop in this process, which does nothing else: its peak memory above what the
// process held before it, the file's own bytes included; with whole, WholePictureDrop.
int Peak(const QString &path, bool whole)
{
    const long before = ResidentKilobytes();
    QImage preview;
    const double ms = Milliseconds([&] { preview = whole ? WholePictureDrop(path) : Drop(path, 95); });
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-26s %s drop to %dx%d: %.1f ms, peak %.1f MB above the %.1f MB held before (file %.1f MB)\n",
                qPrintable(QFileInfo(path).fileName()), whole ? "whole-picture" : "streamed     ", preview.width(),
                preview.height(), ms, double(usage.ru_maxrss - before) / 1024, double(before) / 1024,
                double(QFileInfo(path).size()) / 1048576);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    try {
        if (args.size() >= 4 && args.size() <= 6 && args[0] == "gen")
            return Generate(args[1].toInt(), args[2].toInt(), args[3], args.value(4, "1").toInt(),
                            args.value(5) == "p3");
        const QString command = args.value(0);
        args = args.mid(1);
        int rounds = 5;
        if (args.size() >= 2 && args[0] == "-r") {
            rounds = std::max(1, args[1].toInt());
            args = args.mid(2);
        }
        if (command == "peak" && args.size() == 1)
            return Peak(args[0], false);
        if (command == "peak" && args.size() == 2 && args[0] == "whole")
            return Peak(args[1], true);
        if (command == "compare" && args.size() == 2) {
            Compare(args[0], args[1], rounds);
            return 0;
        }
        if (command == "run") {
            for (const QString &path : args)
                Bench(path, rounds);
            if (!args.isEmpty())
                At640(args.first());
            return 0;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr,
                 "usage: imaging_bench gen WIDTH HEIGHT OUT.jpg [ORIENTATION [p3]] | imaging_bench run [-r ROUNDS] "
                 "FILE... | imaging_bench compare [-r ROUNDS] A B | imaging_bench peak [whole] FILE\n");
    return 2;
}
