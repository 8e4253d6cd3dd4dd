#pragma once

#include <QImage>

class QImageReader;

// What every step of the pipeline needs of a picture: the size kelvo takes at most, a
// fresh picture, and the 24-bit form the steps work on. Each throws Exception with the
// sentence the user reads.

// The largest picture kelvo takes in, decodes or makes. The largest phone cameras sold
// today have 200-megapixel sensors (16320 x 12240 = 199.8 million pixels), so every photo
// a phone takes fits; a 24-bit picture of this size already needs 600 MB, and anything
// larger is far more likely a damaged or hostile header than a photo.
constexpr qint64 MaxPicturePixels = 200'000'000;

// The largest file read whole into memory (JPEG and HEIF): four bytes for every pixel of
// the largest picture. Photos take well under one byte a pixel even at the highest
// quality, so this leaves room for what phones append (a short video, a vendor trailer)
// while a file of gigabytes is refused before a byte of it is read.
constexpr qint64 MaxPictureFileBytes = MaxPicturePixels * 4;

// Throws the "too large" message when width x height exceeds MaxPicturePixels or a side
// is below 1.
void CheckPictureSize(qint64 width, qint64 height);

// Throws the message that the memory for a picture of this size cannot be had.
[[noreturn]] void ThrowNoMemory(qint64 width, qint64 height);

// Throws the message that the file cannot be opened.
[[noreturn]] void ThrowCannotOpen(const QString &path);

// Lets Qt's reader allocate what the largest picture takes at bytesPerPixel, and no more:
// Qt's readers make the picture in a form of their own choosing, 32-bit pixels mostly, 8
// bytes a pixel for a 16-bit PNG.
void LimitReaderAllocation(QImageReader &reader, int bytesPerPixel);

// The whole file in one read, followed by room spare bytes for the caller. Throws the
// "cannot open" message, a clear one for a file larger than MaxPictureFileBytes, and
// unreadable when the file cannot be read whole.
QByteArray ReadPictureFile(const QString &path, const QString &unreadable, qsizetype room = 0);

// A fresh picture of the given size; throws a clear message instead of returning a null
// image when the memory cannot be had.
QImage NewPicture(int width, int height, QImage::Format format = QImage::Format_BGR888);

// The picture in Format_BGR888 (the same, shared, when it already is): a paletted or grey
// picture is widened to red = green = blue = level, and any colour table is dropped.
QImage To24Bit(const QImage &picture);

// The picture in Format_BGR888 with any transparent pixels laid on white: each colour
// byte c of a pixel with alpha a becomes (c a + 255 (255 - a)) / 255, rounded. For a
// picture whose colours are premultiplied (Format_RGBA8888_Premultiplied, as libheif may
// give), c a / 255 is what it holds. A picture without an alpha channel is only widened.
QImage LaidOnWhite(const QImage &picture);
