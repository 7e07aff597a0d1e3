// One playlist item as a screen reader sees it: a list item named
// "title - singer", selected when it is the list's selected item and
// described as playing when it is the playing item. It holds only the
// list and an index, so it always reads the item now at that index and is
// invalid while the list is shorter.
#pragma once

#include <QAccessibleInterface>
#include <QPointer>

class PlaylistView;

class PlaylistItemAccessible : public QAccessibleInterface
{
public:
    PlaylistItemAccessible(PlaylistView *view, int index);

    bool isValid() const override;
    QObject *object() const override { return nullptr; }
    QWindow *window() const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override;

    int index() const { return m_index; }

private:
    QPointer<PlaylistView> m_view;
    int m_index;
};
