#include "platform/FileName.h"

#include <QUrl>

namespace {

constexpr char16_t KeptByteBase = 0xDC00; // a kept byte b (0x80..0xFF) is U+DC00 + b

bool IsKeptByte(char16_t c)
{
    return c >= KeptByteBase + 0x80 && c <= KeptByteBase + 0xFF;
}

// The length of the well-formed UTF-8 character at the start of `bytes` (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF), or 0 when there is none.
int Utf8CharacterLength(QByteArrayView bytes)
{
    const auto at = [&](qsizetype i) { return i < bytes.size() ? uchar(bytes[i]) : 0u; };
    const auto trail = [&](qsizetype i, uchar low = 0x80, uchar high = 0xBF) { return at(i) >= low && at(i) <= high; };
    const uchar lead = at(0);
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return trail(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const bool second = lead == 0xE0 ? trail(1, 0xA0) : lead == 0xED ? trail(1, 0x80, 0x9F) : trail(1);
        return second && trail(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const bool second = lead == 0xF0 ? trail(1, 0x90) : lead == 0xF4 ? trail(1, 0x80, 0x8F) : trail(1);
        return second && trail(2) && trail(3) ? 4 : 0;
    }
    return 0;
}

} // namespace

QString FileNameFromBytes(QByteArrayView bytes)
{
    QString name;
    name.reserve(bytes.size());
    qsizetype run = 0; // start of the well-formed text not yet converted
    for (qsizetype i = 0; i < bytes.size();) {
        const int length = Utf8CharacterLength(bytes.sliced(i));
        if (length > 0) {
            i += length;
            continue;
        }
        name += QString::fromUtf8(bytes.sliced(run, i - run));
        name += QChar(char16_t(KeptByteBase + uchar(bytes[i])));
        run = ++i;
    }
    return name + QString::fromUtf8(bytes.sliced(run));
}

QByteArray FileNameToBytes(const QString &name)
{
    QByteArray bytes;
    qsizetype run = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        // A kept byte stands alone: after a high surrogate it would be half of a character.
        if (!IsKeptByte(c) || (i > 0 && name[i - 1].isHighSurrogate()))
            continue;
        bytes += QStringView(name).sliced(run, i - run).toUtf8();
        bytes += char(c - KeptByteBase);
        run = i + 1;
    }
    return bytes + QStringView(name).sliced(run).toUtf8();
}

QStringList ArgumentNames(int argc, const char *const *argv)
{
    QStringList names;
    for (int i = 0; i < argc; ++i)
        names.append(FileNameFromBytes(argv[i]));
    return names;
}

QString FileNameOfUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    // A file on another host (file://server/share) is Qt's to name; it holds no bytes of ours.
    if (!url.host().isEmpty())
        return url.toLocalFile();
    return FileNameFromBytes(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}
