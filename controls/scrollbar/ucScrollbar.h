// A self-drawn scroll bar, vertical or horizontal, with two optional arrow
// buttons, a track and a draggable thumb, painted from the skin bitmaps.
//
// The value model: Value stays within Min..Max through every setter; an arrow
// button steps by SmallChange, a click in the track by LargeChange, and
// holding either repeats after ChangeDelay every ChangeFrequency ms. Change is
// raised whenever Value moves (setter, step, or the end of a drag that moved
// it); Scroll while the thumb is dragged. Show and Hide follow the widget's
// visibility.
//
// Raw input, painting, sizing and the timers reach the bar through its own
// SubclassHook, as window messages, so that the order of handling is the same
// as the list box's.
#pragma once

#include "controls/listbox/SubclassHook.h"
#include "controls/scrollbar/ScrollbarGeometry.h"

#include <QBrush>
#include <QPoint>
#include <QWidget>

#include <functional>
#include <memory>

class PropertyBag;
class QPainter;
class cScrollbarDraw;

class ucScrollbar : public QWidget, public SubclassOwner
{
    Q_OBJECT

public:
    // Default width of a vertical bar (height of a horizontal one).
    static constexpr int kDefaultThickness = 17;

    explicit ucScrollbar(QWidget *parent = nullptr);
    ~ucScrollbar() override;

    int Min() const { return m_min; }
    void setMin(int New_Min);
    int Max() const { return m_max; }
    void setMax(int New_Max);
    int Value() const { return m_value; }
    void setValue(int New_Value);
    int SmallChange() const { return m_smallChange; }
    void setSmallChange(int New_SmallChange);
    int LargeChange() const { return m_largeChange; }
    void setLargeChange(int New_LargeChange);
    int ChangeDelay() const { return m_changeDelay; }
    void setChangeDelay(int New_ChangeDelay);
    int ChangeFrequency() const { return m_changeFrequency; }
    void setChangeFrequency(int New_ChangeFrequency);
    int Orientation() const { return m_orientation; }
    void setOrientation(int New_Orientation);
    bool ShowButtons() const { return m_showButtons; }
    void setShowButtons(bool New_ShowButtons);
    // The enabled state of the widget; set it with QWidget::setEnabled.
    bool Enabled() const { return isEnabled(); }
    QWidget *hWnd() { return this; }
    // Repaints the whole bar.
    void Refresh();

    // Stored values are taken as they are, without the setters' limits.
    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag) const;

    // Paints every part in its current state onto hdc (widget coordinates).
    void PaintTo(QPainter *hdc);

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
    void Change();
    void Scroll();
    void Show();
    void Hide();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void zSubclass_Proc(bool bBefore, bool &bHandled, qint32 &lReturn, QWidget *&lhWnd,
                        qint32 &uMsg, qint32 &wParam, qint32 &lParam) override;

    void Relayout(bool repaint = true);
    void recomputeThumb();
    void updateThumbRects();
    bool StepBack(int amount, bool repaintAlways);
    bool StepForward(int amount, bool repaintAlways);
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

    SubclassHook m_hook;
    std::unique_ptr<cScrollbarDraw> m_draw; // made on first paint
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
