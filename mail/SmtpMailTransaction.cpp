// One mail over a connection made by Connect: the checks before anything goes out, RSET (or a
// fresh connection in place of a stale one), MAIL FROM and RCPT TO, DATA, the message and ".".
#include "mail/SmtpClient.h"

#include "platform/Exception.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

const QByteArray CRLF = "\r\n";

// No line of the message may be longer than this before its CR LF (RFC 5322); the same
// holds for each line of a folded header line.
constexpr qsizetype MaxHeaderLine = 998;

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

void SmtpClient::SendMail()
{
    if (Busy)
        return;
    BeginMail();
    try {
        PrepareMail();
        ResetOrReconnect();
        SendEnvelope();
        SendData();
        delivered = true;
        if (ClearRecipientsAfterSend)
            ClearRecipientsAndAttachments();
    } catch (Exception &e) {
        AfterFailedMail(e);
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

void SmtpClient::BeginMail()
{
    Busy = true;
    refused = false;
    delivered = false;
    refusedRecipient.clear();
}

void SmtpClient::PrepareMail()
{
    ComposeMessage();
    CheckLinesAreSafe();
    RequireConnection();
    CheckComplete();
    if (OnSendStart)
        OnSendStart(this);
    CheckLinesAreSafe(); // the handler may have changed the header or the lists
}

void SmtpClient::ClearRecipientsAndAttachments()
{
    Mail.To.clear();
    Mail.Cc.clear();
    Mail.Bcc.clear();
    Mail.Attachments.clear();
}

void SmtpClient::AfterFailedMail(Exception &failure)
{
    const bool fromServer = dynamic_cast<const ESockError *>(&failure);
    const bool aborted = dynamic_cast<const EAbortError *>(&failure);
    // Out of step with the server (a broken reply, an unasked one, a hang-up): the
    // connection is of no more use. A refusal leaves it as it was.
    if (fromServer && !refused && !aborted && Connected)
        DropConnection();
    if (fromServer && !aborted && !refusedRecipient.isEmpty())
        failure.Message += QLatin1Char('\n') + refusedRecipient;
    failure.Message = Scrub(failure.Message);
}

void SmtpClient::EndMail()
{
    Busy = false;
    if (Connected)
        sinceLastMail.start();
}

// ---------------------------------------------------------------------------------------------
// Before anything goes out

void SmtpClient::CheckLinesAreSafe() const
{
    const MailMessage &m = Mail;
    if (HasLineBreakOrZero(m.FromAddress))
        throw Exception(QStringLiteral("Invalid character in address"));
    for (const auto *list : {&m.To, &m.Cc, &m.Bcc})
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

void SmtpClient::CheckComplete()
{
    MailMessage &m = Mail;
    auto complete = [&] {
        return !m.FromAddress.isEmpty() && (!m.To.isEmpty() || !m.Cc.isEmpty() || !m.Bcc.isEmpty());
    };
    if (complete())
        return;
    bool retry = false;
    if (OnHeaderIncomplete)
        OnHeaderIncomplete(retry, m.FromAddress.isEmpty() ? MissingHeader::Sender : MissingHeader::Recipients);
    if (!retry || !complete())
        throw Exception(QStringLiteral("Incomplete Header"));
}

// ---------------------------------------------------------------------------------------------
// The dialogue

void SmtpClient::ResetOrReconnect()
{
    if (sinceLastMail.isValid() && !KeptConnectionAnswers()) {
        DropConnection();
        Connect();
    }
    if (!sinceLastMail.isValid()) {
        Command("RSET");
        if (ReplyCode > 399)
            ThrowRefusal(ShownReply());
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

void SmtpClient::SendEnvelope()
{
    MailMessage &m = Mail;
    Command("MAIL FROM:<" + m.FromAddress + ">");
    if (ReplyCode > 399)
        ThrowRefusal(ShownReply());
    for (const auto *list : {&m.To, &m.Cc, &m.Bcc}) {
        const QList<QByteArray> entries = *list; // a handler may change the list
        for (const QByteArray &entry : entries)
            SendRecipient(entry);
    }
}

void SmtpClient::SendRecipient(const QByteArray &entry)
{
    const QByteArray address = ExtractAddress(entry);
    if (address.isEmpty())
        return;
    Command("RCPT TO:<" + address + ">");
    if (ReplyCode <= 300)
        return;
    // A server that then refuses the mail ("no valid recipients") rarely says why.
    if (refusedRecipient.isEmpty())
        refusedRecipient = QCoreApplication::translate("Mail", "サーバが送信先 %1 を受け付けませんでした。\n%2")
                               .arg(QString::fromUtf8(address), ShownReply());
    if (OnRecipientRefused)
        OnRecipientRefused(entry);
}

void SmtpClient::SendData()
{
    Command("DATA");
    if (ReplyCode > 399)
        ThrowRefusal(ShownReply());
    // Only 354 invites the message: after any other answer the text would be read as
    // commands, or the replies belong to other commands than we think.
    if (ReplyCode != 354)
        throw ESockError(QStringLiteral("Unexpected reply to DATA: ") + ShownReply());
    SendMessageText();
    Command(".");
    if (ReplyCode > 399) {
        if (OnMessageRefused)
            OnMessageRefused(this);
        ThrowRefusal(ShownReply());
    }
    // Only a 2xx takes the mail (RFC 5321 4.3.2: "." is answered 250, or refused with 4xx or
    // 5xx). A 1xx or 3xx is no answer to it: whether the server has the mail is unknown, and
    // the dialogue is out of step, so the connection goes with the failure.
    if (ReplyCode < 200 || ReplyCode > 299)
        throw ESockError(QStringLiteral("Unexpected reply to the end of the message: ") + ShownReply());
}

void SmtpClient::SendMessageText()
{
    bodyStream.open(QIODevice::ReadOnly);
    try {
        UnderTimeOut(
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
}

void SmtpClient::SendHeader()
{
    QByteArray text;
    for (const QByteArray &line : FinalHeader)
        text += line + CRLF;
    text += CRLF + CRLF;
    // Write takes at most a text buffer's worth at a time.
    constexpr qsizetype chunk = TextBufferSize - 1;
    for (qsizetype at = 0; at < text.size(); at += chunk)
        Write(text.mid(at, chunk));
}
