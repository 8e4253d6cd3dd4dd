#pragma once

#include <QString>

// The folder that holds the program file, ending with "/". A kelvo.ini there makes the
// layout portable, with kelvo.ini and the attachment file kept there. Tests point it at a
// temporary folder.
QString ProgramFolder();
void SetProgramFolder(const QString &folder);
