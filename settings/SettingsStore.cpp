#include "settings/SettingsStore.h"

#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"

#include <algorithm>
#include <limits>

QString ProfilePath(const QString &fileName)
{
    return ProgramFolder() + fileName;
}

QString ProfileRead(const QString &fileName, const QString &section, const QString &key)
{
    return IniFile(ProfilePath(fileName)).ReadString(section, key, QString());
}

void ProfileWrite(const QString &fileName, const QString &section, const QString &key, const QString &value)
{
    IniFile(ProfilePath(fileName)).WriteString(section, key, value);
}

int StrictNumber(const QString &text)
{
    const auto fail = [&text]() { return Exception(QStringLiteral("'%1' は数値ではありません").arg(text)); };
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        throw fail();
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            throw fail();
        value = value * 10 + (c.unicode() - '0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            throw fail();
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        throw fail();
    return static_cast<int>(value);
}

void DeriveDotSize(int dotsettei, const QString &kishu, const std::function<int()> &own, int &dotSize)
{
    switch (dotsettei) {
    case 0:
        dotSize = 95;
        break;
    case 1: {
        // The dot size is everything after the first ":"; a line without one is
        // taken whole (and so fails the conversion).
        const qsizetype colon = kishu.indexOf(QLatin1Char(':'));
        dotSize = StrictNumber(kishu.mid(colon + 1));
        break;
    }
    case 2:
        dotSize = own();
        break;
    default:
        break;
    }
}

void DeriveSizeLimit(int rfsize, const std::function<int()> &ownKilobytes, int &sizeLimit)
{
    switch (rfsize) {
    case 0:
        sizeLimit = 4800;
        break;
    case 1:
        sizeLimit = 10800;
        break;
    case 2:
        sizeLimit = 100000;
        break;
    case 3: {
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

int DefaultSmtpPort(int security)
{
    switch (security) {
    case 1:
        return 587;
    case 2:
        return 465;
    default:
        return 25;
    }
}

std::optional<int> StoredSecurity(const QString &text)
{
    if (text.isEmpty())
        return 0;
    try {
        const int security = StrictNumber(text);
        if (security >= 0 && security <= 2)
            return security;
    } catch (const Exception &) {
    }
    return std::nullopt;
}

bool StoredAuth(const QString &text)
{
    return !text.isEmpty() && StrictNumber(text) == 1;
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

void LoadSettings(MainSettings &settings, const DestinationSetter &setDestination)
{
    const auto read = [](const char *section, const char *key) {
        return ProfileRead(SettingsFileName, QLatin1String(section), QLatin1String(key));
    };
    const auto readOlderKeys = [&] {
        settings.SmtpHost = read("smtp", "SMTP");
        settings.FromAddress = read("smtp", "FromAddress");
        settings.FromName = read("smtp", "name");
        settings.DestAddress = read("smtp", "Dest");
        settings.SmtpPort = StrictNumber(read("smtp", "Port"));
        settings.HeloName = read("smtp", "ID");
        if (setDestination)
            setDestination(read("smtp", "Dest"));
        const int flg = StrictNumber(read("Koukoku", "flg"));
        const int dotsettei = StrictNumber(read("keitai", "dotsettei"));
        const int rfsize = StrictNumber(read("keitai", "rfsize"));
        const QString kishu = read("keitai", "kishu");
        // The own sizes are read (when their option needs them) before anything is derived,
        // so that a bad one leaves both sizes as they were.
        const int siteidot = dotsettei == 2 ? StrictNumber(read("keitai", "siteidot")) : 0;
        const int ofsize = rfsize == 3 ? StrictNumber(read("keitai", "ofsize")) : 0;
        DeriveDotSize(
            dotsettei, kishu, [siteidot] { return siteidot; }, settings.DotSize);
        DeriveSizeLimit(
            rfsize, [ofsize] { return ofsize; }, settings.SizeLimit);
        if (flg == 1)
            settings.AdFooter = true;
    };
    ReadSubmissionKeysToo(readOlderKeys, [&] {
        const QString security = read("smtp", "Security");
        settings.Security = StoredSecurity(security).value_or(settings.Security);
        settings.UnknownSecurity = StoredSecurity(security) ? QString() : security;
        settings.AuthUser = read("smtp", "AuthUser");
        settings.Auth = StoredAuth(read("smtp", "Auth"));
    });
}
