// libFuzzer target for the WebP reader: the input dropped as a .webp file.
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return DropAsPicture(data, size, PictureFormat::WebP);
}
