// The data transfer of the socket client: the receive and send handlers, sending text,
// buffers and streams, and reading lines.
#include "net/SocketClient.h"

#include "platform/MessageTarget.h"
#include "platform/WinsockErrors.h"

#include <cstring>
#include <limits>
#include <utility>

void SocketClient::ReceiveWaitingBytes()
{
    if (CancelPending) {
        Winsock::AsyncSelect(SocketHandle, Target, SocketNotification, 0);
        if (OnReceiveAfterCancel)
            OnReceiveAfterCancel(this);
    }
    if (HandlerBusy) {
        // Dropping it would leave the bytes unread for good: no new read notification
        // comes until they are received.
        readDeferred = true;
        return;
    }
    HandlerBusy = true;
    bool arrived = false;
    auto finish = [this, &arrived] {
        EndHandler();
        if (arrived && OnDataArrived)
            OnDataArrived(this);
    };
    try {
        ReportStatus(QStringLiteral("ReadToStream"), 8);
        char buffer[ChunkSize + 1];
        int n = Winsock::Recv(SocketHandle, buffer, ChunkSize);
        if (n >= 0 && !KeepReceived(buffer, n)) {
            // The connection is gone; nothing of it is reported any more.
        } else if (n >= 0) {
            if (CountTraffic) {
                ReceivedBytes += n;
                if (OnPacketReceived)
                    OnPacketReceived(this);
            }
            arrived = true;
            if (n == ChunkSize)
                Target->Post(ReceiveMore, 0, qintptr(this));
        } else if (Winsock::GetLastError() != WsaError::WouldBlock) {
            // Nothing to read ("would block") is no failure and goes unreported: the try
            // after a full receive often finds nothing, and over TLS a notification may
            // carry only the session's own records (the tickets after every handshake).
            LastError = Winsock::GetLastError();
            QString text = LookupErrorText(LastError);
            if (OnError)
                OnError(this, quint16(LastError), text);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

bool SocketClient::KeepReceived(const char *data, int n)
{
    if (ReceiveBuffer.size() + n <= MaxReceiveBuffer) {
        ReceiveBuffer.append(data, n);
        return true;
    }
    // A reply is a few lines: a peer that sends this much unread is not answering.
    overflowed = true;
    ReceiveBuffer.clear();
    ReceiveSpare.clear();
    CloseSocket();
    return false;
}

void SocketClient::EndHandler()
{
    HandlerBusy = false;
    // A notification that came while the handler ran is handled now, as a posted message.
    if (readDeferred && Target) {
        readDeferred = false;
        Target->Post(ReceiveMore, 0, qintptr(this));
    }
    if (writeDeferred && Target) {
        writeDeferred = false;
        Target->Post(SendMore, 0, qintptr(this));
    }
}

void SocketClient::SendQueuedBytes()
{
    if (HandlerBusy) {
        writeDeferred = true;
        return;
    }
    HandlerBusy = true;
    auto finish = [this] { EndHandler(); };
    try {
        ReportStatus(QStringLiteral("WriteFromStream"), 8);
        qsizetype waiting = SendQueue.size() - SendPosition;
        if (waiting <= 0 && !CancelPending) {
            // Nothing (left) to hand over: an empty send is complete, not pending for ever.
            SendComplete = true;
        } else if (!CancelPending) {
            int length = int(qMin<qsizetype>(waiting, ChunkSize));
            int n = Winsock::Send(SocketHandle, SendQueue.constData() + SendPosition, length);
            if (n < 0) {
                // The queue keeps its bytes; the next write notification resumes.
                LastError = Winsock::GetLastError();
            } else {
                LastProgress.start();
                TakeSent(n);
                if (n < waiting) {
                    Target->Post(SendMore, 0, qintptr(this));
                } else {
                    SendComplete = true;
                }
                SentBytes += n;
                if (CountTraffic && OnPacketSent)
                    OnPacketSent(this);
            }
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void SocketClient::Wipe(QByteArray &bytes)
{
    bytes.fill('\0');
    bytes.clear();
}

void SocketClient::TakeSent(qsizetype n)
{
    SendPosition += n;
    if (SendPosition >= SendQueue.size()) {
        Wipe(SendQueue);
        SendPosition = 0;
    }
}

namespace {

// Appending compacts the queue first, so it never holds bytes that were already sent.
void AppendToQueue(QByteArray &queue, qsizetype &position, QByteArray &spare, const char *data, qsizetype size)
{
    if (position > 0) {
        SocketClient::Wipe(spare);
        spare = queue.mid(position);
        SocketClient::Wipe(queue);
        std::swap(queue, spare);
        position = 0;
    }
    queue.append(data, size);
}

} // namespace

void SocketClient::SendBuffer(const char *buffer, quint16 length)
{
    ReportStatus(QStringLiteral("Sending Buffer"), 4);
    if (CancelPending)
        return;
    qsizetype size = length != 0 ? length : qsizetype(std::strlen(buffer));
    AppendToQueue(SendQueue, SendPosition, SendSpare, buffer, size);
    SendComplete = false;
    Target->Post(SendMore, 0, qintptr(this));
    const WaitEnd end = WaitUntil([this] { return SendComplete; }, QDeadlineTimer::Forever, true);
    if (CancelPending || end == WaitEnd::TimedOut) {
        CancelPending = false;
        throw EAbortError(QStringLiteral("Socket send aborted"));
    }
    if (!SendComplete)
        throw EClosedError(ClosedText());
}

void SocketClient::Write(const QByteArray &text)
{
    ReportStatus(QStringLiteral("Write"), 8);
    // At most 16384 bytes go out, and a zero byte ends the text.
    qsizetype size = qMin<qsizetype>(text.size(), TextBufferSize - 1);
    if (TextBuffer.size() != TextBufferSize)
        TextBuffer = QByteArray(TextBufferSize, '\0');
    std::memcpy(TextBuffer.data(), text.constData(), size_t(size));
    TextBuffer[size] = '\0';
    // Length 0 is "up to the zero": an empty text sends nothing and returns.
    SendBuffer(TextBuffer.constData(), 0);
}

void SocketClient::Writeln(const QByteArray &text)
{
    ReportStatus(QStringLiteral("Writeln"), 8);
    const Secret line{text + "\r\n"};
    Write(line.bytes);
}

void SocketClient::SendStream(QIODevice &stream)
{
    CountTraffic = true;
    try {
        ReportStatus(QStringLiteral("SendStream"), 8);
        if (!CancelPending) {
            if (!stream.isSequential())
                stream.seek(0);
            ReportStatus(QStringLiteral("SendFile"), 8);
            SentBytes = 0;
            TotalBytes = qint32(stream.size());
            const QByteArray bytes = stream.readAll();
            AppendToQueue(SendQueue, SendPosition, SendSpare, bytes.constData(), bytes.size());
            SendComplete = false;
            Target->Post(SendMore, 0, qintptr(this));
            const WaitEnd end = WaitUntil([this] { return SendComplete; }, QDeadlineTimer::Forever, true);
            if (end == WaitEnd::TimedOut)
                throw EAbortError(QStringLiteral("Socket send aborted"));
            if (!SendComplete && !CancelPending)
                throw EClosedError(ClosedText());
        }
    } catch (...) {
        CountTraffic = false;
        if (CancelPending) {
            CancelPending = false;
            throw EAbortError(QStringLiteral("Socket send aborted"));
        }
        throw;
    }
    CountTraffic = false;
    if (CancelPending) {
        CancelPending = false;
        throw EAbortError(QStringLiteral("Socket send aborted"));
    }
}

QByteArray SocketClient::ReadLn()
{
    ReportStatus(QStringLiteral("ReadLn"), 8);
    qsizetype lineFeed = -1;
    qsizetype scanned = 0;
    auto lineArrived = [&] {
        // Only bytes not yet looked at are searched; a handler may have emptied the buffer.
        scanned = qMin(scanned, ReceiveBuffer.size());
        const qsizetype end = qMin(ReceiveBuffer.size(), MaxLineLength);
        if (scanned < end) {
            const void *found = std::memchr(ReceiveBuffer.constData() + scanned, '\n', size_t(end - scanned));
            if (found) {
                lineFeed = static_cast<const char *>(found) - ReceiveBuffer.constData();
                return true;
            }
            scanned = end;
        }
        if (ReceiveBuffer.size() >= MaxLineLength) {
            // The peer is not sending lines; what it sent is of no use to any reader.
            ReceiveBuffer.clear();
            ReceiveSpare.clear();
            throw ESockError(QStringLiteral("Line too long: no line feed in %1 bytes").arg(MaxLineLength));
        }
        return false;
    };
    const WaitEnd end = WaitUntil(lineArrived, QDeadlineTimer::Forever, true);
    if (CancelPending || end == WaitEnd::TimedOut)
        throw EAbortError(QStringLiteral("Socket readln aborted"));
    if (lineFeed < 0)
        throw EClosedError(ClosedText());
    QByteArray line = ReceiveBuffer.left(lineFeed + 1);
    if (lineFeed + 1 < ReceiveBuffer.size()) {
        ReceiveSpare = ReceiveBuffer.mid(lineFeed + 1);
        ReceiveBuffer.clear();
        std::swap(ReceiveBuffer, ReceiveSpare);
    } else {
        ReceiveBuffer.clear();
    }
    return line;
}

QByteArray SocketClient::Transaction(const QByteArray &command)
{
    ReportStatus(QStringLiteral("Transaction"), 8);
    ReplyCode = 0;
    Writeln(command);
    SetReply(ReadLn());
    return LastReply;
}

void SocketClient::SetReply(const QByteArray &reply)
{
    LastReply = reply;
    ReplyCode = 0;
    if (reply.isEmpty())
        return;
    ReportStatus(QString::fromLatin1(reply), 1);
    qsizetype digits = 0;
    while (digits < reply.size() && digits < 10 && reply[digits] >= '0' && reply[digits] <= '9')
        ++digits;
    if (digits == 0)
        return;
    qint64 value = reply.left(digits).toLongLong();
    if (value > std::numeric_limits<qint32>::max())
        value = 0;
    if (value > std::numeric_limits<qint16>::max())
        throw ESockError(QStringLiteral("Reply code %1 out of range").arg(value));
    ReplyCode = qint16(value);
}
