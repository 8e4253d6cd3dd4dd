#include "app/Unit1.h"

#include <QApplication>

int RunKelvo()
{
    TfrmMain frmMain;
    // The two dialogs are filled in by their own units; until they land the main
    // window runs without them.
    frmMain.show();
    return QApplication::exec();
}
