#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

// The message the SMTP client sends. Text fields are the bytes that go on the wire
// (the caller encodes names and subject itself); a recipient entry may be a bare
// address, "Name <address>" or "word:address". Attachments are local file paths.
class MailMessage
{
public:
    QByteArray FromName;
    QByteArray FromAddress;
    QByteArray Subject;
    QByteArray Mailer;    // the X-Mailer value
    QByteArray Date;      // the Date value (DateHeaderValue); none when empty
    QByteArray MessageId; // the Message-ID value, "<...@...>"; empty: a new one for every message
    QByteArray ReplyTo;
    QStringList Attachments;
    QList<QByteArray> To;
    QList<QByteArray> Cc;
    QList<QByteArray> Bcc;  // never written into the header
    QList<QByteArray> Body; // text lines without line ends
};
