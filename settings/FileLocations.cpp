#include "settings/FileLocations.h"

#include "platform/Exception.h"
#include "platform/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

namespace {

FileLayout layout = FileLayout::Portable;
bool filesLeftAlone = false;

// The folder named `kelvo` in one of the user's own XDG folders, ending with "/".
QString KelvoFolderIn(QStandardPaths::StandardLocation location)
{
    return QStandardPaths::writableLocation(location) + QStringLiteral("/kelvo/");
}

} // namespace

FileLayout LayoutFoundBesideProgram()
{
    return QFileInfo(ProgramFolder() + SettingsFileName).isFile() ? FileLayout::Portable : FileLayout::Installed;
}

void UseFileLayout(FileLayout chosen)
{
    layout = chosen;
}

void LeaveFilesAlone(bool leave)
{
    filesLeftAlone = leave;
}

bool FilesLeftAlone()
{
    return filesLeftAlone;
}

QString SettingsFilePath()
{
    if (layout == FileLayout::Portable)
        return ProgramFolder() + SettingsFileName;
    return KelvoFolderIn(QStandardPaths::GenericConfigLocation) + SettingsFileName;
}

QString AddressBookPath()
{
    if (layout == FileLayout::Portable)
        return AddressFileName;
    return KelvoFolderIn(QStandardPaths::GenericDataLocation) + AddressFileName;
}

QString AttachmentFolder()
{
    if (layout == FileLayout::Portable)
        return ProgramFolder();
    return KelvoFolderIn(QStandardPaths::GenericCacheLocation);
}

QString ModelListPath()
{
    QStringList candidates;
    if (layout == FileLayout::Portable) {
        candidates.append(QDir::current().filePath(ModelListFileName));
    } else {
        // The user's own list first, then one that a package or an administrator put in the
        // system data folders (the user's own data folder, which Qt lists first, is not one).
        candidates.append(KelvoFolderIn(QStandardPaths::GenericConfigLocation) + ModelListFileName);
        const QStringList dataFolders = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
        for (const QString &folder : dataFolders.mid(1))
            candidates.append(folder + QStringLiteral("/kelvo/") + ModelListFileName);
    }
    for (const QString &path : candidates)
        if (QFileInfo(path).isFile())
            return path;
    return QString();
}

void MakeFolderFor(const QString &filePath)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    if (QFileInfo(folder).isDir())
        return;
    // Each missing folder on the way is made as the XDG folders themselves are: for the
    // user alone. What they hold (the settings, the address book, pictures on their way
    // out) is nobody else's business.
    QString path;
    for (const QString &part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        if (QFileInfo(path).isDir())
            continue;
        if (mkdir(QFile::encodeName(path).constData(), 0700) != 0 && !QFileInfo(path).isDir())
            throw Exception(
                QCoreApplication::translate(
                    "FileLocations",
                    "フォルダ %1 を作成できません。同じ名前のファイルがあるか、書き込みが許可されていません。")
                    .arg(QDir::toNativeSeparators(folder)));
    }
}
