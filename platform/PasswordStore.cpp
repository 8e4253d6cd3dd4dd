#include "platform/PasswordStore.h"

#include <QHash>

namespace {

QHash<QString, QString> &Remembered()
{
    static QHash<QString, QString> passwords;
    return passwords;
}

} // namespace

namespace PasswordStore {

QString Account(const QString &host, const QString &user)
{
    return user + QLatin1Char('@') + host;
}

std::optional<QString> Find(const QString &account)
{
    const auto found = Remembered().constFind(account);
    if (found != Remembered().constEnd())
        return *found;
    return std::nullopt;
}

bool Save(const QString &account, const QString &password)
{
    Remember(account, password);
    return false;
}

void Remember(const QString &account, const QString &password)
{
    Remembered().insert(account, password);
}

void Forget(const QString &account)
{
    Remembered().remove(account);
}

} // namespace PasswordStore
