#pragma once

#include "net/SocketClient.h"
#include "support/Failure.h"
#include "support/ScriptedSmtpServer.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

using S = ScriptedSmtpServer;

// Pumps events until the condition holds; a bound, not a measurement.
inline bool WaitFor(const std::function<bool()> &condition, int maxMs = 5000)
{
    for (int waited = 0; waited < maxMs && !condition(); waited += 2) {
        QThread::msleep(2);
        QCoreApplication::processEvents();
    }
    return condition();
}

// A client that records its events and status texts in one log, in order, and whose Abort
// cancels the running wait, as the SMTP client's does.
class RecordingClient : public SocketClient
{
public:
    RecordingClient()
    {
        Host = QStringLiteral("127.0.0.1");
        auto note = [this](const char *event) { return [this, event](QObject *) { Log << event; }; };
        OnConnect = note("OnConnect");
        OnDisconnect = note("OnDisconnect");
        OnHostResolved = note("OnHostResolved");
        OnConnectionFailed = note("OnConnectionFailed");
        OnError = [this](QObject *, quint16 n, const QString &text) {
            Log << QStringLiteral("OnError %1 %2").arg(n).arg(text);
        };
        OnStatus = [this](QObject *, const QString &status) { Log << "status " + status; };
    }
    ~RecordingClient() override { Destroy(); }

    void ConnectTo(quint16 port)
    {
        Port = port;
        Connect();
    }
    void Abort() override
    {
        Log << "Abort";
        if (CancelOnAbort)
            Cancel();
    }
    // Ends a wait that would hang on a fault with the abort error instead.
    void Guard(int ms = 5000)
    {
        CancelOnAbort = true;
        TimeOut = ms;
        TimerOn();
    }
    using SocketClient::TimerOff;
    using SocketClient::TimerOn;

    bool CancelOnAbort = false;
    QStringList Log;
};

// A port on 127.0.0.1 whose backlog is full: a connection to it is never completed.
class HangingPort
{
public:
    HangingPort()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(listener, 0);
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &size);
        port = ntohs(a.sin_port);
        ::connect(filler, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    ~HangingPort()
    {
        ::close(filler);
        ::close(listener);
    }
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    quint16 port = 0;
};
