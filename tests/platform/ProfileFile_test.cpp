#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/ProfileFile.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>

namespace {

// A file as Windows writes it: CP932, CR LF, a Japanese sender name.
QByteArray WindowsFile()
{
    return "[web]\r\nkai=3\r\n[smtp]\r\nname=" + ToCP932(QStringLiteral("山田太郎")) +
           "\r\nFromAddress=taro@example.jp\r\nPort=25\r\n[keitai]\r\ndotsettei=1\r\n";
}

TEST(ProfileFile, ReadsAWindowsFileExactly)
{
    const QByteArray file = WindowsFile();
    EXPECT_EQ(ProfileFile::ReadFrom(file, "smtp", "name"), QStringLiteral("山田太郎"));
    EXPECT_EQ(ProfileFile::ReadFrom(file, "web", "kai"), "3");
    EXPECT_EQ(ProfileFile::ReadFrom(file, "keitai", "dotsettei"), "1");
    // Names match without regard to case.
    EXPECT_EQ(ProfileFile::ReadFrom(file, "SMTP", "fromaddress"), "taro@example.jp");
    // Missing section, missing key, missing file: the default.
    EXPECT_EQ(ProfileFile::ReadFrom(file, "Koukoku", "flg"), "");
    EXPECT_EQ(ProfileFile::ReadFrom(file, "smtp", "SMTP", "none"), "none");
    EXPECT_EQ(ProfileFile("/nonexistent/kelvo.ini").ReadString("smtp", "name"), "");
}

TEST(ProfileFile, RewriteKeepsTheOtherLinesAndTheirOrder)
{
    const QByteArray file = WindowsFile();
    const QByteArray changed = ProfileFile::WriteInto(file, "SMTP", "port", "2525");
    QByteArray expected = file;
    expected.replace("Port=25\r\n", "port=2525\r\n");
    EXPECT_EQ(changed, expected);

    // A new key goes at the end of its section, a new section at the end of the file.
    const QByteArray added = ProfileFile::WriteInto(file, "web", "last", "x");
    EXPECT_TRUE(added.startsWith("[web]\r\nkai=3\r\nlast=x\r\n[smtp]\r\n"));
    const QByteArray section = ProfileFile::WriteInto(file, "Koukoku", "flg", "1");
    EXPECT_EQ(section, file + "[Koukoku]\r\nflg=1\r\n");
    // A file without a final line end gets one before the new section.
    EXPECT_EQ(ProfileFile::WriteInto("[a]\r\nk=1", "b", "k", "2"), QByteArray("[a]\r\nk=1\r\n[b]\r\nk=2\r\n"));
    EXPECT_EQ(ProfileFile::WriteInto("[a]\r\nk=1", "a", "j", "2"), QByteArray("[a]\r\nk=1\r\nj=2\r\n"));
}

TEST(ProfileFile, FreshFileHasItsSectionsInWriteOrder)
{
    TestFolder folder;
    ProfileFile ini(folder.File("kelvo.ini"));
    ini.WriteString("web", "kai", "0");
    ini.WriteString("smtp", "name", QStringLiteral("差出人"));
    ini.WriteString("smtp", "Port", "25");
    ini.WriteString("keitai", "dotsettei", "0");
    ini.WriteString("Koukoku", "flg", "1");
    EXPECT_EQ(folder.Read("kelvo.ini"), "[web]\r\nkai=0\r\n[smtp]\r\nname=" + ToCP932(QStringLiteral("差出人")) +
                                            "\r\nPort=25\r\n[keitai]\r\ndotsettei=0\r\n[Koukoku]\r\nflg=1\r\n");
}

TEST(ProfileFile, BadFilesReadByTheWindowsRules)
{
    // No section header at all: nothing is found.
    EXPECT_EQ(ProfileFile::ReadFrom("Port=25\r\n", "smtp", "Port"), "");
    // Duplicate sections and keys: the first wins.
    const QByteArray dup = "[smtp]\r\nPort=1\r\nport=2\r\n[SMTP]\r\nPort=3\r\nSMTP=b\r\n";
    EXPECT_EQ(ProfileFile::ReadFrom(dup, "smtp", "Port"), "1");
    EXPECT_EQ(ProfileFile::ReadFrom(dup, "smtp", "SMTP"), "");
    EXPECT_EQ(ProfileFile::WriteInto(dup, "smtp", "PORT", "9"),
              "[smtp]\r\nPORT=9\r\nport=2\r\n[SMTP]\r\nPort=3\r\nSMTP=b\r\n");
    // Values are trimmed; a sign stays for the number reader to judge.
    EXPECT_EQ(ProfileFile::ReadFrom("[a]\r\n  k  =  -5 \t\r\n", "a", "k"), "-5");
    // LF-only lines and blanks around the section name.
    EXPECT_EQ(ProfileFile::ReadFrom("[ a ]\nk=v\n", "A", "K"), "v");
    // Lines of 100 000 characters, and values cut at 2047 characters.
    const QByteArray longValue(100000, 'x');
    const QByteArray big = "[a]\r\n" + QByteArray(100000, 'y') + "\r\nk=" + longValue + "\r\n";
    EXPECT_EQ(ProfileFile::ReadFrom(big, "a", "k"), QString(2047, QLatin1Char('x')));
    // Bytes that are not CP932 read as replacement characters, never a crash, and a
    // rewrite of another key keeps them byte for byte.
    const QByteArray invalid = "[a]\r\nk=\x81\xFF\xA0z\r\nj=1\r\n";
    EXPECT_TRUE(ProfileFile::ReadFrom(invalid, "a", "k").endsWith(QLatin1Char('z')));
    EXPECT_EQ(ProfileFile::WriteInto(invalid, "a", "j", "2"), QByteArray("[a]\r\nk=\x81\xFF\xA0z\r\nj=2\r\n"));
}

TEST(ProfileFile, RefusedWriteNamesThePathAndKeepsTheFile)
{
    TestFolder folder;
    const QString missing = folder.File("no-such-folder/kelvo.ini");
    try {
        ProfileFile(missing).WriteString("smtp", "Port", "25");
        FAIL() << "the write should have failed";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message, missing + QStringLiteral(" に書き込めません"));
    }

    // A folder where the file should be: the write fails and the folder is untouched.
    QDir(folder.Path()).mkdir("kelvo.ini");
    EXPECT_THROW(ProfileFile(folder.File("kelvo.ini")).WriteString("web", "kai", "1"), Exception);
    EXPECT_TRUE(QFileInfo(folder.File("kelvo.ini")).isDir());
}

TEST(ProfileFile, ValuesStayOnOneLine)
{
    const QByteArray out = ProfileFile::WriteInto("", "a", "k", "x\r\n[b]\r\nj=1");
    EXPECT_EQ(ProfileFile::ReadFrom(out, "b", "j"), "");
    EXPECT_EQ(ProfileFile::ReadFrom(out, "a", "k"), "x  [b]  j=1");
}

} // namespace
