#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// An INI file read and written one key at a time by the Windows profile rules:
// section and key names match without regard to case, the first matching section and
// key win, values are trimmed, one pair of quotes around a value is dropped and at most
// 2047 characters are read, a new key goes at the end of its section and a new section
// at the end of the file. A value that would not read back as written (one in quotes,
// or with blanks at its ends) is written in a pair of quotes. The text is CP932 with
// CR LF line ends, so a file written on Windows reads unchanged; the file is worked on
// as bytes, so lines other than the one written keep their bytes exactly.
class IniFile
{
public:
    explicit IniFile(const QString &path);

    // The empty text or `defaultValue` when the file, the section or the key is missing.
    QString ReadString(const QString &section, const QString &key, const QString &defaultValue = QString()) const;

    // Replaces the whole file atomically (a temporary file beside it, then a rename),
    // so a failure never leaves it half written. Throws "<path> に書き込めません".
    void WriteString(const QString &section, const QString &key, const QString &value);

    // One key of a section and the value to write.
    struct Entry
    {
        QString Section;
        QString Key;
        QString Value;
    };
    // Writes the entries in their order, each where WriteString would put it, in one replace
    // of the file: all of them or, when it fails, none.
    void WriteStrings(const QList<Entry> &entries);

    // The same rules over bytes in memory.
    static QString ReadFrom(const QByteArray &content, const QString &section, const QString &key,
                            const QString &defaultValue = QString());
    static QByteArray WriteInto(const QByteArray &content, const QString &section, const QString &key,
                                const QString &value);

    static constexpr int MaxValueLength = 2047;

private:
    QString path;
};
