#include "TestPictures.h"

#include <QColorSpace>
#include <QProcess>
#include <QtEndian>

#include <cstdio>
#include <vector>

#include <lcms2.h>

namespace {

const QString Ghostscript = QStringLiteral("/usr/share/color/icc/ghostscript/");

// The sRGB bytes (R, G, B) that LittleCMS makes of the picture file through the profile
// file, as Pillow's ImageCms converts it: a reference apart from kelvo's own code.
QByteArray ConvertedByPillow(const QString &picture, const QString &profile)
{
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    python.start("/usr/bin/python3",
                 {KELVO_SOURCE_DIR "/tests/imaging/lcms_reference.py", picture, profile, "reference.rgb"});
    return python.waitForFinished(60000) && python.exitCode() == 0 ? ReadFile("reference.rgb") : QByteArray();
}

// CIEDE2000 between a picture (Format_BGR888) and R, G, B bytes of its size, both sRGB: the mean and the largest.
std::pair<double, double> DeltaE(const QImage &picture, const QByteArray &rgb)
{
    const int w = picture.width(), n = w * picture.height();
    if (rgb.size() != 3 * n || w % 4)
        return {99, 99};
    cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
    std::vector<cmsCIELab> ours(n), its(n);
    for (const auto &[format, bytes, labs] :
         {std::tuple{TYPE_BGR_8, picture.constBits(), ours.data()},
          {TYPE_RGB_8, reinterpret_cast<const uchar *>(rgb.constData()), its.data()}}) {
        const cmsHTRANSFORM transform = cmsCreateTransform(srgb, format, lab, TYPE_Lab_DBL, INTENT_PERCEPTUAL, 0);
        cmsDoTransform(transform, bytes, labs, n); // rows of a multiple of 4 pixels need no padding
        cmsDeleteTransform(transform);
    }
    double sum = 0, largest = 0;
    for (int i = 0; i < n; ++i) {
        const double d = cmsCIE2000DeltaE(&ours[i], &its[i], 1, 1, 1);
        sum += d, largest = std::max(largest, d);
    }
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    return {sum / n, largest};
}

int Sample(const cmsUInt16Number in[], cmsUInt16Number out[], void *transform)
{
    cmsDoTransform(transform, in, out, 1);
    return 1;
}

// A v4 RGB profile of look-up tables alone (A2B0 and B2A0 over Lab, 17 points a side), sampled from Display P3.
QByteArray LookUpTableProfile()
{
    const QByteArray p3 = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    cmsHPROFILE source = cmsOpenProfileFromMem(p3.constData(), p3.size()), lab = cmsCreateLab4Profile(nullptr);
    cmsHPROFILE made = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(made, 4.3);
    cmsSetDeviceClass(made, cmsSigDisplayClass);
    cmsSetColorSpace(made, cmsSigRgbData);
    cmsSetPCS(made, cmsSigLabData);
    const std::pair<cmsTagSignature, cmsHTRANSFORM> tables[] = {
        {cmsSigAToB0Tag, cmsCreateTransform(source, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_PERCEPTUAL, 0)},
        {cmsSigBToA0Tag, cmsCreateTransform(lab, TYPE_Lab_16, source, TYPE_RGB_16, INTENT_PERCEPTUAL, 0)}};
    for (const auto &[tag, transform] : tables) {
        cmsPipeline *pipeline = cmsPipelineAlloc(nullptr, 3, 3);
        cmsStage *table = cmsStageAllocCLut16bit(nullptr, 17, 3, 3, nullptr);
        cmsStageSampleCLut16bit(table, Sample, transform, 0);
        // A table of the form lutAtoBType and lutBtoAType hold: curves (straight here) around it.
        cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
        cmsPipelineInsertStage(pipeline, cmsAT_END, table);
        cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
        cmsWriteTag(made, tag, pipeline);
        cmsPipelineFree(pipeline);
        cmsDeleteTransform(transform);
    }
    cmsWriteTag(made, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(made, nullptr, &size);
    QByteArray bytes(size, 0);
    cmsSaveProfileToMem(made, bytes.data(), &size);
    for (cmsHPROFILE profile : {source, lab, made})
        cmsCloseProfile(profile);
    return bytes;
}

// The offset of the profile's tag of that signature.
qsizetype TagAt(const QByteArray &profile, const char *signature)
{
    for (quint32 i = 0, n = qFromBigEndian<quint32>(profile.constData() + 128); i < n && 144 + 12 * i <= profile.size();
         ++i)
        if (profile.mid(132 + 12 * i, 4) == signature)
            return qFromBigEndian<quint32>(profile.constData() + 136 + 12 * i);
    return 0;
}

QByteArray PngChunks(const char *gamma, const char *chromaticities)
{
    QByteArray png = Saved(SmoothPicture(48, 48), "PNG");
    png = gamma ? WithPngChunk(png, "gAMA", QByteArray::fromHex(gamma)) : png;
    return chromaticities ? WithPngChunk(png, "cHRM", QByteArray::fromHex(chromaticities)) : png;
}

// What every row is made of: a smooth square picture in each form, and the profiles.
struct Sources
{
    QImage picture = SmoothPicture(48, 48);
    QByteArray jpeg = WriteTestJpeg(picture, JpegForm::Baseline, 100),
               grey = WriteTestJpeg(picture, JpegForm::Greyscale, 100),
               plainInks = WriteTestJpeg(picture, JpegForm::PlainCmyk, 100),
               adobeInks = WriteTestJpeg(picture, JpegForm::AdobeCmyk, 100), png = Saved(picture, "PNG"),
               webp = Saved(picture, "WEBP", 100), heic = WriteTestHeic(picture);
    QByteArray p3 = QColorSpace(QColorSpace::DisplayP3).iccProfile(), lut = LookUpTableProfile(),
               cmyk = ReadFile(Ghostscript + "ps_cmyk.icc");
};

} // namespace

// Every colour description kelvo converts, converted as LittleCMS converts it (each row's picture within a
// mean CIEDE2000 of 1 of Pillow's conversion): of its stored bytes (the drop of its twin without a description),
// or of the inks Pillow reads from the CMYK file.
TEST(Colours, ConvertedAsLittleCmsDoes)
{
    TestFolder folder;
    const Sources s;
    const QByteArray heic = RebuiltHeif(s.heic, 48);
    QImage tagged = s.picture;
    tagged.setColorSpace(QColorSpace::DisplayP3);
    WriteFile("p3.icc", s.p3);
    WriteFile("lut.icc", s.lut);
    const auto writeSpace = [](const char *name, const QColorSpace &space) { WriteFile(name, space.iccProfile()); };
    writeSpace("linear.icc", QColorSpace(QColorSpace::Primaries::SRgb, QColorSpace::TransferFunction::Linear));
    writeSpace("gamma18.icc", QColorSpace(QColorSpace::Primaries::SRgb, 100000 / 55556.f));
    writeSpace("p3gamma22.icc", QColorSpace({0.3127, 0.3290}, {0.68, 0.32}, {0.265, 0.69}, {0.15, 0.06},
                                            QColorSpace::TransferFunction::Gamma, 100000 / 45455.f));
    const QString swop = Ghostscript + "default_cmyk.icc", cmyk = Ghostscript + "ps_cmyk.icc";
    const QByteArray p3Chromaticities = "00007a26 00008084 000109a0 00007d00 00006784 00010d88 00003a98 00001770";
    const std::tuple<const char *, QByteArray, QByteArray, QString> rows[] = {
        // file, twin, reference profile
        {"p3.jpg", WithIcc(s.jpeg, s.p3), s.jpeg, "p3.icc"},
        {"p3.png", Saved(tagged, "PNG"), s.png, "p3.icc"},
        {"p3.webp", Saved(tagged, "WEBP", 100), s.webp, "p3.icc"},
        {"p3.heic", RebuiltHeif(s.heic, 48, 0, Box("colr", "prof" + s.p3)), heic, "p3.icc"},
        {"nclx.heic", RebuiltHeif(s.heic, 48, 0, Box("colr", QByteArray::fromHex("6e636c78 000c000d000680"))), heic,
         "p3.icc"},
        {"lut.jpg", WithIcc(s.jpeg, s.lut), s.jpeg, "lut.icc"},
        {"grey.jpg", WithIcc(s.grey, ReadFile(Ghostscript + "sgray.icc")), s.grey, Ghostscript + "sgray.icc"},
        {"linear.png", PngChunks("000186a0", nullptr), s.png, "linear.icc"},
        {"gamma18.png", PngChunks("0000d904", nullptr), s.png, "gamma18.icc"},
        {"p3gamma22.png", PngChunks("0000b18f", p3Chromaticities), s.png, "p3gamma22.icc"},
        {"cmyk.jpg", WithIcc(s.plainInks, s.cmyk), {}, cmyk},
        {"adobe.jpg", WithIcc(s.adobeInks, s.cmyk), {}, cmyk},
        {"untagged-cmyk.jpg", s.plainInks, {}, swop},
        {"untagged-ycck.jpg", WriteTestJpeg(s.picture, JpegForm::AdobeYcck, 100), {}, swop},
        {"rgb-profile-cmyk.jpg", WithIcc(s.adobeInks, s.p3), {}, swop},
        {"huge-table-cmyk.jpg",
         WithIcc(s.plainInks, QByteArray(s.cmyk).replace(TagAt(s.cmyk, "A2B0") + 10, 1, "\xFF")),
         {},
         swop},
    };
    for (const auto &[name, file, twin, profile] : rows) {
        SCOPED_TRACE(name);
        const QImage ours = Drop(name, file, 48);
        QString stored = name;
        if (!twin.isEmpty()) {
            const QImage twinDrop = Drop(QString("twin-") + name, twin, 48);
            stored = "stored.png";
            twinDrop
                .convertToFormat(QString(name).startsWith("grey") ? QImage::Format_Grayscale8 : QImage::Format_RGB888)
                .save(stored);
        }
        const auto [mean, largest] = DeltaE(ours, ConvertedByPillow(stored, profile));
        std::printf("%-22s CIEDE2000 from LittleCMS's: mean %.3f, largest %.3f\n", name, mean, largest);
        EXPECT_LT(mean, 1.0);
    }
}

// Untagged pictures and those described as sRGB keep their bytes; so do those whose description cannot serve.
TEST(Colours, SrgbAndUnusableDescriptionsKeepTheBytes)
{
    TestFolder folder;
    const Sources s;
    const QByteArray heic = RebuiltHeif(s.heic, 48);
    const qsizetype lutTable = TagAt(s.lut, "A2B0");
    const qsizetype clut = lutTable + qFromBigEndian<quint32>(s.lut.constData() + lutTable + 24);
    const std::tuple<const char *, QByteArray, QByteArray> rows[] = {
        // file, twin without a description
        {"srgb.jpg", WithIcc(s.jpeg, QColorSpace(QColorSpace::SRgb).iccProfile()), s.jpeg},
        {"srgb-table.jpg", WithIcc(s.jpeg, ReadFile(Ghostscript + "srgb.icc")), s.jpeg},
        {"grey-srgb.jpg", WithIcc(s.grey, ReadFile(Ghostscript + "default_gray.icc")), s.grey},
        {"srgb.png", WithPngChunk(s.png, "sRGB", QByteArray(1, 0)), s.png},
        {"gamma45455.png", PngChunks("0000b18f", nullptr), s.png},
        {"gamma-srgb.png",
         PngChunks("0000b18f", "00007a26 00008084 0000fa00 000080e8 00007530 0000ea60 00003a98 00001770"), s.png},
        {"srgb.heic", RebuiltHeif(s.heic, 48, 0, Box("colr", QByteArray::fromHex("6e636c78 0001000d000680"))), heic},
        {"cut.jpg", WithIcc(s.jpeg, s.p3.left(300)), s.jpeg},
        {"cmyk-profile.jpg", WithIcc(s.jpeg, s.cmyk), s.jpeg},
        {"grey-profile.jpg", WithIcc(s.jpeg, QByteArray(s.p3).replace(16, 4, "GRAY")), s.jpeg},
        {"over-the-cap.jpg", WithIcc(s.jpeg, s.p3 + QByteArray(5 << 20, 0)), s.jpeg},
        {"junk.jpg", WithIcc(s.jpeg, Saved(RandomPicture(700, 1, 9), "BMP").mid(54).replace(16, 4, "RGB ")), s.jpeg},
        {"version5.jpg", WithIcc(s.jpeg, QByteArray(s.p3).replace(8, 1, "\x05")), s.jpeg},
        {"tag-outside.jpg", WithIcc(s.jpeg, QByteArray(s.p3).replace(136, 4, "\x7F\xFF\xFF\x00")), s.jpeg},
        {"huge-table.jpg", WithIcc(s.jpeg, QByteArray(s.lut).replace(clut, 3, "\xFF\xFF\xFF")), s.jpeg},
        {"cmyk-profile.png", WithPngChunk(s.png, "iCCP", QByteArray("cmyk\0\0", 6) + qCompress(s.cmyk).mid(4)), s.png},
        {"gamma0.png", PngChunks("00000000", nullptr), s.png},
        {"white-outside.png",
         PngChunks(nullptr, "00000000 00000000 0000fa00 000080e8 00007530 0000ea60 00003a98 00001770"), s.png},
    };
    for (const auto &[name, file, twin] : rows)
        EXPECT_EQ(Drop(name, file, 48), Drop(QString("twin-") + name, twin, 48)) << name;
}
