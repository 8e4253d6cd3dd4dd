#include "platform/MessagePump.h"

#include <QCoreApplication>
#include <QThread>

void Sleep(unsigned milliseconds)
{
    QThread::msleep(milliseconds);
}

void ProcessMessages()
{
    QCoreApplication::processEvents();
}
