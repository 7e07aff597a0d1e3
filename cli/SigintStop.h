// Ctrl-C during a search: the signal handler only writes a byte to a pipe;
// a socket notifier on the other end runs on the event loop (which spins
// while a page is awaited) and clears the search's stop flag there, so the
// loop ends at its next page boundary. A second Ctrl-C kills the process the
// usual way, for a page that never comes.
#pragma once

#include <QObject>

class QSocketNotifier;

class SigintStop : public QObject
{
    Q_OBJECT

public:
    explicit SigintStop(QObject *parent = nullptr);
    ~SigintStop() override;

    bool installed() const { return m_notifier != nullptr; }
    bool interrupted() const { return m_interrupted; }

private:
    void onSignalByte();

    QSocketNotifier *m_notifier = nullptr;
    bool m_interrupted = false;
};
