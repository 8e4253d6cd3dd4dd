#include "imaging/SmoothStretch.h"

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

} // namespace

void EnlargeHorizontal(const QImage &source, QImage &dest, bool mirrored)
{
    const int sn = source.width();
    const int dn = dest.width();
    const int rows = std::min(source.height(), dest.height());

    // Per destination column: where tap i lies in the row, the taps' weights, the fraction.
    std::vector<qsizetype> offset(dn);
    std::vector<Cubic> weights(dn);
    std::vector<long double> fraction(dn);
    std::vector<int> index(dn);
    for (int p = 0; p < dn; ++p) {
        EnlargePosition(sn, dn, p, index[p], fraction[p]);
        weights[p] = LagrangeWeights(fraction[p]);
        offset[p] = 3 * static_cast<qsizetype>(mirrored ? sn - 1 - index[p] : index[p]);
    }
    // Read mirrored, the taps i-1 .. i+2 lie from right to left.
    const int step = mirrored ? -3 : 3;

    for (int y = 0; y < rows; ++y) {
        const uchar *s = source.constScanLine(y);
        uchar *d = dest.scanLine(y);
        for (int p = 0; p < dn; ++p, d += 3) {
            const int i = index[p];
            const uchar *at = s + offset[p];
            if (i == sn - 1) {
                d[0] = at[0];
                d[1] = at[1];
                d[2] = at[2];
            } else if (i == 0 || i == sn - 2) {
                const long double t = fraction[p];
                for (int c = 0; c < 3; ++c)
                    d[c] = LinearByte(at[c], at[c + step], t);
            } else {
                const Cubic &w = weights[p];
                for (int c = 0; c < 3; ++c)
                    d[c] = CubicByte(at + c - step, at + c, at + c + step, at + c + 2 * step, w);
            }
        }
    }
}

void EnlargeVertical(const QImage &source, QImage &dest, bool mirrored)
{
    const int sn = source.height();
    const auto row = [&](int k) { return source.constScanLine(mirrored ? sn - 1 - k : k); };
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
            std::memcpy(d, row(i), bytes);
        } else if (i == 0 || i == sn - 2) {
            const uchar *a = row(i);
            const uchar *b = row(i + 1);
            for (qsizetype x = 0; x < bytes; ++x)
                d[x] = LinearByte(a[x], b[x], t);
        } else {
            const uchar *s0 = row(i - 1);
            const uchar *s1 = row(i);
            const uchar *s2 = row(i + 1);
            const uchar *s3 = row(i + 2);
            const Cubic &w = weights[p];
            for (qsizetype x = 0; x < bytes; ++x)
                d[x] = CubicByte(s0 + x, s1 + x, s2 + x, s3 + x, w);
        }
    }
}

void ShrinkHorizontal(const QImage &source, QImage &dest, bool mirrored)
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
    // Pixel k in reading order; mirrored, the whole pixels c+1 .. n-1 of a span are the
    // row's pixels sn-n .. sn-2-c, which are summed from left to right all the same.
    const auto at = [&](qint64 k) { return 3 * (mirrored ? sn - 1 - k : k); };

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
                const uchar *first = s + at(c);
                sum0 = qint64(first[0]) * wf;
                sum1 = qint64(first[1]) * wf;
                sum2 = qint64(first[2]) * wf;
            }
            // Whole pixels weigh 65536 each: add the bytes, then scale once.
            quint64 full0 = 0, full1 = 0, full2 = 0;
            const qint64 from = mirrored ? sn - n : c + 1, to = mirrored ? sn - 1 - c : n;
            for (const uchar *px = s + 3 * from, *end = s + 3 * to; px < end; px += 3) {
                full0 += px[0];
                full1 += px[1];
                full2 += px[2];
            }
            sum0 += qint64(full0) << 16;
            sum1 += qint64(full1) << 16;
            sum2 += qint64(full2) << 16;
            if (wl != 0) {
                const uchar *last = s + at(n);
                sum0 += qint64(last[0]) * wl;
                sum1 += qint64(last[1]) * wl;
                sum2 += qint64(last[2]) * wl;
            }
            d[0] = AreaByte(sum0, half, scale);
            d[1] = AreaByte(sum1, half, scale);
            d[2] = AreaByte(sum2, half, scale);
            wf = One - wl;
            c = n;
        }
    }
}

void ShrinkVertical(const QImage &source, QImage &dest, bool mirrored)
{
    const qint64 sn = source.height();
    const auto row = [&](qint64 k) { return source.constScanLine(static_cast<int>(mirrored ? sn - 1 - k : k)); };
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
            const uchar *s = row(c);
            for (qsizetype x = 0; x < bytes; ++x)
                sum[x] = qint64(s[x]) * wf;
        } else {
            std::fill(sum.begin(), sum.end(), 0);
        }
        std::fill(full.begin(), full.end(), 0);
        for (qint64 k = c + 1; k < n; ++k) {
            const uchar *s = row(k);
            for (qsizetype x = 0; x < bytes; ++x)
                full[x] += s[x];
        }
        // The last destination row ends exactly at the bottom: there is no row n to fetch.
        if (wl != 0 && n < sn) {
            const uchar *s = row(n);
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
    SmoothStretchTurned(picture, newWidth, newHeight, Orientation());
}

void SmoothStretchTurned(QImage &picture, int newWidth, int newHeight, Orientation turn)
{
    if (picture.isNull() || picture.width() < 1 || picture.height() < 1)
        return;
    try {
        picture = To24Bit(picture);
        const QSize upright = turn.Transpose ? picture.size().transposed() : picture.size();
        if (upright == QSize(newWidth, newHeight) && turn.IsUpright())
            return;
        CheckPictureSize(newWidth, newHeight);

        // In the stored picture's axes. A transpose makes the upright width the stored
        // height, and the upright width is still done first; a mirror becomes one along
        // the other axis.
        const bool t = turn.Transpose;
        const int width = t ? newHeight : newWidth, height = t ? newWidth : newHeight;
        bool mirrorX = t ? turn.MirrorY : turn.MirrorX, mirrorY = t ? turn.MirrorX : turn.MirrorY;
        // The work picture is made at the new size directly: each pass overwrites every
        // pixel of it, so copying the old content in first would only cost time.
        const auto widthPass = [&] {
            if (width == picture.width())
                return;
            QImage work = NewPicture(width, picture.height());
            if (width > picture.width())
                EnlargeHorizontal(picture, work, mirrorX);
            else
                ShrinkHorizontal(picture, work, mirrorX);
            picture = std::move(work);
            mirrorX = false;
        };
        const auto heightPass = [&] {
            if (height == picture.height())
                return;
            QImage work = NewPicture(picture.width(), height);
            if (height > picture.height())
                EnlargeVertical(picture, work, mirrorY);
            else
                ShrinkVertical(picture, work, mirrorY);
            picture = std::move(work);
            mirrorY = false;
        };
        if (t) {
            heightPass();
            widthPass();
        } else {
            widthPass();
            heightPass();
        }
        // A mirror along an axis whose length did not change goes past the pass along
        // the other axis unchanged, so it is done now, on the picture at its new size,
        // with the transpose.
        picture = Turned(picture, t ? Orientation{true, mirrorY, mirrorX} : Orientation{false, mirrorX, mirrorY});
    } catch (const std::bad_alloc &) {
        ThrowNoMemory(newWidth, newHeight);
    }
}
