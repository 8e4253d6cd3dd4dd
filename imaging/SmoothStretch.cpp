#include "imaging/SmoothStretch.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#if defined(__x86_64__) // where SSE2 is always there
#include <emmintrin.h>
#endif

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

// (sum + half) div scale, the byte of an area sum, by a multiplication and a shift, which
// cost a fraction of a 64-bit division. With k = 2 bits(scale) + 8 and m = ceil(2^k /
// scale), e = m scale - 2^k is below scale, and every dividend a = sum + half is below
// 256 scale (sums come to at most 255 times the weights of a span, which exceed the scale
// by a unit or two). So a e < 256 scale^2 <= 2^k, and floor(a m / 2^k) = floor(a / scale)
// exactly. A scale has at most 44 bits (200 million dots into one), so k stays below 128.
class AreaDivisor
{
public:
    explicit AreaDivisor(qint64 scale) : half((scale + 1) / 2), shift(2 * int(std::bit_width(quint64(scale))) + 8)
    {
        multiplier = quint64(((static_cast<unsigned __int128>(1) << shift) + quint64(scale) - 1) / quint64(scale));
    }

    // The weights of a span can add up to a unit or two more than the scale; a byte never
    // wraps because of that.
    uchar operator()(qint64 sum) const
    {
        const auto q = (static_cast<unsigned __int128>(quint64(sum + half)) * multiplier) >> shift;
        return static_cast<uchar>(std::min<quint64>(quint64(q), 255));
    }

private:
    qint64 half;
    int shift;
    quint64 multiplier;
};

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

    // A destination row has one position and one set of weights for all its bytes: each
    // is worked out once, as the row is made.
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
            const Cubic w = LagrangeWeights(t);
            for (qsizetype x = 0; x < bytes; ++x)
                d[x] = CubicByte(s0 + x, s1 + x, s2 + x, s3 + x, w);
        }
    }
}

#if defined(__x86_64__)
// Masks that pick the bytes of one channel out of 16 bytes of pixels, by the channel of the
// first of the 16 bytes: Masks.bytes[first][channel].
struct ChannelMasks
{
    alignas(16) uchar bytes[3][3][16];

    constexpr ChannelMasks() : bytes{}
    {
        for (int first = 0; first < 3; ++first)
            for (int channel = 0; channel < 3; ++channel)
                for (int i = 0; i < 16; ++i)
                    bytes[first][channel][i] = (first + i) % 3 == channel ? 0xFF : 0;
    }
};
constexpr ChannelMasks Masks;
#endif

// The bytes of the pixels from px to end added up by channel into sums: most of the work of
// a fit that shrinks a photo's width. The sums are exact, so the order does not matter.
inline void AddPixels(const uchar *px, const uchar *end, quint64 *sums)
{
#if defined(__x86_64__)
    int channel = 0; // of the byte at px
    // 16 bytes at a time: each channel's bytes picked out by a mask and added up by psadbw
    // (the sum of their distances from 0, in each half). The next 16 bytes start one
    // channel on, as 16 = 5 x 3 + 1.
    const __m128i zero = _mm_setzero_si128();
    __m128i total0 = zero, total1 = zero, total2 = zero;
    for (; end - px >= 16; px += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(px));
        const auto *mask = reinterpret_cast<const __m128i *>(Masks.bytes[channel]);
        total0 = _mm_add_epi64(total0, _mm_sad_epu8(_mm_and_si128(bytes, mask[0]), zero));
        total1 = _mm_add_epi64(total1, _mm_sad_epu8(_mm_and_si128(bytes, mask[1]), zero));
        total2 = _mm_add_epi64(total2, _mm_sad_epu8(_mm_and_si128(bytes, mask[2]), zero));
        channel = channel == 2 ? 0 : channel + 1;
    }
    const auto halves = [](__m128i t) {
        return quint64(_mm_cvtsi128_si64(t)) + quint64(_mm_cvtsi128_si64(_mm_unpackhi_epi64(t, t)));
    };
    sums[0] += halves(total0);
    sums[1] += halves(total1);
    sums[2] += halves(total2);
    // The rest of a pixel cut by the last 16 bytes.
    for (; channel != 0 && px < end; ++px, channel = channel == 2 ? 0 : channel + 1)
        sums[channel] += *px;
#endif
    for (; px < end; px += 3) {
        sums[0] += px[0];
        sums[1] += px[1];
        sums[2] += px[2];
    }
}

// The width pass of a reduction: the boundary table made once, then any row on its own.
class WidthShrink
{
public:
    WidthShrink(qint64 sn, int dn, bool mirrored)
        : sn(sn), dn(dn), mirrored(mirrored), index(dn + 1), fraction(dn + 1), areaByte(ShrinkScale(sn, dn))
    {
        for (int b = 0; b <= dn; ++b)
            ShrinkBoundary(sn, dn, b, index[b], fraction[b]);
    }

    void Row(const uchar *s, uchar *row) const
    {
        // The walk's state at span p is the boundary table's entry p: the span starts with
        // pixel c = index[p] at the weight 65536 - fraction[p] (65536 at p = 0). So the
        // spans can be done in any order: read mirrored, from the last one back, which
        // keeps the reads going forward through the row.
        for (int k = 0; k < dn; ++k) {
            const int p = mirrored ? dn - 1 - k : k;
            const qint64 c = index[p], n = index[p + 1];
            const qint32 wf = One - fraction[p], wl = fraction[p + 1];
            // In the row: the first partial pixel, the whole ones, the last partial one.
            const qint64 first = mirrored ? sn - 1 - c : c, last = mirrored ? sn - 1 - n : n;
            const qint64 from = mirrored ? sn - n : c + 1, to = mirrored ? sn - 1 - c : n;
            qint64 sum0 = qint64(s[3 * first]) * wf, sum1 = qint64(s[3 * first + 1]) * wf,
                   sum2 = qint64(s[3 * first + 2]) * wf;
            // Whole pixels weigh 65536 each: add the bytes, then scale once.
            quint64 full[3] = {0, 0, 0};
            AddPixels(s + 3 * from, s + 3 * to, full);
            sum0 += qint64(full[0]) << 16;
            sum1 += qint64(full[1]) << 16;
            sum2 += qint64(full[2]) << 16;
            if (wl != 0) {
                sum0 += qint64(s[3 * last]) * wl;
                sum1 += qint64(s[3 * last + 1]) * wl;
                sum2 += qint64(s[3 * last + 2]) * wl;
            }
            uchar *d = row + 3 * p;
            d[0] = areaByte(sum0);
            d[1] = areaByte(sum1);
            d[2] = areaByte(sum2);
        }
    }

private:
    qint64 sn;
    int dn;
    bool mirrored;
    std::vector<qint64> index;
    std::vector<qint32> fraction;
    AreaDivisor areaByte;
};

// sums[x] += row[x] for every byte, in blocks of a fixed length so that the compiler can
// use vector instructions without a check or a tail loop for each block.
template <typename Whole> void AddRow(Whole *__restrict sums, const uchar *__restrict row, qsizetype bytes)
{
    constexpr int Block = 64;
    qsizetype x = 0;
    for (; x + Block <= bytes; x += Block)
        for (int i = 0; i < Block; ++i)
            sums[x + i] += row[x + i];
    for (; x < bytes; ++x)
        sums[x] += row[x];
}

// The height pass of a reduction, taking the source rows one at a time from the top row
// down, so that it can run as a decoder gives them: all it keeps is the running sums of
// one span and a copy of one partly covered row.
class HeightShrink
{
public:
    virtual ~HeightShrink() = default;
    virtual void Add(const uchar *row) = 0;
    // dest has dn rows of at least bytes bytes, stride bytes apart; the rows are bytes long.
    static std::unique_ptr<HeightShrink> Make(qint64 sn, int dn, uchar *dest, qsizetype stride, qsizetype bytes,
                                              bool mirrored);
};

// The whole rows of a span are added up as bytes in Whole, the smallest type that holds the
// most a span can add (16 bits up to 257 rows): the running sums of a wide picture then
// stay in the fastest cache.
template <typename Whole> class HeightShrinkBy final : public HeightShrink
{
public:
    HeightShrinkBy(qint64 sn, int dn, uchar *dest, qsizetype stride, qsizetype bytes, bool mirrored)
        : sn(sn), dn(dn), dest(dest), stride(stride), bytes(bytes), mirrored(mirrored), areaByte(ShrinkScale(sn, dn)),
          full(bytes), held(bytes)
    {
        Span(mirrored ? dn - 1 : 0);
    }

    // Span p is destination row p: source rows c to n, the first at the weight wf, the whole
    // ones between at 65536, the last at wl (row n is past the bottom at the last span, with
    // wl = 0). Row n of a span is row c of the next. Mirrored, the rows come from the
    // bottom of the picture as it will stand, so the spans are done from the last one back
    // and each span's row n comes first: that is the row held, where it is row c otherwise.
    void Add(const uchar *row) override
    {
        const qint64 j = mirrored ? sn - 1 - arrived : arrived;
        ++arrived;
        if (!mirrored) {
            if (j == n) {
                Emit(held.data(), row);
                Span(p + 1);
            }
            if (j == c)
                std::memcpy(held.data(), row, size_t(bytes));
            else
                AddRow(full.data(), row, bytes);
            if (j == sn - 1)
                Emit(held.data(), held.data());
        } else if (j == c) {
            Emit(row, held.data());
            if (p > 0) {
                Span(p - 1);
                std::memcpy(held.data(), row, size_t(bytes));
            }
        } else {
            AddRow(full.data(), row, bytes);
        }
    }

private:
    void Span(int at)
    {
        p = at;
        qint32 fc;
        ShrinkBoundary(sn, dn, p, c, fc);
        ShrinkBoundary(sn, dn, p + 1, n, wl);
        wf = One - fc;
        // The last span ends exactly at the bottom: it has no row n.
        if (n == sn)
            wl = 0;
    }

    // Rows c and n, and the whole rows' sums, into destination row p.
    void Emit(const uchar *first, const uchar *last)
    {
        uchar *d = dest + p * stride;
        for (qsizetype x = 0; x < bytes; ++x)
            d[x] = areaByte(qint64(first[x]) * wf + (qint64(full[x]) << 16) + qint64(last[x]) * wl);
        std::fill(full.begin(), full.end(), Whole(0));
    }

    qint64 sn;
    int dn;
    uchar *dest;
    qsizetype stride, bytes;
    bool mirrored;
    AreaDivisor areaByte;
    std::vector<Whole> full;
    std::vector<uchar> held;
    qint64 arrived = 0;
    int p = 0;
    qint64 c = 0, n = 0;
    qint32 wf = One, wl = 0;
};

std::unique_ptr<HeightShrink> HeightShrink::Make(qint64 sn, int dn, uchar *dest, qsizetype stride, qsizetype bytes,
                                                 bool mirrored)
{
    const qint64 span = sn / std::max(dn, 1) + 1;
    if (span * 255 <= 0xFFFF)
        return std::make_unique<HeightShrinkBy<quint16>>(sn, dn, dest, stride, bytes, mirrored);
    if (span * 255 <= 0xFFFFFFFFLL)
        return std::make_unique<HeightShrinkBy<quint32>>(sn, dn, dest, stride, bytes, mirrored);
    return std::make_unique<HeightShrinkBy<quint64>>(sn, dn, dest, stride, bytes, mirrored);
}

void ShrinkHorizontal(const QImage &source, QImage &dest, bool mirrored)
{
    const WidthShrink shrink(source.width(), dest.width(), mirrored);
    for (int y = 0; y < std::min(source.height(), dest.height()); ++y)
        shrink.Row(source.constScanLine(y), dest.scanLine(y));
}

void ShrinkVertical(const QImage &source, QImage &dest, bool mirrored)
{
    const qsizetype bytes = 3 * static_cast<qsizetype>(std::min(source.width(), dest.width()));
    const auto shrink =
        HeightShrink::Make(source.height(), dest.height(), dest.bits(), dest.bytesPerLine(), bytes, mirrored);
    for (int y = 0; y < source.height(); ++y)
        shrink->Add(source.constScanLine(y));
}

// A fit in the axes of the picture as stored. A transpose makes the upright width the
// stored height, and the upright width is still done first; a mirror becomes one along the
// other axis. A mirror is read into the pass along its axis and is then done; what is left
// of the turn is done on the result.
struct StoredFit
{
    StoredFit(int newWidth, int newHeight, Orientation turn)
        : width(turn.Transpose ? newHeight : newWidth), height(turn.Transpose ? newWidth : newHeight),
          transpose(turn.Transpose), mirrorX(turn.Transpose ? turn.MirrorY : turn.MirrorX),
          mirrorY(turn.Transpose ? turn.MirrorX : turn.MirrorY)
    {}

    // The new size, as stored.
    int width, height;
    bool transpose, mirrorX, mirrorY;
};

// The work picture of each pass is made at the new size directly: a pass overwrites every
// pixel of it, so copying the old content in first would only cost time.
void WidthPass(QImage &picture, StoredFit &fit)
{
    if (fit.width == picture.width())
        return;
    QImage work = NewPicture(fit.width, picture.height());
    if (fit.width > picture.width())
        EnlargeHorizontal(picture, work, fit.mirrorX);
    else
        ShrinkHorizontal(picture, work, fit.mirrorX);
    picture = std::move(work);
    fit.mirrorX = false;
}

void HeightPass(QImage &picture, StoredFit &fit)
{
    if (fit.height == picture.height())
        return;
    QImage work = NewPicture(picture.width(), fit.height);
    if (fit.height > picture.height())
        EnlargeVertical(picture, work, fit.mirrorY);
    else
        ShrinkVertical(picture, work, fit.mirrorY);
    picture = std::move(work);
    fit.mirrorY = false;
}

// The passes that are still to do, then the turn. A mirror along an axis whose length did
// not change goes past the pass along the other axis unchanged, so it is done now, on the
// picture at its new size, with the transpose.
void Complete(QImage &picture, StoredFit &fit)
{
    if (fit.transpose) {
        HeightPass(picture, fit);
        WidthPass(picture, fit);
    } else {
        WidthPass(picture, fit);
        HeightPass(picture, fit);
    }
    picture = Turned(picture, fit.transpose ? Orientation{true, fit.mirrorY, fit.mirrorX}
                                            : Orientation{false, fit.mirrorX, fit.mirrorY});
}

enum class FirstPass { Enlarges, Width, Height };

// The first pass that changes the size, when it shrinks the picture; Enlarges when that
// pass enlarges it or no pass changes anything.
FirstPass FirstShrink(QSize stored, const StoredFit &fit)
{
    const bool widthChanges = fit.width != stored.width(), heightChanges = fit.height != stored.height();
    const bool widthFirst = widthChanges && (!fit.transpose || !heightChanges);
    if (widthFirst)
        return fit.width < stored.width() ? FirstPass::Width : FirstPass::Enlarges;
    if (heightChanges)
        return fit.height < stored.height() ? FirstPass::Height : FirstPass::Enlarges;
    return FirstPass::Enlarges;
}

} // namespace

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
        StoredFit fit(newWidth, newHeight, turn);
        Complete(picture, fit);
    } catch (const std::bad_alloc &) {
        ThrowNoMemory(newWidth, newHeight);
    }
}

struct StreamingStretch::FirstPassState
{
    FirstPassState(QSize stored, int newWidth, int newHeight, Orientation turn)
        : fit(newWidth, newHeight, turn), newSize(newWidth, newHeight), rows(stored.height())
    {}

    StoredFit fit; // the passes still to do
    QSize newSize;
    int rows, rowsIn = 0;
    QImage reduced; // what the first pass makes, and its rows
    uchar *bits = nullptr;
    qsizetype stride = 0;
    std::optional<WidthShrink> width; // the first pass: one of the two
    std::unique_ptr<HeightShrink> height;
};

std::unique_ptr<StreamingStretch> StreamingStretch::Start(QSize stored, int newWidth, int newHeight, Orientation turn)
{
    if (stored.width() < 1 || stored.height() < 1)
        return nullptr;
    CheckPictureSize(newWidth, newHeight);
    const FirstPass first = FirstShrink(stored, StoredFit(newWidth, newHeight, turn));
    if (first == FirstPass::Enlarges)
        return nullptr;
    try {
        std::unique_ptr<StreamingStretch> stretch(new StreamingStretch);
        stretch->state = std::make_unique<FirstPassState>(stored, newWidth, newHeight, turn);
        FirstPassState &s = *stretch->state;
        if (first == FirstPass::Width) {
            s.reduced = NewPicture(s.fit.width, stored.height());
            s.width.emplace(stored.width(), s.fit.width, s.fit.mirrorX);
            s.fit.mirrorX = false;
        } else {
            s.reduced = NewPicture(stored.width(), s.fit.height);
            s.height = HeightShrink::Make(stored.height(), s.fit.height, s.reduced.bits(), s.reduced.bytesPerLine(),
                                          3 * qsizetype(stored.width()), s.fit.mirrorY);
            s.fit.mirrorY = false;
        }
        s.bits = s.reduced.bits();
        s.stride = s.reduced.bytesPerLine();
        return stretch;
    } catch (const std::bad_alloc &) {
        ThrowNoMemory(newWidth, newHeight);
    }
}

StreamingStretch::StreamingStretch() = default;
StreamingStretch::~StreamingStretch() = default;

void StreamingStretch::AddRow(const uchar *row) noexcept
{
    FirstPassState &s = *state;
    if (s.rowsIn == s.rows)
        return;
    if (s.width)
        s.width->Row(row, s.bits + s.rowsIn * s.stride);
    else
        s.height->Add(row);
    ++s.rowsIn;
}

QImage StreamingStretch::Finish()
{
    FirstPassState &s = *state;
    QImage picture = std::move(s.reduced);
    try {
        Complete(picture, s.fit);
    } catch (const std::bad_alloc &) {
        ThrowNoMemory(s.newSize.width(), s.newSize.height());
    }
    return picture;
}
