#include "app/MainWindow.h"

#include "ui_MainWindow.h"

#include "app/HeaderEncoding.h"
#include "app/PasswordDialog.h"
#include "imaging/Pipeline.h"
#include "platform/Command.h"
#include "platform/Exception.h"
#include "platform/Fonts.h"
#include "platform/MsgBox.h"
#include "platform/PasswordStore.h"
#include "platform/ProgramFolder.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QMimeData>
#include <QProgressBar>
#include <QScopeGuard>
#include <QStyle>
#include <QTimer>
#include <QUrl>

namespace {

// Runs work under a busy cursor (a large HEIC photo takes a second or more to read, all of
// it on this thread); the cursor is put back however the work ends, by an exception too.
template <typename Work> auto WhileBusy(Work work)
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    return work();
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>())
{
    ui->setupUi(this);
    setFont(FormFont());
    setObjectName(QStringLiteral("mainWindow"));

    // Fixed single border, minimise box only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    ui->ClientArea->setFixedSize(421, 324);
    setCentralWidget(ui->ClientArea);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    move(247, 121);

    // Icons of the image list: new mail 0, open 1, save 2, web 9.
    ui->acNEW->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
    ui->mnuOpen->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    ui->acOpen->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    ui->acSave->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    ui->acWeb->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));

    ui->SpeedButton2->setDefaultAction(ui->acSend);
    ui->txtFilemei->setAttribute(Qt::WA_InputMethodEnabled, false);
    ui->DestCombo->setAttribute(Qt::WA_InputMethodEnabled, false);
    if (ui->DestCombo->lineEdit())
        ui->DestCombo->lineEdit()->setAttribute(Qt::WA_InputMethodEnabled, false);
    ui->txtBody->MaxLength = 1000;

    // The preview box's background is the system's grey-text colour; the picture is
    // drawn over the hint label.
    ui->ImgScroll->setBackgroundRole(QPalette::Dark);
    QPalette grey = ui->ImgScroll->palette();
    grey.setColor(QPalette::Window, palette().color(QPalette::Disabled, QPalette::WindowText));
    ui->ImgScrollContents->setAutoFillBackground(true);
    ui->ImgScrollContents->setPalette(grey);
    ui->PicData->raise();

    // The SMTP client and its stored properties. The header line put in FinalHeader
    // here is never sent: composition clears the list first.
    smtpClient = new SmtpClient(this);
    smtpClient->setObjectName(QStringLiteral("smtpClient"));
    smtpClient->Port = 25;
    smtpClient->ReportLevel = 0;
    smtpClient->AttachmentEncoding = EncodingMethod::Base64;
    smtpClient->ClearRecipientsAfterSend = true;
    smtpClient->TimeOut = SmtpTimeOut;
    smtpClient->FinalHeader = HeaderList({QByteArray("Content-Type: text/plain; charset=iso-2022-jp")});
    // A picture's name outside ASCII: encoded words as in the headers, for mail programs that
    // read no other form. The word stands after ' filename="' on a line of its own.
    smtpClient->EncodeAttachmentName = [](const QString &name) { return EncodeWords(name, 11).toLatin1(); };
    BindSmtpEvents();

    // 1. Version text, mailer name and caption.
    VersionText = QStringLiteral("kelvo Ver. 0.32 beta");
    smtpClient->Mail.Mailer = VersionText.toUtf8();
    setWindowTitle(VersionText);
    // 2. The subject box.
    ui->txtSubject->setText(QStringLiteral("Message from ") + VersionText);
    // 3. Dropped files are taken by the window, wherever they land: the edit boxes would
    // otherwise take a dropped file as the text of its address.
    setAcceptDrops(true);
    for (QWidget *box :
         {static_cast<QWidget *>(ui->txtSubject), static_cast<QWidget *>(ui->txtFilemei),
          static_cast<QWidget *>(ui->DestCombo), static_cast<QWidget *>(ui->txtBody), ui->txtBody->viewport()})
        box->setAcceptDrops(false);
    if (ui->DestCombo->lineEdit())
        ui->DestCombo->lineEdit()->setAcceptDrops(false);
    // 4. Built-in settings (MainSettings holds them: DotSize 120, SizeLimit 4800, ...).
    Settings = MainSettings();
    // 5. The preview's hint.
    ui->PicSetu->setText(QStringLiteral(
        "ここに画像ファイル\r\n[bmp,jpeg,jpg,png,\r\nwebp,heic,heif]を\r\nドラッグ＆ドロップ\r\nしてください。"));
    ui->PicSetu->adjustSize();
    // 6. The progress bar over status panel 1.
    ProgressBar = new QProgressBar(ui->StatusBar);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(302, 2, 98, 22);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    AskSavePath = [this] {
        // The save dialog of the form: title, default name and extension.
        QFileDialog dialog(this, QStringLiteral("画像の保存"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("jpeg"));
        dialog.setNameFilters({QStringLiteral("JPEG (*.jpg *.jpeg)")});
        dialog.selectFile(QStringLiteral("kelvo"));
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    };
    AskPassword = [this](const QString &host, const QString &user) { return PasswordDialog::Ask(host, user, this); };
    FindPassword = [](const QString &account) { return PasswordStore::Find(account); };

    connect(ui->acSend, &QAction::triggered, this, [this] { RunSend(); });
    connect(ui->acGray, &QAction::triggered, this, [this] { RunCommand([this] { acGrayExecute(); }); });
    connect(ui->acSave, &QAction::triggered, this, [this] { RunCommand([this] { acSaveExecute(); }); });
    connect(ui->acWeb, &QAction::triggered, this, [this] { RunCommand([this] { acWebExecute(); }); });
    connect(ui->mnuVersion, &QAction::triggered, this, [this] { RunCommand([this] { ShowVersion(); }); });
    connect(ui->acSettei, &QAction::triggered, this, [this] { RunCommand([this] { ShowSettings(); }); });
    connect(ui->mnuAddress, &QAction::triggered, this, [this] { RunCommand([this] { ShowAddressBook(); }); });
    connect(ui->SpeedButton1, &QToolButton::clicked, this, [this] { RunCommand([this] { ShowAddressBook(); }); });
}

MainWindow::~MainWindow() = default;

void MainWindow::SetDialogs(QDialog *settings, QDialog *addressBook)
{
    settingsDialog = settings;
    addressBookDialog = addressBook;
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (shownOnce)
        return;
    shownOnce = true;
    // Runs once the window is on screen, from the event loop, so that a dialog it
    // opens is modal over a visible main window.
    QTimer::singleShot(0, this, [this] { RunCommand([this] { FormShow(); }); });
}

void MainWindow::FormShow()
{
    if (!QFileInfo(ProfilePath(SettingsFileName)).isFile()) {
        // First run: the settings dialog instead of the loading; the counter is left alone.
        if (settingsDialog)
            settingsDialog->exec();
        return;
    }
    LoadSettings(Settings, [this](const QString &text) { SetDestinationText(text); });

    const qint64 next =
        qint64(StrToInt(ProfileRead(SettingsFileName, QStringLiteral("web"), QStringLiteral("kai")))) + 1;
    Settings.LaunchCount = static_cast<int>(std::min<qint64>(next, std::numeric_limits<int>::max()));
    if (Settings.LaunchCount != 5) {
        ProfileWrite(SettingsFileName, QStringLiteral("web"), QStringLiteral("kai"),
                     QString::number(Settings.LaunchCount));
        return;
    }
    ProfileWrite(SettingsFileName, QStringLiteral("web"), QStringLiteral("kai"), QStringLiteral("1"));
    if (PlainBox(QStringLiteral("kelvoの最新版探しに行きますか？"), MsgButtons::YesNo) == MsgResult::Yes)
        acWebExecute();
}

void MainWindow::SetDestinationText(const QString &text)
{
    ui->DestCombo->setEditText(text);
}

QString MainWindow::DestinationText() const
{
    return ui->DestCombo->currentText();
}

void MainWindow::SetStatusText(const QString &text)
{
    ui->StatusPanel0->setText(text);
    emit StatusChanged(text);
}

QString MainWindow::StatusText() const
{
    return ui->StatusPanel0->text();
}

void MainWindow::acWebExecute()
{
    // Whether a browser opened is not reported.
    QDesktopServices::openUrl(QUrl(HomePageAddress));
}

void MainWindow::ShowVersion()
{
    InformationBox(VersionText);
}

void MainWindow::ShowSettings()
{
    if (settingsDialog)
        settingsDialog->exec();
}

void MainWindow::ShowAddressBook()
{
    if (addressBookDialog)
        addressBookDialog->exec();
}

void MainWindow::SetPicture(const QImage &picture)
{
    Picture = picture;
    ui->PicData->setPixmap(QPixmap::fromImage(Picture));
    ui->PicData->resize(Picture.size());
    // The box scrolls when the picture is larger than it; the grey fills the rest.
    ui->ImgScrollContents->resize(Picture.size().expandedTo(ui->ImgScroll->viewport()->size()));
}

void MainWindow::ClearPicture()
{
    Picture = QImage();
    ui->PicData->clear();
    ui->PicData->resize(0, 0);
    ui->ImgScrollContents->resize(ui->ImgScroll->viewport()->size());
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    event->acceptProposedAction();
    RunCommand([this, paths] { DropFiles(paths); });
}

void MainWindow::DropFiles(const QStringList &paths)
{
    for (const QString &path : paths) {
        // The whole path is used, however long. A folder is never a picture, whatever
        // its name.
        if (QFileInfo(path).isDir())
            continue;
        const PictureType type = PictureTypeOf(path);
        if (type.Format == PictureFormat::None)
            continue;
        if (type.ClearsPreviewFirst)
            ClearPicture();
        // Fitted before it is shown, so a huge photo is never drawn at full size and a
        // fit that fails keeps the previous picture as a failed load does.
        const QImage loaded = WhileBusy([&] { return LoadPicture(path, type.Format, Settings.DotSize); });
        ClearPicture();
        SetPicture(loaded);
        return;
    }
    WarningBox(QStringLiteral("このファイルタイプには対応しておりません。"));
}

void MainWindow::acGrayExecute()
{
    if (!PicturePresent()) {
        InformationBox(QStringLiteral("画像が読み込まれていないのでグレースケール化できません。"));
        return;
    }
    QImage grey;
    ConvertToGrey(Picture, grey);
    SetPicture(grey);
}

void MainWindow::acSaveExecute()
{
    if (!PicturePresent()) {
        InformationBox(QStringLiteral("画像が読み込まれていないので保存できません。"));
        return;
    }
    // The picture as it would be mailed now: the JPEG at the quality that fits the
    // current size limit.
    const QString path = AskSavePath ? AskSavePath() : QString();
    if (path.isEmpty())
        return;
    WhileBusy([&] { return EncodeUnderLimit(Picture, path, Settings.SizeLimit); });
}

void MainWindow::BindSmtpEvents()
{
    smtpClient->OnSecured = [this](QObject *) { SetStatusText(QStringLiteral("暗号化通信を開始しました。")); };
    smtpClient->OnAuthenticated = [this](QObject *) { SetStatusText(QStringLiteral("認証に成功しました。")); };
    smtpClient->OnConnect = [this](QObject *) { SetStatusText(QStringLiteral("サーバに接続しました。")); };
    smtpClient->OnSendStart = [this](QObject *) {
        SetStatusText(QStringLiteral("送信開始"));
        ProgressBar->setValue(0);
    };
    smtpClient->OnPacketSent = [this](QObject *) {
        SetStatusText(QStringLiteral("%1バイト中%2バイト送信").arg(smtpClient->TotalBytes).arg(smtpClient->SentBytes));
        const qint64 total = smtpClient->TotalBytes;
        ProgressBar->setValue(
            total > 0 ? static_cast<int>(std::min<qint64>(100, qint64(smtpClient->SentBytes) * 100 / total)) : 100);
    };
    smtpClient->OnSuccess = [this](QObject *) { SetStatusText(QStringLiteral("送信成功")); };
    smtpClient->OnDisconnect = [this](QObject *) { SetStatusText(QStringLiteral("サーバから切断しました。")); };
    smtpClient->OnStatus = [this](QObject *, const QString &status) { SetStatusText(status); };
    smtpClient->OnMessageRefused = [](QObject *) { WarningBox(QStringLiteral("問題が発生しました。")); };
    smtpClient->OnInvalidHost = [](bool &) { WarningBox(QStringLiteral("サーバの設定が間違っています。")); };
    smtpClient->OnConnectionFailed = [](QObject *) { WarningBox(QStringLiteral("接続に失敗しました")); };
    // HELO refused: the error box that follows gives the server's own words.
    smtpClient->OnHeloRefused = [](bool &) { WarningBox(QStringLiteral("サーバに接続を断られました。")); };
    smtpClient->OnAttachmentNotFound = [](const QString &) {
        WarningBox(QStringLiteral("添付すべきファイルが削除されました。"));
    };
    smtpClient->OnConnectionRequired = [this](bool &handled) {
        if (ConfirmBox(QStringLiteral("Connection Required. Connect?"), MsgButtons::OkCancel) == MsgResult::Ok) {
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
    ui->acSend->setEnabled(false);
    ui->acSettei->setEnabled(false);
    RunCommand([this] {
        // The bar shows this send only: empty while it connects, and emptied again when
        // it fails, so that a full bar always means a mail that went out whole.
        ProgressBar->setValue(0);
        try {
            acSendExecute();
        } catch (...) {
            ProgressBar->setValue(0);
            // A send cancelled by closing the window ends without an error box.
            if (!closeRequested)
                throw;
        }
    });
    ui->acSend->setEnabled(true);
    ui->acSettei->setEnabled(true);
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
        smtpClient->Cancel();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

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

// [smtp] Security as the client takes it; the settings store keeps it within 0 to 2.
SmtpSecurity SecurityOf(int stored)
{
    switch (stored) {
    case 1:
        return SmtpSecurity::StartTls;
    case 2:
        return SmtpSecurity::Tls;
    default:
        return SmtpSecurity::None;
    }
}

} // namespace

void MainWindow::acSendExecute()
{
    MailMessage &message = smtpClient->Mail;
    // 1.
    message.Body.clear();
    // A Security the settings file holds but kelvo does not know may have been meant as
    // protection: no send goes out on it, plain or otherwise, until the settings are saved.
    if (!Settings.UnknownSecurity.isEmpty()) {
        WarningBox(QStringLiteral("設定ファイルの [smtp] Security=%1 は 0、1、2 のどれでもないため、送信できません。"
                                  "「kelvoの設定」で接続の保護を選んで保存してください。")
                       .arg(Settings.UnknownSecurity));
        return;
    }
    // A login is never sent over an unprotected connection: said before anything is asked.
    const SmtpSecurity security = SecurityOf(Settings.Security);
    if (Settings.Auth && security == SmtpSecurity::None) {
        WarningBox(QStringLiteral("暗号化しない接続ではSMTP認証のパスワードを送れません。"
                                  "「kelvoの設定」で、接続の保護に STARTTLS か SSL/TLS を選んでください。"));
        return;
    }
    // 2.
    if (!PicturePresent() &&
        ConfirmBox(QStringLiteral("画像が読み込まれていません。送信しますか？"), MsgButtons::YesNo) == MsgResult::No)
        return;
    // 3.
    if (ui->txtFilemei->text().isEmpty())
        ui->txtFilemei->setText(QStringLiteral("kelvo"));
    // 4.
    if (!DestinationText().contains(QLatin1Char('@'))) {
        WarningBox(QStringLiteral("正しいメールアドレスを入力してください。"));
        return;
    }
    // Only the name may be Japanese: an address outside ASCII would go out as raw bytes.
    // The To line must stay within the 998 bytes of a header line.
    const QByteArray address = SmtpClient::ExtractAddress(DestinationText().toUtf8());
    if (!IsAscii(QString::fromUtf8(address))) {
        WarningBox(QStringLiteral("送信先のメールアドレスには半角の英数字と記号だけを使ってください。"));
        return;
    }
    const QByteArray toEntry = ToEntry(DestinationText(), address);
    if (toEntry.size() > 998 - 4) { // after "To: "
        WarningBox(QStringLiteral("送信先が長すぎます。名前を短くしてください。"));
        return;
    }
    // The password of the login: the one kelvo knows (keyring or memory), else the user's,
    // kept in memory until kelvo ends. Asked before the footer, so that a cancelled prompt
    // leaves everything as it was.
    const QString login = LoginName(Settings);
    const QString account = PasswordStore::Account(Settings.SmtpHost, login);
    std::optional<QString> password;
    if (Settings.Auth) {
        // The status says what the send waits for while the keyring is asked (a locked one
        // first asks the user to unlock it), then goes back to what it said; a password
        // already in memory comes back before the window could show it.
        const QString status = StatusText();
        SetStatusText(QStringLiteral("キーリングからパスワードを読み込んでいます…"));
        password = FindPassword ? FindPassword(account) : std::nullopt;
        SetStatusText(status);
        // The window was closed while the keyring was asked: nothing is sent.
        if (closeRequested)
            return;
        if (!password || password->isEmpty()) {
            password = AskPassword ? AskPassword(Settings.SmtpHost, login) : std::nullopt;
            // Cancelled, or the window was closed meanwhile: nothing is sent.
            if (!password || closeRequested)
                return;
            PasswordStore::Remember(account, *password);
        }
    }
    // 5. The footer becomes part of the body the user sees.
    if (Settings.AdFooter)
        ui->txtBody->setPlainText(ui->txtBody->toPlainText() + QStringLiteral("\n---\n") + AdvertisementFooter);
    // 6, 7.
    Settings.DestAddress = DestinationText();
    Settings.SubjectText = ui->txtSubject->text();
    Settings.SubjectText = EncodeSubject(Settings.SubjectText);
    // 8. The mail layer takes bytes: names outside ASCII become encoded words, a body
    // outside ASCII ISO-2022-JP lines.
    smtpClient->Host = Settings.SmtpHost;
    smtpClient->Port = Settings.SmtpPort;
    smtpClient->HeloName = Settings.UserId.toUtf8();
    smtpClient->Security = security;
    smtpClient->Auth = Settings.Auth;
    smtpClient->AuthUser = Settings.Auth ? login.toUtf8() : QByteArray();
    smtpClient->Password = password ? password->toUtf8() : QByteArray();
    // The client keeps no copy of the password once this send is over.
    struct Wipe
    {
        QByteArray &secret;
        ~Wipe()
        {
            secret.fill('\0');
            secret.clear();
        }
    } wipe{smtpClient->Password};
    message.FromAddress = Settings.FromAddress.toUtf8();
    // A name as typed stands right before "<"; a quoted or encoded one gets a blank.
    const QString fromName = DisplayName(Settings.FromName, 6); // after "From: "
    message.FromName = (fromName == Settings.FromName ? fromName : fromName + QLatin1Char(' ')).toLatin1();
    message.Subject = Settings.SubjectText.toLatin1();
    message.To.clear();
    message.To.append(toEntry);
    bool ascii = true;
    // The lines of the box: a final line break ends the last line, it starts no new one.
    QStringList lines = ui->txtBody->toPlainText().split(QLatin1Char('\n'));
    if (lines.last().isEmpty())
        lines.removeLast();
    message.Body = EncodeBodyLines(lines, ascii);
    smtpClient->BodyCharset = ascii ? QByteArray("us-ascii") : QByteArray("iso-2022-jp");
    // 9. The attachment file beside the program, at the best quality within the limit.
    // The name names a file there and nowhere else.
    const QString name = ui->txtFilemei->text();
    if (name.contains(QLatin1Char('/')) || name == QLatin1String(".") || name == QLatin1String(".."))
        throw Exception(QStringLiteral("画像名「%1」はファイル名に使えません。").arg(name));
    const QString attachment = ProgramFolder() + ui->txtFilemei->text() + QStringLiteral(".jpg");
    WhileBusy([&] { return EncodeUnderLimit(Picture, attachment, Settings.SizeLimit); });
    // Even the lowest quality can be over the limit (a large dot size with a small
    // limit); the carrier would then refuse or cut the mail, so the user decides.
    if (PicturePresent() && QFileInfo(attachment).size() > Settings.SizeLimit &&
        ConfirmBox(QStringLiteral("画質を最も下げても画像が制限の%1バイトに収まりません。このまま送信しますか？")
                       .arg(Settings.SizeLimit),
                   MsgButtons::YesNo) == MsgResult::No)
        return;
    // 10.
    message.Attachments.clear();
    if (PicturePresent())
        message.Attachments.append(attachment);
    // 11. A connection left open by a failed send is used again (its next mail starts
    // with RSET) unless the server, its protection or the login changed since; then it is
    // dropped first: a plain connection must not carry a mail meant to go encrypted.
    const Connection wanted{smtpClient->Host, smtpClient->Port, smtpClient->Security, smtpClient->Auth, smtpClient->AuthUser};
    // A close that came during any wait so far (a question, the keyring) ends the send
    // here: connecting would clear the cancel it made, and the mail would go out anyway.
    if (closeRequested)
        return;
    if (smtpClient->Connected && connectedWith != wanted)
        smtpClient->SocketClient::Disconnect();
    try {
        if (!smtpClient->Connected) {
            connectedWith = wanted;
            smtpClient->Connect();
        }
        smtpClient->SendMail();
    } catch (const EAuthError &e) {
        // A refused password is not tried again: the next send asks for it.
        PasswordStore::Forget(account);
        throw Exception(e.Message + QStringLiteral("\nパスワードは消去しました。次の送信で入力してください。"));
    }
    try {
        smtpClient->Disconnect();
    } catch (const EDeliveryInDoubt &e) {
        // The server took the mail, then said something else than goodbye: no success.
        ProgressBar->setValue(0);
        WarningBox(QStringLiteral("送信したメールがサーバに受け付けられなかった可能性があります。\nサーバの応答：\n%1")
                       .arg(e.Message));
    }
}
