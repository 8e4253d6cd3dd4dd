#pragma once

#include "imaging/Orientation.h"
#include "imaging/Picture.h"

#include <QImage>

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

// The same bytes as turning the picture first and calling SmoothStretch on the upright
// picture with newWidth x newHeight, without turning the large picture: a mirror is read
// into the pass along its axis, a transpose swaps the order of the passes, and what is left
// is done on the result.
void SmoothStretchTurned(QImage &picture, int newWidth, int newHeight, Orientation turn);

// The four passes. Both pictures are Format_BGR888; source has the current size and dest
// already has the new length on the pass's axis (the other axis equal). Every pixel of
// dest is written. With mirrored, the source line is read from its far end, as if the
// picture had been mirrored along the pass's axis first.
void EnlargeHorizontal(const QImage &source, QImage &dest, bool mirrored = false);
void ShrinkHorizontal(const QImage &source, QImage &dest, bool mirrored = false);
void EnlargeVertical(const QImage &source, QImage &dest, bool mirrored = false);
void ShrinkVertical(const QImage &source, QImage &dest, bool mirrored = false);
