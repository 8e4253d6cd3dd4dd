#include "app/MainWindow.h"

#include "settings/AddressBookDialog.h"
#include "settings/SettingsDialog.h"

#include <QApplication>
#include <QIcon>

int RunKelvo()
{
    Q_INIT_RESOURCE(kelvo);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kelvo/kelvo.png")));
    // Created in this order and kept for the whole run: the settings dialog reads
    // keitai.txt and the address book reads address.dat as they are made.
    MainWindow mainWindow;
    const DestinationSetter setDestination = [&mainWindow](const QString &text) {
        mainWindow.SetDestinationText(text);
    };
    SettingsDialog settingsDialog(mainWindow.Settings, setDestination, &mainWindow);
    AddressBookDialog addressBookDialog(setDestination, &mainWindow);
    mainWindow.SetDialogs(&settingsDialog, &addressBookDialog);
    mainWindow.show();
    return QApplication::exec();
}
