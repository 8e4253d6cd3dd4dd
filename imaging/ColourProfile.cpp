#include "imaging/ColourProfile.h"

#include "imaging/Picture.h"

#include <QColorTransform>

namespace {

// The header of an ICC profile is 128 bytes, followed by the tag count; the colour space
// of the data it describes is at byte 16.
constexpr qsizetype ProfileHeaderBytes = 132;

} // namespace

QColorSpace ColourSpaceFromIcc(const QByteArray &profile)
{
    if (profile.size() < ProfileHeaderBytes || profile.size() > LargestProfileBytes ||
        profile.mid(16, 4) != QByteArrayLiteral("RGB "))
        return {};
    return QColorSpace::fromIccProfile(profile);
}

QColorSpace ColourSpaceFromCodePoints(int primaries, int transfer)
{
    auto function = QColorSpace::TransferFunction::SRgb;
    float gamma = 0;
    switch (transfer) {
    case 1:  // BT.709
    case 2:  // not stated
    case 6:  // BT.601
    case 13: // sRGB
    case 14: // BT.2020, 10 bits
    case 15: // BT.2020, 12 bits
        break;
    case 8:
        function = QColorSpace::TransferFunction::Linear;
        break;
    case 4:
    case 5:
        function = QColorSpace::TransferFunction::Gamma;
        gamma = transfer == 4 ? 2.2f : 2.8f;
        break;
    default:
        return {};
    }
    const QPointF d65(0.3127, 0.3290);
    switch (primaries) {
    case 1: // BT.709, the primaries of sRGB
    case 2: // not stated
        return QColorSpace(QColorSpace::Primaries::SRgb, function, gamma);
    case 9: // BT.2020
        return QColorSpace(d65, {0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}, function, gamma);
    case 11: // DCI-P3, with the white of cinema projectors
        return QColorSpace({0.314, 0.351}, {0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}, function, gamma);
    case 12: // Display P3
        return QColorSpace(QColorSpace::Primaries::DciP3D65, function, gamma);
    default:
        return {};
    }
}

void ConvertToSrgb(QImage &picture, const QColorSpace &colours)
{
    const QColorSpace srgb(QColorSpace::SRgb);
    if (picture.isNull() || !colours.isValid() || colours == srgb)
        return;
    const QColorTransform transform = colours.transformationToColorSpace(srgb);
    if (transform.isIdentity())
        return;
    QImage pixels = picture.convertToFormat(QImage::Format_RGB32);
    pixels.applyColorTransform(transform);
    picture = To24Bit(pixels);
}
