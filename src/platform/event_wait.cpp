#include "platform/event_wait.h"

#include "platform/tick_clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <thread>

namespace nx7
{

void ProcessPendingEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitForEvents(int maxRealMs)
{
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(maxRealMs < 1 ? 1 : maxRealMs));
        return;
    }
    // A single-shot wake-up bounds the blocking wait; any earlier event ends it sooner.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(maxRealMs < 1 ? 1 : maxRealMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void PumpSleep(std::uint32_t ms)
{
    TickClock& clock = Clock();
    const std::uint32_t start = clock.TickCount();
    for (;;) {
        const std::uint32_t elapsed = clock.TickCount() - start;
        if (elapsed >= ms)
            return;
        const double rate = clock.Rate();
        int realLeft = static_cast<int>(static_cast<double>(ms - elapsed) / rate) + 1;
        WaitForEvents(realLeft < 20 ? realLeft : 20);
    }
}

} // namespace nx7
