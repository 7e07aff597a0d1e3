// SIGTERM and SIGINT as a request to end the program. A session that logs
// out, a service manager or Ctrl+C in the terminal that started the player
// would otherwise kill it on the spot, skipping what the exit command does
// (stop playback, remove the tray icon, drop unfinished downloads). The
// handler only writes a byte to a socket; the event loop reads it and calls
// the function given, which main() points at the exit command.
//
// One instance at a time; the destructor puts the previous handlers back.
#pragma once

#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

class TerminationSignals
{
public:
    using Handler = std::function<void(int signalNumber)>;

    explicit TerminationSignals(Handler onRequest);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

private:
    static void onSignal(int signalNumber);
    void drain();

    Handler m_onRequest;
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_previousTerm = {};
    struct sigaction m_previousInt = {};
};
