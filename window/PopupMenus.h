// The player's four pop-up menus and their commands. The commands exist
// from the start, so the main window connects each one's triggered() to its
// handler and keeps the play-mode marks on them; the menus themselves are
// built on their first call (most sessions open none, and each menu is a
// window of its own that the skin would style at start-up).
#pragma once

#include <QList>
#include <QObject>

class QAction;
class QMenu;
class QWidget;

class PopupMenus : public QObject
{
    Q_OBJECT
public:
    // window: the menus' parent once they are built.
    explicit PopupMenus(QWidget *window);

    // Tray menu "托盘菜单".
    QMenu *trayMenu();
    QAction *showWindowAction = nullptr;    // "显示", hidden from start-up on
    QAction *showWindowSeparator = nullptr; // the separator under showWindowAction
    QAction *trayPreviousAction = nullptr;  // "上一首"
    QAction *trayNextAction = nullptr;      // "下一首"
    QAction *libraryAction = nullptr;       // "音乐库…"
    QAction *aboutAction = nullptr;         // "关于", last in the two list menus as well
    QAction *exitAction = nullptr;          // "退出程序"

    // Search-result menu "选择", with the submenu "选择列表".
    QMenu *resultMenu();
    QMenu *selectSubmenu();
    QAction *playResultAction = nullptr;     // "播放"
    QAction *addToPlaylistAction = nullptr;  // "添加到播放列表"
    QAction *downloadResultAction = nullptr; // "下载歌曲"
    QAction *songInfoAction = nullptr;       // "歌曲属性"
    QAction *selectAllAction = nullptr;      // "全选"
    QAction *invertAction = nullptr;         // "反选"

    // Playlist menu "播放列表".
    QMenu *playlistMenu();
    QAction *playPlaylistAction = nullptr;     // "播放"
    QAction *removeSelectedAction = nullptr;   // "删除选择"
    QAction *clearPlaylistAction = nullptr;    // "清空"
    QAction *downloadPlaylistAction = nullptr; // "下载"

    // Play-mode menu "循环"; the marks mirror singleRepeatBox..randomBox.
    QMenu *playModeMenu();
    QAction *singleRepeatAction = nullptr; // "单曲播放"
    QAction *listLoopAction = nullptr;     // "列表循环"
    QAction *randomAction = nullptr;       // "随机"

    // How many of the menus have been built so far.
    int builtMenuCount() const;

private:
    // A menu's title, object name and items (separators included), and the
    // menu once built.
    struct Menu
    {
        const char *name;
        QString title;
        QList<QAction *> items;
        QMenu *built = nullptr;
    };

    QAction *item(Menu &menu, const char *name, const QString &caption);
    QAction *separator(Menu &menu);
    QMenu *build(Menu &menu);

    QWidget *m_window;
    Menu m_tray;
    Menu m_result;
    Menu m_select;
    Menu m_playlist;
    Menu m_playMode;
};
