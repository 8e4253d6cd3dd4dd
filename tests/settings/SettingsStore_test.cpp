#include "settings/SettingsStore.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>

namespace {

QString ConversionError(const std::function<void()> &f)
{
    try {
        f();
    } catch (const Exception &e) {
        return e.Message;
    }
    return QStringLiteral("(no error)");
}

TEST(SettingsStore, StrictNumbers)
{
    EXPECT_EQ(StrToInt("25"), 25);
    EXPECT_EQ(StrToInt("-5"), -5);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    for (const char *bad : {"", "-", " 5", "5 ", "12a", "0x10", "2147483648", "99999999999999999999", "1.5"})
        EXPECT_EQ(ConversionError([&] { StrToInt(QString::fromLatin1(bad)); }),
                  QStringLiteral("'%1' は数値ではありません").arg(QString::fromLatin1(bad)))
            << bad;
    EXPECT_THROW(StrToInt(QStringLiteral("１２")), Exception); // full-width digits are no number
}

TEST(SettingsStore, DerivedDotSize)
{
    const auto own = [] { return 333; };
    const auto never = []() -> int { throw Exception("siteidot must not be read"); };
    struct Row
    {
        int option;
        QString kishu;
        int expected;
    } rows[] = {{0, "J-Phone,J-SH010:220", 95},
                {1, "J-Phone,J-SH010:220", 220},
                {2, "x", 333},
                {3, "J-Phone,J-SH010:220", 120},
                {-1, "", 120},
                {1, "a:b:7", -1}};
    for (const Row &row : rows) {
        int dot = 120;
        if (row.expected == -1) {
            // Everything after the first ":" must be the number.
            EXPECT_EQ(ConversionError([&] { DeriveDotSize(row.option, row.kishu, never, dot); }),
                      QStringLiteral("'b:7' は数値ではありません"));
            EXPECT_EQ(dot, 120);
            continue;
        }
        DeriveDotSize(row.option, row.kishu, row.option == 2 ? std::function<int()>(own) : never, dot);
        EXPECT_EQ(dot, row.expected) << row.option;
    }
    // A model line without ":" is taken whole and fails the conversion.
    int dot = 95;
    EXPECT_EQ(ConversionError([&] { DeriveDotSize(1, "J-Phone,J-SH010", never, dot); }),
              QStringLiteral("'J-Phone,J-SH010' は数値ではありません"));
    EXPECT_EQ(dot, 95);
}

TEST(SettingsStore, DerivedSizeLimit)
{
    const auto never = []() -> int { throw Exception("ofsize must not be read"); };
    const std::pair<int, int> fixed[] = {{0, 4800}, {1, 10800}, {2, 100000}, {4, 1234}, {-1, 1234}};
    for (auto [option, expected] : fixed) {
        int limit = 1234;
        DeriveSizeLimit(option, never, limit);
        EXPECT_EQ(limit, expected) << option;
    }
    const std::pair<int, int> own[] = {{2, 800}, {12, 10800}, {1000, 998800}, {2147483647, 2147483647}};
    for (auto [kb, expected] : own) {
        int limit = 0;
        DeriveSizeLimit(
            3, [kb] { return kb; }, limit);
        EXPECT_EQ(limit, expected) << kb;
    }
}

const char *const FullFile = "[web]\r\nkai=2\r\n[smtp]\r\nname=%NAME%\r\nFromAddress=taro@example.jp\r\nPort=2525\r\n"
                             "SMTP=mail.example.jp\r\nID=taro\r\nDest=hanako@example.jp\r\n[keitai]\r\ndotsettei=1\r\n"
                             "kishu=J-Phone,J-SH010:220\r\nsiteidot=%SITEIDOT%\r\nrfsize=3\r\nofsize=12\r\n"
                             "[Koukoku]\r\nflg=1\r\n";

QByteArray File(const QByteArray &siteidot = "100")
{
    QByteArray f(FullFile);
    f.replace("%NAME%", ToCP932(QStringLiteral("山田")));
    f.replace("%SITEIDOT%", siteidot);
    return f;
}

TEST(SettingsStore, LoadingReadsEveryKey)
{
    TestFolder folder;
    folder.Write("kelvo.ini", File("not read unless option 2"));
    MainSettings s;
    QString dest;
    LoadSettings(s, [&](const QString &t) { dest = t; });
    EXPECT_EQ(s.SmtpHost, "mail.example.jp");
    EXPECT_EQ(s.FromAddress, "taro@example.jp");
    EXPECT_EQ(s.FromName, QStringLiteral("山田"));
    EXPECT_EQ(s.DestAddress, "hanako@example.jp");
    EXPECT_EQ(dest, "hanako@example.jp");
    EXPECT_EQ(s.SmtpPort, 2525);
    EXPECT_EQ(s.UserId, "taro");
    EXPECT_EQ(s.DotSize, 220);
    EXPECT_EQ(s.SizeLimit, 10800);
    EXPECT_TRUE(s.AdFooter);
}

TEST(SettingsStore, NonNumberStopsLoadingAtItsKey)
{
    TestFolder folder;
    QByteArray f = File();
    f.replace("Port=2525", "Port=ab");
    folder.Write("kelvo.ini", f);
    MainSettings s;
    bool destSet = false;
    EXPECT_EQ(ConversionError([&] { LoadSettings(s, [&](const QString &) { destSet = true; }); }),
              QStringLiteral("'ab' は数値ではありません"));
    // Keys before Port applied; Port and everything after left as they were.
    EXPECT_EQ(s.SmtpHost, "mail.example.jp");
    EXPECT_EQ(s.DestAddress, "hanako@example.jp");
    EXPECT_EQ(s.SmtpPort, 25);
    EXPECT_EQ(s.UserId, "kelvo");
    EXPECT_FALSE(destSet);
    EXPECT_EQ(s.DotSize, 120);

    // A bad flag stops before the picture size; a flag other than 1 leaves the footer off.
    f = File();
    f.replace("flg=1", "flg=");
    folder.Write("kelvo.ini", f);
    MainSettings t;
    EXPECT_EQ(ConversionError([&] { LoadSettings(t, nullptr); }), QStringLiteral("'' は数値ではありません"));
    EXPECT_EQ(t.UserId, "taro");
    EXPECT_EQ(t.DotSize, 120);
    f.replace("flg=", "flg=2");
    folder.Write("kelvo.ini", f);
    LoadSettings(t, nullptr);
    EXPECT_FALSE(t.AdFooter);
    EXPECT_EQ(t.DotSize, 220);
}

TEST(SettingsStore, OwnDotSizeReadOnlyWhenChosen)
{
    TestFolder folder;
    QByteArray f = File("x");
    f.replace("dotsettei=1", "dotsettei=2");
    folder.Write("kelvo.ini", f);
    MainSettings s;
    EXPECT_EQ(ConversionError([&] { LoadSettings(s, nullptr); }), QStringLiteral("'x' は数値ではありません"));
    EXPECT_EQ(s.DotSize, 120);
    EXPECT_EQ(s.SizeLimit, 4800);
    folder.Write("kelvo.ini", File("640").replace("dotsettei=1", "dotsettei=2"));
    LoadSettings(s, nullptr);
    EXPECT_EQ(s.DotSize, 640);
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
