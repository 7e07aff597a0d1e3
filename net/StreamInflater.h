// Inflates a gzip or deflate body as it arrives, and tells whether it ended
// where its own format says it ends. A compressed download cut short is
// recognised by that: the compressed stream has no end, or its check sum
// does not match.
#pragma once

#include <QByteArray>
#include <memory>

class StreamInflater
{
public:
    enum class Format { Gzip, Deflate };

    explicit StreamInflater(Format format);
    ~StreamInflater();
    StreamInflater(const StreamInflater &) = delete;
    StreamInflater &operator=(const StreamInflater &) = delete;

    // The content "gzip", "x-gzip" or "deflate" (any case) names; false for
    // any other coding.
    static bool formatOf(const QByteArray &contentEncoding, Format &format);

    // Inflates the next compressed bytes into `out` (appended). False once
    // the data is found corrupt, or when bytes follow the stream's end.
    bool feed(const QByteArray &compressed, QByteArray &out);
    // Whether the stream reached its end with its check sum right.
    bool finished() const { return m_ended; }

private:
    struct State;
    std::unique_ptr<State> m_state;
    bool m_ended = false;
    bool m_broken = false;
};
