#include "platform/CodePage.h"

#include <gtest/gtest.h>

TEST(CodePage, Cp932RoundTripAndBadBytes)
{
    const QString text = QStringLiteral("名前 ｶﾀｶﾅ ①～");
    EXPECT_EQ(FromCP932(ToCP932(text)), text);
    EXPECT_EQ(ToCP932(QStringLiteral("名")), QByteArray("\x96\xBC"));
    // A lone lead byte and a byte that starts no character: one U+FFFD each, the rest kept.
    EXPECT_EQ(FromCP932(QByteArray("a\xFF"
                                   "b")),
              QStringLiteral("a\uFFFDb"));
    EXPECT_EQ(FromCP932(QByteArray("ab\x81")), QStringLiteral("ab\uFFFD"));
    // Characters CP932 lacks become the replacement and are reported.
    bool lossless = true;
    EXPECT_EQ(ToCodePage(QStringLiteral("a😀b"), "CP932", '?', &lossless), QByteArray("a?b"));
    EXPECT_FALSE(lossless);
}
