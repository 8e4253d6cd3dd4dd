#include "imaging/ColourEngine.h"

#include "platform/RegularFile.h"

#include <QFile>
#include <QMutex>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <list>

#include <lcms2_plugin.h>

namespace {

// The memory LittleCMS may hold at once, and in one block. A real profile's largest table
// is no larger than the profile (LargestProfileBytes), and a transform to 8-bit sRGB holds
// tables of a few hundred kilobytes; a profile that claims a table of billions of entries
// is refused its memory and so fails to open.
constexpr size_t LargestBlock = 16 << 20;
constexpr size_t MemoryBudget = 64 << 20;
std::atomic<size_t> memoryHeld{0};

// Each block carries its size before it, so that freeing it needs no look-up.
struct alignas(std::max_align_t) BlockHeader
{
    size_t Size;
};

void *Allocate(cmsContext, cmsUInt32Number size)
{
    if (size > LargestBlock)
        return nullptr;
    if (memoryHeld.fetch_add(size) + size > MemoryBudget) {
        memoryHeld.fetch_sub(size);
        return nullptr;
    }
    auto *header = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader) + size));
    if (!header) {
        memoryHeld.fetch_sub(size);
        return nullptr;
    }
    header->Size = size;
    return header + 1;
}

void Release(cmsContext, void *block)
{
    if (!block)
        return;
    BlockHeader *header = static_cast<BlockHeader *>(block) - 1;
    memoryHeld.fetch_sub(header->Size);
    std::free(header);
}

// As realloc: on failure the old block stays as it was.
void *Reallocate(cmsContext context, void *block, cmsUInt32Number size)
{
    void *grown = Allocate(context, size);
    if (grown && block) {
        std::memcpy(grown, block, std::min<size_t>(size, (static_cast<BlockHeader *>(block) - 1)->Size));
        Release(context, block);
    }
    return grown;
}

void Silent(cmsContext, cmsUInt32Number, const char *)
{}

// The sRGB curve: linear light of an encoded value.
double SrgbToLinear(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// Half an 8-bit level of the encoded value, in linear light at its steepest.
bool CurveIsSrgb(const cmsToneCurve *curve)
{
    for (int i = 0; i <= 255; ++i)
        if (std::abs(cmsEvalToneCurveFloat(curve, float(i) / 255) - SrgbToLinear(i / 255.0)) > 1.0 / 1024)
            return false;
    return true;
}

cmsHPROFILE Srgb()
{
    static const cmsHPROFILE srgb = cmsCreate_sRGBProfileTHR(ColourEngine::Context());
    return srgb;
}

} // namespace

cmsContext ColourEngine::Context()
{
    static const cmsContext context = [] {
        static cmsPluginMemHandler memory{{cmsPluginMagicNumber, LCMS_VERSION, cmsPluginMemHandlerSig, nullptr},
                                          Allocate,
                                          Release,
                                          Reallocate,
                                          nullptr,
                                          nullptr,
                                          nullptr};
        const cmsContext made = cmsCreateContext(&memory, nullptr);
        cmsSetLogErrorHandlerTHR(made, Silent);
        return made;
    }();
    return context;
}

ColourEngine::Outcome ColourEngine::Cached(const QByteArray &key, const std::function<Outcome()> &make)
{
    // Enough for the profiles of a few cameras and phones, the standard CMYK one and the
    // PNG descriptions in turn.
    constexpr size_t Kept = 8;
    static QMutex guard;
    static std::list<std::pair<QByteArray, Outcome>> recent;
    {
        const QMutexLocker lock(&guard);
        for (auto at = recent.begin(); at != recent.end(); ++at)
            if (at->first == key) {
                recent.splice(recent.begin(), recent, at);
                return at->second;
            }
    }
    Outcome made = make();
    const QMutexLocker lock(&guard);
    recent.emplace_front(key, made);
    if (recent.size() > Kept)
        recent.pop_back();
    return made;
}

ColourEngine::Outcome ColourEngine::ConversionFrom(cmsHPROFILE profile, cmsUInt32Number inputFormat,
                                                   cmsUInt32Number intent)
{
    const cmsHTRANSFORM transform =
        cmsCreateTransformTHR(Context(), profile, inputFormat, Srgb(), TYPE_BGR_8, intent, 0);
    if (!transform)
        return {};
    return {true, std::make_shared<const ColourProfile::Conversion>(transform)};
}

ColourEngine::Outcome ColourEngine::ConversionFromPrimaries(const cmsCIExyY &white, const cmsCIExyYTRIPLE &primaries,
                                                            double exponent)
{
    // sRGB's curve as LittleCMS's parametric type 4: ((a x + b)^g for x >= d, else c x.
    const cmsFloat64Number srgbCurve[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve *curve =
        exponent > 0 ? cmsBuildGamma(Context(), exponent) : cmsBuildParametricToneCurve(Context(), 4, srgbCurve);
    if (!curve)
        return {};
    cmsToneCurve *curves[] = {curve, curve, curve};
    const Profile profile(cmsCreateRGBProfileTHR(Context(), &white, &primaries, curves));
    cmsFreeToneCurve(curve);
    if (!profile)
        return {};
    return ConversionFrom(profile.get(), TYPE_BGR_8, INTENT_PERCEPTUAL);
}

bool ColourEngine::DescribesSrgb(cmsHPROFILE profile, bool grey)
{
    if (grey) {
        const auto *curve = static_cast<const cmsToneCurve *>(cmsReadTag(profile, cmsSigGrayTRCTag));
        return curve && CurveIsSrgb(curve);
    }
    if (!cmsIsMatrixShaper(profile))
        return false;
    const cmsTagSignature colourants[] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    const cmsTagSignature curves[] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int i = 0; i < 3; ++i) {
        const auto *ours = static_cast<const cmsCIEXYZ *>(cmsReadTag(profile, colourants[i]));
        const auto *its = static_cast<const cmsCIEXYZ *>(cmsReadTag(Srgb(), colourants[i]));
        const auto *curve = static_cast<const cmsToneCurve *>(cmsReadTag(profile, curves[i]));
        if (!ours || !its || !curve || std::abs(ours->X - its->X) > 1.0 / 512 ||
            std::abs(ours->Y - its->Y) > 1.0 / 512 || std::abs(ours->Z - its->Z) > 1.0 / 512 || !CurveIsSrgb(curve))
            return false;
    }
    return true;
}

Chromaticities ColourEngine::SrgbChromaticities()
{
    return {{0.3127, 0.3290, 1}, {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}}};
}

QByteArray ColourEngine::ReadProfileFile(const QString &path)
{
    QFile file(path);
    if (OpenRegularFile(file) != OpenRefusal::None || file.size() > LargestProfileBytes)
        return {};
    return file.readAll();
}
