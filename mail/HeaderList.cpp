#include "mail/HeaderList.h"

qsizetype HeaderList::IndexOfHeader(const QByteArray &Name) const
{
    for (qsizetype i = 0; i < size(); ++i) {
        const QByteArray &line = at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        if (line.first(colon).compare(Name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void HeaderList::SetHeaderValue(const QByteArray &Name, const QByteArray &Value)
{
    qsizetype index = IndexOfHeader(Name);
    if (Value.isEmpty()) {
        if (index >= 0)
            removeAt(index);
        return;
    }
    if (index < 0) {
        append(QByteArray());
        index = size() - 1;
    }
    (*this)[index] = Name + ": " + Value;
}
