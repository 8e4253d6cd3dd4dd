#pragma once

#include <QByteArray>
#include <QList>

// The header lines of a message, each "Name: value" without its line end. Header
// lines are bytes: they go out on the wire as they stand.
class HeaderList : public QList<QByteArray>
{
public:
    using QList<QByteArray>::QList;
    HeaderList() = default;
    HeaderList(const QList<QByteArray> &lines) : QList<QByteArray>(lines) {}

    // 0-based index of the first line whose text before its first ":" equals Name,
    // letter case aside (nothing trimmed); lines without ":" are skipped; -1 if none.
    qsizetype IndexOfHeader(const QByteArray &Name) const;

    // Replaces (or appends) the line for Name with "Name: Value"; an empty Value
    // deletes the line for Name, if there is one.
    void SetHeaderValue(const QByteArray &Name, const QByteArray &Value);
};
