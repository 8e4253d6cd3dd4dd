#include "platform/PasswordStore.h"

#include "support/Printers.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString Account = PasswordStore::Account("smtp.example.jp", "taro@example.jp");
const QString Secret = QStringLiteral("pässwörd 秘密");

// Runs again in children with scratch homes: "keyring-1", then "keyring-2" (a later run) against a real
// Secret Service on a private bus; "silent", a bus that never answers; "none", no bus at all.
TEST(PasswordStore, KeptInTheKeyringElseInMemoryNeverInAFile)
{
    const QByteArray run = qgetenv("KELVO_KEYRING_TEST");
    if (run.isEmpty()) {
        const QString self = QCoreApplication::applicationFilePath(), filter = "--gtest_filter=PasswordStore.*";
        for (const QString session : {"keyring", "silent", "none"}) {
            QTemporaryDir home;
            QLocalServer silent;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
                env.insert(name, home.path());
            env.remove("DBUS_SESSION_BUS_ADDRESS");
            env.remove("DISPLAY");
            env.insert("KELVO_KEYRING_TEST", session == "keyring" ? "keyring-1" : session);
            if (session == "silent" && silent.listen(home.filePath("bus")))
                env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.filePath("bus"));
            QProcess child;
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.setProcessEnvironment(env);
            if (session == "keyring") {
                const QString twoRuns = "echo unlock | gnome-keyring-daemon --unlock --components=secrets >/dev/null"
                                        " && \"$0\" \"$1\" && KELVO_KEYRING_TEST=keyring-2 \"$0\" \"$1\"";
                child.start("dbus-run-session", {"--", "sh", "-c", twoRuns, self, filter});
            } else
                child.start(self, {filter});
            EXPECT_TRUE(child.waitForFinished(60000) && child.exitCode() == 0) << child.readAll().toStdString();
            for (QDirIterator it(home.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
                QFile file(it.next()); // the keyring's own files hold it encrypted
                EXPECT_TRUE(file.open(QIODevice::ReadOnly) && !file.readAll().contains(Secret.toUtf8()))
                    << it.filePath().toStdString();
            }
        }
        return;
    }
    PasswordStore::SetKeyringWait(run == "silent" ? 1000 : PasswordStore::DefaultKeyringWaitMs); // silent: soon
    if (run != "keyring-2") { // which finds it in the keyring
        EXPECT_EQ(PasswordStore::Find(Account), std::nullopt);
        EXPECT_EQ(PasswordStore::Save(Account, Secret), run == "keyring-1"); // without a keyring: one time-out at most
    }
    EXPECT_EQ(PasswordStore::Find(Account), Secret);
    if (run != "keyring-1") { // forgetting removes it, from the keyring too
        PasswordStore::Forget(Account);
        EXPECT_EQ(PasswordStore::Find(Account), std::nullopt);
    }
}

} // namespace
