#pragma once

#include <QFile>
#include <QString>

// Why a path could not be opened as a regular file for reading.
enum class OpenRefusal {
    None,       // opened
    Missing,    // nothing by that name, or a folder on the way is missing
    NotRegular, // a folder, a FIFO, a device or a socket
    Failed,     // anything else the system refused (errno tells)
};

// Opens a file for reading without waiting on what it names. The open itself is
// non-blocking, so a FIFO without a writer or a device cannot hold the window up, and
// whatever is not a regular file is refused before a byte of it is read. The reads that
// follow are blocking again, which a regular file never makes wait. `file` names the path
// and must be closed; it stays closed on a refusal, and errno keeps the system's reason.
// Opened, it is opened from a descriptor and so no longer knows its name (Qt's way with
// descriptors): messages take the path from the caller. The name may hold bytes that are
// not UTF-8, kept as FileName.h tells.
OpenRefusal OpenRegularFile(QFile &file);

// Why the file could not be read, as the user reads it after the path: "not a regular
// file", or the system's words for `error` (the errno that OpenRegularFile left).
QString RefusalReason(OpenRefusal why, int error);
