#include "imaging/SmoothStretch.h"

#include "TestPictures.h"

#include <QCryptographicHash>

namespace {

// Expected results from smooth_stretch_reference.py, which works the arithmetic out
// apart from this code (its extended precision emulated exactly, its sums unbounded).
TEST(SmoothStretch, GoldenTable)
{
    const QList<QByteArray> lines =
        ReadFile(KELVO_SOURCE_DIR "/tests/imaging/smooth_stretch_golden.txt").trimmed().split('\n');
    for (const QByteArray &line : lines) {
        const QStringList f = QString::fromLatin1(line).split(' ');
        ASSERT_EQ(f.size(), 8);
        SCOPED_TRACE(line.left(80).toStdString());
        const int w = f[3].toInt(), h = f[4].toInt(), nw = f[5].toInt(), nh = f[6].toInt();
        // The source: grey values along a line, or the top bytes of the reference's linear congruential generator.
        quint32 state = f[2].toUInt();
        const auto next = [&state] { return uchar((state = state * 1664525u + 1013904223u) >> 24); };
        QImage picture(w, h, f[1] == "idx" ? QImage::Format_Indexed8 : QImage::Format_BGR888);
        if (f[1] == "idx")
            picture.setColorCount(256);
        for (int i = 0; i < picture.colorCount(); ++i) {
            const uchar r = next(), g = next(), b = next();
            picture.setColor(i, qRgb(r, g, b));
        }
        const QStringList values = f[2].split(',');
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < (f[1] == "idx" ? w : 3 * w); ++x)
                picture.scanLine(y)[x] = f[1] == "line" ? uchar(values[x / 3 + y].toInt()) : next();
        SmoothStretch(picture, nw, nh);
        ASSERT_EQ(picture.size(), QSize(nw, nh));
        QByteArray packed;
        for (int y = 0; y < nh; ++y)
            packed.append(reinterpret_cast<const char *>(picture.constScanLine(y)), 3 * nw);
        EXPECT_EQ(f[7].startsWith("hex:")
                      ? "hex:" + packed.toHex()
                      : "sha256:" + QCryptographicHash::hash(packed, QCryptographicHash::Sha256).toHex(),
                  f[7]);
    }
}

// Sizes that enlarge, shrink or keep each axis, for every orientation.
TEST(SmoothStretch, TurnedGivesTheBytesOfTurningFirst)
{
    const QImage stored = RandomPicture(7, 5, 40);
    for (int exif = 1; exif <= 8; ++exif) {
        const QImage upright = TurnedByQt(stored, exif);
        const int w = upright.width(), h = upright.height();
        for (const QSize size : {QSize(w, h), QSize(3 * w, 2 * h + 1), QSize(2, 3), QSize(w, 2), QSize(2 * w, h)}) {
            QImage expected = upright, turned = stored;
            SmoothStretch(expected, size.width(), size.height());
            SmoothStretchTurned(turned, size.width(), size.height(), FromExif(exif));
            EXPECT_EQ(turned, expected) << exif << " to " << size.width() << "x" << size.height();
        }
    }
}

// A null picture is left alone; a size that cannot be made throws.
TEST(SmoothStretch, RefusesWhatItCannotMake)
{
    QImage nothing, picture = RandomPicture(4, 4, 1);
    SmoothStretch(nothing, 10, 10);
    FitToSize(nothing, 95);
    EXPECT_TRUE(nothing.isNull());
    EXPECT_THROW(FitToSize(picture, 0), Exception);
    for (const QSize size : {QSize(0, 5), QSize(5, 0), QSize(-3, 5), QSize(100000, 100000), QSize(200'000'001, 1)})
        EXPECT_THROW(SmoothStretch(picture, size.width(), size.height()), Exception) << size.width();
}

} // namespace
