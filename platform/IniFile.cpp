#include "platform/IniFile.h"

#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/RegularFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace {

// Where one line of the file stands. A line ends with CR LF, LF, a lone CR or the file's end:
// files written by hand or by other tools use any of them.
struct Line
{
    qsizetype start; // offset of the first byte
    qsizetype end;   // offset just past the line's text (before its line end)
    qsizetype next;  // offset of the next line
};

Line LineAt(QByteArrayView content, qsizetype start)
{
    qsizetype end = start;
    while (end < content.size() && content[end] != '\n' && content[end] != '\r')
        ++end;
    qsizetype next = end;
    if (next < content.size())
        next += content[next] == '\r' && next + 1 < content.size() && content[next + 1] == '\n' ? 2 : 1;
    return {start, end, next};
}

QByteArrayView TextOf(QByteArrayView content, const Line &line)
{
    return content.sliced(line.start, line.end - line.start);
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView TrimBlanks(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && IsBlank(bytes.front()))
        bytes = bytes.sliced(1);
    while (!bytes.isEmpty() && IsBlank(bytes.back()))
        bytes.chop(1);
    return bytes;
}

// A section or key name as the file is searched for it. kelvo's own names are ASCII, and
// are matched byte for byte without regard to ASCII case: CP932 writes ASCII as itself and
// no other character as ASCII bytes, so this is the comparison of the decoded names, without
// decoding every line of a long file. Other names are decoded.
class Name
{
public:
    explicit Name(const QString &name) : text(name), ascii(IsAscii(name) ? name.toLatin1() : QByteArray()) {}

    bool Matches(QByteArrayView raw) const
    {
        if (ascii.isEmpty() && !text.isEmpty())
            return FromCP932(raw.toByteArray()).compare(text, Qt::CaseInsensitive) == 0;
        if (raw.size() != ascii.size())
            return false;
        for (qsizetype i = 0; i < raw.size(); ++i)
            if (AsciiLower(raw[i]) != AsciiLower(ascii[i]))
                return false;
        return true;
    }

private:
    static bool IsAscii(const QString &name)
    {
        return std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x80; });
    }
    static char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

    QString text;
    QByteArray ascii;
};

// The name of a section header line, or false when the line is no header.
bool SectionName(QByteArrayView text, QByteArrayView &name)
{
    const QByteArrayView t = TrimBlanks(text);
    if (!t.startsWith('['))
        return false;
    const qsizetype close = t.indexOf(']');
    name = TrimBlanks(t.sliced(1, (close < 0 ? t.size() : close) - 1));
    return true;
}

// Splits a "key=value" line; false when it holds no "=".
bool KeyValue(QByteArrayView text, QByteArrayView &key, QByteArrayView &value)
{
    const qsizetype eq = text.indexOf('=');
    if (eq < 0)
        return false;
    key = TrimBlanks(text.first(eq));
    value = TrimBlanks(text.sliced(eq + 1));
    return true;
}

struct Found
{
    std::optional<Line> section; // the header line
    std::optional<Line> key;     // the key's line
    std::optional<Line> lastKey; // the section's last line that holds a key, else its header
};

// One pass over the file, however many sections stand before the one looked for.
Found Find(QByteArrayView content, const Name &section, const Name &key)
{
    Found found;
    for (qsizetype pos = 0; pos < content.size();) {
        const Line line = LineAt(content, pos);
        pos = line.next;
        QByteArrayView name, k, v;
        if (SectionName(TextOf(content, line), name)) {
            if (found.section)
                break; // the first matching section is the only one looked at
            if (section.Matches(name))
                found.section = found.lastKey = line;
            continue;
        }
        if (!found.section || !KeyValue(TextOf(content, line), k, v))
            continue;
        found.lastKey = line;
        if (!found.key && key.Matches(k))
            found.key = line;
    }
    return found;
}

QByteArray OneLine(const QString &text)
{
    // A value is one line of the file: line breaks inside it would make new keys.
    QString flat = text;
    flat.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return ToCP932(flat);
}

bool Quoted(const QByteArray &value)
{
    // No CP932 trail byte is a quote, so the last byte is a whole character here.
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
}

// A read drops one pair of quotes around a value, as the Windows profile reader does,
// so that name="Taro" reads Taro.
QByteArray Unquoted(const QByteArray &value)
{
    return Quoted(value) ? value.mid(1, value.size() - 2) : value;
}

// A value that a read would change (quotes around it dropped, blanks at its ends
// trimmed) is written inside a pair of quotes, so that it reads back as it was typed.
QByteArray StoredValue(const QString &value)
{
    QByteArray bytes = OneLine(value);
    if (Quoted(bytes) || (!bytes.isEmpty() && (IsBlank(bytes.front()) || IsBlank(bytes.back()))))
        return '"' + bytes + '"';
    return bytes;
}

} // namespace

IniFile::IniFile(const QString &path) : path(path)
{}

QString IniFile::ReadFrom(const QByteArray &content, const QString &section, const QString &key,
                          const QString &defaultValue)
{
    const Found found = Find(content, Name(section), Name(key));
    if (!found.key)
        return defaultValue;
    QByteArrayView k, v;
    KeyValue(TextOf(content, *found.key), k, v);
    return FromCP932(Unquoted(v.toByteArray())).left(MaxValueLength);
}

QByteArray IniFile::WriteInto(const QByteArray &content, const QString &section, const QString &key,
                              const QString &value)
{
    const Found found = Find(content, Name(section), Name(key));
    const QByteArray keyLine = OneLine(key) + '=' + StoredValue(value);
    // Every line goes out with CR LF, whatever it ended with: a line that ended in a lone CR
    // would otherwise run into the next for readers that split at LF.
    QByteArray out;
    out.reserve(content.size() + keyLine.size() + OneLine(section).size() + 8);
    for (qsizetype pos = 0; pos < content.size();) {
        const Line line = LineAt(content, pos);
        pos = line.next;
        out += found.key && found.key->start == line.start ? QByteArrayView(keyLine) : TextOf(content, line);
        out += "\r\n";
        if (!found.key && found.lastKey && found.lastKey->start == line.start)
            out += keyLine + "\r\n";
    }
    if (!found.section)
        out += '[' + OneLine(section) + "]\r\n" + keyLine + "\r\n";
    return out;
}

namespace {

// The file's bytes; empty when there is none. A file that is there but cannot be read (not a
// regular file, refused, too large) throws `refusal`, or its own reason when `refusal` is empty,
// so that it is never taken for an empty file, nor replaced by one.
QByteArray ReadWholeFile(const QString &path, const QString &refusal)
{
    QFile file(path);
    const OpenRefusal why = OpenRegularFile(file);
    const int error = errno;
    if (why == OpenRefusal::Missing)
        return {};
    const auto fail = [&](const QString &reason) {
        return Exception(refusal.isEmpty()
                             ? QCoreApplication::translate("IniFile", "%1 を読めません（%2）。").arg(path, reason)
                             : refusal);
    };
    if (why != OpenRefusal::None)
        throw fail(RefusalReason(why, error));
    if (file.size() > IniFile::MaxFileBytes)
        throw fail(QCoreApplication::translate("IniFile", "%1 バイトを超えています").arg(IniFile::MaxFileBytes));
    QByteArray content = file.readAll();
    if (content.size() != file.size())
        throw fail(file.errorString());
    return content;
}

} // namespace

QString IniFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    return ReadFrom(ReadWholeFile(path, QString()), section, key, defaultValue);
}

void IniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    WriteStrings({{section, key, value}});
}

void IniFile::WriteStrings(const QList<Entry> &entries)
{
    const QString refused = QCoreApplication::translate("IniFile", "%1 に書き込めません").arg(path);
    // A file that is there but cannot be read is not replaced by one holding a single key.
    QByteArray content = ReadWholeFile(path, refused);
    for (const Entry &entry : entries)
        content = WriteInto(content, entry.Section, entry.Key, entry.Value);
    WriteFileAtomically(path, content, refused);
}
