#include "settings/SettingsDialog.h"

#include "platform/MsgBox.h"
#include "platform/PasswordStore.h"

#include "support/Printers.h"
#include "support/TestFolder.h"

#include "SettingsTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

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

// The first run: OK refuses what is missing and a login in the clear, writing nothing; a model without a
// size stops it after the keys before the flag; then the file is written in order, and the password
// goes to the password store, never into kelvo.ini, and is never shown again.
TEST_F(SettingsDialogTest, FirstRunChecksAndWritesEverySettingInOrder)
{
    settings.LaunchCount = 7;
    Open();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->close());
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
    Click("okButton");
    EXPECT_EQ(recorder.Texts(),
              QStringList({"SMTPサーバを入力してください。", "メールアドレスを入力してください。",
                           "SMTP認証を使うときは、接続の保護に STARTTLS か SSL/TLS を選んでください。",
                           "'Docomo,N503' は数値ではありません"}));
    EXPECT_EQ(recorder.Messages.value(2).Kind, MsgKind::Warning);
    EXPECT_EQ(ReadSetting(Setting::OwnSizeLimit) + ReadSetting(Setting::AdFooter), "5");
    Click("ownSizeOption");
    Click("ownLimitOption");
    for (const auto &[spin, typed] : {std::pair("ownSizeSpin", "5"), {"ownLimitSpin", "1000"}}) {
        Get<QSpinBox>(spin)->selectAll();
        QTest::keyClicks(Get(spin), typed);
    }
    Click("okButton");
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

// Entering a radio group passes the focus on to the next box that takes it, and not back and forth
// between the groups when none does. An unknown Security shows no choice: OK waits for one.
TEST_F(SettingsDialogTest, RadioGroupsPassTheFocusOnAndAnUnknownSecurityWaitsForAChoice)
{
    // A picture size of its own, no size limit option: its own box is off.
    folder.Write(SettingsFileName, KelvoIni({"dotsettei=2", "siteidot=150", "rfsize=-3", "Security=STARTTLS"}));
    settings.UnknownSecurity = "STARTTLS";
    Open();
    Click("phonePageButton");
    Get("sizeLimitGroup")->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(Get("ownSizeSpin")->hasFocus());
    Click("recommendedSizeOption");
    Get("pictureSizeGroup")->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(Get("pictureSizeGroup")->hasFocus() || Get("sizeLimitGroup")->hasFocus());
    Click("okButton");
    Get<QComboBox>("securityCombo")->setCurrentIndex(int(SmtpSecurity::StartTls));
    Click("okButton");
    EXPECT_EQ(recorder.Texts(), QStringList{"接続の保護（なし、STARTTLS、SSL/TLS）を選んでください。"});
    EXPECT_EQ(ReadSetting(Setting::Security), "1");
    EXPECT_EQ(settings.UnknownSecurity, "");
}

// Choosing Microsoft or Google fills in its server (Microsoft's own for a personal address), port and protection; OK
// waits for a client ID, which the details dialog takes; Auth=2 and [oauth] are written and shown again. The new
// controls are named for a screen reader by their labels.
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
    // A box is read with the label that names it (on Linux a relation, the box's name being its value).
    QAccessibleInterface *box = QAccessible::queryAccessibleInterface(Get("loginMethodCombo"));
    const auto labels = box->relations(QAccessible::Label);
    EXPECT_EQ(labels.isEmpty() ? QString() : labels[0].first->text(QAccessible::Name), "ログイン方法(M)");
    const std::pair<const char *, const char *> names[] = {
        {"signInButton", "サインイン(I)…"}, {"signOutButton", "サインアウト(O)"}, {"detailsButton", "詳細(D)…"}};
    for (const auto &[name, spoken] : names)
        EXPECT_EQ(QAccessible::queryAccessibleInterface(Get(name))->text(QAccessible::Name), spoken) << name;
}

// keitai.txt is read no further than its bounds of bytes (an unfinished line dropped) and lines.
TEST_F(SettingsDialogTest, ModelListIsReadWithinItsBounds)
{
    folder.Write("keitai.txt", QByteArray(2 * ModelFileMaxBytes, 'z'));
    EXPECT_EQ(ReadModelList(folder.File("keitai.txt")), QStringList());
    EXPECT_EQ(SplitModelLines(QByteArray(20000, '\n')).size(), ModelListMaxLines);
}

} // namespace
