#include "app/Unit1.h"

#include "settings/Unit2.h"
#include "settings/Unit3.h"

#include <QApplication>
#include <QIcon>

int RunKelvo()
{
    Q_INIT_RESOURCE(kelvo);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kelvo/kelvo.png")));
    // Created in this order and kept for the whole run: the settings dialog reads
    // keitai.txt and the address book reads address.dat as they are made.
    TfrmMain frmMain;
    const DestinationSetter setDestination = [&frmMain](const QString &text) { frmMain.SetDestinationText(text); };
    TfrmSettei frmSettei(frmMain.Settings, setDestination, &frmMain);
    TfrmAddress frmAddress(setDestination, &frmMain);
    frmMain.SetDialogs(&frmSettei, &frmAddress);
    frmMain.show();
    return QApplication::exec();
}
