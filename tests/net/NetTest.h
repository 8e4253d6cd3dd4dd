#pragma once

#include "net/SocketClient.h"
#include "support/Failure.h"
#include "support/ScriptedSmtpServer.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

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

// A client that logs its events in order, and whose Abort can cancel the running wait, as
// the SMTP client's does.
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
    using SocketClient::TimerOn;

    bool CancelOnAbort = false;
    QStringList Log;
};
