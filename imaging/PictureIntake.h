#pragma once

#include "imaging/Orientation.h"

#include <QImage>
#include <QString>

class ColourProfile;

// Picture intake: which files a drop takes, by their extension alone, and the picture a
// file gives, upright and fitted to the phone's dot size.

enum class PictureFormat { None, Jpeg, Bmp, Png, WebP, Heif };

struct PictureType
{
    PictureFormat Format = PictureFormat::None;
};

// By the text from the last "." of the file name, without regard to case: .jpg, .jpeg,
// .bmp, .png, .webp, .heic and .heif. Anything else, and a name without a dot, is None,
// whatever the file holds.
PictureType PictureTypeOf(const QString &path);

// Reads the file as the format it claims and as nothing else, turns it upright (the EXIF
// orientation of a JPEG, PNG or WebP, the rotation and mirror of a HEIF file), lays
// transparent pixels on white, fits it so that its longer side is dotSize and converts
// its colours to sRGB when its file describes them otherwise (ColourProfile.h). A file
// that cannot be opened, is not of that format or cannot be read throws the format's
// message; nothing is kept.
QImage LoadPicture(const QString &path, PictureFormat format, int dotSize);

// The readers of the newer formats, at full size, in Format_BGR888; colours receives the
// colours their file describes. PNG and WebP pictures come as stored, turn receiving what
// stands them upright; HEIF pictures come upright.
QImage LoadPng(const QString &path, Orientation *turn = nullptr, ColourProfile *colours = nullptr);
QImage LoadWebP(const QString &path, Orientation *turn = nullptr, ColourProfile *colours = nullptr);
QImage LoadHeif(const QString &path, ColourProfile *colours = nullptr);
