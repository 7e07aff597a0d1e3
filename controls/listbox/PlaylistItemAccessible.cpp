#include "controls/listbox/PlaylistItemAccessible.h"

#include "controls/listbox/PlaylistAccessible.h"
#include "controls/listbox/PlaylistView.h"

PlaylistItemAccessible::PlaylistItemAccessible(PlaylistView *view, int index)
    : ListRowAccessible(view, index)
{
}

PlaylistView *PlaylistItemAccessible::view() const
{
    return static_cast<PlaylistView *>(listWidget());
}

int PlaylistItemAccessible::listRowCount() const
{
    return view() ? view()->listCount() : 0;
}

QString PlaylistItemAccessible::text(QAccessible::Text t) const
{
    if (!isValid())
        return QString();
    switch (t) {
    case QAccessible::Name:
        return titleAndSinger(view()->title(m_row), view()->author(m_row));
    case QAccessible::Description:
        return view()->playIndex() == m_row ? PlaylistAccessible::kPlayingDescription : QString();
    default:
        return QString();
    }
}

QRect PlaylistItemAccessible::rect() const
{
    if (!isValid())
        return QRect();
    const QRect row = view()->rowRect(m_row);
    return QRect(view()->mapToGlobal(row.topLeft()), row.size());
}

QAccessible::State PlaylistItemAccessible::state() const
{
    if (!isValid())
        return rowState(false, false);
    return rowState(view()->listIndex() == m_row,
                    m_row < view()->firstIndex() || m_row > view()->lastIndex());
}
