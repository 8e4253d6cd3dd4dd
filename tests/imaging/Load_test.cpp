#include "imaging/Pipeline.h"

#include "TestPictures.h"
#include "platform/Exception.h"
#include "support/TestFolder.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// Smooth, with some colour, so that JPEG keeps it close.
QImage SmoothPicture(int w, int h)
{
    QImage picture(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uchar *at = picture.scanLine(y) + 3 * x;
            at[0] = uchar(40 + 150 * x / std::max(1, w - 1));
            at[1] = uchar(200 - 150 * y / std::max(1, h - 1));
            at[2] = 120;
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

// djpeg, an independent reader.
QImage DecodeWithDjpeg(const QString &path)
{
    QProcess djpeg;
    djpeg.start("djpeg", {"-pnm", path});
    if (!djpeg.waitForFinished(20000) || djpeg.exitCode() != 0)
        return QImage();
    return QImage::fromData(djpeg.readAllStandardOutput(), "PPM").convertToFormat(QImage::Format_BGR888);
}

TEST(LoadJpeg, EveryFormLibjpegReads)
{
    TestFolder folder;
    const QImage source = SmoothPicture(37, 29);
    for (const JpegForm form : {JpegForm::Baseline, JpegForm::Progressive, JpegForm::Greyscale, JpegForm::Restart,
                                JpegForm::AdobeCmyk, JpegForm::AdobeYcck, JpegForm::PlainCmyk}) {
        SCOPED_TRACE(int(form));
        folder.Write("p.jpg", WriteTestJpeg(source, form, 100));
        const QImage loaded = LoadJpeg(folder.File("p.jpg"));
        ASSERT_EQ(loaded.format(), QImage::Format_BGR888);
        ASSERT_EQ(loaded.size(), source.size());
        if (form == JpegForm::Greyscale) {
            const uchar *at = loaded.constScanLine(10) + 3 * 10;
            EXPECT_TRUE(at[0] == at[1] && at[1] == at[2]);
        } else {
            EXPECT_LE(LargestDifference(loaded, source), 8);
        }
        // libjpeg's own decoder gives the very same bytes for the forms it writes as colour.
        if (form == JpegForm::Baseline || form == JpegForm::Progressive || form == JpegForm::Restart) {
            EXPECT_EQ(loaded, DecodeWithDjpeg(folder.File("p.jpg")));
        }
    }
}

// From the dropped photo to the mailed file, in colour and in grey: baseline with three
// components, and an independent decoder reads it at the fitted size.
TEST(Jpeg, DroppedPhotoToMailedFile)
{
    TestFolder folder;
    folder.Write("photo.JPG", WriteTestJpeg(SmoothPicture(640, 480), JpegForm::Progressive));
    QImage colour = LoadJpeg(folder.File("photo.JPG")), grey;
    FitToSize(colour, 95);
    ASSERT_EQ(colour.size(), QSize(95, 71));
    ConvertToGrey(colour, grey);
    for (const QImage &picture : {colour, grey}) {
        SCOPED_TRACE(picture.format());
        EncodeUnderLimit(picture, folder.File("kelvo.jpg"), 4800);
        const QByteArray bytes = folder.Read("kelvo.jpg");
        EXPECT_LE(bytes.size(), 4800);
        const FrameHeader frame = ReadFrameHeader(bytes);
        EXPECT_EQ(frame.Marker, 0xC0);
        EXPECT_EQ(frame.Components, 3);
        const QImage read = DecodeWithDjpeg(folder.File("kelvo.jpg"));
        ASSERT_EQ(read.size(), QSize(95, 71));
        // Grey is widened to red = green = blue = level.
        EXPECT_LE(LargestDifference(read, picture.convertToFormat(QImage::Format_BGR888)), 40);
    }
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
    for (const Form f :
         {Form{1, false, false}, Form{4, false, false}, Form{8, false, false}, Form{8, false, true},
          Form{16, false, false}, Form{24, false, false}, Form{24, true, false}, Form{32, false, false}}) {
        SCOPED_TRACE(std::to_string(f.bits) + (f.topDown ? " top-down" : "") + (f.rle8 ? " rle8" : ""));
        folder.Write("p.bmp", WriteTestBmp(source, f.bits, f.topDown, f.rle8));
        QImage loaded;
        ASSERT_NO_THROW(loaded = LoadBmp(folder.File("p.bmp")));
        ASSERT_EQ(loaded.format(), QImage::Format_BGR888);
        ASSERT_EQ(loaded.size(), source.size());
        // Paletted: the grey ramp entry of the green byte.
        QImage expected = source;
        const int top = (1 << std::min(f.bits, 8)) - 1;
        for (int y = 0; f.bits <= 8 && y < source.height(); ++y)
            for (uchar *p = expected.scanLine(y), *end = p + 3 * source.width(); p < end; p += 3)
                p[0] = p[1] = p[2] = uchar(int(p[1] * uint(top) / 255) * 255 / top);
        EXPECT_LE(LargestDifference(loaded, expected), f.bits == 16 ? 8 : 0);
    }
}

TEST(BadInput, ClearMessageNeverACrash)
{
    TestFolder folder;
    const QByteArray jpeg = WriteTestJpeg(SmoothPicture(64, 48), JpegForm::Baseline);
    const QByteArray progressive = WriteTestJpeg(SmoothPicture(64, 48), JpegForm::Progressive);
    const QByteArray bmp = WriteTestBmp(SmoothPicture(64, 48), 24);
    const int frame = int(jpeg.indexOf("\xFF\xC0")), table = int(jpeg.indexOf("\xFF\xC4"));
    auto patched = [](QByteArray bytes, int at, const QByteArray &with) {
        return bytes.replace(at, with.size(), with);
    };
    QByteArray cutScan = jpeg;
    cutScan.insert(int(jpeg.indexOf("\xFF\xDA")) + 200, "\xFF\xD9"); // end of image inside the scan data
    auto jpegError = [](int code) { return QStringLiteral("JPEG エラー #%1").arg(code); };
    const QString bmpUnreadable = QStringLiteral("ビットマップ ファイル %1 を読み込めません。");
    const QString tooLarge = QStringLiteral("画像が大きすぎます (%1 ドット)。扱えるのは 2 億画素までです。");

    const struct
    {
        const char *name, *file;
        QByteArray bytes;
        QString message; // %1 is the path
    } cases[] = {
        {"truncated baseline", "a.jpg", jpeg.left(jpeg.size() / 2), jpegError(JWRN_JPEG_EOF)},
        // Cut inside a table between two scans: the end marker put back ends that table early.
        {"truncated progressive", "a.jpg", progressive.left(progressive.size() * 2 / 3),
         jpegError(JERR_BAD_HUFF_TABLE)},
        {"cut inside the headers", "a.jpg", jpeg.left(100), jpegError(JWRN_JPEG_EOF)},
        {"marker inside the scan", "a.jpg", cutScan, jpegError(JWRN_HIT_MARKER)},
        {"sample precision 12", "a.jpg", patched(jpeg, frame + 4, "\x0C"), jpegError(JERR_BAD_PRECISION)},
        {"Huffman table class 7", "a.jpg", patched(jpeg, table + 4, "\x7F"), jpegError(JERR_DHT_INDEX)},
        {"zero bytes", "a.jpg", QByteArray(), jpegError(JERR_INPUT_EMPTY)},
        {"bitmap named .jpg", "a.jpg", bmp, jpegError(JERR_NO_SOI)},
        {"huge size in the header", "a.jpg", patched(jpeg, frame + 5, "\xEA\x60\xEA\x60"),
         tooLarge.arg("60000 × 60000")},
        {"zero height in the header", "a.jpg", patched(jpeg, frame + 5, QByteArray(2, 0)), jpegError(JERR_EMPTY_IMAGE)},
        {"truncated bitmap", "a.bmp", bmp.left(bmp.size() / 2), bmpUnreadable},
        {"bitmap header cut", "a.bmp", bmp.left(20), bmpUnreadable},
        {"bitmap with 7 bits a pixel", "a.bmp", patched(bmp, 28, "\x07"), bmpUnreadable},
        {"huge bitmap", "a.bmp", patched(bmp, 18, QByteArray("\x30\x75\0\0\x30\x75\0\0", 8)),
         tooLarge.arg("30000 × 30000")},
        {"zero-byte bitmap", "a.bmp", QByteArray(), bmpUnreadable},
        {"JPEG named .bmp", "a.bmp", jpeg, bmpUnreadable},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        folder.Write(c.file, c.bytes);
        const QString path = folder.File(c.file);
        const bool isJpeg = QString(c.file).endsWith(".jpg");
        EXPECT_EQ(isJpeg ? MessageOf([&] { LoadJpeg(path); }) : MessageOf([&] { LoadBmp(path); }),
                  c.message.contains("%1") ? c.message.arg(path) : c.message);
    }

    // Complete picture data without the end-of-image marker is the whole picture.
    for (const QByteArray &whole : {jpeg, progressive}) {
        folder.Write("unended.jpg", whole.chopped(2));
        EXPECT_EQ(LoadJpeg(folder.File("unended.jpg")), DecodeJpeg(whole));
    }

    ASSERT_TRUE(QDir(folder.Path()).mkdir("x.jpg"));
    ASSERT_TRUE(QDir(folder.Path()).mkdir("x.bmp"));
    const QString unopenable = QStringLiteral("ファイル %1 を開けません。");
    for (const char *name : {"x.jpg", "missing.jpg"})
        EXPECT_EQ(MessageOf([&] { LoadJpeg(folder.File(name)); }), unopenable.arg(folder.File(name)));
    EXPECT_EQ(MessageOf([&] { LoadBmp(folder.File("x.bmp")); }), unopenable.arg(folder.File("x.bmp")));
}

// Thin and very wide pictures go all the way from the file to the mailed bytes.
TEST(BadInput, ExtremeShapes)
{
    TestFolder folder;
    for (const QSize size : {QSize(1, 1), QSize(1, 300), QSize(300, 1), QSize(30000, 100)}) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        const QImage source = UniformPicture(size.width(), size.height(), 30, 140, 220);
        folder.Write("p.jpg", WriteTestJpeg(source, JpegForm::Baseline, 100));
        folder.Write("p.bmp", WriteTestBmp(source, 24));
        for (QImage picture : {LoadJpeg(folder.File("p.jpg")), LoadBmp(folder.File("p.bmp"))}) {
            ASSERT_EQ(picture.size(), size);
            FitToSize(picture, 95);
            EXPECT_EQ(std::max(picture.width(), picture.height()), 95);
            EXPECT_NEAR(picture.constScanLine(0)[1], 140, 2);
            EXPECT_GT(EncodeJpeg(picture, 90).size(), 0);
        }
    }
}

} // namespace
