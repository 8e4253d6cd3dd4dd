#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real SMTP server for tests: aiosmtpd (Debian's python3-aiosmtpd) run by
// smtp_sink.py on a free port of 127.0.0.1 for as long as this object lives. What it
// receives is kept in a temporary folder and read back with Messages(). Besides the plain
// server it can require STARTTLS or speak TLS from the first byte, with a certificate of the
// test CA, and then takes the logins that smtp_sink.py lists ("kelvo" with "secret").
class SmtpSink
{
public:
    enum Mode { Plain, StartTls, Tls };

    struct Message
    {
        QByteArray From;        // envelope sender (MAIL FROM)
        QList<QByteArray> Rcpt; // envelope recipients (RCPT TO), in order
        QByteArray Helo;        // the name given with HELO
        QByteArray Login;       // the user that logged in, UTF-8
        QByteArray Data;        // the message as received, dot-stuffing undone
    };

    // certificate: "good" (localhost and 127.0.0.1), "other" (another host's) or "unknown"
    // (signed by a CA nobody trusts).
    explicit SmtpSink(Mode mode = Plain, const QString &certificate = QStringLiteral("good"));
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
    // The folder of the test CA and its server certificates (stem.pem, stem.key), made once
    // per test program with the openssl command line. SSL_CERT_FILE then names the CA, so
    // that the program's TLS trusts it, as it would a system one.
    static QString Certificates();

private:
    QTemporaryDir folder;
    QProcess process;
    quint16 port = 0;
    QString error;
};
