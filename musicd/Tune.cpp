#include "musicd/Tune.h"

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace musicd {
namespace {

constexpr int kBeatsPerPhrase = 8;
constexpr int kMinSeconds = 20;
constexpr int kSecondsRange = 71; // 20..90 s
// Chorus phrases repeat in the first two rounds only; later rounds are new
// verses, so a few lyric lines carry two time tags, not all of them.
constexpr int kChorusRounds = 2;
constexpr double kFadeOutSeconds = 1.5;
constexpr double kMelodyAmplitude = 0.34;
constexpr double kBassAmplitude = 0.18;

// splitmix64: a small deterministic generator; the same ID always gives the
// same song.
class Random
{
public:
    explicit Random(quint64 seed) : m_state(seed) {}
    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<quint64>(n)); }

private:
    quint64 m_state;
};

double semitones(double base, int steps)
{
    return base * std::pow(2.0, steps / 12.0);
}

// Scale degree (any integer) to semitones above the key's root.
int degreeToSemitones(int degree, bool pentatonic)
{
    static constexpr std::array<int, 5> kPentatonic{0, 2, 4, 7, 9};
    static constexpr std::array<int, 7> kMajor{0, 2, 4, 5, 7, 9, 11};
    const int size = pentatonic ? 5 : 7;
    const int octave = degree >= 0 ? degree / size : -((-degree + size - 1) / size);
    const int step = degree - octave * size;
    return octave * 12 + (pentatonic ? kPentatonic[step] : kMajor[step]);
}

struct PhraseMelody
{
    // Per slot: degree and length in half beats.
    QList<std::pair<int, int>> notes;
};

PhraseMelody makeMelody(Random &rng, bool pentatonic)
{
    PhraseMelody m;
    int degree = rng.below(pentatonic ? 5 : 7);
    int halfBeats = 0;
    const int total = kBeatsPerPhrase * 2;
    while (halfBeats < total) {
        int len = rng.below(4) == 0 ? 1 : 2;
        if (total - halfBeats == 4)
            len = 4; // a held note closes the phrase
        len = std::min(len, total - halfBeats);
        m.notes.append({degree, len});
        halfBeats += len;
        degree += rng.below(5) - 2;
        degree = std::clamp(degree, -2, 9);
    }
    return m;
}

} // namespace

Tune::Tune(qint64 seed, bool pentatonic)
{
    compose(static_cast<quint64>(seed), pentatonic);
}

void Tune::compose(quint64 seed, bool pentatonic)
{
    Random rng(seed * 2654435761ULL + 17);
    m_duration = kMinSeconds + rng.below(kSecondsRange);
    const double beat = 0.30 + 0.02 * rng.below(16); // a whole number of centiseconds
    const double phraseLength = beat * kBeatsPerPhrase;
    const double root = semitones(220.0, rng.below(12));

    const PhraseMelody chorusA = makeMelody(rng, pentatonic);
    const PhraseMelody chorusB = makeMelody(rng, pentatonic);
    const int phraseCount = static_cast<int>(m_duration / phraseLength);

    for (int p = 0; p < phraseCount; ++p) {
        Phrase phrase;
        // Centisecond times: the LRC tags then name the very same instant.
        phrase.start = std::round(p * phraseLength * 100.0) / 100.0;
        const int round = (p - 1) / 4;
        const int slot = (p - 1) % 4;
        if (p == 0)
            phrase.kind = PhraseKind::Intro;
        else if (round < kChorusRounds && slot == 2)
            phrase.kind = PhraseKind::ChorusA;
        else if (round < kChorusRounds && slot == 3)
            phrase.kind = PhraseKind::ChorusB;
        else
            phrase.kind = PhraseKind::Verse;
        m_phrases.append(phrase);

        const PhraseMelody melody = phrase.kind == PhraseKind::ChorusA ? chorusA
                                    : phrase.kind == PhraseKind::ChorusB
                                        ? chorusB
                                        : makeMelody(rng, pentatonic);
        const int lift = phrase.kind == PhraseKind::Intro ? -12 : 0;
        double t = phrase.start;
        for (const auto &[degree, halfBeats] : melody.notes) {
            Note n;
            n.start = t;
            n.length = halfBeats * beat / 2.0;
            n.frequency = semitones(root, degreeToSemitones(degree, pentatonic) + 12 + lift);
            n.amplitude = kMelodyAmplitude;
            m_notes.append(n);
            t += n.length;
        }
        // Bass: the root, then the fifth, a bar of four beats each.
        for (int bar = 0; bar < kBeatsPerPhrase / 4; ++bar) {
            Note n;
            n.start = phrase.start + bar * 4 * beat;
            n.length = 4 * beat;
            n.frequency = semitones(root, bar == 0 ? -12 : -5);
            n.amplitude = kBassAmplitude;
            n.bass = true;
            m_notes.append(n);
        }
    }
    // The rest of the song: the root held until the fade-out ends it.
    const double tail = phraseCount * phraseLength;
    if (tail < m_duration) {
        Note n;
        n.start = tail;
        n.length = m_duration - tail;
        n.frequency = semitones(root, 12);
        n.amplitude = kMelodyAmplitude;
        m_notes.append(n);
    }
}

qint64 Tune::sampleCount() const
{
    return static_cast<qint64>(m_duration * kSampleRate);
}

qint64 Tune::wavByteCount() const
{
    return 44 + sampleCount() * 2;
}

QByteArray Tune::renderWav() const
{
    const qint64 count = sampleCount();
    std::vector<float> mix(static_cast<size_t>(count), 0.0f);
    constexpr double kTwoPi = 6.283185307179586;
    constexpr double kAttack = 0.012;
    constexpr double kRelease = 0.04;

    for (const Note &n : m_notes) {
        const qint64 first = static_cast<qint64>(n.start * kSampleRate);
        const qint64 last =
            std::min(count, static_cast<qint64>((n.start + n.length) * kSampleRate));
        const double step = kTwoPi * n.frequency / kSampleRate;
        double phase = 0;
        for (qint64 i = first; i < last; ++i) {
            const double t = static_cast<double>(i - first) / kSampleRate;
            const double left = n.length - t;
            double env = t < kAttack ? t / kAttack : 1.0;
            env *= n.bass ? 0.8 : 0.45 + 0.55 * std::exp(-3.0 * t);
            if (left < kRelease)
                env *= left / kRelease;
            double v;
            if (n.bass) {
                // Triangle wave: softer than a square, fuller than a sine.
                const double x = phase / kTwoPi;
                v = 4.0 * std::abs(x - std::floor(x + 0.5)) - 1.0;
            } else {
                v = 0.75 * std::sin(phase) + 0.25 * std::sin(2.0 * phase);
            }
            mix[static_cast<size_t>(i)] += static_cast<float>(n.amplitude * env * v);
            phase += step;
            if (phase > kTwoPi)
                phase -= kTwoPi;
        }
    }

    QByteArray wav(wavByteCount(), Qt::Uninitialized);
    char *d = wav.data();
    auto put32 = [&d](quint32 v) {
        qToLittleEndian(v, d);
        d += 4;
    };
    auto put16 = [&d](quint16 v) {
        qToLittleEndian(v, d);
        d += 2;
    };
    const auto dataBytes = static_cast<quint32>(count * 2);
    std::memcpy(d, "RIFF", 4);
    d += 4;
    put32(36 + dataBytes);
    std::memcpy(d, "WAVEfmt ", 8);
    d += 8;
    put32(16); // fmt chunk size
    put16(1);  // PCM
    put16(1);  // mono
    put32(kSampleRate);
    put32(kSampleRate * 2); // bytes per second
    put16(2);               // block align
    put16(16);              // bits per sample
    std::memcpy(d, "data", 4);
    d += 4;
    put32(dataBytes);

    const qint64 fadeFrom = count - static_cast<qint64>(kFadeOutSeconds * kSampleRate);
    for (qint64 i = 0; i < count; ++i) {
        double v = mix[static_cast<size_t>(i)];
        if (i > fadeFrom)
            v *= static_cast<double>(count - i) / (count - fadeFrom);
        v = std::clamp(v, -1.0, 1.0);
        put16(static_cast<quint16>(static_cast<qint16>(std::lround(v * 32000.0))));
    }
    return wav;
}

} // namespace musicd
