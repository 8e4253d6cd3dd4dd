// The sign-in as the send command meets it: kelvo's own through the browser (smtp_sink.py's OAuth2 provider over
// HTTPS, and its mail server, which takes the tokens with OAUTHBEARER or XOAUTH2), and the desktop's online account
// (fake_online_accounts.py on a private session bus), the refresh token in a real keyring.
#include "app/MainWindow.h"
#include "platform/BrowserSignIn.h"
#include "platform/MsgBox.h"
#include "platform/OAuthTokens.h"
#include "platform/OnlineAccounts.h"
#include "platform/PasswordStore.h"
#include "settings/SettingsDialog.h"
#include "support/SmtpSink.h"
#include "support/TestFolder.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

int browserOpened = 0;

// curl as the browser: it fetches the provider's page and follows its redirect back to kelvo's listener. The CA is
// the one the provider's SmtpSink made, in this process or in the parent of a child.
bool Curl(const QUrl &url)
{
    ++browserOpened;
    auto *curl = new QProcess(QCoreApplication::instance());
    QObject::connect(curl, &QProcess::finished, curl, &QObject::deleteLater);
    curl->start("curl", {"-s", "-L", "--max-redirs", "1", "--cacert", qEnvironmentVariable("SSL_CERT_FILE"),
                         url.toString(QUrl::FullyEncoded)});
    return true;
}

// kelvo.ini of a sign-in with the test provider as a custom one; the mail goes out through its server, STARTTLS.
QByteArray SignInIni(const QByteArray &smtpPort, const QByteArray &httpsPort)
{
    const QByteArray at = "https://localhost:" + httpsPort;
    return "[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@example.jp\r\nID=kelvo\r\nSMTP="
           "localhost\r\nPort=" +
           smtpPort +
           "\r\nSecurity=1\r\nAuth=2\r\n[keitai]\r\ndotsettei=0\r\nsiteidot=100\r\nrfsize=0\r\nofsize=5\r\n[Koukoku]"
           "\r\nflg=2\r\n" +
           "[oauth]\r\nProvider=custom\r\nClientId=kelvo-test-client\r\nAuthorizeUrl=" + at +
           "/authorize\r\nTokenUrl=" + at + "/token\r\nScope=smtp\r\n";
}

// The window in a folder of its own with a picture, its boxes recorded, what the status bar said kept.
struct Sender
{
    explicit Sender(const QByteArray &ini)
    {
        BrowserSignIn::OpenBrowser = Curl;
        BrowserSignIn::TimeOutMs = 20000; // a browser that never came back fails the test sooner
        folder.Write("kelvo.ini", ini);
        QObject::connect(&main, &MainWindow::StatusChanged, [this](const QString &t) { statuses << t; });
        main.SetDialogs(&dialog, &dialog);
        main.show();
        QTest::qWait(20);
        main.DropFiles({WritePicture(folder.File("photo.jpg"), 64, 48)});
    }
    void Send()
    {
        main.findChild<QComboBox *>("destinationCombo")->setEditText("hanako@example.jp");
        main.findChild<QAction *>("sendAction")->trigger();
    }
    // No token, access or refresh, in what was shown, nor in a file of the folder.
    void ExpectNoTokenShownOrWritten()
    {
        EXPECT_FALSE((boxes.Texts() + statuses).join('|').contains(Token));
        for (const QString &name : QDir(folder.Path()).entryList(QDir::Files))
            EXPECT_FALSE(QString::fromLatin1(folder.Read(name)).contains(Token)) << name.toStdString();
    }
    // What every token of the tests' provider and desktop starts with.
    inline static const QRegularExpression Token{"kelvo-test-(access|refresh|desktop)"};

    TestFolder folder;
    MessageRecorder boxes;
    QDialog dialog;
    MainWindow main;
    QStringList statuses;
};

// Signed in once through the browser; an access token that ended or was refused (334 and its challenge, then 535)
// refreshed without it, once; one refused again is the end; a refresh refused (invalid_grant) asks to sign in
// again; the question's Cancel and a connection without TLS send nothing. Nothing in the keyring here.
TEST(SignIn, TheBrowserOnceThenRefreshedTokens)
{
    SmtpSink sink(SmtpSink::OAuth);
    ASSERT_NE(sink.HttpsPort(), 0) << sink.Error().toStdString();
    PasswordStore::UseKeyring(false);
    Sender w(SignInIni(QByteArray::number(sink.Port()), QByteArray::number(sink.HttpsPort())));
    const QString question = "localhost にサインインして taro@example.jp から送信しますか？",
                  kept = "サインインをキーリングに保存できませんでした。kelvoを終了するまでの間だけ覚えておきます。";
    // Commands to the provider; the answer to a question; the boxes; the browser, the refreshes; the mechanism of
    // the mail sent (none: nothing sent).
    const std::tuple<QList<QByteArray>, MsgResult, QStringList, int, int, QByteArray> rows[] = {
        // Without a keyring the sign-in is kept until kelvo ends; the token lasts less than its margin.
        {{"set expires_in 30"}, MsgResult::Ok, {question, kept}, 1, 0, "OAUTHBEARER"},
        {{"set expires_in 3600"}, MsgResult::Ok, {}, 0, 1, "OAUTHBEARER"},
        {{"revoke"}, MsgResult::Ok, {}, 0, 1, "OAUTHBEARER"},
        {{"set mechanisms xoauth2"}, MsgResult::Ok, {}, 0, 0, "XOAUTH2"},
        {{"set smtp refuses"},
         MsgResult::Ok,
         {"localhost がサインインのトークンを受け付けませんでした（535 5.7.8 Authentication credentials invalid、"
          "状態 401）。\n新しいトークンも受け付けられませんでした。このアカウントで SMTP の送信が許可されているか"
          "確認してください。"},
         0,
         1,
         ""},
        {{"set smtp takes", "revoke", "set refresh invalid_grant"},
         MsgResult::Ok,
         {"localhost へのサインインは終了しています（invalid_grant: The grant is no longer valid.）。"
          "もう一度サインインしてください。"},
         0,
         1,
         ""},
        {{}, MsgResult::Cancel, {question}, 0, 0, ""},
    };
    for (const auto &[commands, answer, texts, browser, refreshes, mechanism] : rows) {
        SCOPED_TRACE(commands.join(", ").toStdString());
        for (const QByteArray &command : commands)
            sink.Control(command);
        const int openedBefore = browserOpened, refreshesBefore = sink.Control("get refreshes").toInt();
        const int mailsBefore = int(sink.Messages().size()), boxesBefore = int(w.boxes.Messages.size());
        if (texts.contains(question))
            w.boxes.Answer(answer);
        w.Send();
        EXPECT_EQ(w.boxes.Texts().mid(boxesBefore), texts);
        EXPECT_EQ(browserOpened - openedBefore, browser);
        EXPECT_EQ(sink.Control("get refreshes").toInt() - refreshesBefore, refreshes);
        const QList<SmtpSink::Message> got = sink.WaitForMessages(mailsBefore + (mechanism.isEmpty() ? 0 : 1));
        ASSERT_EQ(got.size(), mailsBefore + (mechanism.isEmpty() ? 0 : 1));
        EXPECT_TRUE(mechanism.isEmpty() ||
                    (got.last().Mechanism == mechanism && got.last().Login == "taro@example.jp"));
    }
    w.main.Settings.Security = SmtpSecurity::None;
    w.Send();
    EXPECT_EQ(w.boxes.Texts().value(5), "暗号化しない接続ではサインインのトークンを送れません。"
                                        "「kelvoの設定」で、接続の保護に STARTTLS か SSL/TLS を選んでください。");
    w.ExpectNoTokenShownOrWritten();
    // A sign-in of another token endpoint or client under the same provider is forgotten at the settings' OK, not
    // refreshed at the new one; the same details keep it.
    const QString account = OAuthTokens::Account("custom", "taro@example.jp");
    SettingsDialog settings(w.main.Settings, {});
    for (const QString &before : {w.main.Settings.OAuth.TokenUrl, QString("https://localhost:1/token")}) {
        PasswordStore::Remember(account, "kelvo-test-refresh-of-before");
        w.main.Settings.OAuth.TokenUrl = before; // kelvo.ini holds the test provider's
        settings.show();
        settings.findChild<QAbstractButton *>("okButton")->click();
        EXPECT_EQ(OAuthTokens::StoredRefreshToken(account).has_value(),
                  before.startsWith("https://localhost:" + QString::number(sink.HttpsPort())));
    }
}

// The sign-in's button stores it in a real keyring (gnome-keyring-daemon on a private bus), where a later run finds
// it and its Sign out removes it; the desktop's account, greyed while there is no service, gives the server and
// the token; a service that answers slowly is waited for within bounds, and the window can close meanwhile. The test
// runs again in children, "first" and "later", under dbus-run-session, with a scratch home that holds no token after.
TEST(SignIn, KeptInTheKeyringAndTheDesktopsAccount)
{
    const QByteArray run = qgetenv("KELVO_SIGNIN_TEST");
    if (run.isEmpty()) {
        SmtpSink sink(SmtpSink::OAuth);
        ASSERT_NE(sink.HttpsPort(), 0) << sink.Error().toStdString();
        sink.Control("set extra_token kelvo-test-desktop-token");
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"})
            env.insert(name, home.path());
        env.remove("DISPLAY");
        env.insert("KELVO_SIGNIN_TEST", "first");
        env.insert("KELVO_SIGNIN_PORTS", QStringLiteral("%1 %2").arg(sink.Port()).arg(sink.HttpsPort()));
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.setProcessEnvironment(env);
        const QString twoRuns = "echo unlock | gnome-keyring-daemon --unlock --components=secrets >/dev/null"
                                " && \"$0\" \"$1\" && KELVO_SIGNIN_TEST=later \"$0\" \"$1\"";
        child.start("dbus-run-session", {"--", "sh", "-c", twoRuns, QCoreApplication::applicationFilePath(),
                                         "--gtest_filter=SignIn.Kept*"});
        EXPECT_TRUE(child.waitForFinished(120000) && child.exitCode() == 0) << child.readAll().toStdString();
        const QList<SmtpSink::Message> got = sink.WaitForMessages(3);
        ASSERT_EQ(got.size(), 3);
        for (const SmtpSink::Message &mail : got)
            EXPECT_EQ(mail.Login, "taro@example.jp");
        EXPECT_TRUE(got[0].Token.startsWith("kelvo-test-access-")); // the settings' sign-in
        EXPECT_EQ(got[1].Token, "kelvo-test-desktop-token");
        EXPECT_TRUE(got[2].Token.startsWith("kelvo-test-access-") && got[2].Token != got[0].Token); // refreshed
        for (QDirIterator it(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            QFile file(it.next()); // the keyring's own files hold them encrypted
            EXPECT_TRUE(file.open(QIODevice::ReadOnly) && !QString::fromLatin1(file.readAll()).contains(Sender::Token))
                << it.filePath().toStdString();
        }
        return;
    }
    const QList<QByteArray> ports = qgetenv("KELVO_SIGNIN_PORTS").split(' ');
    Sender w(SignInIni(ports.value(0), ports.value(1)));
    SettingsDialog settings(w.main.Settings, {});
    const auto showSecurityPage = [&] {
        settings.hide(); // each showing asks the desktop again
        settings.show();
        settings.findChild<QTabBar *>("pageTabs")->setCurrentIndex(3);
        QTest::qWait(300); // the desktop's answer
        return settings.findChild<QLabel *>("signInStateLabel")->text();
    };
    const auto desktopChoice = [&] {
        auto *model = qobject_cast<QStandardItemModel *>(settings.findChild<QComboBox *>("loginMethodCombo")->model());
        return model->item(4)->isEnabled() ? QString("enabled") : model->item(4)->toolTip();
    };
    if (run == "later") {
        w.Send(); // the refresh token from the keyring: no browser
        EXPECT_EQ(showSecurityPage(), "taro@example.jp のサインインは保存されています。");
        settings.findChild<QAbstractButton *>("signOutButton")->click();
        EXPECT_EQ(settings.findChild<QLabel *>("signInStateLabel")->text(),
                  "taro@example.jp のサインインはまだ保存されていません。");
        EXPECT_EQ(OAuthTokens::StoredRefreshToken(OAuthTokens::Account("custom", "taro@example.jp")), std::nullopt);
        EXPECT_EQ(browserOpened, 0);
    } else {
        EXPECT_EQ(showSecurityPage(), "taro@example.jp のサインインはまだ保存されていません。");
        EXPECT_EQ(desktopChoice(),
                  "デスクトップにオンラインアカウントのサービス（GNOME Online Accounts）がありません。");
        settings.findChild<QAbstractButton *>("signInButton")->click();
        EXPECT_EQ(settings.findChild<QLabel *>("signInStateLabel")->text(),
                  "taro@example.jp のサインインは保存されています。");
        w.Send(); // with the access token of that sign-in
        QProcess desktop;
        const auto startDesktop = [&](const char *delayMs) {
            desktop.close();
            desktop.start("/usr/bin/python3",
                          {QStringLiteral(KELVO_SOURCE_DIR) + "/tests/support/fake_online_accounts.py",
                           "taro@example.jp", "localhost:" + ports.value(0), "kelvo-test-desktop-token", delayMs});
            EXPECT_TRUE(desktop.waitForReadyRead(10000)) << desktop.readAllStandardError().toStdString();
        };
        startDesktop("0");
        showSecurityPage();
        EXPECT_EQ(desktopChoice(), "enabled");
        w.main.Settings.OAuthProvider = DesktopAccount;
        w.main.Settings.SmtpHost = "nowhere.invalid"; // the desktop's account says where the mail goes
        w.Send();
        EXPECT_EQ(browserOpened, 1);
        startDesktop("3000");
        OnlineAccounts::SetWait(1000);
        w.Send();
        EXPECT_EQ(w.boxes.Texts(), QStringList{"デスクトップのオンラインアカウントが 1 秒以内に応答しませんでした。"});
        OnlineAccounts::SetWait(OnlineAccounts::DefaultWaitMs);
        QTimer::singleShot(300, &w.main, [&] { w.main.close(); });
        const QDeadlineTimer inTime(2000);
        w.Send();
        QTest::qWait(50);
        EXPECT_FALSE(inTime.hasExpired());
        EXPECT_FALSE(w.main.isVisible());
        EXPECT_EQ(w.boxes.Texts().size(), 1);
        desktop.closeWriteChannel(); // the service ends
        desktop.waitForFinished();
    }
    EXPECT_TRUE(w.boxes.Texts().size() <= 1) << w.boxes.Texts().join('|').toStdString();
    w.ExpectNoTokenShownOrWritten();
}

} // namespace
