#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

class QUrl;

// File names on Linux are bytes. Most are UTF-8, but a disk or an archive from Windows may
// hold names in CP932, which are not, and Qt's own conversion turns every such byte into
// U+FFFD: the name no longer opens. kelvo keeps such a name whole in a QString: a byte that
// does not belong to a UTF-8 character becomes the lone surrogate U+DC80..U+DCFF (the byte
// plus 0xDC00), which no valid UTF-8 text ever holds, and goes back to the same byte when the
// file is opened. Valid UTF-8 gives the same text as Qt's conversion.

QString FileNameFromBytes(QByteArrayView bytes);
QByteArray FileNameToBytes(const QString &name);

// The arguments of main() as names: a path given on the command line opens whatever its bytes.
QStringList ArgumentNames(int argc, const char *const *argv);

// The local file a file: URL names (as a drop gives it), its percent-encoded bytes kept;
// empty for any other URL.
QString FileNameOfUrl(const QUrl &url);
