#include "net/SocketTimer.h"

#include "platform/Command.h"
#include "platform/Exception.h"

#include <QTimerEvent>

#include <limits>
#include <utility>

SocketTimer::SocketTimer(QObject *owner) : QObject(owner)
{}

SocketTimer::~SocketTimer()
{
    enabled = false;
    if (timerId != 0)
        killTimer(timerId);
}

void SocketTimer::SetEnabled(bool value)
{
    if (value == enabled)
        return;
    enabled = value;
    UpdateTimer();
}

void SocketTimer::SetInterval(quint32 value)
{
    if (value == interval)
        return;
    interval = value;
    UpdateTimer();
}

void SocketTimer::SetOnTimer(NotifyEvent value)
{
    onTimer = std::move(value);
    UpdateTimer();
}

void SocketTimer::UpdateTimer()
{
    if (timerId != 0) {
        killTimer(timerId);
        timerId = 0;
    }
    if (interval != 0 && enabled && onTimer) {
        // The event loop takes a signed interval; longer ones are refused like any other.
        if (interval <= quint32(std::numeric_limits<int>::max()))
            timerId = startTimer(int(interval), Qt::PreciseTimer);
        if (timerId == 0)
            throw Exception(QStringLiteral("No Timer"));
    }
}

void SocketTimer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != timerId || !onTimer)
        return;
    // Nobody called us, so a failure goes to the standard error box.
    NotifyEvent handler = onTimer;
    RunCommand([&] { handler(this); });
}
