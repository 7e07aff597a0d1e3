// PlaylistView drawing. The drawing requests (paint, redrawRows, drawItem)
// only mark the area they would draw as dirty; paintEvent then paints the
// complete visible state inside the dirty region: row backgrounds and
// texts, the playing mark, the fill below the last row and the border.
#include "controls/listbox/PlaylistView.h"

#include "controls/scrollbar/SkinScrollBar.h"

#include <QPaintEvent>
#include <QPainter>

namespace {

// The playing mark is a 12 x 12 picture.
constexpr int kMarkSize = 12;
// Gap between the row's left edge and the playing mark.
constexpr int kMarkLeft = 2;

constexpr int kAlignLeft = 0;
constexpr int kAlignCentre = 1;

} // namespace

int PlaylistView::lastRowIndex() const
{
    return listgeo::lastRowIndex(layout(), m_firstIndex);
}

listgeo::Layout PlaylistView::layout() const
{
    listgeo::Layout l;
    l.width = width();
    l.height = height();
    l.border = m_props.border;
    l.borderWidth = m_props.borderWidth;
    l.itemHeight = m_props.itemHeight;
    l.barVisible = m_scrollBar && !m_scrollBar->isHidden();
    l.barWidth = m_scrollBar ? m_scrollBar->width() : 0;
    return l;
}

QRect PlaylistView::rowRect(int item) const
{
    return listgeo::rowRect(layout(), m_firstIndex, item);
}

void PlaylistView::paint()
{
    update();
}

void PlaylistView::redrawRows()
{
    // Every row plus whatever lies below the last one, down to the bottom
    // edge (the fill and the bottom border line the last row restores).
    const listgeo::Layout l = layout();
    const int x0 = listgeo::inset(l);
    update(QRect(x0, x0, listgeo::rowWidth(l), height() - x0));
}

void PlaylistView::drawItem(int item)
{
    if (!isValidIndex(item) || item < m_firstIndex || item > lastRowIndex())
        return;
    const listgeo::Layout l = layout();
    QRect dirty = listgeo::rowRect(l, m_firstIndex, item);
    // The last item and the last row also paint what lies below them.
    if (item >= listCount() - 1 || item >= lastRowIndex())
        dirty = dirty.united(QRect(0, dirty.top(), width(), height() - dirty.top()));
    update(dirty);
}

void PlaylistView::drawBorderAgain()
{
    const int bw = m_props.borderWidth;
    update(QRegion(rect()).subtracted(QRect(bw, bw, width() - 2 * bw, height() - 2 * bw)));
}

void PlaylistView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const listgeo::Layout l = layout();

    painter.setFont(m_props.listFont);
    const int x0 = listgeo::inset(l);
    const int last = std::min(lastRowIndex(), listCount() - 1);
    if (listCount() == 0 || m_firstIndex > last) {
        // Nothing but the background, inside the border when there is one.
        painter.fillRect(QRect(x0, x0, width() - 2 * x0, height() - 2 * x0), m_props.backColor);
    } else {
        // The rows and the fill below the last one cover the inner area.
        for (int m = std::max<int>(m_firstIndex, 0); m <= last; ++m) {
            QRect reach = listgeo::rowRect(l, m_firstIndex, m);
            if (m == last)
                reach.setBottom(height());
            if (reach.intersects(event->rect()))
                paintRow(painter, l, m);
        }
    }
    // Under the bar, in case its skin leaves anything uncovered.
    if (l.barVisible)
        painter.fillRect(m_scrollBar->geometry(), m_props.backColor);

    if (m_props.border) {
        const int bw = m_props.borderWidth;
        const QColor c = m_props.borderColor;
        // The outline lies inside the control, as wide as the rows' inset.
        painter.fillRect(QRect(0, 0, width(), bw), c);
        painter.fillRect(QRect(0, height() - bw, width(), bw), c);
        painter.fillRect(QRect(0, 0, bw, height()), c);
        painter.fillRect(QRect(width() - bw, 0, bw, height()), c);
    }
}

void PlaylistView::paintRow(QPainter &painter, const listgeo::Layout &l, int m)
{
    // Drawing a row checks its file again when the control checks files.
    const PlaylistItem &item = m_store->recheck(m);

    const int x0 = listgeo::inset(l);
    const int width = listgeo::rowWidth(l);
    const int itemHeight = listgeo::rowHeight(l);
    const int top = listgeo::rowTop(l, m_firstIndex, m);

    // The alternation counts from the top row of the view, not from item 0.
    QColor background;
    QColor text;
    if (m == listIndex()) {
        background = m_props.selectedBackColor;
        text = m_props.selectedTextColor;
    } else {
        background = (m - m_firstIndex) % 2 == 0 ? m_props.itemBackColor1 : m_props.itemBackColor2;
        text = item.itemError     ? m_props.errorTextColor
               : m == playIndex() ? m_props.playingTextColor
                                  : m_props.textColor;
    }
    painter.fillRect(QRect(x0, top, width, itemHeight), background);
    painter.setPen(text);

    const listgeo::RowCells cells = listgeo::rowCells(l, m_numberWidth, m_authorWidth, m_timeWidth);
    const int textTop = listgeo::centredTop(top, itemHeight, m_metrics.height());
    if (m != playIndex() || item.itemError) {
        drawTextFit(painter, QString::number(m + 1), cells.number.x, textTop, cells.number.width,
                    itemHeight, kAlignCentre);
    } else {
        m_playMark.draw(&painter, x0 + kMarkLeft, listgeo::centredTop(top, itemHeight, kMarkSize),
                        0);
    }
    drawTextFit(painter, item.title, cells.title.x, textTop, cells.title.width, itemHeight,
                kAlignLeft);
    drawTextFit(painter, item.author, cells.author.x, textTop, cells.author.width, itemHeight,
                kAlignCentre);
    drawTextFit(painter, item.timeText, cells.time.x, textTop, cells.time.width, itemHeight,
                kAlignCentre);

    if (m >= listCount() - 1 || m >= lastRowIndex()) {
        const qint64 rowsBottom = (qint64(m) - m_firstIndex + 1) * itemHeight;
        const int innerHeight = listgeo::innerHeight(l);
        if (rowsBottom < innerHeight)
            painter.fillRect(QRect(x0, top + itemHeight, width, innerHeight - int(rowsBottom)),
                             m_props.backColor);
        // The bottom border is drawn after the rows in paintEvent, so the
        // cut last row cannot hide it.
    }
}

void PlaylistView::drawTextFit(QPainter &painter, const QString &text, int x, int y, int w, int h,
                               int alignment)
{
    if (text.isEmpty() || w <= 0)
        return;
    // Texts are placed by their baseline rather than laid out in a box:
    // the row geometry already decided where they go, and this is the
    // cheap path for a full view of rows.
    const int baseline = y + m_metrics.ascent();
    const listgeo::TextFit fit =
        listgeo::fitText(text, w, [this](const QString &s, int n) { return cachedWidth(s, n); });
    // A right-to-left text (its first strong character says so) is laid
    // out in its own direction, so its runs keep their order.
    const bool rightToLeft = text.isRightToLeft();
    const int fitLeft = alignment == kAlignCentre ? x + (w - fit.prefixWidth) / 2 : x;
    if (fit.fits && !rightToLeft) {
        painter.drawText(QPoint(fitLeft, baseline), text);
        return;
    }
    painter.save();
    if (rightToLeft)
        painter.setLayoutDirection(Qt::RightToLeft);
    if (fit.fits) {
        painter.drawText(QPoint(fitLeft, baseline), text);
        painter.restore();
        return;
    }
    // A shortened text keeps its start and ends in the ellipsis where its
    // direction ends, whatever the cell's alignment. When not even one
    // character fits, only the ellipsis shows, cut at the cell's edge.
    const QString ellipsis = QString::fromUtf16(listgeo::kEllipsis);
    const listgeo::CutPlacement place =
        listgeo::placeCut(fit, x, w, cachedWidth(ellipsis, int(ellipsis.size())), rightToLeft);
    painter.setClipRect(QRect(x, y, w, h), Qt::IntersectClip);
    if (fit.chars > 0)
        painter.drawText(QPoint(place.textLeft, baseline), text.left(fit.chars));
    painter.drawText(QPoint(place.ellipsisLeft, baseline), ellipsis);
    painter.restore();
}
