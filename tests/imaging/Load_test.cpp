#include "imaging/Pipeline.h"
#include "imaging/stch.h"

#include "TestPictures.h"
#include "platform/Exception.h"
#include "support/TestFolder.h"

#include <QDir>
#include <QProcess>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// A smooth picture with some colour, so that JPEG keeps it close.
QImage SmoothPicture(int w, int h)
{
    QImage picture(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uchar *at = picture.scanLine(y) + 3 * x;
            at[0] = uchar(40 + 150 * x / std::max(1, w - 1));
            at[1] = uchar(200 - 150 * y / std::max(1, h - 1));
            at[2] = uchar(120);
        }
    return picture;
}

int LargestDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < 3 * a.width(); ++x)
            largest = std::max(largest, std::abs(a.constScanLine(y)[x] - b.constScanLine(y)[x]));
    return largest;
}

// The message of the exception that call throws; empty when it throws none.
template <typename Call> QString MessageOf(Call call)
{
    try {
        call();
    } catch (const Exception &e) {
        return e.Message.isEmpty() ? QStringLiteral("(empty)") : e.Message;
    }
    return QString();
}

QString JpegError(int code)
{
    return QStringLiteral("JPEG エラー #%1").arg(code);
}

// djpeg reads the file as binary PPM; the pixels come back as B,G,R for comparison.
QImage DecodeWithDjpeg(const QString &path)
{
    QProcess djpeg;
    djpeg.start("djpeg", {"-pnm", path});
    if (!djpeg.waitForFinished(20000) || djpeg.exitCode() != 0)
        return QImage();
    const QByteArray out = djpeg.readAllStandardOutput();
    int w = 0, h = 0, max = 0, headerLength = 0;
    if (std::sscanf(out.constData(), "P6 %d %d %d%n", &w, &h, &max, &headerLength) != 3)
        return QImage();
    QImage picture(w, h, QImage::Format_BGR888);
    const auto *rgb = reinterpret_cast<const uchar *>(out.constData()) + headerLength + 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x, rgb += 3) {
            uchar *at = picture.scanLine(y) + 3 * x;
            at[0] = rgb[2];
            at[1] = rgb[1];
            at[2] = rgb[0];
        }
    return picture;
}

TEST(LoadJpeg, EveryFormLibjpegReads)
{
    TestFolder folder;
    const QImage source = SmoothPicture(37, 29);
    struct Form
    {
        const char *name;
        JpegForm form;
        bool grey;
    };
    const Form forms[] = {{"baseline", JpegForm::Baseline, false},    {"progressive", JpegForm::Progressive, false},
                          {"greyscale", JpegForm::Greyscale, true},   {"restart", JpegForm::Restart, false},
                          {"adobe-cmyk", JpegForm::AdobeCmyk, false}, {"adobe-ycck", JpegForm::AdobeYcck, false},
                          {"plain-cmyk", JpegForm::PlainCmyk, false}};
    for (const Form &f : forms) {
        SCOPED_TRACE(f.name);
        folder.Write("p.jpg", WriteTestJpeg(source, f.form, 100));
        const QImage loaded = LoadJpeg(folder.File("p.jpg"));
        ASSERT_EQ(loaded.format(), QImage::Format_BGR888);
        ASSERT_EQ(loaded.size(), source.size());
        if (f.grey) {
            const uchar *at = loaded.constScanLine(10) + 3 * 10;
            EXPECT_EQ(at[0], at[1]);
            EXPECT_EQ(at[1], at[2]);
        } else {
            EXPECT_LE(LargestDifference(loaded, source), 8) << Grid(loaded).left(300).toStdString();
        }
        // libjpeg's own decoder gives the very same bytes where it takes the form.
        if (f.form != JpegForm::AdobeCmyk && f.form != JpegForm::AdobeYcck && f.form != JpegForm::PlainCmyk) {
            const QImage reference = DecodeWithDjpeg(folder.File("p.jpg"));
            if (!f.grey) {
                EXPECT_EQ(loaded, reference);
            }
        }
    }
}

// The attachment is read back by an independent decoder at the fitted size.
TEST(LoadJpeg, DroppedPhotoToMailedFile)
{
    TestFolder folder;
    folder.Write("photo.JPG", WriteTestJpeg(SmoothPicture(640, 480), JpegForm::Progressive));
    QImage picture = LoadJpeg(folder.File("photo.JPG"));
    FitToSize(picture, 95);
    ASSERT_EQ(picture.size(), QSize(95, 71));
    EncodeUnderLimit(picture, folder.File("kelvo.jpg"), 4800);
    EXPECT_LE(QFileInfo(folder.File("kelvo.jpg")).size(), 4800);
    const QImage read = DecodeWithDjpeg(folder.File("kelvo.jpg"));
    ASSERT_EQ(read.size(), QSize(95, 71));
    EXPECT_LE(LargestDifference(read, picture), 40);
}

TEST(LoadBmp, EveryWindowsForm)
{
    TestFolder folder;
    const QImage source = SmoothPicture(13, 5);
    struct Form
    {
        int bits;
        bool topDown, rle8;
    };
    const Form forms[] = {{1, false, false},  {4, false, false},  {8, false, false}, {8, false, true},
                          {16, false, false}, {24, false, false}, {24, true, false}, {32, false, false}};
    for (const Form &f : forms) {
        SCOPED_TRACE(std::to_string(f.bits) + (f.topDown ? " top-down" : "") + (f.rle8 ? " rle8" : ""));
        folder.Write("p.bmp", WriteTestBmp(source, f.bits, f.topDown, f.rle8));
        QImage loaded;
        ASSERT_NO_THROW(loaded = LoadBmp(folder.File("p.bmp")));
        ASSERT_EQ(loaded.format(), QImage::Format_BGR888);
        ASSERT_EQ(loaded.size(), source.size());
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x) {
                const uchar *s = source.constScanLine(y) + 3 * x;
                const uchar *l = loaded.constScanLine(y) + 3 * x;
                if (f.bits <= 8) {
                    const int colours = 1 << f.bits;
                    const int level = int(s[1] * uint(colours - 1) / 255) * 255 / (colours - 1);
                    ASSERT_EQ(l[1], level) << x << "," << y;
                } else {
                    const int tolerance = f.bits == 16 ? 8 : 0;
                    for (int c = 0; c < 3; ++c)
                        ASSERT_NEAR(l[c], s[c], tolerance) << x << "," << y << " byte " << c;
                }
            }
    }
}

QByteArray WithFrameSize(QByteArray jpeg, int width, int height)
{
    const int at = int(jpeg.indexOf("\xFF\xC0"));
    qToBigEndian<quint16>(quint16(height), jpeg.data() + at + 5);
    qToBigEndian<quint16>(quint16(width), jpeg.data() + at + 7);
    return jpeg;
}

TEST(BadInput, ClearMessageNeverACrash)
{
    TestFolder folder;
    const QByteArray jpeg = WriteTestJpeg(SmoothPicture(64, 48), JpegForm::Baseline);
    const QByteArray progressive = WriteTestJpeg(SmoothPicture(64, 48), JpegForm::Progressive);
    const QByteArray bmp = WriteTestBmp(SmoothPicture(64, 48), 24);
    QByteArray badPrecision = jpeg;
    badPrecision[int(badPrecision.indexOf("\xFF\xC0")) + 4] = char(12);
    QByteArray badTable = jpeg;
    badTable[int(badTable.indexOf("\xFF\xC4")) + 4] = char(0x7F); // table class and id out of range
    // An end-of-image marker in the middle of the entropy-coded data.
    QByteArray cutScan = jpeg;
    cutScan.insert(int(jpeg.indexOf("\xFF\xDA")) + 200, "\xFF\xD9");
    QByteArray badBmpHeader = bmp;
    badBmpHeader[28] = char(7); // 7 bits a pixel

    const QString tooLarge = QStringLiteral("画像が大きすぎます (60000 × 60000 ドット)。扱えるのは 2 億画素までです。");
    const QString bmpUnreadable = QStringLiteral("ビットマップ ファイル %1 を読み込めません。");
    struct Case
    {
        const char *name;
        const char *file;
        QByteArray bytes;
        QString message; // %1 is the path
    };
    const Case cases[] = {
        {"truncated baseline", "a.jpg", jpeg.left(jpeg.size() / 2), JpegError(JWRN_JPEG_EOF)},
        {"truncated progressive", "a.jpg", progressive.left(progressive.size() * 2 / 3), JpegError(JWRN_JPEG_EOF)},
        {"cut inside the headers", "a.jpg", jpeg.left(100), JpegError(JWRN_JPEG_EOF)},
        {"sample precision 12", "a.jpg", badPrecision, JpegError(JERR_BAD_PRECISION)},
        {"bad Huffman table", "a.jpg", badTable, "JPEG エラー #"},
        {"marker inside the scan", "a.jpg", cutScan, JpegError(JWRN_HIT_MARKER)},
        {"zero bytes", "a.jpg", QByteArray(), JpegError(JERR_INPUT_EMPTY)},
        {"bitmap named .jpg", "a.jpg", bmp, JpegError(JERR_NO_SOI)},
        {"absurd size in the header", "a.jpg", WithFrameSize(jpeg, 60000, 60000), tooLarge},
        {"zero height in the header", "a.jpg", WithFrameSize(jpeg, 64, 0), JpegError(JERR_EMPTY_IMAGE)},
        {"truncated bitmap", "a.bmp", bmp.left(bmp.size() / 2), bmpUnreadable},
        {"bitmap header cut", "a.bmp", bmp.left(20), bmpUnreadable},
        {"bitmap with 7 bits a pixel", "a.bmp", badBmpHeader, bmpUnreadable},
        {"zero-byte bitmap", "a.bmp", QByteArray(), bmpUnreadable},
        {"JPEG named .bmp", "a.bmp", jpeg, bmpUnreadable},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        folder.Write(c.file, c.bytes);
        const QString path = folder.File(c.file);
        const QString message =
            QString(c.file).endsWith(".jpg") ? MessageOf([&] { LoadJpeg(path); }) : MessageOf([&] { LoadBmp(path); });
        if (c.message.endsWith('#'))
            EXPECT_TRUE(message.startsWith(c.message)) << message.toStdString();
        else
            EXPECT_EQ(message, c.message.contains("%1") ? c.message.arg(path) : c.message);
    }

    // A bitmap header that asks for 30000 x 30000 is refused before anything is made.
    QByteArray hugeBmp = bmp;
    qToLittleEndian<qint32>(30000, hugeBmp.data() + 18);
    qToLittleEndian<qint32>(30000, hugeBmp.data() + 22);
    folder.Write("huge.bmp", hugeBmp);
    EXPECT_EQ(MessageOf([&] { LoadBmp(folder.File("huge.bmp")); }),
              QStringLiteral("画像が大きすぎます (30000 × 30000 ドット)。扱えるのは 2 億画素までです。"));

    // A folder or a missing file.
    ASSERT_TRUE(QDir(folder.Path()).mkdir("x.jpg"));
    ASSERT_TRUE(QDir(folder.Path()).mkdir("x.bmp"));
    for (const QString &name : {QStringLiteral("x.jpg"), QStringLiteral("missing.jpg")})
        EXPECT_EQ(MessageOf([&] { LoadJpeg(folder.File(name)); }),
                  QStringLiteral("ファイル %1 を開けません。").arg(folder.File(name)));
    EXPECT_EQ(MessageOf([&] { LoadBmp(folder.File("x.bmp")); }),
              QStringLiteral("ファイル %1 を開けません。").arg(folder.File("x.bmp")));
}

// Thin and very wide pictures go all the way from the file to the fitted picture.
TEST(BadInput, ExtremeShapes)
{
    TestFolder folder;
    struct Shape
    {
        int w, h;
        QSize fitted;
    };
    const Shape shapes[] = {{1, 1, {95, 95}}, {1, 300, {1, 95}}, {300, 1, {95, 1}}, {30000, 100, {95, 1}}};
    for (const Shape &s : shapes) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        folder.Write("p.jpg", WriteTestJpeg(UniformPicture(s.w, s.h, 30, 140, 220), JpegForm::Baseline, 100));
        folder.Write("p.bmp", WriteTestBmp(UniformPicture(s.w, s.h, 30, 140, 220), 24));
        for (QImage picture : {LoadJpeg(folder.File("p.jpg")), LoadBmp(folder.File("p.bmp"))}) {
            ASSERT_EQ(picture.size(), QSize(s.w, s.h));
            FitToSize(picture, 95);
            ASSERT_EQ(picture.size(), s.fitted);
            EXPECT_NEAR(picture.constScanLine(0)[1], 140, 2);
            EXPECT_GT(EncodeJpeg(picture, 90).size(), 0);
        }
    }
}

} // namespace
