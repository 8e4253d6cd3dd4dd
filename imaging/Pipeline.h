#pragma once

#include "imaging/Orientation.h"
#include "imaging/PictureIntake.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

class ColourProfile;

// The road of a dropped picture to the mailed file: load (into 24-bit, see also
// PictureIntake.h), fit the longer side to the phone's dot size, optionally grey, and
// encode as a baseline JPEG at the highest quality that fits the carrier's limit. Every
// failure throws Exception with the sentence the user reads.
//
// A picture is a QImage in Format_BGR888 (bytes blue, green, red; rows padded to 4
// bytes) or Format_Indexed8 with the grey table of MakeGreyPalette(255).

// Scales the picture, keeping its aspect, so that its longer side is n dots (enlarging
// when it is smaller). A shorter side that computes to 0 becomes 1. A null picture is
// left alone; n below 1 throws.
void FitToSize(QImage &picture, int n);

// The same for a picture as stored in its file that stands upright once turned: the fit
// is worked out on the upright picture, and the result has the very bytes of turning the
// picture first and fitting it then, at the cost of turning only the fitted one.
void FitToSize(QImage &picture, int n, Orientation turn);

// The size FitToSize gives a picture of the stored size that the turn stands upright: its
// longer side n, its shorter side at least 1. Throws for n below 1.
QSize FittedSize(QSize stored, int n, Orientation turn);

// levels + 1 entries; entry i is the grey levels - i (entry 0 white).
QList<QRgb> MakeGreyPalette(uchar levels);

// dest becomes an 8-bit copy of source whose pixels index the grey nearest to their
// colour: the level is the rounded mean of the three bytes, stored as index 255 - level.
// A null source gives a null dest.
void ConvertToGrey(const QImage &source, QImage &dest);

// The picture as a baseline JFIF file at the given quality (1..100): three components
// even for a grey picture, libjpeg's defaults otherwise. It is written from the pixels
// alone: nothing of the original file (EXIF, GPS, maker notes, comments) goes with it. A
// null picture gives no bytes.
QByteArray EncodeJpeg(const QImage &picture, int quality);

// Writes EncodeJpeg(picture, quality) to path, creating or replacing the file.
void SaveJpeg(const QImage &picture, const QString &path, int quality);

// Writes the picture to path at quality 100, 99, ... until the file on disk is no larger
// than limit, or down to quality 1. Returns the quality of the file it leaves at path.
int EncodeUnderLimit(const QImage &picture, const QString &path, int limit);

// Decodes any JPEG that libjpeg reads (baseline, progressive, greyscale, CMYK, YCCK) at
// full size, as stored: into Format_BGR888, or for CMYK and YCCK into a picture of inks
// (ColourProfile::HoldsInks). turn, when given, receives the turn that makes it stand
// upright, from the orientation of its EXIF block; colours, the colours its ICC profile
// describes (ColourProfile.h). Bytes after the picture (a trailer, a video) are passed
// over. A file without its end marker is whole only when it has a single sequential scan
// that the data completes; one of several scans must reach its own end marker. A file
// libjpeg refuses throws the sentence of JpegFailure.h.
QImage DecodeJpeg(const QByteArray &bytes, Orientation *turn = nullptr, ColourProfile *colours = nullptr);
QImage LoadJpeg(const QString &path, Orientation *turn = nullptr, ColourProfile *colours = nullptr);

// LoadJpeg, then FitToSize(picture, n, turn), with the same bytes (the inks of a CMYK
// picture fitted as colours are). A baseline file is fitted as its rows are decoded, a
// band at a time, so that the full-size picture is never held; see StreamingStretch.
QImage LoadFittedJpeg(const QString &path, int n, ColourProfile *colours = nullptr);

// Reads a Windows bitmap in any of its forms (1 to 32 bits, RLE, top-down) into
// Format_BGR888, the transparent pixels of a 32-bit one with an alpha mask laid on
// white. The content must be a bitmap whatever it looks like.
QImage LoadBmp(const QString &path);
