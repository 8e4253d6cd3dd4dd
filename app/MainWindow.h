#pragma once

#include "mail/SmtpClient.h"
#include "platform/OnlineAccounts.h"
#include "settings/SettingsStore.h"

#include <QDialog>
#include <QImage>
#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class MainWindow;
}
class QProgressBar;
class QUrl;

// The product's home page: opened by the web command, and named in the mail footer.
inline const QString HomePageAddress = QStringLiteral("https://kelvo.example.jp/");
// The line a send may add to the body, in the language of the window.
QString AdvertisementFooter();

// How long the SMTP client waits for a look-up, a connection, a reply or the sending
// of the message before it gives up.
constexpr int SmtpTimeOut = 60000;

// The main window. It owns every piece of state of a run: the settings in memory,
// the held picture and the SMTP client.
//
// In tests: construct it, set the dialogs with SetDialogs (any QDialog will do), and
// show() it; the start-up step (StartUp) runs from the event loop right after the window
// is first shown, so process events (QTest::qWait) before looking at its effects.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void SetDialogs(QDialog *settings, QDialog *addressBook);

    // Text of the destination box; the dialogs set it through this.
    void SetDestinationText(const QString &text);
    QString DestinationText() const;

    void SetStatusText(const QString &text);
    QString StatusText() const;

    // A picture is held (and shown in the preview).
    bool PicturePresent() const { return !Picture.isNull(); }

    // Takes dropped files in their order: the first whose extension names a picture
    // kelvo reads (PictureTypeOf: .jpg, .jpeg, .bmp, .png, .webp, .heic, .heif, in any
    // case) is loaded, upright and fitted to DotSize.
    void DropFiles(const QStringList &paths);

    // A picture given on the command line or handed over by a later start, opened as a drop.
    // One that comes before the start-up step has loaded the settings waits for it, so that
    // it is fitted to the dot size they give.
    void OpenPicture(const QString &path);

    // Shows the window (or the dialog open over it) in front of the others, as the answer to
    // the desktop's launch that gave `launchToken` (empty: none).
    void BringToFront(const QByteArray &launchToken);

    // Asks where the save command writes; the save dialog unless a test replaces it.
    std::function<QString()> AskSavePath;

    // Asks which picture File → Open Picture opens, starting in `folder`: the open dialog unless
    // a test replaces it. Empty when the user cancelled.
    std::function<QString(const QString &folder)> AskPicturePath;

    // Opens an address in the desktop's program for it (the web command, the help); false when
    // none took it. A test replaces it, so that no browser or editor starts.
    std::function<bool(const QUrl &)> OpenUrl;

    // Asks for the password of the login user at host: the prompt "SMTPパスワード" unless a
    // test replaces it. Nothing when the user cancelled.
    std::function<std::optional<QString>(const QString &host, const QString &user)> AskPassword;

    // The SMTP client of the window, with its handlers bound.
    SmtpClient *smtpClient = nullptr;

    QString VersionText;
    MainSettings Settings;
    QDialog *settingsDialog = nullptr;
    QDialog *addressBookDialog = nullptr;
    QProgressBar *ProgressBar = nullptr;

signals:
    // Status panel 0 shows a new text.
    void StatusChanged(const QString &text);

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void FixFrame();
    void SetUpMenusAndBoxes();
    void SetUpPreview();
    void ColourPreview();
    void SetUpKeyboardAndNames();
    void SetUpSmtpClient();
    void BindSmtpEvents();
    void TakeDropsOnTheWindow();
    void SetUpProgressBar();
    void SetUpAskers();
    void ConnectCommands();
    // At the first showing: the settings loaded, or the first run's settings dialog; then
    // the launch counter with its question.
    void StartUp();
    void CountLaunch();
    void OpenPictureAfterStartUp();

    void SetPicture(const QImage &picture);
    void ClearPicture();
    void OpenPictureFile();
    void StartNewMail();
    void MakeGrey();
    void SavePicture();
    void OpenHelp();
    void OpenHomePage();
    void ShowVersion();
    void ShowSettings();
    void ShowAddressBook();

    // The send command (SendCommand.cpp): one send at a time, then the picture, subject,
    // destination and body as one mail, in these steps. A step that returns nothing or
    // false has ended the send, having told the user why.
    void RunSend();
    void ComposeAndSend();
    bool SettingsAllowSending();
    bool PictureOrConsent();
    std::optional<QByteArray> CheckedToEntry();
    std::optional<QString> PasswordFor(const QString &account, const QString &login);
    void AppendFooter();
    void FillClient(const QString &login, const QString &password);
    void ComposeMessage(const QByteArray &toEntry);
    QString WriteAttachment();
    bool AttachmentFitsOrConsent(const QString &attachment);
    // What a send signs in with: the token, and for the desktop's account its server too.
    struct SignIn
    {
        QString Account; // the keyring's name of kelvo's own sign-in
        OAuthClient Client;
        std::optional<OnlineMailAccount> Desktop;
        QByteArray Token;
    };
    void ConnectAndSend(const QString &account, SignIn *signIn);
    void ConnectAndSendOnce();
    void DisconnectAfterSending();

    // The sign-in steps of the send (SendSignIn.cpp), in their order. Nothing: the user
    // declined or closed the window; the other failures are thrown.
    bool SignInAllowsSending();
    std::optional<SignIn> SignInForSending(const QString &login);
    std::optional<QByteArray> OwnAccessToken(const SignIn &signIn);
    std::optional<QByteArray> SignInWithBrowser(const SignIn &signIn, const QString &question);
    void UseSignIn(const SignIn &signIn);
    // A token the server refused is replaced once: refreshed, or asked of the desktop again.
    void RenewToken(SignIn &signIn);

    std::unique_ptr<Ui::MainWindow> ui;
    bool shownOnce = false;
    bool startedUp = false;
    QString pictureAfterStartUp;
    bool sending = false;
    bool closeRequested = false;
    // What the open connection was made with: a connection left open by a failed send is
    // used again only for the same server, protection and login.
    struct Connection
    {
        QString Host;
        int Port = 0;
        SmtpSecurity Security = SmtpSecurity::None;
        bool Auth = false;
        QByteArray AuthUser;
        bool operator==(const Connection &) const = default;
    };
    Connection connectedWith;
    QImage Picture;
    // Where File → Open Picture starts: the folder of the last picture taken.
    QString lastPictureFolder;
    // The subject and body as they stand when nothing typed is unsent: at start, after a new
    // mail, and as the last mail a server took them.
    struct MailTexts
    {
        QString Subject, Body;
        bool operator==(const MailTexts &) const = default;
    };
    MailTexts Texts() const;
    MailTexts sentTexts, composedTexts;
};
