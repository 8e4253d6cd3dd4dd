#include "app/Kelvo.h"

#include "app/CommandLine.h"
#include "app/InterfaceLanguage.h"
#include "app/LaunchFeedback.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "platform/FileName.h"
#include "platform/MsgBox.h"
#include "settings/AddressBookDialog.h"
#include "settings/FileLocations.h"
#include "settings/SettingsDialog.h"

#include <QApplication>
#include <QIcon>
#include <QLockFile>
#include <QScopeGuard>

namespace {

// Whether a window can be shown: without a display the application object could not be made.
bool HasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

} // namespace

int KelvoMain(int argc, char **argv)
{
    CommandLineRequest request;
    QStringList sockets;
    std::unique_ptr<QLockFile> startLock;
    bool unanswered = false;
    {
        // The command line and a kelvo already running are dealt with before there is any
        // window, so that --help, --version and a picture handed over need no display.
        QCoreApplication core(argc, argv);
        // --help speaks the window's language; each application object takes it anew.
        UseLanguage(DesktopLanguage());
        // From the bytes: QCoreApplication::arguments() loses a name that is not UTF-8.
        request = ReadCommandLine(ArgumentNames(argc, argv));
        if (request.ExitCode)
            return *request.ExitCode;
        UseFileLayout(LayoutFoundBesideProgram());
        sockets = InstanceSocketPaths({SettingsFilePath(), AddressBookPath()});
        startLock = LockStart();
        switch (HandToRunningKelvo(sockets, request.Picture, LaunchTokenOfThisStart())) {
        case Handover::Delivered:
            return 0;
        case Handover::NoAnswer:
            PrintError(QCoreApplication::translate("CommandLine", "kelvo: 動いている kelvo が応答しません。"));
            if (!HasDisplay())
                return 1;
            unanswered = true;
            break;
        case Handover::NobodyListens:
            break;
        }
    }
    QApplication app(argc, argv);
    UseLanguage(DesktopLanguage());
    if (unanswered) {
        startLock.reset();
        return StartBesideUnansweringKelvo(request.Picture);
    }
    InstanceServer server;
    server.Listen(sockets);
    startLock.reset();
    return RunKelvo(request.Picture, &server);
}

int StartBesideUnansweringKelvo(const QString &picture)
{
    const QString question = QCoreApplication::translate(
        "CommandLine", "動いている kelvo が応答しません。\nそれでもこの kelvo を起動しますか？\n"
                       "この kelvo は、動いている kelvo の設定とアドレス帳を読むだけで、書き込みません。");
    if (ConfirmBox(question, MsgButtons::YesNo) != MsgResult::Yes)
        return 1;
    // That kelvo may come back and write its files: this one must not write them meanwhile,
    // nor take its sockets.
    LeaveFilesAlone(true);
    const int status = RunKelvo(picture, nullptr);
    LeaveFilesAlone(false);
    return status;
}

int RunKelvo(const QString &picture, InstanceServer *server)
{
    Q_INIT_RESOURCE(kelvo);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kelvo/kelvo.png")));
    // The desktop matches the window to its menu entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("jp.example.kelvo"));
    // Created in this order and kept for the whole run: the settings dialog reads
    // keitai.txt and the address book reads address.dat as they are made.
    MainWindow mainWindow;
    // Taken from here on: the dialogs made next may show a box (a damaged address.dat), whose
    // loop reads hand-overs that would otherwise be answered and lost. The window opens a
    // picture once it has started up.
    const auto forgetHandOvers = qScopeGuard([server] {
        if (server)
            server->OnPictureHandedOver = nullptr;
    });
    if (server) {
        server->OnPictureHandedOver = [&mainWindow](const QString &handed, const QByteArray &launchToken) {
            mainWindow.BringToFront(launchToken);
            if (!handed.isEmpty())
                mainWindow.OpenPicture(handed);
        };
    }
    const DestinationSetter setDestination = [&mainWindow](const QString &text) {
        mainWindow.SetDestinationText(text);
    };
    SettingsDialog settingsDialog(mainWindow.Settings, setDestination, &mainWindow);
    AddressBookDialog addressBookDialog(setDestination, &mainWindow);
    mainWindow.SetDialogs(&settingsDialog, &addressBookDialog);
    if (!picture.isEmpty())
        mainWindow.OpenPicture(picture);
    mainWindow.show();
    return QApplication::exec();
}
