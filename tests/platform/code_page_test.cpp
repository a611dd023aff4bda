#include "platform/code_page.h"

#include <gtest/gtest.h>

using namespace yunshan;

TEST(CodePage, ChineseRoundTripsThroughGbkBytes)
{
    // 中文 in code page 936, plus GBK-only characters that GB2312 would lose.
    const QString text = QStringLiteral("中文abc镕堃喆瑄€");
    const QByteArray bytes = unicode_to_ansi(text);
    EXPECT_EQ(bytes.left(4), QByteArray("\xD6\xD0\xCE\xC4", 4));
    EXPECT_EQ(bytes.mid(4, 3), QByteArray("abc"));
    EXPECT_EQ(bytes.right(1), QByteArray("\x80", 1)); // the euro sign of cp936
    EXPECT_EQ(ansi_to_unicode(bytes), text);
}

TEST(CodePage, UnencodableCharacterBecomesQuestionMark)
{
    EXPECT_EQ(unicode_to_ansi(QStringLiteral("a😀b")), QByteArray("a?b"));
    EXPECT_EQ(unicode_to_ansi(QString()), QByteArray());
    // Characters after an unencodable one are still converted.
    EXPECT_EQ(unicode_to_ansi(QStringLiteral("中😀中©文")), QByteArray("\xD6\xD0?\xD6\xD0?\xCE\xC4"));
}

TEST(CodePage, InvalidBytesDecodeToReplacement)
{
    const QString s = ansi_to_unicode(QByteArray("\xD6", 1));
    EXPECT_FALSE(s.isEmpty());
    EXPECT_NE(s, QStringLiteral("中"));
}
