// What the player remembers between runs: volume, play mode, window
// position, the two result-list options, the last download folder and the
// playlist with the item that was playing (not its position in the track).
//
// The file is JSON under $XDG_CONFIG_HOME/velmor/. Reading is strict: a file
// that is not exactly what save() writes (garbage, wrong types, values out
// of range, more items than the playlist holds, oversized) is refused as a
// whole, so the player starts with the first-run state and says why in one
// line; the file itself is never touched by a failed read, and a FIFO or a
// device in its place is refused without waiting on it. Writing goes
// through QSaveFile, checked, so a crash or a full disk mid-write leaves the
// previous file.
#pragma once

#include "player/PlayOrder.h"

#include <QList>
#include <QPoint>
#include <QString>
#include <optional>

struct PlayerSettings
{
    struct Item
    {
        QString title;
        QString singer;
        QString songId;
        bool operator==(const Item &) const = default;
    };

    // The volume slider's first-run value: the knob's design position.
    static constexpr int kDefaultVolume = 75;

    int volume = kDefaultVolume;            // 0 … 100
    PlayMode playMode = PlayMode::ListLoop; // the start mode
    std::optional<QPoint> windowPosition;   // none: wherever the system puts it
    bool autoFit = false;
    bool autoTick = false;
    QString downloadFolder; // empty: the download manager's own default
    QList<Item> playlist;
    int playingIndex = -1; // -1: nothing marked as playing

    bool operator==(const PlayerSettings &) const = default;
};

class PlayerSettingsFile
{
public:
    // The playlist control holds at most this many items (16-bit indexes).
    static constexpr int kMaxItems = 32768;
    // A longer text in any field is refused rather than trimmed.
    static constexpr int kMaxTextLength = 4096;
    // Biggest file read at all: room for kMaxItems items of ordinary length.
    static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
    // Window positions further out than this are not a screen position.
    static constexpr int kMaxCoordinate = 100000;

    struct ReadResult
    {
        PlayerSettings settings;
        // Empty when the settings were read or there was no file; otherwise
        // one line saying why the defaults are used.
        QString warning;
        bool found = false; // a file was there (read or refused)
    };

    // $XDG_CONFIG_HOME/velmor/settings.json (~/.config when unset).
    static QString defaultPath();

    static ReadResult parse(const QByteArray &bytes);
    static QByteArray serialise(const PlayerSettings &settings);

    // A missing file gives the defaults with no warning and found == false.
    static ReadResult read(const QString &path);
    // Atomically replaces the file (creating its folder); false on failure,
    // with the reason in *error when given.
    static bool write(const QString &path, const PlayerSettings &settings,
                      QString *error = nullptr);
};
