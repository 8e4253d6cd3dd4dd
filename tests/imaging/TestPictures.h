#pragma once

// What the imaging tests share: the code under test, a folder, a child process, pictures made on the spot.

#include "imaging/Pipeline.h"
#include "support/Failure.h"
#include "support/InChild.h"
#include "support/TestFolder.h"

QImage RandomPicture(int width, int height, quint32 seed);

// The picture of EXIF orientation 1..8 turned upright by Qt, as the tag's meaning says;
// with back, the picture a camera stores for that orientation of an upright one.
QImage TurnedByQt(const QImage &picture, int exif, bool back = false);

// Smooth, with some colour, so that lossy formats keep it close.
QImage SmoothPicture(int w, int h);

// JPEG files in the forms the decoder must take: CMYK without black ink, Full444 unsubsampled, ManyScans
// unsubsampled in 190 scans (the DC, then each AC coefficient of each component alone).
enum class JpegForm { Baseline, Progressive, Greyscale, AdobeCmyk, AdobeYcck, PlainCmyk, Full444, ManyScans };

// The picture as a JPEG file of that form; with height, that many rows, the picture's rows
// over and over, so that a large file needs no large picture.
QByteArray WriteTestJpeg(const QImage &bgr, JpegForm form, int quality = 95, int height = 0);

// An EXIF block, big-endian: the orientation in IFD0 and a GPS IFD (version, hemisphere).
QByteArray ExifBlock(int orientation);

// The JPEG with an APP1 (or another) segment holding the block put in after its first segment.
QByteArray WithApp1(const QByteArray &jpeg, const QByteArray &block, char marker = '\xE1');
