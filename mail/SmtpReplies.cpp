// The server's replies: one command and its whole reply under the time-out, the checks a
// reply must pass before anything acts on it, and the server's words as the user reads them.
#include "mail/SmtpClient.h"

#include <QScopeGuard>

namespace {

// The first size bytes of the UTF-8 text, or fewer, so that no character is split.
QByteArray CutBetweenCharacters(const QByteArray &text, qsizetype size)
{
    while (size > 0 && size < text.size() && (uchar(text[size]) & 0xC0) == 0x80)
        --size;
    return text.left(size);
}

// Whether the line begins with a reply code, three digits followed by a blank, a dash or the
// line end; and, when code is given, with that one.
bool HasReplyCode(const QByteArray &line, const QByteArray &code = {})
{
    auto digit = [&](qsizetype i) { return i < line.size() && line[i] >= '0' && line[i] <= '9'; };
    return digit(0) && digit(1) && digit(2) && (code.isEmpty() || line.startsWith(code)) &&
           (line.size() == 3 || line[3] == ' ' || line[3] == '-' || line[3] == '\r' || line[3] == '\n');
}

} // namespace

QString SmtpClient::ReplyText(const QList<QByteArray> &lines)
{
    QByteArray text;
    for (const QByteArray &line : lines) {
        QByteArray shown = line.trimmed();
        if (shown.isEmpty())
            continue;
        if (shown.size() > MaxReplyLine)
            shown = CutBetweenCharacters(shown, MaxReplyLine) + "...";
        if (!text.isEmpty())
            text += '\n';
        text += shown;
    }
    if (text.size() > MaxShownReply)
        text = CutBetweenCharacters(text, MaxShownReply) + "...";
    return QString::fromUtf8(text);
}

QByteArray SmtpClient::Command(const QByteArray &command)
{
    // A server that hung up cannot answer; writing into the fresh socket would wait for ever.
    if (!Connected)
        ThrowServerGone();
    if (!ReceiveBuffer.isEmpty())
        throw ESockError(QStringLiteral("The server sent a reply nobody asked for: ") + ReplyText(UnreadLines()));
    return UnderTimeOut([&] {
        Writeln(command);
        return ReadReply();
    });
}

QByteArray SmtpClient::ReadReply()
{
    ReplyCode = 0;
    QByteArray reply = ReadLn();
    SetReply(reply);
    CheckReply(reply);
    ReadContinuationLines(reply, replyLines);
    return reply;
}

void SmtpClient::CheckReply(const QByteArray &reply) const
{
    // Anything but a code (an empty line, a long run of digits, text) is no reply to act on.
    if (!HasReplyCode(reply)) {
        const QString shown = ReplyText({reply.left(MaxReplyLine + 1)});
        throw ESockError(shown.isEmpty() ? QStringLiteral("Invalid reply from the server")
                                         : QStringLiteral("Invalid reply from the server: ") + shown);
    }
}

void SmtpClient::ReadContinuationLines(QByteArray &Reply, QList<QByteArray> &lines)
{
    // The bounds apply while reading: a server (or anyone on the path before TLS) may send
    // a thousand lines of a megabyte each. Every line is kept, cut, for an EHLO reply may name
    // STARTTLS on any of them; MaxContinuationLines bounds their number.
    QList<QByteArray> kept;
    auto keep = [&] { kept << Reply.left(MaxReplyLine + 1); };
    keep();
    const QByteArray code = Reply.left(3);
    int skipped = 0;
    while (!Reply.isEmpty() && (Reply[0] == ' ' || (Reply.size() >= 4 && Reply[3] == '-'))) {
        if (++skipped > MaxContinuationLines)
            throw ESockError(QStringLiteral("Too many continuation lines in the server's reply"));
        Reply = ReadLn();
        keep();
        // Each line of a reply carries its code: "250-ok" and then "554 rejected" are no
        // acceptance, nor any answer to trust.
        if (!Reply.startsWith(' ') && !HasReplyCode(Reply, code))
            throw ESockError(QStringLiteral("Invalid reply from the server: ") + ReplyText(kept));
    }
    lines = kept;
}

QByteArray SmtpClient::UnderTimeOut(const std::function<QByteArray()> &wait, bool upload)
{
    // While the message goes out the time-out measures silence, not the whole upload: a
    // large message on a slow line is still moving (see Abort).
    uploading = upload;
    LastProgress.start();
    const bool timed = TimeOut > 0;
    if (timed)
        TimerOn();
    // Every way out disarms the time-out; that does no harm when none was armed.
    const auto disarm = qScopeGuard([this] {
        uploading = false;
        TimerOff();
    });
    try {
        return wait();
    } catch (const EAbortError &) {
        if (!TimedOut || !timed)
            throw;
        // The server fell silent: the dialogue is out of step, so the connection is
        // dropped (no QUIT, nobody answers it) and the next send starts afresh.
        CancelPending = false;
        DropConnection();
        throw ESockError(
            upload ? QStringLiteral("The server took no part of the message for %1 seconds").arg(TimeOut / 1000.0)
                   : QStringLiteral("The server did not answer within %1 seconds").arg(TimeOut / 1000.0));
    } catch (const EClosedError &) {
        ThrowServerGone();
    }
}

void SmtpClient::ThrowRefusal(const QString &message)
{
    refused = true;
    throw ESockError(message);
}

QList<QByteArray> SmtpClient::UnreadLines() const
{
    QList<QByteArray> lines;
    for (qsizetype start = 0; start < ReceiveBuffer.size() && lines.size() <= MaxKeptLines;) {
        qsizetype end = ReceiveBuffer.indexOf('\n', start);
        end = end < 0 ? ReceiveBuffer.size() : end + 1;
        lines << ReceiveBuffer.mid(start, qMin(end - start, MaxReplyLine + 1));
        start = end;
    }
    return lines;
}

void SmtpClient::ThrowServerGone()
{
    // A server that hangs up usually says why first; its words may still be unread.
    const QString said = ReplyText(UnreadLines());
    ReceiveBuffer.clear();
    if (said.isEmpty())
        throw EClosedError(ClosedText());
    throw ESockError(said);
}
