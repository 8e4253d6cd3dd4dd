#include "settings/SettingKeys.h"

#include "platform/Exception.h"
#include "platform/IniFile.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <iterator>
#include <limits>

namespace {

using enum SettingKind;

// In the order of Setting.
const SettingKey Keys[] = {
    {"smtp", "name", "", Text},
    {"smtp", "FromAddress", "", Text},
    {"smtp", "Port", "", Number},
    {"smtp", "SMTP", "", Text},
    {"smtp", "ID", "", Text},
    {"smtp", "Dest", "", Text},
    {"smtp", "Security", "0", Number},
    {"smtp", "Auth", "0", Number},
    {"smtp", "AuthUser", "", Text},
    {"keitai", "dotsettei", "", Number},
    {"keitai", "kishu", "", Text},
    {"keitai", "siteidot", "", Number},
    {"keitai", "rfsize", "", Number},
    {"keitai", "ofsize", "", Number},
    {"Koukoku", "flg", "", Flag, "2"},
    {"web", "kai", "", Number},
    {"oauth", "Provider", "", Text},
    {"oauth", "ClientId", "", Text},
    {"oauth", "ClientSecret", "", Text},
    {"oauth", "AuthorizeUrl", "", Text},
    {"oauth", "TokenUrl", "", Text},
    {"oauth", "Scope", "", Text},
};
static_assert(std::size(Keys) == static_cast<size_t>(Setting::OAuthScope) + 1);

} // namespace

const SettingKey &KeyOf(Setting setting)
{
    return Keys[static_cast<int>(setting)];
}

bool SettingsFileExists()
{
    return QFileInfo(SettingsFilePath()).isFile();
}

int StrictNumber(const QString &text)
{
    const auto fail = [&text]() {
        return Exception(QCoreApplication::translate("Settings", "'%1' は数値ではありません").arg(text));
    };
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

QString ReadSetting(Setting setting)
{
    const SettingKey &key = KeyOf(setting);
    const QString value =
        IniFile(SettingsFilePath()).ReadString(QLatin1String(key.Section), QLatin1String(key.Key), QString());
    return value.isEmpty() ? QString::fromLatin1(key.Default) : value;
}

int ReadNumber(Setting setting)
{
    Q_ASSERT(KeyOf(setting).Kind == SettingKind::Number);
    return StrictNumber(ReadSetting(setting));
}

bool ReadFlag(Setting setting)
{
    Q_ASSERT(KeyOf(setting).Kind == SettingKind::Flag);
    return StrictNumber(ReadSetting(setting)) == 1;
}

void WriteSetting(Setting setting, const QString &value)
{
    WriteSettings({{setting, value}});
}

void WriteNumber(Setting setting, int value)
{
    Q_ASSERT(KeyOf(setting).Kind == SettingKind::Number);
    WriteSetting(setting, QString::number(value));
}

void WriteFlag(Setting setting, bool on)
{
    Q_ASSERT(KeyOf(setting).Kind == SettingKind::Flag);
    WriteSetting(setting, FlagText(setting, on));
}

QString NumberText(int value)
{
    return QString::number(value);
}

QString FlagText(Setting setting, bool on)
{
    Q_ASSERT(KeyOf(setting).Kind == SettingKind::Flag);
    return on ? QStringLiteral("1") : QString::fromLatin1(KeyOf(setting).Off);
}

void WriteSettings(const QList<SettingValue> &values)
{
    QList<IniFile::Entry> entries;
    for (const auto &[setting, value] : values)
        entries.append({QLatin1String(KeyOf(setting).Section), QLatin1String(KeyOf(setting).Key), value});
    MakeFolderFor(SettingsFilePath());
    IniFile(SettingsFilePath()).WriteStrings(entries);
}
