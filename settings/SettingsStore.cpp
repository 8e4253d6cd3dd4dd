#include "settings/SettingsStore.h"

#include "platform/Exception.h"

#include <algorithm>
#include <limits>

void DeriveDotSize(int option, const QString &modelLine, const std::function<int()> &own, int &dotSize)
{
    switch (option) {
    case PictureSizeOption::Recommended:
        dotSize = 95;
        break;
    case PictureSizeOption::FromModel:
        dotSize = StrictNumber(modelLine.mid(modelLine.indexOf(QLatin1Char(':')) + 1));
        break;
    case PictureSizeOption::Own:
        dotSize = own();
        break;
    default:
        break;
    }
}

void DeriveSizeLimit(int option, const std::function<int()> &ownKilobytes, int &sizeLimit)
{
    switch (option) {
    case SizeLimitOption::LongMail:
        sizeLimit = 4800;
        break;
    case SizeLimitOption::SuperMail:
        sizeLimit = 10800;
        break;
    case SizeLimitOption::Au:
        sizeLimit = 100000;
        break;
    case SizeLimitOption::Own: {
        // Worked out in 64 bits: a hand-edited file may hold any number of kilobytes.
        const qint64 bytes = qint64(ownKilobytes()) * 1000 - 1200;
        sizeLimit = static_cast<int>(
            std::clamp<qint64>(bytes, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
        break;
    }
    default:
        break;
    }
}

int DefaultSmtpPort(SmtpSecurity security)
{
    switch (security) {
    case SmtpSecurity::StartTls:
        return 587;
    case SmtpSecurity::Tls:
        return 465;
    case SmtpSecurity::None:
        break;
    }
    return 25;
}

std::optional<SmtpSecurity> SecurityFromText(const QString &text)
{
    try {
        const int security = StrictNumber(text);
        if (security >= static_cast<int>(SmtpSecurity::None) && security <= static_cast<int>(SmtpSecurity::Tls))
            return static_cast<SmtpSecurity>(security);
    } catch (const Exception &) {
    }
    return std::nullopt;
}

void ReadSubmissionKeysToo(const std::function<void()> &readOlderKeys, const std::function<void()> &readSubmissionKeys)
{
    try {
        readOlderKeys();
    } catch (...) {
        try {
            readSubmissionKeys();
        } catch (...) {
        }
        throw;
    }
    readSubmissionKeys();
}

QString LoginName(const MainSettings &settings)
{
    return settings.AuthUser.isEmpty() ? settings.FromAddress : settings.AuthUser;
}

namespace {

void LoadOlderKeys(MainSettings &settings, const DestinationSetter &setDestination)
{
    settings.SmtpHost = ReadSetting(Setting::Server);
    settings.FromAddress = ReadSetting(Setting::SenderAddress);
    settings.FromName = ReadSetting(Setting::SenderName);
    settings.DestAddress = ReadSetting(Setting::Destination);
    settings.SmtpPort = ReadNumber(Setting::ServerPort);
    settings.HeloName = ReadSetting(Setting::HeloName);
    if (setDestination)
        setDestination(settings.DestAddress);
    const bool adFooter = ReadFlag(Setting::AdFooter);
    const int pictureSizeChoice = ReadNumber(Setting::PictureSizeChoice);
    const int sizeLimitChoice = ReadNumber(Setting::SizeLimitChoice);
    const QString modelLine = ReadSetting(Setting::ModelLine);
    // The own sizes are read (when their option needs them) before anything is derived,
    // so that a bad one leaves both sizes as they were.
    const int ownDotSize = pictureSizeChoice == PictureSizeOption::Own ? ReadNumber(Setting::OwnPictureSize) : 0;
    const int ownKilobytes = sizeLimitChoice == SizeLimitOption::Own ? ReadNumber(Setting::OwnSizeLimit) : 0;
    DeriveDotSize(
        pictureSizeChoice, modelLine, [ownDotSize] { return ownDotSize; }, settings.DotSize);
    DeriveSizeLimit(
        sizeLimitChoice, [ownKilobytes] { return ownKilobytes; }, settings.SizeLimit);
    // Off leaves the footer as it was: only the dialog's OK turns it off.
    if (adFooter)
        settings.AdFooter = true;
}

void LoadSignInKeys(MainSettings &settings)
{
    settings.OAuthProvider = ReadSetting(Setting::OAuthProvider);
    settings.OAuth = {ReadSetting(Setting::OAuthClientId), ReadSetting(Setting::OAuthClientSecret),
                      ReadSetting(Setting::OAuthAuthorizeUrl), ReadSetting(Setting::OAuthTokenUrl),
                      ReadSetting(Setting::OAuthScope)};
}

void LoadSubmissionKeys(MainSettings &settings)
{
    LoadSignInKeys(settings);
    const QString stored = ReadSetting(Setting::Security);
    const std::optional<SmtpSecurity> security = SecurityFromText(stored);
    settings.Security = security.value_or(settings.Security);
    settings.UnknownSecurity = security ? QString() : stored;
    settings.AuthUser = ReadSetting(Setting::LoginName);
    settings.Auth = LoginFromNumber(ReadNumber(Setting::Auth));
}

} // namespace

SmtpLogin LoginFromNumber(int number)
{
    return number == int(SmtpLogin::Password) || number == int(SmtpLogin::OAuth2) ? SmtpLogin(number) : SmtpLogin::None;
}

QList<SettingValue> SignInKeyValues(SmtpLogin login, const QString &provider, const OAuthOverrides &overrides)
{
    if (login != SmtpLogin::OAuth2 && overrides == OAuthOverrides() && ReadSetting(Setting::OAuthProvider).isEmpty())
        return {};
    return {
        {Setting::OAuthProvider, provider},
        {Setting::OAuthClientId, overrides.ClientId},
        {Setting::OAuthClientSecret, overrides.ClientSecret},
        {Setting::OAuthAuthorizeUrl, overrides.AuthorizeUrl},
        {Setting::OAuthTokenUrl, overrides.TokenUrl},
        {Setting::OAuthScope, overrides.Scope},
    };
}

void LoadSettings(MainSettings &settings, const DestinationSetter &setDestination)
{
    ReadSubmissionKeysToo([&] { LoadOlderKeys(settings, setDestination); }, [&] { LoadSubmissionKeys(settings); });
}
