#include "platform/SocketWindow.h"

#include <QCoreApplication>

namespace {

class TWindowMessage : public QEvent
{
public:
    TWindowMessage(quint32 message, quintptr word, qintptr value)
        : QEvent(TSocketWindow::MessageEventType), Message(message), Word(word), Value(value)
    {}
    quint32 Message;
    quintptr Word;
    qintptr Value;
};

} // namespace

const QEvent::Type TSocketWindow::MessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

void TSocketWindow::Post(quint32 message, quintptr word, qintptr value)
{
    QCoreApplication::postEvent(this, new TWindowMessage(message, word, value));
}

bool TSocketWindow::event(QEvent *event)
{
    if (event->type() != MessageEventType)
        return QObject::event(event);
    auto *message = static_cast<TWindowMessage *>(event);
    if (Handler) {
        // Copied: the handler may replace itself while it runs.
        THandler handler = Handler;
        handler(message->Message, message->Word, message->Value);
    }
    return true;
}
