#include "platform/MessageTarget.h"

#include <QCoreApplication>

namespace {

class PostedMessage : public QEvent
{
public:
    PostedMessage(quint32 message, quintptr word, qintptr value)
        : QEvent(MessageTarget::MessageEventType), Message(message), Word(word), Value(value)
    {}
    quint32 Message;
    quintptr Word;
    qintptr Value;
};

} // namespace

const QEvent::Type MessageTarget::MessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

void MessageTarget::Post(quint32 message, quintptr word, qintptr value)
{
    QCoreApplication::postEvent(this, new PostedMessage(message, word, value));
}

bool MessageTarget::event(QEvent *event)
{
    if (event->type() != MessageEventType)
        return QObject::event(event);
    auto *message = static_cast<PostedMessage *>(event);
    if (Handler) {
        // Copied: the handler may replace itself while it runs.
        MessageHandler handler = Handler;
        handler(message->Message, message->Word, message->Value);
    }
    return true;
}
