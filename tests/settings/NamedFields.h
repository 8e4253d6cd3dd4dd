#pragma once

#include "settings/SettingsStore.h"

#include "support/Printers.h"

#include <QString>

#include <gtest/gtest.h>

#include <map>
#include <string>

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
        {"auth", s.Auth ? "on" : "off"},
        {"login", s.AuthUser},
        {"launch count", QString::number(s.LaunchCount)}};
}
