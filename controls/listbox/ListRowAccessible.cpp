#include "controls/listbox/ListRowAccessible.h"

bool ListRowAccessible::isValid() const
{
    return m_list && m_row >= 0 && m_row < listRowCount();
}

QWindow *ListRowAccessible::window() const
{
    return m_list ? m_list->window()->windowHandle() : nullptr;
}

QAccessibleInterface *ListRowAccessible::parent() const
{
    return m_list ? QAccessible::queryAccessibleInterface(m_list.data()) : nullptr;
}

QString ListRowAccessible::titleAndSinger(const QString &title, const QString &singer)
{
    return singer.isEmpty() ? title : title + QStringLiteral(" - ") + singer;
}

QAccessible::State ListRowAccessible::rowState(bool selected, bool scrolledOut) const
{
    QAccessible::State s;
    if (!isValid()) {
        s.invalid = true;
        return s;
    }
    s.selectable = true;
    s.focusable = true;
    s.selected = selected;
    s.focused = selected && m_list->hasFocus();
    s.invisible = scrolledOut;
    s.offscreen = scrolledOut;
    return s;
}

ListRowCache::~ListRowCache()
{
    for (const QAccessible::Id id : std::as_const(m_ids))
        QAccessible::deleteAccessibleInterface(id);
}

int ListRowCache::indexOf(const QAccessibleInterface *child, const QAccessibleInterface *list,
                          int rowCount)
{
    if (!child || child->role() != QAccessible::ListItem || child->parent() != list)
        return -1;
    const int index = static_cast<const ListRowAccessible *>(child)->row();
    return index < rowCount ? index : -1;
}
