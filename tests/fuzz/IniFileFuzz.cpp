// libFuzzer target for kelvo.ini's reader and writer. Whatever the file holds (any bytes, any line ends), a key
// written reads back as written (on one line, as CP932 holds it, at most MaxValueLength characters), every other key
// reads as before, and writing the same key again changes nothing.
#include "platform/CodePage.h"
#include "platform/IniFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

const char *const Sections[] = {"smtp", "web", "Koukoku", "a b"};
const char *const Keys[] = {"Dest", "kai", "flg", "k"};

// What a read gives for a value written: line breaks become blanks, characters CP932 lacks its replacement.
QString AsStored(const QString &value)
{
    QString flat = value;
    flat.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return FromCP932(ToCP932(flat)).left(IniFile::MaxValueLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte picks the section and the key written, the second the value's length in bytes; the value
    // (CP932) follows, and the file is the rest.
    const QString section = QLatin1String(Sections[data[0] & 3]), key = QLatin1String(Keys[(data[0] >> 2) & 3]);
    const size_t valueLength = std::min<size_t>(data[1], size - 2);
    const char *bytes = reinterpret_cast<const char *>(data);
    const QString value = FromCP932(QByteArray(bytes + 2, qsizetype(valueLength)));
    const QByteArray file(bytes + 2 + valueLength, qsizetype(size - 2 - valueLength));

    const QByteArray written = IniFile::WriteInto(file, section, key, value);
    if (IniFile::ReadFrom(written, section, key) != AsStored(value))
        std::abort();
    for (const char *otherSection : Sections)
        for (const char *otherKey : Keys)
            if ((otherSection != section || otherKey != key) &&
                IniFile::ReadFrom(written, QLatin1String(otherSection), QLatin1String(otherKey)) !=
                    IniFile::ReadFrom(file, QLatin1String(otherSection), QLatin1String(otherKey)))
                std::abort();
    if (IniFile::WriteInto(written, section, key, value) != written)
        std::abort();
    return 0;
}
