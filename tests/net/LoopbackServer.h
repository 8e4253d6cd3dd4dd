#pragma once

#include <QByteArray>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

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
    // One line with its line feed; what was read so far when the peer closes or goes silent.
    static QByteArray ReadLine(int fd);
    // Everything up to and including the first occurrence of end (or all until silence).
    static QByteArray ReadUntil(int fd, const QByteArray &end);
    // Everything until the peer closes (or falls silent for a few seconds).
    static QByteArray ReadToEnd(int fd);
    // The close at the end of the session then resets the connection instead.
    static void Reset(int fd);

private:
    int listener = -1;
    quint16 port = 0;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::thread thread;
};

// A listener whose backlog is full: a connection to it is never completed, so a connect
// waits until it is cancelled or timed out. It stays on this machine.
class HangingListener
{
public:
    HangingListener();
    ~HangingListener();
    quint16 Port() const { return port; }

private:
    int listener = -1;
    std::vector<int> fillers;
    quint16 port = 0;
};

// A port on which nobody listens (bound, so nobody else takes it): connections are refused.
class RefusingPort
{
public:
    RefusingPort();
    ~RefusingPort();
    quint16 Port() const { return port; }

private:
    int fd = -1;
    quint16 port = 0;
};
