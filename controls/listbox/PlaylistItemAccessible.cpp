#include "controls/listbox/PlaylistItemAccessible.h"

#include "controls/listbox/PlaylistAccessible.h"
#include "controls/listbox/PlaylistView.h"

#include <QWidget>

PlaylistItemAccessible::PlaylistItemAccessible(PlaylistView *view, int index)
    : m_view(view), m_index(index)
{
}

bool PlaylistItemAccessible::isValid() const
{
    return m_view && m_index >= 0 && m_index < m_view->listCount();
}

QWindow *PlaylistItemAccessible::window() const
{
    return m_view ? m_view->window()->windowHandle() : nullptr;
}

QAccessibleInterface *PlaylistItemAccessible::parent() const
{
    return m_view ? QAccessible::queryAccessibleInterface(m_view.data()) : nullptr;
}

QString PlaylistItemAccessible::text(QAccessible::Text t) const
{
    if (!isValid())
        return QString();
    switch (t) {
    case QAccessible::Name: {
        const QString singer = m_view->author(m_index);
        const QString title = m_view->title(m_index);
        return singer.isEmpty() ? title : title + QStringLiteral(" - ") + singer;
    }
    case QAccessible::Description:
        return m_view->playIndex() == m_index ? PlaylistAccessible::kPlayingDescription : QString();
    default:
        return QString();
    }
}

QRect PlaylistItemAccessible::rect() const
{
    if (!isValid())
        return QRect();
    const QRect row = m_view->rowRect(m_index);
    return QRect(m_view->mapToGlobal(row.topLeft()), row.size());
}

QAccessible::State PlaylistItemAccessible::state() const
{
    QAccessible::State s;
    if (!isValid()) {
        s.invalid = true;
        return s;
    }
    s.selectable = true;
    s.focusable = true;
    s.selected = m_view->listIndex() == m_index;
    s.focused = s.selected && m_view->hasFocus();
    s.invisible = m_index < m_view->firstIndex() || m_index > m_view->lastIndex();
    s.offscreen = s.invisible;
    return s;
}
