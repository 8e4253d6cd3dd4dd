#pragma once

#include "net/SocketEvents.h"

#include <QObject>

// The time-out timer of the socket client, a timer of the GUI thread's event loop. It runs while Enabled is true,
// Interval is not 0 and OnTimer is set, and calls OnTimer every Interval milliseconds until disabled. Changing any of
// the three re-arms it.
class SocketTimer : public QObject
{
    Q_OBJECT
public:
    explicit SocketTimer(QObject *owner = nullptr);
    ~SocketTimer() override;

    bool Enabled() const { return enabled; }
    void SetEnabled(bool value);
    quint32 Interval() const { return interval; }
    void SetInterval(quint32 value);
    const NotifyEvent &OnTimer() const { return onTimer; }
    void SetOnTimer(NotifyEvent value);

    // True while a platform timer is running.
    bool Running() const { return timerId != 0; }

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void UpdateTimer();

    bool enabled = true;
    quint32 interval = 1000;
    NotifyEvent onTimer;
    int timerId = 0;
};
