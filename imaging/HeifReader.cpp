// HEIF and HEIC pictures (the photos of today's phones) through libheif.
#include "imaging/PictureIntake.h"

#include "imaging/Picture.h"
#include "platform/Exception.h"

#include <QFile>

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

// libheif's decoder plugins are registered once for the program's life.
void InitialiseOnce()
{
    static const bool done = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)done;
}

} // namespace

QImage LoadHeif(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("ファイル %1 を開けません。").arg(path));
    const Exception unreadable(QStringLiteral("HEIF ファイル %1 を読み込めません。").arg(path));
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size() || bytes.isEmpty())
        throw unreadable;

    InitialiseOnce();
    const std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context)
        ThrowNoMemory(0, 0);
    if (heif_context_read_from_memory_without_copy(context.get(), bytes.constData(), size_t(bytes.size()), nullptr)
            .code != heif_error_Ok)
        throw unreadable;
    heif_image_handle *rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        throw unreadable;
    const std::unique_ptr<heif_image_handle, HandleRelease> handle(rawHandle);
    // The size in the file is checked before anything of the picture is decoded.
    CheckPictureSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));

    const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
    const std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (!options)
        ThrowNoMemory(0, 0);
    // A damaged file fails instead of giving a half picture; ten-bit photos come as 8 bits.
    options->strict_decoding = 1;
    options->convert_hdr_to_8bit = 1;
    heif_image *rawImage = nullptr;
    // libheif applies the file's rotation, mirror and crop as it decodes.
    if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get())
            .code != heif_error_Ok)
        throw unreadable;
    const std::unique_ptr<heif_image, ImageRelease> image(rawImage);
    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || width < 1 || height < 1)
        throw unreadable;
    CheckPictureSize(width, height);
    const QImage decoded(plane, width, height, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    // Both make a copy of their own before libheif's image is released.
    return alpha ? LaidOnWhite(decoded) : To24Bit(decoded);
}
