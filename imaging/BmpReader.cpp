// Windows bitmaps, read by Qt's reader once their headers have been checked here: Qt's
// reader allocates the whole picture from the claimed size before it reads any pixel.
#include "imaging/Pipeline.h"

#include "imaging/Picture.h"
#include "platform/Exception.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QtEndian>

namespace {

// Run-length data gives at most 255 pixels for every two bytes; end-of-line and delta
// codes only skip, leaving the pixels they pass undefined. A bitmap that claims more
// pixels than its data can give is refused before anything is allocated, except a small
// one, which costs little whatever it holds.
constexpr qint64 RunLengthPixelsPerByte = 128;
constexpr qint64 SmallPicturePixels = 1 << 20;

// Reads the size from a bitmap's headers and refuses a picture too large to make, or
// larger than the file can hold, before anything is allocated: an uncompressed bitmap
// whose pixels the file does not hold in full (Qt's reader would return it with its lower
// part left blank), or a run-length encoded one that claims more than its data can give.
// Gives the size, or an empty one for a header that cannot be.
QSize CheckBmpHeader(const QByteArray &head, qint64 fileSize)
{
    if (head.size() < 26 || !head.startsWith("BM"))
        return {};
    const auto *p = reinterpret_cast<const uchar *>(head.constData());
    const qint64 offset = qFromLittleEndian<quint32>(p + 10);
    const quint32 infoSize = qFromLittleEndian<quint32>(p + 14);
    qint64 width, height;
    int bits;
    quint32 compression = 0;
    if (infoSize == 12) {
        width = qFromLittleEndian<quint16>(p + 18);
        height = qFromLittleEndian<qint16>(p + 20);
        bits = qFromLittleEndian<quint16>(p + 24);
    } else if (infoSize >= 40 && head.size() >= 34) {
        width = qFromLittleEndian<qint32>(p + 18);
        height = qFromLittleEndian<qint32>(p + 22);
        bits = qFromLittleEndian<quint16>(p + 28);
        compression = qFromLittleEndian<quint32>(p + 30);
    } else {
        return {};
    }
    height = std::abs(height); // negative: stored from the top down
    if (width < 1 || height < 1 || offset > fileSize)
        return {};
    CheckPictureSize(width, height);
    const qint64 data = fileSize - offset;
    bool holds = false;
    switch (compression) {
    case 0: // plain, bit fields, alpha bit fields
    case 3:
    case 6:
        holds = (width * bits + 31) / 32 * 4 * height <= data;
        break;
    case 1: // run-length encoded, 8 or 4 bits a pixel
    case 2:
        holds = width * height <= std::max(SmallPicturePixels, data * RunLengthPixelsPerByte);
        break;
    default:
        break;
    }
    return holds ? QSize(int(width), int(height)) : QSize();
}

// Whether every pixel of a picture Qt read with an alpha channel has the alpha 0. Qt takes
// the alpha of a 32-bit bitmap whenever its header has an alpha mask, but some programs
// write such a header and leave the alpha bytes 0: the picture is then meant to be opaque,
// not wholly transparent (which would leave nothing but white to mail).
bool AlphaNeverSet(const QImage &image)
{
    if (image.format() != QImage::Format_ARGB32)
        return false;
    for (int y = 0; y < image.height(); ++y) {
        const auto *px = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(px[x]) != 0)
                return false;
    }
    return true;
}

} // namespace

QImage LoadBmp(const QString &path)
{
    QFile file;
    OpenPicture(file, path);
    const QString unreadable =
        QCoreApplication::translate("Picture", "ビットマップ ファイル %1 を読み込めません。").arg(path);
    const QSize size = CheckBmpHeader(file.peek(54), file.size());
    if (size.isEmpty())
        throw Exception(unreadable);
    // The format is forced: a .bmp holding anything else must fail, not be guessed.
    QImageReader reader(&file, "bmp");
    reader.setAutoDetectImageFormat(false);
    LimitReaderAllocation(reader, size);
    QImage image = reader.read();
    if (image.isNull())
        throw Exception(unreadable);
    // Transparent pixels lie on white, as in the other formats that have an alpha channel.
    if (AlphaNeverSet(image))
        image.reinterpretAsFormat(QImage::Format_RGB32);
    return LaidOnWhite(std::move(image));
}
