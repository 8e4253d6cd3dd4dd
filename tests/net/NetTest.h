#pragma once

#include "net/SocketClient.h"
#include "support/Failure.h"
#include "support/ScriptedSmtpServer.h"

#include <QCoreApplication>
#include <QThread>

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

// A client on 127.0.0.1 that logs its events, and whose Abort cancels the running wait as
// the SMTP client's does, so that a fault ends a wait with the abort error, not a hang.
class RecordingClient : public SocketClient
{
public:
    RecordingClient()
    {
        Host = QStringLiteral("127.0.0.1");
        OnConnect = [this](QObject *) { Log << "OnConnect"; };
        OnHostResolved = [this](QObject *) { Log << "OnHostResolved"; };
        TimeOut = 5000;
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
        Cancel();
    }
    using SocketClient::TimerOn;
    QStringList Log;
};
