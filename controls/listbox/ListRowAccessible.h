// What the owner-drawn lists share in how a screen reader sees their rows.
// A row interface holds only the list widget and an index, so it always
// reads the row now at that index and is invalid while the list is shorter;
// it has no children of its own. The list's interface keeps its rows in a
// ListRowCache: made on first request, kept by index for its own life.
#pragma once

#include <QAccessibleInterface>
#include <QHash>
#include <QPointer>
#include <QWidget>

class ListRowAccessible : public QAccessibleInterface
{
public:
    bool isValid() const override;
    QObject *object() const override { return nullptr; }
    QWindow *window() const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString &) override {}
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    int row() const { return m_row; }

    // A song row's name: "title - singer", the title alone without a singer.
    static QString titleAndSinger(const QString &title, const QString &singer);

protected:
    ListRowAccessible(QWidget *list, int row) : m_row(row), m_list(list) {}

    // How many rows the list has now.
    virtual int listRowCount() const = 0;

    QWidget *listWidget() const { return m_list; }
    // The state every row has: invalid past the list's end, otherwise
    // selectable and focusable, focused when selected in the focused list,
    // and off screen while scrolled out of view.
    QAccessible::State rowState(bool selected, bool scrolledOut) const;

    const int m_row;

private:
    QPointer<QWidget> m_list;
};

class ListRowCache
{
public:
    ListRowCache() = default;
    ~ListRowCache();
    Q_DISABLE_COPY_MOVE(ListRowCache)

    // The registered row interface at index, made by make() the first time.
    template <class Make> QAccessibleInterface *row(int index, Make make)
    {
        if (const auto found = m_ids.constFind(index); found != m_ids.constEnd())
            return QAccessible::accessibleInterface(*found);
        QAccessibleInterface *made = make();
        m_ids.insert(index, QAccessible::registerAccessibleInterface(made));
        return made;
    }

    // child's index when it is one of list's rows still within rowCount,
    // -1 for anything else.
    static int indexOf(const QAccessibleInterface *child, const QAccessibleInterface *list,
                       int rowCount);

private:
    QHash<int, QAccessible::Id> m_ids;
};
