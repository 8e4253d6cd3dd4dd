// libFuzzer target for the PNG reader: the input dropped as a .png file. The CRC of every whole chunk is made anew
// first, so that a changed byte reaches the reader instead of stopping at its chunk's CRC; kelvo's own chunk walk
// reads no CRC, and sees the input as it came.
#include "PictureFuzz.h"

#include <QtEndian>

#include <vector>

#include <zlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> file(data, data + size);
    for (size_t at = 8; at + 12 <= size;) {
        const size_t length = qFromBigEndian<quint32>(&file[at]);
        if (length > size - at - 12)
            break;
        qToBigEndian<quint32>(crc32(0, &file[at + 4], uInt(length + 4)), &file[at + 8 + length]);
        at += 12 + length;
    }
    return DropAsPicture(file.data(), size, PictureFormat::Png);
}
