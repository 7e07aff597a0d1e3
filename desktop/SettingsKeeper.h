// Keeps the main window's remembered state (PlayerSettings) in its file:
// restore() applies the file at start, every later change is written a
// moment after it happens (a drag of the volume knob or the window is one
// write, not hundreds), and the state is written once more when the
// program quits. A file that was refused at start is never overwritten:
// the user may want to look at it, so nothing is saved that run.
#pragma once

#include "desktop/PlayerSettings.h"

#include <QObject>
#include <QString>

class MainWindow;
class QTimer;

class SettingsKeeper : public QObject
{
    Q_OBJECT
public:
    // Delay between a change and its write.
    static constexpr int kSaveDelayMs = 400;

    SettingsKeeper(MainWindow *window, const QString &path, QObject *parent = nullptr);
    ~SettingsKeeper() override;

    // Reads the file and applies it to the window; a refused file leaves the
    // window as it starts and prints one warning line on stderr. Returns
    // the warning ("" when none). Changes are watched from here on.
    QString restore();
    // Writes the window's state now (unless the file was refused).
    bool save();

    // The window's state as it would be saved, and applying one.
    PlayerSettings collect() const;
    void apply(const PlayerSettings &settings);

private:
    void watchChanges();
    void scheduleSave();

    MainWindow *m_window;
    QString m_path;
    QTimer *m_saveTimer = nullptr;
    bool m_frozen = false;      // the file was refused: leave it alone
    bool m_writeFailed = false; // one warning per run is enough
};
