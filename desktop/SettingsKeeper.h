// Keeps the player's remembered state (PlayerSettings) in its file:
// restore() applies the file at start, every later change is written a
// moment after it happens (a drag of the volume knob or the window is one
// write, not hundreds), and the state is written once more when the
// program quits. A file that was refused at start is never overwritten:
// the user may want to look at it, so nothing is saved that run.
//
// It observes the player's state (volume, play mode, playlist, the playing
// item) and the download folder; the window's own part (its position and
// two list options) comes through WindowPart, bound by the program.
#pragma once

#include "desktop/PlayerSettings.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class DownloadManager;
class PlayerState;
class QTimer;
class QWidget;

class SettingsKeeper : public QObject
{
    Q_OBJECT
public:
    // Delay between a change and its write.
    static constexpr int kSaveDelayMs = 400;

    // The window's part of the settings. Without one only the player's
    // state and the download folder are kept.
    struct WindowPart
    {
        QWidget *window = nullptr; // where it stands; moving it is a change
        // The list options (autoFit, autoTick); a change of either is told
        // with scheduleSave().
        std::function<std::pair<bool, bool>()> options;
        std::function<void(bool autoFit, bool autoTick)> setOptions;
    };

    SettingsKeeper(PlayerState *state, const QString &path, QObject *parent = nullptr);
    ~SettingsKeeper() override;

    // What else is kept; set before restore().
    void keepWindow(const WindowPart &part);
    void keepDownloads(DownloadManager *downloads);

    // Reads the file and applies it; a refused file leaves the player as it
    // starts and prints one warning line on stderr. Returns the warning (""
    // when none). Changes are watched from here on.
    QString restore();
    // Writes the state now (unless the file was refused).
    bool save();
    // Something kept changed: it is written a moment later.
    void scheduleSave();

    // The state as it would be saved, and applying one.
    PlayerSettings collect() const;
    void apply(const PlayerSettings &settings);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchChanges();

    PlayerState *m_state;
    QString m_path;
    WindowPart m_window;
    QPointer<DownloadManager> m_downloads;
    QTimer *m_saveTimer = nullptr;
    bool m_frozen = false;      // the file was refused: leave it alone
    bool m_writeFailed = false; // one warning per run is enough
};
