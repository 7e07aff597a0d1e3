// What a screen reader sees of the search-result list: a list whose
// children are the rows, each named "title - singer", described by its
// album and song ID, checkable (the tick box, which the toggle action
// flips) and selected when it is the list's selected row. Row interfaces
// are made on first request and kept by index for the life of the list's
// interface.
#pragma once

#include "controls/listbox/ListRowAccessible.h"

#include <QAccessibleActionInterface>
#include <QAccessibleWidget>

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
    mutable ListRowCache m_rows;
};

class ResultRowAccessible : public ListRowAccessible, public QAccessibleActionInterface
{
public:
    ResultRowAccessible(ResultList *list, int row);

    QString text(QAccessible::Text t) const override;
    QRect rect() const override;
    QAccessible::State state() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    int listRowCount() const override;
    ResultList *list() const;
};
