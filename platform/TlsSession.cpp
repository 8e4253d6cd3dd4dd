#include "platform/TlsSession.h"

#include "platform/AsyncSocket.h"

#include <QUrl>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// OpenSSL's own socket BIO writes with write(2), and writing to a connection the peer has
// closed raises SIGPIPE, which ends the program. This one moves the bytes with send and
// MSG_NOSIGNAL, as every other send of the socket layer does.
int SocketOf(BIO *bio)
{
    return int(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

bool Transient(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

int BioWrite(BIO *bio, const char *data, int length)
{
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::send(SocketOf(bio), data, size_t(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && Transient(errno))
        BIO_set_retry_write(bio);
    return int(n);
}

int BioRead(BIO *bio, char *data, int length)
{
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::recv(SocketOf(bio), data, size_t(length), MSG_DONTWAIT);
    if (n < 0 && Transient(errno))
        BIO_set_retry_read(bio);
    return int(n);
}

long BioControl(BIO *, int command, long, void *)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD *SocketMethod()
{
    static BIO_METHOD *method = [] {
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kelvo socket");
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_ctrl(m, BioControl);
        return m;
    }();
    return method;
}

// Tells the session what the server's certificate must name; false when that cannot be set.
// The socket client connects to a host written as an address without a look-up, reading an
// IPv4 one as inet_addr does, which takes "127.1", "2130706433" and "127.0.0.1 x" alike for
// 127.0.0.1, and an IPv6 one with or without brackets and zone: so the address checked is the
// one the socket is connected to, whatever the text. A name is checked (and sent as SNI) in
// its ASCII form, as DNS and certificates hold it; text that has none is no name. Only the
// names the certificate lists count, and a wildcard only as a whole label: a CN is no
// statement about a host, and "m*.example.jp" would cover far more than its owner may have
// meant.
bool ExpectPeer(SSL *ssl, int fd, const QString &host)
{
    if (ServerAddressLiteral(host)) {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        char text[INET6_ADDRSTRLEN] = {};
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) != 0)
            return false;
        const void *address = peer.ss_family == AF_INET6
                                  ? static_cast<const void *>(&reinterpret_cast<sockaddr_in6 *>(&peer)->sin6_addr)
                                  : static_cast<const void *>(&reinterpret_cast<sockaddr_in *>(&peer)->sin_addr);
        return (peer.ss_family == AF_INET || peer.ss_family == AF_INET6) &&
               ::inet_ntop(peer.ss_family, address, text, sizeof text) &&
               X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), text) == 1;
    }
    const QByteArray name = QUrl::toAce(host);
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT | X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return !name.isEmpty() && SSL_set_tlsext_host_name(ssl, name.constData()) == 1 &&
           SSL_set1_host(ssl, name.constData()) == 1;
}

QString LastLibraryError()
{
    const unsigned long error = ERR_peek_last_error();
    const char *text = error ? ERR_reason_error_string(error) : nullptr;
    return text ? QString::fromLatin1(text) : QStringLiteral("TLS error");
}

} // namespace

TlsSession::TlsSession(int fd, const QString &host)
{
    ERR_clear_error();
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    if (!context) {
        reason = LastLibraryError();
        return;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(context);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    // A send that would block is retried by the socket client from its queue, which may
    // have moved in memory meanwhile; partial writes let progress count record by record.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    ssl = SSL_new(context);
    SSL_CTX_free(context); // the session keeps its own reference
    BIO *bio = ssl ? BIO_new(SocketMethod()) : nullptr;
    if (!bio) {
        reason = LastLibraryError();
        SSL_free(ssl);
        ssl = nullptr;
        return;
    }
    BIO_set_data(bio, reinterpret_cast<void *>(std::intptr_t(fd)));
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    if (!ExpectPeer(ssl, fd, host)) {
        // Without a name or an address to check, any certificate of a trusted CA would do.
        reason = QStringLiteral("no host name or address to check the certificate against");
        certificateRejected = true;
        SSL_free(ssl);
        ssl = nullptr;
        return;
    }
    SSL_set_connect_state(ssl);
}

TlsSession::~TlsSession()
{
    if (!ssl)
        return;
    // A close_notify when the session is sound; after a fatal error OpenSSL forbids it.
    if (SSL_is_init_finished(ssl) && reason.isEmpty())
        SSL_shutdown(ssl);
    SSL_free(ssl);
}

TlsSession::Result TlsSession::Outcome(int returned)
{
    switch (SSL_get_error(ssl, returned)) {
    case SSL_ERROR_WANT_READ:
        return WantRead;
    case SSL_ERROR_WANT_WRITE:
        return WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        reason = QStringLiteral("the server ended the TLS session");
        return Closed;
    case SSL_ERROR_SYSCALL:
        if (ERR_peek_last_error() == 0) {
            const int error = errno;
            reason = returned == 0 || error == 0 ? QStringLiteral("connection closed by the server")
                                                 : QString::fromLocal8Bit(std::strerror(error));
            return Closed;
        }
        [[fallthrough]];
    default:
        reason = LastLibraryError();
        return Failed;
    }
}

TlsSession::Result TlsSession::Handshake()
{
    if (!ssl)
        return Failed;
    ERR_clear_error();
    const int returned = SSL_do_handshake(ssl);
    if (returned == 1)
        return Done;
    const Result result = Outcome(returned);
    if (result == Closed || result == Failed) {
        const long verify = SSL_get_verify_result(ssl);
        if (verify != X509_V_OK) {
            certificateRejected = true;
            reason = QString::fromLatin1(X509_verify_cert_error_string(verify));
        }
    }
    return result;
}

int TlsSession::Read(char *buffer, int length, Result &result)
{
    ERR_clear_error();
    const int n = ssl ? SSL_read(ssl, buffer, length) : -1;
    result = n > 0 ? Done : ssl ? Outcome(n) : Failed;
    return n > 0 ? n : -1;
}

int TlsSession::Write(const char *buffer, int length, Result &result)
{
    ERR_clear_error();
    const int n = ssl ? SSL_write(ssl, buffer, length) : -1;
    result = n > 0 ? Done : ssl ? Outcome(n) : Failed;
    return n > 0 ? n : -1;
}

bool TlsSession::Pending() const
{
    return ssl && SSL_pending(ssl) > 0;
}
