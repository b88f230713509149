#pragma once
// SIGINT, SIGTERM, SIGHUP and SIGQUIT turned into an event of the event loop: the handler only writes the
// signal number into a pipe, and the work (abort the write, restore the board, save, exit) runs in the flows
// as on a normal close. On Windows the console's Ctrl+C, Ctrl+Break, close, log-off and shut-down events
// arrive the same way, numbered as SIGINT (Ctrl+C, Ctrl+Break), SIGHUP (close) and SIGTERM (log-off,
// shut-down): termination_signals_win.cpp.
#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace nx7
{

class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    // `onSignal` runs in the event loop with the signal number, once per signal received.
    explicit TerminationSignals(std::function<void(int)> onSignal, QObject* parent = nullptr);
    // Restores the previous dispositions.
    ~TerminationSignals() override;

private:
    void Drain();
    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace nx7
