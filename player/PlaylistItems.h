// The playlist's items with its playing item (playIndex) and selected item
// (listIndex): the store the player's state owns and the playlist control
// shows. Every change is told through a signal, whoever made it (the
// control, the desktop, the settings), so each view repaints what changed.
//
// The index rules are the control's own and deliberate: inserting or
// removing an item does not shift playIndex or listIndex (they then name
// the item that took that place), and an index left past the end names
// nothing any more (-1).
#pragma once

#include "player/PlaylistItem.h"

#include <QList>
#include <QObject>

#include <optional>

class PlaylistItems : public QObject
{
    Q_OBJECT
public:
    // Indexes are 16-bit, so the list holds at most this many items.
    static constexpr int kMaxItems = 32768;

    // How items came in: one appended, one inserted before others, or a
    // batch appended at once (a restored playlist).
    enum class Added { Appended, Inserted, Batch };
    Q_ENUM(Added)

    explicit PlaylistItems(QObject *parent = nullptr);

    int count() const { return int(m_items.size()); }
    bool isValidIndex(int index) const { return index >= 0 && index < m_items.size(); }
    // The item, or nullptr when the index names none.
    const PlaylistItem *at(int index) const;

    // Appends (index omitted) or inserts at index (0..count). Returns the
    // new count, or -1 when index is out of range or the list is full;
    // nothing is added then. Only appended items have their file checked.
    int add(PlaylistItem item, std::optional<int> index = std::nullopt);
    // Appends the items in order, as many as fit; returns how many.
    int append(QList<PlaylistItem> items);
    // Returns the new count, or -1 when index names no item. Removing the
    // last item empties the list as clear() does.
    int remove(int index);
    void clear();

    void setTitle(int index, const QString &value);
    void setAuthor(int index, const QString &value);
    // The address and the time text are not drawn: no signal.
    void setUrl(int index, const QString &value);
    void setTimeText(int index, const QString &value);
    void setItemError(int index, bool value);

    short playIndex() const { return m_playIndex; }
    short listIndex() const { return m_listIndex; }
    // Moves the index to an item or to -1 (anything else is -1); raises
    // playIndexMoved / listIndexMoved when it changes.
    void setPlayIndex(int index);
    void setListIndex(int index);

    // Whether appended items (and drawn ones, see recheck) are marked in
    // error when their url names no file.
    bool checksFiles() const { return m_checkFiles; }
    void setChecksFiles(bool check) { m_checkFiles = check; }
    // The item at a valid index with its file checked again when the store
    // checks files. No signal: the caller is the view drawing it.
    const PlaylistItem &recheck(int index);

Q_SIGNALS:
    void added(int first, int count, PlaylistItems::Added how);
    // playingBefore: playIndex before the removal.
    void removed(int index, short playingBefore);
    void cleared();
    // After each of the three above: items came or went.
    void itemsChanged();
    // The title, author or error mark of an item changed.
    void itemChanged(int index);
    void playIndexMoved(short from, short to);
    void listIndexMoved(short from, short to);

private:
    bool fileMissing(const PlaylistItem &item) const;

    QList<PlaylistItem> m_items;
    short m_playIndex = -1;
    short m_listIndex = -1;
    bool m_checkFiles = false;
};
