#pragma once

#include <QImage>
#include <QString>

// Picture intake: which files a drop takes, by their extension alone, and the picture a
// file gives, upright and fitted to the phone's dot size.

enum class PictureFormat { None, Jpeg, Bmp, Png, WebP, Heif };

struct PictureType
{
    PictureFormat Format = PictureFormat::None;
    // ".jpg" empties the preview before it is decoded, so that a file that fails leaves
    // it empty; every other kind keeps the previous picture when it fails.
    bool ClearsPreviewFirst = false;
};

// By the text from the last "." of the file name, without regard to case: .jpg, .jpeg,
// .bmp, .png, .webp, .heic and .heif. Anything else, and a name without a dot, is None,
// whatever the file holds.
PictureType PictureTypeOf(const QString &path);

// Reads the file as the format it claims and as nothing else, turns it upright (the EXIF
// orientation of a JPEG, the rotation and mirror of a HEIF file), lays transparent pixels
// on white and fits it so that its longer side is dotSize. A file that cannot be opened,
// is not of that format or cannot be read throws the format's message; nothing is kept.
QImage LoadPicture(const QString &path, PictureFormat format, int dotSize);

// The readers of the newer formats, at full size, upright, in Format_BGR888.
QImage LoadPng(const QString &path);
QImage LoadWebP(const QString &path);
QImage LoadHeif(const QString &path);
