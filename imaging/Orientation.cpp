#include "imaging/Orientation.h"

#include "imaging/Picture.h"

#include <cstring>

#include <libexif/exif-data.h>

Orientation FromExif(int value)
{
    switch (value) {
    case 2: // mirrored left to right
        return {false, true, false};
    case 3: // turned half round
        return {false, true, true};
    case 4: // mirrored top to bottom
        return {false, false, true};
    case 5: // mirrored, then turned a quarter anticlockwise
        return {true, false, false};
    case 6: // turned a quarter clockwise
        return {true, true, false};
    case 7: // mirrored, then turned a quarter clockwise
        return {true, true, true};
    case 8: // turned a quarter anticlockwise
        return {true, false, true};
    default:
        return {};
    }
}

int ReadExifOrientation(const uchar *data, qsizetype size)
{
    // The block comes from one JPEG segment, so it is at most 64 KB, and libexif checks
    // every count and offset in it against that size before it allocates.
    if (!data || size < 6 || size > 65535 || std::memcmp(data, "Exif\0\0", 6) != 0)
        return 1;
    ExifData *exif = exif_data_new();
    if (!exif)
        return 1;
    // Read what is there; do not add or mend tags on the way.
    exif_data_unset_option(exif, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_set_option(exif, EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_load_data(exif, data, unsigned(size));
    int value = 1;
    const ExifEntry *entry = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (entry && entry->format == EXIF_FORMAT_SHORT && entry->components == 1 && entry->data && entry->size >= 2)
        value = exif_get_short(entry->data, exif_data_get_byte_order(exif));
    exif_data_unref(exif);
    return value >= 1 && value <= 8 ? value : 1;
}

int ReadExifOrientation(const QByteArray &block)
{
    const QByteArray prefixed = block.startsWith("Exif") ? block : QByteArray("Exif\0\0", 6) + block;
    return ReadExifOrientation(reinterpret_cast<const uchar *>(prefixed.constData()), prefixed.size());
}

QImage Turned(const QImage &picture, Orientation turn)
{
    if (picture.isNull() || turn.IsUpright())
        return picture;
    const QImage source = To24Bit(picture);
    const int w = turn.Transpose ? source.height() : source.width();
    const int h = turn.Transpose ? source.width() : source.height();
    QImage result = NewPicture(w, h);
    for (int y = 0; y < h; ++y) {
        const int sy = turn.MirrorY ? h - 1 - y : y;
        uchar *d = result.scanLine(y);
        for (int x = 0; x < w; ++x, d += 3) {
            const int sx = turn.MirrorX ? w - 1 - x : x;
            const uchar *s = turn.Transpose ? source.constScanLine(sx) + 3 * sy : source.constScanLine(sy) + 3 * sx;
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
    return result;
}
