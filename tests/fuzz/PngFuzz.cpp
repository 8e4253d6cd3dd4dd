// libFuzzer target for the PNG reader: the input dropped as a .png file, the CRC of each whole chunk made anew so
// that a changed byte reaches the decoder (kelvo's own chunk walk reads no CRC).
#include "PictureFuzz.h"

#include <QtEndian>

#include <zlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray file(reinterpret_cast<const char *>(data), qsizetype(size));
    auto *bytes = reinterpret_cast<uchar *>(file.data());
    for (size_t at = 8, length; at + 12 <= size && (length = qFromBigEndian<quint32>(bytes + at)) <= size - at - 12;
         at += 12 + length)
        qToBigEndian<quint32>(crc32(0, bytes + at + 4, uInt(length + 4)), bytes + at + 8 + length);
    return DropAsPicture(bytes, size, PictureFormat::Png);
}
