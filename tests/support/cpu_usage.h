#pragma once
// What a wait costs this process: wall time, CPU time (this process only, so other load on the
// machine does not count) and the waiting thread's own wake-ups.
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <ostream>
#include <sstream>
#include <sys/resource.h>

namespace nx7::test
{

inline double ProcessCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Times this thread gave up the processor by itself (it blocked): one per wake-up of a wait.
inline long VoluntarySwitches()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_nvcsw;
}

struct WaitCost {
    double wallMs = 0;
    double cpuMs = 0;
    long wakeups = 0;
};

inline std::ostream& operator<<(std::ostream& os, const WaitCost& c)
{
    return os << c.wallMs << " ms wall, " << c.cpuMs << " ms CPU, " << c.wakeups << " wake-ups";
}

inline WaitCost MeasureWait(const std::function<void()>& wait)
{
    QElapsedTimer wall;
    const double cpu = ProcessCpuMs();
    const long switches = VoluntarySwitches();
    wall.start();
    wait();
    WaitCost c;
    c.wallMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
    c.cpuMs = ProcessCpuMs() - cpu;
    c.wakeups = VoluntarySwitches() - switches;
    return c;
}

// Generous for a loaded machine and a debug build: a quiet wait costs under 1 % of a core and wakes
// for its timers only (20 to 60 times a second). A wait that wakes every millisecond costs only
// some 4 % of a core but wakes over 800 times a second; one that spins is far above both bounds.
inline void ExpectQuietWait(const WaitCost& c, double expectedWallMs)
{
    std::ostringstream shown;
    shown << c;
    ::testing::Test::RecordProperty("cost", shown.str());
    EXPECT_GE(c.wallMs, expectedWallMs * 0.95) << c;
    EXPECT_LT(c.cpuMs, c.wallMs * 0.05) << c;
    EXPECT_LT(static_cast<double>(c.wakeups), c.wallMs * 0.25) << c; // fewer than 250 a second
}

} // namespace nx7::test
