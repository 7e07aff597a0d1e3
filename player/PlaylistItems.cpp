#include "player/PlaylistItems.h"

#include <QFileInfo>

#include <algorithm>
#include <utility>

PlaylistItems::PlaylistItems(QObject *parent) : QObject(parent) {}

const PlaylistItem *PlaylistItems::at(int index) const
{
    return isValidIndex(index) ? &m_items[index] : nullptr;
}

bool PlaylistItems::fileMissing(const PlaylistItem &item) const
{
    // True means "in error": no address, or no file at that path.
    return item.url.isEmpty() || !QFileInfo::exists(item.url);
}

int PlaylistItems::add(PlaylistItem item, std::optional<int> index)
{
    if (index && (*index < 0 || *index > count()))
        return -1;
    // Past the last 16-bit index nothing more can be addressed.
    if (count() >= kMaxItems)
        return -1;
    if (!index || m_items.isEmpty()) {
        if (!index && m_checkFiles)
            item.itemError = fileMissing(item);
        m_items.append(std::move(item));
        Q_EMIT added(count() - 1, 1, Added::Appended);
        Q_EMIT itemsChanged();
    } else {
        // playIndex and listIndex stay where they are, deliberately: they
        // now name the item that was in front of them.
        m_items.insert(*index, std::move(item));
        Q_EMIT added(*index, 1, Added::Inserted);
        Q_EMIT itemsChanged();
    }
    return count();
}

int PlaylistItems::append(QList<PlaylistItem> items)
{
    const int added = int(std::min<qsizetype>(items.size(), kMaxItems - count()));
    if (added <= 0)
        return 0;
    const int first = count();
    items.resize(added);
    if (m_checkFiles) {
        for (PlaylistItem &item : items)
            item.itemError = fileMissing(item);
    }
    // A restored playlist fills an empty store: it is taken whole.
    if (m_items.isEmpty()) {
        m_items = std::move(items);
    } else {
        m_items.reserve(first + added);
        for (PlaylistItem &item : items)
            m_items.append(std::move(item));
    }
    Q_EMIT this->added(first, added, Added::Batch);
    Q_EMIT itemsChanged();
    return added;
}

int PlaylistItems::remove(int index)
{
    if (!isValidIndex(index))
        return -1;
    if (count() == 1) {
        clear();
        return 0;
    }
    const short playingBefore = m_playIndex;
    m_items.removeAt(index);
    if (index == m_playIndex)
        m_playIndex = -1;
    // Indexes above the removed one are not shifted (they now name the
    // following item); one left past the end names nothing any more.
    if (m_playIndex >= count())
        m_playIndex = -1;
    if (m_listIndex >= count())
        m_listIndex = -1;
    Q_EMIT removed(index, playingBefore);
    Q_EMIT itemsChanged();
    return count();
}

void PlaylistItems::clear()
{
    if (m_items.isEmpty())
        return;
    m_items.clear();
    m_listIndex = -1;
    m_playIndex = -1;
    Q_EMIT cleared();
    Q_EMIT itemsChanged();
}

void PlaylistItems::setTitle(int index, const QString &value)
{
    if (!isValidIndex(index))
        return;
    m_items[index].title = value;
    Q_EMIT itemChanged(index);
}

void PlaylistItems::setAuthor(int index, const QString &value)
{
    if (!isValidIndex(index))
        return;
    m_items[index].author = value;
    Q_EMIT itemChanged(index);
}

void PlaylistItems::setUrl(int index, const QString &value)
{
    if (isValidIndex(index))
        m_items[index].url = value;
}

void PlaylistItems::setTimeText(int index, const QString &value)
{
    if (isValidIndex(index))
        m_items[index].timeText = value;
}

void PlaylistItems::setItemError(int index, bool value)
{
    if (!isValidIndex(index) || m_items[index].itemError == value)
        return;
    m_items[index].itemError = value;
    Q_EMIT itemChanged(index);
}

void PlaylistItems::setPlayIndex(int index)
{
    const short to = isValidIndex(index) ? short(index) : short(-1);
    if (to == m_playIndex)
        return;
    const short from = std::exchange(m_playIndex, to);
    Q_EMIT playIndexMoved(from, to);
}

void PlaylistItems::setListIndex(int index)
{
    const short to = isValidIndex(index) ? short(index) : short(-1);
    if (to == m_listIndex)
        return;
    const short from = std::exchange(m_listIndex, to);
    Q_EMIT listIndexMoved(from, to);
}

const PlaylistItem &PlaylistItems::recheck(int index)
{
    PlaylistItem &item = m_items[index];
    if (m_checkFiles)
        item.itemError = fileMissing(item);
    return item;
}
