#pragma once

#include <QString>

class InstanceServer;

// The whole program, from the command line to the end of the window; main() is this.
int KelvoMain(int argc, char **argv);

// The windows of a run: the main window, then the settings dialog, then the address book; runs
// the event loop until the main window closes. `picture` (if any) is opened once the settings
// are loaded; pictures that later starts hand to `server` (if any) are opened as they come.
int RunKelvo(const QString &picture, InstanceServer *server);

// A start whose running kelvo does not answer (frozen, or stopped) asks whether to start all the
// same; this kelvo then reads that one's kelvo.ini and address.dat and writes neither, and does
// not listen for later starts. 1 when the user says no.
int StartBesideUnansweringKelvo(const QString &picture);
