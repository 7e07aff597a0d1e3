#include "app/MenuFrm.h"

#include <QAction>
#include <QMenu>

MenuFrm::MenuFrm(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MenuFrm"));
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

    Tuopan = menuNamed("Tuopan", QStringLiteral("托盘菜单"));
    ShowForm = item(Tuopan, "ShowForm", QStringLiteral("显示"));
    Line1 = Tuopan->addSeparator();
    Line1->setObjectName(QStringLiteral("Line1"));
    UMusic = item(Tuopan, "UMusic", QStringLiteral("上一首"));
    Tuopan->addSeparator();
    NMusic = item(Tuopan, "NMusic", QStringLiteral("下一首"));
    Tuopan->addSeparator();
    AboutMe = item(Tuopan, "AboutMe", QStringLiteral("关于"));
    Tuopan->addSeparator();
    CloseMe = item(Tuopan, "CloseMe", QStringLiteral("退出程序"));

    SelectMenu = menuNamed("SelectMenu", QStringLiteral("选择"));
    Player1 = item(SelectMenu, "Player1", QStringLiteral("播放"));
    SelectMenu->addSeparator();
    AddPlayList = item(SelectMenu, "AddPlayList", QStringLiteral("添加到播放列表"));
    SelectMenu->addSeparator();
    DownloadMusic = item(SelectMenu, "DownloadMusic", QStringLiteral("下载歌曲"));
    SelectMenu->addSeparator();
    MusicTT = item(SelectMenu, "MusicTT", QStringLiteral("歌曲属性"));
    SelectMenu->addSeparator();
    SE = menuNamed("SE", QStringLiteral("选择列表"));
    SelectMenu->addMenu(SE);
    quanxuan = item(SE, "quanxuan", QStringLiteral("全选"));
    fanxuan = item(SE, "fanxuan", QStringLiteral("反选"));

    PlaylistMenu = menuNamed("PlaylistMenu", QStringLiteral("播放列表"));
    Player2 = item(PlaylistMenu, "Player2", QStringLiteral("播放"));
    PlaylistMenu->addSeparator();
    DeletOne = item(PlaylistMenu, "DeletOne", QStringLiteral("删除选择"));
    PlaylistMenu->addSeparator();
    DeletAll = item(PlaylistMenu, "DeletAll", QStringLiteral("清空"));
    PlaylistMenu->addSeparator();
    Download2 = item(PlaylistMenu, "Download2", QStringLiteral("下载"));

    XunHuan = menuNamed("XunHuan", QStringLiteral("循环"));
    Onessw = item(XunHuan, "Onessw", QStringLiteral("单曲播放"));
    Lists = item(XunHuan, "Lists", QStringLiteral("列表循环"));
    Suijibo = item(XunHuan, "Suijibo", QStringLiteral("随机"));
    for (QAction *mode : {Onessw, Lists, Suijibo})
        mode->setCheckable(true);
}
