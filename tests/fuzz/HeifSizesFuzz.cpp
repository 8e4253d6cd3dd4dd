// libFuzzer target for the HEIF size check, which reads a file's item table before libheif decodes anything: any
// input holds, fails or throws the "too large" message, without reading or joining more than the input.
#include "imaging/HeifSizes.h"
#include "platform/Exception.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        HeifSizesHold(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    } catch (const Exception &) {
    }
    return 0;
}
