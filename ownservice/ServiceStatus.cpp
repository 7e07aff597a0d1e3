#include "ownservice/ServiceStatus.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const char *stateName(ServiceStatus::RootState state)
{
    switch (state) {
    case ServiceStatus::RootState::Missing:
        return "missing";
    case ServiceStatus::RootState::Unreadable:
        return "unreadable";
    case ServiceStatus::RootState::Ok:
        break;
    }
    return "ok";
}

QString cut(const QString &text)
{
    return text.left(ServiceStatus::kMaxPathLength);
}

} // namespace

QString groupedNumber(qint64 n)
{
    // Grouped by hand: the player's locale may group otherwise, and the line
    // is Chinese text with Western digits whatever the locale.
    const QString digits = QString::number(n < 0 ? -n : n);
    QString out;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += QLatin1Char(',');
        out += digits.at(i);
    }
    return n < 0 ? QLatin1Char('-') + out : out;
}

QByteArray ServiceStatus::toJson() const
{
    QJsonObject root;
    root.insert(QStringLiteral("version"), 1);
    root.insert(QStringLiteral("library"), library);
    root.insert(QStringLiteral("tracks"), tracks);
    if (library) {
        QJsonArray list;
        for (const Root &r : roots.mid(0, kMaxRoots)) {
            QJsonObject entry;
            entry.insert(QStringLiteral("path"), cut(r.path));
            entry.insert(QStringLiteral("state"), QString::fromLatin1(stateName(r.state)));
            list.append(entry);
        }
        root.insert(QStringLiteral("roots"), list);
        root.insert(QStringLiteral("rootCount"), rootCount);
        root.insert(QStringLiteral("scanning"), scanning);
        root.insert(QStringLiteral("firstScan"), firstScan);
        root.insert(QStringLiteral("found"), found);
        root.insert(QStringLiteral("done"), done);
        root.insert(QStringLiteral("unreadable"), unreadable);
        QJsonArray names;
        for (const QString &name : unreadableNames.mid(0, kMaxNames))
            names.append(cut(name));
        root.insert(QStringLiteral("unreadableNames"), names);
        root.insert(QStringLiteral("updated"),
                    updated.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(updated));
    }
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<ServiceStatus> ServiceStatus::fromJson(const QByteArray &bytes)
{
    if (bytes.size() > kMaxBytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject() || document.object().value(QStringLiteral("version")).toInt() != 1)
        return std::nullopt;
    const QJsonObject o = document.object();
    ServiceStatus s;
    s.library = o.value(QStringLiteral("library")).toBool();
    s.tracks = o.value(QStringLiteral("tracks")).toInteger();
    const QJsonArray roots = o.value(QStringLiteral("roots")).toArray();
    for (const QJsonValue &v : roots) {
        if (s.roots.size() >= kMaxRoots)
            break;
        const QJsonObject entry = v.toObject();
        const QString state = entry.value(QStringLiteral("state")).toString();
        s.roots.append({cut(entry.value(QStringLiteral("path")).toString()),
                        state == QLatin1String("missing")      ? RootState::Missing
                        : state == QLatin1String("unreadable") ? RootState::Unreadable
                                                               : RootState::Ok});
    }
    s.rootCount = o.value(QStringLiteral("rootCount")).toInt();
    s.scanning = o.value(QStringLiteral("scanning")).toBool();
    s.firstScan = o.value(QStringLiteral("firstScan")).toBool();
    s.found = o.value(QStringLiteral("found")).toInteger();
    s.done = o.value(QStringLiteral("done")).toInteger();
    s.unreadable = o.value(QStringLiteral("unreadable")).toInteger();
    for (const QJsonValue &v : o.value(QStringLiteral("unreadableNames")).toArray()) {
        if (s.unreadableNames.size() >= kMaxNames)
            break;
        s.unreadableNames.append(cut(v.toString()));
    }
    s.updated = o.value(QStringLiteral("updated")).toString();
    return s;
}

ServiceStatus::RootState ServiceStatus::stateOf(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.exists())
        return RootState::Missing;
    if (!info.isDir() || !info.isReadable() || !info.isExecutable() || !QDir(folder).exists())
        return RootState::Unreadable;
    return RootState::Ok;
}

QString ServiceStatus::statusLine() const
{
    if (!library)
        return QString();
    QString line;
    if (firstScan)
        line = QStringLiteral("正在扫描音乐库：%1 / %2 首")
                   .arg(groupedNumber(done), groupedNumber(found));
    else if (tracks == 0)
        line = QStringLiteral("音乐库中没有歌曲");
    else
        line = QStringLiteral("音乐库共 %1 首").arg(groupedNumber(tracks));
    QStringList missing;
    QStringList unreadableRoots;
    for (const Root &r : roots) {
        if (r.state == RootState::Missing)
            missing.append(r.path);
        else if (r.state == RootState::Unreadable)
            unreadableRoots.append(r.path);
    }
    if (!missing.isEmpty())
        line += QStringLiteral("；音乐文件夹不存在：") + missing.join(QStringLiteral("、"));
    if (!unreadableRoots.isEmpty())
        line +=
            QStringLiteral("；音乐文件夹无法读取：") + unreadableRoots.join(QStringLiteral("、"));
    if (!firstScan && tracks == 0 && missing.isEmpty() && unreadableRoots.isEmpty() &&
        !roots.isEmpty()) {
        QStringList paths;
        for (const Root &r : roots)
            paths.append(r.path);
        line += QStringLiteral("（") + paths.join(QStringLiteral("、")) + QStringLiteral("）");
    }
    if (unreadable > 0)
        line += QStringLiteral("；%1 个文件无法读取").arg(groupedNumber(unreadable));
    return line;
}
