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
    MainWindow frmMain;
    const DestinationSetter setDestination = [&frmMain](const QString &text) { frmMain.SetDestinationText(text); };
    SettingsDialog frmSettei(frmMain.Settings, setDestination, &frmMain);
    AddressBookDialog frmAddress(setDestination, &frmMain);
    frmMain.SetDialogs(&frmSettei, &frmAddress);
    frmMain.show();
    return QApplication::exec();
}
