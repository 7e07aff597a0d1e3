#include "desktop/SettingsKeeper.h"

#include "controls/listbox/PlaylistView.h"
#include "downloads/DownloadManager.h"
#include "window/EventHook.h"
#include "window/MainWindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSlider>
#include <QTimer>
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

SettingsKeeper::SettingsKeeper(MainWindow *window, const QString &path, QObject *parent)
    : QObject(parent), m_window(window), m_path(path)
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
    s.volume = m_window->volumeSlider->value();
    s.playMode = m_window->playMode();
    s.windowPosition = m_window->pos();
    s.autoFit = m_window->autoFitBox->isChecked();
    s.autoTick = m_window->autoTickBox->isChecked();
    s.downloadFolder = m_window->downloads()->lastFolder();
    const PlaylistView *list = m_window->playlistView;
    s.playlist.reserve(list->listCount());
    for (int i = 0; i < list->listCount(); ++i)
        s.playlist.append({list->title(i), list->author(i), list->url(i)});
    s.playingIndex = list->playIndex() < list->listCount() ? list->playIndex() : -1;
    return s;
}

void SettingsKeeper::apply(const PlayerSettings &s)
{
    m_window->setVolumePercent(s.volume);
    m_window->setPlayMode(s.playMode);
    if (s.windowPosition && reachable(*s.windowPosition))
        m_window->move(*s.windowPosition);
    m_window->autoFitBox->setChecked(s.autoFit);
    m_window->autoTickBox->setChecked(s.autoTick);
    m_window->downloads()->setLastFolder(s.downloadFolder);
    PlaylistView *list = m_window->playlistView;
    list->clear();
    // One append for the whole list: a saved playlist may hold thousands.
    QList<PlaylistView::NewItem> items;
    items.reserve(s.playlist.size());
    for (const PlayerSettings::Item &item : s.playlist)
        items.append({item.title, item.singer, item.songId, QString()});
    list->appendItems(items);
    m_window->setCurrentItem(s.playingIndex);
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

void SettingsKeeper::watchChanges()
{
    const auto changed = [this] { scheduleSave(); };
    connect(m_window->volumeSlider, &QSlider::valueChanged, this, changed);
    for (QCheckBox *box : {m_window->singleRepeatBox, m_window->listLoopBox, m_window->randomBox,
                           m_window->autoFitBox, m_window->autoTickBox})
        connect(box, &QCheckBox::toggled, this, changed);
    connect(m_window->downloads(), &DownloadManager::lastFolderChanged, this, changed);
    PlaylistView *list = m_window->playlistView;
    connect(list, &PlaylistView::itemsChanged, this, changed);
    connect(list, &PlaylistView::playIndexChanged, this,
            [this](short &, short &, short &) { scheduleSave(); });
    EventHook::install(m_window, [this](QEvent *event) {
        if (event->type() == QEvent::Move)
            scheduleSave();
        return false;
    });
}
