// The playlist control: an owner-drawn list of PlaylistItem rows with a
// number (or the playing mark), title, author and time cell per row, a
// selected item (ListIndex), a playing item (PlayIndex), and an embedded
// vertical ucScrollbar that scrolls the view row by row.
//
// Drawing is row by row: a change asks for a repaint of just the rows it
// affects (update() of their rectangles), and paintEvent paints the whole
// visible state inside the region asked for. The pixel arithmetic lives in
// ListGeometry so it can be tested without a widget.
//
// Events are Qt signals raised synchronously from inside the control.
// ListIndexChanged and PlayIndexChanged pass their arguments by reference:
// connect them directly (never queued) and a handler may change NewIndex
// (or OldIndex), which the control then uses. Handlers may call back into
// the control.
#pragma once

#include "controls/listbox/ListBoxProperties.h"
#include "controls/listbox/ListGeometry.h"
#include "controls/listbox/PlaylistItem.h"
#include "controls/listbox/SubclassHook.h"
#include "gfx/ClsIcon.h"

#include <QFontMetrics>
#include <QHash>
#include <QList>
#include <QWidget>

#include <optional>

class PropertyBag;
class ucScrollbar;

class NaluListBox : public QWidget, public SubclassOwner
{
    Q_OBJECT

public:
    // Indexes are 16-bit, so the list holds at most this many items.
    static constexpr int kMaxItems = 32768;

    explicit NaluListBox(QWidget *parent = nullptr);
    ~NaluListBox() override;

    // Appends (Index omitted) or inserts at Index (0..ListCount). Returns
    // the new ListCount, or -1 when Index is out of range or the list is
    // full; nothing is added then.
    int AddItem(const QString &Title, const QString &Author = defaultAuthor(),
                const QString &URL = QString(), const QString &LongTime = QString(),
                std::optional<int> Index = std::nullopt);
    // Returns the new ListCount, or -1 when Index names no item.
    int RemoveItem(int Index);
    void Clear();
    // Repaints the whole control.
    void Refresh();

    // The control's own window.
    QWidget *hWnd() { return this; }
    int ListCount() const { return int(m_items.size()); }
    short ListIndex() const { return m_listIndex; }
    void setListIndex(int NewValue);
    short PlayIndex() const { return m_playIndex; }
    void setPlayIndex(int NewValue);
    short FirstIndex() const { return m_firstIndex; }
    // The last row the view reaches, at most the last item (-1 when empty).
    short LastIndex() const;
    short IndexFromPoint(float X, float Y) const;

    // Item fields. Reading an index that names no item gives the empty text
    // (False); writing one does nothing.
    QString Title(int Index) const;
    void setTitle(int Index, const QString &NewValue);
    QString Author(int Index) const;
    void setAuthor(int Index, const QString &NewValue);
    QString URL(int Index) const;
    void setURL(int Index, const QString &NewValue);
    QString StrTime(int Index) const;
    void setStrTime(int Index, const QString &NewValue);
    // Durations are not read back in this player: always 0.
    int LongTime(int Index) const;
    bool ItemError(int Index) const;
    void setItemError(int Index, bool NewValue);

    // Persisted properties. Setters do nothing for an unchanged value (Font
    // always applies) and otherwise raise PropertyChanged with the name.
    QColor BackColor() const { return m_props.BackColor; }
    void setBackColor(const QColor &New_BackColor);
    QFont Font() const { return m_props.Font; }
    // Hides QWidget::setFont on purpose: the column widths follow the font.
    void setFont(const QFont &New_Font);
    bool AutoCheckError() const { return m_props.AutoCheckError; }
    void setAutoCheckError(bool New_AutoCheckError);
    int ItemHeight() const { return m_props.ItemHeight; }
    // Values below 1 are taken as 1.
    void setItemHeight(int New_ItemHeight);
    QColor ItemBkColor1() const { return m_props.ItemBkColor1; }
    void setItemBkColor1(const QColor &New_ItemBkColor1);
    QColor ItemBkColor2() const { return m_props.ItemBkColor2; }
    void setItemBkColor2(const QColor &New_ItemBkColor2);
    QColor ItemSelBkColor() const { return m_props.ItemSelBkColor; }
    void setItemSelBkColor(const QColor &New_ItemSelBkColor);
    QColor ItemNorTextColor() const { return m_props.ItemNorTextColor; }
    void setItemNorTextColor(const QColor &New_ItemNorTextColor);
    QColor ItemSelTextColor() const { return m_props.ItemSelTextColor; }
    void setItemSelTextColor(const QColor &New_ItemSelTextColor);
    QColor ItemPlyTextColor() const { return m_props.ItemPlyTextColor; }
    void setItemPlyTextColor(const QColor &New_ItemPlyTextColor);
    QColor ItemErrTextColor() const { return m_props.ItemErrTextColor; }
    void setItemErrTextColor(const QColor &New_ItemErrTextColor);
    bool Border() const { return m_props.Border; }
    void setBorder(bool New_Border);
    QColor BorderColor() const { return m_props.BorderColor; }
    void setBorderColor(const QColor &New_BorderColor);
    short BorderWidth() const { return m_props.BorderWidth; }
    // Values below 1 are taken as 1 (a line cannot be thinner).
    void setBorderWidth(int New_BorderWidth);

    // Property store: the values of a newly placed control, reading saved
    // values (missing keys keep the current value) and writing every key.
    void InitProperties();
    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag) const;
    const ListBoxProperties &properties() const { return m_props; }
    // What the main window's playlist is stored with; apply with
    // ReadProperties.
    static PropertyBag mainWindowProperties();

    // Current geometry, for the main window and the tests.
    listgeo::Layout layout() const;
    QRect rowRect(int item) const;
    int NumberWidth() const { return m_numberWidth; }
    int AuthorWidth() const { return m_authorWidth; }
    int TimeWidth() const { return m_timeWidth; }
    ucScrollbar *scrollBar() const { return ucBar; }

    static const QString &defaultAuthor();

Q_SIGNALS:
    // Button: 1 left, 2 right, 4 middle. Shift: 1 shift, 2 ctrl, 4 alt.
    // X, Y: pixels in the control.
    void Click(short Button, short Shift, float X, float Y);
    void DBClick(short Button, short Shift, float X, float Y);
    void MouseDown(short Button, short Shift, float X, float Y);
    void MouseMove(short Button, short Shift, float X, float Y);
    void MouseUp(short Button, short Shift, float X, float Y);
    // wFlag: 1 when the property was set, 0 when the mouse changed it.
    void ListIndexChanged(short &OldIndex, short &NewIndex, short &wFlag);
    void PlayIndexChanged(short &OldIndex, short &NewIndex, short &wFlag);
    // The view was scrolled by the wheel or by dragging the bar's thumb.
    void Scroll();
    void Resize();
    // The host's property-changed notification.
    void PropertyChanged(const QString &name);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    using IndexSignal = void (NaluListBox::*)(short &, short &, short &);

    struct MouseState
    {
        short button = 0;
        short shift = 0;
        float x = 0;
        float y = 0;
    };

    void zSubclass_Proc(bool bBefore, bool &bHandled, qint32 &lReturn, QWidget *&lng_hWnd,
                        qint32 &uMsg, qint32 &wParam, qint32 &lParam) override;

    // Store and index handling (NaluListBox.cpp).
    bool isValidIndex(int index) const;
    PlaylistItem *itemAt(int index);
    const PlaylistItem *itemAt(int index) const;
    void setIndexProperty(short &current, int newValue, IndexSignal signal, const QString &name);
    // Raises the signal for a move of current to proposed, stores the
    // handler's NewIndex and redraws the rows involved.
    void changeIndex(short &current, short proposed, short wFlag, IndexSignal signal);
    bool checkItemFile(const PlaylistItem &item) const;
    // Stores a changed property value and tells the host; false when the
    // value was already set.
    template <typename T> bool storeProperty(T &field, const T &value, const QString &name);
    void applyProperties();
    void resetColumnWidths();
    int textWidth(const QString &text) const;
    // Width of the decimal text of a row number, as textWidth would measure
    // it, but from cached digit advances: AddItem measures one on every add.
    int numberTextWidth(int number) const;
    void setMetrics(const QFont &font);
    // Width of the first length characters of text, remembered per text:
    // a repaint measures every visible cell again, mostly the same texts.
    int cachedWidth(const QString &text, int length) const;

    // Drawing (NaluListBoxPaint.cpp): the requests only mark areas dirty.
    void Paint();
    void RedrawRows();
    void DrawItem(int item);
    void drawBorderAgain();
    void paintRow(QPainter &painter, const listgeo::Layout &layout, int item);
    void DrawTextFit(QPainter &painter, const QString &text, int x, int y, int w, int h,
                     int alignment);

    // Scrolling and layout (NaluListBoxInput.cpp).
    void UpdateScrollRange();
    void placeBar();
    void handleResize();
    void onWheel(int delta);
    void onBarChange();
    void onBarScroll();
    int lastRowIndex() const;
    static short buttonCode(Qt::MouseButtons buttons);
    static short shiftCode(Qt::KeyboardModifiers modifiers);

    QList<PlaylistItem> m_items;
    short m_listIndex = -1;
    short m_playIndex = -1;
    short m_firstIndex = 0;
    ListBoxProperties m_props;
    QFontMetrics m_metrics;
    // Advance of each digit 0-9, or empty when the font kerns digit pairs
    // (then numbers are measured whole).
    QList<qreal> m_digitAdvances;
    mutable QHash<QString, int> m_widthCache;
    int m_numberWidth = 0;
    int m_authorWidth = 0;
    int m_timeWidth = 0;
    MouseState m_lastMouseDown;
    // A press on this control is waiting for its release (which raises Click).
    bool m_pressPending = false;
    QSize m_lastSize;
    ClsIcon m_playMark;
    SubclassHook m_hook;
    ucScrollbar *ucBar = nullptr;
};
