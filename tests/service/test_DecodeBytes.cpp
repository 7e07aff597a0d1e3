#include "service/FetchPage.h"

#include <gtest/gtest.h>

using musicservice::decodeBytes;

TEST(DecodeBytes, NamedCharsets)
{
    // 中文 in GBK is D6 D0 CE C4; in UTF-8 E4 B8 AD E6 96 87.
    const QByteArray gbk("\xD6\xD0\xCE\xC4", 4);
    const QByteArray utf8("\xE4\xB8\xAD\xE6\x96\x87", 6);
    const QString expected = QStringLiteral("中文");
    EXPECT_EQ(decodeBytes(gbk, QStringLiteral("gb2312")), expected);
    EXPECT_EQ(decodeBytes(gbk, QStringLiteral("GBK")), expected);
    EXPECT_EQ(musicservice::decodeSystemAnsi(gbk), expected);
    EXPECT_EQ(decodeBytes(utf8, QStringLiteral("utf-8")), expected);
    EXPECT_EQ(decodeBytes(utf8, QStringLiteral("Utf-8")), expected);
    EXPECT_EQ(decodeBytes(QByteArray("caf\xE9", 4), QStringLiteral("iso-8859-1")),
              QStringLiteral("café"));
}

TEST(DecodeBytes, EmptyInvalidAndUnknown)
{
    EXPECT_TRUE(decodeBytes(QByteArray(), QStringLiteral("utf-8")).isEmpty());
    EXPECT_TRUE(decodeBytes(QByteArray(), QStringLiteral("no-such-charset")).isEmpty());
    // Invalid UTF-8 does not throw or stop: each bad byte is replaced.
    const QString bad = decodeBytes(QByteArray("a\xFF\xFE"
                                               "b",
                                               4),
                                    QStringLiteral("utf-8"));
    EXPECT_TRUE(bad.startsWith(QLatin1Char('a')));
    EXPECT_TRUE(bad.endsWith(QLatin1Char('b')));
    EXPECT_TRUE(bad.contains(QChar(0xFFFD)));
    // An unknown name falls back to UTF-8 rather than failing.
    EXPECT_EQ(decodeBytes(QByteArray("\xE4\xB8\xAD", 3), QStringLiteral("no-such-charset")),
              QStringLiteral("中"));
}
