#include "imaging/Picture.h"

#include "TestPictures.h"

#include <QBuffer>
#include <QColorSpace>
#include <QProcess>
#include <QRandomGenerator>
#include <QtEndian>

#include <jerror.h>
#include <zlib.h>

#include <optional>

#include <sys/stat.h>

namespace {

// A chunk of a RIFF file (a WebP): its type, then its length, little-endian, before the data.
QByteArray RiffChunk(const QByteArray &typed)
{
    QByteArray size(4, 0);
    qToLittleEndian<quint32>(quint32(typed.size() - 4), size.data());
    return typed.left(4) + size + typed.mid(4) + QByteArray(typed.size() % 2, 0);
}

// djpeg, an independent reader: the picture, and its account of the file's markers.
QImage DecodeWithDjpeg(const QString &path, QString *markers = nullptr)
{
    QProcess djpeg;
    djpeg.start("djpeg", {"-verbose", "-pnm", path});
    if (!djpeg.waitForFinished(20000) || djpeg.exitCode() != 0)
        return QImage();
    if (markers)
        *markers = QString::fromLatin1(djpeg.readAllStandardError());
    return QImage::fromData(djpeg.readAllStandardOutput(), "PPM").convertToFormat(QImage::Format_BGR888);
}

// An 8-bit bitmap of 16 rows, each one run of 16 pixels, its header claiming width x height.
QByteArray RunLengthBmp(const QImage &picture, int width, int height)
{
    QByteArray file = Saved(picture.convertToFormat(QImage::Format_Indexed8), "BMP");
    file.truncate(qFromLittleEndian<quint32>(file.constData() + 10));
    file += QByteArray("\x10\x01\0\0", 4).repeated(16) + QByteArray("\0\1", 2); // runs, line ends, end
    const quint32 header[] = {quint32(width), quint32(height), 8 << 16 | 1, 1}; // planes and bits; RLE8
    qToLittleEndian<quint32>(header, 4, file.data() + 18);
    return file;
}

// Every format and JPEG form a drop takes, fitted, greyed and mailed as a baseline colour JPEG
// under the limit that carries nothing of the original file (the first JPEG has GPS tags and a profile).
TEST(Intake, EveryFormatToTheMailedFile)
{
    TestFolder folder;
    const QImage source = SmoothPicture(64, 48);
    QImage expected = source;
    FitToSize(expected, 40);
    const std::pair<const char *, QByteArray> files[] = {
        {"photo.JPG", WithIcc(WithApp1(WriteTestJpeg(source, JpegForm::Baseline, 100), ExifBlock(1)),
                              QColorSpace(QColorSpace::SRgb).iccProfile())},
        {"progressive.jpg", WriteTestJpeg(source, JpegForm::Progressive, 100)},
        {"photo.bmp", Saved(source, "BMP")},
        {"photo.Png", Saved(source, "PNG")},
        {"photo.webp", Saved(source, "WEBP", 100)},
        {"photo.HEIC", WriteTestHeic(source)},
    };
    for (const auto &[name, bytes] : files) {
        SCOPED_TRACE(name);
        QImage picture = Drop(name, bytes, 40), grey;
        ASSERT_EQ(picture.size(), QSize(40, 30));
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 3 * 40; ++x)
                ASSERT_NEAR(picture.constScanLine(y)[x], expected.constScanLine(y)[x], 16) << x / 3 << "," << y;
        ConvertToGrey(picture, grey);
        for (const QImage &mailed : {picture, grey}) {
            EncodeUnderLimit(mailed, "kelvo.jpg", 1500);
            EXPECT_LE(folder.Read("kelvo.jpg").size(), 1500);
            QString markers;
            EXPECT_EQ(DecodeWithDjpeg("kelvo.jpg", &markers).size(), QSize(40, 30));
            EXPECT_TRUE(markers.contains("Start Of Frame 0xc0: width=40, height=30, components=3"))
                << markers.toStdString();
            EXPECT_FALSE(markers.contains("marker 0xe1") || markers.contains("marker 0xe2")) << "metadata went out";
        }
    }
    // At full size, libjpeg's own decoder gives the very same bytes of the forms it writes.
    folder.Write("grey.jpg", WriteTestJpeg(source, JpegForm::Greyscale, 100));
    for (const char *name : {"photo.JPG", "progressive.jpg", "grey.jpg"})
        EXPECT_EQ(LoadJpeg(name), DecodeWithDjpeg(name)) << name;

    // Opaque, hidden and half-transparent black lie on white, in a PNG and in a 32-bit bitmap
    // with a V4 header and an alpha mask; such a bitmap with every alpha byte 0 is opaque.
    QImage rgba(3, 1, QImage::Format_ARGB32);
    for (const int x : {0, 1, 2})
        rgba.setPixel(x, 0, x < 2 ? qRgba(10, 200, 30, x ? 0 : 255) : qRgba(0, 0, 0, 128));
    QByteArray bmp = "BM" + QByteArray(120, 0) + QByteArray(reinterpret_cast<const char *>(rgba.constBits()), 12);
    // After "BM": sizes, offset, V4 header, 3 x 1, 32 bits, bit fields, the masks of R, G, B, A.
    const quint32 head[] = {134, 0, 122, 108, 3,        1,      1 | 32 << 16, 3,         12,
                            0,   0, 0,   0,   0xFF0000, 0xFF00, 0xFF,         0xFF000000};
    qToLittleEndian<quint32>(head, 17, bmp.data() + 2);
    QByteArray unset = bmp;
    unset[125] = unset[133] = 0; // the alpha of the opaque and the half-transparent pixel
    for (const auto &[name, bytes] :
         {std::pair{"alpha.png", Saved(rgba, "PNG")}, {"alpha.bmp", bmp}, {"unset.bmp", unset}})
        EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(Drop(name, bytes, 3).constScanLine(0)), 9).toHex(),
                  name[0] == 'u' ? "1ec80a1ec80a000000" : "1ec80affffff7f7f7f")
            << name;
}

// A picture stored turned as a camera does, tagged with each orientation, stands alike byte for byte at its
// own size, shrunk and enlarged (8 x 8 blocks of one colour survive quality 100 unsubsampled).
TEST(Intake, EightOrientationsStandAlike)
{
    TestFolder folder;
    const QImage upright = RandomPicture(5, 3, 7).scaled(40, 24);
    for (const int dots : {40, 23, 100}) {
        QImage first;
        for (int exif = 1; exif <= 8; ++exif) {
            const QImage stored = TurnedByQt(upright, exif, true);
            const QImage loaded =
                Drop("t.jpg", WithApp1(WriteTestJpeg(stored, JpegForm::Full444, 100), ExifBlock(exif)), dots);
            first = exif == 1 ? loaded : first;
            EXPECT_EQ(loaded, first) << "orientation " << exif << " at " << dots << " dots";
        }
        EXPECT_EQ(first.width(), dots);
    }

    // PNG (an eXIf chunk before the image data, the TIFF structure alone) and lossless WebP (an
    // EXIF chunk after it, as in a JPEG) stand up alike.
    const QImage six = TurnedByQt(upright, 6, true); // stored 24 x 40
    const QImage expected = Drop("upright.png", Saved(upright, "PNG"), 23);
    EXPECT_EQ(Drop("six.png", WithPngChunk(Saved(six, "PNG"), "eXIf", ExifBlock(6).mid(6)), 23), expected);
    const QByteArray webp = "WEBP" + RiffChunk("VP8X" + QByteArray::fromHex("08000000 170000 270000")) +
                            Saved(six, "WEBP", 100).mid(12) + RiffChunk("EXIF" + ExifBlock(6));
    EXPECT_EQ(Drop("six.webp", RiffChunk("RIFF" + webp), 23), expected);

    // A broken EXIF block is passed over: the picture loads as if it had none.
    const QByteArray plain = WriteTestJpeg(SmoothPicture(40, 24), JpegForm::Baseline), good = ExifBlock(6);
    const QImage unturned = Drop("plain.jpg", plain);
    // Cut short, IFD0 far past the end, an orientation of 2 GB, of 9, no IFD, IFD0 all junk.
    for (const QByteArray &block : {good.left(20), QByteArray(good).replace(10, 4, "\x7F\xFF\xFF\xF0"),
                                    QByteArray(good).replace(20, 4, "\x3F\xFF\xFF\xFF"), ExifBlock(9),
                                    QByteArray("Exif\0\0MM", 8), good.left(14) + QByteArray(60000, '\xFF')})
        EXPECT_EQ(Drop("broken.jpg", WithApp1(plain, block)), unturned) << block.toHex().left(60).toStdString();
}

// Every form a file may take, and damaged copies of each kind, give a picture or a clear message.
TEST(Load, PictureOrClearMessage)
{
    TestFolder folder;
    const QImage picture = SmoothPicture(64, 48);
    const QByteArray jpeg = WriteTestJpeg(picture, JpegForm::Baseline);
    const QByteArray progressive = WriteTestJpeg(picture, JpegForm::Progressive);
    const QByteArray bmp = Saved(picture, "BMP"), png = Saved(picture, "PNG"), heic = WriteTestHeic(picture);
    // A lossless WebP header (signature 0x2F, 14-bit sides less one) claiming 16384 x 16384.
    const QByteArray hugeWebP("RIFF\x1A\0\0\0WEBPVP8L\x0D\0\0\0\x2F\xFF\xFF\xFF\x0F\0\0\0\0\0\0\0\0\0", 34);
    const QByteArray hugeHeic =
        QByteArray(heic).replace(QByteArray("\0\0\0\x40\0\0\0\x30", 8), QByteArray("\0\0\x4E\x20\0\0\x4E\x20", 8));
    const QString cut = QStringLiteral("JPEG ファイル %2 は途中で切れています。");
    const auto notJpeg = [](const char *start) {
        return QStringLiteral("ファイル %2 は JPEG 画像ではありません (先頭は %1)。").arg(start);
    };
    const auto patched = [&jpeg](const char *marker, int at, char byte) {
        QByteArray bytes = jpeg;
        bytes[jpeg.indexOf(marker) + at] = byte;
        return bytes;
    };
    const QString unreadForm = QStringLiteral("%2 は%1の JPEG 画像です。この形式は kelvo では読めません。");
    const QString unreadable = QStringLiteral("%1 ファイル %2 を読み込めません。"); // the format, the path
    const QString tooLarge = QStringLiteral("画像が大きすぎます (%1 ドット)。扱えるのは 2 億画素までです。");
    const QImage mono = picture.convertToFormat(QImage::Format_Mono);
    const QString needs =
        QStringLiteral("画像が大きすぎます (%1 ドット)。読み込むには %3 MB 要りますが、扱えるのは 1144 MB までです。");
    const QByteArray manyScans = WriteTestJpeg(SmoothPicture(16, 16), JpegForm::ManyScans);
    // A 16-bit PNG's header (after the signature, the length and "IHDR") claiming 13000 x 13000, its CRC made anew.
    QByteArray deepPng = Saved(QImage(2, 2, QImage::Format_RGBX64), "PNG");
    deepPng.replace(16, 8, BigEndian(13000, 4).repeated(2));
    qToBigEndian<quint32>(crc32(0, reinterpret_cast<const Bytef *>(deepPng.constData()) + 12, 17), deepPng.data() + 29);

    const std::tuple<const char *, const char *, QByteArray, QString> cases[] = {
        {"truncated baseline", "a.jpg", jpeg.left(jpeg.size() / 2), cut},
        {"progressive without its end", "a.jpg", progressive.chopped(2), cut},
        {"cut inside the headers", "a.jpg", jpeg.left(100), cut},
        {"end marker inside the scan", "a.jpg", QByteArray(jpeg).insert(jpeg.indexOf("\xFF\xDA") + 200, "\xFF\xD9"),
         QStringLiteral("JPEG ファイル %2 は壊れています (JPEG エラー #%1)。").arg(JWRN_HIT_MARKER)},
        {"zero bytes", "a.jpg", QByteArray(), QStringLiteral("ファイル %2 は空です (0 バイト)。")},
        {"bitmap named .jpg", "a.jpg", bmp, notJpeg("42 4D 36 24 00 00 00 00")},
        {"text named .jpg", "a.jpg", "Hello,\tworld\n", notJpeg("\"Hello, world\"")},
        {"12-bit JPEG", "a.jpg", patched("\xFF\xC0", 4, 12),
         QStringLiteral("%2 は 12 ビットの JPEG 画像です。kelvo が読めるのは 8 ビットの JPEG 画像だけです。")},
        {"lossless JPEG", "a.jpg", patched("\xFF\xC0", 1, '\xC3'), unreadForm.arg("可逆圧縮 (ロスレス) ")},
        {"hierarchical JPEG", "a.jpg", patched("\xFF\xC0", 1, '\xC5'), unreadForm.arg("階層型 (ハイアラーキカル) ")},
        {"190 scans", "a.jpg", manyScans, "この JPEG は 100 を超えるスキャンに分かれているため、読み込めません。"},
        {"14000 x 10000 in scans, unsubsampled", "a.jpg",
         QByteArray(manyScans).replace(manyScans.indexOf("\xFF\xC2") + 5, 4, "\x27\x10\x36\xB0"),
         needs.arg("14000 × 10000").replace("%3", "1201")},
        {"16-bit PNG of 13000 x 13000", "a.png", deepPng, needs.arg("13000 × 13000").replace("%3", "1289")},
        {"huge JPEG", "a.jpg", QByteArray(jpeg).replace(jpeg.indexOf("\xFF\xC0") + 5, 4, "\xEA\x60\xEA\x60"),
         tooLarge.arg("60000 × 60000")},
        {"1-bit bitmap", "a.bmp", Saved(mono, "BMP"), {}},
        {"4-bit bitmap", "a.bmp", Saved(mono.convertToFormat(QImage::Format_Indexed8), "BMP"), {}},
        {"8-bit bitmap", "a.bmp", Saved(picture.convertToFormat(QImage::Format_Indexed8), "BMP"), {}},
        {"top-down bitmap", "a.bmp", QByteArray(bmp).replace(22, 4, "\xD0\xFF\xFF\xFF"), {}},
        {"run-length bitmap", "a.bmp", RunLengthBmp(picture, 16, 16), {}},
        {"truncated bitmap", "a.bmp", bmp.left(bmp.size() / 2), unreadable.arg("ビットマップ")},
        {"bitmap header cut", "a.bmp", bmp.left(20), unreadable.arg("ビットマップ")},
        {"huge bitmap", "a.bmp", QByteArray(bmp).replace(18, 8, QByteArray("\x30\x75\0\0\x30\x75\0\0", 8)),
         tooLarge.arg("30000 × 30000")},
        {"run-length bitmap of 2 KB claiming 20000 x 10000", "a.bmp", RunLengthBmp(picture, 20000, 10000),
         unreadable.arg("ビットマップ")},
        {"zero-byte bitmap", "a.bmp", QByteArray(), unreadable.arg("ビットマップ")},
        {"JPEG named .bmp", "a.bmp", jpeg, unreadable.arg("ビットマップ")},
        {"JPEG named .png", "a.PNG", jpeg, unreadable.arg("PNG")},
        {"truncated PNG", "a.png", png.left(png.size() / 2), unreadable.arg("PNG")},
        {"bitmap named .webp", "a.webp", bmp, unreadable.arg("WebP")},
        {"huge WebP", "a.webp", hugeWebP, tooLarge.arg("16384 × 16384")},
        {"PNG named .heic", "a.heic", png, unreadable.arg("HEIF")},
        {"truncated HEIC", "a.heif", heic.left(heic.size() * 3 / 4), unreadable.arg("HEIF")},
        {"huge HEIC", "a.heic", hugeHeic, tooLarge.arg("20000 × 20000")},
    };
    for (const auto &[name, file, bytes, message] : cases)
        EXPECT_EQ(FailureOf([file = file, bytes = bytes] { Drop(file, bytes); }), QString(message).replace("%2", file))
            << name;

    // A progressive file cut between any two scans fails, also with bytes after it (a CR LF, a
    // trailer with an end marker); a whole one with them reads as itself.
    for (const QByteArray &trailer : {QByteArray(), QByteArray("\r\n"), QByteArray("\r\nSEFT\xFF\xD9\0\0ftyp", 14)}) {
        for (qsizetype at = progressive.indexOf("\xFF\xDA") + 2; (at = progressive.indexOf("\xFF\xDA", at)) > 0;
             at += 2) {
            folder.Write("cut.jpg", progressive.left(at) + trailer);
            EXPECT_EQ(FailureOf([&] { LoadJpeg("cut.jpg"); }), QString(cut).replace("%2", "cut.jpg")) << at;
        }
        folder.Write("whole.jpg", progressive + trailer);
        EXPECT_EQ(LoadJpeg("whole.jpg"), DecodeJpeg(progressive)) << trailer.size();
    }
    folder.Write("unended.jpg", jpeg.chopped(2)); // a whole baseline file without its end reads
    EXPECT_EQ(LoadJpeg("unended.jpg"), DecodeJpeg(jpeg));

    ASSERT_TRUE(QDir().mkdir("x.jpg"));
    for (const QString name : {"x.jpg", "missing.jpg", "missing.bmp", "missing.png", "missing.heic"})
        EXPECT_EQ(FailureOf([&] { Drop(name); }), QStringLiteral("ファイル %1 を開けません。").arg(name));
}

// What a file can cost is bounded. FIFOs, files of zeros (4 GB ones walked as millions of empty chunks, 700 MB ones
// read whole before a look at their start), a PNG of zeros after its header, a HEIC whose picture lists 32 extents of
// "the rest of the file" (joined: 32 times the file) are refused from their size or first bytes; Qt's readers' 32-bit
// and 64-bit pictures (a 14000 x 14000 PNG of 0.8 MB held 1.35 GB) are made 24-bit in their own memory. In a child
// that an alarm ends if an open waits and a CPU limit if a reader walks the file, each with its peak in megabytes.
TEST(Load, WhatAFileCanCostIsBounded)
{
    TestFolder folder;
    const auto sparse = [](const char *name, qint64 size, const QByteArray &start = {}) {
        QFile file(name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(start) == start.size() && file.resize(size));
        return name;
    };
    const QString tooLarge =
        QStringLiteral("ファイル %2 は画像として大きすぎます (4096 MB)。扱えるのは 2 億画素までです。");
    const QString unreadable = QStringLiteral("%1 ファイル %2 を読み込めません。");
    QImage plain(4000, 3000, QImage::Format_RGB32); // 46 MB as Qt reads it, 92 MB in 16-bit colour
    plain.fill(qRgb(10, 20, 30));
    folder.Write("plain.png", Saved(plain, "PNG"));
    folder.Write("deep.png", Saved(plain.convertToFormat(QImage::Format_RGBX64), "PNG"));
    folder.Write("extents.heic", RebuiltHeif(WriteTestHeic(SmoothPicture(64, 64)), 64, 0, {}, 32, 30 << 20));
    // 2000 iCCP chunks of 4 KB, each unpacking to 4 MB: inflated all, 17 s of CPU.
    const QByteArray small = Saved(QImage(8, 8, QImage::Format_RGB32), "PNG");
    const QByteArray oneMore =
        WithPngChunk(small, "iCCP", QByteArray("icc\0\0", 5) + qCompress(QByteArray(4 << 20, 0)).mid(4));
    folder.Write(
        "iccps.png",
        QByteArray(small).insert(small.indexOf("IDAT") - 4,
                                 oneMore.mid(small.indexOf("IDAT") - 4, oneMore.size() - small.size()).repeated(2000)));
    QList<std::tuple<QString, QString, int>> cases = {
        {sparse("zero.png", 4LL << 30), tooLarge, 8},
        {sparse("zero.webp", 4LL << 30), tooLarge, 8},
        {sparse("zero.jpg", 4LL << 30), tooLarge, 8},
        {sparse("zero.heic", 4LL << 30), tooLarge, 8},
        {sparse("zeros.png", 700 << 20), unreadable.arg("PNG"), 8},
        {sparse("zeros.webp", 700 << 20), unreadable.arg("WebP"), 8},
        {sparse("zeros.jpg", 700 << 20), "ファイル %2 は JPEG 画像ではありません (先頭は 00 00 00 00 00 00 00 00)。",
         8},
        {sparse("zeros.heic", 700 << 20), unreadable.arg("HEIF"), 8},
        {sparse("header.png", 700 << 20, Saved(QImage(8, 8, QImage::Format_RGB32), "PNG").left(33)),
         unreadable.arg("PNG"), 8},
        {"extents.heic", unreadable.arg("HEIF"), 60},
        {"iccps.png", "loaded", 60},
        {"plain.png", "loaded", 60},
        {"deep.png", "loaded", 112},
    };
    for (const char *name : {"fifo.jpg", "fifo.png", "fifo.webp", "fifo.bmp", "fifo.heic"}) {
        ASSERT_EQ(mkfifo(name, 0600), 0);
        cases.emplaceBack(name, "%2 は普通のファイルではない (パイプやデバイスなどの) ため、読み込めません。", 8);
    }
    const auto [status, peak] = RunInChild([&] {
        alarm(60);
        const rlimit seconds{10, 10};
        setrlimit(RLIMIT_CPU, &seconds);
        QByteArray messages;
        for (const auto &[name, message, megabytes] : cases) {
            const long start = RestartPeak();
            messages += FailureOf([name = name] { Drop(name); }, "loaded").toUtf8() + '\t';
            messages += QByteArray::number(PeakSince(start) >> 10) + '\n';
        }
        folder.Write("messages.txt", messages);
        return 0;
    });
    EXPECT_EQ(status, 0) << "ended by signal " << WTERMSIG(status);
    const QList<QByteArray> lines = folder.Read("messages.txt").split('\n');
    for (qsizetype line = 0; const auto &[name, message, megabytes] : cases) {
        const QList<QByteArray> got = lines.value(line++).split('\t');
        EXPECT_EQ(QString::fromUtf8(got[0]), QString(message).replace("%2", name)) << name.toStdString();
        EXPECT_LT(got.value(1).toInt(), megabytes) << name.toStdString() << ": megabytes at its peak";
    }
}

// libheif makes a grid as large as its canvas and a picture as large as its stream says,
// whatever the image claims; larger than the claim, the file is refused before decoding (too
// large beyond the limit, else unreadable): in a child whose peak stays far below gigabytes.
TEST(Load, HeifSizesAreCheckedBeforeDecoding)
{
    TestFolder folder;
    const QByteArray tile = WriteTestHeic(SmoothPicture(64, 64));
    const QString unreadable = QStringLiteral("HEIF ファイル %1 を読み込めません。");
    const std::tuple<const char *, QByteArray, QString> cases[] = {
        {"grid.heic", RebuiltHeif(tile, 128, 128), "loaded"},
        {"lying-grid.heic", RebuiltHeif(tile, 512, 20000),
         QStringLiteral("画像が大きすぎます (20000 × 20000 ドット)。扱えるのは 2 億画素までです。")},
        {"stretched-grid.heic", RebuiltHeif(tile, 512, 10000), unreadable},
        {"lying-picture.heic", RebuiltHeif(WriteTestHeic(SmoothPicture(256, 256)), 64), unreadable},
    };
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto [status, peak] = RunInChild([&] {
        QByteArray messages;
        for (const auto &c : cases)
            messages += FailureOf([&] { Drop(std::get<0>(c), std::get<1>(c)); }, "loaded").toUtf8() + '\n';
        folder.Write("messages.txt", messages);
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_LT(peak, usage.ru_maxrss + 100 * 1024) << "kilobytes at the child's peak";
    const QList<QByteArray> messages = folder.Read("messages.txt").split('\n');
    for (qsizetype line = 0; const auto &[name, bytes, message] : cases)
        EXPECT_EQ(QString::fromUtf8(messages.value(line++)), QString(message).replace("%1", name)) << name;
}

} // namespace
