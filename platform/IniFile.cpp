#include "platform/IniFile.h"

#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QList>

namespace {

// One line of the file: its bytes without the line end, and where it stands.
struct Line
{
    qsizetype start; // offset of the first byte
    qsizetype end;   // offset just past the line's text (before CR LF)
    qsizetype next;  // offset of the next line
};

QList<Line> SplitLines(const QByteArray &content)
{
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < content.size()) {
        qsizetype lf = content.indexOf('\n', pos);
        const qsizetype next = lf < 0 ? content.size() : lf + 1;
        qsizetype end = lf < 0 ? content.size() : lf;
        if (end > pos && content[end - 1] == '\r')
            --end;
        lines.append({pos, end, next});
        pos = next;
    }
    return lines;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray TrimBlanks(const QByteArray &bytes)
{
    qsizetype b = 0, e = bytes.size();
    while (b < e && IsBlank(bytes[b]))
        ++b;
    while (e > b && IsBlank(bytes[e - 1]))
        --e;
    return bytes.mid(b, e - b);
}

bool SameName(const QByteArray &raw, const QString &name)
{
    return FromCP932(raw).compare(name, Qt::CaseInsensitive) == 0;
}

// The name of a section header line, or false when the line is no header.
bool SectionName(const QByteArray &text, QByteArray &name)
{
    const QByteArray t = TrimBlanks(text);
    if (!t.startsWith('['))
        return false;
    qsizetype close = t.indexOf(']');
    name = TrimBlanks(t.mid(1, close < 0 ? -1 : close - 1));
    return true;
}

// Splits a "key=value" line; false when it holds no "=".
bool KeyValue(const QByteArray &text, QByteArray &key, QByteArray &value)
{
    const qsizetype eq = text.indexOf('=');
    if (eq < 0)
        return false;
    key = TrimBlanks(text.left(eq));
    value = TrimBlanks(text.mid(eq + 1));
    return true;
}

struct Found
{
    qsizetype sectionLine = -1; // index of the header line
    qsizetype keyLine = -1;     // index of the key's line
    qsizetype lastKeyLine = -1; // last line of the section that holds a key
};

Found Find(const QByteArray &content, const QList<Line> &lines, const QString &section, const QString &key)
{
    Found found;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray text = content.mid(lines[i].start, lines[i].end - lines[i].start);
        QByteArray name;
        if (SectionName(text, name)) {
            if (inSection)
                break; // the first matching section is the only one looked at
            if (SameName(name, section)) {
                inSection = true;
                found.sectionLine = i;
                found.lastKeyLine = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        QByteArray k, v;
        if (!KeyValue(text, k, v))
            continue;
        found.lastKeyLine = i;
        if (found.keyLine < 0 && SameName(k, key))
            found.keyLine = i;
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
    const QList<Line> lines = SplitLines(content);
    const Found found = Find(content, lines, section, key);
    if (found.keyLine < 0)
        return defaultValue;
    const Line &line = lines[found.keyLine];
    QByteArray k, v;
    KeyValue(content.mid(line.start, line.end - line.start), k, v);
    return FromCP932(Unquoted(v)).left(MaxValueLength);
}

QByteArray IniFile::WriteInto(const QByteArray &content, const QString &section, const QString &key,
                              const QString &value)
{
    const QList<Line> lines = SplitLines(content);
    const Found found = Find(content, lines, section, key);
    const QByteArray keyLine = OneLine(key) + '=' + StoredValue(value);

    QByteArray out = content;
    if (found.keyLine >= 0) {
        const Line &line = lines[found.keyLine];
        out.replace(line.start, line.end - line.start, keyLine);
    } else if (found.sectionLine >= 0) {
        const Line &after = lines[found.lastKeyLine];
        QByteArray insert = keyLine + "\r\n";
        if (after.next == after.end) // the section's last line has no line end yet
            insert.prepend("\r\n");
        out.insert(after.next, insert);
    } else {
        if (!out.isEmpty() && !out.endsWith('\n'))
            out.append("\r\n");
        out.append('[' + OneLine(section) + "]\r\n" + keyLine + "\r\n");
    }
    return out;
}

QString IniFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return defaultValue;
    return ReadFrom(file.readAll(), section, key, defaultValue);
}

void IniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    WriteStrings({{section, key, value}});
}

void IniFile::WriteStrings(const QList<Entry> &entries)
{
    const QString refused = QCoreApplication::translate("IniFile", "%1 に書き込めません").arg(path);
    // A file that is there but cannot be read is not replaced by one holding a single key.
    QByteArray content;
    if (QFileInfo(path).isFile()) {
        QFile old(path);
        if (!old.open(QIODevice::ReadOnly))
            throw Exception(refused);
        content = old.readAll();
        if (content.size() != old.size())
            throw Exception(refused);
    }
    for (const Entry &entry : entries)
        content = WriteInto(content, entry.Section, entry.Key, entry.Value);
    WriteFileAtomically(path, content, refused);
}
