#include "TestPictures.h"

#include <malloc.h>

namespace {

TEST(FitToSize, LongerSideBecomesN)
{
    // The last three have a shorter side that computes to 0 dots: it becomes 1.
    const int cases[][5] = {{640, 480, 95, 95, 71}, {480, 640, 95, 71, 95}, {1600, 1200, 95, 95, 71},
                            {40, 30, 95, 95, 71},   {100, 100, 95, 95, 95}, {300, 150, 90, 90, 45},
                            {95, 50, 95, 95, 50},   {1, 1, 95, 95, 95},     {30000, 100, 95, 95, 1},
                            {1, 500, 95, 1, 95},    {7, 3, 1, 1, 1}};
    for (const auto &[w, h, n, fittedW, fittedH] : cases) {
        QImage picture = RandomPicture(w, h, 3);
        FitToSize(picture, n);
        EXPECT_EQ(picture.size(), QSize(fittedW, fittedH)) << w << "x" << h << " at " << n;
    }
}

TEST(Grey, NearestGreyPerPixel)
{
    const QImage source = RandomPicture(64, 48, 11);
    QImage grey, twice;
    ConvertToGrey(source, grey);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(grey.colorTable().value(i), qRgb(255 - i, 255 - i, 255 - i)) << i;
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) {
            // The nearest grey in RGB distance, found the slow way.
            const uchar *s = source.constScanLine(y) + 3 * x;
            const auto distance = [s](int v) {
                return (s[0] - v) * (s[0] - v) + (s[1] - v) * (s[1] - v) + (s[2] - v) * (s[2] - v);
            };
            int nearest = 0;
            for (int level = 1; level < 256; ++level)
                nearest = distance(level) < distance(nearest) ? level : nearest;
            ASSERT_EQ(grey.constScanLine(y)[x], 255 - nearest) << x << "," << y;
        }
    ConvertToGrey(grey, twice);
    EXPECT_EQ(twice, grey);
}

TEST(Jpeg, EncodeUnderLimitWalksDownFromTheTop)
{
    TestFolder folder;
    const QString path = "kelvo.jpg";
    const QImage picture = RandomPicture(95, 71, 21);

    EXPECT_EQ(EncodeUnderLimit(picture, path, 100000), 100);
    EXPECT_EQ(folder.Read("kelvo.jpg"), EncodeJpeg(picture, 100));
    // Noise cannot shrink to 100 bytes: every quality is tried and quality 1 stays, with no tail of the longer file.
    EXPECT_EQ(EncodeUnderLimit(picture, path, 100), 1);
    EXPECT_EQ(folder.Read("kelvo.jpg"), EncodeJpeg(picture, 1));
    // In between, the first quality from the top that fits, and the file is that attempt.
    const qsizetype at60 = EncodeJpeg(picture, 60).size();
    const int quality = EncodeUnderLimit(picture, path, int(at60));
    EXPECT_EQ(folder.Read("kelvo.jpg"), EncodeJpeg(picture, quality));
    for (int q = quality + 1; q <= 100; ++q)
        EXPECT_GT(EncodeJpeg(picture, q).size(), at60) << q;
    // No picture: an empty file, within any limit.
    EXPECT_EQ(EncodeUnderLimit(QImage(), path, 4800), 100);
    EXPECT_TRUE(QFileInfo::exists(path) && QFileInfo(path).size() == 0);
    // A folder where the file should go.
    QFile::remove(path);
    ASSERT_TRUE(QDir().mkdir(path));
    EXPECT_EQ(FailureOf([&] { EncodeUnderLimit(picture, path, 4800); }),
              QStringLiteral("ファイル %1 を作成できません").arg(path));
}

// What a drop did before the rows were fitted as they came; inks are fitted as colours, black as grey.
QImage DecodedWholeThenFitted(const QString &path, int n)
{
    Orientation turn;
    QImage picture = LoadJpeg(path, &turn);
    if (picture.format() != QImage::Format_RGBA8888) {
        FitToSize(picture, n, turn);
        return picture;
    }
    QImage inks = picture.convertToFormat(QImage::Format_RGB888);
    QImage black = picture.convertToFormat(QImage::Format_Alpha8);
    black.reinterpretAsFormat(QImage::Format_Grayscale8);
    FitToSize(inks, n, turn);
    FitToSize(black, n, turn);
    QImage joined(inks.size(), QImage::Format_RGBA8888);
    for (int y = 0; y < inks.height(); ++y)
        for (int x = 0; x < inks.width(); ++x)
            joined.setPixel(x, y, (inks.pixel(x, y) & 0xFFFFFF) | qRed(black.pixel(x, y)) << 24);
    return joined;
}

// A cut or an end marker in the rows fails as it did decoded whole; spans of 1 to 60 rows across
// libjpeg's bands of 8 or 16, a lone row or column, odd widths and enlargements give the same bytes.
TEST(FitWhileDecoding, SameBytesAndFailuresAsTheWholePicture)
{
    TestFolder folder;
    const QString path = "p.jpg";
    const QByteArray jpeg = WriteTestJpeg(RandomPicture(300, 200, 4), JpegForm::Baseline);
    const qsizetype scan = jpeg.indexOf("\xFF\xDA");
    for (int eighth = 1; eighth < 8; ++eighth) {
        const qsizetype at = scan + (jpeg.size() - scan) * eighth / 8;
        for (const QByteArray &bytes : {jpeg.left(at), QByteArray(jpeg).insert(at, "\xFF\xD9")}) {
            folder.Write(path, bytes);
            const QString message = FailureOf([&] { LoadFittedJpeg(path, 20); });
            EXPECT_FALSE(message.isEmpty()) << at;
            EXPECT_EQ(message, FailureOf([&] { DecodedWholeThenFitted(path, 20); })) << at;
        }
    }

    const int sizes[][3] = {{64, 50, 3},  {50, 64, 3},  {300, 200, 5}, {101, 67, 95}, {37, 29, 20},
                            {200, 1, 95}, {1, 200, 95}, {333, 17, 95}, {40, 30, 95}};
    for (const auto &[w, h, n] : sizes)
        for (const JpegForm form :
             {JpegForm::Baseline, JpegForm::Full444, JpegForm::Greyscale, JpegForm::AdobeCmyk, JpegForm::Progressive})
            for (int exif = 1; exif <= 8; ++exif) {
                folder.Write(path, WithApp1(WriteTestJpeg(RandomPicture(w, h, quint32(exif)), form), ExifBlock(exif)));
                ASSERT_EQ(LoadFittedJpeg(path, n), DecodedWholeThenFitted(path, n))
                    << w << "x" << h << " at " << n << ", form " << int(form) << ", orientation " << exif;
            }
}

// A 16000 x 2000 photo would take 96 MB decoded whole: dropped in a child, its peak stays far
// below that. Cut halfway through its rows, its drop fails and frees what the fit had taken.
TEST(FitWhileDecoding, TheWholePictureIsNeverHeld)
{
    TestFolder folder;
    const QByteArray jpeg = WriteTestJpeg(SmoothPicture(16000, 16), JpegForm::Baseline, 90, 2000);
    folder.Write("big.jpg", jpeg);
    folder.Write("cut.jpg", jpeg.left(jpeg.size() / 2));

    const qint64 residentKilobytes =
        ReadFile("/proc/self/statm").split(' ').value(1).toLongLong() * (sysconf(_SC_PAGESIZE) / 1024);
    const auto [status, peak] =
        RunInChild([] { return LoadPicture("big.jpg", PictureFormat::Jpeg, 95).size() == QSize(95, 11) ? 0 : 1; });
    EXPECT_EQ(status, 0);
    EXPECT_LT(peak, residentKilobytes + 32 * 1024) << "kilobytes at the child's peak";

    const auto dropCut = [] { return FailureOf([] { LoadPicture("cut.jpg", PictureFormat::Jpeg, 95); }); };
    const auto heapBytes = [] { return qint64(mallinfo2().uordblks) + qint64(mallinfo2().hblkhd); };
    EXPECT_FALSE(dropCut().isEmpty());
    const qint64 before = heapBytes();
    for (int round = 0; round < 3; ++round)
        dropCut();
    EXPECT_LT(heapBytes() - before, 256 * 1024);
}

} // namespace
