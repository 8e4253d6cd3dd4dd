#include "settings/SettingsStore.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"

#include "support/Failure.h"
#include "support/TestFolder.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QString ErrorOf(const std::function<void()> &f)
{
    return FailureOf(f);
}

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
        EXPECT_EQ(ErrorOf([&] { StrToInt(bad); }), NotANumber(bad)) << bad.toStdString();
}

// Every row of the derived-value table; the own value is asked for only under its option.
TEST(SettingsStore, DerivedValues)
{
    const auto never = []() -> int { throw Exception("own value must not be read"); };
    const struct
    {
        int option;
        QString kishu;
        int dot;
        QString error;
    } dots[] = {{0, "J-Phone,J-SH010:220", 95, {}},
                {1, "J-Phone,J-SH010:220", 220, {}},
                {2, "x", 333, {}},
                {3, "J-Phone,J-SH010:220", 120, {}},
                {-1, "", 120, {}},
                {1, "a:b:7", 120, "b:7"},                        // everything after the first ":" must be the number
                {1, "J-Phone,J-SH010", 120, "J-Phone,J-SH010"}}; // no ":": taken whole
    for (const auto &row : dots) {
        int dot = 120;
        const std::function<int()> own = row.option == 2 ? [] { return 333; } : std::function<int()>(never);
        EXPECT_EQ(ErrorOf([&] { DeriveDotSize(row.option, row.kishu, own, dot); }),
                  row.error.isNull() ? QString() : NotANumber(row.error));
        EXPECT_EQ(dot, row.dot) << row.option << " " << row.kishu.toStdString();
    }

    // Option 3 takes the own kilobytes (kb) times 1000 less 1200, saturating at the top.
    const struct
    {
        int option, kb, limit;
    } limits[] = {{0, 0, 4800},   {1, 0, 10800},     {2, 0, 100000},
                  {4, 0, 1234},   {-1, 0, 1234},     {3, 2, 800},
                  {3, 12, 10800}, {3, 1000, 998800}, {3, 2147483647, 2147483647}};
    for (const auto &row : limits) {
        int limit = 1234;
        DeriveSizeLimit(row.option, row.option == 3 ? [kb = row.kb] { return kb; } : std::function<int()>(never),
                        limit);
        EXPECT_EQ(limit, row.limit) << row.option << " " << row.kb;
    }
}

QString Summary(const MainSettings &s)
{
    return QStringList{s.SmtpHost,
                       s.FromAddress,
                       s.FromName,
                       s.DestAddress,
                       QString::number(s.SmtpPort),
                       s.UserId,
                       QString::number(s.DotSize),
                       QString::number(s.SizeLimit),
                       s.AdFooter ? "ad" : "-"}
        .join(' ');
}

// Loading in its order: a non-number stops it at its key with the keys before applied.
TEST(SettingsStore, LoadingStopsAtTheFirstNonNumber)
{
    const QString file = QStringLiteral("[web]\r\nkai=2\r\n[smtp]\r\nname=山田\r\nFromAddress=taro@example.jp\r\n"
                                        "Port=2525\r\nSMTP=mail.example.jp\r\nID=taro\r\nDest=hanako@example.jp\r\n"
                                        "[keitai]\r\ndotsettei=1\r\nkishu=J-Phone,J-SH010:220\r\nsiteidot=x\r\n"
                                        "rfsize=3\r\nofsize=12\r\n[Koukoku]\r\nflg=1\r\n");
    const QString before = QStringLiteral("mail.example.jp taro@example.jp 山田 hanako@example.jp ");
    const struct
    {
        QStringList changes; // key=value lines replacing those of the file
        QString summary;
        bool destSet;
        QString error; // null: none
    } rows[] = {
        {{}, before + "2525 taro 220 10800 ad", true, {}}, // siteidot is not read under option 1
        {{"Port=ab"}, before + "25 kelvo 120 4800 -", false, "ab"},
        {{"flg="}, before + "2525 taro 120 4800 -", true, ""},
        {{"flg=2"}, before + "2525 taro 220 10800 -", true, {}},
        {{"dotsettei=2"}, before + "2525 taro 120 4800 -", true, "x"},
        {{"dotsettei=2", "siteidot=640"}, before + "2525 taro 640 10800 ad", true, {}},
        // Both own sizes are read before either is applied: a bad one changes neither.
        {{"dotsettei=2", "siteidot=640", "ofsize=y"}, before + "2525 taro 120 4800 -", true, "y"},
        {{"kishu=J-Phone", "ofsize=12"}, before + "2525 taro 120 4800 -", true, "J-Phone"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.changes.join(' ').toStdString());
        QString text = file;
        for (const QString &change : row.changes)
            text.replace(QRegularExpression("(?m)^" + change.section('=', 0, 0) + "=[^\\r]*"), change);
        TestFolder folder;
        folder.Write("kelvo.ini", ToCP932(text));
        MainSettings s;
        QString dest;
        EXPECT_EQ(ErrorOf([&] { LoadSettings(s, [&](const QString &t) { dest = t; }); }),
                  row.error.isNull() ? QString() : NotANumber(row.error));
        EXPECT_EQ(Summary(s), row.summary);
        EXPECT_EQ(dest, row.destSet ? "hanako@example.jp" : "");
    }
}

TEST(SettingsStore, PathIsTheProgramFolder)
{
    TestFolder folder;
    ProfileWrite(SettingsFileName, "web", "kai", "0");
    EXPECT_EQ(folder.Read("kelvo.ini"), "[web]\r\nkai=0\r\n");
    EXPECT_EQ(ProfileRead(SettingsFileName, "WEB", "KAI"), "0");
    EXPECT_EQ(ProfilePath(SettingsFileName), folder.Path() + "/kelvo.ini");
}

} // namespace
