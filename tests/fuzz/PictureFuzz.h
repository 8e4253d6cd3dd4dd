#pragma once

// What the picture readers' fuzz targets share: the input dropped as a picture of one format, as a user drops a
// file. Every input must give a picture or the message of an Exception; a crash, a leak, a hang or an allocation
// beyond the readers' limits is a finding.
#include "imaging/PictureIntake.h"
#include "platform/Exception.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>
#include <unistd.h>

// Qt's image plug-ins (WebP's) are found through the application; its warnings about damaged files are noise here.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication application(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

// The file is in memory: a memfd, which its path in /proc opens as a regular file.
inline int DropAsPicture(const uint8_t *data, size_t size, PictureFormat format)
{
    static const int file = memfd_create("picture", 0);
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(file);
    if (ftruncate(file, 0) != 0 || pwrite(file, data, size, 0) != ssize_t(size))
        std::abort();
    try {
        LoadPicture(path, format, 95);
    } catch (const Exception &) {
    }
    return 0;
}
