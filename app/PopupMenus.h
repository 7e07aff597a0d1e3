// The hidden menu form: it only holds the player's four pop-up menus and
// their commands. The main window pops the menus up and connects each
// command's triggered() to its handler (<item>_Click).
#pragma once

#include <QWidget>

class QAction;
class QMenu;

class PopupMenus : public QWidget
{
    Q_OBJECT
public:
    explicit PopupMenus(QWidget *parent = nullptr);

    // Tray menu "托盘菜单".
    QMenu *trayMenu = nullptr;
    QAction *showWindowAction = nullptr;    // "显示", hidden from start-up on
    QAction *showWindowSeparator = nullptr; // the separator under showWindowAction
    QAction *trayPreviousAction = nullptr;  // "上一首"
    QAction *trayNextAction = nullptr;      // "下一首"
    QAction *aboutAction = nullptr;         // "关于"
    QAction *exitAction = nullptr;          // "退出程序"

    // Search-result menu "选择".
    QMenu *resultMenu = nullptr;
    QAction *playResultAction = nullptr;     // "播放"
    QAction *addToPlaylistAction = nullptr;  // "添加到播放列表"
    QAction *downloadResultAction = nullptr; // "下载歌曲"
    QAction *songInfoAction = nullptr;       // "歌曲属性"
    QMenu *selectSubmenu = nullptr;          // submenu "选择列表"
    QAction *selectAllAction = nullptr;      // "全选"
    QAction *invertAction = nullptr;         // "反选"

    // Playlist menu.
    QMenu *playlistMenu = nullptr;
    QAction *playPlaylistAction = nullptr;     // "播放"
    QAction *removeSelectedAction = nullptr;   // "删除选择"
    QAction *clearPlaylistAction = nullptr;    // "清空"
    QAction *downloadPlaylistAction = nullptr; // "下载"

    // Play-mode menu "循环"; the marks mirror singleRepeatBox..randomBox.
    QMenu *playModeMenu = nullptr;
    QAction *singleRepeatAction = nullptr; // "单曲播放"
    QAction *listLoopAction = nullptr;     // "列表循环"
    QAction *randomAction = nullptr;       // "随机"
};
