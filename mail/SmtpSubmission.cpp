// Submission as today's providers want it: TLS (from the first byte, or after STARTTLS) and
// the login with AUTH PLAIN or AUTH LOGIN. Nothing here ever falls back to less: what was
// asked for is had, or the send ends.
#include "mail/SmtpClient.h"

#include "platform/Exception.h"

#include <optional>

namespace {

// A password as typed is taken out of a server's words only from this length on.
constexpr qsizetype MinScrubbedPassword = 4;

// The parameters of keyword in the lines of an EHLO reply (all of them, when the server
// names it more than once, as in "AUTH LOGIN" beside the old "AUTH=LOGIN"), or nothing
// when it is not offered. The first line names the server; the lines were kept with bounds,
// and one longer than a reply line may be names no capability anyone can trust.
std::optional<QByteArray> Extension(const QList<QByteArray> &lines, const QByteArray &keyword)
{
    std::optional<QByteArray> found;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].size() > SmtpClient::MaxReplyLine)
            continue;
        const QByteArray text = lines[i].mid(4).trimmed();
        qsizetype end = 0;
        while (end < text.size() && text[end] != ' ' && text[end] != '=')
            ++end;
        if (text.left(end).compare(keyword, Qt::CaseInsensitive) == 0)
            found = (found ? *found + ' ' : QByteArray()) + text.mid(end + 1).trimmed();
    }
    return found;
}

} // namespace

void SmtpClient::CheckSubmission() const
{
    if (!Auth)
        return;
    if (Security == SmtpSecurity::None)
        throw Exception(QStringLiteral("パスワードを暗号化せずに送ることはできません。"
                                       "セキュリティの設定で STARTTLS か SSL/TLS を選んでください。"));
    if (HasLineBreakOrZero(AuthUser) || HasLineBreakOrZero(Password))
        throw Exception(QStringLiteral("ログイン名とパスワードに改行は使えません。"));
}

QString SmtpClient::Scrub(QString text) const
{
    if (Password.isEmpty())
        return text;
    const QByteArray plain = QByteArray(1, '\0') + AuthUser + QByteArray(1, '\0') + Password;
    for (const QByteArray &secret : {plain.toBase64(), Password.toBase64()})
        text.replace(QString::fromUtf8(secret), QStringLiteral("********"));
    // Only a server that echoes the decoded login shows the password as typed; a very short
    // one would be found in ordinary words and mangle the message for nothing.
    if (Password.size() >= MinScrubbedPassword)
        text.replace(QString::fromUtf8(Password), QStringLiteral("********"));
    return text;
}

void SmtpClient::Secure()
{
    Timed([this] {
        StartTls(RelayHost.isEmpty() ? Host : RelayHost);
        return QByteArray();
    });
    if (OnSecured)
        OnSecured(this);
}

void SmtpClient::StartTlsAfter(const QList<QByteArray> &capabilities)
{
    if (!Extension(capabilities, "STARTTLS"))
        Refuse(QStringLiteral("%1 は STARTTLS に対応していません。セキュリティの設定を確認してください。").arg(Host));
    const QByteArray reply = Command("STARTTLS");
    if (ReplyCode > 399)
        Refuse(QStringLiteral("%1 が STARTTLS を断りました（%2）。").arg(Host, ReplyText(reply).trimmed()));
    if (ReplyCode != 220)
        throw ESockError(QStringLiteral("Unexpected reply to STARTTLS: ") + ReplyText(reply).trimmed());
    // Bytes behind the 220 came in the clear: read after the handshake they would pass for
    // words of the protected server.
    if (!ReceiveBuffer.isEmpty())
        throw ESockError(QStringLiteral("The server sent data before TLS began"));
    Secure();
}

void SmtpClient::Login(const QList<QByteArray> &capabilities)
{
    const std::optional<QByteArray> offered = Extension(capabilities, "AUTH");
    const QList<QByteArray> mechanisms = offered ? offered->toUpper().split(' ') : QList<QByteArray>();
    // Of the copies the credentials leave on their way out, the one in the text buffer of
    // Write would last until the client ends (later, shorter lines overwrite only its
    // start): it is zeroed on every way out. The rest is not wiped: the command lines,
    // Writeln's copy, the send queue and OpenSSL's buffers are freed as they are, and
    // Password itself is kept for the next send.
    struct Wipe
    {
        QByteArray &buffer;
        ~Wipe() { buffer.fill('\0'); }
    } wipe{TextBuffer};
    QByteArray reply;
    if (mechanisms.contains("PLAIN")) {
        reply = Command("AUTH PLAIN " + (QByteArray(1, '\0') + AuthUser + QByteArray(1, '\0') + Password).toBase64());
    } else if (mechanisms.contains("LOGIN")) {
        reply = Command("AUTH LOGIN");
        if (ReplyCode == 334)
            reply = Command(AuthUser.toBase64());
        if (ReplyCode == 334)
            reply = Command(Password.toBase64());
    } else {
        Refuse(offered
                   ? QStringLiteral("%1 は kelvo が使えるログイン方式（PLAIN、LOGIN）に対応していません。").arg(Host)
                   : QStringLiteral("%1 はログイン（SMTP AUTH）に対応していません。").arg(Host));
    }
    if (ReplyCode == 235) {
        if (OnAuthenticated)
            OnAuthenticated(this);
        return;
    }
    // Only 535 says the credentials are wrong, and only then is the stored password given
    // up; a refusal for now (454, 421) or of the mechanism (504, 534, 538) is an ordinary
    // one: the same password may well do next time.
    if (ReplyCode == 535) {
        refused = true;
        throw EAuthError(
            QStringLiteral("%1 にログインできませんでした（%2）。").arg(Host, Scrub(ReplyText(reply).trimmed())));
    }
    if (ReplyCode > 399)
        Refuse(Scrub(ReplyText(reply)));
    throw ESockError(QStringLiteral("Unexpected reply to the login: ") + Scrub(ReplyText(reply).trimmed()));
}
