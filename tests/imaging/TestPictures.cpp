#include "TestPictures.h"

#include <QColor>
#include <QRandomGenerator>
#include <QtEndian>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

QImage RandomPicture(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage picture(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 3 * width; ++x)
            picture.scanLine(y)[x] = uchar(random.bounded(256));
    return picture;
}

QImage UniformPicture(int width, int height, uchar b, uchar g, uchar r)
{
    QImage picture(width, height, QImage::Format_BGR888);
    picture.fill(QColor(r, g, b));
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
    for (int k = 0; k < (vertical ? picture.height() : picture.width()); ++k)
        line.append(vertical ? picture.constScanLine(k)[0] : picture.constScanLine(0)[3 * k]);
    return line;
}

QImage Transposed(const QImage &picture)
{
    QImage result(picture.height(), picture.width(), QImage::Format_BGR888);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            memcpy(result.scanLine(x) + 3 * y, picture.constScanLine(y) + 3 * x, 3);
    return result;
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
    if (form == JpegForm::Progressive)
        jpeg_simple_progression(&cinfo);
    if (form == JpegForm::Greyscale)
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    if (form == JpegForm::AdobeYcck)
        jpeg_set_colorspace(&cinfo, JCS_YCCK);
    cinfo.restart_in_rows = form == JpegForm::Restart ? 1 : 0;
    cinfo.write_Adobe_marker = form == JpegForm::AdobeCmyk || form == JpegForm::AdobeYcck;
    jpeg_start_compress(&cinfo, TRUE);
    QByteArray row(4 * bgr.width(), 0);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uchar *s = bgr.constScanLine(int(cinfo.next_scanline));
        JSAMPROW rowPointer = const_cast<uchar *>(s);
        if (cmyk) {
            // Inks C, M, Y are 255 - R, G, B and K is 0; Adobe files store every ink inverted.
            auto *d = reinterpret_cast<uchar *>(row.data());
            const uchar flip = form == JpegForm::PlainCmyk ? 255 : 0;
            for (int x = 0; x < bgr.width(); ++x)
                for (int c = 0; c < 4; ++c)
                    d[4 * x + c] = (c < 3 ? s[3 * x + 2 - c] : 255) ^ flip;
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

QByteArray WriteTestBmp(const QImage &bgr, int bits, bool topDown, bool rle8)
{
    const int w = bgr.width(), h = bgr.height();
    const int colours = bits <= 8 ? (1 << bits) : 0;
    auto put = [](QByteArray &b, qint64 v, int bytes) {
        for (int k = 0; k < bytes; ++k)
            b.append(char(v >> (8 * k)));
    };
    QByteArray pixels;
    for (int k = 0; k < h; ++k) {
        const uchar *s = bgr.constScanLine(topDown ? k : h - 1 - k);
        QByteArray row;
        uint acc = 0, filled = 0; // paletted pixels packed from the high bits
        for (int x = 0; x < w; ++x, s += 3) {
            if (rle8)
                row.append(char(1)).append(char(s[1])); // a run of one pixel
            else if (bits >= 24)
                row.append(reinterpret_cast<const char *>(s), 3).append(bits == 32 ? 1 : 0, char(0));
            else if (bits == 16)
                put(row, (s[2] >> 3) << 10 | (s[1] >> 3) << 5 | s[0] >> 3, 2);
            else {
                acc = acc << bits | s[1] * uint(colours - 1) / 255;
                if ((filled += bits) == 8) {
                    row.append(char(acc));
                    acc = filled = 0;
                }
            }
        }
        if (filled)
            row.append(char(acc << (8 - filled)));
        if (rle8)
            row.append(2, char(0)); // end of line
        while (!rle8 && row.size() % 4)
            row.append(char(0));
        pixels += row;
    }
    if (rle8)
        pixels.append(char(0)).append(char(1)); // end of bitmap

    QByteArray b("BM");
    const int headers = 14 + 40 + 4 * colours;
    for (const qint64 v :
         {qint64(headers + pixels.size()), qint64(0), qint64(headers), qint64(40), qint64(w), qint64(topDown ? -h : h)})
        put(b, v, 4);
    put(b, 1, 2);
    put(b, bits, 2);
    for (const qint64 v : {rle8 ? 1 : 0, int(pixels.size()), 2835, 2835, colours, 0})
        put(b, v, 4);
    for (int i = 0; i < colours; ++i)
        put(b, (i * 255 / (colours - 1)) * 0x010101, 4);
    return b + pixels;
}

FrameHeader ReadFrameHeader(const QByteArray &jpeg)
{
    const auto *p = reinterpret_cast<const uchar *>(jpeg.constData());
    for (qsizetype at = 2; at + 10 <= jpeg.size() && p[at] == 0xFF; at += 2 + qFromBigEndian<quint16>(p + at + 2)) {
        const int marker = p[at + 1];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return {marker, qFromBigEndian<quint16>(p + at + 7), qFromBigEndian<quint16>(p + at + 5), p[at + 9]};
    }
    return FrameHeader();
}
