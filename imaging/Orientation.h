#pragma once

#include <QImage>

// How a picture as stored in its file is turned to stand as it was taken: first
// transposed (its rows become columns), then mirrored left to right, then top to bottom.
// The eight combinations are the eight EXIF orientations.
struct Orientation
{
    bool Transpose = false;
    bool MirrorX = false;
    bool MirrorY = false;

    bool IsUpright() const { return !Transpose && !MirrorX && !MirrorY; }
};

// The turn of EXIF orientation 1..8; any other value is taken as upright.
Orientation FromExif(int value);

// The orientation tag of an EXIF block (the payload of a JPEG's APP1 segment, starting
// with "Exif\0\0"), read with libexif; 1 when the block has none or is broken.
int ReadExifOrientation(const uchar *data, qsizetype size);

// The same for a block as a PNG or WebP chunk holds it: mostly the TIFF structure alone,
// sometimes with "Exif\0\0" before it. An empty block gives 1.
int ReadExifOrientation(const QByteArray &block);

// The picture turned, pixel by pixel, as Format_BGR888. Meant for pictures of phone-screen
// size: a large picture is turned inside the resampling passes instead.
QImage Turned(const QImage &picture, Orientation turn);
