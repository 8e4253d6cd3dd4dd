#include "platform/PasswordStore.h"

#include "platform/InputBlock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHash>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <functional>
#include <utility>

namespace {

const QString KeyringService = QStringLiteral("kelvo");

struct Store
{
    QHash<QString, QString> remembered;
    bool useKeyring = true;
    // A keyring that does not answer in this time is not asked again until kelvo ends: a
    // send must not hang on it, nor wait this long at every step.
    int waitMs = PasswordStore::DefaultKeyringWaitMs;
    // The wait under way, if any, so that StopWaiting can end it.
    QEventLoop *waiting = nullptr;
    bool stopped = false;
};

Store &State()
{
    static Store store;
    return store;
}

// Runs a keyring job to its end, waiting in a local event loop while the windows take
// no input (InputBlock) but still repaint and take the window manager's close. True when
// the keyring did what was asked; `done` then sees the finished job.
bool RunJob(QKeychain::Job *job, const std::function<void(QKeychain::Job *)> &done = {})
{
    if (!State().useKeyring) {
        delete job;
        return false;
    }
    // Never the library's plain-text fallback file: the password stays out of files.
    job->setInsecureFallback(false);
    // The job deletes itself once it finishes, also when that is after the time-out.
    job->setAutoDelete(true);
    QEventLoop loop;
    bool answered = false;
    bool succeeded = false;
    // The loop is the context: a job that answers after the time-out finds no one here.
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *finished) {
        answered = true;
        const QKeychain::Error error = finished->error();
        succeeded = error == QKeychain::NoError;
        if (succeeded && done)
            done(finished);
        // No keyring at all (no session bus, no service): stop asking.
        if (error == QKeychain::NoBackendAvailable || error == QKeychain::NotImplemented)
            State().useKeyring = false;
        loop.quit();
    });
    QTimer::singleShot(State().waitMs, &loop, &QEventLoop::quit);
    job->start();
    {
        const InputBlock block;
        QEventLoop *const outer = std::exchange(State().waiting, &loop);
        State().stopped = false;
        loop.exec();
        State().waiting = outer;
    }
    // A keyring too slow to answer is given up on; one whose wait was stopped is not.
    if (!answered && !std::exchange(State().stopped, false))
        State().useKeyring = false;
    return succeeded;
}

} // namespace

namespace PasswordStore {

QString Account(const QString &host, const QString &user)
{
    return user + QLatin1Char('@') + host;
}

std::optional<QString> Find(const QString &account)
{
    const auto known = State().remembered.constFind(account);
    if (known != State().remembered.constEnd())
        return *known;
    auto *job = new QKeychain::ReadPasswordJob(KeyringService);
    job->setKey(account);
    std::optional<QString> found;
    RunJob(job, [&found](QKeychain::Job *finished) {
        found = static_cast<QKeychain::ReadPasswordJob *>(finished)->textData();
    });
    // Kept in memory, so that the keyring is asked once per run.
    if (found)
        State().remembered.insert(account, *found);
    return found;
}

bool Save(const QString &account, const QString &password)
{
    Remember(account, password);
    auto *job = new QKeychain::WritePasswordJob(KeyringService);
    job->setKey(account);
    job->setTextData(password);
    return RunJob(job);
}

void Remember(const QString &account, const QString &password)
{
    State().remembered.insert(account, password);
}

void Forget(const QString &account)
{
    State().remembered.remove(account);
    auto *job = new QKeychain::DeletePasswordJob(KeyringService);
    job->setKey(account);
    RunJob(job);
}

void UseKeyring(bool use)
{
    State().useKeyring = use;
}

void SetKeyringWait(int milliseconds)
{
    State().waitMs = milliseconds;
}

void StopWaiting()
{
    if (State().waiting) {
        State().stopped = true;
        State().waiting->quit();
    }
}

} // namespace PasswordStore
