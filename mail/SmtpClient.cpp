#include "mail/SmtpClient.h"

#include "platform/Exception.h"

#include <algorithm>
#include <utility>

namespace {

const QByteArray CRLF = "\r\n";

// Header text goes out through Write, which takes at most this much at a time.
constexpr qsizetype WriteChunk = 16384;

// A header line may hold CR LF only as folding (CR LF followed by a blank or a tab).
bool IsSafeHeaderLine(const QByteArray &line)
{
    // Header lines are not dot-stuffed: one that starts with "." could end the message.
    if (line.contains('\0') || line.startsWith('.'))
        return false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\n')
            return false;
        if (c == '\r') {
            if (i + 2 >= line.size() || line[i + 1] != '\n' || (line[i + 2] != ' ' && line[i + 2] != '\t'))
                return false;
            ++i;
        }
    }
    return true;
}

// No line of the message may be longer than this before its CR LF (RFC 5322); the same
// holds for each line of a folded header line.
constexpr qsizetype MaxHeaderLine = 998;

// The longest line between the folds (CR LF) of a header line.
qsizetype LongestPhysicalLine(const QByteArray &line)
{
    qsizetype longest = 0;
    for (qsizetype start = 0, end = 0; start <= line.size(); start = end + 2) {
        end = line.indexOf("\r\n", start);
        if (end < 0)
            end = line.size();
        longest = std::max(longest, end - start);
    }
    return longest;
}

} // namespace

SmtpClient::SmtpClient(QObject *owner) : SocketClient(owner)
{
    Port = 25;
    bodyStream.setBuffer(&body);
    AbortHook = [this](QObject *) {
        SocketClient::Disconnect();
        ReceiveBuffer.clear();
    };
}

SmtpClient::~SmtpClient()
{
    // Destroy calls Abort, which must still find this class's override.
    Destroy();
}

bool SmtpClient::HasLineBreakOrZero(const QByteArray &text)
{
    return text.contains('\r') || text.contains('\n') || text.contains('\0');
}

QString SmtpClient::ReplyText(const QByteArray &reply)
{
    if (reply.size() <= MaxReplyLine)
        return QString::fromUtf8(reply);
    return QString::fromUtf8(reply.left(MaxReplyLine)) + QStringLiteral("...");
}

QByteArray SmtpClient::ExtractAddress(const QByteArray &Entry)
{
    const qsizetype lt = Entry.indexOf('<');
    if (lt >= 0) {
        QByteArray rest = Entry.mid(lt + 1);
        const qsizetype next = rest.indexOf('<');
        if (next >= 0)
            rest.truncate(next);
        const qsizetype gt = rest.indexOf('>');
        return gt >= 0 ? rest.left(gt) : rest;
    }
    const qsizetype colon = Entry.indexOf(':');
    if (colon >= 0) {
        QByteArray rest = Entry.mid(colon + 1);
        const qsizetype next = rest.indexOf(':');
        return next >= 0 ? rest.left(next) : rest;
    }
    return Entry;
}

// ---------------------------------------------------------------------------------------------
// Replies

void SmtpClient::SkipContinuationLines(QByteArray &Reply, QList<QByteArray> *lines)
{
    // The bounds apply while reading: a server (or anyone on the path before TLS) may send
    // a thousand lines of a megabyte each.
    auto keep = [&] {
        if (lines && lines->size() <= MaxKeptLines)
            *lines << Reply.left(MaxReplyLine + 1);
    };
    if (lines)
        lines->clear();
    keep();
    int skipped = 0;
    while (!Reply.isEmpty() && (Reply[0] == ' ' || (Reply.size() >= 4 && Reply[3] == '-'))) {
        if (++skipped > MaxContinuationLines)
            throw ESockError(QStringLiteral("Too many continuation lines in the server's reply"));
        Reply = ReadLn();
        keep();
    }
}

// A reply must begin with a three-digit code followed by a blank, a dash or the line end;
// anything else (an empty line, a long run of digits, text) is not a reply to act on.
void SmtpClient::CheckReply(const QByteArray &reply) const
{
    auto digit = [&](qsizetype i) { return i < reply.size() && reply[i] >= '0' && reply[i] <= '9'; };
    const bool ok = digit(0) && digit(1) && digit(2) &&
                    (reply.size() == 3 || reply[3] == ' ' || reply[3] == '-' || reply[3] == '\r' || reply[3] == '\n');
    if (!ok) {
        const QString shown = ReplyText(reply).trimmed();
        throw ESockError(shown.isEmpty() ? QStringLiteral("Invalid reply from the server")
                                         : QStringLiteral("Invalid reply from the server: ") + shown);
    }
}

void SmtpClient::Refuse(const QString &message)
{
    refused = true;
    throw ESockError(message);
}

void SmtpClient::ServerGone()
{
    // A server that hangs up usually says why first; that reply may still be unread.
    const qsizetype end = ReceiveBuffer.lastIndexOf('\n');
    if (end < 0)
        throw ESockError(ClosedText());
    const QByteArray last = ReceiveBuffer.left(end + 1).mid(ReceiveBuffer.lastIndexOf('\n', end - 1) + 1);
    ReceiveBuffer.clear();
    throw ESockError(ReplyText(last));
}

QByteArray SmtpClient::Command(const QByteArray &command, QList<QByteArray> *lines)
{
    // A server that hung up cannot answer; writing into the fresh socket would wait for ever.
    if (!Connected)
        ServerGone();
    if (ReceiveBuffer.contains('\n')) {
        const QByteArray unasked = ReceiveBuffer.left(ReceiveBuffer.indexOf('\n') + 1);
        throw ESockError(QStringLiteral("The server sent a reply nobody asked for: ") + ReplyText(unasked).trimmed());
    }
    return Timed([&] {
        Writeln(command);
        return ReadReply(lines);
    });
}

QByteArray SmtpClient::ReadReply(QList<QByteArray> *lines)
{
    ReplyCode = 0;
    QByteArray reply = ReadLn();
    SetReply(reply);
    CheckReply(reply);
    SkipContinuationLines(reply, lines);
    return reply;
}

QByteArray SmtpClient::Timed(const std::function<QByteArray()> &wait, bool upload)
{
    // While the message goes out the time-out measures silence, not the whole upload: a
    // large message on a slow line is still moving (see Abort).
    uploading = upload;
    LastProgress.start();
    const bool timed = TimeOut > 0;
    if (timed)
        TimerOn();
    // Every way out disarms the time-out; that does no harm when none was armed.
    struct Disarm
    {
        SmtpClient &client;
        ~Disarm()
        {
            client.uploading = false;
            client.TimerOff();
        }
    } disarm{*this};
    try {
        return wait();
    } catch (const EAbortError &) {
        if (!TimedOut || !timed)
            throw;
        // The server fell silent: the dialogue is out of step, so the connection is
        // dropped (no QUIT, nobody answers it) and the next send starts afresh.
        CancelPending = false;
        SocketClient::Disconnect();
        ReceiveBuffer.clear();
        throw ESockError(
            upload ? QStringLiteral("The server took no part of the message for %1 seconds").arg(TimeOut / 1000.0)
                   : QStringLiteral("The server did not answer within %1 seconds").arg(TimeOut / 1000.0));
    } catch (const EClosedError &) {
        ServerGone();
    }
}

// ---------------------------------------------------------------------------------------------
// Connecting and disconnecting

void SmtpClient::Connect()
{
    if (HasLineBreakOrZero(UserID))
        throw Exception(QStringLiteral("Invalid character in user ID"));
    CheckSubmission();
    const bool wasBusy = Busy;
    Busy = true;
    refused = false;
    delivered = false;
    try {
        SocketClient::Connect();
        try {
            Greet();
        } catch (const ESockError &) {
            // Only a server that refused in good order still gets its QUIT. One that broke
            // the protocol, fell silent or was cancelled is left at once: its answer would
            // never come, or mean nothing.
            if (refused) {
                try {
                    Disconnect();
                } catch (...) {
                }
            } else {
                SocketClient::Disconnect();
                ReceiveBuffer.clear();
            }
            throw;
        } catch (...) {
            try {
                Disconnect();
            } catch (...) {
                // The failure that brought us here is the one to report.
            }
            throw;
        }
    } catch (...) {
        if (!wasBusy)
            Busy = false;
        throw;
    }
    if (!wasBusy)
        Busy = false;
    if (OnConnect)
        OnConnect(this);
}

void SmtpClient::Greet()
{
    if (Security == SmtpSecurity::Tls)
        Secure();
    QByteArray greeting = Timed([this] { return ReadReply(); });
    if (ReplyCode > 399)
        Refuse(ReplyText(greeting));
    // The plain dialogue says HELO, as it always did; submission needs the extensions.
    const bool extended = Security != SmtpSecurity::None || Auth;
    QList<QByteArray> capabilities = Hello(extended ? "EHLO" : "HELO");
    if (Security == SmtpSecurity::StartTls) {
        StartTlsAfter(capabilities);
        capabilities = Hello("EHLO"); // what was offered in the clear counts no more
    }
    if (Auth)
        Login(capabilities);
}

QList<QByteArray> SmtpClient::Hello(const QByteArray &verb)
{
    QList<QByteArray> lines;
    for (int attempts = 0;; ++attempts) {
        Command(verb + ' ' + UserID, &lines);
        if (ReplyCode <= 299)
            return lines;
        bool handled = false;
        if (attempts > 0 || !OnAuthenticationFailed)
            Refuse(QStringLiteral("Authentication failed"));
        OnAuthenticationFailed(handled);
        if (!handled)
            Refuse(QStringLiteral("Authentication failed"));
        if (HasLineBreakOrZero(UserID))
            throw Exception(QStringLiteral("Invalid character in user ID"));
    }
}

void SmtpClient::Disconnect()
{
    CancelPending = false;
    // Once the server has taken the mail, a goodbye that goes wrong changes nothing for the
    // user: reporting it would only make them send the mail again.
    const bool accepted = std::exchange(delivered, false);
    if (!Connected) {
        // Nobody to say QUIT to (the server hung up, or there never was a connection).
        SocketClient::Disconnect();
        return;
    }
    try {
        const QByteArray reply = Command("QUIT");
        if (ReplyCode > 339)
            throw ESockError(ReplyText(reply));
    } catch (...) {
        SocketClient::Disconnect();
        if (accepted)
            return;
        throw;
    }
    SocketClient::Disconnect();
}

void SmtpClient::Abort()
{
    if (CancelPending || !Connected)
        return;
    if (TimedOut && uploading && LastProgress.isValid() && LastProgress.elapsed() < TimeOut) {
        // The message is still moving: the silence is measured from its last bytes, so the
        // time-out fires once it has lasted TimeOut, not at the next whole tick.
        TimedOut = false;
        Timer->SetInterval(quint32(TimeOut - LastProgress.elapsed()));
        Timer->SetEnabled(true);
        return;
    }
    // A time-out cancels the wait, also the wait for the reply to QUIT (not Busy):
    // closing the socket under it would leave that wait with nothing to end it.
    if (Busy || TimedOut) {
        Cancel();
    } else {
        SocketClient::Disconnect();
        ReceiveBuffer.clear();
    }
}

// ---------------------------------------------------------------------------------------------
// One mail

void SmtpClient::CheckInput() const
{
    const MailMessage &m = PostMessage;
    if (HasLineBreakOrZero(m.FromAddress))
        throw Exception(QStringLiteral("Invalid character in address"));
    for (const auto *list : {&m.ToAddress, &m.ToCarbonCopy, &m.ToBlindCarbonCopy})
        for (const QByteArray &entry : *list)
            if (HasLineBreakOrZero(entry))
                throw Exception(QStringLiteral("Invalid character in address"));
    for (const QByteArray &line : FinalHeader) {
        if (!IsSafeHeaderLine(line))
            throw Exception(QStringLiteral("Invalid character in header"));
        if (LongestPhysicalLine(line) > MaxHeaderLine) {
            // A server may cut such a line or refuse the mail; the user learns which field.
            const qsizetype colon = line.indexOf(':');
            const QByteArray field = line.left(colon >= 0 ? qMin<qsizetype>(colon, 40) : 40);
            throw Exception(QStringLiteral("Header line longer than %1 bytes: %2")
                                .arg(MaxHeaderLine)
                                .arg(QString::fromLatin1(field)));
        }
    }
}

void SmtpClient::SendHeader()
{
    QByteArray text;
    for (const QByteArray &line : FinalHeader)
        text += line + CRLF;
    text += CRLF + CRLF;
    for (qsizetype at = 0; at < text.size(); at += WriteChunk)
        Write(text.mid(at, WriteChunk));
}

void SmtpClient::SendMail()
{
    if (Busy)
        return;
    Busy = true;
    refused = false;
    delivered = false;
    try {
        ComposeMessage();
        CheckInput();
        RequireConnection();

        MailMessage &m = PostMessage;
        auto complete = [&] {
            return !m.FromAddress.isEmpty() &&
                   (!m.ToAddress.isEmpty() || !m.ToCarbonCopy.isEmpty() || !m.ToBlindCarbonCopy.isEmpty());
        };
        if (!complete()) {
            bool handled = false;
            if (OnHeaderIncomplete)
                OnHeaderIncomplete(handled, m.FromAddress.isEmpty() ? 1 : 2);
            if (!handled || !complete())
                throw Exception(QStringLiteral("Incomplete Header"));
        }

        if (OnSendStart)
            OnSendStart(this);
        CheckInput(); // the handler may have changed the header or the lists

        QByteArray reply = Command("RSET");
        if (ReplyCode > 399)
            Refuse(ReplyText(reply));
        reply = Command("MAIL FROM:<" + m.FromAddress + ">");
        if (ReplyCode > 399)
            Refuse(ReplyText(reply));
        for (const auto *list : {&m.ToAddress, &m.ToCarbonCopy, &m.ToBlindCarbonCopy}) {
            const QList<QByteArray> entries = *list; // a handler may change the list
            for (const QByteArray &entry : entries) {
                const QByteArray address = ExtractAddress(entry);
                if (address.isEmpty())
                    continue;
                Command("RCPT TO:<" + address + ">");
                if (ReplyCode > 300 && OnRecipientNotFound)
                    OnRecipientNotFound(entry);
            }
        }
        reply = Command("DATA");
        if (ReplyCode > 399)
            Refuse(ReplyText(reply));
        // Only 354 invites the message: after any other answer the text would be read as
        // commands, or the replies belong to other commands than we think.
        if (ReplyCode != 354)
            throw ESockError(QStringLiteral("Unexpected reply to DATA: ") + ReplyText(reply).trimmed());
        bodyStream.open(QIODevice::ReadOnly);
        try {
            Timed(
                [this] {
                    SendHeader();
                    SendStream(bodyStream);
                    return QByteArray();
                },
                true);
        } catch (...) {
            bodyStream.close();
            throw;
        }
        bodyStream.close();
        reply = Command(".");
        if (ReplyCode > 399) {
            if (OnFailure)
                OnFailure(this);
            Refuse(ReplyText(reply));
        }
        delivered = true;
        if (ClearParams) {
            m.ToAddress.clear();
            m.ToCarbonCopy.clear();
            m.ToBlindCarbonCopy.clear();
            m.Attachments.clear();
        }
    } catch (const ESockError &e) {
        // Out of step with the server (a broken reply, an unasked one, a hang-up): the
        // connection is of no more use. A refusal leaves it as it was.
        if (!refused && !dynamic_cast<const EAbortError *>(&e) && Connected) {
            SocketClient::Disconnect();
            ReceiveBuffer.clear();
        }
        Busy = false;
        throw;
    } catch (...) {
        Busy = false;
        throw;
    }
    Busy = false;
    if (OnSuccess)
        OnSuccess(this);
}
