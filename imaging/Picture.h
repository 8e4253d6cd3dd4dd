#pragma once

#include <QImage>

class QFile;
class QImageReader;

// What every step of the pipeline needs of a picture: the limits every reader keeps, a
// fresh picture, and the 24-bit form the steps work on. Each throws Exception with the
// sentence the user reads.
//
// The limits, one for each thing a file could make a reader spend; each is checked from the
// file's size or header before what it bounds is spent:
//   MaxPictureFileBytes  the time: no larger file is opened, and none is read further;
//   MaxPicturePixels     what any picture may be, as its header gives it and as it is decoded;
//   MaxDecodeBytes       the memory a reader holds of the picture while it decodes it, where
//                        kelvo knows from the header the form the picture is decoded into.
// The peak of each reader at the largest picture it takes, above what the program holds
// (bench/picture-peaks.sh, 16320 x 12240 dots unless said otherwise):
//   JPEG, one scan       the file, read whole, and a band of rows as they are fitted: 47 MB
//                        for a file of 42 MB
//   JPEG, several scans  the file, libjpeg's coefficients (2 bytes a sample: 3 a pixel at
//                        4:2:0) and the picture at 3 bytes a pixel: 1146 MB
//   PNG, WebP, bitmap    Qt's form of the picture, 4 bytes a pixel, made 24-bit in that
//                        memory: 767 MB (a WebP file is read whole beside it); grey or
//                        paletted, 1 or 2 bytes a pixel beside the 24-bit copy: up to 1 GB;
//                        16-bit colour, 8 bytes a pixel, up to 150 million pixels: 1137 MB
//                        at 14000 x 10600
//   HEIF                 the file, and what libheif and its HEVC decoder hold, about 9 bytes
//                        a pixel, of which the 24-bit picture is taken over, not copied (152
//                        MB for a grid of 4096 x 4096): bounded by the pixels alone, about
//                        2 GB at the largest
// A fitted picture is small; what the fit and the colour conversion add is negligible.

// The largest picture kelvo takes in, decodes or makes. The largest phone cameras sold
// today have 200-megapixel sensors (16320 x 12240 = 199.8 million pixels), so every photo
// a phone takes fits; anything larger is far more likely a damaged or hostile header than
// a photo.
constexpr qint64 MaxPicturePixels =
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    4'000'000; // the fuzzers spend their time on the structure, not on giant pictures
#else
    200'000'000;
#endif

// The largest file opened as a picture: four bytes for every pixel of the largest
// picture. Photos take well under one byte a pixel even at the highest quality, so this
// leaves room for what phones append (a short video, a vendor trailer) while a file of
// gigabytes is refused before a byte of it is read.
constexpr qint64 MaxPictureFileBytes = MaxPicturePixels * 4;

// What a reader may hold of a picture as it decodes it: six bytes a pixel of the largest
// picture, which the forms phones and cameras write stay within at 200 million pixels.
// Wider forms (16-bit colour, a JPEG of several scans without subsampled colour) are taken
// up to the pixels that fit in it.
constexpr qint64 MaxDecodeBytes = MaxPicturePixels * 6;

// Throws the "too large" message when width x height exceeds MaxPicturePixels or a side
// is below 1, and a clear one when decoding it at bytesPerPixel would hold more than
// MaxDecodeBytes.
void CheckPictureSize(qint64 width, qint64 height, double bytesPerPixel = 3);

// Throws the message that the memory for a picture of this size cannot be had.
[[noreturn]] void ThrowNoMemory(qint64 width, qint64 height);

// Throws the message that the file cannot be opened.
[[noreturn]] void ThrowCannotOpen(const QString &path);

// Opens the picture file at path for reading, without waiting on what the path names: a
// FIFO without a writer or a device cannot hold the window up. Throws the "cannot open"
// message, a clear one for what is not a regular file and one for a file larger than
// MaxPictureFileBytes, before a byte of it is read.
void OpenPicture(QFile &file, const QString &path);

// Lets Qt's reader allocate the picture of the given size in the form it reads it in, and
// no more; throws when that form would hold more than MaxDecodeBytes (CheckPictureSize).
// Qt's readers choose their form: 32-bit pixels mostly, 8 bytes a pixel for a 16-bit PNG.
void LimitReaderAllocation(QImageReader &reader, QSize size);

// The whole file in one read, followed by room spare bytes for the caller, once its start
// holds signature at offset `at`. Throws the messages of OpenPicture, and unreadable when
// the file does not start so (a zero-filled file of any size is refused at once) or cannot
// be read whole.
QByteArray ReadPictureFile(const QString &path, const QString &unreadable, QByteArrayView signature, qsizetype at,
                           qsizetype room = 0);

// The rest of the file that OpenPicture opened, read whole as ReadPictureFile reads it,
// for a reader that checks the file's start itself.
QByteArray ReadOpenedPicture(QFile &file, const QString &unreadable, qsizetype room = 0);

// A fresh picture of the given size; throws a clear message instead of returning a null
// image when the memory cannot be had.
QImage NewPicture(int width, int height, QImage::Format format = QImage::Format_BGR888);

// The picture in Format_BGR888 (the same, shared, when it already is): a paletted or grey
// picture is widened to red = green = blue = level, and any colour table is dropped. A
// picture of 3 bytes a pixel or more that is handed over whole (not shared) is made 24-bit
// in its own memory, so that the largest picture is never held twice.
QImage To24Bit(QImage picture);

// The picture in Format_BGR888 with any transparent pixels laid on white: each colour
// byte c of a pixel with alpha a becomes (c a + 255 (255 - a)) / 255, rounded. For a
// picture whose colours are premultiplied (Format_RGBA8888_Premultiplied, as libheif may
// give), c a / 255 is what it holds. A picture without an alpha channel is only widened.
// Made in the picture's own memory as To24Bit is.
QImage LaidOnWhite(QImage picture);
