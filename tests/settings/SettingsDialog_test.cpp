#include "settings/SettingsDialog.h"

#include "platform/CodePage.h"
#include "platform/MsgBox.h"
#include "support/TestFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// The keys of a file the program wrote, "section.key=value" in file order.
QStringList Entries(const QByteArray &bytes)
{
    QStringList out;
    QString section;
    for (const QString &line : FromCP932(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('[')))
            section = line.mid(1, line.size() - 2);
        else
            out << section + QLatin1Char('.') + line;
    }
    return out;
}

class SetteiTest : public ::testing::Test
{
protected:
    void Create()
    {
        dialog = std::make_unique<SettingsDialog>(settings, [this](const QString &text) { destination = text; });
        dialog->OnTerminate = [this] { ++terminated; };
    }
    void Open()
    {
        Create();
        dialog->show();
    }
    // A complete kelvo.ini as the program writes it; `changes` maps keys (unique
    // across the sections here) to other values.
    void WriteIni(const QList<std::pair<QString, QString>> &changes = {})
    {
        QString text = QStringLiteral("[web]\r\nkai=3\r\n[smtp]\r\nname=花子\r\nFromAddress=hanako@example.ne.jp\r\n"
                                      "Port=26\r\nSMTP=mx.example.ne.jp\r\nID=hana\r\nDest=friend@example.com\r\n"
                                      "[keitai]\r\ndotsettei=2\r\nkishu=J-Phone,J-SH010:220\r\nsiteidot=150\r\n"
                                      "rfsize=3\r\nofsize=40\r\n[Koukoku]\r\nflg=1\r\n");
        for (const auto &[key, value] : changes)
            text.replace(QRegularExpression(QStringLiteral("(?m)^%1=[^\\r]*").arg(key)),
                         key + QLatin1Char('=') + value);
        folder.Write(SettingsFileName, ToCP932(text));
    }
    template <class T> T *Get(const char *name)
    {
        T *w = dialog->findChild<T *>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit *Edit(const char *name) { return Get<QLineEdit>(name); }
    bool Enabled(const char *name) { return Get<QWidget>(name)->isEnabled(); }
    void Focus(const char *name, Qt::FocusReason why = Qt::TabFocusReason) { Get<QWidget>(name)->setFocus(why); }
    void EnterSmtp()
    {
        Focus("txtMailAdd");
        Focus("txtSMTP");
    }
    // QTest types ASCII only; a key event carrying the text is how a committed
    // Japanese word arrives as well.
    void Type(const char *name, const QString &text)
    {
        Edit(name)->clear();
        for (const QChar c : text) {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(Edit(name), &key);
        }
    }
    void Click(const char *name) { Get<QAbstractButton>(name)->click(); }
    void OpenActive()
    {
        Open();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    }
    void SetSpin(const char *name, int value)
    {
        QSpinBox *spin = Get<QSpinBox>(name);
        spin->selectAll();
        QTest::keyClicks(spin, QString::number(value));
    }
    int Option(const char *group) // options are children in their order
    {
        const QList<QRadioButton *> options = Get<QGroupBox>(group)->findChildren<QRadioButton *>();
        for (int i = 0; i < options.size(); ++i)
            if (options[i]->isChecked())
                return i;
        return -1;
    }
    QStringList Written() { return Entries(folder.Read(SettingsFileName)); }

    TestFolder folder;
    MessageRecorder recorder;
    MainSettings settings;
    QString destination = QStringLiteral("unset");
    int terminated = 0;
    std::unique_ptr<SettingsDialog> dialog;
};

TEST_F(SetteiTest, FirstRunTypedSettingsAreWrittenInOrderAndTakenOver)
{
    settings.LaunchCount = 7;
    OpenActive();
    EXPECT_TRUE(Get<QCheckBox>("CheckBox2")->isChecked());
    EXPECT_EQ(Edit("txtID")->text(), "default");
    EXPECT_FALSE(Enabled("txtSMTP"));

    QTest::keyClicks(Edit("txtMailAdd"), "taro@mail");
    EXPECT_EQ(Edit("txtID")->text(), "taro"); // replaced once, at the "@"
    EXPECT_FALSE(Enabled("txtSMTP"));
    QTest::keyClicks(Edit("txtMailAdd"), ".example.jp");
    EXPECT_TRUE(Enabled("txtSMTP"));
    EXPECT_TRUE(Enabled("lblSMTP"));
    Focus("txtSMTP");
    EXPECT_EQ(Edit("txtSMTP")->text(), "mail.example.jp");
    Type("dSendAdd", "jiro@example.com");

    Click("SpeedButton1");
    EXPECT_TRUE(recorder.Messages.isEmpty()) << recorder.Texts().join('\n').toStdString();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(Written(),
              QStringList({"web.kai=0", "smtp.name=kelvo", "smtp.FromAddress=taro@mail.example.jp", "smtp.Port=25",
                           "smtp.SMTP=mail.example.jp", "smtp.ID=taro", "smtp.Dest=jiro@example.com",
                           "keitai.dotsettei=0", "keitai.kishu=J-Phone,J-SH010:220", "keitai.siteidot=100",
                           "keitai.rfsize=0", "keitai.ofsize=5", "Koukoku.flg=1"}));
    EXPECT_EQ(QStringList({settings.FromName, settings.FromAddress, settings.SmtpHost, settings.UserId, destination}),
              QStringList({"kelvo", "taro@mail.example.jp", "mail.example.jp", "taro", "jiro@example.com"}));
    EXPECT_EQ(std::vector<int>({settings.LaunchCount, settings.SmtpPort, settings.DotSize, settings.SizeLimit}),
              std::vector<int>({0, 25, 95, 4800}));
    EXPECT_TRUE(settings.AdFooter);
}

TEST_F(SetteiTest, EnteringTheSmtpBoxProposesTheDomainOnlyWhenEmptyAndTheAddressHasADot)
{
    OpenActive();
    QTest::keyClicks(Edit("txtMailAdd"), "a@b.c");
    Type("txtMailAdd", "a@bc");
    Focus("txtSMTP", Qt::MouseFocusReason);
    EXPECT_EQ(recorder.Texts(), QStringList{"正しいメールアドレスを最初に入力してください。"});
    EXPECT_EQ(recorder.Messages.value(0).Kind, MsgKind::Plain);
    EXPECT_EQ(Edit("txtSMTP")->text(), "");

    Type("txtMailAdd", "host.example"); // no "@": the whole address
    EnterSmtp();
    EXPECT_EQ(Edit("txtSMTP")->text(), "host.example");
    Type("txtMailAdd", "x@other.jp"); // a filled box is left alone
    EnterSmtp();
    EXPECT_EQ(Edit("txtSMTP")->text(), "host.example");
}

TEST_F(SetteiTest, OkRefusesEmptyFieldsAndStopsAtAFailedWrite)
{
    Open();
    Click("SpeedButton1");
    QTest::keyClicks(Edit("txtMailAdd"), "a@b.c");
    QTest::keyClicks(Edit("txtSMTP"), "smtp.b.c");
    Type("txtMailAdd", "");
    Click("SpeedButton1");
    EXPECT_EQ(recorder.Texts(), QStringList({"SMTPサーバを入力してください。", "メールアドレスを入力してください。"}));
    EXPECT_FALSE(QFile::exists(folder.File(SettingsFileName)));

    QDir(folder.Path()).mkdir(SettingsFileName); // the first key cannot be written
    Type("txtMailAdd", "a@b.c");
    Click("SpeedButton1");
    EXPECT_TRUE(recorder.Texts().value(2).endsWith("kelvo.ini に書き込めません"));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(settings.FromAddress, MainSettings().FromAddress);
}

// What OK writes and sets from the two pages: the port and ID put right, the picture size and
// the size limit derived from the options and spin boxes (0: left as loaded).
TEST_F(SetteiTest, OkNormalisesPortAndIdAndDerivesTheSizes)
{
    struct Row
    {
        const char *storedPort, *typedPort, *address, *typedId, *port, *id;
        int dot, spin, size, kilobytes, dotSize, sizeLimit;
    } rows[] = {
        {"26", "ab", "hanako@example.ne.jp", "", "25", "hanako", 1, 0, 3, 12, 220, 10800},
        {"26", "", "nohost.example", "", "25", "", 2, 333, 3, 2, 333, 800}, // no "@": the ID stays empty
        {"26", "123", "hanako@example.ne.jp", "me", "12", "me", 0, 0, 3, 1000, 95, 998800},  // two characters at most
        {"587", nullptr, "hanako@example.ne.jp", "me", "587", "me", 2, 50, 1, 0, 50, 10800}, // a longer one is kept
        {"26", nullptr, "hanako@example.ne.jp", "x", "26", "x", 1, 0, 2, 0, 220, 100000},
        {"26", nullptr, "hanako@example.ne.jp", "y", "26", "y", 0, 0, 0, 0, 95, 4800},
        // Typed below the boxes' ranges and not yet taken: OK uses them, brought into range.
        {"26", nullptr, "hanako@example.ne.jp", "z", "26", "z", 2, 5, 3, 1, 50, 800},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.storedPort << " " << row.address << " " << row.dot << row.size);
        WriteIni({{"Port", row.storedPort}, {"FromAddress", row.address}});
        Open();
        EXPECT_EQ(Edit("txtSMTPPort")->text(), row.storedPort);
        Click("CheckBox1");
        EXPECT_TRUE(Enabled("txtID") && Enabled("lblPort"));
        if (row.typedPort)
            Type("txtSMTPPort", row.typedPort);
        Type("txtID", row.typedId);
        Click(qPrintable(QStringLiteral("GazouSize%1").arg(row.dot)));
        EXPECT_EQ(std::pair(Enabled("KishuIchi"), Enabled("SiteiGSize")), std::pair(row.dot == 1, row.dot == 2));
        if (row.spin)
            SetSpin("SiteiGSize", row.spin);
        Click(qPrintable(QStringLiteral("SelFileSize%1").arg(row.size)));
        EXPECT_EQ(Enabled("OtSize"), row.size == 3);
        if (row.kilobytes)
            SetSpin("OtSize", row.kilobytes);
        Click("SpeedButton1");
        EXPECT_FALSE(dialog->isVisible());
        const QStringList w = Written(); // an existing file keeps its counter
        EXPECT_EQ(QStringList({w.value(0), w.value(3), w.value(5), w.value(7), w.value(10)}),
                  QStringList({"web.kai=3", QStringLiteral("smtp.Port=") + row.port,
                               QStringLiteral("smtp.ID=") + row.id, QStringLiteral("keitai.dotsettei=%1").arg(row.dot),
                               QStringLiteral("keitai.rfsize=%1").arg(row.size)}));
        EXPECT_EQ(std::vector<int>({settings.SmtpPort, settings.DotSize, settings.SizeLimit}),
                  std::vector<int>({QString(row.port).toInt(), row.dotSize, row.sizeLimit}));
        EXPECT_EQ(settings.UserId, row.id);
    }
    Click("CheckBox1");
    EXPECT_FALSE(Enabled("txtID") || Enabled("lblID"));
}

TEST_F(SetteiTest, AModelLineWithoutASizeFailsOkAfterTheKeysAreWritten)
{
    folder.Write("keitai.txt", ToCP932("Docomo,N503\r\n"));
    Open();
    QTest::keyClicks(Edit("txtMailAdd"), "a@b.c");
    QTest::keyClicks(Edit("txtSMTP"), "smtp.b.c");
    Click("GazouSize1");
    QComboBox *kishu = Get<QComboBox>("KishuIchi");
    kishu->setCurrentIndex(kishu->findText("Docomo,N503"));
    Click("SpeedButton1");
    EXPECT_EQ(recorder.Texts(), QStringList{"'Docomo,N503' は数値ではありません"});
    EXPECT_EQ(recorder.Messages.value(0).Kind, MsgKind::Error);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(settings.DotSize, 120);
    EXPECT_EQ(Written().mid(7, 5), QStringList({"keitai.dotsettei=1", "keitai.kishu=Docomo,N503", "keitai.siteidot=100",
                                                "keitai.rfsize=0", "keitai.ofsize=5"}));
    EXPECT_EQ(Written().size(), 12); // flg comes after the sizes and was not written
}

TEST_F(SetteiTest, ShownModallyOnlyCancelOrOkCloseIt)
{
    WriteIni();
    const QByteArray before = folder.Read(SettingsFileName);
    Create();
    QTimer fallback; // never leave the test hanging
    fallback.setSingleShot(true);
    QObject::connect(&fallback, &QTimer::timeout, dialog.get(), [this] { dialog->done(-1); });
    fallback.start(20000);
    bool stillOpen = false;
    QTimer::singleShot(0, dialog.get(), [&] {
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        stillOpen = !dialog->close() && dialog->isVisible();
        Type("txtFromMail", "太郎");
        Click("SpeedButton2");
    });
    EXPECT_EQ(dialog->exec(), QDialog::Rejected);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(Edit("txtFromMail")->text(), "太郎"); // kept until the next showing
    EXPECT_EQ(folder.Read(SettingsFileName), before);
    EXPECT_EQ(settings.FromName, "kelvo");
    dialog->show();
    EXPECT_EQ(Edit("txtFromMail")->text(), "花子");
    EXPECT_TRUE(recorder.Messages.isEmpty() && terminated == 0);
}

TEST_F(SetteiTest, ShowingFillsFromTheFileAndStopsAtABadNumber)
{
    struct Row
    {
        const char *key;
        int gazou, siteidot, selFile, otSize;
        bool ad;
    } rows[] = {
        {nullptr, 2, 150, 3, 40, true},  {"dotsettei", 0, 100, 0, 5, false}, {"siteidot", 2, 100, 0, 5, false},
        {"rfsize", 2, 150, 0, 5, false}, {"ofsize", 2, 150, 3, 5, false},    {"flg", 2, 150, 3, 40, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.key ? row.key : "good file");
        recorder.Clear();
        WriteIni({{row.key ? row.key : "none", "1x"}});
        Create();
        Get<QCheckBox>("CheckBox2")->setChecked(false);
        dialog->show();
        EXPECT_EQ(recorder.Texts(), row.key ? QStringList{"'1x' は数値ではありません"} : QStringList());
        EXPECT_EQ(QStringList({Edit("txtSMTP")->text(), Edit("txtFromMail")->text(), Edit("txtID")->text(),
                               Edit("dSendAdd")->text()}),
                  QStringList({"mx.example.ne.jp", "花子", "hana", "friend@example.com"}));
        EXPECT_TRUE(Enabled("txtSMTP"));
        EXPECT_EQ(std::vector<int>({Option("GazouSize"), Get<QSpinBox>("SiteiGSize")->value(), Option("SelFileSize"),
                                    Get<QSpinBox>("OtSize")->value(), Get<QCheckBox>("CheckBox2")->isChecked()}),
                  std::vector<int>({row.gazou, row.siteidot, row.selFile, row.otSize, row.ad}));
        if (!row.key) {
            EXPECT_TRUE(!Enabled("KishuIchi") && Enabled("SiteiGSize") && Enabled("OtSize"));
        }
    }
}

TEST_F(SetteiTest, StoredOptionIndexesOutOfRangeAreClamped)
{
    WriteIni({{"dotsettei", "7"}, {"rfsize", "-3"}});
    Open();
    EXPECT_EQ(Option("GazouSize"), 2);
    EXPECT_EQ(Option("SelFileSize"), -1);
    EXPECT_FALSE(Enabled("OtSize"));
    Click("SpeedButton1");
    EXPECT_EQ(settings.DotSize, 150);
    EXPECT_EQ(settings.SizeLimit, 4800); // no option: left as it was
    EXPECT_TRUE(Written().contains("keitai.rfsize=-1"));
}

TEST_F(SetteiTest, EnteringARadioGroupPassesTheFocusOn)
{
    OpenActive();
    Click("TabButton2");
    EXPECT_EQ(Get<QStackedWidget>("PageControl1")->currentIndex(), 1);
    Click("GazouSize1");
    Focus("GazouSize1", Qt::MouseFocusReason); // an option itself keeps it
    Focus("GazouSize");
    EXPECT_TRUE(Get<QWidget>("KishuIchi")->hasFocus());
    Click("SelFileSize3");
    Focus("SelFileSize3", Qt::MouseFocusReason);
    Focus("SelFileSize", Qt::BacktabFocusReason);
    EXPECT_TRUE(Get<QWidget>("OtSize")->hasFocus());
    // With nothing usable after either group the focus stays put instead of
    // bouncing between the two.
    Click("GazouSize0");
    Click("SelFileSize0");
    Focus("GazouSize");
    EXPECT_TRUE(Get<QWidget>("GazouSize")->hasFocus() || Get<QWidget>("SelFileSize")->hasFocus());
}

TEST_F(SetteiTest, ModelListIsSplitDecodedCutSortedAndBounded)
{
    EXPECT_EQ(SplitModelLines("a\r\n\r\nb\nc"), QStringList({"a", "", "b", "c"}));
    EXPECT_EQ(SplitModelLines("a\nb\n"), QStringList({"a", "b"}));
    EXPECT_EQ(SplitModelLines("a\nb", false), QStringList({"a"})); // a cut-off last line is dropped
    EXPECT_EQ(SplitModelLines("\x81\r\nx\x83\x4a"),
              QStringList({QString(QChar(0xFFFD)), "x" + QStringLiteral("\u30AB")}));
    // 256 bytes at most, never half a character: "x" and 127 double-byte characters.
    EXPECT_EQ(SplitModelLines("x" + QByteArray("\x82\xa0").repeated(300)),
              QStringList{"x" + QStringLiteral("\u3042").repeated(127)});
    EXPECT_EQ(SplitModelLines(QByteArray(20000, '\n')).size(), ModelListMaxLines);

    folder.Write("keitai.txt", "docomo,x:1\r\nAU,y:2\r\nj-phone,z:3\r\n\r\n");
    Create();
    QStringList items;
    for (int i = 0; i < Get<QComboBox>("KishuIchi")->count(); ++i)
        items << Get<QComboBox>("KishuIchi")->itemText(i);
    EXPECT_EQ(items, QStringList({"", "AU,y:2", "docomo,x:1", "J-Phone,J-SH010:220", "j-phone,z:3"}));

    // 10 000 lines (long ones, invalid bytes, empty ones) within the size bound; then
    // one line longer than the bound, which is cut off unfinished and so dropped.
    QByteArray lines;
    for (int i = 0; i < 10000; ++i)
        lines += (i % 100 == 0 ? QByteArray(5000, 'w') : i % 2 ? QByteArray("\xff\x81\xfd:") : QByteArray()) + "\r\n";
    ASSERT_LT(lines.size(), ModelFileMaxBytes);
    const QList<std::pair<QByteArray, int>> files = {{lines, 10001}, {QByteArray(2 * ModelFileMaxBytes, 'z'), 1}};
    for (const auto &[bytes, count] : files) {
        folder.Write("keitai.txt", bytes);
        Open();
        EXPECT_EQ(Get<QComboBox>("KishuIchi")->count(), count);
        EXPECT_EQ(Get<QComboBox>("KishuIchi")->currentText(), "J-Phone,J-SH010:220");
    }
}

// Pictures of the three pages for the documentation; run on a real screen server:
//   QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" <build>/tests/settings_tests
//       --gtest_also_run_disabled_tests --gtest_filter=SetteiScreenshots.*
TEST(SetteiScreenshots, DISABLED_TabPages)
{
    TestFolder folder;
    MessageRecorder recorder;
    MainSettings settings;
    SettingsDialog dialog(settings, nullptr);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const char *names[] = {"smtp", "phone", "option"};
    for (int i = 0; i < 3; ++i) {
        dialog.findChild<QToolButton *>(QStringLiteral("TabButton%1").arg(i + 1))->click();
        QTest::qWait(50);
        const QString path = QStringLiteral(KELVO_SOURCE_DIR "/docs/settings-%1.png").arg(names[i]);
        EXPECT_TRUE(dialog.grab().save(path)) << qPrintable(path);
    }
    dialog.done(0);
}

} // namespace
