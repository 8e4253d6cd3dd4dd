#include "imaging/Picture.h"

#include "platform/Exception.h"
#include "platform/RegularFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>

#include <cerrno>

namespace {

QString SizeText(qint64 width, qint64 height)
{
    return QStringLiteral("%1 × %2").arg(width).arg(height);
}

} // namespace

void CheckPictureSize(qint64 width, qint64 height, double bytesPerPixel)
{
    if (width < 1 || height < 1)
        throw Exception(
            QCoreApplication::translate("Picture", "画像の大きさ %1 ドットは不正です。").arg(SizeText(width, height)));
    if (width > MaxPicturePixels || height > MaxPicturePixels || width * height > MaxPicturePixels)
        throw Exception(
            QCoreApplication::translate("Picture", "画像が大きすぎます (%1 ドット)。扱えるのは 2 億画素までです。")
                .arg(SizeText(width, height)));
    const double bytes = double(width * height) * bytesPerPixel;
    if (bytes > double(MaxDecodeBytes))
        throw Exception(
            QCoreApplication::translate(
                "Picture", "画像が大きすぎます (%1 ドット)。読み込むには %2 MB 要りますが、扱えるのは %3 MB までです。")
                .arg(SizeText(width, height))
                .arg(qint64(bytes) / (1024 * 1024))
                .arg(MaxDecodeBytes / (1024 * 1024)));
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

void OpenPicture(QFile &file, const QString &path)
{
    file.setFileName(path);
    switch (OpenRegularFile(file)) {
    case OpenRefusal::None:
        break;
    case OpenRefusal::NotRegular:
        if (errno != EISDIR)
            throw Exception(
                QCoreApplication::translate(
                    "Picture", "%1 は普通のファイルではない (パイプやデバイスなどの) ため、読み込めません。")
                    .arg(path));
        [[fallthrough]];
    case OpenRefusal::Missing:
    case OpenRefusal::Failed:
        ThrowCannotOpen(path);
    }
    const qint64 size = file.size();
    if (size > MaxPictureFileBytes)
        throw Exception(QCoreApplication::translate(
                            "Picture", "ファイル %1 は画像として大きすぎます (%2 MB)。扱えるのは 2 億画素までです。")
                            .arg(path)
                            .arg(size / (1024 * 1024)));
}

void LimitReaderAllocation(QImageReader &reader, QSize size)
{
    // Qt's WebP reader names no form before it reads, and reads 32-bit pixels.
    const QImage::Format form = reader.imageFormat();
    const double bytes = form == QImage::Format_Invalid ? 4 : QImage::toPixelFormat(form).bitsPerPixel() / 8.0;
    // A picture of fewer than 3 bytes a pixel is widened into a copy; a wider one is made
    // 24-bit in its own memory (To24Bit).
    CheckPictureSize(size.width(), size.height(), bytes < 3 ? bytes + 3 : bytes);
    // In megabytes, with room for the reader's own buffers.
    reader.setAllocationLimit(int(MaxDecodeBytes / (1024 * 1024) + 64));
}

QByteArray ReadPictureFile(const QString &path, const QString &unreadable, QByteArrayView signature, qsizetype at,
                           qsizetype room)
{
    QFile file;
    OpenPicture(file, path);
    // Its start first, so that a file of another kind, a zero-filled one of any size among
    // them, is refused before the rest is read.
    const QByteArray head = file.peek(at + signature.size());
    if (head.size() < at + signature.size() || !head.mid(at).startsWith(signature))
        throw Exception(unreadable);
    return ReadOpenedPicture(file, unreadable, room);
}

QByteArray ReadOpenedPicture(QFile &file, const QString &unreadable, qsizetype room)
{
    // Read whole rather than mapped: a mapped file cut short by someone else while it is
    // decoded would kill the program with SIGBUS instead of giving an error. One buffer,
    // read into directly, so that the file is never held twice.
    const qint64 size = file.size();
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

namespace {

// The colour of pixel x of a row, as Qt's 8-bit ARGB value, in each form that Qt's readers
// and libheif give with 3 bytes a pixel or more.
template <QImage::Format F> QRgb PixelAt(const uchar *row, int x)
{
    if constexpr (F == QImage::Format_RGB888)
        return qRgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
    else if constexpr (F == QImage::Format_RGBA8888 || F == QImage::Format_RGBA8888_Premultiplied)
        return qRgba(row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]);
    else if constexpr (F == QImage::Format_RGBX64 || F == QImage::Format_RGBA64)
        return reinterpret_cast<const QRgba64 *>(row)[x].toArgb32();
    else // RGB32, ARGB32
        return reinterpret_cast<const QRgb *>(row)[x];
}

// The picture in Format_BGR888, each pixel the opaque colour that `colour` makes of it.
// Handed over whole, the picture is rewritten in its own memory, row by row at the 24-bit
// stride: a pixel is read whole before its 3 bytes are written, and those never reach a
// pixel not yet read, as no pixel here is narrower. The result then holds that memory.
template <QImage::Format F, typename Colour> QImage Widened(QImage picture, Colour colour)
{
    const int width = picture.width(), height = picture.height();
    const bool inPlace = picture.isDetached();
    QImage copy = inPlace ? QImage() : NewPicture(width, height);
    const qsizetype from = picture.bytesPerLine();
    const qsizetype to =
        inPlace ? (F == QImage::Format_RGB888 ? from : (qsizetype(width) * 3 + 3) / 4 * 4) : copy.bytesPerLine();
    const uchar *source = inPlace ? picture.bits() : picture.constBits();
    uchar *target = inPlace ? const_cast<uchar *>(source) : copy.bits();
    for (int y = 0; y < height; ++y) {
        const uchar *s = source + y * from;
        uchar *d = target + y * to;
        for (int x = 0; x < width; ++x, d += 3) {
            const QRgb c = colour(PixelAt<F>(s, x));
            d[0] = uchar(qBlue(c)), d[1] = uchar(qGreen(c)), d[2] = uchar(qRed(c));
        }
    }
    if (!inPlace)
        return copy;
    const auto release = [](void *held) { delete static_cast<QImage *>(held); };
    return QImage(target, width, height, to, QImage::Format_BGR888, release, new QImage(std::move(picture)));
}

constexpr QRgb Opaque(QRgb c)
{
    return c;
}

// Each colour byte c of a pixel with alpha a becomes (c a + 255 (255 - a)) / 255, rounded;
// a premultiplied c is c a / 255 already, and only the white is added.
template <bool Premultiplied> QRgb OnWhite(QRgb c)
{
    const unsigned a = qAlpha(c), white = 255 * (255 - a) + 127;
    const auto laid = [&](unsigned colour) {
        return Premultiplied ? std::min(255u, colour + 255 - a) : (colour * a + white) / 255;
    };
    return qRgb(int(laid(qRed(c))), int(laid(qGreen(c))), int(laid(qBlue(c))));
}

} // namespace

// Qt's own conversions to Format_BGR888 take a general road that costs about 100 ms for
// a 12-megapixel picture; the forms that Qt's readers and libheif give are widened here
// in a tenth of that.
QImage To24Bit(QImage picture)
{
    switch (picture.format()) {
    case QImage::Format_BGR888:
        return picture;
    case QImage::Format_RGB32:
        return Widened<QImage::Format_RGB32>(std::move(picture), Opaque);
    case QImage::Format_RGB888:
        return Widened<QImage::Format_RGB888>(std::move(picture), Opaque);
    case QImage::Format_RGBX64:
        return Widened<QImage::Format_RGBX64>(std::move(picture), Opaque);
    default: {
        QImage converted = picture.convertToFormat(QImage::Format_BGR888);
        if (converted.isNull())
            ThrowNoMemory(picture.width(), picture.height());
        return converted;
    }
    }
}

QImage LaidOnWhite(QImage picture)
{
    if (!picture.hasAlphaChannel())
        return To24Bit(std::move(picture));
    // libheif gives bytes red, green, blue, alpha, with the colours multiplied by the alpha
    // or not, as the file says; Qt's readers give 32-bit or 64-bit ARGB values; anything
    // else is read as Qt's 32-bit ARGB values.
    switch (picture.format()) {
    case QImage::Format_RGBA8888_Premultiplied:
        return Widened<QImage::Format_RGBA8888_Premultiplied>(std::move(picture), OnWhite<true>);
    case QImage::Format_RGBA8888:
        return Widened<QImage::Format_RGBA8888>(std::move(picture), OnWhite<false>);
    case QImage::Format_RGBA64:
        return Widened<QImage::Format_RGBA64>(std::move(picture), OnWhite<false>);
    case QImage::Format_ARGB32:
        return Widened<QImage::Format_ARGB32>(std::move(picture), OnWhite<false>);
    default: {
        QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
        if (argb.isNull())
            ThrowNoMemory(picture.width(), picture.height());
        picture = QImage(); // the copy alone is held from here
        return Widened<QImage::Format_ARGB32>(std::move(argb), OnWhite<false>);
    }
    }
}
