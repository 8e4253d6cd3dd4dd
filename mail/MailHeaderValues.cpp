#include "mail/MailHeaderValues.h"

#include <QRandomGenerator>
#include <QUrl>

#include <array>
#include <cstdlib>

QByteArray DateHeaderValue(const QDateTime &time)
{
    // Spelt out here, not taken from the locale: a reader parses these names only in English.
    static constexpr std::array<const char *, 7> Days{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static constexpr std::array<const char *, 12> Months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate date = time.date();
    const QTime clock = time.time();
    const int offset = time.offsetFromUtc() / 60;
    return QString::asprintf("%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", Days[date.dayOfWeek() - 1], date.day(),
                             Months[date.month() - 1], date.year(), clock.hour(), clock.minute(), clock.second(),
                             offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60)
        .toLatin1();
}

namespace {

// The domain after the address's last "@" in its ASCII form, when it is a dot-atom of letters,
// digits and hyphens; else empty.
QByteArray SenderDomain(const QByteArray &fromAddress)
{
    const qsizetype at = fromAddress.lastIndexOf('@');
    if (at < 0)
        return {};
    const QByteArray domain = QUrl::toAce(QString::fromUtf8(fromAddress.mid(at + 1)));
    bool labelStart = true;
    for (const char c : domain) {
        const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (c == '.' ? labelStart : !letterOrDigit && c != '-')
            return {};
        labelStart = c == '.';
    }
    return labelStart ? QByteArray() : domain;
}

} // namespace

QByteArray NewMessageId(const QByteArray &fromAddress)
{
    std::array<quint32, 4> random{};
    QRandomGenerator::system()->fillRange(random.data(), random.size());
    const QByteArray unique =
        QByteArray(reinterpret_cast<const char *>(random.data()), qsizetype(sizeof random)).toHex();
    const QByteArray domain = SenderDomain(fromAddress);
    return '<' + unique + '@' + (domain.isEmpty() ? QByteArray("kelvo.invalid") : domain) + '>';
}
