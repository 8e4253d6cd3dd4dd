#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int SilenceMs = 5000;

int BoundSocket(quint16 &port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    port = ntohs(address.sin_port);
    return fd;
}

bool Readable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

} // namespace

LoopbackServer::LoopbackServer(Session session, int receiveBuffer)
{
    listener = BoundSocket(port);
    if (receiveBuffer > 0)
        ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    ::listen(listener, 4);
    thread = std::thread([this, session] {
        while (!stop) {
            if (!Readable(listener, 20))
                continue;
            int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0)
                break;
            session(fd);
            ::close(fd);
            break;
        }
        done = true;
    });
}

LoopbackServer::~LoopbackServer()
{
    stop = true;
    thread.join();
    ::close(listener);
}

void LoopbackServer::SendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += n;
    }
}

QByteArray LoopbackServer::ReadUntil(int fd, const QByteArray &end)
{
    QByteArray all;
    char buffer[65536];
    ssize_t n;
    // A line is read byte by byte so that nothing after it is taken.
    const size_t size = end == "\n" ? 1 : sizeof buffer;
    while ((end.isEmpty() || !all.endsWith(end)) && Readable(fd, SilenceMs) && (n = ::recv(fd, buffer, size, 0)) > 0)
        all.append(buffer, n);
    return all;
}

void LoopbackServer::Reset(int fd)
{
    linger value{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &value, sizeof value);
}

DeadPort::DeadPort(Kind kind)
{
    fd = BoundSocket(port);
    if (kind == Refusing)
        return;
    ::listen(fd, 0);
    // One connection fills the backlog; it is never accepted, so the next one hangs.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
}

DeadPort::~DeadPort()
{
    if (filler >= 0)
        ::close(filler);
    ::close(fd);
}
