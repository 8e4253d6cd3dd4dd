#include "settings/SettingsStore.h"

#include "platform/CodePage.h"

#include "support/Failure.h"
#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QString NotANumber(const QString &text)
{
    return QStringLiteral("'%1' は数値ではありません").arg(text);
}

TEST(SettingsStore, StrictNumbers)
{
    const std::pair<const char *, int> good[] = {
        {"25", 25}, {"-5", -5}, {"+7", 7}, {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}};
    for (auto [text, value] : good)
        EXPECT_EQ(StrToInt(text), value) << text;
    for (const QString bad : {"", "-", " 5", "5 ", "12a", "0x10", "2147483648", "99999999999999999999", "1.5", "１２"})
        EXPECT_EQ(FailureOf([&] { StrToInt(bad); }), NotANumber(bad)) << bad.toStdString();
}

// Loading in its order, with the derived sizes: a non-number stops it at its key with the
// keys before applied; an own size is read only when its option needs it, and both are
// read before either size is derived. The submission keys are absent from this file.
TEST(SettingsStore, LoadingStopsAtTheFirstNonNumber)
{
    const QString file = QStringLiteral("[web]\r\nkai=2\r\n[smtp]\r\nname=山田\r\nFromAddress=taro@example.jp\r\n"
                                        "Port=2525\r\nSMTP=mail.example.jp\r\nID=taro\r\nDest=hanako@example.jp\r\n"
                                        "[keitai]\r\ndotsettei=1\r\nkishu=J-Phone,J-SH010:220\r\nsiteidot=x\r\n"
                                        "rfsize=3\r\nofsize=12\r\n[Koukoku]\r\nflg=1\r\n");
    const QString loaded = QStringLiteral("mail.example.jp taro@example.jp 山田 hanako@example.jp 2525 taro ");
    const struct
    {
        QStringList changes; // key=value lines in place of the file's (new keys go to [smtp])
        QString summary;     // the settings, then the destination box
        QString error;       // null: none
    } rows[] = {
        {{}, loaded + "220 10800 ad 0 - |hanako@example.jp", {}},
        {{"Port=ab"}, "mail.example.jp taro@example.jp 山田 hanako@example.jp 25 kelvo 120 4800 - 0 - |", "ab"},
        {{"flg="}, loaded + "120 4800 - 0 - |hanako@example.jp", ""},
        {{"flg=2", "dotsettei=0", "rfsize=2"}, loaded + "95 100000 - 0 - |hanako@example.jp", {}},
        {{"dotsettei=3", "rfsize=1", "ofsize=y"}, loaded + "120 10800 ad 0 - |hanako@example.jp", {}},
        {{"dotsettei=2"}, loaded + "120 4800 - 0 - |hanako@example.jp", "x"},
        {{"dotsettei=2", "siteidot=640", "ofsize=2147483647"}, loaded + "640 2147483647 ad 0 - |hanako@example.jp", {}},
        {{"dotsettei=2", "siteidot=640", "ofsize=y"}, loaded + "120 4800 - 0 - |hanako@example.jp", "y"},
        {{"kishu=J-Phone"}, loaded + "120 4800 - 0 - |hanako@example.jp", "J-Phone"},
        {{"kishu=a:b:7"}, loaded + "120 4800 - 0 - |hanako@example.jp", "b:7"},
        {{"Security=2", "Auth=1", "AuthUser=taro.y"}, loaded + "220 10800 ad 2 auth taro.y|hanako@example.jp", {}},
        {{"Security=7", "Auth=2", "AuthUser="}, loaded + "220 10800 ad 0 - |hanako@example.jp", {}},
        {{"Security=1", "Auth=on"}, loaded + "120 4800 - 1 - |hanako@example.jp", "on"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.changes.join(' ').toStdString());
        QString text = file;
        for (const QString &change : row.changes) {
            const QRegularExpression line("(?m)^" + change.section('=', 0, 0) + "=[^\\r]*");
            if (text.contains(line))
                text.replace(line, change);
            else
                text.replace("[smtp]\r\n", "[smtp]\r\n" + change + "\r\n");
        }
        TestFolder folder;
        folder.Write(SettingsFileName, ToCP932(text));
        MainSettings s;
        QString dest;
        EXPECT_EQ(FailureOf([&] { LoadSettings(s, [&](const QString &t) { dest = t; }); }),
                  row.error.isNull() ? QString() : NotANumber(row.error));
        EXPECT_EQ(
            QStringList({s.SmtpHost, s.FromAddress, s.FromName, s.DestAddress, QString::number(s.SmtpPort), s.UserId,
                         QString::number(s.DotSize), QString::number(s.SizeLimit), s.AdFooter ? "ad" : "-",
                         QString::number(s.Security), s.Auth ? "auth" : "-", s.AuthUser + '|' + dest})
                .join(' '),
            row.summary);
    }
}

} // namespace
