#pragma once

#include "settings/FileLocations.h"

#include <QList>
#include <QString>

#include <utility>

// Every setting kelvo.ini holds. The settings store, the settings dialog and the main window
// name a setting by one of these; its section and key are spelt once, in the table in
// SettingKeys.cpp. The keys are those kelvo has always written, so files of older versions
// and of other machines read unchanged.
enum class Setting {
    SenderName,
    SenderAddress,
    ServerPort,
    Server,
    HeloName, // the name the greeting gives
    Destination,
    Security,          // an SmtpSecurity, as its number
    Auth,              // an SmtpLogin, as its number
    LoginName,         // empty: the sender's address
    PictureSizeChoice, // a PictureSizeOption
    ModelLine,         // a line of the phone model list, its size after the first ":"
    OwnPictureSize,
    SizeLimitChoice, // a SizeLimitOption
    OwnSizeLimit,    // in kilobytes
    AdFooter,
    LaunchCount,
    // The sign-in ([oauth]): the provider, and what stands in for its built-in values.
    OAuthProvider, // microsoft, google, desktop or custom
    OAuthClientId,
    OAuthClientSecret,
    OAuthAuthorizeUrl,
    OAuthTokenUrl,
    OAuthScope,
};

// How a value is kept: text as typed; a decimal number, read strictly; a flag, a number that
// means on when it is 1.
enum class SettingKind { Text, Number, Flag };

struct SettingKey
{
    const char *Section;
    const char *Key;
    // What the key reads as when it is absent or empty. Empty for the keys kelvo has always
    // written, so that a number among them that is missing stops the loading; the submission
    // keys came later, and a file without them means the plain dialogue of a relay.
    const char *Default;
    SettingKind Kind;
    const char *Off = nullptr; // what a flag is written as when it is off; "1" is on
};

const SettingKey &KeyOf(Setting setting);

// Whether kelvo.ini is where the file layout keeps it (SettingsFilePath()).
bool SettingsFileExists();

// Strict whole-number conversion: optional sign and decimal digits, nothing else, and the
// value must fit 32 bits. Anything else throws "'<text>' は数値ではありません".
int StrictNumber(const QString &text);

// One key at a time, as its own file operation: a missing file or key reads as its default.
// A number or flag that does not convert throws StrictNumber's error.
QString ReadSetting(Setting setting);
int ReadNumber(Setting setting);
bool ReadFlag(Setting setting);

// A refused write throws "<path> に書き込めません"; keys written before it stay written. The
// first write makes the settings folder; one that cannot be made throws before anything is
// written.
void WriteSetting(Setting setting, const QString &value);
void WriteNumber(Setting setting, int value);
void WriteFlag(Setting setting, bool on);

// A setting and the text it is written as.
using SettingValue = std::pair<Setting, QString>;
// The text a number or a flag is written as.
QString NumberText(int value);
QString FlagText(Setting setting, bool on);
// Writes the settings in their order in one replace of kelvo.ini: each key where a write of
// its own would put it, so the file is the one those writes would make; and all of them or,
// when it fails (it throws as WriteSetting does), none.
void WriteSettings(const QList<SettingValue> &values);
