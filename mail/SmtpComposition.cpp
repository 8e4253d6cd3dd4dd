// The composition of the message: the header lines into FinalHeader, everything after the
// header (text part, attachment parts, boundaries) into the message body.
#include "mail/SmtpClient.h"

#include "mail/MailHeaderValues.h"
#include "platform/Exception.h"

#include <QFile>
#include <QTime>

#include <algorithm>

namespace {

const QByteArray CRLF = "\r\n";

// The boundary between the parts: BoundaryStart, the time of day, BoundaryEnd. Twenty "="
// never occur in base64 or quoted-printable text, so no line of a part can pass for it.
const QByteArray BoundaryStart = QByteArray(20, '=') + "54535";
const QByteArray BoundaryEnd = "====";

// The parameters of these lines begin at the 50th character.
const QByteArray MultipartLine = "Content-Type: multipart/mixed;" + QByteArray(19, ' ') + "boundary=";
const QByteArray TextPlainLine = "Content-Type: text/plain;" + QByteArray(24, ' ') + "charset=";
const QByteArray OctetStreamLine = "Content-Type: application/octet-stream;" + QByteArray(10, ' ');
const QByteArray DispositionLine = "Content-Disposition: attachment;" + QByteArray(17, ' ');

// The value of a name parameter: the quoted name as it stands when it is ASCII; else the
// UTF-8 name in the extended form (RFC 2231), folded onto a line of its own, then the
// quoted plain form for readers that lack the extended one: what plain gives for the
// name, or the name with "_" for each character outside ASCII.
QByteArray NameParameter(const QByteArray &attribute, const QString &name,
                         const std::function<QByteArray(const QString &)> &plain)
{
    QByteArray quoted;
    bool ascii = true;
    for (char32_t c : name.toUcs4()) {
        ascii = ascii && c < 0x80;
        quoted += c < 0x80 ? char(c) : '_';
    }
    if (!ascii && plain)
        quoted = plain(name);
    quoted = '"' + quoted.replace('\\', "\\\\").replace('"', "\\\"") + '"';
    if (ascii)
        return attribute + '=' + quoted;
    return attribute + "*=UTF-8''" + name.toUtf8().toPercentEncoding("!#$&+^`|") + ";" + CRLF + ' ' + attribute + '=' +
           quoted;
}

// The name the part's header lines give: the path after its last "/", "\\" or ":".
QString AttachmentName(const QString &path)
{
    const qsizetype cut = std::max(
        {path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char(':'))});
    QString name = path.mid(cut + 1);
    if (name.contains(QLatin1Char('\r')) || name.contains(QLatin1Char('\n')) || name.contains(QChar(0)))
        throw Exception(QStringLiteral("Invalid character in file name"));
    return name;
}

} // namespace

void SmtpClient::ComposeMessage()
{
    const MailMessage &m = Mail;
    FinalHeader.clear();
    FinalHeader.append("From: " + m.FromName + "<" + m.FromAddress + ">");
    if (!m.To.isEmpty())
        FinalHeader.append("To: " + m.To.join(','));
    if (!m.Cc.isEmpty())
        FinalHeader.append("CC: " + m.Cc.join(','));
    FinalHeader.SetHeaderValue("Subject", m.Subject);
    FinalHeader.SetHeaderValue("X-Mailer", m.Mailer);
    if (!m.ReplyTo.isEmpty())
        FinalHeader.SetHeaderValue("Reply-To", m.ReplyTo);
    if (!m.Date.isEmpty())
        FinalHeader.SetHeaderValue("Date", m.Date);
    // Readers thread and deduplicate mail by it, and filters score mail without one.
    FinalHeader.SetHeaderValue("Message-ID", m.MessageId.isEmpty() ? NewMessageId(m.FromAddress) : m.MessageId);
    FinalHeader.append("Mime-Version: 1.0");
    if (!m.Attachments.isEmpty()) {
        // The time of day always in the same ASCII form, whatever the locale says.
        boundary = BoundaryStart + QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toLatin1() + BoundaryEnd;
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
    for (const QByteArray &entry : Mail.Body) {
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
    const QString path = Mail.Attachments.at(Index - 1);
    const QString name = AttachmentName(path);
    body += "--" + boundary + CRLF;
    body += OctetStreamLine + NameParameter("name", name, EncodeAttachmentName) + CRLF;
    body += "Content-Transfer-Encoding: base64" + CRLF;
    body += DispositionLine + NameParameter("filename", name, EncodeAttachmentName) + CRLF;
    body += CRLF;

    const QByteArray encoded = EncodeAttachment(path);
    if (AttachmentEncoding == EncodingMethod::Base64) {
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

QByteArray SmtpClient::EncodeAttachment(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (OnAttachmentNotFound)
            OnAttachmentNotFound(path);
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    }
    if (OnEncodeStart)
        OnEncodeStart(path);
    QByteArray encoded;
    QBuffer output(&encoded);
    output.open(QIODevice::ReadWrite);
    AttachmentEncoder encoder;
    encoder.Method = AttachmentEncoding;
    encoder.InputStream = &file;
    encoder.OutputStream = &output;
    encoder.Encode();
    if (OnEncodeEnd)
        OnEncodeEnd(path);
    return encoded;
}
