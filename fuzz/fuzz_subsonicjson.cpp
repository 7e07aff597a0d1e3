// The Subsonic answers' JSON, written by hand (see SubsonicNode::toJson),
// over arbitrary names and texts: it must always parse as JSON and give
// back every text as the XML form carries it (control characters but tab
// and line ends as spaces), numbers and booleans as themselves.
#include "fuzz/FuzzCheck.h"
#include "musicd/SubsonicNode.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>
#include <cstring>

namespace {

QString cleaned(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0xFFFE || u == 0xFFFF)
            c = QLatin1Char(' ');
    }
    // What UTF-8 can carry of it (a lone surrogate cannot); led by a letter,
    // since fromUtf8 drops a byte order mark at the start.
    return QString::fromUtf8((QLatin1Char('x') + out).toUtf8()).mid(1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Split the input into texts at each 0xFFFF unit pair.
    QString all(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(all.data(), data, size_t(all.size()) * 2);
    const QStringList texts = all.split(QChar(0xFFFF));
    musicd::SubsonicNode root(QStringLiteral("root"));
    musicd::SubsonicNode entry(QStringLiteral("song"), musicd::SubsonicNode::Shape::List);
    for (qsizetype i = 0; i < texts.size(); ++i)
        entry.set(QStringLiteral("t%1").arg(i), texts.at(i));
    entry.set(QStringLiteral("n"), qint64(size) - 1000).set(QStringLiteral("b"), size % 2 == 0);
    root.add(entry).add(entry).declareList(QStringLiteral("empty"));

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(root.toJson(), &error);
    fuzz::check(error.error == QJsonParseError::NoError && doc.isObject());
    const QJsonObject inside = doc.object().value(QStringLiteral("root")).toObject();
    fuzz::check(inside.value(QStringLiteral("empty")).toArray().isEmpty());
    const QJsonArray songs = inside.value(QStringLiteral("song")).toArray();
    fuzz::check(songs.size() == 2);
    for (const QJsonValue &song : songs) {
        const QJsonObject o = song.toObject();
        for (qsizetype i = 0; i < texts.size(); ++i)
            fuzz::check(o.value(QStringLiteral("t%1").arg(i)).toString() == cleaned(texts.at(i)));
        fuzz::check(o.value(QStringLiteral("n")).toInteger() == qint64(size) - 1000);
        fuzz::check(o.value(QStringLiteral("b")).toBool() == (size % 2 == 0));
    }
    return 0;
}
