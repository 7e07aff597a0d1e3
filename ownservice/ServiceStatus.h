// What velmor-musicd says of its library at GET /status: a small, bounded,
// read-only JSON answer, written by the service and read by the player,
// which turns it into its status line.
//
//   {"version": 1, "library": true,
//    "roots": [{"path": "/home/u/Music", "state": "ok"}, ...],   (at most kMaxRoots)
//    "rootCount": 1, "tracks": 5000, "scanning": true, "firstScan": true,
//    "found": 5000, "done": 1234, "unreadable": 2, "unreadableNames": [...],
//    "updated": "2026-12-08T12:00:00Z"}
//
// A root's state is "ok", "missing" or "unreadable". The built-in catalogue
// answers {"version": 1, "library": false, "tracks": N}.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct ServiceStatus
{
    static constexpr int kMaxRoots = 16;
    static constexpr int kMaxNames = 5;
    // Paths are cut to this many characters in the answer.
    static constexpr int kMaxPathLength = 512;
    // No answer of ours is larger; a larger one is not read.
    static constexpr qint64 kMaxBytes = 64 * 1024;

    enum class RootState { Ok, Missing, Unreadable };
    struct Root
    {
        QString path;
        RootState state = RootState::Ok;
        bool operator==(const Root &) const = default;
    };

    bool library = false;
    QList<Root> roots; // the first kMaxRoots
    int rootCount = 0;
    qint64 tracks = 0;
    bool scanning = false;
    bool firstScan = false; // the first pass has not ended yet
    qint64 found = 0;
    qint64 done = 0;
    qint64 unreadable = 0;
    QStringList unreadableNames; // the first kMaxNames
    QString updated;             // ISO 8601 UTC, "" before the first pass ends

    bool operator==(const ServiceStatus &) const = default;

    // Cuts the lists and texts to their bounds.
    QByteArray toJson() const;
    static std::optional<ServiceStatus> fromJson(const QByteArray &bytes);

    // How a folder stands now.
    static RootState stateOf(const QString &folder);

    // The window's status line: the first scan's progress
    // ("正在扫描音乐库：1,234 / 5,000 首"), then the total, with folders that
    // cannot be read named and an empty library said so.
    QString statusLine() const;
};

// 1234567 as "1,234,567".
QString groupedNumber(qint64 n);
