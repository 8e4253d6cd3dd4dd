#include "imaging/Pipeline.h"

#include "TestPictures.h"
#include "platform/Exception.h"
#include "support/TestFolder.h"

#include <QDir>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct FitCase
{
    int w, h, n, fw, fh;
};

TEST(FitToSize, LongerSideBecomesN)
{
    const FitCase cases[] = {
        {640, 480, 95, 95, 71},  {480, 640, 95, 71, 95}, {1600, 1200, 95, 95, 71}, {40, 30, 95, 95, 71},
        {100, 100, 95, 95, 95},  {300, 150, 90, 90, 45}, {95, 50, 95, 95, 50},     {1, 1, 95, 95, 95},
        {30000, 100, 95, 95, 1}, {1, 500, 95, 1, 95},    {500, 1, 120, 120, 1},    {7, 3, 1, 1, 1},
    };
    for (const FitCase &c : cases) {
        QImage picture = RandomPicture(c.w, c.h, 3);
        FitToSize(picture, c.n);
        EXPECT_EQ(picture.size(), QSize(c.fw, c.fh)) << c.w << "x" << c.h << " at " << c.n;
        EXPECT_EQ(picture.format(), QImage::Format_BGR888);
    }

    // Already N on its longer side: only the format changes.
    QImage paletted(95, 40, QImage::Format_Indexed8);
    paletted.setColorTable({qRgb(1, 2, 3)});
    paletted.fill(0);
    FitToSize(paletted, 95);
    EXPECT_EQ(paletted, UniformPicture(95, 40, 3, 2, 1));

    QImage nothing;
    FitToSize(nothing, 95);
    EXPECT_TRUE(nothing.isNull());
    QImage picture = RandomPicture(5, 5, 1);
    EXPECT_THROW(FitToSize(picture, 0), Exception);
}

TEST(Grey, PaletteIsAFallingRamp)
{
    const QList<QRgb> palette = MakeGreyPalette(255);
    ASSERT_EQ(palette.size(), 256);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(palette[i], qRgb(255 - i, 255 - i, 255 - i)) << i;
    EXPECT_EQ(MakeGreyPalette(3), (QList<QRgb>{qRgb(3, 3, 3), qRgb(2, 2, 2), qRgb(1, 1, 1), qRgb(0, 0, 0)}));
}

// The nearest grey by distance in RGB space, found the slow way.
int NearestGrey(int b, int g, int r)
{
    int best = 0;
    long bestDistance = -1;
    for (int level = 0; level < 256; ++level) {
        const long d = long(b - level) * (b - level) + long(g - level) * (g - level) + long(r - level) * (r - level);
        if (bestDistance < 0 || d < bestDistance) {
            best = level;
            bestDistance = d;
        }
    }
    return best;
}

TEST(Grey, NearestGreyPerPixel)
{
    QImage source = RandomPicture(64, 48, 11);
    // A few colours whose mean sits a third away from a whole level.
    const int fixed[][3] = {{0, 0, 1}, {0, 1, 1}, {255, 255, 254}, {255, 254, 254}, {10, 20, 31}, {0, 0, 255}};
    for (int k = 0; k < 6; ++k)
        for (int c = 0; c < 3; ++c)
            source.scanLine(0)[3 * k + c] = uchar(fixed[k][c]);

    QImage grey;
    ConvertToGrey(source, grey);
    ASSERT_EQ(grey.format(), QImage::Format_Indexed8);
    ASSERT_EQ(grey.size(), source.size());
    EXPECT_EQ(grey.colorTable(), MakeGreyPalette(255));
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) {
            const uchar *s = source.constScanLine(y) + 3 * x;
            ASSERT_EQ(grey.constScanLine(y)[x], 255 - NearestGrey(s[0], s[1], s[2])) << x << "," << y;
        }

    QImage twice;
    ConvertToGrey(grey, twice);
    EXPECT_EQ(twice, grey);

    QImage none(QSize(2, 2), QImage::Format_BGR888);
    ConvertToGrey(QImage(), none);
    EXPECT_TRUE(none.isNull());
}

TEST(Jpeg, WrittenAsBaselineWithThreeComponents)
{
    QImage colour = RandomPicture(95, 71, 8);
    QImage grey;
    ConvertToGrey(colour, grey);
    for (const QImage &picture : {colour, grey}) {
        const QByteArray bytes = EncodeJpeg(picture, 75);
        ASSERT_TRUE(bytes.startsWith("\xFF\xD8"));
        const FrameHeader frame = ReadFrameHeader(bytes);
        EXPECT_EQ(frame.Marker, 0xC0);
        EXPECT_EQ(frame.Components, 3);
        EXPECT_EQ(QSize(frame.Width, frame.Height), QSize(95, 71));
    }

    // Grey is widened to red = green = blue = level before encoding.
    QImage flatGrey(16, 16, QImage::Format_Indexed8);
    flatGrey.setColorTable(MakeGreyPalette(255));
    flatGrey.fill(255 - 180);
    const QImage decoded = DecodeJpeg(EncodeJpeg(flatGrey, 100));
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(decoded.constScanLine(8)[3 * 8 + c], 180, 1);

    // Colours keep their places: blue stays blue.
    const QImage blue = DecodeJpeg(EncodeJpeg(UniformPicture(16, 16, 250, 0, 0), 100));
    EXPECT_GT(blue.constScanLine(4)[12], 240);
    EXPECT_LT(blue.constScanLine(4)[14], 10);

    EXPECT_TRUE(EncodeJpeg(QImage(), 50).isEmpty());
}

TEST(Jpeg, EncodeUnderLimitWalksDownFromTheTop)
{
    TestFolder folder;
    const QString path = folder.File("kelvo.jpg");
    QImage picture = RandomPicture(120, 90, 21);
    FitToSize(picture, 95);

    EXPECT_EQ(EncodeUnderLimit(picture, path, 100000), 100);
    EXPECT_EQ(folder.Read("kelvo.jpg"), EncodeJpeg(picture, 100));

    for (const QImage &noise : {picture, RandomPicture(400, 300, 22)}) {
        SCOPED_TRACE(noise.width());
        // Noise cannot shrink to 100 bytes: every quality is tried and quality 1 stays.
        EXPECT_EQ(EncodeUnderLimit(noise, path, 100), 1);
        EXPECT_EQ(folder.Read("kelvo.jpg"), EncodeJpeg(noise, 1));

        // In between, the first quality from the top that fits, and the file is that attempt.
        const qsizetype at60 = EncodeJpeg(noise, 60).size();
        const int quality = EncodeUnderLimit(noise, path, int(at60));
        EXPECT_GE(quality, 60);
        EXPECT_EQ(folder.Read("kelvo.jpg"), EncodeJpeg(noise, quality));
        for (int q = quality + 1; q <= 100; ++q)
            EXPECT_GT(EncodeJpeg(noise, q).size(), at60) << q;
    }

    // A longer file before does not leave its tail behind.
    EncodeUnderLimit(RandomPicture(400, 300, 23), path, 1000000);
    EXPECT_EQ(EncodeUnderLimit(picture, path, 1000000), 100);
    EXPECT_EQ(folder.Read("kelvo.jpg"), EncodeJpeg(picture, 100));

    // No picture: an empty file, within any limit.
    EXPECT_EQ(EncodeUnderLimit(QImage(), path, 4800), 100);
    EXPECT_TRUE(QFileInfo(path).exists());
    EXPECT_EQ(QFileInfo(path).size(), 0);
}

TEST(Jpeg, FileThatCannotBeCreated)
{
    TestFolder folder;
    ASSERT_TRUE(QDir(folder.Path()).mkdir("kelvo.jpg"));
    const QString path = folder.File("kelvo.jpg");
    for (const auto &attempt : {std::function<void()>([&] { SaveJpeg(RandomPicture(8, 8, 1), path, 50); }),
                                std::function<void()>([&] { EncodeUnderLimit(RandomPicture(8, 8, 1), path, 4800); })}) {
        try {
            attempt();
            FAIL() << "no error";
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message, QStringLiteral("ファイル %1 を作成できません").arg(path));
        }
    }
}

} // namespace
