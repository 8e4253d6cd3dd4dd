#include "imaging/Picture.h"

#include "platform/Exception.h"

namespace {

QString SizeText(qint64 width, qint64 height)
{
    return QStringLiteral("%1 × %2").arg(width).arg(height);
}

} // namespace

void CheckPictureSize(qint64 width, qint64 height)
{
    if (width < 1 || height < 1)
        throw Exception(QStringLiteral("画像の大きさ %1 ドットは不正です。").arg(SizeText(width, height)));
    if (width > MaxPicturePixels || height > MaxPicturePixels || width * height > MaxPicturePixels)
        throw Exception(QStringLiteral("画像が大きすぎます (%1 ドット)。扱えるのは 2 億画素までです。")
                            .arg(SizeText(width, height)));
}

void ThrowNoMemory(qint64 width, qint64 height)
{
    throw Exception(QStringLiteral("画像 (%1 ドット) のためのメモリを確保できません。").arg(SizeText(width, height)));
}

QImage NewPicture(int width, int height, QImage::Format format)
{
    CheckPictureSize(width, height);
    QImage image(width, height, format);
    if (image.isNull())
        ThrowNoMemory(width, height);
    return image;
}

QImage To24Bit(const QImage &picture)
{
    if (picture.format() == QImage::Format_BGR888)
        return picture;
    QImage converted = picture.convertToFormat(QImage::Format_BGR888);
    if (converted.isNull())
        ThrowNoMemory(picture.width(), picture.height());
    return converted;
}

QImage LaidOnWhite(const QImage &picture)
{
    if (!picture.hasAlphaChannel())
        return To24Bit(picture);
    // Straight (not premultiplied) alpha, bytes red, green, blue, alpha.
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    if (rgba.isNull())
        ThrowNoMemory(picture.width(), picture.height());
    QImage result = NewPicture(rgba.width(), rgba.height());
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar *s = rgba.constScanLine(y);
        uchar *d = result.scanLine(y);
        for (int x = 0; x < rgba.width(); ++x, s += 4, d += 3) {
            const unsigned a = s[3], white = 255 * (255 - a) + 127;
            d[0] = uchar((s[2] * a + white) / 255);
            d[1] = uchar((s[1] * a + white) / 255);
            d[2] = uchar((s[0] * a + white) / 255);
        }
    }
    return result;
}
