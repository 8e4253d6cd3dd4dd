#include "platform/CodePage.h"
#include "platform/IniFile.h"

#include "support/Printers.h"

#include <gtest/gtest.h>

namespace {

// A file as Windows writes it: CP932, CR LF, a Japanese sender name.
const QByteArray WindowsFile = "[web]\r\nkai=3\r\n[smtp]\r\nname=" + ToCP932(QStringLiteral("山田太郎")) +
                               "\r\nFromAddress=taro@example.jp\r\nPort=25\r\n[keitai]\r\ndotsettei=1\r\n";

TEST(IniFile, ReadsAndWritesByTheWindowsRules)
{
    const std::tuple<QByteArray, const char *, const char *, QString> read[] = {
        {WindowsFile, "smtp", "name", QStringLiteral("山田太郎")},
        {"Port=25\r\n", "smtp", "Port", ""}, // no section header at all
        {"[smtp]\r\nPort=1\r\nport=2\r\n[SMTP]\r\nPort=3\r\nSMTP=b\r\n", "smtp", "Port", "1"}, // the first wins
        {"[smtp]\r\nPort=1\r\n[SMTP]\r\nSMTP=b\r\n", "smtp", "SMTP", ""}, // in the first section only
        {"[a]\r\n  k  =  -5 \t\r\n", "a", "k", "-5"},
        {"[ a ]\nk=v\n", "A", "K", "v"}, // LF alone, blanks around the section name, names without regard to case
        {"[a]\r\nk=" + QByteArray(100000, 'x') + "\r\n", "a", "k", QString(2047, u'x')},
        {"[a]\r\nk=\x81\xFFz\x81\r\n", "a", "k", QStringLiteral("\uFFFD\uFFFDz\uFFFD")}, // not CP932: one U+FFFD a byte
        // One pair of enclosing quotes is dropped, double or single, and only one.
        {"[a]\r\nk= \"Taro\" \r\n", "a", "k", "Taro"},
        {"[a]\r\nk='a b'\r\n", "a", "k", "a b"},
        {"[a]\r\nk=\"\"x\"\"\r\n", "a", "k", "\"x\""},
    };
    for (const auto &[file, section, key, value] : read)
        EXPECT_EQ(IniFile::ReadFrom(file, section, key), value) << file.left(40).data();
    // One key written, every other byte kept; whatever is written reads back as given, on one line.
    const QByteArray dup = "[smtp]\r\nPort=1\r\nport=2\r\n[SMTP]\r\nPort=3\r\n";
    const std::tuple<QByteArray, const char *, const char *, const char *, QByteArray> written[] = {
        {WindowsFile, "SMTP", "port", "2525", QByteArray(WindowsFile).replace("Port=25\r\n", "port=2525\r\n")},
        {WindowsFile, "web", "last", "x", QByteArray(WindowsFile).replace("kai=3\r\n", "kai=3\r\nlast=x\r\n")},
        {WindowsFile, "Koukoku", "flg", "1", WindowsFile + "[Koukoku]\r\nflg=1\r\n"},
        {"", "web", "kai", "0", "[web]\r\nkai=0\r\n"},
        {"[a]\r\nk=1", "b", "k", "2", "[a]\r\nk=1\r\n[b]\r\nk=2\r\n"},
        {dup, "smtp", "PORT", "9", QByteArray(dup).replace("Port=1", "PORT=9")},
        {"[a]\r\nk=\x81\xFF\r\nj=1\r\n", "a", "j", "2", "[a]\r\nk=\x81\xFF\r\nj=2\r\n"},
        {"", "a", "k", "x\r\n[b]\r\nj=1", "[a]\r\nk=x  [b]  j=1\r\n"}, // a line break starts no key or section
    };
    for (const auto &[file, section, key, value, bytes] : written)
        EXPECT_EQ(IniFile::WriteInto(file, section, key, value), bytes) << key;
    for (const char *value : {"\"Taro\"", "'x'", " a ", "\t", "\"", "\"\"", "a\"b\"", "名前"}) {
        const QByteArray file = IniFile::WriteInto("[a]\r\nj=1\r\n", "a", "k", value);
        EXPECT_EQ(IniFile::ReadFrom(file, "a", "k"), value) << file.data();
    }
}

// Lines ending in CR LF, LF, a lone CR or nothing: a key written reads back, so do the others, and the new key
// stands on a line of its own; what is written ends every line with CR LF. The first row is a review's file: its
// last line ended in a lone CR, and the Security the settings OK appended ran into it.
TEST(IniFile, AnyLineEndsReadAndBecomeCrLf)
{
    const QByteArray smtpLast = "[web]\r\nkai=2\r\n[smtp]\r\nDest=hanako@example.jp\r\nSecurity=1\r\n",
                     webLast = "[smtp]\r\nDest=hanako@example.jp\r\nSecurity=1\r\n[web]\r\nkai=2\r\n";
    const std::pair<QByteArray, QByteArray> rows[] = {
        {"[web]\r\nkai=2\r\n[smtp]\r\nDest=hanako@example.jp\r", smtpLast},
        {"[web]\rkai=2\r[smtp]\rDest=hanako@example.jp", smtpLast},
        {"[smtp]\nDest=hanako@example.jp\n[web]\nkai=2\n", webLast},
        {"[smtp]\r\nDest=hanako@example.jp\r[web]\r\nkai=2", webLast},
    };
    for (const auto &[file, written] : rows) {
        EXPECT_EQ(IniFile::ReadFrom(file, "smtp", "Dest"), "hanako@example.jp");
        EXPECT_EQ(IniFile::WriteInto(file, "smtp", "Security", "1"), written) << file.data();
        EXPECT_EQ(IniFile::ReadFrom(written, "smtp", "Security"), "1");
    }
    EXPECT_EQ(IniFile::WriteInto("[smtp]\r\nDest=a\r", "web", "kai", "3"), "[smtp]\r\nDest=a\r\n[web]\r\nkai=3\r\n");
}

} // namespace
