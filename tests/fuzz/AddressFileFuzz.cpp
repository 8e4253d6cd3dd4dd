// libFuzzer target for the address.dat reader: any input reads or fails with EAddressReadError
// (no crash, hang or claimed allocation), and what reads settles after one write.
#include "settings/AddressFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QList<AddressEntry> entries;
    try {
        entries = ReadAddressStream(bytes);
    } catch (const EAddressReadError &) {
        return 0;
    }
    const QByteArray once = WriteAddressStream(entries);
    // A written file that does not read back throws on to libFuzzer, which reports the abort.
    const QList<AddressEntry> again = ReadAddressStream(once);
    if (again.size() != entries.size() || WriteAddressStream(again) != once)
        std::abort();
    return 0;
}
