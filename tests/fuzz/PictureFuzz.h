#pragma once

// The picture readers' fuzz targets: the input dropped as a file of one format, kept in a memfd that its path in
// /proc opens as a regular file. A picture or an Exception is the answer; anything else is a finding.
#include "imaging/PictureIntake.h"
#include "platform/Exception.h"

#include <QCoreApplication>

#include <sys/mman.h>
#include <unistd.h>

// The application finds Qt's WebP plug-in; its warnings about damaged files are noise here.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication application(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

inline int DropAsPicture(const uint8_t *data, size_t size, PictureFormat format)
{
    static const int file = memfd_create("picture", 0);
    if (ftruncate(file, 0) != 0 || pwrite(file, data, size, 0) != ssize_t(size))
        std::abort();
    try {
        LoadPicture(QStringLiteral("/proc/self/fd/%1").arg(file), format, 95);
    } catch (const Exception &) {
    }
    return 0;
}
