// libFuzzer target for the bitmap reader: the input dropped as a .bmp file.
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return DropAsPicture(data, size, PictureFormat::Bmp);
}
