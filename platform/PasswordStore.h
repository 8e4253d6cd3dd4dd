#pragma once

#include <QString>

#include <optional>

// The SMTP password. It lives in the desktop's keyring when one answers, and in memory
// until kelvo ends; never in a file of kelvo's.
namespace PasswordStore {

// The name a password is kept under: the login name at the server's host.
QString Account(const QString &host, const QString &user);

// The password known for account: the one in memory, else the keyring's. Nothing
// (nullopt) when neither has one, or no keyring answers in time.
std::optional<QString> Find(const QString &account);

// Keeps the password in memory and hands it to the keyring; returns whether the keyring
// took it.
bool Save(const QString &account, const QString &password);

// Keeps the password in memory only, until kelvo ends.
void Remember(const QString &account, const QString &password);

// Forgets the password, in memory and in the keyring.
void Forget(const QString &account);

// Whether the keyring is asked at all (it is, until it fails to answer in time). Tests
// and tools that are not about the keyring turn it off, so that they never read or
// write the keyring of whoever runs them.
void UseKeyring(bool use);

// Ends the wait for the keyring under way at once, as though it had not answered, though
// it is asked again next time: closing the window must not wait for a locked keyring.
void StopWaiting();

// How long the keyring may take to answer: DefaultKeyringWaitMs, time enough to answer
// the prompt that unlocks a locked keyring. Tests of a keyring that never answers make
// it short.
inline constexpr int DefaultKeyringWaitMs = 30000;
void SetKeyringWait(int milliseconds);

} // namespace PasswordStore
