// What a screen reader sees of the playlist: a list whose children are the
// items ("title - singer"), with the selected item marked selected and the
// playing item described as playing. The item interfaces are made on first
// request and kept (by index) for the life of the list's interface.
// PlaylistView installs the factory and reports selection and content
// changes while accessibility is active.
#pragma once

#include "controls/listbox/ListRowAccessible.h"

#include <QAccessibleWidget>

class PlaylistView;

class PlaylistAccessible : public QAccessibleWidget
{
public:
    // The description an item has while it is the playing item.
    static const QString kPlayingDescription;

    explicit PlaylistAccessible(PlaylistView *view);
    ~PlaylistAccessible() override;

    QString text(QAccessible::Text t) const override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;

    // For QAccessible::installFactory.
    static QAccessibleInterface *create(const QString &className, QObject *object);

private:
    PlaylistView *view() const;
    mutable ListRowCache m_items;
};
