#include "platform/ProgramFolder.h"

#include <QCoreApplication>

namespace {
QString overrideFolder;
}

QString ProgramFolder()
{
    QString folder = overrideFolder.isEmpty() ? QCoreApplication::applicationDirPath() : overrideFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

void SetProgramFolder(const QString &folder)
{
    overrideFolder = folder;
}
