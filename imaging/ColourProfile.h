#pragma once

#include <QByteArray>
#include <QImage>

#include <array>
#include <memory>
#include <optional>

// The colours a picture's bytes stand for, as its file describes them, and the conversion
// to sRGB: the mailed JPEG carries no profile, and every phone takes its bytes as sRGB.
// A picture that describes nothing, or describes sRGB, is taken as sRGB and keeps its
// bytes. Every conversion is LittleCMS's, with the profile's own rendering intent
// (perceptual where the profile has no table for it, and for the colour descriptions
// that are not ICC profiles).

// Matrix-and-curve profiles take a few hundred bytes to a few kilobytes, profiles with
// look-up tables some hundred kilobytes; nothing that describes a camera, a printing
// press or a display comes near this.
constexpr qsizetype LargestProfileBytes = 4 << 20;

// How the picture's bytes hold its colours: red, green and blue; one grey level (the
// picture is widened to three equal bytes); four inks (see ColourProfile::HoldsInks).
enum class ColourModel { Rgb, Grey, Cmyk };

// What a PNG file says of its colours besides an ICC profile, in the units of its chunks.
struct PngColourChunks
{
    bool Srgb = false;                                    // an sRGB chunk
    std::optional<quint32> Gamma;                         // gAMA: the encoding exponent x 100000
    std::optional<std::array<quint32, 8>> Chromaticities; // cHRM: x, y of white, red, green, blue x 100000
};

// The ICC profile an iCCP chunk of a PNG holds (a name, a NUL, the compression method and
// a zlib stream), inflated; empty when it is damaged or would be larger than
// LargestProfileBytes.
QByteArray ProfileOfPngChunk(const QByteArray &chunk);

class ColourProfile
{
public:
    // sRGB: the bytes are kept.
    ColourProfile() = default;

    // The colours of an ICC profile for a picture of the model; none for a profile that
    // is damaged, cut short, larger than LargestProfileBytes, of a version LittleCMS does
    // not read (5, iccMAX), of another colour model or of a class that describes no
    // picture (a device link, an abstract or a named-colour profile). A profile that
    // describes sRGB (its primaries and curves within half a level of it) keeps the bytes.
    static std::optional<ColourProfile> FromIcc(const QByteArray &profile, ColourModel model);

    // A PNG's colours by its chunks, as the PNG standard defines them: an sRGB chunk,
    // or gAMA and cHRM built into a profile (a pure power curve of 1 / gamma; the primaries
    // and white of sRGB where cHRM is missing, the sRGB curve where gAMA is). A gamma of
    // 1 / 2.2 with sRGB's chromaticities or none is what older tools write for sRGB and
    // keeps the bytes; a gamma outside 0.25 to 4 and chromaticities that make no triangle
    // around their white are passed over.
    static ColourProfile FromPngChunks(const PngColourChunks &chunks);

    // A colour description by code points (ITU-T H.273, as in a HEIF file's nclx box):
    // the primaries of sRGB/BT.709, Display P3, DCI-P3 and BT.2020 with the sRGB curve
    // (also for the BT.709 family of curves, so that only the gamut is converted), a
    // linear curve or gamma 2.2 or 2.8. None for anything else, high dynamic range curves
    // included: such pictures keep their bytes.
    static std::optional<ColourProfile> FromCodePoints(int primaries, int transfer);

    // The inks of a CMYK picture, stored inverted (0 is full ink, as Adobe's programs
    // write them) or plain: through the picture's own profile when it is a CMYK one that
    // serves, else through the standard CMYK profile (StandardInksProfile), else by the
    // plain arithmetic of inks when that cannot be read.
    static ColourProfile ForInks(const QByteArray &profile, bool inverted);

    // Where the standard CMYK profile is read from: Ghostscript's SWOP profile ("Artifex
    // CMYK SWOP Profile", for the U.S. web offset press), which Debian's libgs-common
    // installs.
    static const char *StandardInksProfile;

    // The picture's bytes are four inks, in a Format_RGBA8888 picture: cyan, magenta,
    // yellow and black in each pixel's four bytes, as stored in the file.
    bool HoldsInks() const { return inks; }
    // Nothing is done to the bytes: sRGB, or nothing described.
    bool KeepsBytes() const { return !inks && !conversion; }

    struct Conversion;

private:
    std::shared_ptr<const Conversion> conversion;
    bool inks = false;
    bool invertedInks = false;

    friend void ConvertToSrgb(QImage &picture, const ColourProfile &colours);
};

// Converts a picture whose bytes stand for the profile's colours into sRGB, in
// Format_BGR888; a picture of inks always becomes one of colours. A profile that keeps
// the bytes leaves them exactly as they are.
void ConvertToSrgb(QImage &picture, const ColourProfile &colours);
