#pragma once

#include <QEventLoop>
#include <QTimer>

// A wait of the GUI thread for something that arrives as an event (a network answer, a
// D-Bus reply, the browser coming back): a local event loop, bounded by a time-out, that
// Finish ends at once and StopAll ends from outside (the window being closed). The windows
// repaint meanwhile and take the window manager's close; with `blockInput` they take no
// clicks, keys or drops, so that nothing a running send is about to read changes.
class EventWait
{
public:
    enum Outcome { Finished, TimedOut, Stopped };

    EventWait(int timeoutMs, bool blockInput);
    ~EventWait();
    EventWait(const EventWait &) = delete;
    EventWait &operator=(const EventWait &) = delete;

    // Ends the wait as Finished, also before it runs.
    void Finish();
    Outcome Run();

    // Ends every wait under way as Stopped.
    static void StopAll();

private:
    QEventLoop loop;
    QTimer bound;
    bool blockInput;
    Outcome outcome = TimedOut;
    bool decided = false;
};
