#include "settings/SettingsDialog.h"

#include "platform/CodePage.h"
#include "platform/MsgBox.h"
#include "platform/PasswordStore.h"

#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>

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
    // A complete kelvo.ini; `changes` gives keys (unique across sections) other values, null removes them.
    void WriteIni(const QList<std::pair<QString, QString>> &changes = {})
    {
        QString text = QStringLiteral("[web]\r\nkai=3\r\n[smtp]\r\nname=花子\r\nFromAddress=hanako@example.ne.jp\r\n"
                                      "Port=25\r\nSMTP=mx.example.ne.jp\r\nID=hana\r\nDest=friend@example.com\r\n"
                                      "Security=1\r\nAuth=1\r\nAuthUser=hana\r\n[keitai]\r\ndotsettei=2\r\n"
                                      "kishu=J-Phone,J-SH010:220\r\nsiteidot=150\r\nrfsize=3\r\nofsize=40\r\n"
                                      "[Koukoku]\r\nflg=1\r\n");
        for (const auto &[key, value] : changes)
            text.replace(QRegularExpression(QStringLiteral("(?m)^%1=[^\\r]*\\r\\n").arg(key)),
                         value.isNull() ? QString() : key + '=' + value + "\r\n");
        folder.Write(SettingsFileName, ToCP932(text));
    }
    template <class T = QWidget> T *Get(const QString &name) { return dialog->findChild<T *>(name); }
    QString Text(const char *name) { return Get<QLineEdit>(name)->text(); }
    int Enabled(const char *name) { return Get(name)->isEnabled(); }
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

// The first run: OK refuses what is missing and a login over a plain connection, takes a port
// out of range as the security's default and typed spin values though not yet taken, and
// stops at a model line without a size after the keys before the flag. The password goes to
// the password store, never into kelvo.ini, and is never shown.
TEST_F(SettingsDialogTest, FirstRunChecksWhatIsTypedThenWritesItInOrder)
{
    settings.LaunchCount = 7;
    Open();
    QTest::keyClick(dialog.get(), Qt::Key_Escape); // only its buttons close it
    EXPECT_FALSE(dialog->close());
    Click("okButton");
    QTest::keyClicks(Get("senderAddressEdit"), "taro@mail");
    EXPECT_EQ(Text("heloNameEdit"), "taro"); // "default" replaced once, at the "@"
    QTest::keyClicks(Get("senderAddressEdit"), ".example.jp");
    Get("serverEdit")->setFocus(Qt::MouseFocusReason); // entering the empty server box proposes the domain
    EXPECT_EQ(Text("serverEdit"), "mail.example.jp");
    Type("senderAddressEdit", "");
    Click("okButton");
    Type("senderAddressEdit", "taro@mail.example.jp");
    Click("authCheck");
    Click("okButton");
    EXPECT_EQ(recorder.Texts(),
              QStringList({"SMTPサーバを入力してください。", "メールアドレスを入力してください。",
                           "SMTP認証を使うときは、接続の保護に STARTTLS か SSL/TLS を選んでください。"}));
    EXPECT_FALSE(QFile::exists(folder.File(SettingsFileName)));

    for (const auto &[key, port] : {std::pair(Qt::Key_End, "465"), {Qt::Key_Home, "25"}, {Qt::Key_Down, "587"}}) {
        QTest::keyClick(Get("securityCombo"), key); // the previous mode's default gives way
        EXPECT_EQ(Text("portEdit"), port);
    }
    Click("advancedCheck");
    Type("portEdit", "655361"); // five digits at most, and no port above 65535
    Type("passwordEdit", "s3cret!");
    Type("defaultDestinationEdit", "jiro@example.com");
    Click("modelSizeOption");
    Get<QComboBox>("modelCombo")->setEditText("Docomo,N503"); // a model line without a size
    Click("okButton");
    EXPECT_EQ(recorder.Texts().value(3), "'Docomo,N503' は数値ではありません");
    EXPECT_EQ(ReadSetting(Setting::OwnSizeLimit) + ReadSetting(Setting::AdFooter), "5");
    Click("ownSizeOption");
    Click("ownLimitOption");
    for (const auto &[spin, typed] : {std::pair("ownSizeSpin", "5"), {"ownLimitSpin", "1000"}}) {
        Get<QSpinBox>(spin)->selectAll();
        QTest::keyClicks(Get(spin), typed);
    }
    Click("okButton");
    EXPECT_EQ(std::pair(recorder.Messages.value(2).Kind, recorder.Messages.value(4).Kind),
              std::pair(MsgKind::Warning, MsgKind::Information)); // no keyring here: kept in memory
    EXPECT_EQ(folder.Read(SettingsFileName),
              "[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@mail.example.jp\r\nPort=587\r\n"
              "SMTP=mail.example.jp\r\nID=taro\r\nDest=jiro@example.com\r\nSecurity=1\r\nAuth=1\r\nAuthUser=\r\n"
              "[keitai]\r\ndotsettei=2\r\nkishu=Docomo,N503\r\nsiteidot=50\r\nrfsize=3\r\nofsize=1000\r\n"
              "[Koukoku]\r\nflg=1\r\n");
    EXPECT_EQ(PasswordStore::Find(PasswordStore::Account("mail.example.jp", "taro@mail.example.jp")), "s3cret!");
    EXPECT_EQ(QString::asprintf("%s %s %s %s %d %d %d %d %d %d %d", qPrintable(settings.FromAddress),
                                qPrintable(settings.SmtpHost), qPrintable(settings.HeloName), qPrintable(destination),
                                settings.LaunchCount, settings.SmtpPort, settings.DotSize, settings.SizeLimit,
                                settings.AdFooter, int(settings.Security), settings.Auth),
              "taro@mail.example.jp mail.example.jp taro jiro@example.com 0 587 50 998800 1 1 1");

    Open(); // the box is empty again, and left empty it keeps what is stored
    EXPECT_EQ(Text("passwordEdit"), "");
    Type("loginNameEdit", "taro.y");
    Click("okButton");
    EXPECT_EQ(std::pair(settings.AuthUser, recorder.Messages.size()), std::pair(QString("taro.y"), qsizetype(5)));
}

// However far the showing gets before a bad or missing number stops it, the boxes that
// depend on an option follow the options read so far; option indexes out of range are
// brought to the nearest option or none; the submission keys are read all the same, and
// show the file, not what was chosen before, whatever is missing. Cancel then leaves
// kelvo.ini alone.
TEST_F(SettingsDialogTest, ShowingFillsFromTheFileAndStopsAtABadNumber)
{
    // The changes to kelvo.ini; the options, the spin values, the ad box, whether modelCombo,
    // ownSizeSpin and ownLimitSpin are enabled, the security, the login name, whether the password
    // box is enabled; the text that is not a number.
    const std::tuple<QList<std::pair<QString, QString>>, const char *, const char *> rows[] = {
        {{}, "2 3 150 40 1 | 0 1 1 | 1 hana 1", nullptr},
        {{{"dotsettei", "1"}, {"siteidot", "1x"}}, "1 0 100 5 0 | 1 0 0 | 1 hana 1", "1x"},
        {{{"flg", {}}}, "2 3 150 40 0 | 0 1 1 | 1 hana 1", ""}, // [Koukoku] without its key
        {{{"Security", {}}, {"AuthUser", {}}}, "2 3 150 40 1 | 0 1 1 | 0 - 1", nullptr},
        {{{"Auth", "１"}}, "2 3 150 40 1 | 0 1 1 | 1 hana 0", "１"},
        {{{"Security", "STARTTLS"}, {"dotsettei", "x"}}, "0 0 100 5 0 | 0 0 0 | -1 hana 1", "x"},
        {{{"dotsettei", "7"}, {"rfsize", "-3"}}, "2 -1 150 40 1 | 0 1 0 | 1 hana 1", nullptr},
    };
    for (const auto &[changes, shown, error] : rows) {
        SCOPED_TRACE(shown);
        recorder.Clear();
        WriteIni(changes);
        const QByteArray before = folder.Read(SettingsFileName);
        Open(false);
        Get<QCheckBox>("adFooterCheck")->setChecked(false);
        Get<QComboBox>("securityCombo")->setCurrentIndex(2); // as choices cancelled before leave them
        Get<QCheckBox>("authCheck")->setChecked(true);
        Get<QLineEdit>("loginNameEdit")->setText("cancelled");
        dialog->show();
        EXPECT_EQ(recorder.Texts(),
                  error ? QStringList{QStringLiteral("'%1' は数値ではありません").arg(error)} : QStringList());
        EXPECT_EQ(QString::asprintf(
                      "%d %d %d %d %d | %d %d %d | %d %s %d", Get<QButtonGroup>("pictureSizeOptions")->checkedId(),
                      Get<QButtonGroup>("sizeLimitOptions")->checkedId(), Get<QSpinBox>("ownSizeSpin")->value(),
                      Get<QSpinBox>("ownLimitSpin")->value(), Get<QCheckBox>("adFooterCheck")->isChecked(),
                      Enabled("modelCombo"), Enabled("ownSizeSpin"), Enabled("ownLimitSpin"),
                      Get<QComboBox>("securityCombo")->currentIndex(),
                      Text("loginNameEdit").isEmpty() ? "-" : qPrintable(Text("loginNameEdit")),
                      Enabled("passwordEdit")),
                  QString(shown));
        EXPECT_EQ(Text("portEdit"), "25");
        Type("senderNameEdit", "taro");
        Type("passwordEdit", "typed");
        Click("cancelButton");
        EXPECT_EQ(std::pair(dialog->isVisible(), folder.Read(SettingsFileName)), std::pair(false, before));
    }
    dialog->show();
    EXPECT_EQ(Text("passwordEdit"), ""); // what was typed before Cancel is gone
    Open(); // entering a radio group passes the focus on, not back and forth between the two

    Click("phonePageButton");
    Get("sizeLimitGroup")->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(Get("ownSizeSpin")->hasFocus());
    Click("recommendedSizeOption");
    Get("pictureSizeGroup")->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(Get("pictureSizeGroup")->hasFocus() || Get("sizeLimitGroup")->hasFocus());
    recorder.Clear(); // OK waits for a choice of a security kelvo does not know, then saves it
    WriteIni({{"Security", "STARTTLS"}});
    settings.UnknownSecurity = "STARTTLS";
    Open();
    Click("okButton");
    Get<QComboBox>("securityCombo")->setCurrentIndex(1);
    Click("okButton");
    EXPECT_EQ(recorder.Texts(), QStringList{"接続の保護（なし、STARTTLS、SSL/TLS）を選んでください。"});
    EXPECT_EQ(ReadSetting(Setting::Security) + settings.UnknownSecurity, "1");
    // keitai.txt is read no further than its bounds of bytes (an unfinished line dropped) and lines.
    folder.Write("keitai.txt", QByteArray(2 * ModelFileMaxBytes, 'z'));
    EXPECT_EQ(ReadModelList(folder.File("keitai.txt")), QStringList());
    EXPECT_EQ(SplitModelLines(QByteArray(20000, '\n')).size(), ModelListMaxLines);
}

} // namespace
