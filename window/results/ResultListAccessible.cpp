#include "window/results/ResultListAccessible.h"

#include "window/results/ResultList.h"

namespace {

// The list's name when the window gives it none.
const QString kListName = QStringLiteral("搜索结果");

} // namespace

ResultListAccessible::ResultListAccessible(ResultList *list)
    : QAccessibleWidget(list, QAccessible::List)
{
}

ResultListAccessible::~ResultListAccessible() = default;

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
    return m_rows.row(index, [&] { return new ResultRowAccessible(list(), index); });
}

int ResultListAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    return ListRowCache::indexOf(child, this, list()->rowCount());
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

ResultRowAccessible::ResultRowAccessible(ResultList *list, int row) : ListRowAccessible(list, row)
{
}

ResultList *ResultRowAccessible::list() const
{
    return static_cast<ResultList *>(listWidget());
}

int ResultRowAccessible::listRowCount() const
{
    return list() ? list()->rowCount() : 0;
}

QString ResultRowAccessible::text(QAccessible::Text t) const
{
    if (!isValid())
        return QString();
    switch (t) {
    case QAccessible::Name:
        return titleAndSinger(list()->text(m_row, ResultList::TitleColumn),
                              list()->text(m_row, ResultList::SingerColumn));
    case QAccessible::Description:
        return QStringLiteral("专辑：") + list()->text(m_row, ResultList::AlbumColumn) +
               QStringLiteral(" | 歌曲ID：") + list()->text(m_row, ResultList::IdColumn);
    default:
        return QString();
    }
}

QRect ResultRowAccessible::rect() const
{
    if (!isValid())
        return QRect();
    const QRect row = list()->rowRect(m_row).intersected(list()->viewport()->rect());
    return QRect(list()->viewport()->mapToGlobal(row.topLeft()), row.size());
}

QAccessible::State ResultRowAccessible::state() const
{
    if (!isValid())
        return rowState(false, false);
    QAccessible::State s =
        rowState(list()->currentRow() == m_row,
                 list()->rowRect(m_row).intersected(list()->viewport()->rect()).isEmpty());
    s.checkable = true;
    s.checked = list()->isTicked(m_row);
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
        list()->setTicked(m_row, !list()->isTicked(m_row));
}
