// The send command of the main window: what the window holds becomes one mail, sent at
// once through the window's SMTP client, whose progress the status bar shows.
#include "app/MainWindow.h"

#include "ui_MainWindow.h"

#include "app/BusyCursor.h"
#include "app/HeaderEncoding.h"
#include "imaging/Pipeline.h"
#include "mail/MailHeaderValues.h"
#include "platform/Command.h"
#include "platform/EventWait.h"
#include "platform/Exception.h"
#include "platform/MsgBox.h"
#include "platform/PasswordStore.h"
#include "settings/FileLocations.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QProgressBar>
#include <QScopeGuard>
#include <QTimer>

namespace {

// The destination as its To entry: as typed when that is ASCII and its name needs no
// quotes; else its name (the text around the address) as DisplayName gives it, then
// the address in angle brackets. The SMTP client takes a recipient only as one line, so
// the name's encoded words are joined by blanks rather than folded.
QByteArray ToEntry(const QString &typed, const QByteArray &address)
{
    QString name;
    const qsizetype lt = typed.indexOf(QLatin1Char('<'));
    if (lt >= 0) {
        const qsizetype gt = typed.indexOf(QLatin1Char('>'), lt);
        name = typed.left(lt) + (gt < 0 ? QString() : typed.mid(gt + 1));
    } else if (typed.contains(QLatin1Char(':'))) {
        name = typed.left(typed.indexOf(QLatin1Char(':')));
    }
    name = name.trimmed();
    const QString shown = DisplayName(name, 4).replace(QLatin1String("\r\n "), QLatin1String(" ")); // after "To: "
    if (IsAscii(typed) && shown == name)
        return typed.toLatin1();
    return (shown.isEmpty() ? QString() : shown + QLatin1Char(' ')).toLatin1() + '<' + address + '>';
}

} // namespace

QString AdvertisementFooter()
{
    // The same words in both languages, so a Japanese window sends the bytes it always has.
    return MainWindow::tr("Sent with kelvo [%1]").arg(HomePageAddress);
}

void MainWindow::BindSmtpEvents()
{
    smtpClient->OnSecured = [this](QObject *) { SetStatusText(tr("暗号化通信を開始しました。")); };
    smtpClient->OnAuthenticated = [this](QObject *) { SetStatusText(tr("認証に成功しました。")); };
    smtpClient->OnConnect = [this](QObject *) { SetStatusText(tr("サーバに接続しました。")); };
    smtpClient->OnSendStart = [this](QObject *) {
        SetStatusText(tr("送信開始"));
        ProgressBar->setValue(0);
    };
    smtpClient->OnPacketSent = [this](QObject *) {
        SetStatusText(tr("%1バイト中%2バイト送信").arg(smtpClient->TotalBytes).arg(smtpClient->SentBytes));
        const qint64 total = smtpClient->TotalBytes;
        ProgressBar->setValue(
            total > 0 ? static_cast<int>(std::min<qint64>(100, qint64(smtpClient->SentBytes) * 100 / total)) : 100);
    };
    smtpClient->OnSuccess = [this](QObject *) {
        SetStatusText(tr("送信成功"));
        sentTexts = composedTexts; // nothing of this mail is unsent any more
    };
    smtpClient->OnDisconnect = [this](QObject *) { SetStatusText(tr("サーバから切断しました。")); };
    smtpClient->OnStatus = [this](QObject *, const QString &status) { SetStatusText(status); };
    smtpClient->OnMessageRefused = [](QObject *) { WarningBox(tr("問題が発生しました。")); };
    // A server that cannot be reached is told of once, by the error box: the client's failure
    // names the server, the port and the system's reason.
    // HELO refused: the error box that follows gives the server's own words.
    smtpClient->OnHeloRefused = [](bool &) { WarningBox(tr("サーバに接続を断られました。")); };
    smtpClient->OnAttachmentNotFound = [](const QString &) { WarningBox(tr("添付すべきファイルが削除されました。")); };
    smtpClient->OnConnectionRequired = [this](bool &handled) {
        if (ConfirmBox(tr("Connection Required. Connect?"), MsgButtons::OkCancel) == MsgResult::Ok) {
            handled = true;
            smtpClient->Connect();
        }
    };
}

void MainWindow::RunSend()
{
    // The client's waits keep the window alive, so the command could be started again
    // from inside itself; it is off until this send has returned. So are the settings:
    // their OK may save a new password that a login the server refuses then forgets. The
    // other commands stay usable: they change the picture, the boxes or the address book,
    // and the send has taken what it needs of those before it connects (its waits before
    // that are modal boxes and the keyring's, which takes no input).
    if (sending)
        return;
    sending = true;
    ui->sendAction->setEnabled(false);
    ui->settingsAction->setEnabled(false);
    RunCommand([this] {
        // The bar and the status show this send only: empty while it connects, and the bar
        // emptied again when it fails, so that a full bar always means a mail that went out
        // whole.
        ProgressBar->setValue(0);
        SetStatusText(QString());
        try {
            ComposeAndSend();
        } catch (...) {
            ProgressBar->setValue(0);
            // A send cancelled by closing the window ends without an error box.
            if (!closeRequested)
                throw;
        }
    });
    ui->sendAction->setEnabled(true);
    ui->settingsAction->setEnabled(true);
    sending = false;
    if (closeRequested)
        QTimer::singleShot(0, this, &QWidget::close);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (sending) {
        // The send is cancelled, whatever it waits for (the keyring, the server); the
        // window closes once the send command has returned.
        closeRequested = true;
        PasswordStore::StopWaiting();
        EventWait::StopAll();
        smtpClient->Cancel();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::ComposeAndSend()
{
    smtpClient->Mail.Body.clear();
    if (!SettingsAllowSending() || !PictureOrConsent())
        return;
    if (ui->pictureNameEdit->text().isEmpty())
        ui->pictureNameEdit->setText(QStringLiteral("kelvo"));
    const std::optional<QByteArray> toEntry = CheckedToEntry();
    if (!toEntry)
        return;
    // Asked before the footer, so that a cancelled prompt leaves everything as it was.
    const QString login = LoginName(Settings);
    const QString account = PasswordStore::Account(Settings.SmtpHost, login);
    const std::optional<QString> password =
        Settings.Auth == SmtpLogin::Password ? PasswordFor(account, login) : QString();
    if (!password)
        return;
    std::optional<SignIn> signIn;
    if (Settings.Auth == SmtpLogin::OAuth2 && !(signIn = SignInForSending(login)))
        return;
    AppendFooter();
    FillClient(login, *password);
    // The client keeps no copy of the password or the token once a send is over, however it ends.
    const auto wipe = qScopeGuard([this, &signIn] {
        SocketClient::Wipe(smtpClient->Password);
        SocketClient::Wipe(smtpClient->AccessToken);
        if (signIn)
            SocketClient::Wipe(signIn->Token);
    });
    if (signIn)
        UseSignIn(*signIn);
    ComposeMessage(*toEntry);
    const QString attachment = WriteAttachment();
    if (!AttachmentFitsOrConsent(attachment))
        return;
    smtpClient->Mail.Attachments.clear();
    if (PicturePresent())
        smtpClient->Mail.Attachments.append(attachment);
    // A close that came during any wait so far (a question, the keyring) ends the send
    // here: connecting would clear the cancel it made, and the mail would go out anyway.
    if (closeRequested)
        return;
    ConnectAndSend(account, signIn ? &*signIn : nullptr);
    DisconnectAfterSending();
}

bool MainWindow::SettingsAllowSending()
{
    // A Security the settings file holds but kelvo does not know may have been meant as
    // protection: no send goes out on it, plain or otherwise, until the settings are saved.
    if (!Settings.UnknownSecurity.isEmpty()) {
        WarningBox(tr("設定ファイルの [smtp] Security=%1 は 0、1、2 のどれでもないため、送信できません。"
                      "「kelvoの設定」で接続の保護を選んで保存してください。")
                       .arg(Settings.UnknownSecurity));
        return false;
    }
    if (!SignInAllowsSending())
        return false;
    // Said before anything is asked. The desktop's account brings its own protection.
    if (Settings.Auth == SmtpLogin::Password && !ProtectsLogin(Settings.Security)) {
        WarningBox(tr("暗号化しない接続ではSMTP認証のパスワードを送れません。"
                      "「kelvoの設定」で、接続の保護に STARTTLS か SSL/TLS を選んでください。"));
        return false;
    }
    return true;
}

bool MainWindow::PictureOrConsent()
{
    return PicturePresent() ||
           ConfirmBox(tr("画像が読み込まれていません。送信しますか？"), MsgButtons::YesNo) != MsgResult::No;
}

std::optional<QByteArray> MainWindow::CheckedToEntry()
{
    if (!DestinationText().contains(QLatin1Char('@'))) {
        WarningBox(tr("正しいメールアドレスを入力してください。"));
        return std::nullopt;
    }
    // Only the name may be Japanese: an address outside ASCII would go out as raw bytes.
    // The To line must stay within the 998 bytes of a header line.
    const QByteArray address = SmtpClient::ExtractAddress(DestinationText().toUtf8());
    if (!IsAscii(QString::fromUtf8(address))) {
        WarningBox(tr("送信先のメールアドレスには半角の英数字と記号だけを使ってください。"));
        return std::nullopt;
    }
    const QByteArray toEntry = ToEntry(DestinationText(), address);
    if (toEntry.size() > 998 - 4) { // after "To: "
        WarningBox(tr("送信先が長すぎます。名前を短くしてください。"));
        return std::nullopt;
    }
    return toEntry;
}

std::optional<QString> MainWindow::PasswordFor(const QString &account, const QString &login)
{
    // The status says what the send waits for while the keyring is asked (a locked one
    // first asks the user to unlock it), then goes back to what it said; a password
    // already in memory comes back before the window could show it. The window stays alive
    // during the wait: it may even be closed before the keyring answers.
    const QString status = StatusText();
    SetStatusText(tr("キーリングからパスワードを読み込んでいます…"));
    std::optional<QString> password = PasswordStore::Find(account);
    SetStatusText(status);
    // The window was closed while the keyring was asked: nothing is sent.
    if (closeRequested)
        return std::nullopt;
    if (password && !password->isEmpty())
        return password;
    // Kept in memory until kelvo ends.
    password = AskPassword ? AskPassword(Settings.SmtpHost, login) : std::nullopt;
    // Cancelled, or the window was closed meanwhile: nothing is sent.
    if (!password || closeRequested)
        return std::nullopt;
    PasswordStore::Remember(account, *password);
    return password;
}

void MainWindow::AppendFooter()
{
    // The footer becomes part of the body the user sees, once: a body that ends with it
    // already (a send that failed, the same mail sent again) keeps the one it has.
    const QString footer = QStringLiteral("\n---\n") + AdvertisementFooter();
    QString body = ui->bodyEdit->toPlainText();
    while (body.endsWith(QLatin1Char('\n')))
        body.chop(1);
    if (Settings.AdFooter && !body.endsWith(footer))
        ui->bodyEdit->setPlainText(ui->bodyEdit->toPlainText() + footer);
}

void MainWindow::FillClient(const QString &login, const QString &password)
{
    smtpClient->Host = Settings.SmtpHost;
    smtpClient->Port = Settings.SmtpPort;
    smtpClient->HeloName = Settings.HeloName.toUtf8();
    smtpClient->Security = Settings.Security;
    smtpClient->Auth = Settings.Auth != SmtpLogin::None;
    smtpClient->AuthUser = smtpClient->Auth ? login.toUtf8() : QByteArray();
    smtpClient->Password = password.toUtf8();
}

void MainWindow::ComposeMessage(const QByteArray &toEntry)
{
    // The mail layer takes bytes: names outside ASCII become encoded words, a body outside
    // ASCII ISO-2022-JP lines.
    MailMessage &message = smtpClient->Mail;
    Settings.DestAddress = DestinationText();
    message.Date = DateHeaderValue(QDateTime::currentDateTime());
    message.FromAddress = Settings.FromAddress.toUtf8();
    // A name as typed stands right before "<"; a quoted or encoded one gets a blank.
    const QString fromName = DisplayName(Settings.FromName, 6); // after "From: "
    message.FromName = (fromName == Settings.FromName ? fromName : fromName + QLatin1Char(' ')).toLatin1();
    composedTexts = Texts();
    message.Subject = EncodeSubject(ui->subjectEdit->text()).toLatin1();
    message.To.clear();
    message.To.append(toEntry);
    bool ascii = true;
    // The lines of the box: a final line break ends the last line, it starts no new one.
    QStringList lines = ui->bodyEdit->toPlainText().split(QLatin1Char('\n'));
    if (lines.last().isEmpty())
        lines.removeLast();
    message.Body = EncodeBodyLines(lines, ascii);
    smtpClient->BodyCharset = ascii ? QByteArray("us-ascii") : QByteArray("iso-2022-jp");
}

QString MainWindow::WriteAttachment()
{
    // In the attachment folder (beside the program, or kelvo's cache folder), at the best
    // quality within the limit; written even without a picture. The name names a file
    // there and nowhere else.
    const QString name = ui->pictureNameEdit->text();
    if (name.contains(QLatin1Char('/')) || name == QLatin1String(".") || name == QLatin1String(".."))
        throw Exception(tr("画像名「%1」はファイル名に使えません。").arg(name));
    QString attachment = AttachmentFolder() + name + QStringLiteral(".jpg");
    MakeFolderFor(attachment);
    WhileBusy([&] { return EncodeUnderLimit(Picture, attachment, Settings.SizeLimit); });
    return attachment;
}

bool MainWindow::AttachmentFitsOrConsent(const QString &attachment)
{
    // Even the lowest quality can be over the limit (a large dot size with a small limit);
    // the carrier would then refuse or cut the mail, so the user decides.
    return !PicturePresent() || QFileInfo(attachment).size() <= Settings.SizeLimit ||
           ConfirmBox(tr("画質を最も下げても画像が制限の%1バイトに収まりません。このまま送信しますか？")
                          .arg(Settings.SizeLimit),
                      MsgButtons::YesNo) != MsgResult::No;
}

void MainWindow::ConnectAndSend(const QString &account, SignIn *signIn)
{
    for (bool renewed = false;; renewed = true) {
        try {
            ConnectAndSendOnce();
            return;
        } catch (const ETokenRefused &e) {
            // A token can end before its time (revoked, or the server's clock): a fresh one is
            // tried once, without the browser. Refused again, it is the account that is not let in.
            if (!signIn || renewed)
                throw Exception(tr("%1\n新しいトークンも受け付けられませんでした。このアカウントで SMTP の送信が"
                                   "許可されているか確認してください。")
                                    .arg(e.Message));
            RenewToken(*signIn);
            if (closeRequested) // the window was closed meanwhile: the send ends unseen
                throw EAbortError(QStringLiteral("Canceled"));
            smtpClient->AccessToken = signIn->Token;
        } catch (const EAuthError &e) {
            // A refused password is not tried again: the next send asks for it.
            PasswordStore::Forget(account);
            throw Exception(tr("%1\nパスワードは消去しました。次の送信で入力してください。").arg(e.Message));
        }
    }
}

void MainWindow::ConnectAndSendOnce()
{
    // A connection left open by a failed send is used again (its next mail starts with
    // RSET) unless the server, its protection or the login changed since; then it is
    // dropped first: a plain connection must not carry a mail meant to go encrypted.
    const Connection wanted{smtpClient->Host, smtpClient->Port, smtpClient->Security, smtpClient->Auth,
                            smtpClient->AuthUser};
    if (smtpClient->Connected && connectedWith != wanted)
        smtpClient->SocketClient::Disconnect();
    if (!smtpClient->Connected) {
        connectedWith = wanted;
        smtpClient->Connect();
    }
    smtpClient->SendMail();
}

void MainWindow::DisconnectAfterSending()
{
    try {
        smtpClient->Disconnect();
    } catch (const EDeliveryInDoubt &e) {
        // The server took the mail, then said something else than goodbye: no success.
        ProgressBar->setValue(0);
        WarningBox(
            tr("送信したメールがサーバに受け付けられなかった可能性があります。\nサーバの応答：\n%1").arg(e.Message));
    }
}
