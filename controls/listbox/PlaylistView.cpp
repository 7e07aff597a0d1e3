// PlaylistView: construction, the item store, the two index properties and
// the persisted properties. Drawing is in PlaylistViewPaint.cpp, input and
// scrolling in PlaylistViewInput.cpp.
#include "controls/listbox/PlaylistView.h"

#include "controls/listbox/PlaylistAccessible.h"

#include "controls/PropertyBag.h"
#include "controls/scrollbar/SkinScrollBar.h"

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

PlaylistView::PlaylistView(QWidget *parent)
    : PlaylistView(PlaylistViewProperties::newControl(), parent)
{
}

PlaylistView::PlaylistView(const PlaylistViewProperties &initial, QWidget *parent)
    : QWidget(parent), m_props(initial), m_metrics(m_props.listFont), m_hook(this)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&PlaylistAccessible::create);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    // paintEvent covers every pixel itself (rows, the fill below them, the
    // border), so Qt need not clear the area first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);

    m_scrollBar = new SkinScrollBar(this);
    m_scrollBar->resize(SkinScrollBar::kDefaultThickness, m_scrollBar->height());
    connect(m_scrollBar, &SkinScrollBar::valueChanged, this, &PlaylistView::onBarChange);
    connect(m_scrollBar, &SkinScrollBar::scrolled, this, &PlaylistView::onBarScroll);
    // The rows get narrower or wider with the bar: repaint everything.
    connect(m_scrollBar, &SkinScrollBar::shown, this, &PlaylistView::paint);
    connect(m_scrollBar, &SkinScrollBar::hidden, this, &PlaylistView::paint);

    applyProperties();
    handleResize();

    // The wheel arrives as a window message after the widget's own handling.
    m_hook.attach(this);
    m_hook.addMessage(this, wm::kMouseWheel, MessageHook::kPhaseAfter);

    QFile mark(kPlayMarkResource);
    if (mark.open(QIODevice::ReadOnly))
        m_playMark.loadFromData(mark.readAll());
}

PlaylistView::~PlaylistView()
{
    // QWidget's destructor hides the bar after this object's members are
    // gone, and the bar reports that as hidden: its handlers must not run.
    disconnect(m_scrollBar, nullptr, this, nullptr);
    m_hook.detachAll();
}

const QString &PlaylistView::defaultAuthor()
{
    // One shared string, so a long list does not hold a copy per item.
    static const QString author = QString::fromUtf16(kUnknownAuthor);
    return author;
}

// ---------------------------------------------------------------- items

bool PlaylistView::isValidIndex(int index) const
{
    return index >= 0 && index < m_items.size();
}

PlaylistItem *PlaylistView::itemAt(int index)
{
    return isValidIndex(index) ? &m_items[index] : nullptr;
}

const PlaylistItem *PlaylistView::itemAt(int index) const
{
    return isValidIndex(index) ? &m_items[index] : nullptr;
}

bool PlaylistView::checkItemFile(const PlaylistItem &item) const
{
    // True means "in error": no address, or no file at that path.
    return item.url.isEmpty() || !QFileInfo::exists(item.url);
}

int PlaylistView::addItem(const QString &title, const QString &author, const QString &url,
                          const QString &duration, std::optional<int> index)
{
    if (index && (*index < 0 || *index > listCount()))
        return -1;
    // Past the last 16-bit index nothing more can be addressed.
    if (listCount() >= kMaxItems)
        return -1;

    PlaylistItem item{title, author, duration, QString(), url, false};
    if (!index) {
        if (m_props.autoCheckError)
            item.itemError = checkItemFile(item);
        m_items.append(std::move(item));
        drawItem(listCount() - 1);
    } else if (m_items.isEmpty()) {
        m_items.append(std::move(item));
        drawItem(0);
    } else {
        // listIndex and playIndex stay where they are, deliberately: they
        // now name the item that was in front of them.
        m_items.insert(*index, std::move(item));
        redrawRows();
    }
    m_numberWidth = numberTextWidth(listCount()) + kCellPadding;
    updateScrollRange();
    itemsWereChanged();
    return listCount();
}

int PlaylistView::appendItems(const QList<NewItem> &items)
{
    const int count = int(std::min<qsizetype>(items.size(), kMaxItems - listCount()));
    if (count <= 0)
        return 0;
    const int first = listCount();
    m_items.reserve(first + count);
    for (int i = 0; i < count; ++i) {
        const NewItem &added = items.at(i);
        PlaylistItem item{added.title, added.author, added.duration, QString(), added.url, false};
        if (m_props.autoCheckError)
            item.itemError = checkItemFile(item);
        m_items.append(std::move(item));
    }
    m_numberWidth = numberTextWidth(listCount()) + kCellPadding;
    updateScrollRange();
    // The number column may have widened, which moves every visible row's
    // text; rows below the view are painted when they scroll in.
    if (first <= lastRowIndex())
        redrawRows();
    itemsWereChanged();
    return count;
}

int PlaylistView::removeItem(int index)
{
    if (!isValidIndex(index))
        return -1;
    if (listCount() == 1) {
        clear();
        return 0;
    }
    const short playingBefore = m_playIndex;
    m_items.removeAt(index);
    if (index == m_playIndex)
        m_playIndex = -1;
    // Indexes above the removed one are not shifted (they now name the
    // following item); one left past the end names nothing any more.
    if (m_playIndex >= listCount())
        m_playIndex = -1;
    if (m_listIndex >= listCount())
        m_listIndex = -1;
    updateScrollRange();
    redrawRows();
    itemsWereChanged();
    if (m_playIndex != playingBefore)
        announcePlayingMove(playingBefore, m_playIndex);
    return listCount();
}

void PlaylistView::clear()
{
    if (m_items.isEmpty())
        return;
    m_items.clear();
    updateScrollRange();
    m_listIndex = -1;
    m_playIndex = -1;
    m_firstIndex = 0;
    paint();
    itemsWereChanged();
}

void PlaylistView::refresh()
{
    paint();
}

QString PlaylistView::title(int index) const
{
    const PlaylistItem *item = itemAt(index);
    return item ? item->title : QString();
}

void PlaylistView::setTitle(int index, const QString &value)
{
    if (PlaylistItem *item = itemAt(index)) {
        item->title = value;
        drawItem(index);
    }
}

QString PlaylistView::author(int index) const
{
    const PlaylistItem *item = itemAt(index);
    return item ? item->author : QString();
}

void PlaylistView::setAuthor(int index, const QString &value)
{
    if (PlaylistItem *item = itemAt(index)) {
        item->author = value;
        drawItem(index);
    }
}

QString PlaylistView::url(int index) const
{
    const PlaylistItem *item = itemAt(index);
    return item ? item->url : QString();
}

void PlaylistView::setUrl(int index, const QString &value)
{
    if (PlaylistItem *item = itemAt(index))
        item->url = value;
}

QString PlaylistView::timeText(int index) const
{
    const PlaylistItem *item = itemAt(index);
    return item ? item->timeText : QString();
}

void PlaylistView::setTimeText(int index, const QString &value)
{
    if (PlaylistItem *item = itemAt(index))
        item->timeText = value;
}

int PlaylistView::duration(int) const
{
    return 0;
}

bool PlaylistView::itemError(int index) const
{
    const PlaylistItem *item = itemAt(index);
    return item && item->itemError;
}

void PlaylistView::setItemError(int index, bool value)
{
    PlaylistItem *item = itemAt(index);
    if (!item || item->itemError == value)
        return;
    item->itemError = value;
    drawItem(index);
}

// -------------------------------------------------------------- indexes

short PlaylistView::lastIndex() const
{
    return short(std::min(lastRowIndex(), listCount() - 1));
}

short PlaylistView::indexFromPoint(float, float y) const
{
    if (m_items.isEmpty())
        return -1;
    const int index = listgeo::hitTest(y, m_props.borderWidth, m_props.itemHeight, m_firstIndex);
    return isValidIndex(index) ? short(index) : short(-1);
}

void PlaylistView::setListIndex(int value)
{
    setIndexProperty(m_listIndex, value, &PlaylistView::listIndexChanged,
                     QStringLiteral("ListIndex"));
}

void PlaylistView::setPlayIndex(int value)
{
    setIndexProperty(m_playIndex, value, &PlaylistView::playIndexChanged,
                     QStringLiteral("PlayIndex"));
}

void PlaylistView::setIndexProperty(short &current, int newValue, IndexSignal signal,
                                    const QString &name)
{
    if (!isValidIndex(newValue) || newValue == current)
        return;
    // Bring the item into view, as the top row as far as the range allows.
    if (newValue < m_firstIndex)
        m_scrollBar->setValue(newValue);
    if (newValue > lastRowIndex())
        m_scrollBar->setValue(newValue);
    changeIndex(current, short(newValue), 1, signal);
    Q_EMIT propertyChanged(name);
}

void PlaylistView::changeIndex(short &current, short proposed, short bySetter, IndexSignal signal)
{
    const short previous = current;
    short oldIndex = current;
    short newIndex = proposed;
    Q_EMIT(this->*signal)(oldIndex, newIndex, bySetter);
    // A handler may answer with any number (or have emptied the list):
    // only an index that names an item, or -1, is kept.
    current = isValidIndex(newIndex) ? newIndex : short(-1);
    if (QAccessible::isActive() && &current == &m_listIndex && current >= 0) {
        QAccessibleEvent selected(this, QAccessible::Selection);
        selected.setChild(current);
        QAccessible::updateAccessibility(&selected);
    }
    if (&current == &m_playIndex && current != previous)
        announcePlayingMove(previous, current);
    drawItem(current);
    drawItem(oldIndex);
    if (oldIndex != previous)
        drawItem(previous);
}

// ----------------------------------------------------------- properties

int PlaylistView::textWidth(const QString &text) const
{
    return m_metrics.horizontalAdvance(text);
}

int PlaylistView::numberTextWidth(int number) const
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

int PlaylistView::cachedWidth(const QString &text, int length) const
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

void PlaylistView::setMetrics(const QFont &font)
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

void PlaylistView::resetColumnWidths()
{
    m_numberWidth = textWidth(kNumberSample) + kCellPadding;
    m_authorWidth = textWidth(kAuthorSample) + kCellPadding;
    // The time cell is measured from an empty text: it takes no room.
    m_timeWidth = textWidth(QString());
}

void PlaylistView::applyProperties()
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, m_props.backColor);
    setPalette(pal);
    QWidget::setFont(m_props.listFont);
    setMetrics(m_props.listFont);
    resetColumnWidths();
    placeBar();
    updateScrollRange();
    paint();
}

void PlaylistView::initProperties()
{
    m_props = PlaylistViewProperties::newControl();
    applyProperties();
}

void PlaylistView::readProperties(const PropertyBag &bag)
{
    m_props.read(bag);
    applyProperties();
}

void PlaylistView::writeProperties(PropertyBag &bag) const
{
    m_props.write(bag);
}

PropertyBag PlaylistView::mainWindowProperties()
{
    PropertyBag bag;
    PlaylistViewProperties::mainWindow().write(bag);
    return bag;
}

template <typename T>
bool PlaylistView::storeProperty(T &field, const T &value, const QString &name)
{
    if (field == value)
        return false;
    field = value;
    Q_EMIT propertyChanged(name);
    return true;
}

void PlaylistView::setBackColor(const QColor &value)
{
    if (!storeProperty(m_props.backColor, value, QStringLiteral("BackColor")))
        return;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, value);
    setPalette(pal);
    redrawRows();
    resetColumnWidths();
}

void PlaylistView::setFont(const QFont &value)
{
    m_props.listFont = value;
    Q_EMIT propertyChanged(QStringLiteral("Font"));
    QWidget::setFont(value);
    setMetrics(value);
    resetColumnWidths();
    redrawRows();
}

void PlaylistView::setAutoCheckError(bool value)
{
    // Told to the host like every other stored property, so it is saved.
    if (storeProperty(m_props.autoCheckError, value, QStringLiteral("AutoCheckError")) && value)
        redrawRows(); // drawing the rows re-checks their files
}

void PlaylistView::setItemHeight(int value)
{
    if (!storeProperty(m_props.itemHeight, listgeo::boundedItemHeight(value),
                       QStringLiteral("ItemHeight")))
        return;
    updateScrollRange();
    paint();
}

void PlaylistView::setItemBackColor1(const QColor &value)
{
    if (storeProperty(m_props.itemBackColor1, value, QStringLiteral("ItemBkColor1")))
        redrawRows();
}

void PlaylistView::setItemBackColor2(const QColor &value)
{
    if (storeProperty(m_props.itemBackColor2, value, QStringLiteral("ItemBkColor2")))
        redrawRows();
}

void PlaylistView::setSelectedBackColor(const QColor &value)
{
    if (storeProperty(m_props.selectedBackColor, value, QStringLiteral("ItemSelBkColor")))
        drawItem(m_listIndex);
}

void PlaylistView::setTextColor(const QColor &value)
{
    if (storeProperty(m_props.textColor, value, QStringLiteral("ItemNorTextColor")))
        redrawRows();
}

void PlaylistView::setSelectedTextColor(const QColor &value)
{
    if (storeProperty(m_props.selectedTextColor, value, QStringLiteral("ItemSelTextColor")))
        drawItem(m_listIndex);
}

void PlaylistView::setPlayingTextColor(const QColor &value)
{
    if (storeProperty(m_props.playingTextColor, value, QStringLiteral("ItemPlyTextColor")))
        drawItem(m_playIndex);
}

void PlaylistView::setErrorTextColor(const QColor &value)
{
    if (storeProperty(m_props.errorTextColor, value, QStringLiteral("ItemErrTextColor")))
        redrawRows();
}

void PlaylistView::setBorder(bool value)
{
    if (!storeProperty(m_props.border, value, QStringLiteral("Border")))
        return;
    // Every row moves with the inset, and the rows that fit change.
    placeBar();
    updateScrollRange();
    paint();
}

void PlaylistView::setBorderColor(const QColor &value)
{
    if (storeProperty(m_props.borderColor, value, QStringLiteral("BorderColor")) && m_props.border)
        drawBorderAgain();
}

void PlaylistView::setBorderWidth(int value)
{
    const short width = short(std::clamp(value, 1, int(std::numeric_limits<short>::max())));
    if (!storeProperty(m_props.borderWidth, width, QStringLiteral("BorderWidth")))
        return;
    // The bar follows the new inset at once rather than at the next resize.
    placeBar();
    updateScrollRange();
    paint();
}

void PlaylistView::changeEvent(QEvent *event)
{
    // A font given through the QWidget interface still resizes the columns.
    if (event->type() == QEvent::FontChange && font() != m_props.listFont) {
        m_props.listFont = font();
        setMetrics(m_props.listFont);
        resetColumnWidths();
        redrawRows();
    }
    QWidget::changeEvent(event);
}

void PlaylistView::itemsWereChanged()
{
    if (QAccessible::isActive()) {
        QAccessibleEvent reordered(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&reordered);
        // The list's description counts the items.
        QAccessibleEvent described(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&described);
    }
    Q_EMIT itemsChanged();
}

void PlaylistView::announcePlayingMove(short from, short to)
{
    if (!QAccessible::isActive())
        return;
    // The item that stopped and the one that started playing change their
    // description, and so does the list's, which names the playing item.
    for (const short item : {from, to}) {
        if (!isValidIndex(item))
            continue;
        QAccessibleEvent described(this, QAccessible::DescriptionChanged);
        described.setChild(item);
        QAccessible::updateAccessibility(&described);
    }
    QAccessibleEvent described(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&described);
}
