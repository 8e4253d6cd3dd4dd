#pragma once

#include "imaging/ColourProfile.h"

#include <QByteArray>

#include <functional>
#include <memory>

#include <lcms2.h>

// What ColourProfile asks of LittleCMS: one context whose memory is bounded, so that no
// profile, however it is made, makes it take more than a few tens of megabytes or say
// anything on the terminal; sRGB as the one target; and the transforms, made once for
// each profile and kept for the profiles seen last, as a drop of one camera's photos
// after another meets the same profile again.

struct ColourProfile::Conversion
{
    explicit Conversion(cmsHTRANSFORM transform) : Transform(transform) {}
    ~Conversion() { cmsDeleteTransform(Transform); }
    Conversion(const Conversion &) = delete;
    Conversion &operator=(const Conversion &) = delete;

    const cmsHTRANSFORM Transform;
};

// White and primaries as chromaticities x and y.
struct Chromaticities
{
    cmsCIExyY White;
    cmsCIExyYTRIPLE Primaries;
};

class ColourEngine
{
public:
    // The context every profile and transform of kelvo's is made in.
    static cmsContext Context();

    struct ProfileClose
    {
        void operator()(void *profile) const { cmsCloseProfile(profile); }
    };
    using Profile = std::unique_ptr<void, ProfileClose>;

    // What a colour description comes to: not usable (damaged, of the wrong kind), usable
    // with nothing to do (sRGB), or usable with its conversion.
    struct Outcome
    {
        bool Usable = false;
        std::shared_ptr<const ColourProfile::Conversion> Conversion;
    };

    // The outcome for the description that key stands for: kept from an earlier call with
    // the same key, or made now.
    static Outcome Cached(const QByteArray &key, const std::function<Outcome()> &make);

    // The conversion to sRGB of pixels in the given LittleCMS format: not usable when
    // LittleCMS cannot make it.
    static Outcome ConversionFrom(cmsHPROFILE profile, cmsUInt32Number inputFormat, cmsUInt32Number intent);

    // The conversion of RGB pixels with these primaries and white, through a pure power
    // curve of the exponent, or the sRGB curve for 0.
    static Outcome ConversionFromPrimaries(const cmsCIExyY &white, const cmsCIExyYTRIPLE &primaries, double exponent);

    // A matrix-and-curve RGB profile with sRGB's primaries and curves, or a grey profile
    // with its curve, each within half an 8-bit level.
    static bool DescribesSrgb(cmsHPROFILE profile, bool grey);

    static Chromaticities SrgbChromaticities();

    // The profile in the file, empty when it cannot be read or is larger than any profile.
    static QByteArray ReadProfileFile(const QString &path);
};
