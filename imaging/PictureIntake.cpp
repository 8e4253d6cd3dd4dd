#include "imaging/PictureIntake.h"

#include "imaging/ColourProfile.h"
#include "imaging/Picture.h"
#include "imaging/Pipeline.h"
#include "platform/Exception.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <utility>

namespace {

// What a PNG or WebP file says beside its pixels, found by walking its chunks: the EXIF
// block (eXIf in a PNG, EXIF in a WebP), the ICC profile (iCCP, inflated, in a PNG; ICCP
// in a WebP) and a PNG's other colour chunks and whether it is grey.
struct FileTags
{
    QByteArray Exif;
    QByteArray IccProfile;
    PngColourChunks PngColours;
    bool Grey = false;
    bool IccpSeen = false;
};

// The colour chunks of a PNG (before its image data, where they must stand).
void ReadPngColourChunk(QIODevice &file, const QByteArray &type, quint32 length, FileTags &tags)
{
    // A PNG has one iCCP at most; inflating every one of thousands of small chunks that
    // each unpack to megabytes would hold the window for a minute.
    if (type == "iCCP" && !std::exchange(tags.IccpSeen, true) && length <= LargestProfileBytes)
        tags.IccProfile = ProfileOfPngChunk(file.read(length));
    tags.PngColours.Srgb |= type == "sRGB";
    const QByteArray data =
        (type == "gAMA" && length == 4) || (type == "cHRM" && length == 32) ? file.read(length) : "";
    if (data.size() == 4)
        tags.PngColours.Gamma = qFromBigEndian<quint32>(data.constData());
    if (data.size() == 32) {
        std::array<quint32, 8> values{};
        qFromBigEndian<quint32>(data.constData(), 8, values.data());
        tags.PngColours.Chromaticities = values;
    }
    // IHDR's colour type, after the sides and the bit depth: 0 and 4 are grey.
    const QByteArray header = type == "IHDR" && length == 13 ? file.read(10) : "";
    tags.Grey |= header.size() == 10 && (header[9] & 3) == 0;
}

// The orientation sits at the start of an EXIF block, and libexif reads no more than a
// JPEG segment's worth.
constexpr qint64 ExifBytesRead = 65535 - 6;

// What the files start with: PNG's signature and its first chunk, the header (13 bytes);
// "RIFF", the size and "WEBP" before a WebP file's first chunk. A file that starts
// otherwise is refused before either reader walks it.
const QByteArray PngStart("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16);
constexpr qsizetype WebPStart = 12;

// Chunks are walked up to this many: the files of every tool have a few dozen before the
// image data, and a file of millions of tiny chunks is no picture.
constexpr int MostChunksWalked = 10000;

// A chunk that cannot be ends the walk: one whose type is not four letters (PNG) or four
// letters, digits or spaces (RIFF), or that runs past the end of the file. Nothing of a
// zero-filled file is walked.
bool IsChunkType(QByteArrayView type, bool riff)
{
    return std::all_of(type.begin(), type.end(), [riff](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (riff && ((c >= '0' && c <= '9') || c == ' '));
    });
}

// A PNG's chunks before its image data (where eXIf and iCCP must stand), each found
// by its length, without reading what lies between.
FileTags ReadPngTags(QIODevice &file)
{
    FileTags tags;
    for (qint64 at = 8, walked = 0; walked < MostChunksWalked && file.seek(at); ++walked) {
        const QByteArray head = file.read(8);
        if (head.size() < 8)
            break;
        const quint32 length = qFromBigEndian<quint32>(head.constData());
        const QByteArray type = head.mid(4);
        if (length > 0x7FFFFFFF || !IsChunkType(type, false) || at + 12 + qint64(length) > file.size() ||
            type == "IDAT" || type == "IEND")
            break;
        ReadPngColourChunk(file, type, length, tags);
        if (type == "eXIf")
            tags.Exif = file.read(std::min<qint64>(length, ExifBytesRead));
        at += 12 + qint64(length); // length, type, data, CRC
    }
    return tags;
}

// The chunks of a WebP file after "RIFF", its size and "WEBP"; the EXIF chunk of an
// extended file comes after the image data.
FileTags ReadWebPTags(QIODevice &file)
{
    FileTags tags;
    for (qint64 at = WebPStart, walked = 0; walked < MostChunksWalked && file.seek(at); ++walked) {
        const QByteArray head = file.read(8);
        if (head.size() < 8)
            break;
        const quint32 size = qFromLittleEndian<quint32>(head.constData() + 4);
        if (!IsChunkType(head.first(4), true) || at + 8 + qint64(size) > file.size())
            break;
        if (head.startsWith("EXIF")) {
            tags.Exif = file.read(std::min<qint64>(size, ExifBytesRead));
            break;
        }
        if (head.startsWith("ICCP") && size <= LargestProfileBytes)
            tags.IccProfile = file.read(size);
        at += 8 + qint64(size) + (size & 1); // chunks are padded to an even length
    }
    return tags;
}

// The colours a PNG or WebP file describes: its ICC profile, or for a PNG whose profile
// is missing or does not serve, its other chunks.
ColourProfile ColoursOf(const FileTags &tags, bool png)
{
    const ColourModel model = tags.Grey ? ColourModel::Grey : ColourModel::Rgb;
    const std::optional<ColourProfile> profile =
        tags.IccProfile.isEmpty() ? std::nullopt : ColourProfile::FromIcc(tags.IccProfile, model);
    return profile.value_or(png ? ColourProfile::FromPngChunks(tags.PngColours) : ColourProfile());
}

// Whether the file starts as its format does.
bool StartsAsItsFormat(QIODevice &file, bool png)
{
    const QByteArray start = file.peek(png ? PngStart.size() : WebPStart + 4);
    if (png)
        return start == PngStart;
    return start.size() == WebPStart + 4 && start.startsWith("RIFF") && start.mid(8, 4) == "WEBP" &&
           IsChunkType(start.mid(WebPStart), true);
}

// PNG and WebP through Qt's readers (WebP's comes with qt6-image-formats-plugins). The
// picture as stored, with the turn that stands it upright from its EXIF block, and the
// colours its file describes.
QImage LoadWithQt(const QString &path, PictureFormat format, Orientation *turn, ColourProfile *colours)
{
    QFile file;
    OpenPicture(file, path);
    const bool png = format == PictureFormat::Png;
    const Exception unreadable(
        QCoreApplication::translate("Picture", "%1 ファイル %2 を読み込めません。").arg(png ? "PNG" : "WebP", path));
    if (!StartsAsItsFormat(file, png))
        throw unreadable;
    const FileTags tags = png ? ReadPngTags(file) : ReadWebPTags(file);
    if (!file.seek(0))
        throw unreadable;
    // The format is forced: a file holding anything else must fail, not be guessed.
    QImageReader reader(&file, png ? "png" : "webp");
    reader.setAutoDetectImageFormat(false);
    if (!reader.canRead())
        throw unreadable;
    // The size from the header is checked before the reader allocates the picture.
    const QSize size = reader.size();
    if (!size.isValid())
        throw unreadable;
    LimitReaderAllocation(reader, size);
    // Turned inside the fit, as a JPEG is; Qt 6.4 reads neither eXIf nor EXIF chunks.
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull())
        throw unreadable;
    if (turn)
        *turn = FromExif(ReadExifOrientation(tags.Exif));
    if (colours)
        *colours = ColoursOf(tags, png);
    return LaidOnWhite(std::move(image));
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
    if (is(".jpg") || is(".jpeg"))
        return {PictureFormat::Jpeg};
    if (is(".bmp"))
        return {PictureFormat::Bmp};
    if (is(".png"))
        return {PictureFormat::Png};
    if (is(".webp"))
        return {PictureFormat::WebP};
    if (is(".heic") || is(".heif"))
        return {PictureFormat::Heif};
    return {};
}

QImage LoadPng(const QString &path, Orientation *turn, ColourProfile *colours)
{
    return LoadWithQt(path, PictureFormat::Png, turn, colours);
}

QImage LoadWebP(const QString &path, Orientation *turn, ColourProfile *colours)
{
    return LoadWithQt(path, PictureFormat::WebP, turn, colours);
}

namespace {

// The picture upright and fitted to the dot size, and the colours its file describes.
QImage FittedPicture(const QString &path, PictureFormat format, int dotSize, ColourProfile &colours)
{
    QImage picture;
    Orientation turn;
    switch (format) {
    case PictureFormat::Jpeg:
        // Fitted as it is decoded, and turned inside the fit: the full-size photo is
        // neither held nor turned. HEIF files are turned by libheif as it decodes them.
        return LoadFittedJpeg(path, dotSize, &colours);
    case PictureFormat::Bmp:
        picture = LoadBmp(path);
        break;
    case PictureFormat::Png:
        picture = LoadPng(path, &turn, &colours);
        break;
    case PictureFormat::WebP:
        picture = LoadWebP(path, &turn, &colours);
        break;
    case PictureFormat::Heif:
        picture = LoadHeif(path, &colours);
        break;
    case PictureFormat::None:
        throw Exception(QCoreApplication::translate("Picture", "このファイルタイプには対応しておりません。"));
    }
    // These readers give whole pictures, so there is nothing to stream.
    FitToSize(picture, dotSize, turn);
    return picture;
}

} // namespace

QImage LoadPicture(const QString &path, PictureFormat format, int dotSize)
{
    ColourProfile colours;
    QImage picture = FittedPicture(path, format, dotSize, colours);
    // The colours are converted once the picture is small: the fit works on the bytes as
    // stored, and the conversion then touches a few thousand pixels instead of millions.
    ConvertToSrgb(picture, colours);
    return picture; // its bytes are sRGB now, as an untagged picture's are
}
