#include "app/ResultListAccessible.h"

#include "app/ResultList.h"

namespace {

// The list's name when the window gives it none.
const QString kListName = QStringLiteral("搜索结果");

} // namespace

ResultListAccessible::ResultListAccessible(ResultList *list)
    : QAccessibleWidget(list, QAccessible::List)
{
}

ResultListAccessible::~ResultListAccessible()
{
    for (const QAccessible::Id id : std::as_const(m_rows))
        QAccessible::deleteAccessibleInterface(id);
}

ResultList *ResultListAccessible::list() const
{
    return static_cast<ResultList *>(widget());
}

QString ResultListAccessible::text(QAccessible::Text t) const
{
    const QString own = QAccessibleWidget::text(t);
    if (t == QAccessible::Name && own.isEmpty())
        return kListName;
    if (t == QAccessible::Description && own.isEmpty())
        return QStringLiteral("%1 条结果").arg(list()->rowCount());
    return own;
}

int ResultListAccessible::childCount() const
{
    return list()->rowCount();
}

QAccessibleInterface *ResultListAccessible::child(int index) const
{
    if (index < 0 || index >= list()->rowCount())
        return nullptr;
    if (const auto found = m_rows.constFind(index); found != m_rows.constEnd())
        return QAccessible::accessibleInterface(*found);
    auto *row = new ResultRowAccessible(list(), index);
    m_rows.insert(index, QAccessible::registerAccessibleInterface(row));
    return row;
}

int ResultListAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (!child || child->role() != QAccessible::ListItem || child->parent() != this)
        return -1;
    const int index = static_cast<const ResultRowAccessible *>(child)->row();
    return index < list()->rowCount() ? index : -1;
}

QAccessibleInterface *ResultListAccessible::childAt(int x, int y) const
{
    const QPoint local = list()->viewport()->mapFromGlobal(QPoint(x, y));
    return child(list()->rowAt(local));
}

QAccessibleInterface *ResultListAccessible::create(const QString &className, QObject *object)
{
    if (className == QLatin1String("ResultList") && object && object->isWidgetType())
        return new ResultListAccessible(static_cast<ResultList *>(object));
    return nullptr;
}

// ---- one row ------------------------------------------------------------------

ResultRowAccessible::ResultRowAccessible(ResultList *list, int row) : m_list(list), m_row(row) {}

bool ResultRowAccessible::isValid() const
{
    return m_list && m_row >= 0 && m_row < m_list->rowCount();
}

QWindow *ResultRowAccessible::window() const
{
    return m_list ? m_list->window()->windowHandle() : nullptr;
}

QAccessibleInterface *ResultRowAccessible::parent() const
{
    return m_list ? QAccessible::queryAccessibleInterface(m_list.data()) : nullptr;
}

QString ResultRowAccessible::text(QAccessible::Text t) const
{
    if (!isValid())
        return QString();
    switch (t) {
    case QAccessible::Name: {
        const QString title = m_list->text(m_row, ResultList::TitleColumn);
        const QString singer = m_list->text(m_row, ResultList::SingerColumn);
        return singer.isEmpty() ? title : title + QStringLiteral(" - ") + singer;
    }
    case QAccessible::Description:
        return QStringLiteral("专辑：") + m_list->text(m_row, ResultList::AlbumColumn) +
               QStringLiteral(" | 歌曲ID：") + m_list->text(m_row, ResultList::IdColumn);
    default:
        return QString();
    }
}

QRect ResultRowAccessible::rect() const
{
    if (!isValid())
        return QRect();
    const QRect row = m_list->rowRect(m_row).intersected(m_list->viewport()->rect());
    return QRect(m_list->viewport()->mapToGlobal(row.topLeft()), row.size());
}

QAccessible::State ResultRowAccessible::state() const
{
    QAccessible::State s;
    if (!isValid()) {
        s.invalid = true;
        return s;
    }
    s.selectable = true;
    s.focusable = true;
    s.checkable = true;
    s.checked = m_list->isTicked(m_row);
    s.selected = m_list->currentRow() == m_row;
    s.focused = s.selected && m_list->hasFocus();
    s.invisible = m_list->rowRect(m_row).intersected(m_list->viewport()->rect()).isEmpty();
    s.offscreen = s.invisible;
    return s;
}

void *ResultRowAccessible::interface_cast(QAccessible::InterfaceType type)
{
    return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this)
                                                : nullptr;
}

QStringList ResultRowAccessible::actionNames() const
{
    return {toggleAction()};
}

void ResultRowAccessible::doAction(const QString &actionName)
{
    if (isValid() && actionName == toggleAction())
        m_list->setTicked(m_row, !m_list->isTicked(m_row));
}
