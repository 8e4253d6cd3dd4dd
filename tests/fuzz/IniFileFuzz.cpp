// libFuzzer target for kelvo.ini's reader and writer. Whatever the file holds (any bytes, any line ends), a key
// written reads back as written (on one line, as CP932 holds it, at most MaxValueLength characters), every other key
// reads as before, and writing the same key again changes nothing.
#include "platform/CodePage.h"
#include "platform/IniFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *const sections[] = {"smtp", "web", "Koukoku", "a b"}, *const keys[] = {"Dest", "kai", "flg", "k"};
    if (size < 2)
        return 0;
    // The first byte picks the section and the key written, the second the value's length; the value (CP932)
    // follows, and the file is the rest.
    const QLatin1String section(sections[data[0] & 3]), key(keys[(data[0] >> 2) & 3]);
    const size_t length = std::min<size_t>(data[1], size - 2);
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString value = FromCP932(bytes.mid(2, qsizetype(length)));
    const QByteArray file = bytes.mid(2 + qsizetype(length)), written = IniFile::WriteInto(file, section, key, value);
    // What a read gives: line breaks as blanks, what CP932 lacks as its replacement.
    const QString stored = FromCP932(ToCP932(QString(value).replace('\r', ' ').replace('\n', ' ')));
    if (IniFile::ReadFrom(written, section, key) != stored.left(IniFile::MaxValueLength) ||
        IniFile::WriteInto(written, section, key, value) != written)
        std::abort();
    for (const char *other : sections)
        for (const char *otherKey : keys)
            if ((section != QLatin1String(other) || key != QLatin1String(otherKey)) &&
                IniFile::ReadFrom(written, other, otherKey) != IniFile::ReadFrom(file, other, otherKey))
                std::abort();
    return 0;
}
