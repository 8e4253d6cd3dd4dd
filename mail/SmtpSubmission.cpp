// Submission as today's providers want it: TLS (from the first byte, or after STARTTLS) and
// the login with AUTH PLAIN or AUTH LOGIN, or the sign-in with an OAuth2 access token
// (OAUTHBEARER, XOAUTH2). Nothing here ever falls back to less: what was asked for is had,
// or the send ends.
#include "mail/SmtpClient.h"

#include "platform/Exception.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cctype>
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

// Whether the token may stand in a command line as it is: the characters of a bearer token
// (RFC 6750), which a token endpoint must give and no server will take others of.
bool IsBearerToken(const QByteArray &token)
{
    static const QByteArray marks = "-._~+/=";
    return std::all_of(token.begin(), token.end(), [](char c) { return std::isalnum(uchar(c)) || marks.contains(c); });
}

// The status of the JSON error that a server's 334 challenge carries in base64 when it refuses
// a token (RFC 7628: {"status":"invalid_token",...}; XOAUTH2: {"status":"401",...}); empty
// when the challenge holds none. Only printable ASCII of it is kept, and little of that.
QString ChallengeStatus(const QByteArray &challenge)
{
    const QJsonValue status =
        QJsonDocument::fromJson(QByteArray::fromBase64(challenge.mid(4).trimmed())).object().value("status");
    const QString text = status.isDouble() ? QString::number(status.toInt()) : status.toString();
    QString kept;
    for (const QChar c : text.left(40))
        if (c.unicode() > 32 && c.unicode() < 127)
            kept += c;
    return kept;
}

} // namespace

void SmtpClient::CheckSubmission() const
{
    if (!Auth)
        return;
    if (!AccessToken.isEmpty() && !ProtectsLogin(Security))
        throw Exception(QCoreApplication::translate("Mail",
                                                    "サインインのトークンを暗号化せずに送ることはできません。"
                                                    "セキュリティの設定で STARTTLS か SSL/TLS を選んでください。"));
    if (!ProtectsLogin(Security))
        throw Exception(QCoreApplication::translate("Mail",
                                                    "パスワードを暗号化せずに送ることはできません。"
                                                    "セキュリティの設定で STARTTLS か SSL/TLS を選んでください。"));
    if (AuthUser.contains('\0') || Password.contains('\0'))
        throw Exception(
            QCoreApplication::translate("Mail", "ログイン名とパスワードに NUL 文字（文字コード 0）は使えません。"));
    if (HasLineBreakOrZero(AuthUser) || HasLineBreakOrZero(Password))
        throw Exception(QCoreApplication::translate("Mail", "ログイン名とパスワードに改行は使えません。"));
    if (!AccessToken.isEmpty()) {
        // The token goes into the line as it came; \x01 separates the fields around the name.
        if (!IsBearerToken(AccessToken) || AuthUser.contains('\x01'))
            throw Exception(
                QCoreApplication::translate("Mail", "サインインのトークンかログイン名に使えない文字があります。"));
        const qsizetype bearerLine = 17 + (TokenCredentials(true).size() + 2) / 3 * 4 + 2;
        if (bearerLine > MaxAuthLine)
            throw Exception(
                QCoreApplication::translate(
                    "Mail", "サインインのトークンが長すぎて送れません（ログインの行は %1 バイトまでです）。")
                    .arg(MaxAuthLine));
        return;
    }
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
    if (!AccessToken.isEmpty()) {
        for (const bool bearer : {true, false}) {
            Secret credentials{TokenCredentials(bearer)}, encoded{credentials.bytes.toBase64()};
            text.replace(QString::fromLatin1(encoded.bytes), QStringLiteral("********"));
        }
        if (AccessToken.size() >= MinScrubbedPassword)
            text.replace(QString::fromLatin1(AccessToken), QStringLiteral("********"));
    }
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

QByteArray SmtpClient::TokenCredentials(bool bearer) const
{
    QByteArray name = AuthUser;
    if (bearer) // a SASL name: "," and "=" would end the field (RFC 5801)
        name.replace('=', "=3D").replace(',', "=2C");
    const QByteArray host = Host.toUtf8(), port = QByteArray::number(Port);
    QByteArray credentials;
    credentials.reserve(64 + name.size() + host.size() + AccessToken.size()); // no copy left behind
    if (bearer)
        credentials.append("n,a=").append(name).append(",\x01host=").append(host).append("\x01port=").append(port);
    else
        credentials.append("user=").append(name);
    return credentials
        .append("\x01"
                "auth=Bearer ")
        .append(AccessToken)
        .append("\x01\x01");
}

QString SmtpClient::SignInWithToken(const std::optional<QByteArray> &offered, const QList<QByteArray> &mechanisms)
{
    const bool bearer = mechanisms.contains("OAUTHBEARER");
    if (!bearer && !mechanisms.contains("XOAUTH2"))
        ThrowRefusal(
            offered ? QCoreApplication::translate(
                          "Mail", "%1 は OAuth2 のサインイン（OAUTHBEARER、XOAUTH2）に対応していません。")
                          .arg(Host)
                    : QCoreApplication::translate("Mail", "%1 はログイン（SMTP AUTH）に対応していません。").arg(Host));
    Secret credentials{TokenCredentials(bearer)}, encoded{credentials.bytes.toBase64()},
        line{(bearer ? "AUTH OAUTHBEARER " : "AUTH XOAUTH2 ") + encoded.bytes};
    Command(line.bytes);
    if (ReplyCode != 334)
        return {};
    // A refused token: the challenge carries the reason, and the client's answer lets the
    // final reply come (RFC 7628 asks for \x01, XOAUTH2 servers for an empty line).
    QString status = ChallengeStatus(replyLines.value(0));
    Command(bearer ? "AQ==" : "");
    return status;
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
    QString tokenStatus;
    if (!AccessToken.isEmpty()) {
        tokenStatus = SignInWithToken(offered, mechanisms);
    } else if (mechanisms.contains("PLAIN")) {
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
        if (!AccessToken.isEmpty())
            throw ETokenRefused(
                tokenStatus.isEmpty()
                    ? QCoreApplication::translate("Mail", "%1 がサインインのトークンを受け付けませんでした（%2）。")
                          .arg(Host, ShownReply())
                    : QCoreApplication::translate("Mail",
                                                  "%1 がサインインのトークンを受け付けませんでした（%2、状態 %3）。")
                          .arg(Host, ShownReply(), tokenStatus));
        throw EAuthError(
            QCoreApplication::translate("Mail", "%1 にログインできませんでした（%2）。").arg(Host, ShownReply()));
    }
    if (ReplyCode > 399)
        ThrowRefusal(ShownReply());
    throw ESockError(QStringLiteral("Unexpected reply to the login: ") + ShownReply());
}
