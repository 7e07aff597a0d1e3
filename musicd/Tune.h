// A song's music, composed from its ID: a tempo, a key, phrases of eight
// beats (an instrumental intro, verses, and two chorus phrases that come
// back note for note in the second round), a bass line, and the synthesis of
// all that into 16-bit mono WAV. The phrase timetable is what the song's LRC
// lyric is timed by, so the lyric lines change exactly where the music does.
#pragma once

#include <QByteArray>
#include <QList>

namespace musicd {

class Tune
{
public:
    enum class PhraseKind { Intro, Verse, ChorusA, ChorusB };

    struct Phrase
    {
        double start = 0; // seconds
        PhraseKind kind = PhraseKind::Verse;
    };

    struct Note
    {
        double start = 0;  // seconds
        double length = 0; // seconds
        double frequency = 0;
        double amplitude = 0;
        bool bass = false;
    };

    static constexpr int kSampleRate = 22050;

    explicit Tune(qint64 seed, bool pentatonic);

    // 20 to 90 seconds.
    double durationSeconds() const { return m_duration; }
    qint64 sampleCount() const;
    // Size of renderWav()'s result, known without rendering.
    qint64 wavByteCount() const;

    const QList<Phrase> &phrases() const { return m_phrases; }
    const QList<Note> &notes() const { return m_notes; }

    // The whole song as a RIFF/WAVE file (PCM, mono, 22050 Hz, 16 bits).
    QByteArray renderWav() const;

private:
    void compose(quint64 seed, bool pentatonic);

    double m_duration = 0;
    QList<Phrase> m_phrases;
    QList<Note> m_notes;
};

} // namespace musicd
