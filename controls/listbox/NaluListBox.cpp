// NaluListBox: construction, the item store, the two index properties and
// the persisted properties. Drawing is in NaluListBoxPaint.cpp, input and
// scrolling in NaluListBoxInput.cpp.
#include "controls/listbox/NaluListBox.h"

#include "controls/PropertyBag.h"
#include "controls/scrollbar/ucScrollbar.h"

#include <QEvent>
#include <QFile>
#include <QFileInfo>

namespace {

// The playing mark: a 12 x 12 icon compiled into the program.
const QString kPlayMarkResource = QStringLiteral(":/skin/PLAYICON.ico");

// Texts the fixed column widths are measured from.
const QString kNumberSample = QStringLiteral("000");
const QString kAuthorSample = QStringLiteral("AAAAAAAAAAA");
// Room added to the measured number and author texts.
constexpr int kCellPadding = 4;
// Texts whose widths are remembered: a few screens of rows and their cuts.
constexpr int kWidthCacheLimit = 4096;

} // namespace

NaluListBox::NaluListBox(QWidget *parent)
    : QWidget(parent), m_props(ListBoxProperties::newControl()), m_metrics(m_props.Font),
      m_hook(this)
{
    // paintEvent covers every pixel itself (rows, the fill below them, the
    // border), so Qt need not clear the area first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);

    ucBar = new ucScrollbar(this);
    ucBar->resize(ucScrollbar::kDefaultThickness, ucBar->height());
    connect(ucBar, &ucScrollbar::Change, this, &NaluListBox::onBarChange);
    connect(ucBar, &ucScrollbar::Scroll, this, &NaluListBox::onBarScroll);
    // The rows get narrower or wider with the bar: repaint everything.
    connect(ucBar, &ucScrollbar::Show, this, &NaluListBox::Paint);
    connect(ucBar, &ucScrollbar::Hide, this, &NaluListBox::Paint);

    applyProperties();
    handleResize();

    // The wheel arrives as a window message after the widget's own handling.
    m_hook.Subclass(this);
    m_hook.AddMessage(this, wm::kMouseWheel, SubclassHook::kPhaseAfter);

    QFile mark(kPlayMarkResource);
    if (mark.open(QIODevice::ReadOnly))
        m_playMark.LoadFromData(mark.readAll());
}

NaluListBox::~NaluListBox()
{
    // QWidget's destructor hides the bar after this object's members are
    // gone, and the bar reports that as Hide: its handlers must not run.
    disconnect(ucBar, nullptr, this, nullptr);
    m_hook.UnsubclassAll();
}

const QString &NaluListBox::defaultAuthor()
{
    // One shared string, so a long list does not hold a copy per item.
    static const QString author = QString::fromUtf16(kUnknownAuthor);
    return author;
}

// ---------------------------------------------------------------- items

bool NaluListBox::isValidIndex(int index) const
{
    return index >= 0 && index < m_items.size();
}

PlaylistItem *NaluListBox::itemAt(int index)
{
    return isValidIndex(index) ? &m_items[index] : nullptr;
}

const PlaylistItem *NaluListBox::itemAt(int index) const
{
    return isValidIndex(index) ? &m_items[index] : nullptr;
}

bool NaluListBox::checkItemFile(const PlaylistItem &item) const
{
    // True means "in error": no address, or no file at that path.
    return item.URL.isEmpty() || !QFileInfo::exists(item.URL);
}

int NaluListBox::AddItem(const QString &Title, const QString &Author, const QString &URL,
                         const QString &LongTime, std::optional<int> Index)
{
    if (Index && (*Index < 0 || *Index > ListCount()))
        return -1;
    // Past the last 16-bit index nothing more can be addressed.
    if (ListCount() >= kMaxItems)
        return -1;

    PlaylistItem item{Title, Author, LongTime, QString(), URL, false};
    if (!Index) {
        if (m_props.AutoCheckError)
            item.ItemError = checkItemFile(item);
        m_items.append(std::move(item));
        DrawItem(ListCount() - 1);
    } else if (m_items.isEmpty()) {
        m_items.append(std::move(item));
        DrawItem(0);
    } else {
        // ListIndex and PlayIndex stay where they are, deliberately: they
        // now name the item that was in front of them.
        m_items.insert(*Index, std::move(item));
        RedrawRows();
    }
    m_numberWidth = numberTextWidth(ListCount()) + kCellPadding;
    UpdateScrollRange();
    return ListCount();
}

int NaluListBox::RemoveItem(int Index)
{
    if (!isValidIndex(Index))
        return -1;
    if (ListCount() == 1) {
        Clear();
        return 0;
    }
    m_items.removeAt(Index);
    if (Index == m_playIndex)
        m_playIndex = -1;
    // Indexes above the removed one are not shifted (they now name the
    // following item); one left past the end names nothing any more.
    if (m_playIndex >= ListCount())
        m_playIndex = -1;
    if (m_listIndex >= ListCount())
        m_listIndex = -1;
    UpdateScrollRange();
    RedrawRows();
    return ListCount();
}

void NaluListBox::Clear()
{
    if (m_items.isEmpty())
        return;
    m_items.clear();
    UpdateScrollRange();
    m_listIndex = -1;
    m_playIndex = -1;
    m_firstIndex = 0;
    Paint();
}

void NaluListBox::Refresh()
{
    Paint();
}

QString NaluListBox::Title(int Index) const
{
    const PlaylistItem *item = itemAt(Index);
    return item ? item->Title : QString();
}

void NaluListBox::setTitle(int Index, const QString &NewValue)
{
    if (PlaylistItem *item = itemAt(Index)) {
        item->Title = NewValue;
        DrawItem(Index);
    }
}

QString NaluListBox::Author(int Index) const
{
    const PlaylistItem *item = itemAt(Index);
    return item ? item->Author : QString();
}

void NaluListBox::setAuthor(int Index, const QString &NewValue)
{
    if (PlaylistItem *item = itemAt(Index)) {
        item->Author = NewValue;
        DrawItem(Index);
    }
}

QString NaluListBox::URL(int Index) const
{
    const PlaylistItem *item = itemAt(Index);
    return item ? item->URL : QString();
}

void NaluListBox::setURL(int Index, const QString &NewValue)
{
    if (PlaylistItem *item = itemAt(Index))
        item->URL = NewValue;
}

QString NaluListBox::StrTime(int Index) const
{
    const PlaylistItem *item = itemAt(Index);
    return item ? item->StrTime : QString();
}

void NaluListBox::setStrTime(int Index, const QString &NewValue)
{
    if (PlaylistItem *item = itemAt(Index))
        item->StrTime = NewValue;
}

int NaluListBox::LongTime(int) const
{
    return 0;
}

bool NaluListBox::ItemError(int Index) const
{
    const PlaylistItem *item = itemAt(Index);
    return item && item->ItemError;
}

void NaluListBox::setItemError(int Index, bool NewValue)
{
    PlaylistItem *item = itemAt(Index);
    if (!item || item->ItemError == NewValue)
        return;
    item->ItemError = NewValue;
    DrawItem(Index);
}

// -------------------------------------------------------------- indexes

short NaluListBox::LastIndex() const
{
    return short(std::min(lastRowIndex(), ListCount() - 1));
}

short NaluListBox::IndexFromPoint(float, float Y) const
{
    if (m_items.isEmpty())
        return -1;
    const int index = listgeo::hitTest(Y, m_props.BorderWidth, m_props.ItemHeight, m_firstIndex);
    return isValidIndex(index) ? short(index) : short(-1);
}

void NaluListBox::setListIndex(int NewValue)
{
    setIndexProperty(m_listIndex, NewValue, &NaluListBox::ListIndexChanged,
                     QStringLiteral("ListIndex"));
}

void NaluListBox::setPlayIndex(int NewValue)
{
    setIndexProperty(m_playIndex, NewValue, &NaluListBox::PlayIndexChanged,
                     QStringLiteral("PlayIndex"));
}

void NaluListBox::setIndexProperty(short &current, int newValue, IndexSignal signal,
                                   const QString &name)
{
    if (!isValidIndex(newValue) || newValue == current)
        return;
    // Bring the item into view, as the top row as far as the range allows.
    if (newValue < m_firstIndex)
        ucBar->setValue(newValue);
    if (newValue > lastRowIndex())
        ucBar->setValue(newValue);
    changeIndex(current, short(newValue), 1, signal);
    Q_EMIT PropertyChanged(name);
}

void NaluListBox::changeIndex(short &current, short proposed, short wFlag, IndexSignal signal)
{
    const short previous = current;
    short oldIndex = current;
    short newIndex = proposed;
    Q_EMIT(this->*signal)(oldIndex, newIndex, wFlag);
    // A handler may answer with any number (or have emptied the list):
    // only an index that names an item, or -1, is kept.
    current = isValidIndex(newIndex) ? newIndex : short(-1);
    DrawItem(current);
    DrawItem(oldIndex);
    if (oldIndex != previous)
        DrawItem(previous);
}

// ----------------------------------------------------------- properties

int NaluListBox::textWidth(const QString &text) const
{
    return m_metrics.horizontalAdvance(text);
}

int NaluListBox::numberTextWidth(int number) const
{
    const QString digits = QString::number(number);
    if (m_digitAdvances.isEmpty())
        return textWidth(digits);
    qreal width = 0;
    for (const QChar digit : digits)
        width += digit.isDigit() ? m_digitAdvances[digit.digitValue()] : 0;
    // QFontMetrics rounds the summed advances of a text, halves up.
    return qRound(width);
}

int NaluListBox::cachedWidth(const QString &text, int length) const
{
    const QString key = length >= text.size() ? text : text.left(length);
    const auto found = m_widthCache.constFind(key);
    if (found != m_widthCache.cend())
        return *found;
    // Bounded: a long list scrolled end to end must not keep every text.
    if (m_widthCache.size() >= kWidthCacheLimit)
        m_widthCache.clear();
    const int width = m_metrics.horizontalAdvance(key);
    m_widthCache.insert(key, width);
    return width;
}

void NaluListBox::setMetrics(const QFont &font)
{
    m_metrics = QFontMetrics(font);
    m_widthCache.clear();
    // Shaping a text per add is most of what appending costs; digits
    // without pair kerning add up, so their advances are measured once.
    const QFontMetricsF exact(font);
    QList<qreal> advances;
    for (int d = 0; d < 10; ++d)
        advances.append(exact.horizontalAdvance(QString::number(d)));
    for (int a = 0; a < 10; ++a) {
        for (int b = 0; b < 10; ++b) {
            if (exact.horizontalAdvance(QString::number(a * 10 + b).rightJustified(2, u'0')) !=
                advances[a] + advances[b]) {
                m_digitAdvances.clear();
                return;
            }
        }
    }
    m_digitAdvances = advances;
}

void NaluListBox::resetColumnWidths()
{
    m_numberWidth = textWidth(kNumberSample) + kCellPadding;
    m_authorWidth = textWidth(kAuthorSample) + kCellPadding;
    // The time cell is measured from an empty text: it takes no room.
    m_timeWidth = textWidth(QString());
}

void NaluListBox::applyProperties()
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, m_props.BackColor);
    setPalette(pal);
    QWidget::setFont(m_props.Font);
    setMetrics(m_props.Font);
    resetColumnWidths();
    placeBar();
    UpdateScrollRange();
    Paint();
}

void NaluListBox::InitProperties()
{
    m_props = ListBoxProperties::newControl();
    applyProperties();
}

void NaluListBox::ReadProperties(const PropertyBag &bag)
{
    m_props.read(bag);
    applyProperties();
}

void NaluListBox::WriteProperties(PropertyBag &bag) const
{
    m_props.write(bag);
}

PropertyBag NaluListBox::mainWindowProperties()
{
    PropertyBag bag;
    ListBoxProperties::mainWindow().write(bag);
    return bag;
}

template <typename T> bool NaluListBox::storeProperty(T &field, const T &value, const QString &name)
{
    if (field == value)
        return false;
    field = value;
    Q_EMIT PropertyChanged(name);
    return true;
}

void NaluListBox::setBackColor(const QColor &New_BackColor)
{
    if (!storeProperty(m_props.BackColor, New_BackColor, QStringLiteral("BackColor")))
        return;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, New_BackColor);
    setPalette(pal);
    RedrawRows();
    resetColumnWidths();
}

void NaluListBox::setFont(const QFont &New_Font)
{
    m_props.Font = New_Font;
    Q_EMIT PropertyChanged(QStringLiteral("Font"));
    QWidget::setFont(New_Font);
    setMetrics(New_Font);
    resetColumnWidths();
    RedrawRows();
}

void NaluListBox::setAutoCheckError(bool New_AutoCheckError)
{
    // Told to the host like every other stored property, so it is saved.
    if (storeProperty(m_props.AutoCheckError, New_AutoCheckError,
                      QStringLiteral("AutoCheckError")) &&
        New_AutoCheckError)
        RedrawRows(); // drawing the rows re-checks their files
}

void NaluListBox::setItemHeight(int New_ItemHeight)
{
    if (!storeProperty(m_props.ItemHeight, std::max(1, New_ItemHeight),
                       QStringLiteral("ItemHeight")))
        return;
    UpdateScrollRange();
    Paint();
}

void NaluListBox::setItemBkColor1(const QColor &New_ItemBkColor1)
{
    if (storeProperty(m_props.ItemBkColor1, New_ItemBkColor1, QStringLiteral("ItemBkColor1")))
        RedrawRows();
}

void NaluListBox::setItemBkColor2(const QColor &New_ItemBkColor2)
{
    if (storeProperty(m_props.ItemBkColor2, New_ItemBkColor2, QStringLiteral("ItemBkColor2")))
        RedrawRows();
}

void NaluListBox::setItemSelBkColor(const QColor &New_ItemSelBkColor)
{
    if (storeProperty(m_props.ItemSelBkColor, New_ItemSelBkColor, QStringLiteral("ItemSelBkColor")))
        DrawItem(m_listIndex);
}

void NaluListBox::setItemNorTextColor(const QColor &New_ItemNorTextColor)
{
    if (storeProperty(m_props.ItemNorTextColor, New_ItemNorTextColor,
                      QStringLiteral("ItemNorTextColor")))
        RedrawRows();
}

void NaluListBox::setItemSelTextColor(const QColor &New_ItemSelTextColor)
{
    if (storeProperty(m_props.ItemSelTextColor, New_ItemSelTextColor,
                      QStringLiteral("ItemSelTextColor")))
        DrawItem(m_listIndex);
}

void NaluListBox::setItemPlyTextColor(const QColor &New_ItemPlyTextColor)
{
    if (storeProperty(m_props.ItemPlyTextColor, New_ItemPlyTextColor,
                      QStringLiteral("ItemPlyTextColor")))
        DrawItem(m_playIndex);
}

void NaluListBox::setItemErrTextColor(const QColor &New_ItemErrTextColor)
{
    if (storeProperty(m_props.ItemErrTextColor, New_ItemErrTextColor,
                      QStringLiteral("ItemErrTextColor")))
        RedrawRows();
}

void NaluListBox::setBorder(bool New_Border)
{
    if (!storeProperty(m_props.Border, New_Border, QStringLiteral("Border")))
        return;
    // Every row moves with the inset, and the rows that fit change.
    placeBar();
    UpdateScrollRange();
    Paint();
}

void NaluListBox::setBorderColor(const QColor &New_BorderColor)
{
    if (storeProperty(m_props.BorderColor, New_BorderColor, QStringLiteral("BorderColor")) &&
        m_props.Border)
        drawBorderAgain();
}

void NaluListBox::setBorderWidth(int New_BorderWidth)
{
    const short width =
        short(std::clamp(New_BorderWidth, 1, int(std::numeric_limits<short>::max())));
    if (!storeProperty(m_props.BorderWidth, width, QStringLiteral("BorderWidth")))
        return;
    // The bar follows the new inset at once rather than at the next resize.
    placeBar();
    UpdateScrollRange();
    Paint();
}

void NaluListBox::changeEvent(QEvent *event)
{
    // A font given through the QWidget interface still resizes the columns.
    if (event->type() == QEvent::FontChange && font() != m_props.Font) {
        m_props.Font = font();
        setMetrics(m_props.Font);
        resetColumnWidths();
        RedrawRows();
    }
    QWidget::changeEvent(event);
}
