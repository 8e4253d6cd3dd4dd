#include "mail/SmtpClient.h"

#include "platform/Exception.h"

#include <QFile>
#include <QTime>
#include <algorithm>

namespace {

const QByteArray CRLF = "\r\n";

// The parameters of these lines begin at the 50th character.
const QByteArray MultipartLine = "Content-Type: multipart/mixed;" + QByteArray(19, ' ') + "boundary=";
const QByteArray TextPlainLine = "Content-Type: text/plain;" + QByteArray(24, ' ') + "charset=";
const QByteArray OctetStreamLine = "Content-Type: application/octet-stream;" + QByteArray(10, ' ') + "name=";
const QByteArray DispositionLine = "Content-Disposition: attachment;" + QByteArray(17, ' ') + "filename=";

// Header text goes out through Write, which takes at most this much at a time.
constexpr qsizetype WriteChunk = 16384;

// A server's reply shown in an error box is cut at the longest reply line SMTP allows.
constexpr qsizetype MaxShownReply = 512;

QString ReplyText(const QByteArray &reply)
{
    if (reply.size() <= MaxShownReply)
        return QString::fromUtf8(reply);
    return QString::fromUtf8(reply.left(MaxShownReply)) + QStringLiteral("...");
}

bool HasLineBreakOrZero(const QByteArray &text)
{
    return text.contains('\r') || text.contains('\n') || text.contains('\0');
}

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

int LeadingNumber(const QByteArray &line)
{
    int value = 0;
    for (qsizetype i = 0; i < line.size() && i < 9 && line[i] >= '0' && line[i] <= '9'; ++i)
        value = value * 10 + (line[i] - '0');
    return value;
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

// ---------------------------------------------------------------------------------------------
// Composition

void SmtpClient::ComposeMessage()
{
    const MailMessage &m = PostMessage;
    FinalHeader.clear();
    FinalHeader.append("From: " + m.FromName + "<" + m.FromAddress + ">");
    if (!m.ToAddress.isEmpty())
        FinalHeader.append("To: " + m.ToAddress.join(','));
    if (!m.ToCarbonCopy.isEmpty())
        FinalHeader.append("CC: " + m.ToCarbonCopy.join(','));
    FinalHeader.SetHeaderValue("Subject", m.Subject);
    FinalHeader.SetHeaderValue("X-Mailer", m.LocalProgram);
    if (!m.ReplyTo.isEmpty())
        FinalHeader.SetHeaderValue("Reply-To", m.ReplyTo);
    if (!m.Date.isEmpty())
        FinalHeader.SetHeaderValue("Date", m.Date);
    FinalHeader.append("Mime-Version: 1.0");
    if (!m.Attachments.isEmpty()) {
        // The time of day always in the same ASCII form, whatever the locale says.
        boundary = QByteArray(20, '=') + "54535" +
                   QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toLatin1() + "====";
        FinalHeader.append(MultipartLine + '"' + boundary + '"');
    } else {
        FinalHeader.append(TextPlainLine + BodyCharset);
    }

    body.clear();
    if (m.Attachments.isEmpty()) {
        WriteBodyLines();
        return;
    }
    body += "--" + boundary + CRLF + TextPlainLine + BodyCharset + CRLF + CRLF;
    WriteBodyLines();
    for (int i = 1; i <= m.Attachments.size(); ++i)
        WriteAttachmentPart(i);
    body += "--" + boundary + "--" + CRLF;
}

void SmtpClient::WriteBodyLines()
{
    for (const QByteArray &entry : PostMessage.Body) {
        // A body line holds no line end; one that does anyway is split there, so that
        // every line that goes out is dot-stuffed and a "." inside can never end the
        // message early.
        qsizetype start = 0;
        for (;;) {
            qsizetype end = start;
            while (end < entry.size() && entry[end] != '\r' && entry[end] != '\n')
                ++end;
            const QByteArrayView line(entry.constData() + start, end - start);
            if (line.startsWith('.'))
                body += '.';
            body += line;
            body += CRLF;
            if (end >= entry.size())
                break;
            start = end + (entry[end] == '\r' && end + 1 < entry.size() && entry[end + 1] == '\n' ? 2 : 1);
            if (start >= entry.size())
                break;
        }
    }
}

void SmtpClient::WriteAttachmentPart(int Index)
{
    const QString path = PostMessage.Attachments.at(Index - 1);
    const qsizetype cut = std::max(
        {path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char(':'))});
    QByteArray name = QFile::encodeName(path.mid(cut + 1));
    if (HasLineBreakOrZero(name))
        throw Exception(QStringLiteral("Invalid character in file name"));
    // A name outside ASCII goes into the header as an encoded word, never as raw bytes.
    if (std::any_of(name.cbegin(), name.cend(), [](char c) { return uchar(c) >= 0x80; }))
        name = "=?UTF-8?B?" + name.toBase64() + "?=";
    name.replace('"', "\\\"");

    body += "--" + boundary + CRLF;
    body += OctetStreamLine + '"' + name + '"' + CRLF;
    body += "Content-Transfer-Encoding: base64" + CRLF;
    body += DispositionLine + '"' + name + '"' + CRLF;
    body += CRLF;

    AttachmentEncoder encoder;
    encoder.Method = EncodeType;
    QByteArray encoded;
    QBuffer output(&encoded);
    output.open(QIODevice::ReadWrite);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (OnAttachmentNotFound)
            OnAttachmentNotFound(path);
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    }
    if (OnEncodeStart)
        OnEncodeStart(path);
    encoder.InputStream = &file;
    encoder.OutputStream = &output;
    encoder.Encode();
    if (OnEncodeEnd)
        OnEncodeEnd(path);

    if (EncodeType == uuMime) {
        body += encoded; // base64 lines never begin with "."
        return;
    }
    // A uuencoded line of 14 bytes begins with "."; stuff it like a body line.
    for (qsizetype start = 0; start < encoded.size();) {
        qsizetype end = encoded.indexOf('\n', start);
        end = end < 0 ? encoded.size() : end + 1;
        if (encoded[start] == '.')
            body += '.';
        body += QByteArrayView(encoded.constData() + start, end - start);
        start = end;
    }
}

// ---------------------------------------------------------------------------------------------
// The session

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

void SmtpClient::SkipContinuationLines(QByteArray &Reply)
{
    int skipped = 0;
    while (!Reply.isEmpty() && (Reply[0] == ' ' || (Reply.size() >= 4 && Reply[3] == '-'))) {
        if (++skipped > MaxContinuationLines)
            throw ESockError(QStringLiteral("Too many continuation lines in the server's reply"));
        Reply = Timed([this] { return ReadLn(); });
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

QByteArray SmtpClient::Command(const QByteArray &command)
{
    // A server that hung up cannot answer; writing into the fresh socket would wait for ever.
    if (!Connected)
        throw ESockError(QStringLiteral("Connection closed by the server"));
    QByteArray reply = Timed([&] { return Transaction(command); });
    CheckReply(reply);
    SkipContinuationLines(reply);
    return reply;
}

QByteArray SmtpClient::Timed(const std::function<QByteArray()> &wait, bool upload)
{
    if (TimeOut <= 0)
        return wait();
    // While the message goes out the time-out measures silence, not the whole upload: a
    // large message on a slow line is still moving (see Abort).
    uploadMark = upload ? SentBytes : -1;
    struct Unmark
    {
        qint64 &mark;
        ~Unmark() { mark = -1; }
    } unmark{uploadMark};
    TimerOn();
    try {
        QByteArray result = wait();
        TimerOff();
        return result;
    } catch (const EAbortError &) {
        TimerOff();
        if (!TimedOut)
            throw;
        // The server fell silent: the dialogue is out of step, so the connection is
        // dropped (no QUIT, nobody answers it) and the next send starts afresh.
        CancelPending = false;
        SocketClient::Disconnect();
        ReceiveBuffer.clear();
        throw ESockError(
            upload ? QStringLiteral("The server took no part of the message for %1 seconds").arg(TimeOut / 1000.0)
                   : QStringLiteral("The server did not answer within %1 seconds").arg(TimeOut / 1000.0));
    } catch (...) {
        TimerOff();
        throw;
    }
}

void SmtpClient::CheckInput() const
{
    const MailMessage &m = PostMessage;
    if (HasLineBreakOrZero(m.FromAddress))
        throw Exception(QStringLiteral("Invalid character in address"));
    for (const auto *list : {&m.ToAddress, &m.ToCarbonCopy, &m.ToBlindCarbonCopy})
        for (const QByteArray &entry : *list)
            if (HasLineBreakOrZero(entry))
                throw Exception(QStringLiteral("Invalid character in address"));
    for (const QByteArray &line : FinalHeader)
        if (!IsSafeHeaderLine(line))
            throw Exception(QStringLiteral("Invalid character in header"));
}

void SmtpClient::Connect()
{
    if (HasLineBreakOrZero(UserID))
        throw Exception(QStringLiteral("Invalid character in user ID"));
    const bool wasBusy = Busy;
    Busy = true;
    try {
        SocketClient::Connect();
        try {
            QByteArray greeting = Timed([this] { return ReadLn(); });
            CheckReply(greeting);
            const int code = LeadingNumber(greeting);
            SkipContinuationLines(greeting);
            if (code > 399)
                throw ESockError(ReplyText(greeting));
            for (int attempts = 0;; ++attempts) {
                Command("HELO " + UserID);
                if (ReplyCode <= 299)
                    break;
                bool handled = false;
                if (attempts > 0 || !OnAuthenticationFailed)
                    throw ESockError(QStringLiteral("Authentication failed"));
                OnAuthenticationFailed(handled);
                if (!handled)
                    throw ESockError(QStringLiteral("Authentication failed"));
                if (HasLineBreakOrZero(UserID))
                    throw Exception(QStringLiteral("Invalid character in user ID"));
            }
        } catch (const EAbortError &) {
            // Cancelled (a time-out or the user): the server is not answering, so no QUIT.
            SocketClient::Disconnect();
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

void SmtpClient::Disconnect()
{
    CancelPending = false;
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
        throw;
    }
    SocketClient::Disconnect();
}

void SmtpClient::Abort()
{
    if (CancelPending || !Connected)
        return;
    if (TimedOut && uploadMark >= 0 && SentBytes != uploadMark) {
        // The message is still moving: the silence starts again from here.
        uploadMark = SentBytes;
        TimerOn();
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

void SmtpClient::SendHeader()
{
    QByteArray text;
    for (const QByteArray &line : FinalHeader)
        text += line + CRLF;
    text += CRLF + CRLF;
    Timed([&] {
        for (qsizetype at = 0; at < text.size(); at += WriteChunk)
            Write(text.mid(at, WriteChunk));
        return QByteArray();
    });
}

void SmtpClient::SendMail()
{
    if (Busy)
        return;
    Busy = true;
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
            throw ESockError(ReplyText(reply));
        reply = Command("MAIL FROM:<" + m.FromAddress + ">");
        if (ReplyCode > 399)
            throw ESockError(ReplyText(reply));
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
            throw ESockError(ReplyText(reply));
        SendHeader();
        bodyStream.open(QIODevice::ReadOnly);
        try {
            Timed(
                [this] {
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
            throw ESockError(ReplyText(reply));
        }
        if (ClearParams) {
            m.ToAddress.clear();
            m.ToCarbonCopy.clear();
            m.ToBlindCarbonCopy.clear();
            m.Attachments.clear();
        }
    } catch (...) {
        Busy = false;
        throw;
    }
    Busy = false;
    if (OnSuccess)
        OnSuccess(this);
}
