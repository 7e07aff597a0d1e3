#include "window/rules/PlaybackClock.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace PlaybackClock;

namespace {

TEST(PlaybackClock, FormatsPositionAsMinutesSecondsHundredths)
{
    const struct
    {
        double seconds;
        const char *text;
    } cases[] = {
        {65.43, "01:05.43"},
        {0.0, "00:00.00"},
        {59.994, "00:59.99"},
        {59.996, "01:00.00"}, // rounding carries into the minute
        {3599.99, "59:59.99"},
        {600.5, "10:00.50"},
        {6000.0, "100:00.00"},
        {-2.5, "00:00.00"},
        {std::numeric_limits<double>::quiet_NaN(), "00:00.00"},
        {std::numeric_limits<double>::infinity(), "00:00.00"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(formatPosition(c.seconds), QString::fromUtf8(c.text)) << c.seconds;
    EXPECT_EQ(lyricKey(formatPosition(65.43)), QStringLiteral("01:05"));
}

class LyricScan : public ::testing::Test
{
protected:
    const QStringList entries = {
        QStringLiteral("[ti:夜航]"),        QStringLiteral("[00:00.00]前奏"),
        QStringLiteral("[01:05.43]第一句"), QStringLiteral("[01:05.90]第二句\r\n"),
        QStringLiteral("[01:07.00]\n"),     QStringLiteral("[01:10.00][02:10.00]副歌"),
        QStringLiteral("[01:20.00]a]b"),
    };
};

TEST_F(LyricScan, ShowsTheTextAfterTheLastBracketOfTheLastHit)
{
    const struct
    {
        const char *key;
        const char *line;
    } hits[] = {
        {"00:00", "前奏"}, {"01:05", "第二句"}, // two entries for one second: the later wins
        {"01:07", ""},                          // only a tag: the line empties
        {"02:10", "副歌"},                      // second tag of a shared line
        {"01:10", "副歌"}, {"01:20", "b"},
    };
    for (const auto &h : hits) {
        const auto line = lyricLineFor(entries, QString::fromUtf8(h.key));
        ASSERT_TRUE(line.has_value()) << h.key;
        EXPECT_EQ(*line, QString::fromUtf8(h.line)) << h.key;
    }
}

TEST_F(LyricScan, NoHitKeepsTheLine)
{
    EXPECT_FALSE(lyricLineFor(entries, QStringLiteral("03:00")).has_value());
    EXPECT_FALSE(lyricLineFor(entries, QString()).has_value());
    EXPECT_FALSE(lyricLineFor({}, QStringLiteral("00:00")).has_value());
}

TEST(PlaybackClock, StatusBoxCutsAfter35Characters)
{
    const QString exact(35, QLatin1Char('a'));
    const QString longer = exact + QLatin1Char('b');
    EXPECT_EQ(shortStatus(exact), exact);
    EXPECT_EQ(shortStatus(longer), exact + QStringLiteral("..."));

    // Chinese text counts characters, not bytes.
    const QString chinese = QString(36, QChar(0x64AD));
    EXPECT_EQ(shortStatus(chinese), QString(35, QChar(0x64AD)) + QStringLiteral("..."));

    // A character outside the basic plane at the cut is not split in half.
    const QString astral = QString(34, QLatin1Char('x')) + QString::fromUtf8("\xF0\x9F\x8E\xB5") +
                           QStringLiteral("tail");
    const QString cut = shortStatus(astral);
    EXPECT_TRUE(cut.endsWith(QStringLiteral("...")));
    EXPECT_FALSE(cut.chopped(3).back().isHighSurrogate());

    EXPECT_EQ(statusBoxText(QStringLiteral("00:10"), QStringLiteral("03:00"), longer),
              QStringLiteral("00:10/03:00 ") + exact + QStringLiteral("..."));
    // The status label shows the status whole.
    EXPECT_EQ(statusLabelText(QStringLiteral("00:10"), QStringLiteral("03:00"), longer),
              QStringLiteral("00:10/03:00   ") + longer);
}

} // namespace
