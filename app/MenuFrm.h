// The hidden menu form: it only holds the player's four pop-up menus and
// their commands. The main window pops the menus up and connects each
// command's triggered() to its handler (<item>_Click).
#pragma once

#include <QWidget>

class QAction;
class QMenu;

class MenuFrm : public QWidget
{
    Q_OBJECT
public:
    explicit MenuFrm(QWidget *parent = nullptr);

    // Tray menu "托盘菜单".
    QMenu *Tuopan = nullptr;
    QAction *ShowForm = nullptr; // "显示", hidden from start-up on
    QAction *Line1 = nullptr;    // the separator under ShowForm
    QAction *UMusic = nullptr;   // "上一首"
    QAction *NMusic = nullptr;   // "下一首"
    QAction *AboutMe = nullptr;  // "关于"
    QAction *CloseMe = nullptr;  // "退出程序"

    // Search-result menu "选择".
    QMenu *SelectMenu = nullptr;
    QAction *Player1 = nullptr;       // "播放"
    QAction *AddPlayList = nullptr;   // "添加到播放列表"
    QAction *DownloadMusic = nullptr; // "下载歌曲"
    QAction *MusicTT = nullptr;       // "歌曲属性"
    QMenu *SE = nullptr;              // submenu "选择列表"
    QAction *quanxuan = nullptr;      // "全选"
    QAction *fanxuan = nullptr;       // "反选"

    // Playlist menu.
    QMenu *PlaylistMenu = nullptr;
    QAction *Player2 = nullptr;   // "播放"
    QAction *DeletOne = nullptr;  // "删除选择"
    QAction *DeletAll = nullptr;  // "清空"
    QAction *Download2 = nullptr; // "下载"

    // Play-mode menu "循环"; the marks mirror Check1..Check3.
    QMenu *XunHuan = nullptr;
    QAction *Onessw = nullptr;  // "单曲播放"
    QAction *Lists = nullptr;   // "列表循环"
    QAction *Suijibo = nullptr; // "随机"
};
