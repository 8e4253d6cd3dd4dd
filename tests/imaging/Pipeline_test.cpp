#include "TestPictures.h"

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
    ASSERT_EQ(grey.format(), QImage::Format_Indexed8);
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
    QImage picture = RandomPicture(120, 90, 21);
    FitToSize(picture, 95);

    EXPECT_EQ(EncodeUnderLimit(picture, path, 100000), 100);
    EXPECT_EQ(folder.Read("kelvo.jpg"), EncodeJpeg(picture, 100));
    // Noise cannot shrink to 100 bytes: every quality is tried and quality 1 stays.
    EXPECT_EQ(EncodeUnderLimit(picture, path, 100), 1);
    EXPECT_EQ(folder.Read("kelvo.jpg"), EncodeJpeg(picture, 1));
    // In between, the first quality from the top that fits, and the file is that attempt.
    const qsizetype at60 = EncodeJpeg(picture, 60).size();
    const int quality = EncodeUnderLimit(picture, path, int(at60));
    EXPECT_EQ(folder.Read("kelvo.jpg"), EncodeJpeg(picture, quality));
    for (int q = quality + 1; q <= 100; ++q)
        EXPECT_GT(EncodeJpeg(picture, q).size(), at60) << q;
    // A longer file before leaves no tail behind.
    EncodeUnderLimit(RandomPicture(400, 300, 23), path, 1000000);
    EncodeUnderLimit(picture, path, 1000000);
    EXPECT_EQ(folder.Read("kelvo.jpg"), EncodeJpeg(picture, 100));
    // No picture: an empty file, within any limit.
    EXPECT_EQ(EncodeUnderLimit(QImage(), path, 4800), 100);
    EXPECT_TRUE(QFileInfo::exists(path) && QFileInfo(path).size() == 0);
    // A folder where the file should go.
    QFile::remove(path);
    ASSERT_TRUE(QDir().mkdir(path));
    EXPECT_EQ(FailureOf([&] { EncodeUnderLimit(picture, path, 4800); }),
              QStringLiteral("ファイル %1 を作成できません").arg(path));
}

} // namespace
