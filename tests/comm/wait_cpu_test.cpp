// Waits that nothing ends must sleep in the event loop: a wait that spins, or wakes every
// millisecond, would burn a core through a whole write. Measured on this process's CPU time and on
// the waiting thread's own wake-ups, so other load on the machine does not count.
#include "platform/event_wait.h"

#include "comm_fixture.h"

#include <QElapsedTimer>

#include <ctime>
#include <functional>
#include <sstream>
#include <sys/resource.h>

using namespace nx7;
using namespace nx7::test;

namespace
{

double ProcessCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Times this thread gave up the processor by itself (it blocked): one per wake-up of a wait.
long VoluntarySwitches()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_nvcsw;
}

struct Cost {
    double wallMs = 0;
    double cpuMs = 0;
    long wakeups = 0;
};

std::ostream& operator<<(std::ostream& os, const Cost& c)
{
    return os << c.wallMs << " ms wall, " << c.cpuMs << " ms CPU, " << c.wakeups << " wake-ups";
}

Cost Measure(const std::function<void()>& wait)
{
    QElapsedTimer wall;
    const double cpu = ProcessCpuMs();
    const long switches = VoluntarySwitches();
    wall.start();
    wait();
    Cost c;
    c.wallMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
    c.cpuMs = ProcessCpuMs() - cpu;
    c.wakeups = VoluntarySwitches() - switches;
    return c;
}

// Generous for a loaded machine and a debug build: a quiet wait costs under 1 % of a core and wakes
// for Timer1 and its own short bound only (20 to 60 times a second). A wait that wakes every
// millisecond costs only some 4 % of a core but wakes over 800 times a second; one that spins is
// far above both bounds.
void ExpectQuiet(const Cost& c, double expectedWallMs)
{
    std::ostringstream shown;
    shown << c;
    ::testing::Test::RecordProperty("cost", shown.str());
    EXPECT_GE(c.wallMs, expectedWallMs * 0.95) << c;
    EXPECT_LT(c.cpuMs, c.wallMs * 0.05) << c;
    EXPECT_LT(static_cast<double>(c.wakeups), c.wallMs * 0.25) << c; // fewer than 250 a second
}

class QuietWaits : public EngineOnPty
{
};

TEST_F(QuietWaits, PauseSleepsInTheEventLoop)
{
    const Cost c = Measure([] { PumpSleep(1000); });
    ExpectQuiet(c, 1000);
}

TEST_F(QuietWaits, ReplyWaitsWithoutAnswerSleepInTheEventLoop)
{
    CreateSerial();
    engine->SendRequest({0x00}, false);
    Cost c = Measure([this] { EXPECT_FALSE(engine->WaitReply(2, 1000)); });
    ExpectQuiet(c, 1000);

    engine->SendRequest({0x90}, false);
    c = Measure([this] { EXPECT_FALSE(engine->WaitAnyReply()); });
    ExpectQuiet(c, 2000);
    EXPECT_EQ(board.requests.size(), 2u); // the board heard both and stayed silent
}

} // namespace
