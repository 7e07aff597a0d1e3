#include "window/rules/PlaybackClock.h"

#include <cmath>

namespace PlaybackClock {

QString formatPosition(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    // Round once, to hundredths, so that 59.999 becomes 01:00.00 and not
    // 00:59.100.
    const qint64 hundredths = std::llround(seconds * 100.0);
    const qint64 whole = hundredths / 100;
    return QStringLiteral("%1:%2.%3")
        .arg(whole / 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'))
        .arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

QString lyricKey(const QString &positionText)
{
    return positionText.left(5);
}

std::optional<QString> lyricLineFor(const QStringList &entries, const QString &key)
{
    if (key.isEmpty())
        return std::nullopt;
    // Scan backwards: the first hit from the end is the last hit from the
    // start, which is the one that is shown.
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        if (it->contains(key)) {
            QString line = it->mid(it->lastIndexOf(QLatin1Char(']')) + 1);
            while (!line.isEmpty() && (line.back() == u'\n' || line.back() == u'\r'))
                line.chop(1);
            return line;
        }
    }
    return std::nullopt;
}

QString shortStatus(const QString &status)
{
    if (status.size() <= kStatusMaxChars)
        return status;
    int cut = kStatusMaxChars;
    if (status.at(cut - 1).isHighSurrogate())
        --cut;
    return status.left(cut) + QStringLiteral("...");
}

QString statusBoxText(const QString &position, const QString &length, const QString &status)
{
    return position + QLatin1Char('/') + length + QLatin1Char(' ') + shortStatus(status);
}

QString statusLabelText(const QString &position, const QString &length, const QString &status)
{
    return position + QLatin1Char('/') + length + QStringLiteral("   ") + status;
}

} // namespace PlaybackClock
