#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at `path` with `bytes`, whole or not at all. The bytes go to a
// temporary file beside it, written unbuffered so that a full disk or a file-size
// limit shows at the write that hits it; only a new file whose every byte was
// written is renamed over the old one. There is no fallback to writing in place.
// Any failure throws Exception(`failure`) and leaves the old file byte for byte as
// it was, with no temporary file left behind.
void WriteFileAtomically(const QString &path, const QByteArray &bytes, const QString &failure);
