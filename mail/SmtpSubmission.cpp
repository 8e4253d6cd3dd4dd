// Submission as today's providers want it: TLS (from the first byte, or after STARTTLS) and
// the login with AUTH PLAIN or AUTH LOGIN. Nothing here ever falls back to less: what was
// asked for is had, or the send ends.
#include "mail/SmtpClient.h"

#include "platform/Exception.h"

#include <QCoreApplication>

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
    if (!ProtectsLogin(Security))
        throw Exception(QCoreApplication::translate("Mail",
                                                    "パスワードを暗号化せずに送ることはできません。"
                                                    "セキュリティの設定で STARTTLS か SSL/TLS を選んでください。"));
    if (AuthUser.contains('\0') || Password.contains('\0'))
        throw Exception(
            QCoreApplication::translate("Mail", "ログイン名とパスワードに NUL 文字（文字コード 0）は使えません。"));
    if (HasLineBreakOrZero(AuthUser) || HasLineBreakOrZero(Password))
        throw Exception(QCoreApplication::translate("Mail", "ログイン名とパスワードに改行は使えません。"));
    // The longest form the login takes: AUTH PLAIN with both in base64. A server need not
    // read more of it than that; what it cut off would leave it waiting for the rest.
    const qsizetype plainLine = 11 + (2 + AuthUser.size() + Password.size() + 2) / 3 * 4 + 2;
    if (plainLine > MaxAuthLine)
        throw Exception(QCoreApplication::translate(
                            "Mail", "ログイン名とパスワードが長すぎて送れません（ログインの行は %1 バイトまでです）。")
                            .arg(MaxAuthLine));
}

QString SmtpClient::Scrub(QString text) const
{
    if (Password.isEmpty())
        return text;
    Secret plain{PlainCredentials()}, both{plain.bytes.toBase64()}, alone{Password.toBase64()};
    for (const QByteArray *secret : {&both.bytes, &alone.bytes})
        text.replace(QString::fromUtf8(*secret), QStringLiteral("********"));
    // Only a server that echoes the decoded login shows the password as typed; a very short
    // one would be found in ordinary words and mangle the message for nothing.
    if (Password.size() >= MinScrubbedPassword)
        text.replace(QString::fromUtf8(Password), QStringLiteral("********"));
    return text;
}

QByteArray SmtpClient::PlainCredentials() const
{
    QByteArray plain;
    plain.reserve(2 + AuthUser.size() + Password.size()); // no copy left behind by growing
    return plain.append('\0').append(AuthUser).append('\0').append(Password);
}

void SmtpClient::HandshakeTls()
{
    UnderTimeOut([this] {
        StartTls(RelayHost.isEmpty() ? Host : RelayHost);
        return QByteArray();
    });
    if (OnSecured)
        OnSecured(this);
}

void SmtpClient::UpgradeWithStartTls(const QList<QByteArray> &capabilities)
{
    if (!Extension(capabilities, "STARTTLS"))
        ThrowRefusal(QCoreApplication::translate(
                         "Mail", "%1 は STARTTLS に対応していません。セキュリティの設定を確認してください。")
                         .arg(Host));
    Command("STARTTLS");
    if (ReplyCode > 399)
        ThrowRefusal(
            QCoreApplication::translate("Mail", "%1 が STARTTLS を断りました（%2）。").arg(Host, ShownReply()));
    if (ReplyCode != 220)
        throw ESockError(QStringLiteral("Unexpected reply to STARTTLS: ") + ShownReply());
    // Bytes behind the 220 came in the clear: read after the handshake they would pass for
    // words of the protected server.
    if (!ReceiveBuffer.isEmpty())
        throw ESockError(QStringLiteral("The server sent data before TLS began"));
    HandshakeTls();
}

void SmtpClient::Login(const QList<QByteArray> &capabilities)
{
    const std::optional<QByteArray> offered = Extension(capabilities, "AUTH");
    const QList<QByteArray> mechanisms = offered ? offered->toUpper().split(' ') : QList<QByteArray>();
    // Every copy the credentials take on their way out is zeroed on every way out: the
    // command lines here, and below them Writeln's line, the text buffer of Write and the
    // send queue. OpenSSL keeps only the encrypted records.
    struct Wipe
    {
        QByteArray &buffer;
        ~Wipe() { buffer.fill('\0'); }
    } wipe{TextBuffer};
    if (mechanisms.contains("PLAIN")) {
        Secret plain{PlainCredentials()}, encoded{plain.bytes.toBase64()}, line{"AUTH PLAIN " + encoded.bytes};
        Command(line.bytes);
    } else if (mechanisms.contains("LOGIN")) {
        Command("AUTH LOGIN");
        if (ReplyCode == 334)
            Command(AuthUser.toBase64());
        if (ReplyCode == 334) {
            Secret encoded{Password.toBase64()};
            Command(encoded.bytes);
        }
    } else {
        ThrowRefusal(
            offered ? QCoreApplication::translate(
                          "Mail", "%1 は kelvo が使えるログイン方式（PLAIN、LOGIN）に対応していません。")
                          .arg(Host)
                    : QCoreApplication::translate("Mail", "%1 はログイン（SMTP AUTH）に対応していません。").arg(Host));
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
            QCoreApplication::translate("Mail", "%1 にログインできませんでした（%2）。").arg(Host, ShownReply()));
    }
    if (ReplyCode > 399)
        ThrowRefusal(ShownReply());
    throw ESockError(QStringLiteral("Unexpected reply to the login: ") + ShownReply());
}
