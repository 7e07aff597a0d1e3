// One playlist item as a screen reader sees it: a list item named
// "title - singer", selected when it is the list's selected item and
// described as playing when it is the playing item.
#pragma once

#include "controls/listbox/ListRowAccessible.h"

class PlaylistView;

class PlaylistItemAccessible : public ListRowAccessible
{
public:
    PlaylistItemAccessible(PlaylistView *view, int index);

    QString text(QAccessible::Text t) const override;
    QRect rect() const override;
    QAccessible::State state() const override;

private:
    int listRowCount() const override;
    PlaylistView *view() const;
};
