// libFuzzer target for the JPEG reader: the input dropped as a .jpg file, fitted as it is decoded.
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return DropAsPicture(data, size, PictureFormat::Jpeg);
}
