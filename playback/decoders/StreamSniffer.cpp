#include "playback/decoders/StreamSniffer.h"

StreamSniffer::Kind StreamSniffer::kindOf(const QByteArray &head)
{
    if (head.size() >= 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WAVE")
        return Kind::Wav;
    if (head.startsWith("fLaC") || head.startsWith("OggS"))
        return Kind::Sndfile;
    if (head.startsWith("ID3"))
        return Kind::Mpeg;
    // An MPEG audio frame's sync: eleven set bits, then a version other
    // than the reserved one and a layer other than the reserved one (which
    // is what an AAC ADTS header has there).
    if (head.size() >= 2) {
        const auto first = static_cast<unsigned char>(head.at(0));
        const auto second = static_cast<unsigned char>(head.at(1));
        if (first == 0xFF && (second & 0xE0) == 0xE0 && (second & 0x18) != 0x08 &&
            (second & 0x06) != 0)
            return Kind::Mpeg;
    }
    return Kind::Other;
}
