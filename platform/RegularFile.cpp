#include "platform/RegularFile.h"

#include "platform/FileName.h"

#include <QCoreApplication>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

OpenRefusal OpenRegularFile(QFile &file)
{
    const int fd = ::open(FileNameToBytes(file.fileName()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? OpenRefusal::Missing : OpenRefusal::Failed;
    struct stat status
    {
    };
    const auto refuse = [fd](OpenRefusal why, int error) {
        ::close(fd);
        errno = error;
        return why;
    };
    if (::fstat(fd, &status) != 0)
        return refuse(OpenRefusal::Failed, errno);
    if (!S_ISREG(status.st_mode))
        return refuse(OpenRefusal::NotRegular, S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return refuse(OpenRefusal::Failed, errno);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return refuse(OpenRefusal::Failed, EIO);
    return OpenRefusal::None;
}

QString RefusalReason(OpenRefusal why, int error)
{
    if (why == OpenRefusal::NotRegular)
        return QCoreApplication::translate("RegularFile", "通常のファイルではありません");
    return qt_error_string(error);
}
