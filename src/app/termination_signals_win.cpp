#include "app/termination_signals.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <atomic>
#include <windows.h>

namespace nx7
{

namespace
{

// The console's stop events carry the POSIX numbers of their Linux counterparts, so the exit
// status (128 + number) is the same on both platforms.
constexpr int kInterrupt = 2;  // Ctrl+C
constexpr int kQuit = 3;       // Ctrl+Break
constexpr int kHangUp = 1;     // the console window closed
constexpr int kTerminate = 15; // log-off, shut-down

std::atomic<TerminationSignals*> g_watch{nullptr};
std::function<void(int)>* g_onSignal = nullptr;
// Set when the watch goes away, i.e. when the run has unwound (board restored, settings saved).
HANDLE g_unwound = nullptr;

BOOL WINAPI Handler(DWORD event)
{
    int number = 0;
    switch (event) {
    case CTRL_C_EVENT:
        number = kInterrupt;
        break;
    case CTRL_BREAK_EVENT:
        number = kQuit;
        break;
    case CTRL_CLOSE_EVENT:
        number = kHangUp;
        break;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        number = kTerminate;
        break;
    default:
        return FALSE;
    }
    // This runs on a thread of its own: the work is handed to the event loop.
    if (TerminationSignals* watch = g_watch.load()) {
        QMetaObject::invokeMethod(
            watch,
            [number] {
                if (g_onSignal && *g_onSignal)
                    (*g_onSignal)(number);
            },
            Qt::QueuedConnection);
    }
    // The process ends as soon as a close, log-off or shut-down handler returns: wait until the
    // run has unwound (the system still ends the process after its own time-out).
    if (number == kHangUp || number == kTerminate) {
        if (g_unwound)
            WaitForSingleObject(g_unwound, INFINITE);
    }
    return TRUE;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent)
    , m_onSignal(std::move(onSignal))
{
    g_watch = this;
    g_onSignal = &m_onSignal;
    g_unwound = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(Handler, TRUE);
}

TerminationSignals::~TerminationSignals()
{
    SetConsoleCtrlHandler(Handler, FALSE);
    g_watch = nullptr;
    g_onSignal = nullptr;
    if (g_unwound) {
        SetEvent(g_unwound);
        // The handler thread may still hold it; the process ends soon after in that case.
    }
}

void TerminationSignals::Drain()
{
    // Windows hands its events over through the handler above.
}

} // namespace nx7
