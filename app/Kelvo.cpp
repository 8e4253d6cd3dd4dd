#include "app/Kelvo.h"

#include "app/CommandLine.h"
#include "app/InterfaceLanguage.h"
#include "app/LaunchFeedback.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "settings/AddressBookDialog.h"
#include "settings/FileLocations.h"
#include "settings/SettingsDialog.h"

#include <QApplication>
#include <QIcon>
#include <QLockFile>

int KelvoMain(int argc, char **argv)
{
    CommandLineRequest request;
    QStringList sockets;
    std::unique_ptr<QLockFile> startLock;
    {
        // The command line and a kelvo already running are dealt with before there is any
        // window, so that --help, --version and a picture handed over need no display.
        QCoreApplication core(argc, argv);
        // --help speaks the window's language; each application object takes it anew.
        UseLanguage(DesktopLanguage());
        request = ReadCommandLine(QCoreApplication::arguments());
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
            return 1;
        case Handover::NobodyListens:
            break;
        }
    }
    QApplication app(argc, argv);
    UseLanguage(DesktopLanguage());
    InstanceServer server;
    server.Listen(sockets);
    startLock.reset();
    return RunKelvo(request.Picture, &server);
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
    const DestinationSetter setDestination = [&mainWindow](const QString &text) {
        mainWindow.SetDestinationText(text);
    };
    SettingsDialog settingsDialog(mainWindow.Settings, setDestination, &mainWindow);
    AddressBookDialog addressBookDialog(setDestination, &mainWindow);
    mainWindow.SetDialogs(&settingsDialog, &addressBookDialog);
    if (!picture.isEmpty())
        mainWindow.OpenPicture(picture);
    if (server) {
        server->OnPictureHandedOver = [&mainWindow](const QString &handed, const QByteArray &launchToken) {
            mainWindow.BringToFront(launchToken);
            if (!handed.isEmpty())
                mainWindow.OpenPicture(handed);
        };
    }
    mainWindow.show();
    const int status = QApplication::exec();
    if (server)
        server->OnPictureHandedOver = nullptr;
    return status;
}
