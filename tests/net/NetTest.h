#pragma once

#include "net/SocketClient.h"
#include "platform/MsgBox.h"
#include "support/Failure.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

// Pumps events until the condition holds; a bound, not a measurement: tests assert on the
// condition afterwards.
inline bool WaitFor(const std::function<bool()> &condition, int maxMs = 5000)
{
    for (int waited = 0; waited < maxMs && !condition(); waited += 2) {
        QThread::msleep(2);
        QCoreApplication::processEvents();
    }
    return condition();
}

// A client that records its events and status texts in one log, in order, and whose Abort
// can act like the SMTP client's (cancel the running wait).
class RecordingClient : public SocketClient
{
public:
    RecordingClient()
    {
        Host = QStringLiteral("127.0.0.1");
        OnConnect = [this](QObject *) { Log << "OnConnect"; };
        OnDisconnect = [this](QObject *) { Log << "OnDisconnect"; };
        OnHostResolved = [this](QObject *) { Log << "OnHostResolved"; };
        OnConnectionFailed = [this](QObject *) { Log << "OnConnectionFailed"; };
        OnError = [this](QObject *, quint16 number, const QString &text) {
            Log << QStringLiteral("OnError %1 %2").arg(number).arg(text);
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

    // Ends a wait that would hang on a fault with the abort error instead, the way the SMTP
    // client's reply time-out does.
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
