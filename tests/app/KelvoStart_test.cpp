// The real program started as a user starts it: its command line, and a second start beside a running one.
#include "KelvoVersion.h"
#include "app/Kelvo.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "platform/FileName.h"
#include "platform/MsgBox.h"
#include "settings/AddressFile.h"
#include "settings/SettingKeys.h"

#include "support/Failure.h"
#include "support/InstalledLayout.h"
#include "support/Printers.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// No first-run dialog, pictures fitted to 95 dots, the server a closed port.
const QByteArray Ini = "[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@example.jp\r\nID=kelvo\r\n"
                       "SMTP=127.0.0.1\r\nPort=1\r\nDest=hanako@example.jp\r\n[keitai]\r\ndotsettei=0\r\nrfsize=0\r\n["
                       "Koukoku]\r\nflg=2\r\n";

// The installed layout with kelvo.ini, and a copy of the program a build folder's kelvo.ini cannot reach.
struct InstalledKelvo : InstalledLayout
{
    InstalledKelvo()
    {
        Write("config/kelvo/kelvo.ini", Ini);
        EXPECT_TRUE(QFile::copy(QStringLiteral(KELVO_BINARY), Program));
    }
    // Runs kelvo in `folder` to its end; its exit status, -1 when it did not end.
    int Run(const QStringList &arguments, const QString &program = {}, const QString &folder = {}) const
    {
        QProcess kelvo;
        kelvo.setWorkingDirectory(folder.isEmpty() ? Path(".") : folder);
        kelvo.start(program.isEmpty() ? Program : program, arguments);
        // The running kelvo may be this test's, so events go on; one that never ends dies with `kelvo`.
        const bool ended = QTest::qWaitFor([&] { return kelvo.state() == QProcess::NotRunning; }, 30000);
        return ended && kelvo.exitStatus() == QProcess::NormalExit ? kelvo.exitCode() : -1;
    }

    const QString Program = Path("kelvo");
};

// --help and --version need no display, a mistake prints the usage to standard error, in the desktop's language.
TEST(KelvoStart, TheCommandLineNeedsNoDisplay)
{
    // LANGUAGE, the arguments, the exit status, what the output (standard error after a mistake) holds.
    const std::tuple<QString, QStringList, int, QString> rows[] = {
        {"", {"--version"}, 0, QStringLiteral("kelvo %1\n").arg(KelvoVersion)}, // the project's, "0.32"
        {"", {"--no-such-option", "a.jpg"}, 2, "Unknown option 'no-such-option'."},
        {"", {"a.jpg", "b.jpg"}, 2, "画像は一つだけ指定できます。"},
        {"en", {"-h"}, 0, "Shows this help and ends."},
        {"en", {"a.jpg", "b.jpg"}, 2, "Only one picture can be given."},
    };
    for (const auto &[language, arguments, status, output] : rows) {
        QProcess kelvo;
        kelvo.start("env",
                    QStringList{"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", "-u", "LC_ALL", "-u",
                                "LC_MESSAGES", "-u", "LANG", "LANGUAGE=" + language, KELVO_BINARY} +
                        arguments);
        ASSERT_TRUE(kelvo.waitForFinished(30000));
        EXPECT_EQ(kelvo.exitCode(), status) << arguments.join(' ').toStdString();
        const QString printed =
            QString::fromUtf8(status ? kelvo.readAllStandardError() : kelvo.readAllStandardOutput());
        EXPECT_TRUE(printed.contains(output) && (status == 0 || printed.contains("Usage:"))) << printed.toStdString();
    }
}

// This process's RunKelvo is the first kelvo; a later start hands over a picture relative to its folder,
// or nothing, and ends, the window coming to the front; a folder gets a drop's box.
TEST(KelvoStart, PicturesOfLaterStartsReachTheRunningWindow)
{
    InstalledKelvo kelvo;
    MessageRecorder boxes;
    InstanceServer server;
    ASSERT_TRUE(server.Listen(InstanceSocketPaths({SettingsFilePath(), AddressBookPath()})));
    QDir().mkpath(kelvo.Path("folder.jpg"));
    WritePicture(kelvo.Path("second.jpg"), 480, 640);
    QTimer::singleShot(0, [&] {
        const auto closing = qScopeGuard([] { QApplication::closeAllWindows(); }); // after a failed ASSERT too
        MainWindow *window = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets())
            window = window ? window : qobject_cast<MainWindow *>(widget);
        ASSERT_TRUE(window);
        const auto shown = [window] { return window->findChild<QLabel *>("previewPicture")->pixmap().size(); };
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == QSize(95, 71); }));
        QWidget other;
        const auto awayAndBack = [&](const QStringList &arguments) {
            other.show();
            other.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&other));
            EXPECT_EQ(kelvo.Run(arguments), 0);
            EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        };
        awayAndBack({"second.jpg"});
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == QSize(71, 95); }));
        awayAndBack({});
        EXPECT_EQ(kelvo.Run({"folder.jpg"}), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.Messages.size() == 1; }));
        EXPECT_EQ(boxes.Texts(), QStringList("このファイルタイプには対応しておりません。"));
        EXPECT_EQ(shown(), QSize(71, 95));
        window->findChild<QAction *>("sendAction")->trigger(); // to a closed port: an error box
        EXPECT_GT(QFileInfo(kelvo.Path("cache/kelvo/kelvo.jpg")).size(), 0);
    });
    EXPECT_EQ(RunKelvo(WritePicture(kelvo.Path("first.jpg"), 640, 480), &server), 0);
}

// From X11, a later start's token goes to the window as _NET_STARTUP_ID and its "remove" message ends the
// busy cursor (launch_feedback_desktop.py). Garbage on the socket is dropped; a portable kelvo sharing
// only the address book hands over too. A killed kelvo's socket files do not stop the next.
TEST(KelvoStart, OneKelvoPerSettingsFileAndAddressBookWhichTakesTheLaunchToken)
{
    InstalledKelvo kelvo;
    const QStringList sockets = InstanceSocketPaths({SettingsFilePath(), AddressBookPath()});
    const auto listening = [&] { // the socket file of a killed kelvo refuses
        QLocalSocket probe;
        probe.connectToServer(sockets.value(0));
        return probe.waitForConnected(100);
    };
    QProcess desktop;
    desktop.setProcessChannelMode(QProcess::MergedChannels);
    desktop.start("/usr/bin/python3", {QStringLiteral(KELVO_SOURCE_DIR "/tests/app/launch_feedback_desktop.py"),
                                       kelvo.Program, sockets.value(0)});
    EXPECT_TRUE(desktop.waitForFinished(60000) && desktop.exitCode() == 0) << desktop.readAll().toStdString();
    QProcess first;
    first.start(kelvo.Program, {});
    ASSERT_TRUE(QTest::qWaitFor(listening, 30000));
    // Garbage, an over-long path, an over-long token.
    for (const QByteArray &garbage : {QByteArray("GET / HTTP/1.0\r\n\r\n"), QByteArray("KLVO\xff\xff\xff\xff", 8),
                                      QByteArray("KLVO\0\0\0\0\0\0\x02\x01", 12) + QByteArray(513, 'x')}) {
        QLocalSocket peer;
        peer.connectToServer(sockets.value(0));
        ASSERT_TRUE(peer.waitForConnected(5000));
        peer.write(garbage);
        EXPECT_TRUE(peer.waitForDisconnected(2000));
        EXPECT_EQ(peer.readAll(), "");
    }
    EXPECT_EQ(kelvo.Run({WritePicture(kelvo.Path("photo.jpg"), 64, 48)}), 0);

    kelvo.Write("portable/kelvo.ini", Ini);
    QDir().mkpath(kelvo.Path("data/kelvo"));
    ASSERT_TRUE(QFile::copy(kelvo.Program, kelvo.Path("portable/kelvo")));
    EXPECT_EQ(kelvo.Run({}, kelvo.Path("portable/kelvo"), kelvo.Path("data/kelvo")), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill();
    first.waitForFinished();
    ASSERT_TRUE(QFileInfo::exists(sockets.value(0)));
    first.start(kelvo.Program, {});
    EXPECT_TRUE(QTest::qWaitFor(listening, 30000));
    EXPECT_EQ(kelvo.Run({}), 0);
    EXPECT_EQ(first.state(), QProcess::Running); // and dies with `first`
}

// A kelvo that has stopped answering locks no later start out. Without a display the later start says so and ends
// at once; with one it asks, and on Yes runs beside the stopped one, writing neither of its files, nor taking its
// sockets. A picture named in CP932 bytes (from a Windows disk), in a folder so named, reaches a running kelvo whole.
TEST(KelvoStart, AStoppedKelvoLocksNoLaterStartOut)
{
    InstalledKelvo kelvo;
    const QByteArray book = WriteAddressStream({{"a", {"a@x"}}});
    kelvo.Write("data/kelvo/address.dat", book);
    const QStringList sockets = InstanceSocketPaths({SettingsFilePath(), AddressBookPath()});
    QString handed;
    InstanceServer running;
    running.OnPictureHandedOver = [&](const QString &picture, const QByteArray &) { handed = picture; };
    ASSERT_TRUE(running.Listen(sockets));
    const QByteArray cp932 =
        QFile::encodeName(QDir(kelvo.Path(".")).canonicalPath()) + "/\x8e\xca\x90/\x8e\xca\x90^.jpg"; // 写真/写真.jpg
    const char *inCp932Folder = "d=$(printf '\\216\\312\\220') && mkdir \"$d\" && cd \"$d\" && exec \"$0\" \"$(printf "
                                "'\\216\\312\\220^.jpg')\"";
    EXPECT_EQ(kelvo.Run({"-c", inCp932Folder, kelvo.Program}, "sh"), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return FileNameToBytes(handed) == cp932; })) << handed.toStdString();

    QLocalServer stopped; // takes connections, never answers
    QLocalServer::removeServer(sockets[0]);
    ASSERT_TRUE(stopped.listen(sockets[0]));
    QProcess later;
    later.start("env", {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", kelvo.Program});
    EXPECT_TRUE(later.waitForFinished(9000) && later.exitCode() == 1);
    EXPECT_TRUE(later.readAllStandardError().contains("動いている kelvo が応答しません。"));

    MessageRecorder boxes;
    boxes.Answer(MsgResult::No);
    EXPECT_EQ(StartBesideUnansweringKelvo({}), 1);
    boxes.Answer(MsgResult::Yes);
    QTimer::singleShot(0, [] {
        const auto closing = qScopeGuard([] { QApplication::closeAllWindows(); });
        QLabel *notice = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets())
            notice = notice ? notice : widget->findChild<QLabel *>("readOnlyNotice");
        ASSERT_TRUE(notice);
        EXPECT_FALSE(notice->isHidden());
        // The settings' single write, the dialog's OK and the sign-in's [oauth] keys alike, is refused.
        EXPECT_TRUE(FailureOf([] { WriteSettings({{Setting::Destination, "x@y"}}); }).contains("応答しない別の kelvo"));
    });
    EXPECT_EQ(StartBesideUnansweringKelvo({}), 0);
    EXPECT_EQ(boxes.Texts().size(), 2);
    EXPECT_EQ(ReadFile(kelvo.Path("config/kelvo/kelvo.ini")), Ini); // the launch counter untouched
    EXPECT_EQ(ReadFile(kelvo.Path("data/kelvo/address.dat")), book);
    EXPECT_TRUE(stopped.isListening());
}

// Without XDG_RUNTIME_DIR, and with the folder Qt would fall back to taken by another user, the sockets go to a
// folder of kelvo's own in the user's cache: one kelvo per settings file holds all the same.
TEST(KelvoStart, SocketsNeedNoRuntimeFolderFromTheDesktop)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "giving a folder to another user needs root";
    InstalledLayout layout; // puts XDG_RUNTIME_DIR back
    const QByteArray temporary = qgetenv("TMPDIR");
    const auto back = qScopeGuard([&] { temporary.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", temporary); });
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(layout.Path("tmp")));
    const QByteArray taken = QFile::encodeName(layout.Path("tmp/runtime-")) + getpwuid(geteuid())->pw_name;
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(taken)) && chmod(taken, 0777) == 0 && chown(taken, 65534, 65534) == 0);
    const QStringList sockets = InstanceSocketPaths({"kelvo.ini"});
    ASSERT_EQ(sockets.size(), 1);
    EXPECT_TRUE(sockets[0].startsWith(layout.Path("cache/kelvo/runtime/kelvo-"))) << sockets[0].toStdString();
}

} // namespace
