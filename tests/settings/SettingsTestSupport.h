#pragma once

#include "platform/CodePage.h"
#include "settings/SettingsStore.h"

#include "support/Printers.h"

#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

#include <map>
#include <string>

// A kelvo.ini as Windows writes it (CP932, CR LF). Each change "key=value" takes the place of the key's line
// or, for a key the file lacks, goes first into [smtp]; a change without "=" removes the key's line; one that
// starts with "[" is added at the end.
inline QByteArray KelvoIni(const QStringList &changes = {})
{
    QString text =
        QStringLiteral("[web]\r\nkai=2\r\n[smtp]\r\nname=山田\r\nFromAddress=taro@example.jp\r\nPort=2525\r\n"
                       "SMTP=mail.example.jp\r\nID=taro\r\nDest=hanako@example.jp\r\n[keitai]\r\ndotsettei=1\r\n"
                       "kishu=J-Phone,J-SH010:220\r\nsiteidot=x\r\nrfsize=3\r\nofsize=12\r\n[Koukoku]\r\nflg=1\r\n");
    for (const QString &change : changes) {
        if (change.startsWith('[')) {
            text += change + "\r\n";
            continue;
        }
        const QRegularExpression line("(?m)^" + change.section('=', 0, 0) + "=[^\\r]*\\r\\n");
        const QString replacement = change.contains('=') ? change + "\r\n" : QString();
        if (text.contains(line))
            text.replace(line, replacement);
        else
            text.replace("[smtp]\r\n", "[smtp]\r\n" + replacement);
    }
    return ToCP932(text);
}

// What a test looks at, by name, so that a failure names the field that differs.
using NamedFields = std::map<std::string, QString>;

// Each field `expected` names ("name=value; name=value"; a name given again overrides the earlier value,
// so a row can be written as the common expectation followed by its differences) as `actual` holds it.
inline void ExpectFields(const NamedFields &actual, const QString &expected)
{
    NamedFields fields;
    for (const QString &field : expected.split(u';', Qt::SkipEmptyParts))
        fields[field.section(u'=', 0, 0).trimmed().toStdString()] = field.section(u'=', 1);
    for (const auto &[name, value] : fields)
        EXPECT_EQ(actual.at(name), value) << name;
}

// The settings in memory, and the text the destination box was given.
inline NamedFields SettingsFields(const MainSettings &s, const QString &destinationBox)
{
    return {
        {"host", s.SmtpHost},
        {"from address", s.FromAddress},
        {"from name", s.FromName},
        {"destination", s.DestAddress},
        {"port", QString::number(s.SmtpPort)},
        {"helo name", s.HeloName},
        {"destination box", destinationBox},
        {"dot size", QString::number(s.DotSize)},
        {"size limit", QString::number(s.SizeLimit)},
        {"footer", s.AdFooter ? "on" : "off"},
        {"security", s.UnknownSecurity.isEmpty() ? QString::number(int(s.Security)) : "unknown " + s.UnknownSecurity},
        {"auth", QString::number(int(s.Auth))},
        {"sign-in", s.OAuthProvider + ' ' + s.OAuth.ClientId},
        {"login", s.AuthUser},
        {"launch count", QString::number(s.LaunchCount)}};
}
