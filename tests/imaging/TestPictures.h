#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

// Pictures made on the spot for the imaging tests, so that no picture files are kept.

// A 24-bit picture of random bytes.
QImage RandomPicture(int width, int height, quint32 seed);

// A 24-bit picture of one colour (bytes b, g, r).
QImage UniformPicture(int width, int height, uchar b, uchar g, uchar r);

// A picture one row high (or one column wide) whose three bytes all follow the line.
QImage LinePicture(const QList<int> &line, bool vertical = false);

// The first byte of each pixel along row 0 (or column 0).
QList<int> LineOf(const QImage &picture, bool vertical = false);

QImage Transposed(const QImage &picture);

// Pixels as rows of "b,g,r" for readable failures.
QString Grid(const QImage &picture);

// JPEG files in the forms the decoder must take, written with libjpeg directly.
enum class JpegForm { Baseline, Progressive, Greyscale, Restart, AdobeCmyk, AdobeYcck, PlainCmyk };
QByteArray WriteTestJpeg(const QImage &bgr, JpegForm form, int quality = 95);

// Windows bitmaps of the given bit count (1, 4, 8, 16, 24, 32) from a 24-bit picture,
// optionally top-down or RLE8-compressed (8 bits only). Paletted forms use a grey ramp
// of the first byte, so compare those through the green byte.
QByteArray WriteTestBmp(const QImage &bgr, int bits, bool topDown = false, bool rle8 = false);

// The frame header of a JPEG: its marker (0xC0 baseline, 0xC2 progressive...), size and
// number of components; marker 0 when there is none.
struct FrameHeader
{
    int Marker = 0;
    int Width = 0, Height = 0, Components = 0;
};
FrameHeader ReadFrameHeader(const QByteArray &jpeg);

#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
