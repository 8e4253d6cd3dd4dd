#pragma once

#include <QString>

// Where kelvo keeps its files. There are two layouts, and one of them holds for a whole run:
//
// - Portable: kelvo.ini and the attachment beside the program, address.dat and keitai.txt in
//   the working folder. A folder copied from Windows, or a build folder, works as it always
//   has: the layout is chosen by a kelvo.ini beside the program.
// - Installed: the folders the desktop keeps for each user (QStandardPaths, which follows the
//   XDG variables): kelvo.ini and the user's own keitai.txt in ~/.config/kelvo, address.dat in
//   ~/.local/share/kelvo, the attachment in ~/.cache/kelvo; a keitai.txt for every user may
//   lie in kelvo/ under the system data folders (/usr/share/kelvo, say).
//
// The files are the same in both, so they copy between the layouts.

enum class FileLayout { Portable, Installed };

inline const QString SettingsFileName = QStringLiteral("kelvo.ini");
inline const QString AddressFileName = QStringLiteral("address.dat");
inline const QString ModelListFileName = QStringLiteral("keitai.txt");

// Portable when kelvo.ini is in the program's folder now, else Installed.
FileLayout LayoutFoundBesideProgram();

// The layout the paths below follow. Program start sets it once; until then (and in tools
// that build on the libraries) it is Portable.
void UseFileLayout(FileLayout layout);

// Set for a kelvo started beside another one that holds kelvo.ini and address.dat but does
// not answer (frozen, or stopped): that one may still write them, so this one reads them
// and never writes them. Unset for every ordinary start.
void LeaveFilesAlone(bool leave);
bool FilesLeftAlone();

QString SettingsFilePath();
// Portable: the bare name, looked up in the working folder when it is used.
QString AddressBookPath();
// The folder the attachment is written to, ending with "/".
QString AttachmentFolder();
// The phone model list to read; empty when there is none.
QString ModelListPath();

// Makes the folder that `filePath` goes into, with any folders above it that are missing,
// readable by the user alone. Throws, naming the folder, when it cannot be made (a file of
// its name is in the way, or the home folder is read-only).
void MakeFolderFor(const QString &filePath);
