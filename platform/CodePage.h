#pragma once

#include <QByteArray>
#include <QString>

// Text in a legacy code page <-> QString, through iconv. kelvo.ini, keitai.txt and
// address.dat are CP932 (the Windows flavour of Shift-JIS) on disk.

// Bytes that do not form a character of the code page become U+FFFD, one per byte,
// and the conversion goes on with the next byte.
QString FromCodePage(const QByteArray &bytes, const char *charset);

// Characters the code page cannot hold become `replacement`. When `lossless` is
// given it tells whether every character could be converted.
QByteArray ToCodePage(const QString &text, const char *charset, char replacement = '?', bool *lossless = nullptr);

inline QString FromCP932(const QByteArray &bytes)
{
    return FromCodePage(bytes, "CP932");
}
inline QByteArray ToCP932(const QString &text)
{
    return ToCodePage(text, "CP932");
}

// Length in bytes of the CP932 character that starts with `lead` (1 or 2).
inline int CP932CharLength(unsigned char lead)
{
    return ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) ? 2 : 1;
}

// CP932 bytes cut to at most `maxBytes`, before the first character that would not fit
// whole: half a double-byte character would read back as garbage. Bytes that fit are
// kept as they are.
QByteArray CutCP932(const QByteArray &bytes, qsizetype maxBytes);
