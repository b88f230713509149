#pragma once
// The tests' one launcher of the board simulator: the real ifb-sim executable as a child process.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

namespace nx7::test
{

// The built simulator.
QString SimPath();

// Starts ifb-sim, reads the line that names its link, and stops it with SIGTERM (killing it when
// it does not end) on destruction. It can be started again after Stop(), as a board plugged in
// anew.
class SimProcess
{
public:
    SimProcess();
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts it with `args` and returns its first line of standard output within 5 s ("PTY
    // <path>" or "TCP <port>"), trimmed; empty when it did not start or printed nothing. A TCP
    // client prints nothing: with `readLine` false Start returns (empty) as soon as it runs.
    QString Start(const QStringList& args, bool readLine = true);
    // Whether the last Start got the process running (it may have ended since).
    bool Started() const { return m_started; }
    // Sends SIGTERM and waits; true when it ended by itself with exit code 0. Safe to repeat.
    bool Stop();
    // Ends it at once, as a board whose port vanishes.
    void Kill();
    // What it wrote to standard error since the last call.
    QString Stderr();
    QProcess& process() { return *m_process; }

private:
    std::unique_ptr<QProcess> m_process;
    bool m_started = false;
    bool m_stopped = true;
};

} // namespace nx7::test
