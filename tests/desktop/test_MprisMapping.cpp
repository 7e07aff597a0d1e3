// The rules between the player's state and the desktop's media-player
// interface: play mode <-> LoopStatus/Shuffle both ways, PlaybackStatus,
// track paths and Metadata.
#include "desktop/MprisMapping.h"

#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

struct ModeCase
{
    PlayMode mode;
    const char *loop;
    bool shuffle;
};

TEST(MprisMapping, EachModeReadsAsLoopStatusAndShuffleAndBack)
{
    const ModeCase cases[] = {{PlayMode::None, "None", false},
                              {PlayMode::SingleRepeat, "Track", false},
                              {PlayMode::ListLoop, "Playlist", false},
                              {PlayMode::Random, "Playlist", true}};
    for (const ModeCase &c : cases) {
        EXPECT_EQ(mpris::loopStatusFor(c.mode), QLatin1String(c.loop));
        EXPECT_EQ(mpris::shuffleFor(c.mode), c.shuffle);
        // What a client reads, written back from any other mode, gives the
        // mode again.
        for (const ModeCase &from : cases) {
            const PlayMode viaShuffle = mpris::modeForShuffle(from.mode, c.shuffle);
            const PlayMode result =
                c.shuffle ? viaShuffle
                          : mpris::modeForLoopStatus(viaShuffle, QLatin1String(c.loop)).value();
            EXPECT_EQ(result, c.mode) << c.loop << " from " << int(from.mode);
        }
    }
}

struct SetCase
{
    PlayMode from;
    const char *loop; // nullptr: Shuffle is set instead
    bool shuffle;
    std::optional<PlayMode> to;
};

TEST(MprisMapping, SettingOnePropertyChangesTheModeAsAClientExpects)
{
    const SetCase cases[] = {
        {PlayMode::Random, "Playlist", false, PlayMode::Random}, // already loops: stays random
        {PlayMode::Random, "Track", false, PlayMode::SingleRepeat},
        {PlayMode::Random, "None", false, PlayMode::None},
        {PlayMode::None, "Playlist", false, PlayMode::ListLoop},
        {PlayMode::ListLoop, "track", false, std::nullopt}, // not a LoopStatus value
        {PlayMode::ListLoop, "", false, std::nullopt},
        {PlayMode::SingleRepeat, nullptr, true, PlayMode::Random},
        {PlayMode::Random, nullptr, false, PlayMode::ListLoop},
        {PlayMode::SingleRepeat, nullptr, false, PlayMode::SingleRepeat},
        {PlayMode::None, nullptr, false, PlayMode::None},
    };
    for (const SetCase &c : cases) {
        const std::optional<PlayMode> to =
            c.loop ? mpris::modeForLoopStatus(c.from, QString::fromUtf8(c.loop))
                   : std::optional<PlayMode>(mpris::modeForShuffle(c.from, c.shuffle));
        EXPECT_EQ(to, c.to) << (c.loop ? c.loop : "shuffle") << " from " << int(c.from);
    }
}

TEST(MprisMapping, PlayerStatesReadAsPlaybackStatus)
{
    const std::pair<int, const char *> cases[] = {
        {0, "Stopped"}, {1, "Stopped"}, {2, "Paused"},   {3, "Playing"},  {6, "Playing"},
        {8, "Stopped"}, {9, "Playing"}, {10, "Playing"}, {-5, "Stopped"}, {42, "Stopped"}};
    for (const auto &[state, status] : cases)
        EXPECT_EQ(mpris::playbackStatusFor(state), QLatin1String(status)) << state;
}

TEST(MprisMapping, TrackPathsAreValidObjectPathsAndTellSongsApart)
{
    // D-Bus object path: "/"-separated elements of [A-Za-z0-9_], none empty.
    const QRegularExpression objectPath(QStringLiteral("^(/[A-Za-z0-9_]+)+$"));
    const QStringList ids = {QStringLiteral("100001"), QStringLiteral("a/b"),
                             QStringLiteral("a_b"),    QStringLiteral("晴川"),
                             QStringLiteral("-1"),     QStringLiteral(" "),
                             QStringLiteral("a.b"),    QString()};
    QStringList paths;
    for (const QString &id : ids) {
        const QString path = mpris::trackIdPath(id);
        EXPECT_TRUE(objectPath.match(path).hasMatch()) << path.toStdString();
        EXPECT_FALSE(paths.contains(path)) << path.toStdString();
        paths.append(path);
    }
    EXPECT_EQ(mpris::trackIdPath(QStringLiteral("100001")),
              QStringLiteral("/org/velmor/track/100001"));
}

TEST(MprisMapping, MetadataNamesTheTrackInItsUnits)
{
    mpris::Track track{QStringLiteral("100001"),
                       QStringLiteral("晴川 1"),
                       QStringLiteral("晴川"),
                       QStringLiteral("《夏》"),
                       61.25,
                       QStringLiteral("http://127.0.0.1:1/p.jpg")};
    QVariantMap map = mpris::metadataFor(track);
    EXPECT_EQ(map.value(QStringLiteral("mpris:trackid")).toString(),
              QStringLiteral("/org/velmor/track/100001"));
    EXPECT_EQ(map.value(QStringLiteral("xesam:title")).toString(), track.title);
    EXPECT_EQ(map.value(QStringLiteral("xesam:artist")).toStringList(), QStringList{track.singer});
    EXPECT_EQ(map.value(QStringLiteral("xesam:album")).toString(), track.album);
    EXPECT_EQ(map.value(QStringLiteral("mpris:length")).toLongLong(), 61250000);
    EXPECT_EQ(map.value(QStringLiteral("mpris:length")).typeId(), QMetaType::LongLong);
    EXPECT_EQ(map.value(QStringLiteral("mpris:artUrl")).toString(), track.artUrl);

    // Unknown length, no album and no picture are left out, not sent empty.
    track.lengthSeconds = 0;
    track.album.clear();
    track.artUrl.clear();
    map = mpris::metadataFor(track);
    EXPECT_EQ(map.size(), 3);
    EXPECT_FALSE(map.contains(QStringLiteral("mpris:length")));
    // Nothing loaded: no metadata at all.
    EXPECT_TRUE(mpris::metadataFor(mpris::Track{}).isEmpty());
}

TEST(MprisMapping, MicrosecondsStayInRange)
{
    EXPECT_EQ(mpris::toMicroseconds(1.5), 1500000);
    EXPECT_EQ(mpris::toMicroseconds(-3), 0);
    EXPECT_EQ(mpris::toMicroseconds(std::nan("")), 0);
    EXPECT_GT(mpris::toMicroseconds(1e300), 0); // clamped, not overflowed
    EXPECT_DOUBLE_EQ(mpris::toSeconds(-5000000), -5.0);
}

} // namespace
