#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <optional>

class MessageTarget;

// Non-blocking TCP sockets, over IPv4 or IPv6, whose activity is posted as messages to a
// MessageTarget.
// The interface keeps the shape of Winsock's asynchronous sockets (its calls, its error
// numbers, its notification kinds), which the socket client is written against: the error
// numbers reach the texts users read ("10061:Connection refused"). The notifications:
//   read (1)     data waits; posted once, and again after the next Recv if more waits;
//   write (2)    once after connecting, then again only after a Send that would have blocked,
//                when space has freed up;
//   connect (16) a connection attempt ended; its error (0 = connected) in the high half;
//   close (32)   the peer closed (orderly: error 0) or reset the connection (error 10054);
//                over TLS also when the session ended (error 0) or broke (10053);
//   TLS (64)     the TLS handshake that StartTls began has ended; 0 = secured and verified.
// The message's word is the socket's id; its long holds the kind in the low 16 bits and the
// error in the high 16 bits. Ids are never reused, so a message about a socket that has
// since been closed can be told apart. Every call sets the thread's last error (GetLastError).

using SocketId = quintptr;
constexpr SocketId InvalidSocket = ~SocketId(0);
constexpr int SocketError = -1;

// The kinds of notification, one bit each, as AsyncSelect asks for them.
namespace Notify {
enum : long {
    Read = 1,
    Write = 2,
    OutOfBand = 4,
    Accept = 8,
    Connect = 16,
    Close = 32,
    AllSocketKinds = 63,
    TlsDone = 64,
};
} // namespace Notify

// What the start-up tells about the socket layer.
struct SocketLayerInfo
{
    quint16 Version = 0;
    quint16 HighVersion = 0;
    QString Description;
    QString SystemStatus;
    quint16 MaxSockets = 0;
    quint16 MaxUdpDg = 0;
};

// The result of a host look-up: its addresses, IPv4 and IPv6, in the order the resolver gave.
struct HostAddresses
{
    QString Name;
    QList<QHostAddress> Addresses;
};

constexpr quint32 NotAnAddress = 0xFFFFFFFFu;

// The address a server is given as, when it is one rather than a name: IPv4 in any form
// inet_addr reads ("127.1" too; all ones is none, as inet_addr has it), or IPv6, bare or in
// brackets ("::1", "[::1]"), with its zone if it has one ("fe80::1%eth0"). Nothing for a name.
std::optional<QHostAddress> ServerAddressLiteral(const QString &server);

namespace Winsock {

int Startup(quint16 version, SocketLayerInfo &data);
int Cleanup();

// family 2 (IPv4) or AF_INET6, type 1 (stream); protocol 0 or 6 (TCP). InvalidSocket on
// failure. The family is only where the socket starts: Connect moves a socket that has not
// connected yet to the family of the address it is given.
SocketId Socket(int family, int type, int protocol);
// Linger on with a zero time: closing resets the connection at once.
int SetLinger(SocketId s, bool on, int seconds);
// Asks for the notifications in events (0 switches them off), posted as message to target.
int AsyncSelect(SocketId s, MessageTarget *target, quint32 message, long events);
// Starts a connection to address (an IPv6 one may carry its zone, a network interface's name
// or number) and port; fails with "would block" (10035) while it is under way, and with
// NoSuchInterface for a zone that names no interface of this machine.
int Connect(SocketId s, const QHostAddress &address, quint16 port);
// Moves up to length bytes; never raises SIGPIPE. Send gives the count taken, Recv the
// count read (0 when the peer closed), or SocketError.
int Send(SocketId s, const char *buffer, int length);
int Recv(SocketId s, char *buffer, int length);
// Closes the socket, and with it its TLS session.
int CloseSocket(SocketId s);

// Begins TLS on a connected socket, verifying the certificate for host; the end of the
// handshake is posted as notification 64. From then on Send and Recv carry the plain text
// of the session; until then they would block.
int StartTls(SocketId s, const QString &host);
// Why the handshake failed, and whether the certificate was the reason.
QString TlsFailure(SocketId s, bool *certificate);

int GetLastError();

// A dotted IPv4 address in network order, or NotAnAddress when the text is none.
quint32 InetAddr(const QByteArray &text);

// Looks name up in the background (getaddrinfo for any family, through QHostInfo); when done,
// entry is filled with every address in the resolver's order and message is posted to target
// with the request handle as word and the error (0, or 11001 and up) in the high half of the
// long. A name with no address fails. Names under the reserved top-level domain "invalid" fail
// without asking any resolver. Returns the request handle.
quintptr AsyncGetHostByName(MessageTarget *target, quint32 message, const QString &name, HostAddresses *entry);
// Names answered from this list rather than by the resolver, in the same way and the list's
// order, while the list lives (nullptr: none). Tests give a name addresses this way without
// touching the machine's resolver.
void AnswerLookupsFrom(const QHash<QString, QList<QHostAddress>> *hosts);
// Forgets a running look-up: its completion is never posted and its entry never written.
int CancelAsyncRequest(quintptr handle);

} // namespace Winsock
