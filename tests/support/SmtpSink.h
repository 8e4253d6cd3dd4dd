#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real SMTP server: aiosmtpd, run by smtp_sink.py on a free port of the address while this
// object lives, in the clear, with STARTTLS or with TLS from the first byte (a certificate of
// the test CA), taking the logins smtp_sink.py lists ("kelvo" with "secret"). OAuth adds an
// OAuth2 provider over HTTPS whose tokens the server takes with XOAUTH2 and OAUTHBEARER
// (STARTTLS): see smtp_sink.py's oauth command.
class SmtpSink
{
public:
    enum Mode { Plain, StartTls, Tls, OAuth };

    struct Message
    {
        QList<QByteArray> Rcpt; // RCPT TO, in order
        QByteArray Helo;        // the name given with HELO or EHLO
        QByteArray Login;       // the user that logged in, UTF-8
        QByteArray Mechanism;   // of a sign-in with a token: XOAUTH2 or OAUTHBEARER
        QByteArray Token;       // and the token
        QByteArray Data;        // the message, dot-stuffing undone
    };

    // certificate: "good" (localhost, 127.0.0.1, ::1), "other" (another host's), "unknown" (of a CA nobody trusts),
    // "cnonly" (localhost only as the subject's CN) or "partial" (the partial wildcard m*.kelvo.test).
    explicit SmtpSink(Mode mode = Plain, const QString &certificate = QStringLiteral("good"),
                      const QString &address = QStringLiteral("127.0.0.1"));
    ~SmtpSink();

    // 0 when the server could not be started; Error() says why.
    quint16 Port() const { return port; }
    // The provider's HTTPS port, in OAuth mode; and a command to it ("set state wrong",
    // "get token_requests", "revoke"), answered with a line.
    quint16 HttpsPort() const { return httpsPort; }
    QByteArray Control(const QByteArray &command);
    QString Error() const { return error; }

    // The messages received so far; or, pumping events for a few seconds at most, once count came.
    QList<Message> Messages() const;
    QList<Message> WaitForMessages(int count) const;

    // Reads a message with Python's email package as a mail program of today does: "subject",
    // "from", "to", "date" (seconds since 1970), "message_id", "plain_filename", "longest" (raw
    // line), "header_ascii", "defects", and "parts", each leaf part's "charset", "filename" and
    // "text" (LF line ends) or "data" (base64).
    static QJsonObject Parse(const QByteArray &message);

    // The folder of the test CA and its server certificates (stem.pem, stem.key), made once
    // per program with the openssl command line; SSL_CERT_FILE then names the CA.
    static QString Certificates();

private:
    QTemporaryDir folder;
    QProcess process;
    quint16 port = 0, httpsPort = 0;
    QString error;
};
