#pragma once

#include <QString>

#include <optional>

// The SMTP password. It lives in the desktop's keyring when one answers, and in memory
// until kelvo ends; never in a file of kelvo's.
namespace PasswordStore {

// The name a password is kept under: the login name at the server's host.
QString Account(const QString &host, const QString &user);

// The password known for account: the one in memory, else the keyring's. Empty when
// neither has one (or no keyring answers).
std::optional<QString> Find(const QString &account);

// Keeps the password in memory and hands it to the keyring; returns whether the keyring
// took it.
bool Save(const QString &account, const QString &password);

// Keeps the password in memory only, until kelvo ends.
void Remember(const QString &account, const QString &password);

// Forgets the password, in memory and in the keyring.
void Forget(const QString &account);

} // namespace PasswordStore
