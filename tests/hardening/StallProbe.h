// Measures how responsive the event loop stays: a timer that should fire
// every few milliseconds records the longest gap between two of its ticks.
// A handler that blocks the loop shows up as a long gap. The figures are
// reported, never asserted on: a loaded CI machine stalls too.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class StallProbe
{
public:
    explicit StallProbe(int intervalMs = 5)
    {
        m_timer.setInterval(intervalMs);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            if (m_ticks > 0 && now - m_last > m_longest)
                m_longest = now - m_last;
            m_last = now;
            ++m_ticks;
        });
    }
    void start()
    {
        m_ticks = 0;
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    // The time since the last tick counts too: a handler that blocked until
    // now has had no tick after it.
    void stop()
    {
        m_timer.stop();
        m_longest = qMax(m_longest, m_clock.elapsed() - m_last);
    }
    int ticks() const { return m_ticks; }
    qint64 longestGapMs() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    int m_ticks = 0;
};
