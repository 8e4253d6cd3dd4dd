#pragma once

#include <QByteArray>

#include <atomic>
#include <functional>
#include <thread>

// A TCP server on 127.0.0.1 (port 0, read back) that runs one session on its own thread with
// blocking POSIX sockets, so the client's waits on the GUI thread really wait. No read of the
// helpers waits more than a few seconds: a silent client ends the session, never hangs it.
class LoopbackServer
{
public:
    using Session = std::function<void(int fd)>;

    // receiveBuffer > 0 shrinks the accepted socket's receive buffer (set on the listener).
    explicit LoopbackServer(Session session, int receiveBuffer = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    quint16 Port() const { return port; }
    // True once the session has returned.
    bool Done() const { return done; }

    static void SendAll(int fd, const QByteArray &bytes);
    // Everything up to and including a read that ends with end; all until the peer closes or
    // falls silent for a few seconds when end is empty.
    static QByteArray ReadUntil(int fd, const QByteArray &end);
    static QByteArray ReadLine(int fd) { return ReadUntil(fd, "\n"); }
    static QByteArray ReadToEnd(int fd) { return ReadUntil(fd, {}); }
    // The close at the end of the session then resets the connection instead.
    static void Reset(int fd);

private:
    int listener = -1;
    quint16 port = 0;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::thread thread;
};

// A port on 127.0.0.1 where nobody accepts, so nothing leaves this machine. Refusing: bound
// only, connections are refused. Hanging: its backlog is full, so a connection is never
// completed and a connect waits until it is cancelled or timed out.
class DeadPort
{
public:
    enum Kind { Refusing, Hanging };
    explicit DeadPort(Kind kind);
    ~DeadPort();
    quint16 Port() const { return port; }

private:
    int fd = -1;
    int filler = -1;
    quint16 port = 0;
};
