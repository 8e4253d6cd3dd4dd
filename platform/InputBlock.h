#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

// Keeps the user's clicks, keys, shortcuts, typing and drops from every window while it
// lives, so that no command starts and nothing a running send is about to read (the boxes,
// the picture) changes while it waits.
// An event loop told to exclude user input would do the same on most platforms, but X11
// counts the window manager's close as input: it would be held back, and then dropped
// when a prompt opens. A close passes here.
class InputBlock : public QObject
{
public:
    InputBlock() { QCoreApplication::instance()->installEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return true;
        default:
            return event->isInputEvent();
        }
    }
};
