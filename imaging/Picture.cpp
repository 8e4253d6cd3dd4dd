#include "imaging/Picture.h"

#include "platform/Exception.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>

namespace {

QString SizeText(qint64 width, qint64 height)
{
    return QStringLiteral("%1 × %2").arg(width).arg(height);
}

} // namespace

void CheckPictureSize(qint64 width, qint64 height)
{
    if (width < 1 || height < 1)
        throw Exception(
            QCoreApplication::translate("Picture", "画像の大きさ %1 ドットは不正です。").arg(SizeText(width, height)));
    if (width > MaxPicturePixels || height > MaxPicturePixels || width * height > MaxPicturePixels)
        throw Exception(
            QCoreApplication::translate("Picture", "画像が大きすぎます (%1 ドット)。扱えるのは 2 億画素までです。")
                .arg(SizeText(width, height)));
}

void ThrowNoMemory(qint64 width, qint64 height)
{
    throw Exception(QCoreApplication::translate("Picture", "画像 (%1 ドット) のためのメモリを確保できません。")
                        .arg(SizeText(width, height)));
}

void ThrowCannotOpen(const QString &path)
{
    throw Exception(QCoreApplication::translate("Picture", "ファイル %1 を開けません。").arg(path));
}

void LimitReaderAllocation(QImageReader &reader, int bytesPerPixel)
{
    // In megabytes, with room for the reader's own buffers.
    reader.setAllocationLimit(int(MaxPicturePixels * bytesPerPixel / (1024 * 1024) + 64));
}

QByteArray ReadPictureFile(const QString &path, const QString &unreadable, qsizetype room)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        ThrowCannotOpen(path);
    const qint64 size = file.size();
    if (size > MaxPictureFileBytes)
        throw Exception(QCoreApplication::translate(
                            "Picture", "ファイル %1 は画像として大きすぎます (%2 MB)。扱えるのは 2 億画素までです。")
                            .arg(path)
                            .arg(size / (1024 * 1024)));
    // Read whole rather than mapped: a mapped file cut short by someone else while it is
    // decoded would kill the program with SIGBUS instead of giving an error. One buffer,
    // read into directly, so that the file is never held twice.
    QByteArray bytes(size + room, Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const qint64 got = file.read(bytes.data() + done, size - done);
        if (got <= 0)
            throw Exception(unreadable);
        done += got;
    }
    return bytes;
}

QImage NewPicture(int width, int height, QImage::Format format)
{
    CheckPictureSize(width, height);
    QImage image(width, height, format);
    if (image.isNull())
        ThrowNoMemory(width, height);
    return image;
}

// Qt's own conversions to Format_BGR888 take a general road that costs about 100 ms for
// a 12-megapixel picture; the forms that Qt's readers and libheif give are widened here
// in a tenth of that.
QImage To24Bit(const QImage &picture)
{
    const QImage::Format format = picture.format();
    if (format == QImage::Format_BGR888)
        return picture;
    if (format != QImage::Format_RGB32 && format != QImage::Format_RGB888) {
        QImage converted = picture.convertToFormat(QImage::Format_BGR888);
        if (converted.isNull())
            ThrowNoMemory(picture.width(), picture.height());
        return converted;
    }
    QImage result = NewPicture(picture.width(), picture.height());
    for (int y = 0; y < picture.height(); ++y) {
        const uchar *s = picture.constScanLine(y);
        uchar *d = result.scanLine(y);
        if (format == QImage::Format_RGB888) {
            for (int x = 0; x < picture.width(); ++x, s += 3, d += 3)
                d[0] = s[2], d[1] = s[1], d[2] = s[0];
        } else {
            const auto *px = reinterpret_cast<const QRgb *>(s);
            for (int x = 0; x < picture.width(); ++x, d += 3)
                d[0] = uchar(qBlue(px[x])), d[1] = uchar(qGreen(px[x])), d[2] = uchar(qRed(px[x]));
        }
    }
    return result;
}

QImage LaidOnWhite(const QImage &picture)
{
    if (!picture.hasAlphaChannel())
        return To24Bit(picture);
    // libheif gives bytes red, green, blue, alpha, with the colours multiplied by the alpha
    // or not, as the file says; anything else is read as Qt's 32-bit ARGB values.
    const bool premultiplied = picture.format() == QImage::Format_RGBA8888_Premultiplied;
    const bool bytes = premultiplied || picture.format() == QImage::Format_RGBA8888;
    const QImage argb = bytes ? picture : picture.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull())
        ThrowNoMemory(picture.width(), picture.height());
    QImage result = NewPicture(argb.width(), argb.height());
    for (int y = 0; y < argb.height(); ++y) {
        const uchar *s = argb.constScanLine(y);
        const auto *px = reinterpret_cast<const QRgb *>(s);
        uchar *d = result.scanLine(y);
        for (int x = 0; x < argb.width(); ++x, d += 3) {
            const QRgb c = bytes ? qRgba(s[4 * x], s[4 * x + 1], s[4 * x + 2], s[4 * x + 3]) : px[x];
            const unsigned a = qAlpha(c), white = 255 * (255 - a) + 127;
            // A premultiplied colour is c a / 255 already: only the white is added.
            const auto laid = [&](unsigned colour) {
                return uchar(premultiplied ? std::min(255u, colour + 255 - a) : (colour * a + white) / 255);
            };
            d[0] = laid(qBlue(c));
            d[1] = laid(qGreen(c));
            d[2] = laid(qRed(c));
        }
    }
    return result;
}
