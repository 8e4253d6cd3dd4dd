#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The text as encoded words "=?ISO-2022-JP?B?" + base64 + "?=" for a header line that
// holds `used` characters before it. Each word is a whole ISO-2022-JP text (it starts
// in ASCII and is back in ASCII at its end, and no character is split between words),
// at most 75 characters long and short enough that its line stays within 76. Words are
// joined by CR LF and a blank, where the header line folds. An empty text gives one
// empty word.
QString EncodeWords(const QString &text, int used);

// The value of the Subject line: the subject as encoded words, a pure ASCII one too.
QString EncodeSubject(const QString &subject);

// A display name for a From or To line that holds `used` characters before it: an
// ASCII name that fits the line stays as typed, between double quotes when it holds a
// character that would end the name ("," "<" ":" and the like); any other name becomes
// encoded words.
QString DisplayName(const QString &name, int used);

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
