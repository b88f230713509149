// Windows has no such signals: the console's control events stand for them, reported with the
// numbers of the signals they replace (Ctrl+C and Ctrl+Break: SIGINT 2; the console closed: SIGHUP
// 1; log-off and shutdown: SIGTERM 15), so the flows and the exit status stay as elsewhere.
// The system calls the handler on a thread of its own: the handler only queues the number for the
// event loop. After the close, log-off and shutdown events Windows ends the process as soon as the
// handler returns, so there the handler waits until the clean stop is over (this object is gone),
// a little less than the 5 seconds Windows grants.
#include "app/termination_signals.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <deque>
#include <mutex>

#include "platform/win_api.h"

namespace nx7
{

namespace
{

constexpr DWORD kCleanStopWaitMs = 4500;

std::mutex g_mutex;
std::deque<int> g_pending;    // numbers not yet handed to the event loop
std::function<void()> g_post; // queues a Drain() on the watcher's thread; empty: no watcher
HANDLE g_stopped = nullptr;   // set when the watcher is gone; lives as long as the process

BOOL WINAPI ConsoleHandler(DWORD type)
{
    int signo = 0;
    bool waits = false;
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        signo = 2;
        break;
    case CTRL_CLOSE_EVENT:
        signo = 1;
        waits = true;
        break;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        signo = 15;
        waits = true;
        break;
    default:
        return FALSE;
    }
    HANDLE stopped = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_post)
            return FALSE; // the system's default: end the process
        g_pending.push_back(signo);
        g_post();
        stopped = g_stopped;
    }
    if (waits && stopped)
        ::WaitForSingleObject(stopped, kCleanStopWaitMs);
    return TRUE;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent)
    , m_onSignal(std::move(onSignal))
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_stopped)
            g_stopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        else
            ::ResetEvent(g_stopped);
        g_pending.clear();
        g_post = [this] {
            QMetaObject::invokeMethod(
                this, [this] { Drain(); }, Qt::QueuedConnection);
        };
    }
    ::SetConsoleCtrlHandler(ConsoleHandler, TRUE);
}

TerminationSignals::~TerminationSignals()
{
    ::SetConsoleCtrlHandler(ConsoleHandler, FALSE);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_post = nullptr;
    g_pending.clear();
    if (g_stopped)
        ::SetEvent(g_stopped);
}

void TerminationSignals::Drain()
{
    for (;;) {
        int signo = 0;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (g_pending.empty())
                return;
            signo = g_pending.front();
            g_pending.pop_front();
        }
        if (m_onSignal)
            m_onSignal(signo);
    }
}

} // namespace nx7
