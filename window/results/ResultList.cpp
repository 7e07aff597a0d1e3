#include "window/results/ResultList.h"

#include "window/results/ResultListAccessible.h"

#include "controls/listbox/ListGeometry.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace {

// Room on every side of a header caption, in pixels.
constexpr int kHeaderPadding = 6;
// Pixels one step of the horizontal scroll bar (or Left/Right) moves.
constexpr int kSidewaysStep = 20;
// Corner radius of a tick box.
constexpr qreal kTickRadius = 3.0;

QColor colorOr(const QColor &set, const QColor &fallback)
{
    return set.isValid() ? set : fallback;
}

} // namespace

// The header strip above the list area: it draws and takes input through
// the list, which owns the columns.
class ResultListHeader : public QWidget
{
public:
    explicit ResultListHeader(ResultList *list) : QWidget(list), m_list(list)
    {
        setMouseTracking(true);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        m_list->paintHeader(painter, event->rect());
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            m_list->headerPressed(event->position().toPoint());
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        m_list->headerMoved(event->position().toPoint(), event->buttons());
    }
    void mouseReleaseEvent(QMouseEvent *) override { m_list->headerReleased(); }
    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            m_list->headerDoubleClicked(event->position().toPoint());
    }

private:
    ResultList *m_list;
};

ResultList::ResultList(QWidget *parent) : QAbstractScrollArea(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&ResultListAccessible::create);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    // The skin's background and text colours land on these roles.
    setBackgroundRole(QPalette::Base);
    setForegroundRole(QPalette::Text);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    m_header = new ResultListHeader(this);
    horizontalScrollBar()->setSingleStep(kSidewaysStep);
    layoutHeader();
}

ResultList::~ResultList() = default;

// ---- columns ----------------------------------------------------------------

void ResultList::setColumns(const QStringList &captions, const QList<int> &widths)
{
    m_captions = captions;
    m_geometry.columnWidths.clear();
    for (int c = 0; c < captions.size(); ++c)
        m_geometry.columnWidths.append(
            std::max(ResultListGeometry::kMinColumnWidth, widths.value(c)));
    updateScrollBars();
    viewport()->update();
    m_header->update();
}

void ResultList::setColumnWidth(int column, int width)
{
    if (column < 0 || column >= m_geometry.columnWidths.size())
        return;
    m_geometry.columnWidths[column] = std::max(ResultListGeometry::kMinColumnWidth, width);
    updateScrollBars();
    viewport()->update();
    m_header->update();
}

int ResultList::widestText(int column) const
{
    int widest = 0;
    const QFontMetrics rowMetrics = fontMetrics();
    for (int r = 0; r < rowCount(); ++r)
        widest = std::max(widest, rowMetrics.horizontalAdvance(text(r, column)));
    widest += 2 * ResultListGeometry::kCellPadding;
    if (column == IdColumn)
        widest += ResultListGeometry::kTickSize + ResultListGeometry::kTickGap;
    const int caption = m_header->fontMetrics().horizontalAdvance(m_captions.value(column)) +
                        2 * kHeaderPadding + 1;
    return std::max(widest, caption);
}

void ResultList::fitColumnToContents(int column)
{
    if (column >= 0 && column < columnCount())
        setColumnWidth(column, widestText(column));
}

// ---- rows -------------------------------------------------------------------

QString ResultList::text(int row, int column) const
{
    if (row < 0 || row >= rowCount())
        return QString();
    const SearchResult &r = m_rows.at(row);
    switch (column) {
    case IdColumn:
        return r.songId;
    case TitleColumn:
        return r.title;
    case SingerColumn:
        return r.singer;
    case AlbumColumn:
        return r.album;
    default:
        return QString();
    }
}

void ResultList::appendRows(const QList<SearchResult> &rows)
{
    if (rows.isEmpty())
        return;
    const int first = rowCount();
    m_rows.append(rows);
    updateScrollBars();
    // Only rows that land in view need painting.
    if (first < m_geometry.firstRow + m_geometry.rowsPerPage() + 1)
        viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleEvent reordered(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&reordered);
    }
}

void ResultList::clear()
{
    m_rows.clear();
    m_rows.squeeze();
    const bool hadCurrent = m_current >= 0;
    m_current = -1;
    m_hovered = -1;
    m_pressedRow = -1;
    m_geometry.firstRow = 0;
    updateScrollBars();
    viewport()->update();
    if (hadCurrent)
        Q_EMIT currentRowChanged(-1);
    if (QAccessible::isActive()) {
        QAccessibleEvent reordered(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&reordered);
    }
}

void ResultList::setTicked(int row, bool ticked)
{
    if (row < 0 || row >= rowCount() || m_rows.at(row).ticked == ticked)
        return;
    m_rows[row].ticked = ticked;
    updateRow(row);
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        event.setChild(row);
        QAccessible::updateAccessibility(&event);
    }
    Q_EMIT tickChanged(row);
}

// ---- selection and scrolling -------------------------------------------------

void ResultList::setCurrentRow(int row)
{
    if (row < -1 || row >= rowCount())
        row = -1;
    if (row == m_current)
        return;
    const int previous = m_current;
    m_current = row;
    updateRow(previous);
    updateRow(row);
    if (QAccessible::isActive() && row >= 0) {
        QAccessibleEvent selected(this, QAccessible::Selection);
        selected.setChild(row);
        QAccessible::updateAccessibility(&selected);
        if (hasFocus()) {
            QAccessibleEvent focused(this, QAccessible::Focus);
            focused.setChild(row);
            QAccessible::updateAccessibility(&focused);
        }
    }
    Q_EMIT currentRowChanged(row);
}

void ResultList::scrollToRow(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    verticalScrollBar()->setValue(m_geometry.firstRowShowing(row, rowCount()));
}

int ResultList::rowAt(const QPoint &viewportPos) const
{
    if (viewportPos.x() < 0 || viewportPos.x() >= viewport()->width())
        return -1;
    return m_geometry.rowAt(viewportPos.y(), rowCount());
}

void ResultList::moveCurrent(int row)
{
    if (rowCount() == 0)
        return;
    row = std::clamp(row, 0, rowCount() - 1);
    setCurrentRow(row);
    scrollToRow(row);
}

int ResultList::headerHeight() const
{
    // The caption, its room above and below and the bottom line: the
    // height the results header has always had.
    return m_header->fontMetrics().height() + 2 * kHeaderPadding + 1;
}

void ResultList::layoutHeader()
{
    const int height = headerHeight();
    setViewportMargins(0, height, 0, 0);
    const QRect area = viewport()->geometry();
    m_header->setGeometry(area.left(), area.top() - height, area.width(), height);
    m_geometry.viewWidth = area.width();
    m_geometry.viewHeight = area.height();
}

void ResultList::updateScrollBars()
{
    QScrollBar *vertical = verticalScrollBar();
    vertical->setRange(0, m_geometry.maxFirstRow(rowCount()));
    vertical->setPageStep(m_geometry.rowsPerPage());
    vertical->setSingleStep(1);
    QScrollBar *sideways = horizontalScrollBar();
    sideways->setRange(0, m_geometry.maxScrollX());
    sideways->setPageStep(std::max(1, m_geometry.viewWidth));
    // The bars clamp their values; the view follows them.
    m_geometry.firstRow = vertical->value();
    m_geometry.scrollX = sideways->value();
}

void ResultList::scrollContentsBy(int, int)
{
    m_geometry.firstRow = verticalScrollBar()->value();
    m_geometry.scrollX = horizontalScrollBar()->value();
    viewport()->update();
    m_header->update();
}

void ResultList::updateRow(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    const QRect rect = m_geometry.rowRect(row).intersected(viewport()->rect());
    if (!rect.isEmpty())
        viewport()->update(rect);
}

void ResultList::setHovered(int row)
{
    if (row == m_hovered)
        return;
    const int previous = m_hovered;
    m_hovered = row;
    updateRow(previous);
    updateRow(row);
}

// ---- painting -----------------------------------------------------------------

void ResultList::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.setClipRect(event->rect());
    const int last = std::min(rowCount(), m_geometry.firstRow + m_geometry.rowsPerPage() + 1);
    for (int row = m_geometry.firstRow; row < last; ++row) {
        if (m_geometry.rowRect(row).intersects(event->rect()))
            paintRow(painter, row);
    }
}

void ResultList::paintRow(QPainter &painter, int row)
{
    const QPalette &colors = palette();
    const QRect rect = m_geometry.rowRect(row);
    const bool selected = row == m_current;
    if (selected)
        painter.fillRect(rect, colors.color(QPalette::Highlight));
    else if (row == m_hovered)
        painter.fillRect(rect, colorOr(m_hoverColor, colors.color(QPalette::Midlight)));
    else if (row % 2 == 1)
        painter.fillRect(rect, colors.color(QPalette::AlternateBase));

    const QRectF tick = QRectF(m_geometry.tickRect(row)).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool ticked = m_rows.at(row).ticked;
    const QColor tickFill = colorOr(m_tickColor, colors.color(QPalette::Highlight));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(ticked ? tickFill : colorOr(m_tickBorderColor, colors.color(QPalette::Mid)));
    painter.setBrush(ticked ? tickFill
                            : colorOr(m_tickBackgroundColor, colors.color(QPalette::Base)));
    painter.drawRoundedRect(tick, kTickRadius, kTickRadius);
    painter.restore();

    painter.setPen(colors.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const QFontMetrics metrics = fontMetrics();
    for (int c = 0; c < columnCount(); ++c) {
        int left = m_geometry.columnLeft(c) + ResultListGeometry::kCellPadding;
        if (c == IdColumn)
            left += ResultListGeometry::kTickSize + ResultListGeometry::kTickGap;
        const int right = m_geometry.columnLeft(c + 1) - ResultListGeometry::kCellPadding;
        if (right <= left || right < 0 || left > m_geometry.viewWidth)
            continue;
        const QRect cell(left, rect.top(), right - left, rect.height());
        drawCellText(painter, metrics, cell, text(row, c));
    }
}

void ResultList::drawCellText(QPainter &painter, const QFontMetrics &metrics, const QRect &cell,
                              const QString &text)
{
    // A right-to-left text (its first strong character says so) is laid
    // out in its own direction, so its runs keep their order.
    const bool rightToLeft = text.isRightToLeft();
    const int flags = Qt::AlignLeft | Qt::AlignAbsolute | Qt::AlignVCenter | Qt::TextDontClip;
    const listgeo::TextFit fit =
        listgeo::fitText(text, cell.width(), [&metrics](const QString &s, int n) {
            return metrics.horizontalAdvance(n >= s.size() ? s : s.left(n));
        });
    if (fit.fits && !rightToLeft) {
        painter.drawText(cell, flags, text);
        return;
    }
    painter.save();
    painter.setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    if (fit.fits) {
        painter.drawText(cell, flags, text);
        painter.restore();
        return;
    }
    // Cut as the playlist cuts: the start kept, the ellipsis where the
    // text's direction ends (the toolkit's own elision would fall back to
    // three dots in a font without the ellipsis, and put it at the
    // paragraph's end, not the text's).
    const QString ellipsis = QString::fromUtf16(listgeo::kEllipsis);
    const int ellipsisWidth = metrics.horizontalAdvance(ellipsis);
    const listgeo::CutPlacement place =
        listgeo::placeCut(fit, cell.left(), cell.width(), ellipsisWidth, rightToLeft);
    painter.setClipRect(cell, Qt::IntersectClip);
    if (fit.chars > 0)
        painter.drawText(QRect(place.textLeft, cell.top(), fit.prefixWidth, cell.height()), flags,
                         text.left(fit.chars));
    painter.drawText(QRect(place.ellipsisLeft, cell.top(), ellipsisWidth, cell.height()), flags,
                     ellipsis);
    painter.restore();
}

void ResultList::paintHeader(QPainter &painter, const QRect &area)
{
    const QPalette &colors = palette();
    painter.fillRect(area, colorOr(m_headerColor, colors.color(QPalette::Button)));
    const QColor line = colorOr(m_headerLineColor, colors.color(QPalette::Mid));
    painter.setPen(colorOr(m_headerTextColor, colors.color(QPalette::ButtonText)));
    const QFontMetrics metrics = m_header->fontMetrics();
    const int height = m_header->height();
    for (int c = 0; c < columnCount(); ++c) {
        const int left = m_geometry.columnLeft(c);
        const int right = m_geometry.columnLeft(c + 1);
        if (right < area.left() || left > area.right())
            continue;
        const QRect caption(left + kHeaderPadding, 0, right - left - 2 * kHeaderPadding - 1,
                            height);
        if (caption.width() > 0) {
            painter.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter,
                             metrics.elidedText(m_captions.at(c), Qt::ElideRight, caption.width()));
        }
        const QPen text = painter.pen();
        painter.setPen(line);
        painter.drawLine(right - 1, 0, right - 1, height - 1);
        painter.setPen(text);
    }
}

void ResultList::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    layoutHeader();
    updateScrollBars();
}

void ResultList::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    // A new font (the skin's, or the application's) changes the header's
    // height, and the rows must be drawn again in it.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        m_header->setFont(font());
        layoutHeader();
        updateScrollBars();
        viewport()->update();
    }
}

// ---- input ------------------------------------------------------------------

bool ResultList::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Leave)
        setHovered(-1);
    return QAbstractScrollArea::viewportEvent(event);
}

void ResultList::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const int row = rowAt(pos);
    m_pressedRow = row;
    m_pressedOnTick =
        row >= 0 && event->button() == Qt::LeftButton && m_geometry.tickRect(row).contains(pos);
    if (row >= 0)
        setCurrentRow(row);
}

void ResultList::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const int row = rowAt(pos);
    // A tick changes when the press and the release are both on the box,
    // as with any check box.
    if (m_pressedOnTick && event->button() == Qt::LeftButton && row == m_pressedRow &&
        m_geometry.tickRect(row).contains(pos)) {
        setTicked(row, !isTicked(row));
    }
    m_pressedRow = -1;
    m_pressedOnTick = false;
}

void ResultList::mouseDoubleClickEvent(QMouseEvent *event)
{
    const int row = rowAt(event->position().toPoint());
    // The release that ends a double-click does not tick again.
    m_pressedRow = -1;
    m_pressedOnTick = false;
    if (row < 0 || event->button() != Qt::LeftButton)
        return;
    setCurrentRow(row);
    Q_EMIT rowDoubleClicked(row);
}

void ResultList::mouseMoveEvent(QMouseEvent *event)
{
    setHovered(rowAt(event->position().toPoint()));
}

void ResultList::keyPressEvent(QKeyEvent *event)
{
    const int page = m_geometry.rowsPerPage();
    const int current = m_current;
    switch (event->key()) {
    case Qt::Key_Up:
        moveCurrent(current < 0 ? 0 : current - 1);
        break;
    case Qt::Key_Down:
        moveCurrent(current < 0 ? 0 : current + 1);
        break;
    case Qt::Key_PageUp:
        moveCurrent(current - page);
        break;
    case Qt::Key_PageDown:
        moveCurrent(current < 0 ? page - 1 : current + page);
        break;
    case Qt::Key_Home:
        moveCurrent(0);
        break;
    case Qt::Key_End:
        moveCurrent(rowCount() - 1);
        break;
    case Qt::Key_Space:
    case Qt::Key_Select:
        if (current >= 0)
            setTicked(current, !isTicked(current));
        break;
    case Qt::Key_Left:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Right:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void ResultList::headerPressed(const QPoint &pos)
{
    m_draggedColumn = m_geometry.dividerAt(pos.x());
    if (m_draggedColumn >= 0) {
        m_dragStartX = pos.x();
        m_dragStartWidth = columnWidth(m_draggedColumn);
    }
}

void ResultList::headerMoved(const QPoint &pos, Qt::MouseButtons buttons)
{
    if (m_draggedColumn >= 0 && (buttons & Qt::LeftButton)) {
        setColumnWidth(m_draggedColumn, m_dragStartWidth + pos.x() - m_dragStartX);
        return;
    }
    if (m_geometry.dividerAt(pos.x()) >= 0)
        m_header->setCursor(Qt::SplitHCursor);
    else
        m_header->unsetCursor();
}

void ResultList::headerReleased()
{
    m_draggedColumn = -1;
}

void ResultList::headerDoubleClicked(const QPoint &pos)
{
    fitColumnToContents(m_geometry.dividerAt(pos.x()));
}

// ---- skin properties ----------------------------------------------------------

void ResultList::setHoverColor(const QColor &color)
{
    m_hoverColor = color;
    viewport()->update();
}

void ResultList::setHeaderColor(const QColor &color)
{
    m_headerColor = color;
    m_header->update();
}

void ResultList::setHeaderTextColor(const QColor &color)
{
    m_headerTextColor = color;
    m_header->update();
}

void ResultList::setHeaderLineColor(const QColor &color)
{
    m_headerLineColor = color;
    m_header->update();
}

void ResultList::setTickColor(const QColor &color)
{
    m_tickColor = color;
    viewport()->update();
}

void ResultList::setTickBorderColor(const QColor &color)
{
    m_tickBorderColor = color;
    viewport()->update();
}

void ResultList::setTickBackgroundColor(const QColor &color)
{
    m_tickBackgroundColor = color;
    viewport()->update();
}

void ResultList::setRowHeight(int height)
{
    m_geometry.rowHeight = std::max(ResultListGeometry::kTickSize + 2, height);
    updateScrollBars();
    viewport()->update();
}
