#include "app/MainWindow.h"
#include "settings/SettingsDialog.h"

#include "platform/MsgBox.h"
#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// The main window and its settings dialog as program start makes them, without a
// settings file. `WhenDialogShows` runs inside the dialog's modal loop.
class FirstRunTest : public ::testing::Test
{
protected:
    FirstRunTest()
        : settei(
              main.Settings, [this](const QString &text) { main.SetDestinationText(text); }, &main)
    {
        settei.OnTerminate = [this] { ++terminated; };
        main.SetDialogs(&settei, nullptr);
        settei.installEventFilter(&showWatcher);
    }

    // Shows the main window and waits for the first-run dialog to be closed.
    void Run(std::function<void()> whenDialogShows)
    {
        showWatcher.action = std::move(whenDialogShows);
        QTimer fallback; // never leave the test hanging in the modal loop
        fallback.setSingleShot(true);
        QObject::connect(&fallback, &QTimer::timeout, &settei, [this] { settei.done(-1); });
        fallback.start(20000);
        main.show();
        EXPECT_TRUE(QTest::qWaitFor([this] { return showWatcher.shown && !settei.isVisible(); }, 30000));
        EXPECT_NE(settei.result(), -1) << "closed by the fallback";
    }

    template <class T> T *Get(const char *name) { return settei.findChild<T *>(QLatin1String(name)); }

    struct ShowWatcher : QObject
    {
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Show && !shown) {
                shown = true;
                QTimer::singleShot(0, this, action);
            }
            return false;
        }
        std::function<void()> action;
        bool shown = false;
    };

    TestFolder folder;
    MessageRecorder recorder;
    MainWindow main;
    SettingsDialog settei;
    ShowWatcher showWatcher;
    int terminated = 0;
};

TEST_F(FirstRunTest, OkCreatesTheFileAndSetsTheMainWindowsSettings)
{
    bool adTicked = false;
    Run([this, &adTicked] {
        adTicked = Get<QCheckBox>("CheckBox2")->isChecked();
        QTest::keyClicks(Get<QLineEdit>("txtMailAdd"), "yuki@mail.example.jp");
        QTest::keyClicks(Get<QLineEdit>("dSendAdd"), "dest@example.com");
        QTest::keyClicks(Get<QLineEdit>("txtSMTP"), "smtp.example.jp");
        Get<QAbstractButton>("SpeedButton1")->click();
    });
    EXPECT_TRUE(adTicked);
    EXPECT_EQ(settei.result(), QDialog::Accepted);
    EXPECT_TRUE(recorder.Messages.isEmpty()) << recorder.Texts().join('\n').toStdString();
    EXPECT_TRUE(folder.Read(SettingsFileName).startsWith("[web]\r\nkai=0\r\n"));
    EXPECT_EQ(main.Settings.FromAddress, "yuki@mail.example.jp");
    EXPECT_EQ(main.Settings.SmtpHost, "smtp.example.jp");
    EXPECT_EQ(main.Settings.UserId, "yuki");
    EXPECT_EQ(main.Settings.DotSize, 95);
    EXPECT_TRUE(main.Settings.AdFooter);
    EXPECT_EQ(main.DestinationText(), "dest@example.com");
    EXPECT_EQ(terminated, 0);
}

TEST_F(FirstRunTest, CancelAsksAndNoEndsTheProgramWithoutAFile)
{
    recorder.Answer(MsgResult::Yes);
    recorder.Answer(MsgResult::No);
    bool openAfterYes = false;
    Run([this, &openAfterYes] {
        Get<QAbstractButton>("SpeedButton2")->click();
        openAfterYes = settei.isVisible() && terminated == 0;
        Get<QAbstractButton>("SpeedButton2")->click();
    });
    EXPECT_TRUE(openAfterYes);
    EXPECT_EQ(terminated, 1);
    EXPECT_EQ(recorder.Texts(), QStringList(2, "kelvoを使うには設定を行う必要があります。設定しますか？"));
    EXPECT_EQ(recorder.Messages.value(1).Kind, MsgKind::Plain);
    EXPECT_EQ(recorder.Messages.value(1).Buttons, MsgButtons::YesNo);
    EXPECT_FALSE(QFile::exists(folder.File(SettingsFileName)));
    EXPECT_EQ(main.Settings.LaunchCount, 0);
}

} // namespace
