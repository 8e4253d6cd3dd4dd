#include "platform/FileName.h"

#include <QUrl>

namespace {

constexpr char16_t KeptByteBase = 0xDC00; // a kept byte b (0x80..0xFF) is U+DC00 + b

bool IsKeptByte(char16_t c)
{
    return c >= KeptByteBase + 0x80 && c <= KeptByteBase + 0xFF;
}

// What a lead byte starts: the length of its character, and the range of the byte after it (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF); every later byte is 0x80..0xBF. Length 0: no lead.
struct Lead
{
    int length = 0;
    uchar low = 0x80, high = 0xBF;
};

Lead LeadOf(uchar lead)
{
    if (lead < 0x80)
        return {1};
    if (lead >= 0xC2 && lead <= 0xDF)
        return {2};
    if (lead >= 0xE0 && lead <= 0xEF)
        return {3, uchar(lead == 0xE0 ? 0xA0 : 0x80), uchar(lead == 0xED ? 0x9F : 0xBF)};
    if (lead >= 0xF0 && lead <= 0xF4)
        return {4, uchar(lead == 0xF0 ? 0x90 : 0x80), uchar(lead == 0xF4 ? 0x8F : 0xBF)};
    return {};
}

// The length of the well-formed UTF-8 character at the start of `bytes`, or 0 when there is none.
int Utf8CharacterLength(QByteArrayView bytes)
{
    const Lead lead = LeadOf(uchar(bytes.front()));
    if (lead.length == 0 || bytes.size() < lead.length)
        return 0;
    for (int i = 1; i < lead.length; ++i) {
        const uchar b = uchar(bytes[i]);
        if (b < (i == 1 ? lead.low : 0x80) || b > (i == 1 ? lead.high : 0xBF))
            return 0;
    }
    return lead.length;
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
