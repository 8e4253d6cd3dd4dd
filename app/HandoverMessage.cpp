#include "app/HandoverMessage.h"

#include "platform/FileName.h"

#include <QtEndian>

namespace {

constexpr QByteArrayView Magic = "KLVO";
constexpr int LengthBytes = 4;

QByteArray WithLength(const QByteArray &bytes)
{
    char length[LengthBytes];
    qToBigEndian<quint32>(quint32(bytes.size()), length);
    return QByteArray(length, sizeof length) + bytes;
}

// The length field at `at`, which has come whole.
quint32 LengthAt(QByteArrayView bytes, qsizetype at)
{
    return qFromBigEndian<quint32>(bytes.data() + at);
}

} // namespace

QByteArray HandoverMessage(const HandedOver &handed)
{
    QByteArray message = Magic.toByteArray() + WithLength(FileNameToBytes(handed.Picture));
    if (!handed.LaunchToken.isEmpty())
        message += WithLength(handed.LaunchToken);
    return message;
}

MessageRead ReadHandoverMessage(QByteArrayView received, HandedOver &handed)
{
    constexpr qsizetype header = Magic.size() + LengthBytes;
    if (received.size() < header) {
        // The magic so far, and the start of the length after it, may come in any pieces.
        const qsizetype start = qMin(received.size(), Magic.size());
        return received.first(start) == Magic.first(start) ? MessageRead::Incomplete : MessageRead::Invalid;
    }
    const quint32 length = LengthAt(received, Magic.size());
    if (!received.startsWith(Magic) || length > quint32(MaxHandedPathBytes))
        return MessageRead::Invalid;
    const qsizetype pathEnd = header + qsizetype(length);
    if (received.size() < pathEnd)
        return MessageRead::Incomplete;
    // The token is written together with the path: a message that ends with its path has none.
    quint32 tokenLength = 0;
    if (received.size() > pathEnd) {
        if (received.size() < pathEnd + LengthBytes)
            return MessageRead::Incomplete;
        tokenLength = LengthAt(received, pathEnd);
        if (tokenLength > quint32(MaxLaunchTokenBytes))
            return MessageRead::Invalid;
        if (received.size() < pathEnd + LengthBytes + qsizetype(tokenLength))
            return MessageRead::Incomplete;
    }
    handed.Picture = FileNameFromBytes(received.sliced(header, length));
    handed.LaunchToken = tokenLength ? received.sliced(pathEnd + LengthBytes, tokenLength).toByteArray() : QByteArray();
    return MessageRead::Complete;
}
