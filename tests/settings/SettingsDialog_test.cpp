#include "settings/SettingsDialog.h"

#include "platform/MsgBox.h"
#include "platform/PasswordStore.h"

#include "support/Printers.h"
#include "support/TestFolder.h"

#include "SettingsTestSupport.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

class SettingsDialogTest : public ::testing::Test
{
protected:
    SettingsDialogTest() { PasswordStore::UseKeyring(false); }
    void Open(bool show = true)
    {
        dialog = std::make_unique<SettingsDialog>(settings, [this](const QString &text) { destination = text; });
        dialog->setVisible(show);
        dialog->activateWindow(); // entering a box needs an active window
        EXPECT_TRUE(!show || QTest::qWaitForWindowActive(dialog.get()));
    }
    template <class T = QWidget> T *Get(const QString &name) { return dialog->findChild<T *>(name); }
    QString Text(const char *name) { return Get<QLineEdit>(name)->text(); }
    QString Enabled(const char *name) { return Get(name)->isEnabled() ? "on" : "off"; }
    void Type(const char *name, const QString &text)
    {
        Get<QLineEdit>(name)->clear();
        QTest::keyClicks(Get(name), text);
    }
    void Click(const QString &name) { Get<QAbstractButton>(name)->click(); }

    TestFolder folder;
    MessageRecorder recorder;
    MainSettings settings;
    QString destination;
    std::unique_ptr<SettingsDialog> dialog;
};

// The first run: OK refuses what is missing, a login in the clear and a model without a size, writing nothing and
// showing the box that is wrong; then the whole file is written in order in one replace, and the password goes to
// the password store, never into kelvo.ini, and is never shown again.
TEST_F(SettingsDialogTest, FirstRunChecksAndWritesEverySettingInOrder)
{
    settings.LaunchCount = 7;
    Open();
    Click("okButton");
    QTest::keyClicks(Get("senderAddressEdit"), "taro@mail");
    EXPECT_EQ(Text("heloNameEdit"), "taro"); // "default" replaced
    QTest::keyClicks(Get("senderAddressEdit"), ".example.jp");
    Get("serverEdit")->setFocus(Qt::MouseFocusReason); // entering the empty server box proposes the domain
    EXPECT_EQ(Text("serverEdit"), "mail.example.jp");
    Type("senderAddressEdit", "");
    Click("okButton");
    Type("senderAddressEdit", "taro@mail.example.jp");
    QTest::keyClick(Get("loginMethodCombo"), Qt::Key_Down); // a password
    Click("okButton");
    EXPECT_FALSE(QFile::exists(folder.File(SettingsFileName)));
    for (const auto &[key, port] : {std::pair(Qt::Key_End, "465"), {Qt::Key_Home, "25"}, {Qt::Key_Down, "587"}}) {
        QTest::keyClick(Get("securityCombo"), key);
        EXPECT_EQ(Text("portEdit"), port);
    }
    Click("advancedCheck");
    Type("portEdit", "655361"); // five digits at most, and no port above 65535
    Type("passwordEdit", "s3cret!");
    Type("defaultDestinationEdit", "jiro@example.com");
    Click("modelSizeOption");
    Get<QComboBox>("modelCombo")->setEditText("Docomo,N503");
    Get<QTabBar>("pageTabs")->setCurrentIndex(0);
    Click("okButton");
    EXPECT_EQ(recorder.Texts(),
              QStringList({"SMTPサーバを入力してください。", "メールアドレスを入力してください。",
                           "SMTP認証を使うときは、接続の保護に STARTTLS か SSL/TLS を選んでください。",
                           "機種「Docomo,N503」の「:」の後に、画像サイズのドット数（1 以上の数）がありません。"}));
    EXPECT_EQ(recorder.Messages.value(2).Kind, MsgKind::Warning);
    EXPECT_FALSE(QFile::exists(folder.File(SettingsFileName)));
    EXPECT_TRUE(Get("modelCombo")->isVisible() && Get("modelCombo")->hasFocus());
    EXPECT_TRUE(dialog->isVisible());
    ExpectFields(SettingsFields(settings, destination), "host=192.168.0.1; launch count=7; dot size=120");
    Click("ownSizeOption");
    Click("ownLimitOption");
    for (const auto &[spin, typed] : {std::pair("ownSizeSpin", "5"), {"ownLimitSpin", "1000"}}) {
        Get<QSpinBox>(spin)->selectAll();
        QTest::keyClicks(Get(spin), typed);
    }
    const int watch = inotify_init1(IN_NONBLOCK);
    inotify_add_watch(watch, QFile::encodeName(folder.Path()).constData(), IN_CREATE | IN_MOVED_TO);
    Click("okButton");
    char events[4096]; // each event's name ends in zero bytes, a temporary file's in more of its own
    const QByteArray names(events, qMax<ssize_t>(0, ::read(watch, events, sizeof events)));
    ::close(watch);
    EXPECT_EQ(names.count(QByteArrayView("kelvo.ini\0", 10)), 1) << "kelvo.ini replaced once";
    EXPECT_EQ(recorder.Messages.value(4).Kind, MsgKind::Information); // no keyring here: kept in memory
    EXPECT_EQ(folder.Read(SettingsFileName),
              "[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@mail.example.jp\r\nPort=587\r\n"
              "SMTP=mail.example.jp\r\nID=taro\r\nDest=jiro@example.com\r\nSecurity=1\r\nAuth=1\r\nAuthUser=\r\n"
              "[keitai]\r\ndotsettei=2\r\nkishu=Docomo,N503\r\nsiteidot=50\r\nrfsize=3\r\nofsize=1000\r\n"
              "[Koukoku]\r\nflg=1\r\n");
    EXPECT_EQ(PasswordStore::Find(PasswordStore::Account("mail.example.jp", "taro@mail.example.jp")), "s3cret!");
    ExpectFields(SettingsFields(settings, destination),
                 "from address=taro@mail.example.jp; host=mail.example.jp; helo name=taro; launch count=0; "
                 "destination box=jiro@example.com; port=587; dot size=50; size limit=998800; footer=on; "
                 "security=1; auth=1");

    Open(); // the box is empty again, and left empty it keeps what is stored
    EXPECT_EQ(Text("passwordEdit"), "");
    Type("loginNameEdit", "taro.y");
    Click("okButton");
    EXPECT_EQ(settings.AuthUser, "taro.y");
    EXPECT_EQ(recorder.Messages.size(), 5);
}

// Stopped by a bad number or not, the boxes follow the options read so far, indexes out of range go to
// the nearest option or none, and the submission keys show the file, not what was chosen before.
// Cancel leaves kelvo.ini alone, and the typed password is gone at the next showing.
TEST_F(SettingsDialogTest, ShowingFillsFromTheFileAndStopsAtABadNumber)
{
    const QString whole = "picture size option=2; size limit option=3; own size=150; own limit=40; footer=on; "
                          "model box=off; own size box=on; own limit box=on; security=1; login=hana; password box=on";
    // Stopped at the first option, the phone's boxes keep the dialog's own values.
    const QString stoppedEarly = "; picture size option=0; size limit option=0; own size=100; own limit=5; "
                                 "footer=off; own size box=off; own limit box=off";
    // kelvo.ini with a picture size and a size limit of its own, and a login; each row's changes to it; the text that
    // is not a number (null: none); what differs from `whole`.
    const std::tuple<QStringList, const char *, QString> rows[] = {
        {{}, nullptr, ""},
        {{"dotsettei=1", "siteidot=1x"}, "1x", stoppedEarly + "; picture size option=1; model box=on"},
        {{"flg"}, "", "; footer=off"}, // [Koukoku] without its key
        {{"Security", "AuthUser"}, nullptr, "; security=0; login="},
        {{"Auth=１"}, "１", "; password box=off"},
        {{"Security=STARTTLS", "dotsettei=x"}, "x", stoppedEarly + "; security=none chosen"},
        {{"dotsettei=7", "rfsize=-3"}, nullptr, "; size limit option=-1; own limit box=off"},
    };
    const QStringList own{"dotsettei=2", "siteidot=150", "ofsize=40", "Security=1", "Auth=1", "AuthUser=hana"};
    for (const auto &[changes, error, differences] : rows) {
        SCOPED_TRACE(error ? error : "no error");
        recorder.Clear();
        folder.Write(SettingsFileName, KelvoIni(own + changes));
        const QByteArray before = folder.Read(SettingsFileName);
        Open(false);
        Get<QCheckBox>("adFooterCheck")->setChecked(false);
        Get<QComboBox>("securityCombo")->setCurrentIndex(2); // as choices cancelled before leave them
        Get<QComboBox>("loginMethodCombo")->setCurrentIndex(1);
        Get<QLineEdit>("loginNameEdit")->setText("cancelled");
        dialog->show();
        EXPECT_EQ(recorder.Texts(),
                  error ? QStringList{QStringLiteral("'%1' は数値ではありません").arg(error)} : QStringList());
        const int security = Get<QComboBox>("securityCombo")->currentIndex();
        ExpectFields({{"picture size option", QString::number(Get<QButtonGroup>("pictureSizeOptions")->checkedId())},
                      {"size limit option", QString::number(Get<QButtonGroup>("sizeLimitOptions")->checkedId())},
                      {"own size", QString::number(Get<QSpinBox>("ownSizeSpin")->value())},
                      {"own limit", QString::number(Get<QSpinBox>("ownLimitSpin")->value())},
                      {"footer", Get<QCheckBox>("adFooterCheck")->isChecked() ? "on" : "off"},
                      {"model box", Enabled("modelCombo")},
                      {"own size box", Enabled("ownSizeSpin")},
                      {"own limit box", Enabled("ownLimitSpin")},
                      {"security", security < 0 ? "none chosen" : QString::number(security)},
                      {"login", Text("loginNameEdit")},
                      {"password box", Enabled("passwordEdit")}},
                     whole + differences);
        EXPECT_EQ(Text("portEdit"), "2525");
        Type("senderNameEdit", "taro");
        Type("passwordEdit", "typed");
        Click("cancelButton");
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(folder.Read(SettingsFileName), before);
    }
    dialog->show();
    EXPECT_EQ(Text("passwordEdit"), "");
}

// An unknown Security shows no choice: OK waits for one.
TEST_F(SettingsDialogTest, AnUnknownSecurityWaitsForAChoice)
{
    folder.Write(SettingsFileName, KelvoIni({"dotsettei=2", "siteidot=150", "Security=STARTTLS"}));
    settings.UnknownSecurity = "STARTTLS";
    Open();
    Click("okButton");
    Get<QComboBox>("securityCombo")->setCurrentIndex(int(SmtpSecurity::StartTls));
    Click("okButton");
    EXPECT_EQ(recorder.Texts(), QStringList{"接続の保護（なし、STARTTLS、SSL/TLS）を選んでください。"});
    EXPECT_EQ(ReadSetting(Setting::Security), "1");
    EXPECT_EQ(settings.UnknownSecurity, "");
}

// Choosing Microsoft or Google fills in its server (Microsoft's own for a personal address), port and protection; OK
// waits for a client ID, which the details dialog takes; Auth=2 and [oauth] are written and shown again.
TEST_F(SettingsDialogTest, LoginMethodsAndTheSignInKeys)
{
    folder.Write(SettingsFileName, KelvoIni({"siteidot=100"}));
    Open();
    auto *method = Get<QComboBox>("loginMethodCombo");
    const auto choose = [&](int index) {
        method->setCurrentIndex(index);
        emit method->activated(index);
    };
    const std::tuple<const char *, int, const char *, const char *, int> rows[] = {
        {"taro@outlook.jp", 2, "smtp-mail.outlook.com", "587", 1},
        {"taro@example.jp", 2, "smtp.office365.com", "587", 1},
        {"taro@gmail.com", 3, "smtp.gmail.com", "465", 2},
    };
    for (const auto &[address, index, server, port, security] : rows) {
        Type("senderAddressEdit", address);
        choose(index);
        EXPECT_EQ(Text("serverEdit") + ":" + Text("portEdit"), QString(server) + ":" + port);
        EXPECT_EQ(Get<QComboBox>("securityCombo")->currentIndex(), security);
    }
    choose(2);
    Click("okButton");
    EXPECT_EQ(recorder.Texts(),
              QStringList{"この kelvo には Microsoft のクライアントIDがありません。README の"
                          "「サインイン用のクライアントID」の手順で登録し、「詳細…」に入力してください。"});
    QTimer::singleShot(100, [] {
        auto *details = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(details, nullptr);
        details->findChild<QLineEdit *>("clientIdEdit")->setText("my-client");
        details->accept();
    });
    Click("detailsButton");
    Click("okButton");
    EXPECT_TRUE(folder.Read(SettingsFileName).contains("Auth=2\r\n"));
    EXPECT_TRUE(folder.Read(SettingsFileName)
                    .endsWith("[oauth]\r\nProvider=microsoft\r\nClientId=my-client\r\nClientSecret=\r\n"
                              "AuthorizeUrl=\r\nTokenUrl=\r\nScope=\r\n"));
    EXPECT_EQ(settings.OAuthProvider + ' ' + settings.OAuth.ClientId, "microsoft my-client");
    Open();
    EXPECT_EQ(Get<QComboBox>("loginMethodCombo")->currentIndex(), 2);
}

// The keyboard alone: the first run opens on the sender's name, selected; a mnemonic reaches its box; Tab goes round
// each page in reading order from the page tabs to キャンセル (to the chosen one of a group of options, whose arrow
// keys choose) and the control keys turn the pages; Escape and the window's close are キャンセル, which on the first
// run asks whether to end kelvo; Return is OK.
TEST_F(SettingsDialogTest, UsableWithTheKeyboardAlone)
{
    int ended = 0;
    Open();
    dialog->OnTerminate = [&] { ++ended; };
    EXPECT_TRUE(Get("senderNameEdit")->hasFocus() && Get<QLineEdit>("senderNameEdit")->selectedText() == "kelvo");
    const auto press = [](int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
        QWidget *focus = QApplication::focusWidget(); // a drop-down list's edit box is the list
        if (focus && qobject_cast<QComboBox *>(focus->parentWidget()))
            focus = focus->parentWidget();
        return focus ? focus->objectName() : QString();
    };
    EXPECT_EQ(press(Qt::Key_A, Qt::AltModifier), "senderAddressEdit");
    Get<QLineEdit>("serverEdit")->setText("smtp.example.jp"); // entered, it proposes nothing
    for (QWidget *box : dialog->findChildren<QWidget *>())
        box->setEnabled(true);
    QStringList order;
    Get("pageTabs")->setFocus();
    for (int page = 0; page < 4; ++page, press(Qt::Key_Tab, Qt::ControlModifier)) {
        QString focus = "pageTabs";
        do
            order.append(std::exchange(focus, press(Qt::Key_Tab)));
        while (focus != "pageTabs" && order.size() < 50);
    }
    EXPECT_EQ(order.join(' '),
              "pageTabs senderNameEdit senderAddressEdit serverEdit defaultDestinationEdit advancedCheck "
              "portEdit heloNameEdit okButton cancelButton pageTabs recommendedSizeOption modelCombo "
              "ownSizeSpin longMailLimitOption ownLimitSpin okButton cancelButton pageTabs adFooterCheck "
              "okButton cancelButton pageTabs securityCombo loginMethodCombo loginNameEdit passwordEdit "
              "okButton cancelButton");
    for (const int key : {Qt::Key_PageUp, Qt::Key_Backtab, Qt::Key_PageDown}) // round to the last page and on
        press(key, Qt::ControlModifier | (key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier));
    EXPECT_EQ(Get<QStackedWidget>("pages")->currentIndex(), 3);
    Get("recommendedSizeOption")->setFocus();
    EXPECT_EQ(press(Qt::Key_Down), "modelSizeOption");
    recorder.Answer(MsgResult::Yes);
    press(Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible() && ended == 0); // set kelvo up now: Yes
    dialog->close();
    EXPECT_TRUE(!dialog->isVisible() && ended == 1); // No
    EXPECT_EQ(recorder.Texts(), QStringList(2, "kelvoを使うには設定を行う必要があります。設定しますか？"));
    Open();
    Type("senderAddressEdit", "taro@example.jp");
    Get<QLineEdit>("serverEdit")->setText("smtp.example.jp");
    press(Qt::Key_Return);
    EXPECT_EQ(ReadSetting(Setting::Server), "smtp.example.jp");
    Open(); // no longer the first run: Escape closes without a word
    press(Qt::Key_Escape);
    EXPECT_TRUE(!dialog->isVisible() && recorder.Messages.size() == 2);
}

// keitai.txt is read no further than its bounds of bytes (an unfinished line dropped) and lines.
TEST_F(SettingsDialogTest, ModelListIsReadWithinItsBounds)
{
    folder.Write("keitai.txt", QByteArray(2 * ModelFileMaxBytes, 'z'));
    EXPECT_EQ(ReadModelList(folder.File("keitai.txt")), QStringList());
    EXPECT_EQ(SplitModelLines(QByteArray(20000, '\n')).size(), ModelListMaxLines);
}

} // namespace
