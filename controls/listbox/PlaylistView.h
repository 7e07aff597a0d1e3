// The playlist control: an owner-drawn list of PlaylistItem rows with a
// number (or the playing mark), title, author and time cell per row, a
// selected item (listIndex), a playing item (playIndex), and an embedded
// vertical SkinScrollBar that scrolls the view row by row.
//
// The items and the two indexes live in a PlaylistItems store: the
// control's own, or the player's (setStore). The control is a view of it:
// its item operations go to the store, and whatever changes the store, the
// control or anyone else, the control lays out and repaints from the
// store's signals.
//
// Drawing is row by row: a change asks for a repaint of just the rows it
// affects (update() of their rectangles), and paintEvent paints the whole
// visible state inside the region asked for. The pixel arithmetic lives in
// ListGeometry so it can be tested without a widget.
//
// Events are Qt signals raised synchronously from inside the control.
// listIndexChanged and playIndexChanged pass their arguments by reference:
// connect them directly (never queued) and a handler may change newIndex
// (or oldIndex), which the control then uses. Handlers may call back into
// the control.
#pragma once

#include "controls/MessageHook.h"
#include "controls/listbox/ListGeometry.h"
#include "controls/listbox/PlaylistViewProperties.h"
#include "gfx/IconFileReader.h"
#include "player/PlaylistItems.h"

#include <QFontMetrics>
#include <QHash>
#include <QList>
#include <QWidget>

#include <optional>

class PropertyBag;
class SkinScrollBar;

class PlaylistView : public QWidget, public MessageHookClient
{
    Q_OBJECT

public:
    // Indexes are 16-bit, so the list holds at most this many items.
    static constexpr int kMaxItems = PlaylistItems::kMaxItems;

    // A newly placed control (PlaylistViewProperties::newControl()).
    explicit PlaylistView(QWidget *parent = nullptr);
    // A control that starts with other properties, e.g. the main window's:
    // its font is then the only one measured (each face measured stays
    // loaded for the program's life).
    explicit PlaylistView(const PlaylistViewProperties &initial, QWidget *parent = nullptr);
    ~PlaylistView() override;

    // Appends (index omitted) or inserts at index (0..listCount). Returns
    // the new listCount, or -1 when index is out of range or the list is
    // full; nothing is added then.
    int addItem(const QString &title, const QString &author = defaultAuthor(),
                const QString &url = QString(), const QString &duration = QString(),
                std::optional<int> index = std::nullopt);
    // One item for appendItems: addItem's fields without the index.
    struct NewItem
    {
        QString title;
        QString author = defaultAuthor();
        QString url;
        QString duration;
    };
    // Appends the items in order and leaves the control as that many
    // addItem calls would (items, scroll range, indexes, columns), but lays
    // out, asks for a repaint and raises itemsChanged once, not per item: a
    // restored playlist of thousands costs one add. Items past kMaxItems
    // are refused as addItem refuses them. Returns how many were added.
    int appendItems(const QList<NewItem> &items);
    // Returns the new listCount, or -1 when index names no item.
    int removeItem(int index);
    void clear();
    // Repaints the whole control.
    void refresh();

    // The store shown; the control's own until another is set. Another
    // store is shown from its current state on; the control does not own it.
    PlaylistItems *store() const { return m_store; }
    void setStore(PlaylistItems *store);

    int listCount() const { return m_store->count(); }
    short listIndex() const { return m_store->listIndex(); }
    void setListIndex(int value);
    short playIndex() const { return m_store->playIndex(); }
    void setPlayIndex(int value);
    short firstIndex() const { return m_firstIndex; }
    // The last row the view reaches, at most the last item (-1 when empty).
    short lastIndex() const;
    short indexFromPoint(float x, float y) const;

    // Item fields. Reading an index that names no item gives the empty text
    // (False); writing one does nothing.
    QString title(int index) const;
    void setTitle(int index, const QString &value);
    QString author(int index) const;
    void setAuthor(int index, const QString &value);
    QString url(int index) const;
    void setUrl(int index, const QString &value);
    QString timeText(int index) const;
    void setTimeText(int index, const QString &value);
    // Durations are not read back in this player: always 0.
    int duration(int index) const;
    bool itemError(int index) const;
    void setItemError(int index, bool value);

    // Persisted properties. Setters do nothing for an unchanged value (listFont
    // always applies) and otherwise raise propertyChanged with the name.
    QColor backColor() const { return m_props.backColor; }
    void setBackColor(const QColor &value);
    QFont listFont() const { return m_props.listFont; }
    // Hides QWidget::setFont on purpose: the column widths follow the font.
    void setFont(const QFont &value);
    bool autoCheckError() const { return m_props.autoCheckError; }
    void setAutoCheckError(bool value);
    int itemHeight() const { return m_props.itemHeight; }
    // Values below 1 are taken as 1.
    void setItemHeight(int value);
    QColor itemBackColor1() const { return m_props.itemBackColor1; }
    void setItemBackColor1(const QColor &value);
    QColor itemBackColor2() const { return m_props.itemBackColor2; }
    void setItemBackColor2(const QColor &value);
    QColor selectedBackColor() const { return m_props.selectedBackColor; }
    void setSelectedBackColor(const QColor &value);
    QColor textColor() const { return m_props.textColor; }
    void setTextColor(const QColor &value);
    QColor selectedTextColor() const { return m_props.selectedTextColor; }
    void setSelectedTextColor(const QColor &value);
    QColor playingTextColor() const { return m_props.playingTextColor; }
    void setPlayingTextColor(const QColor &value);
    QColor errorTextColor() const { return m_props.errorTextColor; }
    void setErrorTextColor(const QColor &value);
    bool border() const { return m_props.border; }
    void setBorder(bool value);
    QColor borderColor() const { return m_props.borderColor; }
    void setBorderColor(const QColor &value);
    short borderWidth() const { return m_props.borderWidth; }
    // Values below 1 are taken as 1 (a line cannot be thinner).
    void setBorderWidth(int value);

    // Property store: the values of a newly placed control, reading saved
    // values (missing keys keep the current value) and writing every key.
    void initProperties();
    void readProperties(const PropertyBag &bag);
    void writeProperties(PropertyBag &bag) const;
    const PlaylistViewProperties &properties() const { return m_props; }
    // What the main window's playlist is stored with; apply with
    // readProperties.
    static PropertyBag mainWindowProperties();

    // Current geometry, for the main window and the tests.
    listgeo::Layout layout() const;
    QRect rowRect(int item) const;
    int numberWidth() const { return m_numberWidth; }
    int authorWidth() const { return m_authorWidth; }
    int timeWidth() const { return m_timeWidth; }
    SkinScrollBar *scrollBar() const { return m_scrollBar; }

    static const QString &defaultAuthor();

Q_SIGNALS:
    // button: 1 left, 2 right, 4 middle. shift: 1 shift, 2 ctrl, 4 alt.
    // x, y: pixels in the control.
    void clicked(short button, short shift, float x, float y);
    void doubleClicked(short button, short shift, float x, float y);
    void mousePressed(short button, short shift, float x, float y);
    void mouseMoved(short button, short shift, float x, float y);
    void mouseReleased(short button, short shift, float x, float y);
    // bySetter: 1 when the property was set, 0 when the mouse changed it.
    void listIndexChanged(short &oldIndex, short &newIndex, short &bySetter);
    void playIndexChanged(short &oldIndex, short &newIndex, short &bySetter);
    // Items were added or removed, or the list was emptied.
    void itemsChanged();
    // The view was scrolled by the wheel or by dragging the bar's thumb.
    void scrolled();
    void resized();
    // The host's property-changed notification.
    void propertyChanged(const QString &name);

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
    // Which of the store's two indexes an operation moves.
    enum class Index { List, Play };

    struct MouseState
    {
        short button = 0;
        short shift = 0;
        float x = 0;
        float y = 0;
    };

    void handleMessage(bool before, bool &handled, qint32 &result, QWidget *&window,
                       qint32 &message, qint32 &wParam, qint32 &lParam) override;

    // Store and index handling (PlaylistView.cpp).
    bool isValidIndex(int index) const { return m_store->isValidIndex(index); }
    void setIndexProperty(Index which, int newValue);
    void bringIntoView(int index);
    // The item index the top row shows for a bar value.
    short topRowFor(int barValue) const;
    // Raises the index's signal for a move to proposed, stores the
    // handler's newIndex and redraws the rows involved.
    void changeIndex(Index which, short proposed, short bySetter);
    // What the control does when its store changed (the store's signals).
    void connectStore();
    void onItemsAdded(int first, int added, PlaylistItems::Added how);
    void onItemRemoved(int index, short playingBefore);
    void onCleared();
    void onPlayIndexMoved(short from, short to);
    void onListIndexMoved(short from, short to);
    // Tells listeners and screen readers that items came or went.
    void itemsWereChanged();
    // Tells screen readers that the playing item moved from one index to
    // another (either may be -1).
    void announcePlayingMove(short from, short to);
    // Stores a changed property value and tells the host; false when the
    // value was already set.
    template <typename T> bool storeProperty(T &field, const T &value, const QString &name);
    void applyProperties();
    void resetColumnWidths();
    int textWidth(const QString &text) const;
    // Width of the decimal text of a row number, as textWidth would measure
    // it, but from cached digit advances: addItem measures one on every add.
    int numberTextWidth(int number) const;
    void setMetrics(const QFont &font);
    // Width of the first length characters of text, remembered per text:
    // a repaint measures every visible cell again, mostly the same texts.
    int cachedWidth(const QString &text, int length) const;

    // Drawing (PlaylistViewPaint.cpp): the requests only mark areas dirty.
    void paint();
    void redrawRows();
    void drawItem(int item);
    void drawBorderAgain();
    void paintRow(QPainter &painter, const listgeo::Layout &layout, int item);
    void drawTextFit(QPainter &painter, const QString &text, int x, int y, int w, int h,
                     int alignment);

    // Scrolling and layout (PlaylistViewInput.cpp).
    void updateScrollRange();
    void placeBar();
    void handleResize();
    void onWheel(int delta);
    void onBarChange();
    void onBarScroll();
    int lastRowIndex() const;
    static short buttonCode(Qt::MouseButtons buttons);
    static short shiftCode(Qt::KeyboardModifiers modifiers);

    PlaylistItems *m_store = nullptr;
    // The control itself is moving an index of the store: the store's
    // signal for it needs no answer.
    bool m_movingIndex = false;
    short m_firstIndex = 0;
    PlaylistViewProperties m_props;
    QFontMetrics m_metrics;
    // Advance of each digit 0-9, or empty when the font kerns digit pairs
    // (then numbers are measured whole).
    QList<qreal> m_digitAdvances;
    mutable QHash<QString, int> m_widthCache;
    int m_numberWidth = 0;
    int m_authorWidth = 0;
    int m_timeWidth = 0;
    MouseState m_lastMouseDown;
    // A press on this control is waiting for its release (which raises clicked).
    bool m_pressPending = false;
    QSize m_lastSize;
    IconFileReader m_playMark;
    MessageHook m_hook;
    SkinScrollBar *m_scrollBar = nullptr;
};
