// Tells from a stream's first bytes which light decoder to try.
#pragma once

#include <QByteArray>

class StreamSniffer
{
public:
    enum class Kind { Wav, Mpeg, Sndfile, Other };
    // How many first bytes kindOf() looks at.
    static constexpr int kHeadBytes = 12;
    static Kind kindOf(const QByteArray &head);
};
