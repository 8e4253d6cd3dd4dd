// libFuzzer target for the HEIF size check, which reads the item table before libheif decodes anything.
#include "imaging/HeifSizes.h"
#include "platform/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        HeifSizesHold(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    } catch (const Exception &) {
    }
    return 0;
}
