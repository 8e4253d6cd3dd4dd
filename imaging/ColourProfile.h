#pragma once

#include <QByteArray>
#include <QColorSpace>
#include <QImage>

// The colours a picture's bytes stand for, as its file describes them, and the conversion
// to sRGB: the mailed JPEG carries no profile, and every phone takes its bytes as sRGB.
// A picture that describes nothing is taken as sRGB and keeps its bytes.

// Matrix-and-curve profiles take a few hundred bytes to a few kilobytes, profiles with
// look-up tables some hundred kilobytes; nothing that describes a camera or a display
// comes near this.
constexpr qsizetype LargestProfileBytes = 4 << 20;

// The colour space of an ICC profile meant for RGB pixels; invalid (taken as sRGB) for a
// profile that is damaged, cut short, far larger than any real one, of another colour
// model (CMYK, grey, Lab), or of a kind Qt builds no transform from (Qt 6.4 takes the
// matrix-and-curve profiles that cameras, phones and displays use, not look-up tables).
QColorSpace ColourSpaceFromIcc(const QByteArray &profile);

// The colour space of a colour description by code points (ITU-T H.273, as in a HEIF
// file's nclx box): the primaries of sRGB/BT.709, Display P3, DCI-P3 and BT.2020 with the
// sRGB curve (also for the BT.709 family of curves, so that only the gamut is
// converted), a linear curve or gamma 2.2 or 2.8. Invalid for anything else, high
// dynamic range curves included: such pictures keep their bytes.
QColorSpace ColourSpaceFromCodePoints(int primaries, int transfer);

// Converts a picture whose bytes stand for colours in the given space into sRGB, in
// Format_BGR888. An invalid or sRGB space leaves the bytes exactly as they are.
void ConvertToSrgb(QImage &picture, const QColorSpace &colours);
