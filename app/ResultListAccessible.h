// What a screen reader sees of the search-result list: a list whose
// children are the rows, each named "title - singer", described by its
// album and song ID, checkable (the tick box, which the toggle action
// flips) and selected when it is the list's selected row. Row interfaces
// are made on first request and kept by index for the life of the list's
// interface; each reads the row now at its index.
#pragma once

#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

class ResultList;

class ResultListAccessible : public QAccessibleWidget
{
public:
    explicit ResultListAccessible(ResultList *list);
    ~ResultListAccessible() override;

    QString text(QAccessible::Text t) const override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;

    // For QAccessible::installFactory.
    static QAccessibleInterface *create(const QString &className, QObject *object);

private:
    ResultList *list() const;
    mutable QHash<int, QAccessible::Id> m_rows;
};

class ResultRowAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    ResultRowAccessible(ResultList *list, int row);

    bool isValid() const override;
    QObject *object() const override { return nullptr; }
    QWindow *window() const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

    int row() const { return m_row; }

private:
    QPointer<ResultList> m_list;
    int m_row;
};
