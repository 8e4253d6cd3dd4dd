#include "app/HeaderEncoding.h"

#include "platform/CodePage.h"
#include "support/Printers.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

TEST(HeaderEncoding, Base64)
{
    EXPECT_EQ(EncodeSubject(""), "=?ISO-2022-JP?B?"
                                 "?=");
    EXPECT_EQ(EncodeSubject("Man"), "=?ISO-2022-JP?B?TWFu?=");
    QRandomGenerator random(7);
    for (int n = 0; n < 200; ++n) {
        QByteArray bytes(n, Qt::Uninitialized);
        for (char &b : bytes)
            b = char(random.bounded(256));
        EXPECT_EQ(EncodeBase64Text(bytes), QString::fromLatin1(bytes.toBase64())) << n;
    }
}

// What a reader gets back, and that each text starts and ends in ASCII.
TEST(HeaderEncoding, Iso2022JpText)
{
    EXPECT_EQ(ToIso2022Jp(QStringLiteral("あa")), QByteArray("\x1B$B$\"\x1B(Ba"));
    const struct
    {
        QString typed, read;
    } rows[] = {
        {"plain", "plain"},
        {QStringLiteral("ﾊﾟﾝ ｶﾞ ﾞ｡｢｣"), QStringLiteral("パン ガ ゛。「」")},
        {QStringLiteral("～∥－￠￡￢"), QStringLiteral("〜‖−¢£¬")},
        {QStringLiteral("a😀b①\r"), QStringLiteral("a〓b〓〓")},
        {QStringLiteral("ﾜﾞｦﾞ—ヹ"), QStringLiteral("ワ゛ヲ゛―ヱ゛")}, // what JIS X 0208 writes otherwise
    };
    for (const auto &row : rows) {
        const QByteArray bytes = ToIso2022Jp(row.typed);
        EXPECT_EQ(FromCodePage(bytes, "ISO-2022-JP"), row.read);
        EXPECT_EQ(bytes.lastIndexOf('\x1B'), bytes.lastIndexOf("\x1B(B")) << bytes.toHex().data(); // ends in ASCII
    }
}

// Long texts fold into encoded words of at most 75 characters on lines of at most 76,
// each a whole ISO-2022-JP text: no character is split between two words.
TEST(HeaderEncoding, LongTextsFoldIntoEncodedWords)
{
    const QString text = QStringLiteral("ｶﾞ") + QString(400, QChar(0x6F22)) + " a1 " + QString(30, 'x');
    QString back;
    qsizetype used = 9; // "Subject: "
    const QStringList words = EncodeSubject(text).split("\r\n ");
    for (const QString &word : words) {
        EXPECT_LE(used + word.size(), 76) << word.toStdString();
        ASSERT_TRUE(word.startsWith("=?ISO-2022-JP?B?") && word.endsWith("?="));
        const QByteArray bytes = QByteArray::fromBase64(word.mid(16, word.size() - 18).toLatin1());
        EXPECT_EQ(bytes.lastIndexOf('\x1B'), bytes.lastIndexOf("\x1B(B")) << bytes.toHex().data(); // ends in ASCII
        back += FromCodePage(bytes, "ISO-2022-JP");
        used = 1;
    }
    EXPECT_EQ(back, QStringLiteral("ガ") + QString(400, QChar(0x6F22)) + " a1 " + QString(30, 'x'));
    EXPECT_GT(words.size(), 20);
    // Names: ASCII as typed, quoted when a character would end the name, else words.
    EXPECT_EQ(DisplayName("kelvo", 6) + DisplayName("\"Yamada, Taro\"", 4), "kelvo\"Yamada, Taro\"");
    EXPECT_EQ(DisplayName("Yamada, \"T\" Taro", 4), "\"Yamada, \\\"T\\\" Taro\"");
    EXPECT_EQ(DisplayName(QString(80, 'a'), 6), EncodeWords(QString(80, 'a'), 6));
}

// With small limits the cuts are easy to see: a line starting with "." keeps a byte
// for the dot the SMTP client adds, and JIS pieces close their escape.
TEST(HeaderEncoding, BodyLinesAreCutWithinTheLimit)
{
    bool ascii = false;
    EXPECT_EQ(EncodeBodyLines({"abcdefgh", ".bcdefgh", ""}, ascii, 4),
              QList<QByteArray>({"abcd", "efgh", ".bc", "defg", "h", ""}));
    EXPECT_TRUE(ascii);
    EXPECT_EQ(EncodeBodyLines({QStringLiteral("日日日"), QStringLiteral(".日日"), "ab"}, ascii, 10),
              QList<QByteArray>({"\x1B$BF|F|\x1B(B", "\x1B$BF|\x1B(B", ".\x1B$BF|\x1B(B", "\x1B$BF|\x1B(B", "ab"}));
    EXPECT_FALSE(ascii);
}

} // namespace
