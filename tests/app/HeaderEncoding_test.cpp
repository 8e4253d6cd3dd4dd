#include "app/HeaderEncoding.h"

#include "platform/CodePage.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

TEST(HeaderEncoding, Base64)
{
    EXPECT_EQ(EncodeBase64Text(""), "");
    EXPECT_EQ(EncodeBase64Text("M"), "TQ==");
    EXPECT_EQ(EncodeBase64Text("Ma"), "TWE=");
    EXPECT_EQ(EncodeBase64Text("Man"), "TWFu");
    QRandomGenerator random(7);
    for (int n = 0; n < 200; ++n) {
        QByteArray bytes(n, Qt::Uninitialized);
        for (char &b : bytes)
            b = char(random.bounded(256));
        EXPECT_EQ(EncodeBase64Text(bytes), QString::fromLatin1(bytes.toBase64())) << n;
    }
}

TEST(HeaderEncoding, SubjectIsOneEncodedWordEndingInAscii)
{
    EXPECT_EQ(EncodeSubject(""), "=?ISO-2022-JP?B?"
                                 "?=");
    EXPECT_EQ(EncodeSubject("test"), "=?ISO-2022-JP?B?dGVzdA==?=");

    const QString typed = QStringLiteral("テスト送信①～ｶﾞ");
    const QString word = EncodeSubject(typed);
    ASSERT_TRUE(word.startsWith("=?ISO-2022-JP?B?") && word.endsWith("?="));
    const QByteArray bytes = QByteArray::fromBase64(word.mid(16, word.size() - 18).toLatin1());
    EXPECT_TRUE(bytes.startsWith("\x1B$B"));
    EXPECT_TRUE(bytes.endsWith("\x1B(B"));
    // ① cannot be carried, the CP932 tilde is the JIS wave dash, ｶﾞ is widened and joined.
    EXPECT_EQ(FromCodePage(bytes, "ISO-2022-JP"), QStringLiteral("テスト送信〓〜ガ"));
    EXPECT_EQ(Iso2022JpText(typed), QStringLiteral("テスト送信〓〜ガ"));
    // A 200-character subject is still one word.
    const QString longWord = EncodeSubject(QString(200, QChar(0x3042)));
    EXPECT_EQ(longWord.count(QStringLiteral("=?ISO-2022-JP?B?")), 1);
    EXPECT_FALSE(longWord.contains(QLatin1Char(' ')) || longWord.contains(QLatin1Char('\n')));
}

TEST(HeaderEncoding, MappingsAndKana)
{
    EXPECT_EQ(Iso2022JpText(QStringLiteral("ﾊﾟﾝ ｶﾞ ﾞ｡｢｣")), QStringLiteral("パン ガ ゛。「」"));
    EXPECT_EQ(Iso2022JpText(QStringLiteral("～∥－￠￡￢")), QStringLiteral("〜‖−¢£¬"));
    EXPECT_EQ(Iso2022JpText(QStringLiteral("a😀b①\r")), QStringLiteral("a〓b〓〓"));
    EXPECT_EQ(ToIso2022Jp("plain"), "plain");
    EXPECT_EQ(ToIso2022Jp(QStringLiteral("あa")), QByteArray("\x1B$B\x24\x22\x1B(Ba"));
}

TEST(HeaderEncoding, BodyLinesStayWithinTheLimit)
{
    bool ascii = false;
    // A pure ASCII body stays as it is.
    EXPECT_EQ(EncodeBodyLines({"Hello", "", "."}, ascii), QList<QByteArray>({"Hello", "", "."}));
    EXPECT_TRUE(ascii);

    const QString longLine = QString(1000, QChar(0x65E5)); // 日 x 1000
    const QStringList lines = {QStringLiteral("こんにちは"), ".", longLine, QStringLiteral(".日本") + longLine, ""};
    const QList<QByteArray> wire = EncodeBodyLines(lines, ascii);
    EXPECT_FALSE(ascii);
    QStringList back;
    QString joined;
    for (const QByteArray &piece : wire) {
        const int limit = piece.startsWith('.') ? 997 : 998;
        EXPECT_LE(piece.size(), limit);
        EXPECT_FALSE(piece.contains('\r') || piece.contains('\n'));
        // Every piece starts and ends in ASCII.
        const qsizetype lastEscape = piece.lastIndexOf('\x1B');
        if (lastEscape >= 0) {
            EXPECT_EQ(piece.mid(lastEscape, 3), "\x1B(B");
        }
        back.append(FromCodePage(piece, "ISO-2022-JP"));
    }
    // The first and the last lines are whole; the long ones come back whole when joined.
    EXPECT_EQ(back.first(), QStringLiteral("こんにちは"));
    EXPECT_EQ(back[1], ".");
    EXPECT_EQ(back.last(), "");
    EXPECT_EQ(back.mid(2, back.size() - 3).join(QString()), longLine + QStringLiteral(".日本") + longLine);
    EXPECT_GE(wire.size(), 7);

    // An ASCII body with a line past the limit is cut too.
    const QList<QByteArray> cut = EncodeBodyLines({QString(2000, QLatin1Char('a'))}, ascii);
    EXPECT_EQ(cut, QList<QByteArray>({QByteArray(998, 'a'), QByteArray(998, 'a'), QByteArray(4, 'a')}));
}

} // namespace
