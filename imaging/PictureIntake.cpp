#include "imaging/PictureIntake.h"

#include "imaging/Picture.h"
#include "imaging/Pipeline.h"
#include "platform/Exception.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace {

QString Unopenable(const QString &path)
{
    return QStringLiteral("ファイル %1 を開けません。").arg(path);
}

// PNG and WebP through Qt's readers (WebP's comes with qt6-image-formats-plugins).
QImage LoadWithQt(const QString &path, const char *format, const QString &name)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(Unopenable(path));
    const Exception unreadable(QStringLiteral("%1 ファイル %2 を読み込めません。").arg(name, path));
    // The format is forced: a file holding anything else must fail, not be guessed.
    QImageReader reader(&file, format);
    reader.setAutoDetectImageFormat(false);
    if (!reader.canRead())
        throw unreadable;
    // The size from the header is checked before the reader allocates the picture.
    const QSize size = reader.size();
    if (!size.isValid())
        throw unreadable;
    CheckPictureSize(size.width(), size.height());
    // Qt's readers make 32-bit pixels; let them go up to what the largest picture needs.
    reader.setAllocationLimit(int(MaxPicturePixels * 4 / (1024 * 1024) + 64));
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull())
        throw unreadable;
    return LaidOnWhite(image);
}

} // namespace

PictureType PictureTypeOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    const auto is = [&extension](const char *e) {
        return extension.compare(QLatin1String(e), Qt::CaseInsensitive) == 0;
    };
    if (is(".jpg"))
        return {PictureFormat::Jpeg, true};
    if (is(".jpeg"))
        return {PictureFormat::Jpeg, false};
    if (is(".bmp"))
        return {PictureFormat::Bmp, false};
    if (is(".png"))
        return {PictureFormat::Png, false};
    if (is(".webp"))
        return {PictureFormat::WebP, false};
    if (is(".heic") || is(".heif"))
        return {PictureFormat::Heif, false};
    return {};
}

QImage LoadPng(const QString &path)
{
    return LoadWithQt(path, "png", QStringLiteral("PNG"));
}

QImage LoadWebP(const QString &path)
{
    return LoadWithQt(path, "webp", QStringLiteral("WebP"));
}

QImage LoadPicture(const QString &path, PictureFormat format, int dotSize)
{
    QImage picture;
    Orientation turn;
    switch (format) {
    case PictureFormat::Jpeg:
        // Turned inside the fit: the full-size photo is never turned.
        picture = LoadJpeg(path, &turn);
        break;
    case PictureFormat::Bmp:
        picture = LoadBmp(path);
        break;
    case PictureFormat::Png:
        picture = LoadPng(path);
        break;
    case PictureFormat::WebP:
        picture = LoadWebP(path);
        break;
    case PictureFormat::Heif:
        picture = LoadHeif(path);
        break;
    case PictureFormat::None:
        throw Exception(QStringLiteral("このファイルタイプには対応しておりません。"));
    }
    FitToSize(picture, dotSize, turn);
    return picture;
}
