#include "platform/EventWait.h"

#include "platform/InputBlock.h"

#include <QList>

#include <optional>

namespace {

QList<EventWait *> &Running()
{
    static QList<EventWait *> running;
    return running;
}

} // namespace

EventWait::EventWait(int timeoutMs, bool blockInput) : blockInput(blockInput)
{
    bound.setSingleShot(true);
    bound.setInterval(timeoutMs);
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
}

EventWait::~EventWait()
{
    Running().removeAll(this);
}

void EventWait::Finish()
{
    if (decided)
        return;
    decided = true;
    outcome = Finished;
    loop.quit();
}

EventWait::Outcome EventWait::Run()
{
    if (decided)
        return outcome;
    Running().append(this);
    bound.start();
    {
        std::optional<InputBlock> block;
        if (blockInput)
            block.emplace();
        loop.exec();
    }
    Running().removeAll(this);
    bound.stop();
    decided = true; // a time-out, unless Finish or StopAll came first
    return outcome;
}

void EventWait::StopAll()
{
    for (EventWait *wait : Running()) {
        if (wait->decided)
            continue;
        wait->decided = true;
        wait->outcome = Stopped;
        wait->loop.quit();
    }
}
