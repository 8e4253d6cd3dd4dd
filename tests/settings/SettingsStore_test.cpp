#include "settings/SettingsStore.h"

#include "platform/CodePage.h"
#include "settings/AddressFile.h"

#include "support/Failure.h"
#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString Ini =
    QStringLiteral("[web]\r\nkai=2\r\n[smtp]\r\nname=山田\r\nFromAddress=taro@example.jp\r\nPort=2525\r\n"
                   "SMTP=mail.example.jp\r\nID=taro\r\nDest=hanako@example.jp\r\n[keitai]\r\ndotsettei=1\r\n"
                   "kishu=J-Phone,J-SH010:220\r\nsiteidot=x\r\nrfsize=3\r\nofsize=12\r\n[Koukoku]\r\nflg=1\r\n");

// Loading in its order, with the derived sizes: a value that is not strictly a 32-bit number
// stops it at its key with the keys before applied; an own size is read only when its option
// needs it, both before either size is derived. The submission keys (absent from this file)
// are read whatever the older keys hold; an unknown Security is kept as it stands.
TEST(SettingsStore, LoadingStopsAtTheFirstNonNumber)
{
    const QString smtp = QStringLiteral("mail.example.jp taro@example.jp 山田 hanako@example.jp "),
                  loaded = smtp + "2525 taro hanako@example.jp ";
    // Key=value lines in place of the file's (new keys go to [smtp]); the settings with the
    // destination box after the ID; the text that is not a number (null: none).
    const std::tuple<QStringList, QString, QString> rows[] = {
        {{}, loaded + "220 10800 ad 0 - ", QString()},
        {{"Port=ab"}, smtp + "25 kelvo  120 4800 - 0 - ", "ab"},
        {{"Port=2147483648"}, smtp + "25 kelvo  120 4800 - 0 - ", "2147483648"},
        {{"Port=+7", "rfsize=-1", "ID= 5"}, smtp + "7 5 hanako@example.jp 220 4800 ad 0 - ", QString()},
        {{"flg="}, loaded + "120 4800 - 0 - ", ""},
        {{"flg=2", "dotsettei=0", "rfsize=2"}, loaded + "95 100000 - 0 - ", QString()},
        {{"dotsettei=3", "rfsize=1", "ofsize=y"}, loaded + "120 10800 ad 0 - ", QString()},
        {{"dotsettei=2", "siteidot=640", "ofsize=2147483647"}, loaded + "640 2147483647 ad 0 - ", QString()},
        {{"dotsettei=2", "siteidot=640", "ofsize=y"}, loaded + "120 4800 - 0 - ", "y"},
        {{"kishu=J-Phone"}, loaded + "120 4800 - 0 - ", "J-Phone"},
        {{"kishu=a:b:7"}, loaded + "120 4800 - 0 - ", "b:7"},
        {{"Security=2", "Auth=1", "AuthUser=taro.y"}, loaded + "220 10800 ad 2 auth taro.y", QString()},
        {{"Security=7", "Auth=2", "AuthUser="}, loaded + "220 10800 ad ?7 - ", QString()},
        {{"Security=1", "Auth=１"}, loaded + "220 10800 ad 1 - ", "１"}, // read after the older keys
        // and read however the older keys end, whose error comes first
        {{"flg=yes", "Security=1", "Auth=1", "AuthUser=taro.y"}, loaded + "120 4800 - 1 auth taro.y", "yes"},
        {{"Port=ab", "Security=STARTTLS", "Auth=x"}, smtp + "25 kelvo  120 4800 - ?STARTTLS - ", "ab"},
    };
    for (const auto &[changes, summary, error] : rows) {
        SCOPED_TRACE(changes.join(' ').toStdString());
        QString text = Ini;
        for (const QString &change : changes) {
            const QRegularExpression line("(?m)^" + change.section('=', 0, 0) + "=[^\\r]*");
            if (text.contains(line))
                text.replace(line, change);
            else
                text.replace("[smtp]\r\n", "[smtp]\r\n" + change + "\r\n");
        }
        TestFolder folder;
        folder.Write(SettingsFileName, ToCP932(text));
        MainSettings s;
        QString dest;
        EXPECT_EQ(FailureOf([&] { LoadSettings(s, [&](const QString &t) { dest = t; }); }),
                  error.isNull() ? QString() : QStringLiteral("'%1' は数値ではありません").arg(error));
        EXPECT_EQ(
            QStringList({s.SmtpHost, s.FromAddress, s.FromName, s.DestAddress, QString::number(s.SmtpPort), s.HeloName,
                         dest, QString::number(s.DotSize), QString::number(s.SizeLimit), s.AdFooter ? "ad" : "-",
                         s.UnknownSecurity.isEmpty() ? QString::number(int(s.Security)) : "?" + s.UnknownSecurity,
                         s.Auth ? "auth" : "-", s.AuthUser})
                .join(' '),
            summary);
    }
}

// Whether `write` fails with `message` in a child whose files may not grow past `limit` bytes:
// with SIGXFSZ ignored a write past it fails with EFBIG, as on a full disk.
bool FailsUnderFileSizeLimit(rlim_t limit, const std::function<void()> &write, const QString &message)
{
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        const QString failure = setrlimit(RLIMIT_FSIZE, &small) == 0 ? FailureOf(write, "(no error)") : "(no limit)";
        if (failure != message)
            fprintf(stderr, "failed with: %s\n", qPrintable(failure));
        _exit(failure == message ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A write that runs out of room fails with its message, leaves the old file byte for byte and
// no temporary file; start-up rewrites kelvo.ini's launch counter, so this is a start on a full disk.
TEST(SettingsStore, AFullDiskKeepsTheOldFilesWhole)
{
    TestFolder folder;
    const QList<AddressEntry> book{{QStringLiteral("山田"), {QStringLiteral("taro@example.jp")}}};
    const std::tuple<QString, QByteArray, std::function<void()>, QString> rows[] = {
        {SettingsFileName, ToCP932(Ini), [] { WriteNumber(Setting::LaunchCount, 4); },
         folder.File(SettingsFileName) + QStringLiteral(" に書き込めません")},
        {AddressFileName, WriteAddressStream(book), [&] { WriteAddressFile(AddressFileName, book + book + book); },
         QStringLiteral("ファイル address.dat を作成できません")},
    };
    for (const auto &[file, old, write, message] : rows) {
        folder.Write(file, old);
        EXPECT_TRUE(FailsUnderFileSizeLimit(old.size() / 2, write, message)) << message.toStdString();
        EXPECT_EQ(folder.Read(file), old);
        EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{file});
        QFile::remove(folder.File(file));
    }
}

} // namespace
