// The search-result list: one row per SearchResult under a header of four
// columns (song ID, title, singer, album), a tick box in each row's first
// cell, one selected row, drawn by the list itself.
//
// A list of its own rather than an item view: the window shows it from the
// start, and Qt's item views bring their model, header and delegate
// machinery (well over a mebibyte of the program's memory) for what is a
// plain table of texts here.
//
// What the user can do, as with a report-style list control: click a row to
// select it (any button), click its tick box to tick or untick it,
// double-click a row, move the selection with the arrow, page and Home/End
// keys, tick with Space, scroll sideways with Left/Right or the scroll bar,
// drag a column's right edge in the header to size it, and double-click
// that edge to fit the column to its texts.
//
// Colours come from the palette (Base, AlternateBase, Text, Highlight,
// HighlightedText), which the skin's style sheet sets through background,
// alternate-background-color, color and selection-*; the rest are
// properties the skin sets with qproperty-*.
#pragma once

#include "service/SearchResult.h"
#include "window/results/ResultListGeometry.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QList>
#include <QStringList>

class QFontMetrics;
class ResultListHeader;

class ResultList : public QAbstractScrollArea
{
    Q_OBJECT
    Q_PROPERTY(QColor hoverColor READ hoverColor WRITE setHoverColor)
    Q_PROPERTY(QColor headerColor READ headerColor WRITE setHeaderColor)
    Q_PROPERTY(QColor headerTextColor READ headerTextColor WRITE setHeaderTextColor)
    Q_PROPERTY(QColor headerLineColor READ headerLineColor WRITE setHeaderLineColor)
    Q_PROPERTY(QColor tickColor READ tickColor WRITE setTickColor)
    Q_PROPERTY(QColor tickBorderColor READ tickBorderColor WRITE setTickBorderColor)
    Q_PROPERTY(QColor tickBackgroundColor READ tickBackgroundColor WRITE setTickBackgroundColor)
    Q_PROPERTY(int rowHeight READ rowHeight WRITE setRowHeight)

public:
    // The columns, in the order of their texts in a row.
    enum Column { IdColumn, TitleColumn, SingerColumn, AlbumColumn, ColumnCount };

    explicit ResultList(QWidget *parent = nullptr);
    ~ResultList() override;

    // Header captions and widths in pixels, one per Column.
    void setColumns(const QStringList &captions, const QList<int> &widths);
    int columnCount() const { return int(m_captions.size()); }
    QString columnCaption(int column) const { return m_captions.value(column); }
    int columnWidth(int column) const { return m_geometry.columnWidths.value(column); }
    // A column's left edge in the list area, scrolled sideways; with
    // column == columnCount(), where the last column ends.
    int columnLeft(int column) const { return m_geometry.columnLeft(column); }
    void setColumnWidth(int column, int width);
    // Widens or narrows a column to its widest text, its caption included.
    void fitColumnToContents(int column);

    int rowCount() const { return int(m_rows.size()); }
    // A row's texts by Column, or an empty text where none is.
    QString text(int row, int column) const;
    const SearchResult &row(int row) const { return m_rows.at(row); }
    void appendRows(const QList<SearchResult> &rows);
    void clear();
    bool isTicked(int row) const { return row >= 0 && row < rowCount() && m_rows.at(row).ticked; }
    void setTicked(int row, bool ticked);

    // The selected row, or -1. Selecting a row does not scroll to it.
    int currentRow() const { return m_current; }
    void setCurrentRow(int row);
    void scrollToRow(int row);
    // The row under a point of the list area (viewport()), or -1.
    int rowAt(const QPoint &viewportPos) const;
    // A row's rectangle in the list area.
    QRect rowRect(int row) const { return m_geometry.rowRect(row); }
    QRect tickRect(int row) const { return m_geometry.tickRect(row); }
    int firstVisibleRow() const { return m_geometry.firstRow; }
    int headerHeight() const;

    QColor hoverColor() const { return m_hoverColor; }
    void setHoverColor(const QColor &color);
    QColor headerColor() const { return m_headerColor; }
    void setHeaderColor(const QColor &color);
    QColor headerTextColor() const { return m_headerTextColor; }
    void setHeaderTextColor(const QColor &color);
    QColor headerLineColor() const { return m_headerLineColor; }
    void setHeaderLineColor(const QColor &color);
    QColor tickColor() const { return m_tickColor; }
    void setTickColor(const QColor &color);
    QColor tickBorderColor() const { return m_tickBorderColor; }
    void setTickBorderColor(const QColor &color);
    QColor tickBackgroundColor() const { return m_tickBackgroundColor; }
    void setTickBackgroundColor(const QColor &color);
    int rowHeight() const { return m_geometry.rowHeight; }
    void setRowHeight(int height);

Q_SIGNALS:
    void rowDoubleClicked(int row);
    void currentRowChanged(int row);
    void tickChanged(int row);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    friend class ResultListHeader;

    void paintHeader(QPainter &painter, const QRect &area);
    // One cell's text, cut to the cell with the playlist's ellipsis.
    static void drawCellText(QPainter &painter, const QFontMetrics &metrics, const QRect &cell,
                             const QString &text);
    void paintRow(QPainter &painter, int row);
    void headerPressed(const QPoint &pos);
    void headerMoved(const QPoint &pos, Qt::MouseButtons buttons);
    void headerReleased();
    void headerDoubleClicked(const QPoint &pos);

    void layoutHeader();
    void updateScrollBars();
    void updateRow(int row);
    void setHovered(int row);
    void moveCurrent(int row);
    int widestText(int column) const;

    QStringList m_captions;
    QList<SearchResult> m_rows;
    ResultListGeometry m_geometry;
    ResultListHeader *m_header = nullptr;
    int m_current = -1;
    int m_hovered = -1;
    int m_pressedRow = -1;
    bool m_pressedOnTick = false;
    int m_draggedColumn = -1;
    int m_dragStartX = 0;
    int m_dragStartWidth = 0;

    QColor m_hoverColor;
    QColor m_headerColor;
    QColor m_headerTextColor;
    QColor m_headerLineColor;
    QColor m_tickColor;
    QColor m_tickBorderColor;
    QColor m_tickBackgroundColor;
};
