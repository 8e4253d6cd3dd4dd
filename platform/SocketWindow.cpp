#include "platform/SocketWindow.h"

#include <QCoreApplication>

namespace {

class WindowMessage : public QEvent
{
public:
    WindowMessage(quint32 message, quintptr word, qintptr value)
        : QEvent(SocketWindow::MessageEventType), Message(message), Word(word), Value(value)
    {}
    quint32 Message;
    quintptr Word;
    qintptr Value;
};

} // namespace

const QEvent::Type SocketWindow::MessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

void SocketWindow::Post(quint32 message, quintptr word, qintptr value)
{
    QCoreApplication::postEvent(this, new WindowMessage(message, word, value));
}

bool SocketWindow::event(QEvent *event)
{
    if (event->type() != MessageEventType)
        return QObject::event(event);
    auto *message = static_cast<WindowMessage *>(event);
    if (Handler) {
        // Copied: the handler may replace itself while it runs.
        THandler handler = Handler;
        handler(message->Message, message->Word, message->Value);
    }
    return true;
}
