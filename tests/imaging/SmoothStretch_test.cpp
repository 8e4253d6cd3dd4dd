#include "imaging/SmoothStretch.h"

#include "TestPictures.h"
#include "platform/Exception.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

// The generator of smooth_stretch_reference.py: a 32-bit linear congruential generator
// whose bytes are the top 8 bits of each state.
struct Generator
{
    quint32 state;
    uchar Byte()
    {
        state = state * 1664525u + 1013904223u;
        return uchar(state >> 24);
    }
};

QImage GoldenSource(const QString &kind, const QString &arg, int w, int h)
{
    if (kind == "line") {
        QList<int> line;
        for (const QString &v : arg.split(','))
            line.append(v.toInt());
        return LinePicture(line, h > 1);
    }
    Generator g{arg.toUInt()};
    QImage picture(w, h, kind == "idx" ? QImage::Format_Indexed8 : QImage::Format_BGR888);
    if (kind == "idx") {
        QList<QRgb> table;
        for (int i = 0; i < 256; ++i) {
            const uchar r = g.Byte(), green = g.Byte(), b = g.Byte();
            table.append(qRgb(r, green, b));
        }
        picture.setColorTable(table);
    }
    const int rowBytes = kind == "idx" ? w : 3 * w;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < rowBytes; ++x)
            picture.scanLine(y)[x] = g.Byte();
    return picture;
}

// The bytes as rows of numbers, so that a difference shows where it is.
QString Grid(const QByteArray &packed, int width)
{
    QString grid;
    for (qsizetype k = 0; k < packed.size(); ++k)
        grid += QString::number(uchar(packed[k])) + (k % (3 * width) == 3 * width - 1 ? "\n" : k % 3 == 2 ? " | " : " ");
    return grid;
}

// Expected results from smooth_stretch_reference.py, which works the arithmetic out
// apart from this code (its extended precision emulated exactly, its sums unbounded).
TEST(SmoothStretch, GoldenTable)
{
    QFile file(KELVO_SOURCE_DIR "/tests/imaging/smooth_stretch_golden.txt");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    int cases = 0;
    for (; !file.atEnd(); ++cases) {
        const QStringList f = QString::fromLatin1(file.readLine()).simplified().split(' ');
        ASSERT_EQ(f.size(), 8);
        SCOPED_TRACE(f.join(' ').left(80).toStdString());
        const int w = f[3].toInt(), h = f[4].toInt(), nw = f[5].toInt(), nh = f[6].toInt();
        QImage picture = GoldenSource(f[1], f[2], w, h);
        SmoothStretch(picture, nw, nh);
        ASSERT_EQ(picture.format(), QImage::Format_BGR888);
        ASSERT_EQ(picture.size(), QSize(nw, nh));
        QByteArray packed;
        for (int y = 0; y < nh; ++y)
            packed.append(reinterpret_cast<const char *>(picture.constScanLine(y)), 3 * nw);
        if (f[7].startsWith("hex:"))
            EXPECT_EQ(Grid(packed, nw), Grid(QByteArray::fromHex(f[7].mid(4).toLatin1()), nw));
        else
            EXPECT_EQ(QCryptographicHash::hash(packed, QCryptographicHash::Sha256).toHex(), f[7].mid(7).toLatin1());
    }
    EXPECT_GE(cases, 36);
}

TEST(CubicWeights, KnownFractions)
{
    EXPECT_EQ(CubicWeights(0.0L), (std::array<qint32, 4>{0, 65536, 0, 0}));
    EXPECT_EQ(CubicWeights(0.25L), (std::array<qint32, 4>{-3583, 53760, 17920, -2559}));
    EXPECT_EQ(CubicWeights(0.5L), (std::array<qint32, 4>{-4095, 36864, 36864, -4095}));
}

// Invariants over random pictures and sizes, both axes changed in every direction.
TEST(SmoothStretch, RandomInvariants)
{
    QRandomGenerator random(20240601);
    for (int round = 0; round < 60; ++round) {
        const int w = 1 + random.bounded(40), h = 1 + random.bounded(40);
        const int nw = 1 + random.bounded(60), nh = 1 + random.bounded(60);
        SCOPED_TRACE(QStringLiteral("%1x%2 -> %3x%4").arg(w).arg(h).arg(nw).arg(nh).toStdString());

        const uchar b = uchar(random.bounded(256)), g = uchar(random.bounded(256)), r = uchar(random.bounded(256));
        QImage uniform = UniformPicture(w, h, b, g, r);
        SmoothStretch(uniform, nw, nh);
        EXPECT_EQ(uniform, UniformPicture(nw, nh, b, g, r));

        // The bytes of a pixel never mix: each byte position resized alone gives the same.
        const QImage source = RandomPicture(w, h, random.generate());
        QImage whole = source;
        SmoothStretch(whole, nw, nh);
        ASSERT_EQ(whole.size(), QSize(nw, nh));
        for (int c = 0; c < 3; ++c) {
            QImage alone = source;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < 3 * w; ++x)
                    alone.scanLine(y)[x] = x % 3 == c ? alone.scanLine(y)[x] : 0;
            SmoothStretch(alone, nw, nh);
            for (int y = 0; y < nh; ++y)
                for (int x = c; x < 3 * nw; x += 3)
                    ASSERT_EQ(alone.constScanLine(y)[x], whole.constScanLine(y)[x]) << "byte " << x << " row " << y;
        }

        // Enlargement keeps the first and the last pixel of every line.
        QImage wide = source, tall = source;
        SmoothStretch(wide, w + nw, h);
        SmoothStretch(tall, w, h + nh);
        EXPECT_EQ(wide.copy(0, 0, 1, h), source.copy(0, 0, 1, h));
        EXPECT_EQ(wide.copy(w + nw - 1, 0, 1, h), source.copy(w - 1, 0, 1, h));
        EXPECT_EQ(tall.copy(0, 0, w, 1), source.copy(0, 0, w, 1));
        EXPECT_EQ(tall.copy(0, h + nh - 1, w, 1), source.copy(0, h - 1, w, 1));

        // The height pass is the width pass on the transposed picture.
        QImage byRows = source, byColumns = Transposed(source);
        SmoothStretch(byRows, w, nh);
        SmoothStretch(byColumns, nh, w);
        EXPECT_EQ(byRows, Transposed(byColumns));

        // The width goes first: the whole call is the two one-axis calls in that order.
        QImage steps = source;
        SmoothStretch(steps, nw, h);
        SmoothStretch(steps, nw, nh);
        EXPECT_EQ(steps, whole);
    }
}

TEST(SmoothStretch, OwnSizeOnlySetsTheFormat)
{
    const QImage source = RandomPicture(13, 7, 5);
    QImage same = source;
    SmoothStretch(same, 13, 7);
    EXPECT_EQ(same.constBits(), source.constBits()) << "a 24-bit picture is not even copied";

    QImage paletted(3, 2, QImage::Format_Indexed8);
    paletted.setColorTable({qRgb(10, 20, 30), qRgb(200, 100, 50)});
    paletted.fill(1);
    for (const QSize size : {QSize(3, 2), QSize(6, 5), QSize(1, 1)}) {
        QImage picture = paletted;
        SmoothStretch(picture, size.width(), size.height());
        EXPECT_EQ(picture.format(), QImage::Format_BGR888);
        EXPECT_EQ(picture, UniformPicture(size.width(), size.height(), 50, 100, 200));
    }
}

// Ratios above 128 and sides of 32768 or more overflow 32-bit area sums; the result must
// still be the true area mean.
TEST(SmoothStretch, LargeReductionRatios)
{
    for (const int length : {20000, 40000})
        for (const bool vertical : {false, true}) {
            SCOPED_TRACE(std::to_string(length) + (vertical ? " rows" : " columns"));
            QImage uniform = LinePicture(QList<int>(length, 255), vertical);
            SmoothStretch(uniform, vertical ? 1 : 95, vertical ? 95 : 1);
            EXPECT_EQ(LineOf(uniform, vertical), QList<int>(95, 255));

            QList<int> ramp;
            for (int k = 0; k < length; ++k)
                ramp.append(k * 256 / length);
            QImage gradient = LinePicture(ramp, vertical);
            SmoothStretch(gradient, vertical ? 1 : 95, vertical ? 95 : 1);
            const QList<int> got = LineOf(gradient, vertical);
            for (int p = 0; p < 95; ++p) {
                const double from = double(p) * length / 95, to = double(p + 1) * length / 95;
                double sum = 0;
                for (int k = int(from); k < length && k < to; ++k)
                    sum += ramp[k] * (std::min<double>(k + 1, to) - std::max<double>(k, from));
                EXPECT_NEAR(got[p], sum / (to - from), 0.6) << "position " << p;
            }
        }
}

TEST(SmoothStretch, RefusesWhatItCannotMake)
{
    QImage nothing;
    SmoothStretch(nothing, 10, 10);
    EXPECT_TRUE(nothing.isNull());

    for (const QSize size : {QSize(0, 5), QSize(5, 0), QSize(-3, 5), QSize(100000, 100000), QSize(200'000'001, 1)}) {
        QImage picture = RandomPicture(4, 4, 1);
        EXPECT_THROW(SmoothStretch(picture, size.width(), size.height()), Exception) << size.width();
    }
}

} // namespace
