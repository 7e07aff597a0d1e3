// The lighter engine's output to a real sound server: a private PulseAudio
// daemon with a null sink is started for the test, and what the player sends
// is recorded back from the sink's monitor. Playing must be heard, a pause
// and volume 0 must be silence, and a resume must be heard again. Without
// the daemon or its recorder installed the test skips itself.
#include "playback/MediaPlayer.h"
#include "tests/common/TestLibrary.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr int kWaitMs = 15000;

class PulseAudioOutput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        const QString recorder = QStandardPaths::findExecutable(QStringLiteral("parec"));
        if (daemon.isEmpty() || recorder.isEmpty())
            GTEST_SKIP() << "pulseaudio and parec are needed";
        ASSERT_TRUE(m_dir.isValid());
        m_socket = m_dir.filePath(QStringLiteral("native"));

        // The daemon's own runtime and home folders, so it touches nothing of
        // the user's; the socket takes anyone, so no cookie is needed.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        env.insert(QStringLiteral("HOME"), m_dir.path());
        m_daemon.setProcessEnvironment(env);
        m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_daemon.start(
            daemon,
            {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
             QStringLiteral("--disable-shm"), QStringLiteral("-L"),
             QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + m_socket,
             QStringLiteral("-L"),
             QStringLiteral("module-null-sink sink_name=velmortest rate=44100")});
        ASSERT_TRUE(m_daemon.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(m_socket); }, kWaitMs))
            << "the sound server did not start";
        qputenv("PULSE_SERVER", "unix:" + m_socket.toLocal8Bit());
        qunsetenv("VELMOR_AUDIO_OUTPUT");
        qputenv("VELMOR_PLAYBACK_ENGINE", "ffmpeg");

        m_tone = m_dir.filePath(QStringLiteral("tone.wav"));
        QFile tone(m_tone);
        ASSERT_TRUE(tone.open(QIODevice::WriteOnly));
        tone.write(TestLibrary::toneWav(20.0, 440));
    }

    void TearDown() override
    {
        qunsetenv("PULSE_SERVER");
        if (m_recorder.state() != QProcess::NotRunning) {
            m_recorder.kill();
            m_recorder.waitForFinished(5000);
        }
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            if (!m_daemon.waitForFinished(5000))
                m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }

    // Records the sink's monitor from now on, in small fragments so that
    // what arrives belongs to the moment it was sent.
    bool startRecording()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + m_socket);
        m_recorder.setProcessEnvironment(env);
        m_recorder.start(QStringLiteral("parec"),
                         {QStringLiteral("-d"), QStringLiteral("velmortest.monitor"),
                          QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                          QStringLiteral("--rate=44100"), QStringLiteral("--channels=1"),
                          QStringLiteral("--latency-msec=20")});
        if (!m_recorder.waitForStarted())
            return false;
        // Recording runs once samples (even silent ones) arrive.
        return QTest::qWaitFor([&] { return m_recorder.bytesAvailable() > 0; }, kWaitMs);
    }

    // Root mean square of the 16-bit samples that reach the sink over the
    // next `ms` milliseconds; -1 when fewer than a tenth of a second came.
    double loudness(int ms)
    {
        m_recorder.readAllStandardOutput(); // what came before
        QTest::qWait(ms);
        const QByteArray raw = m_recorder.readAllStandardOutput();
        const qsizetype count = raw.size() / 2;
        if (count < 4410)
            return -1;
        const auto *samples = reinterpret_cast<const int16_t *>(raw.constData());
        double sum = 0;
        for (qsizetype i = 0; i < count; ++i)
            sum += double(samples[i]) * samples[i];
        return std::sqrt(sum / count);
    }

    QTemporaryDir m_dir;
    QString m_socket;
    QString m_tone;
    QProcess m_daemon;
    QProcess m_recorder;
};

TEST_F(PulseAudioOutput, PlayingIsHeardPauseAndVolumeZeroAreSilence)
{
    ASSERT_TRUE(startRecording()) << "parec records nothing";
    EXPECT_LT(loudness(300), 10.0) << "sound before anything plays";

    MediaPlayer player;
    player.settings().setVolume(100);
    player.setUrl(m_tone);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player.playState() == MediaPlayer::kStatePlaying; }, kWaitMs))
        << player.status().toStdString();
    // The sound server was found: the lighter engine plays, not the fallback.
    EXPECT_EQ(player.engineName(), QLatin1String("ffmpeg"));

    // The tone's level is far above anything a silent sink gives (0).
    const double playing = loudness(1000);
    EXPECT_GT(playing, 1000.0);

    player.controls().pause();
    ASSERT_EQ(player.playState(), MediaPlayer::kStatePaused);
    QTest::qWait(300);
    EXPECT_LT(loudness(800), 10.0) << "sound goes on while paused";

    player.controls().play();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player.playState() == MediaPlayer::kStatePlaying; }, kWaitMs));
    QTest::qWait(300);
    EXPECT_GT(loudness(800), 1000.0) << "no sound after resuming";

    player.settings().setVolume(0);
    QTest::qWait(500);
    EXPECT_LT(loudness(800), 10.0) << "sound at volume 0";

    player.controls().stop();
}

TEST_F(PulseAudioOutput, AChainedStreamIsHeardThroughItsChangeOfFormat)
{
    const QString chained = m_dir.filePath(QStringLiteral("chained.ogg"));
    QString error;
    ASSERT_TRUE(TestLibrary::encodeChainedOgg(2.0, chained, &error)) << error.toStdString();
    ASSERT_TRUE(startRecording()) << "parec records nothing";
    MediaPlayer player;
    player.settings().setVolume(100);
    player.setUrl(chained);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player.playState() == MediaPlayer::kStatePlaying; }, kWaitMs))
        << player.status().toStdString();
    EXPECT_GT(loudness(1000), 1000.0) << "the first part (stereo, 44.1 kHz) is not heard";
    // The output is opened again for the second part (mono, 22.05 kHz).
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player.controls().currentPosition() > 2.4; }, kWaitMs));
    EXPECT_GT(loudness(1000), 1000.0) << "the second part (mono, 22.05 kHz) is not heard";
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player.playState() == MediaPlayer::kStateStopped; }, kWaitMs));
    EXPECT_EQ(player.status(), QStringLiteral("播放完毕"));
}

} // namespace
