#pragma once

#include "platform/Exception.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// address.dat: the address list control saved as a binary component stream
// ("TPF0", class "TListView", object "AddressList", its properties). This module reads
// and writes it without any window, from a file or from bytes in memory.

// One row of the address list. A new entry has a name as caption and its mail address
// as the one sub-item; entries read from a file keep their index and data fields and
// however many sub-items they had, so that writing them back changes nothing.
struct AddressEntry
{
    QString Caption;
    QStringList SubItems;
    qint32 ImageIndex = 0;
    qint32 StateIndex = -1;
    qint32 OverlayIndex = -1;
    quint32 Data = 0;

    bool operator==(const AddressEntry &) const = default;
};

// A stream that could not be read to its end. It carries the entries as far as they
// were read, which the address book keeps showing.
class EAddressReadError : public Exception
{
public:
    EAddressReadError(const QString &message, const QList<AddressEntry> &entries) : Exception(message), Entries(entries)
    {}

    QList<AddressEntry> Entries;
};

// What address.dat may hold. A book of a thousand entries takes about 60 KB; the bounds keep
// a damaged or hostile file within about 90 MB and a third of a second of reading and
// showing (bench/files_bench).
constexpr qint64 MaxAddressFileBytes = 2 * 1024 * 1024;
constexpr int MaxSubItems = 64; // per entry

// Properties are accepted in any order; those other than Items.Data are checked for
// their form and skipped. Throws EAddressReadError.
QList<AddressEntry> ReadAddressStream(const QByteArray &bytes);

// The whole stream as the address book writes it. Texts are CP932, cut to at most 255
// bytes before a character that would not fit.
QByteArray WriteAddressStream(const QList<AddressEntry> &entries);

// No file is an empty book. Throws EAddressReadError, also when the file is there but cannot
// be opened ("ファイル %s を開けません"): a FIFO, a folder or a device is refused before
// anything waits on it; and when it is larger than MaxAddressFileBytes.
QList<AddressEntry> ReadAddressFile(const QString &path);

// Writes a temporary file beside `path` and renames it over the old one, so a failed
// write leaves the old book as it was. Throws "ファイル %s を作成できません".
void WriteAddressFile(const QString &path, const QList<AddressEntry> &entries);
