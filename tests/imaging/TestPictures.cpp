#include "TestPictures.h"

#include <QBuffer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTransform>
#include <QtEndian>

#include <cstdlib>

#include <jpeglib.h>
#include <zlib.h>

QImage RandomPicture(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage picture(width, height, QImage::Format_BGR888);
    random.fillRange(reinterpret_cast<quint32 *>(picture.bits()), picture.sizeInBytes() / 4); // rows pad to 4 bytes
    return picture;
}

QImage TurnedByQt(const QImage &picture, int exif, bool back)
{
    if (back && (exif == 6 || exif == 8))
        exif = 14 - exif; // a quarter turn undoes the other; the rest undo themselves
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const QImage mirrored = exif == 2 || exif == 5 || exif == 7 ? rgb.mirrored(true, false) : rgb;
    const int degrees[] = {0, 0, 0, 180, 0, 270, 90, 90, 270};
    const QImage turned = mirrored.transformed(QTransform().rotate(degrees[exif]));
    return (exif == 4 ? turned.mirrored(false, true) : turned).convertToFormat(QImage::Format_BGR888);
}

QImage SmoothPicture(int w, int h)
{
    const QImage corners = RandomPicture(2, 2, 5);
    return corners.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_BGR888);
}

QByteArray WriteTestJpeg(const QImage &bgr, JpegForm form, int quality, int height)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    const bool cmyk = form == JpegForm::AdobeCmyk || form == JpegForm::AdobeYcck || form == JpegForm::PlainCmyk;
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = bgr.width();
    cinfo.image_height = height ? height : bgr.height();
    cinfo.input_components = cmyk ? 4 : 3;
    cinfo.in_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (form == JpegForm::Progressive)
        jpeg_simple_progression(&cinfo);
    if (form == JpegForm::Greyscale || form == JpegForm::AdobeYcck)
        jpeg_set_colorspace(&cinfo, form == JpegForm::Greyscale ? JCS_GRAYSCALE : JCS_YCCK);
    if (form == JpegForm::Full444 || form == JpegForm::ManyScans)
        cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_scan_info scans[1 + 3 * 63] = {{3, {0, 1, 2}, 0, 0, 0, 0}};
    for (int i = 0; form == JpegForm::ManyScans && i < 3 * 63; ++i)
        scans[1 + i] = {1, {i / 63}, i % 63 + 1, i % 63 + 1, 0, 0};
    if (form == JpegForm::ManyScans)
        cinfo.scan_info = scans, cinfo.num_scans = 1 + 3 * 63;
    cinfo.write_Adobe_marker = form == JpegForm::AdobeCmyk || form == JpegForm::AdobeYcck;
    jpeg_start_compress(&cinfo, TRUE);
    // Inks C, M, Y are 255 - R, G, B and K is 0; Adobe files store every ink inverted, C, M, Y as R, G, B.
    const uchar rgbToInk = form == JpegForm::PlainCmyk ? 255 : 0; // XORed with R, G or B, or with 255 for K
    QByteArray inks(4 * bgr.width(), char(255 ^ rgbToInk));
    while (cinfo.next_scanline < cinfo.image_height) {
        const uchar *s = bgr.constScanLine(int(cinfo.next_scanline % unsigned(bgr.height())));
        for (int x = 0; cmyk && x < bgr.width(); ++x)
            for (int c = 0; c < 3; ++c)
                inks[4 * x + c] = char(s[3 * x + 2 - c] ^ rgbToInk);
        JSAMPROW row = cmyk ? reinterpret_cast<uchar *>(inks.data()) : const_cast<uchar *>(s);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

QByteArray ExifBlock(int orientation)
{
    QByteArray b = QByteArray::fromHex("457869660000 4d4d002a 00000008 0002 0112 0003 00000001 00000000"
                                       "8825 0004 00000001 00000026 00000000"
                                       "0002 0000 0001 00000004 02020000 0001 0002 00000002 4e000000 00000000");
    b[25] = char(orientation);
    return b;
}

QByteArray WithApp1(const QByteArray &jpeg, const QByteArray &block, char marker)
{
    QByteArray segment = QByteArray(1, '\xFF') + marker;
    segment.append(char((block.size() + 2) >> 8)).append(char(block.size() + 2)).append(block);
    return QByteArray(jpeg).insert(4 + (uchar(jpeg[4]) << 8 | uchar(jpeg[5])), segment);
}

QByteArray WithIcc(QByteArray jpeg, const QByteArray &profile)
{
    const int count = int(profile.size() + 65518) / 65519;
    for (int i = count; i >= 1; --i)
        jpeg = WithApp1(jpeg,
                        "ICC_PROFILE" + QByteArray(1, 0) + char(i) + char(count) + profile.mid((i - 1) * 65519, 65519),
                        '\xE2');
    return jpeg;
}

QByteArray BigEndian(quint64 value, int bytes)
{
    const quint64 big = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char *>(&big) + 8 - bytes, bytes);
}

QByteArray Box(const char *type, const QByteArray &body, int version)
{
    const QByteArray full = version < 0 ? body : BigEndian(quint32(version) << 24, 4) + body;
    return BigEndian(8 + full.size(), 4) + type + full;
}

QByteArray BoxIn(const QByteArray &file, const char *type)
{
    const qsizetype at = file.indexOf(type) - 4;
    return file.mid(at, qFromBigEndian<quint32>(file.constData() + at));
}

QByteArray RebuiltHeif(const QByteArray &heic, int claim, int grid, const QByteArray &property, int extents,
                       int padding)
{
    const QByteArray canvas = grid ? QByteArray::fromHex("00000101") + BigEndian(grid, 2) + BigEndian(grid, 2) : "";
    const QByteArray hevc = BoxIn(heic, "mdat").mid(8);
    const QByteArray properties = BoxIn(heic, "hvcC") + BoxIn(heic, "ispe") +
                                  Box("ispe", BigEndian(claim, 4) + BigEndian(claim, 4), 0) + property;
    // Item 1: the configuration (1, essential) and its own size (2) or the claim (3) and the
    // property (4); item 2: the claim.
    const char *associations =
        grid ? "00000002 0001028102 00020103" : (property.isEmpty() ? "00000001 0001028103" : "00000001 000103810304");
    // With more than one extent, each of them is "the rest of the file" (a length of 0).
    const auto location = [](int id, qint64 at, qint64 size, int extents = 1) {
        return BigEndian(id, 2) + BigEndian(extents, 4) +
               (BigEndian(at, 4) + BigEndian(extents > 1 ? 0 : size, 4)).repeated(extents);
    };
    const auto meta = [&](qint64 data) {
        const QByteArray items = Box("infe", QByteArray::fromHex("00010000") + "hvc1" + '\0', 2) +
                                 (grid ? Box("infe", QByteArray::fromHex("00020000") + "grid" + '\0', 2) : "");
        const QByteArray tiles =
            grid ? Box("iref", Box("dimg", QByteArray::fromHex("0002 0004 0001000100010001")), 0) : "";
        const QByteArray locations =
            location(1, data + canvas.size(), hevc.size(), extents) + (grid ? location(2, data, canvas.size()) : "");
        return Box("meta",
                   Box("hdlr", QByteArray(4, 0) + "pict" + QByteArray(13, 0), 0) +
                       Box("pitm", BigEndian(grid ? 2 : 1, 2), 0) + Box("iinf", BigEndian(grid ? 2 : 1, 2) + items, 0) +
                       tiles + Box("iloc", QByteArray::fromHex("4400") + BigEndian(grid ? 2 : 1, 2) + locations, 0) +
                       Box("iprp", Box("ipco", properties) + Box("ipma", QByteArray::fromHex(associations), 0)),
                   0);
    };
    const QByteArray ftyp = Box("ftyp", "heic" + BigEndian(0, 4) + "mif1heic");
    return ftyp + meta(ftyp.size() + meta(0).size() + 8) + Box("mdat", canvas + hevc + QByteArray(padding, 0));
}

QByteArray WithPngChunk(QByteArray png, const char *type, const QByteArray &data)
{
    const QByteArray typed = type + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(typed.constData()), uInt(typed.size()));
    return png.insert(png.indexOf("IDAT") - 4, BigEndian(data.size(), 4) + typed + BigEndian(crc, 4));
}

QByteArray WriteTestHeic(const QImage &picture, const QStringList &options)
{
    QTemporaryDir dir;
    QProcess encoder;
    if (picture.save(dir.filePath("in.png")))
        encoder.start("heif-enc",
                      options + QStringList{"-q", "95", "-o", dir.filePath("out.heic"), dir.filePath("in.png")});
    return encoder.waitForFinished(60000) ? ReadFile(dir.filePath("out.heic")) : QByteArray();
}

QByteArray Saved(const QImage &picture, const char *format, int quality)
{
    QBuffer buffer; // the writer opens it
    picture.save(&buffer, format, quality);
    return buffer.data();
}

QImage Drop(const QString &path, const std::optional<QByteArray> &bytes, int dots)
{
    if (bytes)
        WriteFile(path, *bytes);
    return LoadPicture(path, PictureTypeOf(path).Format, dots);
}
