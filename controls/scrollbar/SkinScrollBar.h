// A self-drawn scroll bar, vertical or horizontal, with two optional arrow
// buttons, a track and a draggable thumb, painted from the skin bitmaps.
//
// The value model: value stays within minimum..maximum through every setter; an arrow
// button steps by smallChange, a click in the track by largeChange, and
// holding either repeats after changeDelay every changeFrequency ms. valueChanged is
// raised whenever the value moves (setter, step, or the end of a drag that moved
// it); scrolled while the thumb is dragged. shown and hidden follow the widget's
// visibility.
//
// Raw input, painting, sizing and the timers reach the bar through its own
// MessageHook, as window messages, so that the order of handling is the same
// as the list box's.
#pragma once

#include "controls/MessageHook.h"
#include "controls/scrollbar/ScrollBarGeometry.h"

#include <QBrush>
#include <QPoint>
#include <QWidget>

#include <functional>
#include <memory>

class PropertyBag;
class QPainter;
class ScrollBarPainter;

class SkinScrollBar : public QWidget, public MessageHookClient
{
    Q_OBJECT

public:
    // Default width of a vertical bar (height of a horizontal one).
    static constexpr int kDefaultThickness = 17;

    explicit SkinScrollBar(QWidget *parent = nullptr);
    ~SkinScrollBar() override;

    int minimum() const { return m_min; }
    void setMinimum(int value);
    int maximum() const { return m_max; }
    void setMaximum(int value);
    int value() const { return m_value; }
    void setValue(int value);
    int smallChange() const { return m_smallChange; }
    void setSmallChange(int value);
    int largeChange() const { return m_largeChange; }
    void setLargeChange(int value);
    int changeDelay() const { return m_changeDelay; }
    void setChangeDelay(int value);
    int changeFrequency() const { return m_changeFrequency; }
    void setChangeFrequency(int value);
    int orientation() const { return m_orientation; }
    void setOrientation(int value);
    bool showButtons() const { return m_showButtons; }
    void setShowButtons(bool value);
    // Repaints the whole bar.
    void refresh();

    // Stored values are taken as they are, without the setters' limits.
    void readProperties(const PropertyBag &bag);
    void writeProperties(PropertyBag &bag) const;

    // Paints every part in its current state onto painter (widget coordinates).
    void paintTo(QPainter *painter);

    QSize sizeHint() const override;

    // Inspection of the current geometry and state.
    const scrollbar::Layout &layout() const { return m_layout; }
    int thumbPos() const { return m_thumbPos; }
    int thumbSize() const { return m_thumbSize; }
    int pressedPart() const { return m_pressedPart; }
    bool isInside() const { return m_inside; }
    bool isTimerRunning(int id) const;

    // Where the hot and inside timers look for the pointer (screen
    // coordinates); QCursor::pos() unless replaced.
    void setCursorSource(std::function<QPoint()> source);

Q_SIGNALS:
    void valueChanged();
    void scrolled();
    void shown();
    void hidden();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void handleMessage(bool before, bool &handled, qint32 &result, QWidget *&window,
                       qint32 &message, qint32 &wParam, qint32 &lParam) override;

    void relayout(bool repaint = true);
    void recomputeThumb();
    void updateThumbRects();
    bool stepBack(int amount, bool repaintAlways);
    bool stepForward(int amount, bool repaintAlways);
    bool stepTo(qint64 target, bool repaintAlways);
    void onButtonDown(qint32 wParam, qint32 lParam);
    void onMouseMove(qint32 wParam, qint32 lParam);
    void onRelease();
    void onTimer(qint32 id);
    void startBarTimer(int id, int milliseconds);
    void stopBarTimer(int id);
    int trackStart() const;
    int trackEnd() const;
    int axisCoordinate(int x, int y) const;
    QPoint cursorInClient() const;

    MessageHook m_hook;
    std::unique_ptr<ScrollBarPainter> m_draw; // made on first paint
    scrollbar::Layout m_layout;
    int m_dragOffset = 0;
    bool m_firstPressed = false;
    bool m_secondPressed = false;
    bool m_trackBeforePressed = false;
    bool m_trackAfterPressed = false;
    bool m_thumbPressed = false;
    bool m_firstHot = false;
    bool m_secondHot = false;
    bool m_thumbHot = false;
    bool m_inside = false;
    qint64 m_range = 100;
    int m_thumbPos = 0;
    int m_thumbSize = 0;
    int m_pressedPart = scrollbar::kPartNone;
    int m_hoverPart = scrollbar::kPartNone;
    int m_lastX = 0;
    int m_lastY = 0;
    int m_dragStartValue = 0;
    bool m_pressSinceRelease = false; // tells a double click that brought its own press
    QBrush m_gapBrush;

    int m_changeDelay = 500;
    int m_changeFrequency = 50;
    int m_max = 100;
    int m_min = 0;
    int m_value = 0;
    int m_smallChange = 1;
    int m_largeChange = 10;
    int m_orientation = scrollbar::kVertical;
    bool m_showButtons = true;

    std::function<QPoint()> m_cursorSource;
};
