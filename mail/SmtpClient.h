#pragma once

#include "mail/AttachmentEncoder.h"
#include "mail/HeaderList.h"
#include "mail/MailMessage.h"
#include "net/SocketClient.h"
#include "platform/SmtpSecurity.h"

#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

// What a mail lacks when OnHeaderIncomplete fires.
enum class MissingHeader { Sender = 1, Recipients = 2 };

// Handler types of the SMTP client's own events (see net/SocketEvents.h for the others).
using IncompleteHeaderEvent = std::function<void(bool &retry, MissingHeader missing)>;
using RecipientEvent = std::function<void(const QByteArray &entry)>; // the entry as listed
using FileEvent = std::function<void(const QString &path)>;

// The server refused the login's credentials (535); the message gives the server's reply.
class EAuthError : public ESockError
{
public:
    explicit EAuthError(const QString &message) : ESockError(message) {}
};

// The server refused the sign-in's access token (535 after the token was sent); a fresh
// token may do. The message gives the server's words and the status its challenge named.
class ETokenRefused : public EAuthError
{
public:
    explicit ETokenRefused(const QString &message) : EAuthError(message) {}
};

// The server took the message, then said something else than goodbye: a refusal that came
// late, while what was taken for the acceptance was a stray line. The mail may not have been
// accepted; the message gives the server's words.
class EDeliveryInDoubt : public ESockError
{
public:
    explicit EDeliveryInDoubt(const QString &message) : ESockError(message) {}
};

// The SMTP client: greeting and HELO on Connect, one mail transaction per SendMail
// (RSET, MAIL FROM, RCPT TO, DATA, the message, "."), QUIT on Disconnect. Every
// failure throws; events let the owner follow and steer the dialogue.
class SmtpClient : public SocketClient
{
public:
    explicit SmtpClient(QObject *owner = nullptr);
    ~SmtpClient() override;

    void Connect() override;
    void Disconnect() override;
    void Abort() override;
    void SendMail();

    // Builds FinalHeader and the message body from Mail.
    void ComposeMessage();
    // Appends the MIME part of attachment Index (1-based) to the message body.
    void WriteAttachmentPart(int Index);

    // The address for RCPT TO: between "<" and ">", after ":", or the entry itself.
    static QByteArray ExtractAddress(const QByteArray &Entry);
    // Replaces Reply by the following lines while it is a continuation line; the lines read,
    // the first one included, are kept in lines when it is given, with bounds (below). A line
    // that carries another code than the first makes the reply invalid.
    void ReadContinuationLines(QByteArray &Reply, QList<QByteArray> &lines);

    // The composed text after the header.
    const QByteArray &MessageBody() const { return body; }

    // The longest run of continuation lines read for one reply.
    static constexpr int MaxContinuationLines = 1000;
    // The longest reply line SMTP allows, CR LF included (RFC 5321).
    static constexpr qsizetype MaxReplyLine = 512;
    // What is kept of one reply: the first line and this many more, each cut one byte past
    // MaxReplyLine, so that a line that was longer is still seen as such.
    static constexpr int MaxKeptLines = 100;
    // The most of a server's words a failure's text shows.
    static constexpr qsizetype MaxShownReply = 1024;
    // The longest AUTH line, CR LF included, that a server must take (RFC 4954).
    static constexpr qsizetype MaxAuthLine = 12288;

    QByteArray HeloName; // the name HELO or EHLO gives; an IPv6 address goes as "[IPv6:...]"
    MailMessage Mail;
    // The composed header lines as they go out; OnSendStart may still change them.
    HeaderList FinalHeader;
    EncodingMethod AttachmentEncoding = EncodingMethod::Base64;
    // Once a mail was accepted, its recipient lists and attachments are emptied.
    bool ClearRecipientsAfterSend = true;

    // The dialogue's events, in the order they come: OnEncodeStart and OnEncodeEnd for each
    // attachment (or OnAttachmentNotFound), OnConnectionRequired, OnHeaderIncomplete,
    // OnSendStart, OnRecipientRefused for each recipient refused, OnPacketSent while the
    // message goes out, then OnMessageRefused or OnSuccess. OnConnect ends a Connect, once
    // HELO or EHLO and any login have been accepted.
    NotifyEvent OnConnect;
    RetryEvent OnHeloRefused;
    FileEvent OnEncodeStart;
    FileEvent OnEncodeEnd;
    FileEvent OnAttachmentNotFound;
    IncompleteHeaderEvent OnHeaderIncomplete;
    NotifyEvent OnSendStart;
    RecipientEvent OnRecipientRefused;
    NotifyEvent OnMessageRefused; // the server refused the message after "."
    NotifyEvent OnSuccess;

    // The charset named by the text part's Content-Type line; the sender relabels it
    // when the body lines are not plain ASCII.
    QByteArray BodyCharset = "us-ascii";
    // An attachment's name outside ASCII as its plain name and filename parameters carry it
    // for readers that lack the extended form beside them: the sender gives encoded words
    // in the headers' charset. Unset, each character outside ASCII becomes "_".
    std::function<QByteArray(const QString &name)> EncodeAttachmentName;

    // Submission. With Security None and Auth off the dialogue is the plain one (HELO).
    // Credentials are never sent over an unprotected connection.
    SmtpSecurity Security = SmtpSecurity::None;
    bool Auth = false;
    QByteArray AuthUser; // UTF-8, used as given
    QByteArray Password; // UTF-8; never shown or written anywhere
    // An OAuth2 access token: when set, the login signs in with it (OAUTHBEARER, else
    // XOAUTH2) instead of the password. A secret like the password.
    QByteArray AccessToken;
    NotifyEvent OnSecured;       // TLS is up and the server's certificate verified
    NotifyEvent OnAuthenticated; // the server accepted the login

    // A Connect or SendMail is running.
    bool Busy = false;

    // A connection kept open from an earlier mail is used again only while it has been idle
    // for less than this many milliseconds; an older one is replaced by a fresh one.
    qint32 MaxIdleForReuse = 60000;

private:
    // Closes the connection without a QUIT (nobody would answer it, or the answer would mean
    // nothing) and forgets what it received.
    void DropConnection();

    // Connecting (SmtpClient.cpp).
    void CheckHeloName() const;
    // OpenSession; when it fails, the connection is left: with a QUIT after a refusal in
    // good order, at once otherwise.
    void OpenSessionOrLeave();
    // The part of Connect after the socket's: TLS, greeting, HELO or EHLO, STARTTLS, login.
    void OpenSession();
    // HELO or EHLO, with one more try when OnHeloRefused asks for it; gives the
    // lines of the accepted reply.
    QList<QByteArray> Hello(const QByteArray &verb);
    // Disconnect, whatever it says: the failure that led there is the one to report.
    void QuitQuietly();
    // The QUIT of Disconnect, before the connection is closed.
    void Quit(bool accepted);

    // Submission (SmtpSubmission.cpp).
    void HandshakeTls();
    void UpgradeWithStartTls(const QList<QByteArray> &capabilities);
    void Login(const QList<QByteArray> &capabilities);
    // Refuses, before anything is sent, a login that could not be sent safely.
    void CheckSubmission() const;
    // The text with the password taken out, whatever form it was sent in. Every failure of
    // Connect, SendMail and Disconnect leaves with its text scrubbed.
    QString Scrub(QString text) const;
    // "\0" user "\0" password, as AUTH PLAIN sends them in base64.
    QByteArray PlainCredentials() const;
    // The sign-in with AccessToken; the status the server's challenge named when it refused
    // the token, empty when it did not.
    QString SignInWithToken(const std::optional<QByteArray> &offered, const QList<QByteArray> &mechanisms);
    // What OAUTHBEARER (bearer) or XOAUTH2 sends in base64: the login name and the token.
    QByteArray TokenCredentials(bool bearer) const;

    // One mail (SmtpMailTransaction.cpp).
    void BeginMail();
    // Composition, the checks and OnSendStart: all that comes before the first command.
    void PrepareMail();
    // Addresses and header lines that would break the lines they go into are refused.
    void CheckLinesAreSafe() const;
    void CheckComplete();
    // RSET, on a connection kept from an earlier mail only while it is fit to be used again;
    // else once more on a fresh one, which costs nothing: none of the mail has gone out yet.
    void ResetOrReconnect();
    bool KeptConnectionAnswers();
    // MAIL FROM and RCPT TO; the first refused recipient's reason is kept for the failure.
    void SendEnvelope();
    void SendRecipient(const QByteArray &entry);
    // DATA, the message and ".".
    void SendData();
    // The header and the body, under a time-out that measures the upload's silence.
    void SendMessageText();
    void SendHeader();
    void ClearRecipientsAndAttachments();
    // The connection after a failure, and the failure's text as the user reads it.
    void AfterFailedMail(Exception &failure);
    // Busy ends; a connection that stays open starts its idle time.
    void EndMail();

    // Composition (SmtpComposition.cpp).
    void WriteBodyLines();
    // The encoded lines of the file, with OnEncodeStart and OnEncodeEnd around them, or
    // OnAttachmentNotFound and the failure to open it.
    QByteArray EncodeAttachment(const QString &path);

    // Replies (SmtpReplies.cpp).
    // A server's words as the user reads them: the lines, first line first, each trimmed and
    // cut at the longest reply line SMTP allows, the whole cut at MaxShownReply; cuts fall
    // between characters.
    static QString ReplyText(const QList<QByteArray> &lines);
    // The last reply's kept lines as the user reads them.
    QString ShownReply() const { return ReplyText(replyLines); }
    // The received bytes nobody has read, as lines with the bounds of a kept reply.
    QList<QByteArray> UnreadLines() const;
    // Sends a command and reads its whole reply under one time-out. Bytes that came before
    // the command was sent answer nothing it asked: the dialogue is out of step.
    QByteArray Command(const QByteArray &command);
    // Runs one wait for the server (a reply, a handshake, or the sending of the message)
    // under the time-out of TimeOut milliseconds, when one is set.
    QByteArray UnderTimeOut(const std::function<QByteArray()> &wait, bool upload = false);
    // Reads one whole reply into replyLines, checks its lines and returns the last.
    // ReplyCode is 0 while it is awaited.
    QByteArray ReadReply();
    void CheckReply(const QByteArray &reply) const;
    // The server refused what was asked in good order: the reply is the message, and the
    // connection stays usable (a QUIT may still be said).
    [[noreturn]] void ThrowRefusal(const QString &message);
    // The server has gone: its last reply tells why, when it sent one.
    [[noreturn]] void ThrowServerGone();

    // Whether data for a command or header line holds a line break or a zero byte.
    static bool HasLineBreakOrZero(const QByteArray &text);

    QByteArray body;
    QBuffer bodyStream;
    bool uploading = false; // the time-out measures the silence of the upload
    bool refused = false;   // the last failure was a refusal in good order
    bool delivered = false; // the server accepted the last message
    QByteArray boundary;
    QList<QByteArray> replyLines; // the kept lines of the last reply
    QString refusedRecipient;     // why the first recipient of this mail was refused
    QElapsedTimer sinceLastMail;  // valid once the connection has carried a mail
};
