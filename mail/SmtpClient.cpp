#include "mail/SmtpClient.h"

#include "platform/Exception.h"

#include <QCoreApplication>

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
    QList<QByteArray> kept;
    auto keep = [&] {
        if (kept.size() <= MaxKeptLines)
            kept << Reply.left(MaxReplyLine + 1);
    };
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
    if (lines)
        *lines = kept;
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

void SmtpClient::Refuse(const QString &message)
{
    refused = true;
    throw ESockError(message);
}

QList<QByteArray> SmtpClient::Unread() const
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

void SmtpClient::ServerGone()
{
    // A server that hangs up usually says why first; its words may still be unread.
    const QString said = ReplyText(Unread());
    ReceiveBuffer.clear();
    if (said.isEmpty())
        throw EClosedError(ClosedText());
    throw ESockError(said);
}

QByteArray SmtpClient::Command(const QByteArray &command)
{
    // A server that hung up cannot answer; writing into the fresh socket would wait for ever.
    if (!Connected)
        ServerGone();
    if (!ReceiveBuffer.isEmpty())
        throw ESockError(QStringLiteral("The server sent a reply nobody asked for: ") + ReplyText(Unread()));
    return Timed([&] {
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
    SkipContinuationLines(reply, &replyLines);
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
    if (HasLineBreakOrZero(HeloName))
        throw Exception(QStringLiteral("Invalid character in user ID"));
    CheckSubmission();
    const bool wasBusy = std::exchange(Busy, true);
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
    } catch (Exception &e) {
        Busy = wasBusy;
        e.Message = Scrub(e.Message);
        throw;
    } catch (...) {
        Busy = wasBusy;
        throw;
    }
    Busy = wasBusy;
    sinceLastMail.invalidate();
    if (OnConnect)
        OnConnect(this);
}

void SmtpClient::Greet()
{
    if (Security == SmtpSecurity::Tls)
        Secure();
    Timed([this] { return ReadReply(); });
    if (ReplyCode > 399)
        Refuse(ShownReply());
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
    for (int attempts = 0;; ++attempts) {
        Command(verb + ' ' + HeloName);
        if (ReplyCode <= 299)
            return replyLines;
        // The server's own words say why; the owner may still mend the name once.
        const QString refusal = ShownReply();
        bool handled = false;
        if (attempts == 0 && OnHeloRefused)
            OnHeloRefused(handled);
        if (!handled)
            Refuse(refusal);
        if (HasLineBreakOrZero(HeloName))
            throw Exception(QStringLiteral("Invalid character in user ID"));
    }
}

void SmtpClient::Disconnect()
{
    CancelPending = false;
    try {
        Quit(std::exchange(delivered, false));
    } catch (Exception &e) {
        e.Message = Scrub(e.Message);
        throw;
    }
}

void SmtpClient::Quit(bool accepted)
{
    // Once the server has taken the mail, its goodbye, a hang-up or silence changes nothing
    // for the user: reporting them would only make them send the mail again. Anything else
    // it says may take the acceptance back (a refusal that came late, after a stray line
    // was taken for the acceptance), and is reported as such.
    QString doubt = accepted ? ReplyText(Unread()) : QString(); // unasked: no QUIT then
    try {
        if (Connected && doubt.isEmpty()) {
            TimedOut = false;
            Command("QUIT");
            if (accepted && ReplyCode != 221)
                doubt = ShownReply();
            else if (ReplyCode > 339)
                throw ESockError(ShownReply());
        }
    } catch (const ESockError &e) {
        const bool quiet = dynamic_cast<const EClosedError *>(&e) || dynamic_cast<const EAbortError *>(&e) || TimedOut;
        if (!accepted) {
            SocketClient::Disconnect();
            throw;
        }
        if (!quiet)
            doubt = e.Message;
    } catch (...) {
        SocketClient::Disconnect();
        throw;
    }
    SocketClient::Disconnect();
    if (!doubt.isEmpty())
        throw EDeliveryInDoubt(doubt);
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
    const MailMessage &m = Mail;
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

void SmtpClient::CheckComplete()
{
    MailMessage &m = Mail;
    auto complete = [&] {
        return !m.FromAddress.isEmpty() &&
               (!m.ToAddress.isEmpty() || !m.ToCarbonCopy.isEmpty() || !m.ToBlindCarbonCopy.isEmpty());
    };
    if (complete())
        return;
    bool handled = false;
    if (OnHeaderIncomplete)
        OnHeaderIncomplete(handled, m.FromAddress.isEmpty() ? 1 : 2);
    if (!handled || !complete())
        throw Exception(QStringLiteral("Incomplete Header"));
}

void SmtpClient::Reset()
{
    if (sinceLastMail.isValid() && !KeptConnectionAnswers()) {
        SocketClient::Disconnect();
        ReceiveBuffer.clear();
        Connect();
    }
    if (!sinceLastMail.isValid()) {
        Command("RSET");
        if (ReplyCode > 399)
            Refuse(ShownReply());
    }
}

bool SmtpClient::KeptConnectionAnswers()
{
    // A server that said anything while the connection was idle has given up on it (421)
    // or is out of step; one idle for long has likely dropped it without a word. What came
    // while the mail was being prepared is taken in first.
    PollOnce();
    if (!Connected || !ReceiveBuffer.isEmpty() || sinceLastMail.elapsed() >= MaxIdleForReuse)
        return false;
    try {
        Command("RSET");
        return ReplyCode <= 399;
    } catch (const EAbortError &) {
        throw;
    } catch (const ESockError &) {
        return false; // closed, reset, or no answer
    }
}

void SmtpClient::Envelope()
{
    MailMessage &m = Mail;
    Command("MAIL FROM:<" + m.FromAddress + ">");
    if (ReplyCode > 399)
        Refuse(ShownReply());
    for (const auto *list : {&m.ToAddress, &m.ToCarbonCopy, &m.ToBlindCarbonCopy}) {
        const QList<QByteArray> entries = *list; // a handler may change the list
        for (const QByteArray &entry : entries) {
            const QByteArray address = ExtractAddress(entry);
            if (address.isEmpty())
                continue;
            Command("RCPT TO:<" + address + ">");
            if (ReplyCode <= 300)
                continue;
            // A server that then refuses the mail ("no valid recipients") rarely says why.
            if (refusedRecipient.isEmpty())
                refusedRecipient = QCoreApplication::translate("Mail", "サーバが送信先 %1 を受け付けませんでした。\n%2")
                                       .arg(QString::fromUtf8(address), ShownReply());
            if (OnRecipientNotFound)
                OnRecipientNotFound(entry);
        }
    }
}

void SmtpClient::Transfer()
{
    Command("DATA");
    if (ReplyCode > 399)
        Refuse(ShownReply());
    // Only 354 invites the message: after any other answer the text would be read as
    // commands, or the replies belong to other commands than we think.
    if (ReplyCode != 354)
        throw ESockError(QStringLiteral("Unexpected reply to DATA: ") + ShownReply());
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
    Command(".");
    if (ReplyCode > 399) {
        if (OnFailure)
            OnFailure(this);
        Refuse(ShownReply());
    }
}

void SmtpClient::SendMail()
{
    if (Busy)
        return;
    Busy = true;
    refused = false;
    delivered = false;
    refusedRecipient.clear();
    try {
        ComposeMessage();
        CheckInput();
        RequireConnection();
        CheckComplete();
        if (OnSendStart)
            OnSendStart(this);
        CheckInput(); // the handler may have changed the header or the lists
        Reset();
        Envelope();
        Transfer();
        delivered = true;
        if (ClearParams) {
            Mail.ToAddress.clear();
            Mail.ToCarbonCopy.clear();
            Mail.ToBlindCarbonCopy.clear();
            Mail.Attachments.clear();
        }
    } catch (Exception &e) {
        const auto *failure = dynamic_cast<const ESockError *>(&e);
        const bool aborted = dynamic_cast<const EAbortError *>(&e);
        // Out of step with the server (a broken reply, an unasked one, a hang-up): the
        // connection is of no more use. A refusal leaves it as it was.
        if (failure && !refused && !aborted && Connected) {
            SocketClient::Disconnect();
            ReceiveBuffer.clear();
        }
        if (failure && !aborted && !refusedRecipient.isEmpty())
            e.Message += QLatin1Char('\n') + refusedRecipient;
        e.Message = Scrub(e.Message);
        EndMail();
        throw;
    } catch (...) {
        EndMail();
        throw;
    }
    EndMail();
    if (OnSuccess)
        OnSuccess(this);
}

void SmtpClient::EndMail()
{
    Busy = false;
    if (Connected)
        sinceLastMail.start();
}
