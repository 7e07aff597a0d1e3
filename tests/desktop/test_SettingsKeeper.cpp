// The settings keeper on the player's state alone, with no window: a change
// of the state is written a moment later, a restart gets it back, and a
// file that was refused is neither applied nor overwritten.
#include "desktop/SettingsKeeper.h"
#include "player/PlayerState.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QList<PlaylistItem> songs(int count)
{
    QList<PlaylistItem> items;
    for (int i = 0; i < count; ++i)
        items.append(PlaylistItem{QStringLiteral("歌%1").arg(i), QStringLiteral("歌手%1").arg(i),
                                  QString(), QString(), QString::number(100 + i), false});
    return items;
}

TEST(SettingsKeeper, KeepsThePlayerStateAcrossARestart)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    {
        PlayerState state;
        SettingsKeeper keeper(&state, path);
        EXPECT_TRUE(keeper.restore().isEmpty()); // no file yet: the defaults
        state.playlist().append(songs(3));
        state.setCurrentItem(2);
        state.setPlayMode(PlayMode::Random);
        state.setVolume(31); // as the desktop's interface would
        // Written a moment after the change, without a quit.
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(path); }, 5000));
    }

    PlayerState restored;
    SettingsKeeper keeper(&restored, path);
    EXPECT_TRUE(keeper.restore().isEmpty());
    EXPECT_EQ(restored.volume(), 31);
    EXPECT_EQ(restored.playMode(), PlayMode::Random);
    ASSERT_EQ(restored.playlist().count(), 3);
    EXPECT_EQ(restored.playlist().at(1)->title, QStringLiteral("歌1"));
    EXPECT_EQ(restored.playlist().at(1)->author, QStringLiteral("歌手1"));
    EXPECT_EQ(restored.playlist().at(1)->url, QStringLiteral("101"));
    EXPECT_EQ(restored.playlist().playIndex(), 2);
    EXPECT_EQ(restored.currentIndex(), 2);

    // Deleting from the restored list is saved too.
    restored.removeItem(0);
    ASSERT_TRUE(keeper.save());
    PlayerState again;
    SettingsKeeper(&again, path).restore();
    EXPECT_EQ(again.playlist().count(), 2);
}

TEST(SettingsKeeper, ARefusedFileIsNeitherAppliedNorOverwritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    const QByteArray hostile = "{\"volume\": \"loud\", \"playlist\": 7";
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(hostile);
    }
    PlayerState state;
    SettingsKeeper keeper(&state, path);
    EXPECT_FALSE(keeper.restore().isEmpty());
    EXPECT_EQ(state.volume(), PlayerState::kStartVolume);
    EXPECT_EQ(state.playlist().count(), 0);

    state.setVolume(10);
    EXPECT_FALSE(keeper.save());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), hostile);
}

} // namespace
