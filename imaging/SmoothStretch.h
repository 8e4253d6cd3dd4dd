#pragma once

#include <QImage>
#include <QString>

#include <array>

// Smooth resampling of a picture in place: the width first, then the height. A longer
// line is made by 4-point cubic (Lagrange) interpolation, linear in the first and last
// source interval and a copy at the last position; a shorter one by area averaging.
// Set-up per position runs in 80-bit extended precision with truncation toward zero,
// the pixel loops in 16.16 fixed point.
//
// The picture is Format_BGR888 (three bytes a pixel, rows padded to 4 bytes); any other
// format is converted to it first, which is all that a call with the current size does.
// A null picture is left alone. A new length below 1, a result larger than
// MaxPicturePixels or memory that cannot be had throws Exception.
void SmoothStretch(QImage &picture, int newWidth, int newHeight);

// The largest picture kelvo takes in, decodes or makes. The largest phone cameras sold
// today have 200-megapixel sensors (16320 x 12240 = 199.8 million pixels), so every photo
// a phone takes fits; a 24-bit picture of this size already needs 600 MB, and anything
// larger is far more likely a damaged or hostile header than a photo.
constexpr qint64 MaxPicturePixels = 200'000'000;

// Throws the "too large" message when width x height exceeds MaxPicturePixels or a side
// is below 1.
void CheckPictureSize(qint64 width, qint64 height);

// A fresh 24-bit picture of the given size; throws a clear message instead of returning
// a null image when the memory cannot be had.
QImage NewPicture(int width, int height, QImage::Format format = QImage::Format_BGR888);

// The cubic weights w0..w3 of the taps i-1 .. i+2 for the fraction t beyond tap i, in
// 16.16 (they add up to 65536 give or take two).
std::array<qint32, 4> CubicWeights(long double t);

// The four passes. Both pictures are Format_BGR888; source has the current size and dest
// already has the new length on the pass's axis (the other axis equal). Every pixel of
// dest is written.
void EnlargeHorizontal(const QImage &source, QImage &dest);
void ShrinkHorizontal(const QImage &source, QImage &dest);
void EnlargeVertical(const QImage &source, QImage &dest);
void ShrinkVertical(const QImage &source, QImage &dest);
