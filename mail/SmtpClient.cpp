// The session: connecting (greeting, HELO or EHLO, TLS and the login), leaving with QUIT,
// and what a time-out or a cancel does to it.
#include "mail/SmtpClient.h"

#include "platform/Exception.h"

#include <QHostAddress>
#include <QScopedValueRollback>

#include <utility>

SmtpClient::SmtpClient(QObject *owner) : SocketClient(owner)
{
    Port = 25;
    bodyStream.setBuffer(&body);
    OnReceiveAfterCancel = [this](QObject *) { DropConnection(); };
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

void SmtpClient::DropConnection()
{
    SocketClient::Disconnect();
    ReceiveBuffer.clear();
}

// ---------------------------------------------------------------------------------------------
// Connecting

void SmtpClient::Connect()
{
    CheckHeloName();
    CheckSubmission();
    {
        // A Connect that SendMail's OnConnectionRequired started leaves SendMail's Busy set.
        const QScopedValueRollback<bool> busy(Busy, true);
        refused = false;
        delivered = false;
        try {
            SocketClient::Connect();
            OpenSessionOrLeave();
        } catch (Exception &e) {
            e.Message = Scrub(e.Message);
            throw;
        }
    }
    sinceLastMail.invalidate();
    if (OnConnect)
        OnConnect(this);
}

void SmtpClient::CheckHeloName() const
{
    if (HasLineBreakOrZero(HeloName))
        throw Exception(QStringLiteral("Invalid character in user ID"));
}

void SmtpClient::OpenSessionOrLeave()
{
    try {
        OpenSession();
    } catch (const ESockError &) {
        // Only a server that refused in good order still gets its QUIT. One that broke the
        // protocol, fell silent or was cancelled is left at once: its answer would never
        // come, or mean nothing.
        if (refused)
            QuitQuietly();
        else
            DropConnection();
        throw;
    } catch (...) {
        QuitQuietly();
        throw;
    }
}

void SmtpClient::QuitQuietly()
{
    try {
        Disconnect();
    } catch (...) {
        // The failure that brought us here is the one to report.
    }
}

void SmtpClient::OpenSession()
{
    if (Security == SmtpSecurity::Tls)
        HandshakeTls();
    UnderTimeOut([this] { return ReadReply(); });
    if (ReplyCode > 399)
        ThrowRefusal(ShownReply());
    // The plain dialogue says HELO, as it always did; submission needs the extensions.
    const bool extended = Security != SmtpSecurity::None || Auth;
    QList<QByteArray> capabilities = Hello(extended ? "EHLO" : "HELO");
    if (Security == SmtpSecurity::StartTls) {
        UpgradeWithStartTls(capabilities);
        capabilities = Hello("EHLO"); // what was offered in the clear counts no more
    }
    if (Auth)
        Login(capabilities);
}

namespace {

// What HELO and EHLO say for the name: an IPv6 address (bare or in brackets, its zone
// dropped) as the address literal RFC 5321 writes it, anything else as it is.
QByteArray HelloArgument(const QByteArray &name)
{
    const bool bracketed = name.startsWith('[') && name.endsWith(']');
    QHostAddress address;
    if (!name.contains(':') ||
        !address.setAddress(QString::fromLatin1(bracketed ? name.mid(1, name.size() - 2) : name)) ||
        address.protocol() != QAbstractSocket::IPv6Protocol)
        return name;
    address.setScopeId(QString());
    return "[IPv6:" + address.toString().toLatin1() + ']';
}

} // namespace

QList<QByteArray> SmtpClient::Hello(const QByteArray &verb)
{
    for (int attempts = 0;; ++attempts) {
        Command(verb + ' ' + HelloArgument(HeloName));
        if (ReplyCode <= 299)
            return replyLines;
        // The server's own words say why; the owner may still mend the name once.
        const QString refusal = ShownReply();
        bool retry = false;
        if (attempts == 0 && OnHeloRefused)
            OnHeloRefused(retry);
        if (!retry)
            ThrowRefusal(refusal);
        CheckHeloName();
    }
}

// ---------------------------------------------------------------------------------------------
// Leaving

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
    QString doubt = accepted ? ReplyText(UnreadLines()) : QString(); // unasked: no QUIT then
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
        TimeOutTimer->SetInterval(quint32(TimeOut - LastProgress.elapsed()));
        TimeOutTimer->SetEnabled(true);
        return;
    }
    // A time-out cancels the wait, also the wait for the reply to QUIT (not Busy):
    // closing the socket under it would leave that wait with nothing to end it.
    if (Busy || TimedOut)
        Cancel();
    else
        DropConnection();
}
