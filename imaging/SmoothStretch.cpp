#include "imaging/SmoothStretch.h"

#include "platform/Exception.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

// Fixed point: 65536 stands for 1.0.
//
// Headroom. The cubic sum of four bytes with weights whose magnitudes add up to at most
// about 1.3 x 65536 stays below 255 x 86000 < 2^25, so 32 bits hold it with room to spare.
// The area sum of one span is up to 255 x 65536 x Sn / Dn, which passes 2^31 once the
// reduction ratio exceeds about 128 (a 20000-dot photo fitted to 95); positions such as
// Sn x b and Sn x 65536 pass it once a side reaches 32768. Those are therefore held in
// 64 bits: where 32 bits would not have overflowed, every quotient and every stored byte
// is the same.

namespace {

constexpr qint32 One = 65536;
constexpr qint32 MaxFixed = 255 * One;

struct Cubic
{
    qint32 w0, w1, w2, w3;
};

// Where destination position p of an enlargement from sn to dn falls in the source: the
// index of the tap left of it and the fraction beyond that tap.
void EnlargePosition(qint64 sn, qint64 dn, qint64 p, int &i, long double &t)
{
    const long double pos = static_cast<long double>((sn - 1) * p) / static_cast<long double>(dn - 1);
    i = static_cast<int>(pos);
    t = pos - static_cast<long double>(i);
}

// The Lagrange basis of the nodes 0..3 at d = t + 1, in 16.16. Each product is formed
// left to right with the divisor last, and 0.5 is added before truncating toward zero
// (which is not rounding for the negative outer weights: t = 0.5 gives -4095).
Cubic LagrangeWeights(long double t)
{
    const long double d = t + 1;
    Cubic w;
    w.w0 = static_cast<qint32>((d - 1) * 65536 * (d - 2) * (d - 3) / -6 + 0.5L);
    w.w1 = static_cast<qint32>(d * 65536 * (d - 2) * (d - 3) / 2 + 0.5L);
    w.w2 = static_cast<qint32>(d * 65536 * (d - 1) * (d - 3) / -2 + 0.5L);
    w.w3 = static_cast<qint32>(d * 65536 * (d - 1) * (d - 2) / 6 + 0.5L);
    return w;
}

inline uchar CubicByte(const uchar *s0, const uchar *s1, const uchar *s2, const uchar *s3, const Cubic &w)
{
    qint32 v = *s0 * w.w0 + *s1 * w.w1 + *s2 * w.w2 + *s3 * w.w3 + 32768;
    v = std::clamp(v, 0, MaxFixed);
    return static_cast<uchar>(v >> 16);
}

// The end intervals interpolate linearly in floating point, as the set-up does.
inline uchar LinearByte(uchar a, uchar b, long double t)
{
    return static_cast<uchar>(static_cast<int>(a * (1 - t) + b * t + 0.5L));
}

// Span boundary b of a reduction from sn to dn: the source index where it falls and the
// covered fraction of that pixel in 16.16.
void ShrinkBoundary(qint64 sn, qint64 dn, qint64 b, qint64 &index, qint32 &fraction)
{
    const long double q = static_cast<long double>(sn * b) / static_cast<long double>(dn);
    index = static_cast<qint64>(q);
    fraction = static_cast<qint32>((q - static_cast<long double>(index)) * 65536);
}

// The rounded span length in 16.16; every area sum is divided by it.
qint64 ShrinkScale(qint64 sn, qint64 dn)
{
    return static_cast<qint64>(static_cast<long double>(sn * One) / static_cast<long double>(dn) + 0.5L);
}

inline uchar AreaByte(qint64 sum, qint64 half, qint64 scale)
{
    // The weights of a span can add up to a unit or two more than the scale; a byte never
    // wraps because of that.
    return static_cast<uchar>(std::min<qint64>((sum + half) / scale, 255));
}

QString SizeText(qint64 width, qint64 height)
{
    return QStringLiteral("%1 × %2").arg(width).arg(height);
}

} // namespace

std::array<qint32, 4> CubicWeights(long double t)
{
    const Cubic w = LagrangeWeights(t);
    return {w.w0, w.w1, w.w2, w.w3};
}

void CheckPictureSize(qint64 width, qint64 height)
{
    if (width < 1 || height < 1)
        throw Exception(QStringLiteral("画像の大きさ %1 ドットは不正です。").arg(SizeText(width, height)));
    if (width > MaxPicturePixels || height > MaxPicturePixels || width * height > MaxPicturePixels)
        throw Exception(QStringLiteral("画像が大きすぎます (%1 ドット)。扱えるのは 2 億画素までです。")
                            .arg(SizeText(width, height)));
}

QImage NewPicture(int width, int height, QImage::Format format)
{
    CheckPictureSize(width, height);
    QImage image(width, height, format);
    if (image.isNull())
        throw Exception(
            QStringLiteral("画像 (%1 ドット) のためのメモリを確保できません。").arg(SizeText(width, height)));
    return image;
}

void EnlargeHorizontal(const QImage &source, QImage &dest)
{
    const int sn = source.width();
    const int dn = dest.width();
    const int rows = std::min(source.height(), dest.height());

    std::vector<int> index(dn);
    std::vector<Cubic> weights(dn);
    std::vector<long double> fraction(dn);
    for (int p = 0; p < dn; ++p) {
        EnlargePosition(sn, dn, p, index[p], fraction[p]);
        weights[p] = LagrangeWeights(fraction[p]);
    }

    for (int y = 0; y < rows; ++y) {
        const uchar *s = source.constScanLine(y);
        uchar *d = dest.scanLine(y);
        for (int p = 0; p < dn; ++p, d += 3) {
            const int i = index[p];
            const uchar *at = s + 3 * static_cast<qsizetype>(i);
            if (i == sn - 1) {
                d[0] = at[0];
                d[1] = at[1];
                d[2] = at[2];
            } else if (i == 0 || i == sn - 2) {
                const long double t = fraction[p];
                for (int c = 0; c < 3; ++c)
                    d[c] = LinearByte(at[c], at[c + 3], t);
            } else {
                const Cubic &w = weights[p];
                for (int c = 0; c < 3; ++c)
                    d[c] = CubicByte(at + c - 3, at + c, at + c + 3, at + c + 6, w);
            }
        }
    }
}

void EnlargeVertical(const QImage &source, QImage &dest)
{
    const int sn = source.height();
    const int dn = dest.height();
    const qsizetype bytes = 3 * static_cast<qsizetype>(std::min(source.width(), dest.width()));

    std::vector<Cubic> weights(dn);
    for (int p = 0; p < dn; ++p) {
        int i;
        long double t;
        EnlargePosition(sn, dn, p, i, t);
        weights[p] = LagrangeWeights(t);
    }

    for (int p = 0; p < dn; ++p) {
        int i;
        long double t;
        EnlargePosition(sn, dn, p, i, t);
        uchar *d = dest.scanLine(p);
        if (i == sn - 1) {
            std::memcpy(d, source.constScanLine(i), bytes);
        } else if (i == 0 || i == sn - 2) {
            const uchar *a = source.constScanLine(i);
            const uchar *b = source.constScanLine(i + 1);
            for (qsizetype x = 0; x < bytes; ++x)
                d[x] = LinearByte(a[x], b[x], t);
        } else {
            const uchar *s0 = source.constScanLine(i - 1);
            const uchar *s1 = source.constScanLine(i);
            const uchar *s2 = source.constScanLine(i + 1);
            const uchar *s3 = source.constScanLine(i + 2);
            const Cubic &w = weights[p];
            for (qsizetype x = 0; x < bytes; ++x)
                d[x] = CubicByte(s0 + x, s1 + x, s2 + x, s3 + x, w);
        }
    }
}

void ShrinkHorizontal(const QImage &source, QImage &dest)
{
    const qint64 sn = source.width();
    const int dn = dest.width();
    const int rows = std::min(source.height(), dest.height());

    std::vector<qint64> index(dn + 1);
    std::vector<qint32> fraction(dn + 1);
    for (int b = 0; b <= dn; ++b)
        ShrinkBoundary(sn, dn, b, index[b], fraction[b]);
    const qint64 scale = ShrinkScale(sn, dn);
    const qint64 half = (scale + 1) / 2;

    for (int y = 0; y < rows; ++y) {
        const uchar *s = source.constScanLine(y);
        uchar *d = dest.scanLine(y);
        qint64 c = 0;
        qint32 wf = One;
        for (int p = 0; p < dn; ++p, d += 3) {
            const qint64 n = index[p + 1];
            const qint32 wl = fraction[p + 1];
            qint64 sum0 = 0, sum1 = 0, sum2 = 0;
            if (wf != 0) {
                const uchar *at = s + 3 * c;
                sum0 = qint64(at[0]) * wf;
                sum1 = qint64(at[1]) * wf;
                sum2 = qint64(at[2]) * wf;
            }
            // Whole pixels weigh 65536 each: add the bytes, then scale once.
            quint64 full0 = 0, full1 = 0, full2 = 0;
            for (const uchar *at = s + 3 * (c + 1), *end = s + 3 * n; at < end; at += 3) {
                full0 += at[0];
                full1 += at[1];
                full2 += at[2];
            }
            sum0 += qint64(full0) << 16;
            sum1 += qint64(full1) << 16;
            sum2 += qint64(full2) << 16;
            if (wl != 0) {
                const uchar *at = s + 3 * n;
                sum0 += qint64(at[0]) * wl;
                sum1 += qint64(at[1]) * wl;
                sum2 += qint64(at[2]) * wl;
            }
            d[0] = AreaByte(sum0, half, scale);
            d[1] = AreaByte(sum1, half, scale);
            d[2] = AreaByte(sum2, half, scale);
            wf = One - wl;
            c = n;
        }
    }
}

void ShrinkVertical(const QImage &source, QImage &dest)
{
    const qint64 sn = source.height();
    const int dn = dest.height();
    const qsizetype bytes = 3 * static_cast<qsizetype>(std::min(source.width(), dest.width()));
    const qint64 scale = ShrinkScale(sn, dn);
    const qint64 half = (scale + 1) / 2;

    std::vector<qint64> sum(bytes);
    std::vector<quint64> full(bytes);
    qint64 c = 0;
    qint32 wf = One;
    for (int p = 0; p < dn; ++p) {
        qint64 n;
        qint32 wl;
        ShrinkBoundary(sn, dn, p + 1, n, wl);

        if (wf != 0) {
            const uchar *s = source.constScanLine(static_cast<int>(c));
            for (qsizetype x = 0; x < bytes; ++x)
                sum[x] = qint64(s[x]) * wf;
        } else {
            std::fill(sum.begin(), sum.end(), 0);
        }
        std::fill(full.begin(), full.end(), 0);
        for (qint64 k = c + 1; k < n; ++k) {
            const uchar *s = source.constScanLine(static_cast<int>(k));
            for (qsizetype x = 0; x < bytes; ++x)
                full[x] += s[x];
        }
        // The last destination row ends exactly at the bottom: there is no row n to fetch.
        if (wl != 0 && n < sn) {
            const uchar *s = source.constScanLine(static_cast<int>(n));
            for (qsizetype x = 0; x < bytes; ++x)
                sum[x] += qint64(s[x]) * wl;
        }
        uchar *d = dest.scanLine(p);
        for (qsizetype x = 0; x < bytes; ++x)
            d[x] = AreaByte(sum[x] + (qint64(full[x]) << 16), half, scale);
        wf = One - wl;
        c = n;
    }
}

void SmoothStretch(QImage &picture, int newWidth, int newHeight)
{
    if (picture.isNull() || picture.width() < 1 || picture.height() < 1)
        return;
    try {
        if (picture.format() != QImage::Format_BGR888) {
            QImage converted = picture.convertToFormat(QImage::Format_BGR888);
            if (converted.isNull())
                throw Exception(QStringLiteral("画像 (%1 ドット) のためのメモリを確保できません。")
                                    .arg(SizeText(picture.width(), picture.height())));
            picture = std::move(converted);
        }
        if (newWidth == picture.width() && newHeight == picture.height())
            return;
        CheckPictureSize(newWidth, newHeight);
        CheckPictureSize(newWidth, picture.height());

        // The work picture is made at the new size directly: each pass overwrites every
        // pixel of it, so copying the old content in first would only cost time.
        if (newWidth != picture.width()) {
            QImage work = NewPicture(newWidth, picture.height());
            if (newWidth > picture.width())
                EnlargeHorizontal(picture, work);
            else
                ShrinkHorizontal(picture, work);
            picture = std::move(work);
        }
        if (newHeight != picture.height()) {
            QImage work = NewPicture(picture.width(), newHeight);
            if (newHeight > picture.height())
                EnlargeVertical(picture, work);
            else
                ShrinkVertical(picture, work);
            picture = std::move(work);
        }
    } catch (const std::bad_alloc &) {
        throw Exception(
            QStringLiteral("画像 (%1 ドット) のためのメモリを確保できません。").arg(SizeText(newWidth, newHeight)));
    }
}
