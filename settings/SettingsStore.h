#pragma once

#include "platform/OAuthProviders.h"
#include "platform/SmtpSecurity.h"
#include "settings/SettingKeys.h"

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
    int DotSize = 120;    // the length in pixels of a dropped picture's longer side, once fitted
    int SizeLimit = 4800; // the largest JPEG file a send attaches, in bytes
    bool AdFooter = false;
    int LaunchCount = 0;
    // Submission through a provider ([smtp] Security, Auth, AuthUser); a kelvo.ini without
    // these keys means the plain dialogue of a relay of one's own.
    SmtpSecurity Security = SmtpSecurity::None;
    // A Security that kelvo.ini holds but that is none of 0, 1 and 2 ("7", "STARTTLS"), as it
    // stands; empty when it is one of them or absent. It may have been meant as protection,
    // so no send goes out on it until the settings are saved again.
    QString UnknownSecurity;
    SmtpLogin Auth = SmtpLogin::None;
    QString AuthUser; // the login name; empty means the sender's mail address
    // The sign-in ([oauth]) of Auth OAuth2: the provider as kelvo.ini names it (DesktopAccount,
    // or a row of OAuthProviders; anything else stops a send), and the values that stand in
    // for its built-in ones.
    QString OAuthProvider;
    OAuthOverrides OAuth;
};

// [oauth] Provider of the desktop's online account (GNOME Online Accounts).
inline const QString DesktopAccount = QStringLiteral("desktop");

// Sets the text of the main window's destination box.
using DestinationSetter = std::function<void(const QString &)>;

// The options of the picture size ([keitai] dotsettei) and of the size limit ([keitai]
// rfsize), numbered as they are stored and as the settings dialog's radio buttons are.
namespace PictureSizeOption {
constexpr int Recommended = 0; // 95 dots
constexpr int FromModel = 1;   // the size on the chosen line of the phone model list
constexpr int Own = 2;
} // namespace PictureSizeOption
namespace SizeLimitOption {
constexpr int LongMail = 0;  // 6 KB, of which 4800 bytes for the picture
constexpr int SuperMail = 1; // 12 KB, 10800 bytes
constexpr int Au = 2;        // 100 KB, 100000 bytes
constexpr int Own = 3;       // kilobytes of one's own, less 1200 bytes
} // namespace SizeLimitOption

// The values the options give. `own` is asked for only when the option needs it; an option
// outside the list leaves the value as it was. A model line's size is the text after its
// first ":" (the whole line when it has none), and must be a number.
void DeriveDotSize(int option, const QString &modelLine, const std::function<int()> &own, int &dotSize);
void DeriveSizeLimit(int option, const std::function<int()> &ownKilobytes, int &sizeLimit);

// The port a connection of the given security uses unless told otherwise: 25, 587 for
// STARTTLS, 465 for TLS from the start.
int DefaultSmtpPort(SmtpSecurity security);

// [smtp] Security as kelvo knows it: 0, 1 or 2 as a strict number. Nothing for any other
// text, which the caller keeps as it stands.
std::optional<SmtpSecurity> SecurityFromText(const QString &text);

// Runs `readOlderKeys`, then `readSubmissionKeys` however the first ended: a file that asks
// for protection must never give a plain send because an older key does not convert. The
// first error is the one thrown.
void ReadSubmissionKeysToo(const std::function<void()> &readOlderKeys, const std::function<void()> &readSubmissionKeys);

// The name the SMTP login uses: AuthUser, or the sender's mail address when that is
// empty. The password is kept under this name, so whatever saves or looks one up asks here.
QString LoginName(const MainSettings &settings);

// [smtp] Auth as kelvo knows it: 1 password, 2 sign-in; any other number means no login.
SmtpLogin LoginFromNumber(int number);

// The [oauth] keys to write with the others, when a sign-in is chosen or they hold something
// already: a file that has never used one gets no section for it.
QList<SettingValue> SignInKeyValues(SmtpLogin login, const QString &provider, const OAuthOverrides &overrides);

// Loading at start, in the stored order, up to the derived values (the launch counter is
// the main window's). A non-number stops it at its key with the keys before applied; the
// submission keys are read all the same.
void LoadSettings(MainSettings &settings, const DestinationSetter &setDestination);
