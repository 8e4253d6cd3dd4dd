#include "app/HeaderEncoding.h"

#include "platform/CodePage.h"
#include "support/Printers.h"

#include <gtest/gtest.h>

namespace {

// What a reader gets back of what was typed, each text ending in ASCII; body lines and display names.
// Long texts fold into encoded words of at most 75 characters on lines of at most 76, each a whole
// ISO-2022-JP text: no character is split between two words.
TEST(HeaderEncoding, Iso2022JpTextsWordsBodyLinesAndNames)
{
    const std::pair<QString, QString> rows[] = {
        {QStringLiteral("ﾊﾟﾝ ｶﾞ ﾞ｡｢｣"), QStringLiteral("パン ガ ゛。「」")},
        {QStringLiteral("～∥－￠￡￢"), QStringLiteral("〜‖−¢£¬")},
        {QStringLiteral("a😀b①\r"), QStringLiteral("a〓b〓〓")},
        {QStringLiteral("ﾜﾞｦﾞ—ヹ"), QStringLiteral("ワ゛ヲ゛―ヱ゛")}, // what JIS X 0208 writes otherwise
    };
    for (const auto &[typed, read] : rows) {
        const QByteArray bytes = ToIso2022Jp(typed);
        EXPECT_EQ(FromCodePage(bytes, "ISO-2022-JP"), read);
        EXPECT_EQ(bytes.lastIndexOf('\x1B'), bytes.lastIndexOf("\x1B(B")) << bytes.toHex().data(); // ends in ASCII
    }
    // Body lines cut at a small limit: a JIS piece closes its escape within it, and one that starts with
    // "." keeps a byte for the dot the SMTP client puts in front.
    bool ascii = true;
    EXPECT_EQ(EncodeBodyLines({QStringLiteral(".日a"), QStringLiteral("日日日")}, ascii, 10),
              QList<QByteArray>({".\x1B$BF|\x1B(B", "a", "\x1B$BF|F|\x1B(B", "\x1B$BF|\x1B(B"}));
    // Names: ASCII as typed, quoted when a character would end the name, else encoded words.
    EXPECT_EQ(DisplayName("kelvo", 6) + DisplayName("\"Yamada, Taro\"", 4), "kelvo\"Yamada, Taro\"");
    EXPECT_EQ(DisplayName("Yamada, \"T\" Taro", 4), "\"Yamada, \\\"T\\\" Taro\"");
    EXPECT_EQ(DisplayName(QString(80, 'a'), 6), EncodeWords(QString(80, 'a'), 6));
    const QString text = QStringLiteral("ｶﾞ") + QString(400, QChar(0x6F22)) + " a1 " + QString(30, 'x');
    QString back;
    qsizetype used = 9; // "Subject: "
    for (const QString &word : EncodeSubject(text).split("\r\n ")) {
        EXPECT_LE(used + word.size(), 76) << word.toStdString();
        ASSERT_TRUE(word.startsWith("=?ISO-2022-JP?B?") && word.endsWith("?="));
        const QByteArray bytes = QByteArray::fromBase64(word.mid(16, word.size() - 18).toLatin1());
        EXPECT_EQ(bytes.lastIndexOf('\x1B'), bytes.lastIndexOf("\x1B(B")) << bytes.toHex().data(); // ends in ASCII
        back += FromCodePage(bytes, "ISO-2022-JP");
        used = 1;
    }
    EXPECT_EQ(back, QStringLiteral("ガ") + QString(400, QChar(0x6F22)) + " a1 " + QString(30, 'x'));
}

} // namespace
