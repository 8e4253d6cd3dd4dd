#pragma once

#include "imaging/Orientation.h"
#include "imaging/Picture.h"

#include <QImage>

#include <memory>

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

// SmoothStretchTurned for a picture that comes a few rows at a time, top row first, as a
// decoder gives them. When the first pass shrinks the picture (the width's, or the height's
// for a transposed one), each row goes into that pass as it comes, and only the
// once-reduced picture is ever held whole: new width x stored height, or stored width x new
// height. The result has the very bytes of SmoothStretchTurned on the whole picture.
class StreamingStretch
{
public:
    // Ready for the rows of a picture of the stored size, Format_BGR888's bytes; null when
    // the first pass enlarges it or no pass changes it, which needs the whole picture.
    // Throws as SmoothStretchTurned does.
    static std::unique_ptr<StreamingStretch> Start(QSize stored, int newWidth, int newHeight, Orientation turn);
    ~StreamingStretch();

    // The next row, three bytes a pixel. It allocates nothing and cannot fail, so that a
    // decoder can call it between the calls of its own sequence; rows past the last are
    // passed over.
    void AddRow(const uchar *row) noexcept;

    // Once every row is in: the picture at the new size, upright.
    QImage Finish();

private:
    StreamingStretch();
    struct FirstPassState;
    std::unique_ptr<FirstPassState> state;
};
