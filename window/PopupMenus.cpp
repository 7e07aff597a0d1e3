#include "window/PopupMenus.h"

#include <QAction>
#include <QMenu>

PopupMenus::PopupMenus(QWidget *window)
    : QObject(window), m_window(window), m_tray{"trayMenu", QStringLiteral("托盘菜单"), {}},
      m_result{"resultMenu", QStringLiteral("选择"), {}}, m_select{"selectSubmenu",
                                                                   QStringLiteral("选择列表"),
                                                                   {}},
      m_playlist{"playlistMenu", QStringLiteral("播放列表"), {}}, m_playMode{"playModeMenu",
                                                                             QStringLiteral("循环"),
                                                                             {}}
{
    setObjectName(QStringLiteral("PopupMenus"));

    showWindowAction = item(m_tray, "showWindowAction", QStringLiteral("显示"));
    showWindowSeparator = separator(m_tray);
    showWindowSeparator->setObjectName(QStringLiteral("showWindowSeparator"));
    trayPreviousAction = item(m_tray, "trayPreviousAction", QStringLiteral("上一首"));
    separator(m_tray);
    trayNextAction = item(m_tray, "trayNextAction", QStringLiteral("下一首"));
    separator(m_tray);
    libraryAction = item(m_tray, "libraryAction", QStringLiteral("音乐库…"));
    separator(m_tray);
    aboutAction = item(m_tray, "aboutAction", QStringLiteral("关于"));
    separator(m_tray);
    exitAction = item(m_tray, "exitAction", QStringLiteral("退出程序"));

    playResultAction = item(m_result, "playResultAction", QStringLiteral("播放"));
    separator(m_result);
    addToPlaylistAction = item(m_result, "addToPlaylistAction", QStringLiteral("添加到播放列表"));
    separator(m_result);
    downloadResultAction = item(m_result, "downloadResultAction", QStringLiteral("下载歌曲"));
    separator(m_result);
    songInfoAction = item(m_result, "songInfoAction", QStringLiteral("歌曲属性"));
    separator(m_result);
    // The submenu's own entry is added when the result menu is built.
    selectAllAction = item(m_select, "selectAllAction", QStringLiteral("全选"));
    invertAction = item(m_select, "invertAction", QStringLiteral("反选"));

    playPlaylistAction = item(m_playlist, "playPlaylistAction", QStringLiteral("播放"));
    separator(m_playlist);
    removeSelectedAction = item(m_playlist, "removeSelectedAction", QStringLiteral("删除选择"));
    separator(m_playlist);
    clearPlaylistAction = item(m_playlist, "clearPlaylistAction", QStringLiteral("清空"));
    separator(m_playlist);
    downloadPlaylistAction = item(m_playlist, "downloadPlaylistAction", QStringLiteral("下载"));
    // About closes the window's two list menus as well as the tray menu:
    // a right click is where a user looks for it.
    separator(m_playlist);
    m_playlist.items.append(aboutAction);

    singleRepeatAction = item(m_playMode, "singleRepeatAction", QStringLiteral("单曲播放"));
    listLoopAction = item(m_playMode, "listLoopAction", QStringLiteral("列表循环"));
    randomAction = item(m_playMode, "randomAction", QStringLiteral("随机"));
    for (QAction *mode : {singleRepeatAction, listLoopAction, randomAction})
        mode->setCheckable(true);
}

QAction *PopupMenus::item(Menu &menu, const char *name, const QString &caption)
{
    auto *action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    menu.items.append(action);
    return action;
}

QAction *PopupMenus::separator(Menu &menu)
{
    auto *action = new QAction(this);
    action->setSeparator(true);
    menu.items.append(action);
    return action;
}

QMenu *PopupMenus::build(Menu &menu)
{
    if (!menu.built) {
        menu.built = new QMenu(menu.title, m_window);
        menu.built->setObjectName(QLatin1String(menu.name));
        menu.built->addActions(menu.items);
    }
    return menu.built;
}

QMenu *PopupMenus::trayMenu()
{
    return build(m_tray);
}

QMenu *PopupMenus::resultMenu()
{
    if (!m_result.built) {
        build(m_result)->addMenu(selectSubmenu());
        m_result.built->addSeparator();
        m_result.built->addAction(aboutAction);
    }
    return m_result.built;
}

QMenu *PopupMenus::selectSubmenu()
{
    return build(m_select);
}

QMenu *PopupMenus::playlistMenu()
{
    return build(m_playlist);
}

QMenu *PopupMenus::playModeMenu()
{
    return build(m_playMode);
}

int PopupMenus::builtMenuCount() const
{
    int count = 0;
    for (const Menu *menu : {&m_tray, &m_result, &m_select, &m_playlist, &m_playMode})
        count += menu->built != nullptr;
    return count;
}
