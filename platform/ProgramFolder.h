#pragma once

#include <QString>

// The folder that holds the program file, ending with "/". kelvo.ini and the
// attachment file live there. Tests point it at a temporary folder.
QString ProgramFolder();
void SetProgramFolder(const QString &folder);
