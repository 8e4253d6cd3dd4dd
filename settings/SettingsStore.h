#pragma once

#include <QString>

#include <functional>
#include <optional>

// The settings in memory. The main window owns one of these for the whole run; the
// settings dialog writes into it on OK. Built-in values stand until kelvo.ini is read.
struct MainSettings
{
    QString SmtpHost = QStringLiteral("192.168.0.1");
    int SmtpPort = 25;
    QString HeloName = QStringLiteral("kelvo");
    QString FromAddress = QStringLiteral("kelvo@example.jp");
    QString FromName = QStringLiteral("kelvo");
    QString DestAddress = QStringLiteral("kelvo@example.jp");
    QString SubjectText = QStringLiteral("test");
    int DotSize = 120;
    int SizeLimit = 4800;
    bool AdFooter = false;
    int LaunchCount = 0;
    // Submission through a provider ([smtp] Security, Auth, AuthUser); a kelvo.ini without
    // these keys means the plain dialogue of a relay of one's own.
    int Security = 0; // 0 none, 1 STARTTLS, 2 TLS from the start
    // A Security that kelvo.ini holds but that is none of 0, 1 and 2 ("7", "STARTTLS"), as it
    // stands; empty when it is one of them or absent. It may have been meant as protection,
    // so no send goes out on it until the settings are saved again.
    QString UnknownSecurity;
    bool Auth = false;
    QString AuthUser; // the login name; empty means the sender's mail address
};

// Sets the text of the main window's destination box.
using DestinationSetter = std::function<void(const QString &)>;

inline const QString SettingsFileName = QStringLiteral("kelvo.ini");

// The folder of the program file followed by `fileName`.
QString ProfilePath(const QString &fileName);

// One key of the settings file: a missing file or key reads as the empty text.
QString ProfileRead(const QString &fileName, const QString &section, const QString &key);
// Writes one key; a refused write throws "<path> に書き込めません".
void ProfileWrite(const QString &fileName, const QString &section, const QString &key, const QString &value);

// Strict whole-number conversion: optional sign and decimal digits, nothing else, and
// the value must fit 32 bits. Anything else throws "'<text>' は数値ではありません".
int StrictNumber(const QString &text);

// The derived values. `own` is asked for only when the option needs it (the loading
// reads siteidot / ofsize lazily). Other options leave the value unchanged.
void DeriveDotSize(int dotsettei, const QString &kishu, const std::function<int()> &own, int &dotSize);
void DeriveSizeLimit(int rfsize, const std::function<int()> &ownKilobytes, int &sizeLimit);

// The port a connection of the given security ([smtp] Security) uses unless told
// otherwise: 25, 587 for STARTTLS, 465 for TLS from the start.
int DefaultSmtpPort(int security);

// The submission keys [smtp] Security, Auth and AuthUser. A kelvo.ini written before they
// existed has none of them: an absent key gives the built-in value and never stops the
// loading. StoredSecurity gives 0, 1 or 2 as stored, 0 when absent, and nothing for any
// other text; only Auth 1 turns the login on, and a present Auth must be a number.
std::optional<int> StoredSecurity(const QString &text);
bool StoredAuth(const QString &text);

// Runs `readOlderKeys`, then `readSubmissionKeys` however the first ended: a file that asks
// for protection must never give a plain send because an older key does not convert. The
// first error is the one thrown.
void ReadSubmissionKeysToo(const std::function<void()> &readOlderKeys, const std::function<void()> &readSubmissionKeys);

// The name the SMTP login uses: AuthUser, or the sender's mail address when that is
// empty. The password is kept under this name, so whatever saves or looks one up asks here.
QString LoginName(const MainSettings &settings);

// Loading at start, in the stored order, up to the derived values (the launch counter is
// the main window's). A non-number stops it at its key with the keys before applied; the
// submission keys are read all the same.
void LoadSettings(MainSettings &settings, const DestinationSetter &setDestination);
