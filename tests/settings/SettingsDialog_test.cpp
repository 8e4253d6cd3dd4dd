#include "settings/SettingsDialog.h"

#include "platform/CodePage.h"
#include "platform/MsgBox.h"
#include "platform/PasswordStore.h"

#include "support/Printers.h"
#include "support/TestFolder.h"

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
        dialog->OnTerminate = [] { ADD_FAILURE() << "asked to end the program"; };
        dialog->setVisible(show);
        dialog->activateWindow(); // entering a box needs an active window
        EXPECT_TRUE(!show || QTest::qWaitForWindowActive(dialog.get()));
    }
    // A complete kelvo.ini; `changes` gives keys (unique across sections) other values, null removes them.
    void WriteIni(const QList<std::pair<QString, QString>> &changes = {})
    {
        QString text = QStringLiteral("[web]\r\nkai=3\r\n[smtp]\r\nname=花子\r\nFromAddress=hanako@example.ne.jp\r\n"
                                      "Port=26\r\nSMTP=mx.example.ne.jp\r\nID=hana\r\nDest=friend@example.com\r\n"
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

// The first run: OK refuses what is missing and a login over a plain connection; the
// ID follows the address, the server box proposes its domain, the security its port.
// The password goes to the password store, never into kelvo.ini, and is never shown.
TEST_F(SettingsDialogTest, FirstRunChecksWhatIsTypedThenWritesItInOrder)
{
    settings.LaunchCount = 7;
    Open();
    Click("SpeedButton1");
    QTest::keyClicks(Get("txtMailAdd"), "taro@mail");
    EXPECT_EQ(Text("txtID"), "taro"); // "default" replaced once, at the "@"
    EXPECT_FALSE(Enabled("txtSMTP"));
    QTest::keyClicks(Get("txtMailAdd"), ".example.jp");
    const std::pair<const char *, const char *> entries[] = {
        {"a@bc", ""}, {"host.example", "host.example"}, {"taro@mail.example.jp", "host.example"}};
    for (const auto &[address, proposed] : entries) { // entering an empty server box
        Type("txtMailAdd", address);
        Get("txtMailAdd")->setFocus(Qt::TabFocusReason);
        Get("txtSMTP")->setFocus(Qt::MouseFocusReason);
        EXPECT_EQ(Text("txtSMTP"), proposed) << address;
    }
    Type("txtMailAdd", "");
    Click("SpeedButton1");
    Type("txtMailAdd", "taro@mail.example.jp");
    Click("AuthCheck");
    Click("SpeedButton1");
    EXPECT_EQ(recorder.Texts(),
              QStringList({"SMTPサーバを入力してください。", "正しいメールアドレスを最初に入力してください。",
                           "メールアドレスを入力してください。",
                           "SMTP認証を使うときは、接続の保護に STARTTLS か SSL/TLS を選んでください。"}));
    EXPECT_EQ(recorder.Messages.value(3).Kind, MsgKind::Warning);
    EXPECT_FALSE(QFile::exists(folder.File(SettingsFileName)));

    for (const auto &[key, port] : {std::pair(Qt::Key_End, "465"), {Qt::Key_Home, "25"}, {Qt::Key_Down, "587"}}) {
        QTest::keyClick(Get("SecurityCombo"), key); // the previous mode's default gives way
        EXPECT_EQ(Text("txtSMTPPort"), port);
    }
    Type("txtPassword", "s3cret!");
    Type("dSendAdd", "jiro@example.com");
    Click("SpeedButton1");
    EXPECT_EQ(recorder.Messages.value(4).Kind, MsgKind::Information); // no keyring here: kept in memory
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(folder.Read(SettingsFileName),
              "[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@mail.example.jp\r\nPort=587\r\n"
              "SMTP=host.example\r\nID=taro\r\nDest=jiro@example.com\r\nSecurity=1\r\nAuth=1\r\nAuthUser=\r\n"
              "[keitai]\r\ndotsettei=0\r\nkishu=J-Phone,J-SH010:220\r\nsiteidot=100\r\nrfsize=0\r\nofsize=5\r\n"
              "[Koukoku]\r\nflg=1\r\n");
    EXPECT_EQ(PasswordStore::Find(PasswordStore::Account("host.example", "taro@mail.example.jp")), "s3cret!");
    EXPECT_EQ(QStringList({settings.FromName, settings.FromAddress, settings.SmtpHost, settings.UserId, destination}),
              QStringList({"kelvo", "taro@mail.example.jp", "host.example", "taro", "jiro@example.com"}));
    EXPECT_EQ(std::vector<int>({settings.LaunchCount, settings.SmtpPort, settings.DotSize, settings.SizeLimit,
                                settings.AdFooter, settings.Security, settings.Auth}),
              std::vector<int>({0, 587, 95, 4800, 1, 1, 1}));

    Open(); // the box is empty again, and left empty it keeps what is stored
    EXPECT_EQ(Text("txtPassword"), "");
    Type("txtAuthUser", "taro.y");
    Click("SpeedButton1");
    EXPECT_EQ(PasswordStore::Find(PasswordStore::Account("host.example", "taro.y")), std::nullopt);
    EXPECT_EQ(settings.AuthUser, "taro.y");
    EXPECT_EQ(recorder.Messages.size(), 5);
}

// OK puts the port (1 to 65535, else the security's default; a port set by hand stays
// when the security changes) and the ID right and derives the sizes from the options and
// spin boxes, typed values counted though not yet taken. A model line without a size
// fails OK after the keys before the advertisement flag are written.
TEST_F(SettingsDialogTest, OkNormalisesPortAndIdAndDerivesTheSizes)
{
    const struct
    {
        const char *typedPort, *address, *kishu;
        int dot, spin, size, kilobytes;
        QStringList written; // Port, ID, flg
        int dotSize, sizeLimit;
    } rows[] = {
        {"ab", "hanako@example.ne.jp", "J-Phone,J-SH010:220", 1, 0, 3, 12, {"465", "hanako", "2"}, 220, 10800},
        {"0", "nohost.example", "", 2, 333, 3, 2, {"465", "", "2"}, 333, 800}, // no "@": the ID stays empty
        {"655351", "hanako@example.ne.jp", "", 0, 0, 3, 1000, {"65535", "hanako", "2"}, 95, 998800},
        {"2525", "hanako@example.ne.jp", "", 2, 5, 2, 0, {"2525", "hanako", "2"}, 50, 100000},
        {"26", "hanako@example.ne.jp", "Docomo,N503", 1, 0, 1, 0, {"26", "hanako", "7"}, 50, 100000},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.typedPort);
        WriteIni({{"FromAddress", row.address}, {"flg", "7"}});
        Open();
        Click("CheckBox1");
        Type("txtSMTPPort", row.typedPort);
        QTest::keyClick(Get("SecurityCombo"), Qt::Key_Down); // to SSL/TLS
        Type("txtID", "");
        Click(QStringLiteral("GazouSize%1").arg(row.dot));
        Get<QComboBox>("KishuIchi")->setEditText(row.kishu);
        for (auto [spin, value] : {std::pair("SiteiGSize", row.spin), std::pair("OtSize", row.kilobytes)}) {
            Get<QSpinBox>(spin)->selectAll();
            QTest::keyClicks(Get(spin), value ? QString::number(value) : QString());
        }
        Click(QStringLiteral("SelFileSize%1").arg(row.size));
        Click("SpeedButton1");
        EXPECT_EQ(
            QStringList({ProfileRead(SettingsFileName, "smtp", "Port"), ProfileRead(SettingsFileName, "smtp", "ID"),
                         ProfileRead(SettingsFileName, "Koukoku", "flg")}),
            row.written);
        EXPECT_EQ(std::vector<int>({settings.DotSize, settings.SizeLimit}), std::vector({row.dotSize, row.sizeLimit}));
        EXPECT_EQ(dialog->isVisible(), !recorder.Messages.isEmpty());
    }
    EXPECT_EQ(recorder.Texts(), QStringList{"'Docomo,N503' は数値ではありません"});
}

// However far the showing gets before a bad or missing number stops it, the boxes that
// depend on an option follow the options read so far; option indexes out of range are
// brought to the nearest option or none.
TEST_F(SettingsDialogTest, ShowingFillsFromTheFileAndStopsAtABadNumber)
{
    const struct
    {
        QList<std::pair<QString, QString>> changes;
        const char *shown; // the options chosen, the spin values, the ad; KishuIchi SiteiGSize OtSize enabled
        const char *error;
    } rows[] = {
        {{}, "2 3 150 40 1 | 0 1 1", nullptr},
        {{{"dotsettei", "1x"}}, "0 0 100 5 0 | 0 0 0", "1x"},
        {{{"dotsettei", "1"}, {"siteidot", "1x"}}, "1 0 100 5 0 | 1 0 0", "1x"},
        {{{"flg", {}}}, "2 3 150 40 0 | 0 1 1", ""}, // [Koukoku] without its key
        {{{"dotsettei", "7"}, {"rfsize", "-3"}}, "2 -1 150 40 1 | 0 1 0", nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.shown);
        recorder.Clear();
        WriteIni(row.changes);
        Open(false);
        Get<QCheckBox>("CheckBox2")->setChecked(false);
        dialog->show();
        EXPECT_EQ(recorder.Texts(),
                  row.error ? QStringList{QStringLiteral("'%1' は数値ではありません").arg(row.error)} : QStringList());
        EXPECT_EQ(
            QStringList({Text("txtSMTP"), Text("txtFromMail"), Text("txtID"), Text("dSendAdd"), Text("txtAuthUser")}),
            QStringList({"mx.example.ne.jp", "花子", "hana", "friend@example.com", "hana"}));
        QList<int> shown;
        for (const char *group : {"GazouSize%d", "SelFileSize%d"}) {
            shown << -1;
            for (int i = 0; i < 4; ++i)
                if (auto *option = Get<QAbstractButton>(QString::asprintf(group, i)); option && option->isChecked())
                    shown.last() = i;
        }
        shown << Get<QSpinBox>("SiteiGSize")->value() << Get<QSpinBox>("OtSize")->value()
              << Get<QCheckBox>("CheckBox2")->isChecked();
        const QList<int> enabled{Enabled("KishuIchi"), Enabled("SiteiGSize"), Enabled("OtSize")};
        EXPECT_EQ(QString::asprintf("%d %d %d %d %d | %d %d %d", shown[0], shown[1], shown[2], shown[3], shown[4],
                                    enabled[0], enabled[1], enabled[2]),
                  QString(row.shown));
        EXPECT_TRUE(Enabled("txtSMTP") && Enabled("txtPassword") &&
                    Get<QComboBox>("SecurityCombo")->currentIndex() == 1);
    }
}

// Only the dialog's buttons close it; Cancel leaves kelvo.ini and the settings alone. And
// entering a radio group passes the focus on, without bouncing between the two groups
// when nothing usable follows either.
TEST_F(SettingsDialogTest, OnlyItsButtonsCloseItAndTheFocusMovesOn)
{
    WriteIni();
    const QByteArray before = folder.Read(SettingsFileName);
    Open();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->close());
    Click("TabButton2");
    Click("GazouSize0");
    Click("SelFileSize3");
    Get("SelFileSize")->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(Get("OtSize")->hasFocus());
    Click("SelFileSize0");
    Get("GazouSize")->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(Get("GazouSize")->hasFocus() || Get("SelFileSize")->hasFocus());
    Type("txtFromMail", "taro");
    Click("SpeedButton2");
    EXPECT_EQ(std::pair(dialog->isVisible(), dialog->result()), std::pair(false, int(QDialog::Rejected)));
    EXPECT_EQ(folder.Read(SettingsFileName), before);
    EXPECT_EQ(settings.FromName, "kelvo");
}

// keitai.txt: lines cut at 256 bytes before a whole character and sorted in with the form's
// own line; a file past the size bound is cut there and its unfinished line dropped.
TEST_F(SettingsDialogTest, ModelListIsCutSortedAndBounded)
{
    const std::pair<QByteArray, QStringList> files[] = {
        {"docomo,x:1\r\n\r\nj-phone,z:3\nx" + QByteArray("\x82\xa0").repeated(300),
         {"", "docomo,x:1", "J-Phone,J-SH010:220", "j-phone,z:3", 'x' + QString(127, u'あ')}},
        {QByteArray(2 * ModelFileMaxBytes, 'z'), {"J-Phone,J-SH010:220"}}};
    for (const auto &[bytes, items] : files) {
        folder.Write("keitai.txt", bytes);
        Open(false);
        QStringList shown;
        for (int i = 0; i < Get<QComboBox>("KishuIchi")->count(); ++i)
            shown << Get<QComboBox>("KishuIchi")->itemText(i);
        EXPECT_EQ(shown, items);
    }
}

} // namespace
