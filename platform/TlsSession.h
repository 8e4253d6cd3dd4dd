#pragma once

#include <QString>

typedef struct ssl_st SSL;

// The client side of TLS on a connected non-blocking socket, with OpenSSL. The server's
// certificate is verified against the system's store (OpenSSL's default paths, so
// SSL_CERT_FILE and SSL_CERT_DIR apply) and checked against the host: a name (also sent as
// SNI), or the address connected to when the host is written as an address. A host that
// gives neither fails the session before anything is sent. Nothing older than TLS 1.2 is
// spoken; there is no way to switch any of it off.
// Every call returns at once: the caller waits for the socket to become readable or
// writable, as the last result asks, and calls again.
class TlsSession
{
public:
    enum Result { Done, WantRead, WantWrite, Closed, Failed };

    TlsSession(int fd, const QString &host);
    ~TlsSession();
    TlsSession(const TlsSession &) = delete;
    TlsSession &operator=(const TlsSession &) = delete;

    // Advances the handshake.
    Result Handshake();
    // Like recv and send on the plain socket: the count moved, or -1 with result saying why
    // (Closed: the peer ended the session or the connection).
    int Read(char *buffer, int length, Result &result);
    int Write(const char *buffer, int length, Result &result);
    // Decrypted bytes wait inside the session, where no socket notification sees them.
    bool Pending() const;

    // Why the handshake failed, and whether it was the certificate.
    QString Reason() const { return reason; }
    bool CertificateRejected() const { return certificateRejected; }

private:
    Result Outcome(int returned);

    SSL *ssl = nullptr;
    QString reason;
    bool certificateRejected = false;
};
