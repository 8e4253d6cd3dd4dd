#include "platform/MessagePump.h"

#include <QCoreApplication>
#include <QTimer>

void WaitForEvents(unsigned milliseconds)
{
    // The timer bounds the wait: the event loop returns after handling whatever came
    // first, the timer's own event at the latest.
    QTimer bound;
    bound.setSingleShot(true);
    bound.start(static_cast<int>(milliseconds));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void ProcessPendingEvents()
{
    QCoreApplication::processEvents();
}
