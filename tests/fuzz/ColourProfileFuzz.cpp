// libFuzzer target for the colour descriptions a picture's file gives: ICC profiles for colour,
// grey and ink pictures, a PNG's compressed profile chunk, HEIF code points. Whatever they hold,
// a small picture converts through what comes of them or keeps its bytes; nothing crashes, hangs
// or asks for a large block (run with -malloc_limit_mb).
#include "imaging/ColourProfile.h"

#include <cstdint>
#include <cstdlib>

namespace {

// A small picture of many colours, in the form the pictures come in.
QImage Picture(QImage::Format format)
{
    QImage picture(16, 4, format);
    for (qsizetype i = 0; i < picture.sizeInBytes(); ++i)
        picture.bits()[i] = uchar(i * 37);
    return picture;
}

ColourProfile Described(int kind, const QByteArray &bytes)
{
    switch (kind) {
    case 0:
    case 1:
        return ColourProfile::FromIcc(bytes, kind ? ColourModel::Grey : ColourModel::Rgb).value_or(ColourProfile());
    case 2:
    case 3:
        return ColourProfile::ForInks(bytes, kind == 3);
    case 4:
        return ColourProfile::FromIcc(ProfileOfPngChunk(bytes), ColourModel::Rgb).value_or(ColourProfile());
    default:
        return ColourProfile::FromCodePoints(bytes.size() > 0 ? uchar(bytes[0]) : 0,
                                             bytes.size() > 1 ? uchar(bytes[1]) : 0)
            .value_or(ColourProfile());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says what the rest is read as.
    const int kind = data[0] % 6;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));
    const ColourProfile colours = Described(kind, bytes);
    static const QImage colourPicture = Picture(QImage::Format_BGR888), inkPicture = Picture(QImage::Format_RGBA8888);
    QImage picture = colours.HoldsInks() ? inkPicture : colourPicture;
    ConvertToSrgb(picture, colours);
    if (picture.format() != QImage::Format_BGR888 || picture.size() != QSize(16, 4) ||
        (colours.KeepsBytes() && picture != colourPicture))
        std::abort();
    return 0;
}
