#include "platform/AtomicFile.h"

#include "platform/Exception.h"

#include <QSaveFile>

void WriteFileAtomically(const QString &path, const QByteArray &bytes, const QString &failure)
{
    QSaveFile file(path);
    // Where no temporary file can be made beside the target (a read-only folder), the
    // write must fail rather than truncate the old file and write it in place. That is
    // already a save file's default; said here so that it never changes unnoticed.
    file.setDirectWriteFallback(false);
    // Through a buffer the last bytes only reach the disk when commit() closes the
    // file, and a flush that fails there does not stop the rename: a short file would
    // take the old one's place. Unbuffered, a short write is seen right here.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw Exception(failure);
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw Exception(failure); // the save file removes its temporary file
    if (!file.commit())
        throw Exception(failure);
}
