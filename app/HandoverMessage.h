#pragma once

#include "app/LaunchFeedback.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The message a later kelvo start sends to the running one: "KLVO", the length of the path
// in 4 bytes (big-endian), then the path as the file system spells it (its bytes, which need
// not be UTF-8: FileName.h); then, when the later start was launched with a desktop's token,
// the token's length in 4 bytes and the token. The kelvo that takes it answers "OK" and
// closes; anything else is dropped, unanswered. The message grows only at its end, by fields
// of a length and bytes, written together with the path in one write: a kelvo reads the
// fields it knows of what came with the path and ignores the rest, so an older start's
// shorter message is still taken, and an older kelvo answers once it has the path.

struct HandedOver
{
    QString Picture;        // empty: nothing, only come to the front
    QByteArray LaunchToken; // empty: none; not yet checked to be a token
};

constexpr int MaxHandedPathBytes = 16384; // four times the longest path Linux opens
constexpr int MaxHandoverMessageBytes = 4 + 4 + MaxHandedPathBytes + 4 + MaxLaunchTokenBytes;
constexpr QByteArrayView HandoverAnswer = "OK";

QByteArray HandoverMessage(const HandedOver &handed);

enum class MessageRead {
    Incomplete, // more may follow
    Invalid,    // no message of kelvo's, or one beyond the bounds
    Complete,
};

// Reads the message from the bytes received so far.
MessageRead ReadHandoverMessage(QByteArrayView received, HandedOver &handed);
