#include "settings/SettingsStore.h"

#include "settings/AddressFile.h"

#include "support/Failure.h"
#include "support/InChild.h"
#include "support/TestFolder.h"

#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

// A value that is not strictly a 32-bit number stops the loading at its key, the keys before applied; an
// own size is read only when its option needs it, before either size is derived. The submission keys
// (absent from this file) are read whatever the older keys hold; an unknown Security is kept as it stands.
TEST(SettingsStore, LoadingStopsAtTheFirstNonNumber)
{
    const QString whole = QStringLiteral(
        "host=mail.example.jp; from address=taro@example.jp; from name=山田; destination=hanako@example.jp; "
        "port=2525; helo name=taro; destination box=hanako@example.jp; dot size=220; size limit=10800; footer=on; "
        "security=0; auth=0; login=; sign-in= ");
    // Stopped before the sizes are derived, they and the footer stay built in; at the port, every key after.
    const QString notDerived = "; dot size=120; size limit=4800; footer=off",
                  stoppedAtPort = notDerived + "; port=25; helo name=kelvo; destination box=";
    // The changes to kelvo.ini; the text that is not a number; what differs.
    const std::tuple<QStringList, QString, QString> rows[] = {
        {{}, QString(), ""},
        {{"Port=2147483648"}, "2147483648", stoppedAtPort},
        {{"Port=+7", "rfsize=-1", "ID= 5"}, QString(), "; port=7; helo name=5; size limit=4800"},
        {{"flg="}, "", notDerived},
        {{"flg=2", "dotsettei=0", "rfsize=2"}, QString(), "; dot size=95; size limit=100000; footer=off"},
        {{"dotsettei=3", "rfsize=1", "ofsize=y"}, QString(), "; dot size=120"},
        {{"dotsettei=2", "siteidot=640", "ofsize=2147483647"}, QString(), "; dot size=640; size limit=2147483647"},
        {{"dotsettei=2", "siteidot=640", "ofsize=y"}, "y", notDerived},
        {{"kishu=J-Phone"}, "J-Phone", notDerived},
        {{"kishu=a:b:7"}, "b:7", notDerived},
        {{"Security=2", "Auth=1", "AuthUser=taro.y"}, QString(), "; security=2; auth=1; login=taro.y"},
        {{"Security=7", "Auth=3", "AuthUser="}, QString(), "; security=unknown 7"},
        {{"Auth=2", "[oauth]\r\nProvider=google\r\nClientId=mine"}, QString(), "; auth=2; sign-in=google mine"},
        {{"Security=1", "Auth=１"}, "１", "; security=1"}, // read after the older keys
        // and read however the older keys end, whose error comes first
        {{"flg=yes", "Security=1", "Auth=1", "AuthUser=taro.y"},
         "yes",
         notDerived + "; security=1; auth=1; login=taro.y"},
        {{"Port=ab", "Security=STARTTLS", "Auth=x"}, "ab", stoppedAtPort + "; security=unknown STARTTLS"},
    };
    for (const auto &[changes, error, differences] : rows) {
        SCOPED_TRACE(changes.join(' ').toStdString());
        TestFolder folder;
        folder.Write(SettingsFileName, KelvoIni(changes));
        MainSettings s;
        QString destinationBox;
        EXPECT_EQ(FailureOf([&] { LoadSettings(s, [&](const QString &t) { destinationBox = t; }); }),
                  error.isNull() ? QString() : QStringLiteral("'%1' は数値ではありません").arg(error));
        ExpectFields(SettingsFields(s, destinationBox), whole + differences);
    }
}

// Out of room, a write (a start's launch counter too) fails, keeping the old file byte for byte, no temporary one.
TEST(SettingsStore, AFullDiskKeepsTheOldFilesWhole)
{
    TestFolder folder;
    const QList<AddressEntry> book{{QStringLiteral("山田"), {QStringLiteral("taro@example.jp")}}};
    const std::tuple<QString, QByteArray, std::function<void()>, QString> rows[] = {
        {SettingsFileName, KelvoIni(), [] { WriteNumber(Setting::LaunchCount, 4); },
         folder.File(SettingsFileName) + QStringLiteral(" に書き込めません")},
        {AddressFileName, WriteAddressStream(book), [&] { WriteAddressFile(AddressFileName, book + book + book); },
         QStringLiteral("ファイル address.dat を作成できません")},
    };
    for (const auto &[file, old, write, message] : rows) {
        folder.Write(file, old);
        // A child whose files may not grow past half the old one's size; with SIGXFSZ ignored a write past it
        // fails with EFBIG, as on a full disk.
        const auto [status, peak] = RunInChild([&old = old, &write = write, &message = message] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit small{rlim_t(old.size() / 2), rlim_t(old.size() / 2)};
            const QString failure =
                setrlimit(RLIMIT_FSIZE, &small) == 0 ? FailureOf(write, "(no error)") : "(no limit)";
            fprintf(stderr, "failed with: %s\n", qPrintable(failure));
            return failure == message ? 0 : 1;
        });
        EXPECT_EQ(status, 0) << message.toStdString();
        EXPECT_EQ(folder.Read(file), old);
        EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{file});
        QFile::remove(folder.File(file));
    }
}

} // namespace
