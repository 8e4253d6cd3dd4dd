#include "platform/AsyncSocket.h"

#include "platform/MessageTarget.h"
#include "platform/TlsSession.h"
#include "platform/WinsockErrors.h"

#include <QHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <optional>

namespace {

thread_local int lastError = 0;

int Fail(int error)
{
    lastError = error;
    return SocketError;
}

int FailErrno()
{
    return Fail(WinsockError(errno));
}

// One open socket and the notifiers that turn its readiness into the notifications.
struct SocketState
{
    SocketId Handle = InvalidSocket;
    int Fd = -1;
    int Family = AF_INET;
    // The linger option set on the socket, set again when Connect moves it to another family.
    std::optional<linger> Linger;
    std::unique_ptr<QSocketNotifier> ReadNotifier;
    std::unique_ptr<QSocketNotifier> WriteNotifier;
    QPointer<MessageTarget> Target;
    quint32 Message = 0;
    long Events = 0;
    bool Connecting = false;
    bool Connected = false;
    // The peer's close was announced; nothing more is read for notifications.
    bool ClosePosted = false;
    // A send would have blocked: announce write when space frees up.
    bool WantWrite = false;
    // TLS: the session, whether its handshake runs and what it waits for, and a send that
    // waits for the peer's bytes (a key update) rather than for space.
    std::unique_ptr<TlsSession> Tls;
    bool Handshaking = false;
    TlsSession::Result HandshakeWaits = TlsSession::WantWrite;
    bool WriteWantsRead = false;

    ~SocketState()
    {
        ReadNotifier.reset();
        WriteNotifier.reset();
        Tls.reset(); // its close_notify still needs the socket
        if (Fd >= 0)
            ::close(Fd);
    }

    void Post(long kind, int error)
    {
        if (Target && (Events & kind))
            Target->Post(Message, Handle, qintptr(kind & 0xFFFF) | (qintptr(error & 0xFFFF) << 16));
    }

    // The read notifier watches for data or the peer's close once connected; the write
    // notifier for the end of a connection attempt or for space after a blocked send.
    // While a TLS handshake runs, each watches only when the handshake waits for it.
    void UpdateNotifiers()
    {
        bool on = Events != 0;
        bool handshakeReads = Handshaking && HandshakeWaits == TlsSession::WantRead;
        bool handshakeWrites = Handshaking && HandshakeWaits == TlsSession::WantWrite;
        ReadNotifier->setEnabled(on && Connected && !ClosePosted && (!Handshaking || handshakeReads));
        WriteNotifier->setEnabled(on && (Connecting || (Connected && (WantWrite || handshakeWrites))));
    }

    void DriveHandshake()
    {
        TlsSession::Result result = Tls->Handshake();
        if (result == TlsSession::WantRead || result == TlsSession::WantWrite) {
            HandshakeWaits = result;
        } else {
            Handshaking = false;
            // A failed session carries nothing more: no data or close is announced for it.
            ClosePosted = result != TlsSession::Done;
            Post(Notify::TlsDone, result == TlsSession::Done ? 0 : WsaError::TlsFailed);
            if (result == TlsSession::Done && Tls->Pending())
                Post(Notify::Read, 0);
        }
        UpdateNotifiers();
    }

    // The session ended or broke: announced once as the close of the connection.
    void TlsEnded(TlsSession::Result result)
    {
        if (!ClosePosted) {
            ClosePosted = true;
            Post(Notify::Close, result == TlsSession::Closed ? 0 : WsaError::ConnAborted);
        }
        UpdateNotifiers();
    }

    void OnReadable()
    {
        ReadNotifier->setEnabled(false);
        if (Handshaking) {
            DriveHandshake();
            return;
        }
        if (WriteWantsRead) {
            WriteWantsRead = false;
            Post(Notify::Write, 0);
        }
        char byte;
        ssize_t n = ::recv(Fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            // Announced once; the next Recv watches again.
            Post(Notify::Read, 0);
        } else if (n == 0) {
            ClosePosted = true;
            Post(Notify::Close, 0);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            ReadNotifier->setEnabled(true);
        } else {
            ClosePosted = true;
            Post(Notify::Close, WinsockError(errno));
        }
    }

    void OnWritable()
    {
        WriteNotifier->setEnabled(false);
        if (Handshaking) {
            DriveHandshake();
        } else if (Connecting) {
            Connecting = false;
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(Fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                error = errno;
            Post(Notify::Connect, WinsockError(error));
            if (error == 0)
                Established();
        } else if (WantWrite) {
            WantWrite = false;
            Post(Notify::Write, 0);
        }
        UpdateNotifiers();
    }

    void Established()
    {
        Connected = true;
        Post(Notify::Write, 0);
    }
};

QHash<SocketId, SocketState *> &Sockets()
{
    static QHash<SocketId, SocketState *> sockets;
    return sockets;
}

SocketId nextSocket = 1;
int startups = 0;

SocketState *Find(SocketId s)
{
    SocketState *state = Sockets().value(s, nullptr);
    if (!state)
        lastError = WsaError::NotSocket;
    return state;
}

QSet<quintptr> &LiveLookups()
{
    static QSet<quintptr> lookups;
    return lookups;
}

quintptr nextLookup = 1;

bool IsReservedInvalidName(QString name)
{
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name.compare(QLatin1String("invalid"), Qt::CaseInsensitive) == 0 ||
           name.endsWith(QLatin1String(".invalid"), Qt::CaseInsensitive);
}

int SendTls(SocketState *state, const char *buffer, int length)
{
    if (state->Handshaking)
        return Fail(WsaError::WouldBlock);
    TlsSession::Result result;
    int n = state->Tls->Write(buffer, length, result);
    if (n >= 0) {
        lastError = 0;
        return n;
    }
    if (result == TlsSession::WantWrite) {
        state->WantWrite = true;
        state->UpdateNotifiers();
    } else if (result == TlsSession::WantRead) {
        state->WriteWantsRead = true;
    } else {
        state->TlsEnded(result);
        return Fail(result == TlsSession::Closed ? WsaError::Shutdown : WsaError::ConnAborted);
    }
    return Fail(WsaError::WouldBlock);
}

int RecvTls(SocketState *state, char *buffer, int length)
{
    if (state->Handshaking)
        return Fail(WsaError::WouldBlock);
    TlsSession::Result result;
    int n = state->Tls->Read(buffer, length, result);
    if (n > 0) {
        // What the caller did not take of a record waits inside the session, where no
        // socket notification sees it: it is announced here, whatever the caller reads at
        // a time.
        if (state->Tls->Pending())
            state->Post(Notify::Read, 0);
        state->UpdateNotifiers();
        lastError = 0;
        return n;
    }
    if (result == TlsSession::WantRead || result == TlsSession::WantWrite) {
        state->UpdateNotifiers();
        return Fail(WsaError::WouldBlock);
    }
    state->TlsEnded(result);
    if (result == TlsSession::Closed) {
        lastError = 0;
        return 0; // an orderly end reads like the peer's close of a plain socket
    }
    return Fail(WsaError::ConnAborted);
}

// Gives the state a fresh non-blocking TCP socket of the family, with its notifiers (off),
// in place of the one it had. False, with errno set, when none can be made.
bool OpenDescriptor(SocketState &state, int family)
{
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return false;
    // The client writes a command or a piece of the message and then waits for the
    // server; with Nagle's delay a write behind an unacknowledged one would wait for the
    // server's delayed acknowledgement (40 ms on Linux) first.
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    // Left to itself the kernel grows the send buffer to megabytes on a fast link: a whole
    // picture mail would be "sent" at once, the progress would show what the kernel holds
    // rather than what the server took, and a server that stops reading would go unnoticed
    // until the buffer drained. A quarter of a megabyte still fills any link a phone mail
    // goes over.
    const int sendBuffer = 256 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    if (state.Linger)
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &*state.Linger, sizeof *state.Linger);
    state.ReadNotifier.reset();
    state.WriteNotifier.reset();
    if (state.Fd >= 0)
        ::close(state.Fd);
    state.Fd = fd;
    state.Family = family;
    state.ReadNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    state.WriteNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    state.ReadNotifier->setEnabled(false);
    state.WriteNotifier->setEnabled(false);
    const SocketId handle = state.Handle;
    // The notifiers outlive no state: they are destroyed with it, so the handle look-up
    // only guards against a state closed by an earlier notification of the same pass.
    QObject::connect(state.ReadNotifier.get(), &QSocketNotifier::activated, [handle] {
        if (SocketState *s = Sockets().value(handle, nullptr))
            s->OnReadable();
    });
    QObject::connect(state.WriteNotifier.get(), &QSocketNotifier::activated, [handle] {
        if (SocketState *s = Sockets().value(handle, nullptr))
            s->OnWritable();
    });
    return true;
}

// The socket address of address and port; false for a zone that names no interface.
bool SocketAddressOf(const QHostAddress &address, quint16 port, sockaddr_storage &storage, socklen_t &size)
{
    storage = {};
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *in = reinterpret_cast<sockaddr_in *>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        size = sizeof *in;
        return true;
    }
    auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
    size = sizeof *in6;
    const QString zone = address.scopeId();
    if (zone.isEmpty())
        return true;
    bool number = false;
    in6->sin6_scope_id = zone.toUInt(&number);
    if (!number)
        in6->sin6_scope_id = ::if_nametoindex(zone.toLocal8Bit().constData());
    return in6->sin6_scope_id != 0;
}

const QHash<QString, QList<QHostAddress>> *answeredHosts = nullptr;

} // namespace

std::optional<QHostAddress> ServerAddressLiteral(const QString &server)
{
    const bool bracketed = server.startsWith(QLatin1Char('[')) && server.endsWith(QLatin1Char(']'));
    const QString bare = bracketed ? server.mid(1, server.size() - 2) : server;
    const quint32 ipv4 = Winsock::InetAddr(bare.toLatin1());
    if (ipv4 != NotAnAddress)
        return QHostAddress(ntohl(ipv4));
    QHostAddress ipv6;
    if (bare.contains(QLatin1Char(':')) && ipv6.setAddress(bare) && ipv6.protocol() == QAbstractSocket::IPv6Protocol)
        return ipv6;
    return std::nullopt;
}

namespace Winsock {

int Startup(quint16 version, SocketLayerInfo &data)
{
    ++startups;
    data.Version = version;
    data.HighVersion = 0x0101;
    data.Description = QStringLiteral("POSIX TCP/IP sockets");
    data.SystemStatus = QStringLiteral("Running");
    rlimit limit{};
    rlim_t files = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
    data.MaxSockets = files > 0xFFFF ? 0xFFFF : quint16(files);
    data.MaxUdpDg = 65507;
    lastError = 0;
    return 0;
}

int Cleanup()
{
    if (startups == 0)
        return Fail(10093);
    --startups;
    return 0;
}

SocketId Socket(int family, int type, int protocol)
{
    if ((family != AF_INET && family != AF_INET6) || type != SOCK_STREAM ||
        (protocol != 0 && protocol != IPPROTO_TCP)) {
        Fail(family != AF_INET && family != AF_INET6 ? WsaError::AddressFamily : 10044);
        return InvalidSocket;
    }
    auto state = std::make_unique<SocketState>();
    state->Handle = nextSocket++;
    if (!OpenDescriptor(*state, family)) {
        FailErrno();
        return InvalidSocket;
    }
    SocketId handle = state->Handle;
    Sockets().insert(handle, state.release());
    lastError = 0;
    return handle;
}

int SetLinger(SocketId s, bool on, int seconds)
{
    SocketState *state = Find(s);
    if (!state)
        return SocketError;
    linger value{on ? 1 : 0, seconds};
    if (::setsockopt(state->Fd, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0)
        return FailErrno();
    state->Linger = value;
    return 0;
}

int AsyncSelect(SocketId s, MessageTarget *target, quint32 message, long events)
{
    SocketState *state = Find(s);
    if (!state)
        return SocketError;
    state->Target = target;
    state->Message = message;
    state->Events = target ? events : 0;
    state->UpdateNotifiers();
    return 0;
}

int Connect(SocketId s, const QHostAddress &address, quint16 port)
{
    SocketState *state = Find(s);
    if (!state)
        return SocketError;
    if (state->Connected)
        return Fail(WsaError::IsConnected);
    if (state->Connecting)
        return Fail(WsaError::Already);
    sockaddr_storage peer{};
    socklen_t size = 0;
    if (address.protocol() != QAbstractSocket::IPv4Protocol && address.protocol() != QAbstractSocket::IPv6Protocol)
        return Fail(WsaError::AddressFamily);
    if (!SocketAddressOf(address, port, peer, size))
        return Fail(WsaError::NoSuchInterface);
    if (peer.ss_family != state->Family) {
        if (!OpenDescriptor(*state, peer.ss_family))
            return FailErrno();
        state->UpdateNotifiers();
    }
    if (::connect(state->Fd, reinterpret_cast<const sockaddr *>(&peer), size) == 0) {
        state->Post(Notify::Connect, 0);
        state->Established();
        state->UpdateNotifiers();
        lastError = 0;
        return 0;
    }
    if (errno == EINPROGRESS) {
        state->Connecting = true;
        state->UpdateNotifiers();
        return Fail(WsaError::WouldBlock);
    }
    return FailErrno();
}

int Send(SocketId s, const char *buffer, int length)
{
    SocketState *state = Find(s);
    if (!state)
        return SocketError;
    if (length < 0)
        return Fail(WsaError::Invalid);
    if (state->Tls)
        return SendTls(state, buffer, length);
    ssize_t n = ::send(state->Fd, buffer, size_t(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            state->WantWrite = true;
            state->UpdateNotifiers();
        }
        return FailErrno();
    }
    lastError = 0;
    return int(n);
}

int Recv(SocketId s, char *buffer, int length)
{
    SocketState *state = Find(s);
    if (!state)
        return SocketError;
    if (length < 0)
        return Fail(WsaError::Invalid);
    if (state->Tls)
        return RecvTls(state, buffer, length);
    ssize_t n = ::recv(state->Fd, buffer, size_t(length), MSG_DONTWAIT);
    int error = n < 0 ? errno : 0;
    // A receive lets the socket announce data (or the close) again.
    state->UpdateNotifiers();
    if (n < 0)
        return Fail(WinsockError(error));
    lastError = 0;
    return int(n);
}

int CloseSocket(SocketId s)
{
    SocketState *state = Find(s);
    if (!state)
        return SocketError;
    Sockets().remove(s);
    delete state;
    lastError = 0;
    return 0;
}

int StartTls(SocketId s, const QString &host)
{
    SocketState *state = Find(s);
    if (!state)
        return SocketError;
    if (!state->Connected || state->Tls)
        return Fail(WsaError::Invalid);
    state->Tls = std::make_unique<TlsSession>(state->Fd, host);
    state->Handshaking = true;
    // The first step (the client's hello) runs from the event loop, as every later one.
    state->HandshakeWaits = TlsSession::WantWrite;
    state->UpdateNotifiers();
    lastError = 0;
    return 0;
}

QString TlsFailure(SocketId s, bool *certificate)
{
    SocketState *state = Find(s);
    const bool rejected = state && state->Tls && state->Tls->CertificateRejected();
    if (certificate)
        *certificate = rejected;
    return state && state->Tls ? state->Tls->Reason() : QString();
}

int GetLastError()
{
    return lastError;
}

quint32 InetAddr(const QByteArray &text)
{
    return ::inet_addr(text.constData());
}

quintptr AsyncGetHostByName(MessageTarget *target, quint32 message, const QString &name, HostAddresses *entry)
{
    quintptr handle = nextLookup++;
    LiveLookups().insert(handle);
    QPointer<MessageTarget> targetIfAlive(target);
    auto finish = [handle, targetIfAlive, message, entry](int error, const QString &hostName,
                                                          const QList<QHostAddress> &list) {
        if (!LiveLookups().remove(handle))
            return;
        if (error == 0) {
            entry->Name = hostName;
            entry->Addresses = list;
        }
        if (targetIfAlive)
            targetIfAlive->Post(message, handle, qintptr(error & 0xFFFF) << 16);
    };
    if (IsReservedInvalidName(name) || (answeredHosts && answeredHosts->contains(name))) {
        // RFC 6761: such names never resolve, so no resolver is asked; nor is it for a name
        // of the list.
        const QList<QHostAddress> list = answeredHosts ? answeredHosts->value(name) : QList<QHostAddress>();
        QMetaObject::invokeMethod(
            target, [finish, name, list] { finish(list.isEmpty() ? WsaError::HostNotFound : 0, name, list); },
            Qt::QueuedConnection);
        return handle;
    }
    // QHostInfo asks getaddrinfo for any family (with AI_ADDRCONFIG: no IPv6 address where the
    // machine has no IPv6 of its own) and keeps the resolver's order, which the client tries.
    QHostInfo::lookupHost(name, target, [finish](const QHostInfo &info) {
        if (info.error() != QHostInfo::NoError) {
            finish(info.error() == QHostInfo::HostNotFound ? WsaError::HostNotFound : WsaError::NoRecovery,
                   info.hostName(), {});
            return;
        }
        const QList<QHostAddress> list = info.addresses();
        finish(list.isEmpty() ? WsaError::NoData : 0, info.hostName(), list);
    });
    lastError = 0;
    return handle;
}

void AnswerLookupsFrom(const QHash<QString, QList<QHostAddress>> *hosts)
{
    answeredHosts = hosts;
}

int CancelAsyncRequest(quintptr handle)
{
    if (!LiveLookups().remove(handle))
        return Fail(WsaError::Invalid);
    return 0;
}

} // namespace Winsock
