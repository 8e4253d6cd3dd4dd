#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real SMTP server for tests: aiosmtpd (Debian's python3-aiosmtpd) run by
// smtp_sink.py on a free port of 127.0.0.1 for as long as this object lives. What it
// receives is kept in a temporary folder and read back with Messages().
class SmtpSink
{
public:
    struct Message
    {
        QByteArray From;        // envelope sender (MAIL FROM)
        QList<QByteArray> Rcpt; // envelope recipients (RCPT TO), in order
        QByteArray Helo;        // the name given with HELO
        QByteArray Data;        // the message as received, dot-stuffing undone
    };

    SmtpSink();
    ~SmtpSink();
    SmtpSink(const SmtpSink &) = delete;
    SmtpSink &operator=(const SmtpSink &) = delete;

    // 0 when the server could not be started; Error() says why.
    quint16 Port() const { return port; }
    QString Error() const { return error; }

    // The messages received so far, in order of arrival.
    QList<Message> Messages() const;
    // Waits, pumping the event loop, until at least count messages are there (at most
    // a few seconds) and returns them.
    QList<Message> WaitForMessages(int count) const;

    // Reads a message with Python's email package. The result holds "headers" (a list
    // of [name, value]), "multipart", "boundary", "content_type", "defects" and
    // "parts": for each leaf part "content_type", "charset", "filename",
    // "disposition", "defects" and "data" (its decoded bytes in base64).
    static QJsonObject Parse(const QByteArray &message);
    // The decoded bytes of one part of a Parse() result.
    static QByteArray PartData(const QJsonObject &parsed, int part);

    static QString ScriptPath();

private:
    QTemporaryDir folder;
    QProcess process;
    quint16 port = 0;
    QString error;
};
