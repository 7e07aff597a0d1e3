// The requests waiting in a nested event loop now, each with its deadline:
// a request is started from inside another's wait, so several can be
// waiting, and a whole group (a search's pages) can be cut short at once.
#pragma once

#include <QList>
#include <QString>
#include <QTimer>

class WaitingRequests
{
public:
    // From the start of a wait to its end; `shortened` is set when the
    // group's limit brings the deadline forward.
    void add(const QString &group, QTimer *deadline, bool *shortened)
    {
        if (!group.isEmpty())
            m_waiting.append({group, deadline, shortened});
    }
    void remove(const QTimer *deadline)
    {
        m_waiting.removeIf([deadline](const Waiting &w) { return w.deadline == deadline; });
    }
    // Every request of `group` gets at most `graceMs` more.
    void limit(const QString &group, int graceMs)
    {
        for (const Waiting &w : std::as_const(m_waiting)) {
            if (w.group != group || w.deadline->remainingTime() <= graceMs)
                continue;
            *w.shortened = true;
            w.deadline->start(graceMs);
        }
    }

private:
    struct Waiting
    {
        QString group;
        QTimer *deadline;
        bool *shortened;
    };
    QList<Waiting> m_waiting;
};
