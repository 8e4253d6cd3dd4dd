#include "imaging/Pipeline.h"

#include "imaging/SmoothStretch.h"
#include "platform/Exception.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void ThrowIoError(int code)
{
    throw Exception(QCoreApplication::translate("Picture", "I/O エラー (%1)").arg(code));
}

// The old content is overwritten and the file then cut to the new length, rather than
// truncated to nothing first: on ext4 a file truncated to zero and written again is
// flushed to the disk when it is closed, which costs milliseconds for a few kilobytes.
void WriteFile(const QString &path, const QByteArray &bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        throw Exception(QCoreApplication::translate("Picture", "ファイル %1 を作成できません").arg(path));
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, at, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int code = written < 0 ? errno : ENOSPC;
            ::close(fd);
            ThrowIoError(code);
        }
        at += written;
        left -= written;
    }
    if (::ftruncate(fd, bytes.size()) != 0) {
        const int code = errno;
        ::close(fd);
        ThrowIoError(code);
    }
    if (::close(fd) != 0)
        ThrowIoError(errno);
}

// The size is taken from the file on disk, not from the bytes that were meant for it.
qint64 FileSizeOnDisk(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        ThrowIoError(errno);
    struct stat info;
    const bool measured = ::fstat(fd, &info) == 0;
    const int code = errno;
    ::close(fd);
    if (!measured)
        ThrowIoError(code);
    return info.st_size;
}

} // namespace

void FitToSize(QImage &picture, int n)
{
    FitToSize(picture, n, Orientation());
}

QSize FittedSize(QSize stored, int n, Orientation turn)
{
    if (n < 1)
        throw Exception(
            QCoreApplication::translate("Picture", "ドット数 %1 は不正です。1 以上を指定してください。").arg(n));
    // The sides of the picture as it will stand.
    const long double w = turn.Transpose ? stored.height() : stored.width();
    const long double h = turn.Transpose ? stored.width() : stored.height();
    // The ratio and the quotient are each rounded to a double before the shorter side is
    // truncated: 300 x 150 at 90 dots is 90 x 45, where an unrounded quotient gives 44.
    int newWidth, newHeight;
    if (h > w) {
        const double r = static_cast<double>(h / n);
        newWidth = static_cast<int>(static_cast<double>(w / r));
        newHeight = n;
    } else {
        const double r = static_cast<double>(w / n);
        newWidth = n;
        newHeight = static_cast<int>(static_cast<double>(h / r));
    }
    // Sides that differ by a factor above n would give a shorter side of 0 dots.
    return QSize(std::max(newWidth, 1), std::max(newHeight, 1));
}

void FitToSize(QImage &picture, int n, Orientation turn)
{
    if (picture.isNull() || picture.width() < 1 || picture.height() < 1)
        return;
    const QSize size = FittedSize(picture.size(), n, turn);
    SmoothStretchTurned(picture, size.width(), size.height(), turn);
}

QList<QRgb> MakeGreyPalette(uchar levels)
{
    QList<QRgb> palette;
    palette.reserve(levels + 1);
    for (int i = 0; i <= levels; ++i)
        palette.append(qRgb(levels - i, levels - i, levels - i));
    return palette;
}

void ConvertToGrey(const QImage &source, QImage &dest)
{
    if (source.isNull()) {
        dest = QImage();
        return;
    }
    // Qt's own conversion to a colour table does not pick the nearest grey, so it is done
    // here: the grey nearest to (b, g, r) in RGB distance is the rounded mean, and as the
    // mean is a whole number of thirds it never falls on a half.
    const QImage bgr = To24Bit(source);
    QImage grey = NewPicture(bgr.width(), bgr.height(), QImage::Format_Indexed8);
    grey.setColorTable(MakeGreyPalette(255));
    for (int y = 0; y < bgr.height(); ++y) {
        const uchar *s = bgr.constScanLine(y);
        uchar *d = grey.scanLine(y);
        for (int x = 0; x < bgr.width(); ++x, s += 3)
            d[x] = uchar(255 - (s[0] + s[1] + s[2] + 1) / 3);
    }
    dest = std::move(grey);
}

void SaveJpeg(const QImage &picture, const QString &path, int quality)
{
    WriteFile(path, EncodeJpeg(picture, quality));
}

int EncodeUnderLimit(const QImage &picture, const QString &path, int limit)
{
    // Widened once, not at each of up to 100 attempts.
    const QImage bgr = picture.isNull() ? QImage() : To24Bit(picture);

    // Every attempt is encoded in memory: a file on disk holds exactly the bytes written to
    // it, so an attempt whose bytes are over the limit would measure over it on disk too.
    // Only an attempt that may be kept is written and then measured on disk.
    for (int quality = 100;; --quality) {
        const QByteArray bytes = EncodeJpeg(bgr, quality);
        if (bytes.size() > limit && quality > 1)
            continue;
        WriteFile(path, bytes);
        if (FileSizeOnDisk(path) <= limit || quality == 1)
            return quality;
    }
}
