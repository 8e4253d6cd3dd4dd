#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Base64 of the bytes, with "=" padding and no line breaks. Empty input, empty output.
QString EncodeBase64Text(const QByteArray &bytes);

// The subject as one encoded word: "=?ISO-2022-JP?B?" + base64 of its ISO-2022-JP bytes
// + "?=", however long; a pure ASCII subject is encoded too.
QString EncodeSubject(const QString &subject);

// The text as ISO-2022-JP bytes that start and end in ASCII. On the way, half-width
// katakana become full-width (with their voiced marks joined), the CP932 characters
// that JIS X 0208 writes differently are mapped to the JIS ones, and any character the
// code cannot carry becomes "〓".
QByteArray ToIso2022Jp(const QString &text);

// Body lines for the wire. A line of ASCII stays as it is; other lines become
// ISO-2022-JP. Any line longer than `limit` bytes is split at character boundaries into
// several, each starting and ending in ASCII; a piece that starts with "." is kept one
// byte shorter, so the dot the SMTP client puts in front still fits.
QList<QByteArray> EncodeBodyLines(const QStringList &lines, bool &allAscii, int limit = 998);

bool IsAscii(const QString &text);
