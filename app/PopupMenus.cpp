#include "app/PopupMenus.h"

#include <QAction>
#include <QMenu>

PopupMenus::PopupMenus(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PopupMenus"));
    hide();

    const auto item = [](QMenu *menu, const char *name, const QString &caption) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    const auto menuNamed = [this](const char *name, const QString &title) {
        auto *menu = new QMenu(title, this);
        menu->setObjectName(QLatin1String(name));
        return menu;
    };

    trayMenu = menuNamed("trayMenu", QStringLiteral("托盘菜单"));
    showWindowAction = item(trayMenu, "showWindowAction", QStringLiteral("显示"));
    showWindowSeparator = trayMenu->addSeparator();
    showWindowSeparator->setObjectName(QStringLiteral("showWindowSeparator"));
    trayPreviousAction = item(trayMenu, "trayPreviousAction", QStringLiteral("上一首"));
    trayMenu->addSeparator();
    trayNextAction = item(trayMenu, "trayNextAction", QStringLiteral("下一首"));
    trayMenu->addSeparator();
    aboutAction = item(trayMenu, "aboutAction", QStringLiteral("关于"));
    trayMenu->addSeparator();
    exitAction = item(trayMenu, "exitAction", QStringLiteral("退出程序"));

    resultMenu = menuNamed("resultMenu", QStringLiteral("选择"));
    playResultAction = item(resultMenu, "playResultAction", QStringLiteral("播放"));
    resultMenu->addSeparator();
    addToPlaylistAction = item(resultMenu, "addToPlaylistAction", QStringLiteral("添加到播放列表"));
    resultMenu->addSeparator();
    downloadResultAction = item(resultMenu, "downloadResultAction", QStringLiteral("下载歌曲"));
    resultMenu->addSeparator();
    songInfoAction = item(resultMenu, "songInfoAction", QStringLiteral("歌曲属性"));
    resultMenu->addSeparator();
    selectSubmenu = menuNamed("selectSubmenu", QStringLiteral("选择列表"));
    resultMenu->addMenu(selectSubmenu);
    selectAllAction = item(selectSubmenu, "selectAllAction", QStringLiteral("全选"));
    invertAction = item(selectSubmenu, "invertAction", QStringLiteral("反选"));

    playlistMenu = menuNamed("playlistMenu", QStringLiteral("播放列表"));
    playPlaylistAction = item(playlistMenu, "playPlaylistAction", QStringLiteral("播放"));
    playlistMenu->addSeparator();
    removeSelectedAction = item(playlistMenu, "removeSelectedAction", QStringLiteral("删除选择"));
    playlistMenu->addSeparator();
    clearPlaylistAction = item(playlistMenu, "clearPlaylistAction", QStringLiteral("清空"));
    playlistMenu->addSeparator();
    downloadPlaylistAction = item(playlistMenu, "downloadPlaylistAction", QStringLiteral("下载"));

    playModeMenu = menuNamed("playModeMenu", QStringLiteral("循环"));
    singleRepeatAction = item(playModeMenu, "singleRepeatAction", QStringLiteral("单曲播放"));
    listLoopAction = item(playModeMenu, "listLoopAction", QStringLiteral("列表循环"));
    randomAction = item(playModeMenu, "randomAction", QStringLiteral("随机"));
    for (QAction *mode : {singleRepeatAction, listLoopAction, randomAction})
        mode->setCheckable(true);
}
