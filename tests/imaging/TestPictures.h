#pragma once

// What the imaging tests share: the code under test, a folder, a child process, pictures made on the spot.

#include "imaging/Pipeline.h"
#include "support/Failure.h"
#include "support/InChild.h"
#include "support/TestFolder.h"

#include "imaging/PictureIntake.h"

#include <optional>

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

// The JPEG with a colour profile in as many APP2 segments as it takes.
QByteArray WithIcc(QByteArray jpeg, const QByteArray &profile);

// The PNG with a chunk of the type holding the data, before its image data.
QByteArray WithPngChunk(QByteArray png, const char *type, const QByteArray &data);

QByteArray BigEndian(quint64 value, int bytes);

// A box of a HEIF file; a full box (version and flags) when a version is given.
QByteArray Box(const char *type, const QByteArray &body, int version = -1);
QByteArray BoxIn(const QByteArray &file, const char *type);

// A HEIF file around the HEVC picture of a heif-enc file (item 1): that picture claiming claim x
// claim with a property more, or a 2 x 2 grid of it (item 2), canvas grid x grid, claiming claim x claim;
// padding zero bytes after the picture.
QByteArray RebuiltHeif(const QByteArray &heic, int claim, int grid = 0, const QByteArray &property = {},
                       int extents = 1, int padding = 0);

// A HEIC file of the picture, made by libheif's heif-enc; empty when that fails.
QByteArray WriteTestHeic(const QImage &picture, const QStringList &options = {});

QByteArray Saved(const QImage &picture, const char *format, int quality = -1);

// The picture a drop of the file gives (written first when bytes are given), named relative to the test's folder.
QImage Drop(const QString &path, const std::optional<QByteArray> &bytes = {}, int dots = 95);
