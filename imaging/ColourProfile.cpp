#include "imaging/ColourProfile.h"

#include "imaging/ColourEngine.h"
#include "imaging/Picture.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <cmath>

#include <zlib.h>

namespace {

// The header of an ICC profile is 128 bytes, followed by the tag count.
constexpr qsizetype ProfileHeaderBytes = 132;

quint32 BigEndianAt(const QByteArray &bytes, qsizetype at)
{
    return qFromBigEndian<quint32>(bytes.constData() + at);
}

QByteArray SignatureOf(ColourModel model)
{
    switch (model) {
    case ColourModel::Grey:
        return "GRAY";
    case ColourModel::Cmyk:
        return "CMYK";
    case ColourModel::Rgb:
        break;
    }
    return "RGB ";
}

// What LittleCMS is not asked to read: a header that is not an ICC profile's or that
// claims more bytes than there are, a version other than 2 and 4 (5 is iccMAX), a profile
// of another colour model, one whose connection space is neither XYZ nor Lab, and a class
// that describes no picture (device links, abstract and named-colour profiles). Returns
// the size the profile declares.
qsizetype CheckedSize(const QByteArray &profile, ColourModel model)
{
    if (profile.size() < ProfileHeaderBytes || profile.size() > LargestProfileBytes)
        return 0;
    const qsizetype declared = BigEndianAt(profile, 0);
    const QByteArray deviceClass = profile.mid(12, 4), connection = profile.mid(20, 4);
    const char major = profile[8];
    const bool describesPictures =
        deviceClass == "mntr" || deviceClass == "scnr" || deviceClass == "prtr" || deviceClass == "spac";
    if (declared < ProfileHeaderBytes || declared > profile.size() || profile.mid(36, 4) != "acsp" ||
        (major != 2 && major != 4) || profile.mid(16, 4) != SignatureOf(model) ||
        (connection != "XYZ " && connection != "Lab ") || !describesPictures)
        return 0;
    return declared;
}

// The pixel layout LittleCMS reads: the pictures are Format_BGR888 (a grey one widened to
// three equal bytes, read from the first), inks four bytes a pixel.
cmsUInt32Number InputFormat(ColourModel model, bool invertedInks)
{
    switch (model) {
    case ColourModel::Grey:
        return COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(2);
    case ColourModel::Cmyk:
        return invertedInks ? TYPE_CMYK_8_REV : TYPE_CMYK_8;
    case ColourModel::Rgb:
        break;
    }
    return TYPE_BGR_8;
}

// The profile's own rendering intent when it has what that intent needs, perceptual
// otherwise (LittleCMS then takes the table the profile has).
cmsUInt32Number IntentOf(cmsHPROFILE profile)
{
    const cmsUInt32Number own = cmsGetHeaderRenderingIntent(profile);
    return own <= INTENT_ABSOLUTE_COLORIMETRIC && cmsIsIntentSupported(profile, own, LCMS_USED_AS_INPUT)
               ? own
               : INTENT_PERCEPTUAL;
}

ColourEngine::Outcome ResolveIcc(const QByteArray &profile, ColourModel model, bool invertedInks)
{
    const qsizetype size = CheckedSize(profile, model);
    if (size == 0)
        return {};
    const ColourEngine::Profile opened(
        cmsOpenProfileFromMemTHR(ColourEngine::Context(), profile.constData(), cmsUInt32Number(size)));
    if (!opened)
        return {};
    if (model != ColourModel::Cmyk && ColourEngine::DescribesSrgb(opened.get(), model == ColourModel::Grey))
        return {true, nullptr};
    return ColourEngine::ConversionFrom(opened.get(), InputFormat(model, invertedInks), IntentOf(opened.get()));
}

// The primaries' triangle must hold the white: a white outside it, or primaries that make
// no triangle, give no matrix to XYZ.
bool MakesATriangleAroundItsWhite(const Chromaticities &c)
{
    const cmsCIExyY *corner[] = {&c.Primaries.Red, &c.Primaries.Green, &c.Primaries.Blue, &c.White};
    for (const cmsCIExyY *point : corner)
        if (point->x < 0 || point->y < 0.01 || point->x + point->y > 1)
            return false;
    const auto side = [](const cmsCIExyY &a, const cmsCIExyY &b, const cmsCIExyY &p) {
        return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    };
    const cmsCIExyY &r = c.Primaries.Red, &g = c.Primaries.Green, &b = c.Primaries.Blue, &w = c.White;
    const double area = side(r, g, b);
    return std::abs(area) > 1e-3 && side(r, g, w) * area > 0 && side(g, b, w) * area > 0 && side(b, r, w) * area > 0;
}

std::optional<Chromaticities> UsableChromaticities(const std::optional<std::array<quint32, 8>> &chunk)
{
    if (!chunk)
        return {};
    const auto at = [&](int i) { return double((*chunk)[i]) / 100000; };
    const Chromaticities c{{at(0), at(1), 1}, {{at(2), at(3), 1}, {at(4), at(5), 1}, {at(6), at(7), 1}}};
    if (!MakesATriangleAroundItsWhite(c))
        return {};
    return c;
}

bool AreSrgbs(const Chromaticities &c)
{
    const Chromaticities srgb = ColourEngine::SrgbChromaticities();
    const cmsCIExyY *ours[] = {&c.White, &c.Primaries.Red, &c.Primaries.Green, &c.Primaries.Blue};
    const cmsCIExyY *its[] = {&srgb.White, &srgb.Primaries.Red, &srgb.Primaries.Green, &srgb.Primaries.Blue};
    for (int i = 0; i < 4; ++i)
        if (std::abs(ours[i]->x - its[i]->x) > 0.001 || std::abs(ours[i]->y - its[i]->y) > 0.001)
            return false;
    return true;
}

// What a profile's conversion is kept under: what it is read as, and a digest of its bytes
// rather than the bytes, which may be megabytes.
QByteArray KeyOf(const QByteArray &kind, const QByteArray &profile)
{
    return kind + ' ' + QCryptographicHash::hash(profile, QCryptographicHash::Sha256);
}

} // namespace

QByteArray ProfileOfPngChunk(const QByteArray &chunk)
{
    const qsizetype nameEnd = chunk.indexOf('\0');
    if (nameEnd < 1 || nameEnd > 79 || chunk.size() < nameEnd + 2 || chunk[nameEnd + 1] != 0)
        return {};
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(chunk.constData() + nameEnd + 2));
    stream.avail_in = uInt(chunk.size() - nameEnd - 2);
    // Grown as it fills, to one byte more than the largest profile, which tells one too large.
    QByteArray profile;
    int result = Z_OK;
    while (result == Z_OK && profile.size() <= LargestProfileBytes) {
        const qsizetype done = qsizetype(stream.total_out);
        profile.resize(std::min<qsizetype>(std::max<qsizetype>(2 * done, 64 << 10), LargestProfileBytes + 1));
        stream.next_out = reinterpret_cast<Bytef *>(profile.data() + done);
        stream.avail_out = uInt(profile.size() - done);
        result = inflate(&stream, Z_NO_FLUSH);
    }
    const qsizetype size = qsizetype(stream.total_out);
    inflateEnd(&stream);
    if (result != Z_STREAM_END || size > LargestProfileBytes)
        return {};
    profile.truncate(size);
    return profile;
}

const char *ColourProfile::StandardInksProfile = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

std::optional<ColourProfile> ColourProfile::FromIcc(const QByteArray &profile, ColourModel model)
{
    const ColourEngine::Outcome outcome =
        ColourEngine::Cached(KeyOf(SignatureOf(model), profile), [&] { return ResolveIcc(profile, model, false); });
    if (!outcome.Usable)
        return {};
    ColourProfile colours;
    colours.conversion = outcome.Conversion;
    return colours;
}

ColourProfile ColourProfile::ForInks(const QByteArray &profile, bool inverted)
{
    ColourProfile colours;
    colours.inks = true;
    colours.invertedInks = inverted;
    const QByteArray kind = inverted ? "CMYK inverted" : "CMYK";
    ColourEngine::Outcome outcome =
        ColourEngine::Cached(KeyOf(kind, profile), [&] { return ResolveIcc(profile, ColourModel::Cmyk, inverted); });
    if (!outcome.Usable)
        outcome = ColourEngine::Cached(kind + ' ' + StandardInksProfile, [&] {
            return ResolveIcc(ColourEngine::ReadProfileFile(StandardInksProfile), ColourModel::Cmyk, inverted);
        });
    colours.conversion = outcome.Conversion;
    return colours;
}

ColourProfile ColourProfile::FromPngChunks(const PngColourChunks &chunks)
{
    if (chunks.Srgb)
        return {};
    std::optional<double> gamma;
    if (chunks.Gamma && *chunks.Gamma >= 25000 && *chunks.Gamma <= 400000)
        gamma = *chunks.Gamma / 100000.0;
    const std::optional<Chromaticities> given = UsableChromaticities(chunks.Chromaticities);
    const bool srgbCurve = !gamma || std::abs(1 / *gamma - 2.2) < 0.05;
    if (srgbCurve && (!given || AreSrgbs(*given)))
        return {};
    const Chromaticities chromaticities = given.value_or(ColourEngine::SrgbChromaticities());
    QByteArray key = "PNG";
    for (const double value :
         {gamma.value_or(0), chromaticities.White.x, chromaticities.White.y, chromaticities.Primaries.Red.x,
          chromaticities.Primaries.Red.y, chromaticities.Primaries.Green.x, chromaticities.Primaries.Green.y,
          chromaticities.Primaries.Blue.x, chromaticities.Primaries.Blue.y})
        key += ' ' + QByteArray::number(value, 'g', 8);
    ColourProfile colours;
    colours.conversion = ColourEngine::Cached(key, [&] {
                             return ColourEngine::ConversionFromPrimaries(
                                 chromaticities.White, chromaticities.Primaries, gamma ? 1 / *gamma : 0);
                         }).Conversion;
    return colours;
}

std::optional<ColourProfile> ColourProfile::FromCodePoints(int primaries, int transfer)
{
    // The exponent of the curve; 0 for sRGB's own.
    double exponent = 0;
    switch (transfer) {
    case 1:  // BT.709
    case 2:  // not stated
    case 6:  // BT.601
    case 13: // sRGB
    case 14: // BT.2020, 10 bits
    case 15: // BT.2020, 12 bits
        break;
    case 8:
        exponent = 1;
        break;
    case 4:
    case 5:
        exponent = transfer == 4 ? 2.2 : 2.8;
        break;
    default:
        return {};
    }
    Chromaticities c = ColourEngine::SrgbChromaticities();
    switch (primaries) {
    case 1: // BT.709, the primaries of sRGB
    case 2: // not stated
        if (exponent == 0)
            return ColourProfile();
        break;
    case 9: // BT.2020
        c.Primaries = {{0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}};
        break;
    case 11: // DCI-P3, with the white of cinema projectors
        c.White = {0.314, 0.351, 1};
        c.Primaries = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
        break;
    case 12: // Display P3
        c.Primaries = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
        break;
    default:
        return {};
    }
    ColourProfile colours;
    colours.conversion =
        ColourEngine::Cached("nclx " + QByteArray::number(primaries) + ' ' + QByteArray::number(transfer), [&] {
            return ColourEngine::ConversionFromPrimaries(c.White, c.Primaries, exponent);
        }).Conversion;
    return colours;
}

namespace {

// Inks to red, green and blue by their plain arithmetic, for want of the standard profile.
QImage InksByArithmetic(const QImage &inks, bool inverted)
{
    QImage bgr = NewPicture(inks.width(), inks.height());
    for (int y = 0; y < inks.height(); ++y) {
        const uchar *s = inks.constScanLine(y);
        uchar *d = bgr.scanLine(y);
        for (int x = 0; x < inks.width(); ++x, s += 4, d += 3) {
            unsigned c = s[0], m = s[1], ye = s[2], k = s[3];
            if (!inverted)
                c = 255 - c, m = 255 - m, ye = 255 - ye, k = 255 - k;
            d[0] = uchar((ye * k + 127) / 255);
            d[1] = uchar((m * k + 127) / 255);
            d[2] = uchar((c * k + 127) / 255);
        }
    }
    return bgr;
}

} // namespace

void ConvertToSrgb(QImage &picture, const ColourProfile &colours)
{
    if (picture.isNull() || colours.KeepsBytes())
        return;
    if (colours.inks && !colours.conversion) {
        picture = InksByArithmetic(picture, colours.invertedInks);
        return;
    }
    const QImage source = colours.inks ? picture : To24Bit(picture);
    QImage converted = NewPicture(source.width(), source.height());
    cmsDoTransformLineStride(colours.conversion->Transform, source.constBits(), converted.bits(),
                             cmsUInt32Number(source.width()), cmsUInt32Number(source.height()),
                             cmsUInt32Number(source.bytesPerLine()), cmsUInt32Number(converted.bytesPerLine()), 0, 0);
    picture = converted;
}
