#pragma once

#include <QByteArray>
#include <QDateTime>

// The values of the header lines that say when and which message: the same bytes whatever
// the user's locale or language.

// The time in the form of RFC 5322, with English day and month names and the offset of the
// time's own zone: "Mon, 07 Dec 2026 17:41:10 +0900".
QByteArray DateHeaderValue(const QDateTime &time);

// A new message id, "<random@domain>": 128 random bits in hex, then the domain of the
// sender's address (in its ASCII form), or "kelvo.invalid" when the address has none that an
// id may carry.
QByteArray NewMessageId(const QByteArray &fromAddress);
