// libFuzzer target for the HEIF reader: the input dropped as a .heic file, through the size check and libheif.
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return DropAsPicture(data, size, PictureFormat::Heif);
}
