#pragma once

#include "support/Failure.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include "platform/Exception.h"
#include "support/Printers.h"

// Pictures made on the spot for the imaging tests, so that no picture files are kept.

QImage RandomPicture(int width, int height, quint32 seed);
QImage UniformPicture(int width, int height, uchar b, uchar g, uchar r);

// A picture one row high (or one column wide) whose three bytes all follow the line, and
// the first byte of each pixel along row 0 (or column 0).
QImage LinePicture(const QList<int> &line, bool vertical = false);
QList<int> LineOf(const QImage &picture, bool vertical = false);

QImage Transposed(const QImage &picture);

// JPEG files in the forms the decoder must take, written with libjpeg directly. The CMYK
// forms use no black ink.
enum class JpegForm { Baseline, Progressive, Greyscale, Restart, AdobeCmyk, AdobeYcck, PlainCmyk };
QByteArray WriteTestJpeg(const QImage &bgr, JpegForm form, int quality = 95);

// Windows bitmaps of 1, 4, 8, 16, 24 or 32 bits, bottom-up unless topDown, RLE8 when asked
// (8 bits). Paletted forms hold a grey ramp indexed by the green byte.
QByteArray WriteTestBmp(const QImage &bgr, int bits, bool topDown = false, bool rle8 = false);

// The frame header of a JPEG: marker (0xC0 baseline, 0xC2 progressive...), size, components.
struct FrameHeader
{
    int Marker = 0, Width = 0, Height = 0, Components = 0;
};
FrameHeader ReadFrameHeader(const QByteArray &jpeg);

template <typename Call> QString MessageOf(Call call)
{
    return FailureOf(call, QStringLiteral("(no error)"));
}
