#include "settings/AddressFile.h"
#include "settings/SettingsStore.h"

#include "support/Failure.h"
#include "support/Printers.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The message `write` fails with in a child process whose files may not grow past
// `limit` bytes. With SIGXFSZ ignored a write past the limit fails with EFBIG, as one
// on a full disk fails; the child keeps the test program's own limit untouched.
QString FailureUnderFileSizeLimit(rlim_t limit, const std::function<void()> &write)
{
    int channel[2];
    if (pipe(channel) != 0)
        return QStringLiteral("(no pipe)");
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        const QByteArray message =
            (setrlimit(RLIMIT_FSIZE, &small) == 0 ? FailureOf(write, "(no error)") : "(no limit)").toUtf8();
        _exit(::write(channel[1], message.constData(), message.size()) == message.size() ? 0 : 1);
    }
    close(channel[1]);
    QByteArray message;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        message.append(buffer, n);
    close(channel[0]);
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return QString::fromUtf8(message);
}

// A write that runs out of room fails with its message and leaves the old file
// byte for byte, with no temporary file beside it. Start-up rewrites kelvo.ini's
// launch counter every time, so this is what a start on a full disk does.
TEST(AtomicWrites, AFullDiskKeepsTheOldFileWhole)
{
    TestFolder folder;
    const QByteArray ini =
        "[web]\r\nkai=3\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@example.jp\r\nPort=25\r\n"
        "SMTP=mail.example.jp\r\nID=taro\r\nDest=hanako@example.jp\r\n[keitai]\r\ndotsettei=0\r\n"
        "kishu=J-Phone,J-SH010:220\r\nsiteidot=100\r\nrfsize=0\r\nofsize=5\r\n[Koukoku]\r\nflg=2\r\n";
    AddressEntry entry;
    entry.Caption = QStringLiteral("山田");
    entry.SubItems = {QStringLiteral("taro@example.jp")};
    const struct
    {
        QString file;
        QByteArray old;
        std::function<void()> write;
        QString message;
    } rows[] = {
        {SettingsFileName, ini, [] { ProfileWrite(SettingsFileName, "web", "kai", "4"); },
         folder.File(SettingsFileName) + QStringLiteral(" に書き込めません")},
        {AddressFileName, WriteAddressStream({entry}),
         [&] { WriteAddressFile(AddressFileName, QList<AddressEntry>(20, entry)); },
         QStringLiteral("ファイル address.dat を作成できません")},
    };
    for (const auto &row : rows) {
        folder.Write(row.file, row.old);
        EXPECT_EQ(FailureUnderFileSizeLimit(row.old.size() / 2, row.write), row.message);
        EXPECT_EQ(folder.Read(row.file), row.old);
        EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{row.file});
        QFile::remove(folder.File(row.file));
    }
}

} // namespace
