#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class SocketWindow;

// Non-blocking IPv4 TCP sockets whose activity is posted as messages to a hidden window, with
// the meaning of the asynchronous socket notifications the socket client is written against:
//   read (1)     data waits; posted once, and again after the next Recv if more waits;
//   write (2)    once after connecting, then again only after a Send that would have blocked,
//                when space has freed up;
//   connect (16) a connection attempt ended; its error (0 = connected) in the high half;
//   close (32)   the peer closed (orderly: error 0) or reset the connection (error 10054);
//                over TLS also when the session ended (error 0) or broke (10053);
//   TLS (64)     the TLS handshake that StartTls began has ended; 0 = secured and verified.
// The message's word is the socket handle; its long holds the kind in the low 16 bits and the
// error in the high 16 bits. Handles are never reused, so a message about a socket that has
// since been closed can be told apart. Every call sets the thread's last error (GetLastError).

using TSocket = quintptr;
constexpr TSocket InvalidSocket = ~TSocket(0);
constexpr int SocketError = -1;

enum : long {
    FdRead = 1,
    FdWrite = 2,
    FdOob = 4,
    FdAccept = 8,
    FdConnect = 16,
    FdClose = 32,
    FdAll = 63,
    FdTls = 64,
};

// An IPv4 socket address: family 2, port and address in network order, 8 zero bytes.
struct TSockAddrIn
{
    quint16 Family = 0;
    quint16 Port = 0;
    quint32 Address = 0;
    char Zero[8] = {};
};

// What the start-up tells about the socket layer.
struct TWSAData
{
    quint16 Version = 0;
    quint16 HighVersion = 0;
    QString Description;
    QString SystemStatus;
    quint16 MaxSockets = 0;
    quint16 MaxUdpDg = 0;
};

// The result of a host look-up: the IPv4 addresses in network order, first one first.
struct THostEntry
{
    QString Name;
    QList<quint32> Addresses;
};

constexpr quint32 InaddrNone = 0xFFFFFFFFu;

namespace Winsock {

int Startup(quint16 version, TWSAData &data);
int Cleanup();

// family 2, type 1 (stream); protocol 0 or 6 (TCP). InvalidSocket on failure.
TSocket Socket(int family, int type, int protocol);
// Linger on with a zero time: closing resets the connection at once.
int SetLinger(TSocket s, bool on, int seconds);
// Asks for the notifications in events (0 switches them off), posted as message to window.
int AsyncSelect(TSocket s, SocketWindow *window, quint32 message, long events);
// Starts a connection; fails with "would block" (10035) while it is under way.
int Connect(TSocket s, const TSockAddrIn &address);
// Moves up to length bytes; never raises SIGPIPE. Send gives the count taken, Recv the
// count read (0 when the peer closed), or SocketError.
int Send(TSocket s, const char *buffer, int length);
int Recv(TSocket s, char *buffer, int length);
// Closes the socket, and with it its TLS session.
int CloseSocket(TSocket s);

// Begins TLS on a connected socket, verifying the certificate for host; the end of the
// handshake is posted as notification 64. From then on Send and Recv carry the plain text
// of the session; until then they would block.
int StartTls(TSocket s, const QString &host);
// Why the handshake failed, and whether the certificate was the reason.
QString TlsFailure(TSocket s, bool *certificate);

int GetLastError();

// A dotted IPv4 address in network order, or InaddrNone when the text is none.
quint32 InetAddr(const QByteArray &text);
quint16 Htons(quint16 value);

// Looks name up in the background; when done, entry is filled (first IPv4 address first)
// and message is posted to window with the request handle as word and the error (0, or
// 11001 and up) in the high half of the long. A name with no IPv4 address fails. Names under
// the reserved top-level domain "invalid" fail without asking any resolver. Returns the
// request handle.
quintptr AsyncGetHostByName(SocketWindow *window, quint32 message, const QString &name, THostEntry *entry);
// Forgets a running look-up: its completion is never posted and its entry never written.
int CancelAsyncRequest(quintptr handle);

} // namespace Winsock
