#include "musicd/LyricFile.h"

#include "musicd/Tune.h"

#include <QStringList>
#include <cmath>

namespace musicd {
namespace {

const QStringList &chineseLines()
{
    static const QStringList lines{
        QStringLiteral("风吹过旧街的转角"),   QStringLiteral("你说过要等我回来"),
        QStringLiteral("路灯把影子拉得很长"), QStringLiteral("雨停在窗前不肯走"),
        QStringLiteral("我把思念写进信里"),   QStringLiteral("那年夏天的蝉声还在"),
        QStringLiteral("海浪一遍一遍地说"),   QStringLiteral("候鸟飞过城市的边缘"),
        QStringLiteral("我们走过长长的站台"), QStringLiteral("星星落在你的眼睛"),
        QStringLiteral("时间带走了多少故事"), QStringLiteral("明天会不会更晴朗"),
        QStringLiteral("夜色里有人轻轻唱"),   QStringLiteral("回忆像一首老歌"),
        QStringLiteral("街角的咖啡还温热"),   QStringLiteral("我在人海里找你"),
        QStringLiteral("月光洒满回家的路"),   QStringLiteral("花开的时候你会来吗")};
    return lines;
}

const QStringList &chineseChorus()
{
    static const QStringList lines{
        QStringLiteral("啦啦啦 唱给你听"),    QStringLiteral("就这样一直走下去"),
        QStringLiteral("不说再见 不说永远"),  QStringLiteral("这一刻 我们都在"),
        QStringLiteral("让风带走所有的忧伤"), QStringLiteral("你是我心里的晴天")};
    return lines;
}

const QStringList &englishLines()
{
    static const QStringList lines{QStringLiteral("Walking down the empty road"),
                                   QStringLiteral("Every light is calling home"),
                                   QStringLiteral("Paper boats upon the rain"),
                                   QStringLiteral("I can hear you call my name"),
                                   QStringLiteral("Summer fading into blue"),
                                   QStringLiteral("All the letters I wrote you"),
                                   QStringLiteral("Dancing shadows on the wall"),
                                   QStringLiteral("Waiting for the night to fall"),
                                   QStringLiteral("Silver rivers, silent streets"),
                                   QStringLiteral("Drumming of a thousand feet"),
                                   QStringLiteral("Hold the moment, hold it still"),
                                   QStringLiteral("Over valley, over hill"),
                                   QStringLiteral("Tell me what the morning brings"),
                                   QStringLiteral("Little bird with broken wings"),
                                   QStringLiteral("Counting stars till half past two"),
                                   QStringLiteral("Every road leads back to you")};
    return lines;
}

const QStringList &englishChorus()
{
    static const QStringList lines{QStringLiteral("Oh oh, sing it loud tonight"),
                                   QStringLiteral("We are young and we are free"),
                                   QStringLiteral("Don't let go, don't let go"),
                                   QStringLiteral("Here we are, here we stay"),
                                   QStringLiteral("Carry me home across the sea"),
                                   QStringLiteral("La la la, la la la")};
    return lines;
}

const QString kCrLf = QStringLiteral("\r\n");

} // namespace

QString lrcTimeTag(double seconds)
{
    const qint64 centis = std::llround(seconds * 100.0);
    return QStringLiteral("[%1:%2.%3]")
        .arg(centis / 6000, 2, 10, QLatin1Char('0'))
        .arg((centis / 100) % 60, 2, 10, QLatin1Char('0'))
        .arg(centis % 100, 2, 10, QLatin1Char('0'));
}

QByteArray lyricFile(const Song &song, const Tune &tune)
{
    const QStringList &verses = song.latin ? englishLines() : chineseLines();
    const QStringList &chorus = song.latin ? englishChorus() : chineseChorus();
    const auto mix = static_cast<int>(song.id % 7919);
    const QString chorusA = chorus.at(mix % chorus.size());
    const QString chorusB = chorus.at((mix + 1 + mix / 7 % (chorus.size() - 1)) % chorus.size());

    QString text;
    text += QStringLiteral("[ti:") + song.title + QLatin1Char(']') + kCrLf;
    text += QStringLiteral("[ar:") + song.singer + QLatin1Char(']') + kCrLf;
    if (!song.album.isEmpty())
        text += QStringLiteral("[al:") + song.album + QLatin1Char(']') + kCrLf;
    text += QStringLiteral("[by:夜航音乐]") + kCrLf;

    QString tagsA;
    QString tagsB;
    for (const Tune::Phrase &p : tune.phrases()) {
        if (p.kind == Tune::PhraseKind::ChorusA)
            tagsA += lrcTimeTag(p.start);
        else if (p.kind == Tune::PhraseKind::ChorusB)
            tagsB += lrcTimeTag(p.start);
    }

    int verse = mix;
    for (const Tune::Phrase &p : tune.phrases()) {
        const QString tag = lrcTimeTag(p.start);
        switch (p.kind) {
        case Tune::PhraseKind::Intro:
            text += tag + song.title + QStringLiteral(" - ") + song.singer + kCrLf;
            break;
        case Tune::PhraseKind::Verse:
            text += tag + verses.at(verse++ % verses.size()) + kCrLf;
            break;
        // Each chorus line once, with all its times, where it is first sung.
        case Tune::PhraseKind::ChorusA:
            if (tagsA.startsWith(tag))
                text += tagsA + chorusA + kCrLf;
            break;
        case Tune::PhraseKind::ChorusB:
            if (tagsB.startsWith(tag))
                text += tagsB + chorusB + kCrLf;
            break;
        }
    }
    return text.toUtf8();
}

} // namespace musicd
