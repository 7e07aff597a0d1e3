#include "desktop/SettingsKeeper.h"

#include "downloads/DownloadManager.h"
#include "player/PlayerState.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace {

// How much of the window must lie on a screen for a saved position to be
// used: enough of the title bar to grab it.
constexpr int kVisibleTitleWidth = 100;
constexpr int kVisibleTitleHeight = 30;

bool reachable(const QPoint &position)
{
    const QRect title(position, QSize(kVisibleTitleWidth, kVisibleTitleHeight));
    for (const QScreen *screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().contains(title))
            return true;
    }
    return false;
}

} // namespace

SettingsKeeper::SettingsKeeper(PlayerState *state, const QString &path, QObject *parent)
    : QObject(parent), m_state(state), m_path(path)
{
    m_saveTimer = new QTimer(this);
    m_saveTimer->setSingleShot(true);
    m_saveTimer->setInterval(kSaveDelayMs);
    connect(m_saveTimer, &QTimer::timeout, this, &SettingsKeeper::save);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &SettingsKeeper::save);
}

SettingsKeeper::~SettingsKeeper()
{
    if (m_saveTimer->isActive())
        save();
}

void SettingsKeeper::keepWindow(const WindowPart &part)
{
    m_window = part;
}

void SettingsKeeper::keepDownloads(DownloadManager *downloads)
{
    m_downloads = downloads;
}

QString SettingsKeeper::restore()
{
    const PlayerSettingsFile::ReadResult read = PlayerSettingsFile::read(m_path);
    if (!read.warning.isEmpty()) {
        m_frozen = true;
        std::fprintf(stderr,
                     "velmor: settings file %s ignored (%s); starting with the defaults and "
                     "leaving the file as it is\n",
                     qPrintable(m_path), qPrintable(read.warning));
    } else if (read.found) {
        apply(read.settings);
    }
    watchChanges();
    return read.warning;
}

PlayerSettings SettingsKeeper::collect() const
{
    PlayerSettings s;
    s.volume = m_state->volume();
    s.playMode = m_state->playMode();
    if (m_window.window)
        s.windowPosition = m_window.window->pos();
    if (m_window.options)
        std::tie(s.autoFit, s.autoTick) = m_window.options();
    if (m_downloads)
        s.downloadFolder = m_downloads->lastFolder();
    const PlaylistItems &list = m_state->playlist();
    s.playlist.reserve(list.count());
    for (int i = 0; i < list.count(); ++i) {
        const PlaylistItem &item = *list.at(i);
        s.playlist.append({item.title, item.author, item.url});
    }
    s.playingIndex = list.playIndex() < list.count() ? list.playIndex() : -1;
    return s;
}

void SettingsKeeper::apply(const PlayerSettings &s)
{
    m_state->setVolume(s.volume);
    m_state->setPlayMode(s.playMode);
    if (m_window.window && s.windowPosition && reachable(*s.windowPosition))
        m_window.window->move(*s.windowPosition);
    if (m_window.setOptions)
        m_window.setOptions(s.autoFit, s.autoTick);
    if (m_downloads)
        m_downloads->setLastFolder(s.downloadFolder);
    PlaylistItems &list = m_state->playlist();
    list.clear();
    // One append for the whole list: a saved playlist may hold thousands.
    QList<PlaylistItem> items;
    items.reserve(s.playlist.size());
    for (const PlayerSettings::Item &item : s.playlist)
        items.append(
            PlaylistItem{item.title, item.singer, QString(), QString(), item.songId, false});
    list.append(std::move(items));
    m_state->setCurrentItem(s.playingIndex);
}

bool SettingsKeeper::save()
{
    m_saveTimer->stop();
    if (m_frozen)
        return false;
    QString error;
    if (PlayerSettingsFile::write(m_path, collect(), &error))
        return true;
    if (!m_writeFailed)
        std::fprintf(stderr, "velmor: cannot save the settings to %s: %s\n", qPrintable(m_path),
                     qPrintable(error));
    m_writeFailed = true;
    return false;
}

void SettingsKeeper::scheduleSave()
{
    if (!m_frozen)
        m_saveTimer->start();
}

bool SettingsKeeper::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window.window && event->type() == QEvent::Move)
        scheduleSave();
    return false;
}

void SettingsKeeper::watchChanges()
{
    const auto changed = [this] { scheduleSave(); };
    connect(m_state, &PlayerState::volumeChanged, this, changed);
    connect(m_state, &PlayerState::playModeChanged, this, changed);
    connect(&m_state->playlist(), &PlaylistItems::itemsChanged, this, changed);
    connect(&m_state->playlist(), &PlaylistItems::playIndexMoved, this, changed);
    if (m_downloads)
        connect(m_downloads, &DownloadManager::lastFolderChanged, this, changed);
    if (m_window.window)
        m_window.window->installEventFilter(this);
}
