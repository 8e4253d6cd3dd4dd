#include "TestPictures.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

QImage RandomPicture(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage picture(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        uchar *row = picture.scanLine(y);
        for (int x = 0; x < 3 * width; ++x)
            row[x] = uchar(random.bounded(256));
    }
    return picture;
}

QImage UniformPicture(int width, int height, uchar b, uchar g, uchar r)
{
    QImage picture(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        uchar *row = picture.scanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
    }
    return picture;
}

QImage LinePicture(const QList<int> &line, bool vertical)
{
    const int n = int(line.size());
    QImage picture(vertical ? 1 : n, vertical ? n : 1, QImage::Format_BGR888);
    for (int k = 0; k < n; ++k) {
        uchar *at = vertical ? picture.scanLine(k) : picture.scanLine(0) + 3 * k;
        at[0] = at[1] = at[2] = uchar(line[k]);
    }
    return picture;
}

QList<int> LineOf(const QImage &picture, bool vertical)
{
    QList<int> line;
    const int n = vertical ? picture.height() : picture.width();
    for (int k = 0; k < n; ++k)
        line.append(vertical ? picture.constScanLine(k)[0] : picture.constScanLine(0)[3 * k]);
    return line;
}

QImage Transposed(const QImage &picture)
{
    QImage result(picture.height(), picture.width(), QImage::Format_BGR888);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            for (int c = 0; c < 3; ++c)
                result.scanLine(x)[3 * y + c] = picture.constScanLine(y)[3 * x + c];
    return result;
}

QString Grid(const QImage &picture)
{
    QString text;
    for (int y = 0; y < picture.height(); ++y) {
        text += QLatin1Char('\n');
        for (int x = 0; x < picture.width(); ++x) {
            const uchar *at = picture.constScanLine(y) + 3 * x;
            text += QStringLiteral("%1,%2,%3 ").arg(at[0]).arg(at[1]).arg(at[2]);
        }
    }
    return text;
}

QByteArray WriteTestJpeg(const QImage &bgr, JpegForm form, int quality)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = bgr.width();
    cinfo.image_height = bgr.height();
    const bool cmyk = form == JpegForm::AdobeCmyk || form == JpegForm::AdobeYcck || form == JpegForm::PlainCmyk;
    cinfo.input_components = cmyk ? 4 : 3;
    cinfo.in_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    switch (form) {
    case JpegForm::Progressive:
        jpeg_simple_progression(&cinfo);
        break;
    case JpegForm::Greyscale:
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
        break;
    case JpegForm::Restart:
        cinfo.restart_in_rows = 1;
        break;
    case JpegForm::AdobeYcck:
        jpeg_set_colorspace(&cinfo, JCS_YCCK);
        break;
    case JpegForm::PlainCmyk:
        cinfo.write_Adobe_marker = FALSE;
        break;
    default:
        break;
    }
    jpeg_start_compress(&cinfo, TRUE);
    QByteArray row(4 * bgr.width(), 0);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uchar *s = bgr.constScanLine(int(cinfo.next_scanline));
        JSAMPROW rowPointer = const_cast<uchar *>(s);
        if (cmyk) {
            // No black ink: C, M, Y are the complements of R, G, B. Adobe files store every
            // ink inverted.
            uchar *d = reinterpret_cast<uchar *>(row.data());
            const bool inverted = form != JpegForm::PlainCmyk;
            for (int x = 0; x < bgr.width(); ++x) {
                const uchar inks[4] = {uchar(255 - s[3 * x + 2]), uchar(255 - s[3 * x + 1]), uchar(255 - s[3 * x]), 0};
                for (int c = 0; c < 4; ++c)
                    d[4 * x + c] = inverted ? uchar(255 - inks[c]) : inks[c];
            }
            rowPointer = d;
        }
        jpeg_write_scanlines(&cinfo, &rowPointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

namespace {

void Put16(QByteArray &b, int v)
{
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}

void Put32(QByteArray &b, qint64 v)
{
    Put16(b, int(v & 0xFFFF));
    Put16(b, int((v >> 16) & 0xFFFF));
}

} // namespace

QByteArray WriteTestBmp(const QImage &bgr, int bits, bool topDown, bool rle8)
{
    const int w = bgr.width(), h = bgr.height();
    const int colours = bits <= 8 ? (1 << bits) : 0;
    QByteArray pixels;
    for (int k = 0; k < h; ++k) {
        const int y = topDown ? k : h - 1 - k;
        const uchar *s = bgr.constScanLine(y);
        QByteArray row;
        if (rle8) {
            // One encoded run per pixel, then end of line.
            for (int x = 0; x < w; ++x)
                row.append(char(1)).append(char(s[3 * x + 1]));
            row.append(char(0)).append(char(0));
            pixels += row;
            continue;
        }
        if (bits == 24 || bits == 32) {
            for (int x = 0; x < w; ++x) {
                row.append(reinterpret_cast<const char *>(s + 3 * x), 3);
                if (bits == 32)
                    row.append(char(0));
            }
        } else if (bits == 16) {
            for (int x = 0; x < w; ++x)
                Put16(row, (s[3 * x + 2] >> 3) << 10 | (s[3 * x + 1] >> 3) << 5 | s[3 * x] >> 3);
        } else {
            // Paletted: the index is the green byte scaled to the palette's range.
            uint acc = 0;
            int filled = 0;
            for (int x = 0; x < w; ++x) {
                const uint index = s[3 * x + 1] * uint(colours - 1) / 255;
                acc = acc << bits | index;
                filled += bits;
                if (filled == 8) {
                    row.append(char(acc));
                    acc = 0;
                    filled = 0;
                }
            }
            if (filled)
                row.append(char(acc << (8 - filled)));
        }
        while (row.size() % 4)
            row.append(char(0));
        pixels += row;
    }
    if (rle8)
        pixels.append(char(0)).append(char(1));

    QByteArray b("BM");
    const int headers = 14 + 40 + 4 * colours;
    Put32(b, headers + pixels.size());
    Put32(b, 0);
    Put32(b, headers);
    Put32(b, 40);
    Put32(b, w);
    Put32(b, topDown ? -h : h);
    Put16(b, 1);
    Put16(b, bits);
    Put32(b, rle8 ? 1 : 0);
    Put32(b, pixels.size());
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, colours);
    Put32(b, 0);
    for (int i = 0; i < colours; ++i) {
        const int level = i * 255 / (colours - 1);
        b.append(char(level)).append(char(level)).append(char(level)).append(char(0));
    }
    return b + pixels;
}

FrameHeader ReadFrameHeader(const QByteArray &jpeg)
{
    const auto *p = reinterpret_cast<const uchar *>(jpeg.constData());
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && p[at] == 0xFF) {
        const int marker = p[at + 1];
        const int length = qFromBigEndian<quint16>(p + at + 2);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (at + 10 > jpeg.size())
                break;
            FrameHeader frame;
            frame.Marker = marker;
            frame.Height = qFromBigEndian<quint16>(p + at + 5);
            frame.Width = qFromBigEndian<quint16>(p + at + 7);
            frame.Components = p[at + 9];
            return frame;
        }
        at += 2 + length;
    }
    return FrameHeader();
}
