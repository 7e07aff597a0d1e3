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
    : QWidget(parent), m_store(new PlaylistItems(this)), m_props(initial),
      m_metrics(m_props.listFont), m_hook(this)
{
    connectStore();
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
    // Nor may the store's: the control's own store goes with its children,
    // and must not be replaced then.
    disconnect(m_store, nullptr, this, nullptr);
    m_hook.detachAll();
}

const QString &PlaylistView::defaultAuthor()
{
    // One shared string, so a long list does not hold a copy per item.
    static const QString author = QString::fromUtf16(kUnknownAuthor);
    return author;
}

// ---------------------------------------------------------------- items

void PlaylistView::setStore(PlaylistItems *store)
{
    if (!store || store == m_store)
        return;
    disconnect(m_store, nullptr, this, nullptr);
    if (m_store->parent() == this)
        delete m_store;
    m_store = store;
    connectStore();
    m_firstIndex = 0;
    m_numberWidth = numberTextWidth(listCount()) + kCellPadding;
    updateScrollRange();
    paint();
    itemsWereChanged();
}

void PlaylistView::connectStore()
{
    // The store checks the files of added items as this control says.
    m_store->setChecksFiles(m_props.autoCheckError);
    connect(m_store, &PlaylistItems::added, this, &PlaylistView::onItemsAdded);
    connect(m_store, &PlaylistItems::removed, this, &PlaylistView::onItemRemoved);
    connect(m_store, &PlaylistItems::cleared, this, &PlaylistView::onCleared);
    connect(m_store, &PlaylistItems::itemChanged, this, &PlaylistView::drawItem);
    connect(m_store, &PlaylistItems::playIndexMoved, this, &PlaylistView::onPlayIndexMoved);
    connect(m_store, &PlaylistItems::listIndexMoved, this, &PlaylistView::onListIndexMoved);
    // A store that goes first (the player's, at exit) leaves an empty one.
    connect(m_store, &QObject::destroyed, this, [this] {
        m_store = new PlaylistItems(this);
        connectStore();
    });
}

int PlaylistView::addItem(const QString &title, const QString &author, const QString &url,
                          const QString &duration, std::optional<int> index)
{
    return m_store->add(PlaylistItem{title, author, duration, QString(), url, false}, index);
}

int PlaylistView::appendItems(const QList<NewItem> &items)
{
    const int count = int(std::min<qsizetype>(items.size(), kMaxItems - listCount()));
    if (count <= 0)
        return 0;
    QList<PlaylistItem> added;
    added.reserve(count);
    for (int i = 0; i < count; ++i) {
        const NewItem &item = items.at(i);
        added.append(
            PlaylistItem{item.title, item.author, item.duration, QString(), item.url, false});
    }
    return m_store->append(std::move(added));
}

void PlaylistView::onItemsAdded(int first, int, PlaylistItems::Added how)
{
    if (how == PlaylistItems::Added::Appended)
        drawItem(first);
    else if (how == PlaylistItems::Added::Inserted)
        redrawRows();
    m_numberWidth = numberTextWidth(listCount()) + kCellPadding;
    updateScrollRange();
    // A batch may have widened the number column, which moves every
    // visible row's text; rows below the view are painted when they
    // scroll in.
    if (how == PlaylistItems::Added::Batch && first <= lastRowIndex())
        redrawRows();
    itemsWereChanged();
}

int PlaylistView::removeItem(int index)
{
    return m_store->remove(index);
}

void PlaylistView::onItemRemoved(int, short playingBefore)
{
    updateScrollRange();
    redrawRows();
    itemsWereChanged();
    if (playIndex() != playingBefore)
        announcePlayingMove(playingBefore, playIndex());
}

void PlaylistView::clear()
{
    m_store->clear();
}

void PlaylistView::onCleared()
{
    updateScrollRange();
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
    const PlaylistItem *item = m_store->at(index);
    return item ? item->title : QString();
}

void PlaylistView::setTitle(int index, const QString &value)
{
    m_store->setTitle(index, value);
}

QString PlaylistView::author(int index) const
{
    const PlaylistItem *item = m_store->at(index);
    return item ? item->author : QString();
}

void PlaylistView::setAuthor(int index, const QString &value)
{
    m_store->setAuthor(index, value);
}

QString PlaylistView::url(int index) const
{
    const PlaylistItem *item = m_store->at(index);
    return item ? item->url : QString();
}

void PlaylistView::setUrl(int index, const QString &value)
{
    m_store->setUrl(index, value);
}

QString PlaylistView::timeText(int index) const
{
    const PlaylistItem *item = m_store->at(index);
    return item ? item->timeText : QString();
}

void PlaylistView::setTimeText(int index, const QString &value)
{
    m_store->setTimeText(index, value);
}

int PlaylistView::duration(int) const
{
    return 0;
}

bool PlaylistView::itemError(int index) const
{
    const PlaylistItem *item = m_store->at(index);
    return item && item->itemError;
}

void PlaylistView::setItemError(int index, bool value)
{
    m_store->setItemError(index, value);
}

// -------------------------------------------------------------- indexes

short PlaylistView::lastIndex() const
{
    return short(std::min(lastRowIndex(), listCount() - 1));
}

short PlaylistView::indexFromPoint(float, float y) const
{
    if (listCount() == 0)
        return -1;
    const int index = listgeo::hitTest(y, m_props.borderWidth, m_props.itemHeight, m_firstIndex);
    return isValidIndex(index) ? short(index) : short(-1);
}

void PlaylistView::setListIndex(int value)
{
    setIndexProperty(Index::List, value);
}

void PlaylistView::setPlayIndex(int value)
{
    setIndexProperty(Index::Play, value);
}

void PlaylistView::setIndexProperty(Index which, int newValue)
{
    const short current = which == Index::List ? listIndex() : playIndex();
    if (!isValidIndex(newValue) || newValue == current)
        return;
    bringIntoView(newValue);
    changeIndex(which, short(newValue), 1);
    Q_EMIT propertyChanged(which == Index::List ? QStringLiteral("ListIndex")
                                                : QStringLiteral("PlayIndex"));
}

void PlaylistView::changeIndex(Index which, short proposed, short bySetter)
{
    const bool list = which == Index::List;
    const short previous = list ? listIndex() : playIndex();
    short oldIndex = previous;
    short newIndex = proposed;
    if (list)
        Q_EMIT listIndexChanged(oldIndex, newIndex, bySetter);
    else
        Q_EMIT playIndexChanged(oldIndex, newIndex, bySetter);
    // A handler may answer with any number (or have emptied the list):
    // only an index that names an item, or -1, is kept.
    const short current = isValidIndex(newIndex) ? newIndex : short(-1);
    m_movingIndex = true;
    if (list)
        m_store->setListIndex(current);
    else
        m_store->setPlayIndex(current);
    m_movingIndex = false;
    if (QAccessible::isActive() && list && current >= 0) {
        QAccessibleEvent selected(this, QAccessible::Selection);
        selected.setChild(current);
        QAccessible::updateAccessibility(&selected);
    }
    if (!list && current != previous)
        announcePlayingMove(previous, current);
    drawItem(current);
    drawItem(oldIndex);
    if (oldIndex != previous)
        drawItem(previous);
}

void PlaylistView::bringIntoView(int index)
{
    // As the top row, as far as the range allows.
    if (index < m_firstIndex)
        m_scrollBar->setValue(index);
    if (index > lastRowIndex())
        m_scrollBar->setValue(index);
}

void PlaylistView::onPlayIndexMoved(short from, short to)
{
    if (m_movingIndex)
        return;
    // Another part of the player marked an item as playing (a restored
    // playlist): it is shown, as if set here.
    if (to >= 0)
        bringIntoView(to);
    announcePlayingMove(from, to);
    drawItem(to);
    drawItem(from);
}

void PlaylistView::onListIndexMoved(short from, short to)
{
    if (m_movingIndex)
        return;
    if (QAccessible::isActive() && to >= 0) {
        QAccessibleEvent selected(this, QAccessible::Selection);
        selected.setChild(to);
        QAccessible::updateAccessibility(&selected);
    }
    drawItem(to);
    drawItem(from);
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
    m_store->setChecksFiles(m_props.autoCheckError);
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
    m_store->setChecksFiles(value);
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
        drawItem(listIndex());
}

void PlaylistView::setTextColor(const QColor &value)
{
    if (storeProperty(m_props.textColor, value, QStringLiteral("ItemNorTextColor")))
        redrawRows();
}

void PlaylistView::setSelectedTextColor(const QColor &value)
{
    if (storeProperty(m_props.selectedTextColor, value, QStringLiteral("ItemSelTextColor")))
        drawItem(listIndex());
}

void PlaylistView::setPlayingTextColor(const QColor &value)
{
    if (storeProperty(m_props.playingTextColor, value, QStringLiteral("ItemPlyTextColor")))
        drawItem(playIndex());
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
