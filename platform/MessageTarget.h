#pragma once

#include <QEvent>
#include <QObject>

#include <functional>

// Where a socket client's notifications arrive: an object of the GUI thread to which the socket
// layer and the client itself post messages (message number, word, long). Each message is
// handed to Handler when the event loop delivers it; messages posted to a target that is gone
// are lost.
class MessageTarget : public QObject
{
    Q_OBJECT
public:
    using MessageHandler = std::function<void(quint32 message, quintptr word, qintptr value)>;

    explicit MessageTarget(QObject *parent = nullptr) : QObject(parent) {}

    // Queues a message; it is delivered by a later pass of the event loop, in posting order.
    void Post(quint32 message, quintptr word, qintptr value);

    // The client that receives the messages; until it is set, messages are dropped.
    MessageHandler Handler;

    static const QEvent::Type MessageEventType;

protected:
    bool event(QEvent *event) override;
};
