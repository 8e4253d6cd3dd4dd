// HEIF and HEIC pictures (the photos of today's phones) through libheif.
#include "imaging/PictureIntake.h"

#include "imaging/ColourProfile.h"
#include "imaging/HeifSizes.h"
#include "imaging/Picture.h"
#include "platform/Exception.h"

#include <QCoreApplication>

#include <memory>

#include <libheif/heif.h>

namespace {

struct ContextFree
{
    void operator()(heif_context *c) const { heif_context_free(c); }
};
struct HandleRelease
{
    void operator()(heif_image_handle *h) const { heif_image_handle_release(h); }
};
struct ImageRelease
{
    void operator()(heif_image *i) const { heif_image_release(i); }
};
struct OptionsFree
{
    void operator()(heif_decoding_options *o) const { heif_decoding_options_free(o); }
};
struct ColourCodesFree
{
    void operator()(heif_color_profile_nclx *n) const { heif_nclx_color_profile_free(n); }
};

// libheif's decoder plugins are registered once for the program's life.
void InitialiseOnce()
{
    static const bool done = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)done;
}

// The colours the file describes: its ICC profile, or else its colour description by
// code points. Either may be missing or of no use; the picture is then taken as sRGB.
ColourProfile ColoursOf(const heif_image_handle *handle)
{
    const size_t profileSize = heif_image_handle_get_raw_color_profile_size(handle);
    if (profileSize > 0 && profileSize <= size_t(LargestProfileBytes)) {
        QByteArray profile(qsizetype(profileSize), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(handle, profile.data()).code == heif_error_Ok)
            if (const std::optional<ColourProfile> colours = ColourProfile::FromIcc(profile, ColourModel::Rgb))
                return *colours;
    }
    heif_color_profile_nclx *codes = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &codes).code != heif_error_Ok)
        return {};
    const std::unique_ptr<heif_color_profile_nclx, ColourCodesFree> owned(codes);
    return ColourProfile::FromCodePoints(codes->color_primaries, codes->transfer_characteristics)
        .value_or(ColourProfile());
}

// The picture of the handle, upright, transparent pixels laid on white, in Format_BGR888.
QImage Decoded(heif_image_handle *handle, const Exception &unreadable)
{
    const bool alpha = heif_image_handle_has_alpha_channel(handle);
    const std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (!options)
        ThrowNoMemory(0, 0);
    // A file cut short, or with a picture missing, fails instead of giving a half picture;
    // ten-bit photos come as 8 bits. Damage inside the HEVC stream is not seen: libde265
    // decodes flipped or zeroed bytes without a word, and the preview shows the damage.
    options->strict_decoding = 1;
    options->convert_hdr_to_8bit = 1;
    heif_image *rawImage = nullptr;
    // libheif applies the file's rotation, mirror and crop as it decodes.
    if (heif_decode_image(handle, &rawImage, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get())
            .code != heif_error_Ok)
        throw unreadable;
    std::unique_ptr<heif_image, ImageRelease> image(rawImage);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || width < 1 || height < 1)
        throw unreadable;
    CheckPictureSize(width, height);
    const QImage::Format withAlpha = heif_image_is_premultiplied_alpha(image.get())
                                         ? QImage::Format_RGBA8888_Premultiplied
                                         : QImage::Format_RGBA8888;
    // libheif's picture becomes kelvo's, made 24-bit in its own memory: the largest one
    // is never held twice.
    const auto release = [](void *held) { heif_image_release(static_cast<heif_image *>(held)); };
    heif_image *held = image.release();
    QImage decoded(plane, width, height, stride, alpha ? withAlpha : QImage::Format_RGB888, release, held);
    if (decoded.isNull()) {
        release(held);
        ThrowNoMemory(width, height);
    }
    return alpha ? LaidOnWhite(std::move(decoded)) : To24Bit(std::move(decoded));
}

} // namespace

QImage LoadHeif(const QString &path, ColourProfile *colours)
{
    const QString unreadableText =
        QCoreApplication::translate("Picture", "HEIF ファイル %1 を読み込めません。").arg(path);
    const Exception unreadable(unreadableText);
    // Every HEIF file starts with its file type box.
    const QByteArray bytes = ReadPictureFile(path, unreadableText, "ftyp", 4);

    InitialiseOnce();
    const std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context)
        ThrowNoMemory(0, 0);
    // Until the sizes are checked below against kelvo's own limit, libheif's lets through
    // any side that a picture within it may have.
    heif_context_set_maximum_image_size_limit(context.get(), int(MaxPicturePixels));
    if (heif_context_read_from_memory_without_copy(context.get(), bytes.constData(), size_t(bytes.size()), nullptr)
            .code != heif_error_Ok)
        throw unreadable;
    heif_image_handle *rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        throw unreadable;
    const std::unique_ptr<heif_image_handle, HandleRelease> handle(rawHandle);
    // The sizes in the file are checked before anything of the picture is decoded: the
    // image's, and those of what libheif would really make of it.
    CheckPictureSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));
    if (!HeifSizesHold(bytes))
        throw unreadable;
    // libheif's own limit, on each side of every picture it makes, holds it to the image's
    // size also where the check above reads nothing (codecs other than HEVC).
    const int longerSide =
        std::max(heif_image_handle_get_ispe_width(handle.get()), heif_image_handle_get_ispe_height(handle.get()));
    heif_context_set_maximum_image_size_limit(context.get(), longerSide + HevcCodingPadding + 1);

    QImage picture = Decoded(handle.get(), unreadable);
    if (colours)
        *colours = ColoursOf(handle.get());
    return picture;
}
