// Waits that nothing ends must sleep in the event loop: a wait that spins, or wakes every
// millisecond, would burn a core through a whole write.
#include "platform/event_wait.h"
#include "support/cpu_usage.h"

#include "comm_fixture.h"

using namespace nx7;
using namespace nx7::test;

namespace
{

class QuietWaits : public EngineOnPty
{
};

TEST_F(QuietWaits, PauseSleepsInTheEventLoop)
{
    ExpectQuietWait(MeasureWait([] { PumpSleep(1000); }), 1000);
}

TEST_F(QuietWaits, ReplyWaitsWithoutAnswerSleepInTheEventLoop)
{
    CreateSerial();
    engine->SendRequest({0x00}, false);
    ExpectQuietWait(MeasureWait([this] { EXPECT_FALSE(engine->WaitReply(2, 1000)); }), 1000);

    engine->SendRequest({0x90}, false);
    ExpectQuietWait(MeasureWait([this] { EXPECT_FALSE(engine->WaitAnyReply()); }), 2000);
    EXPECT_EQ(board.requests.size(), 2u); // the board heard both and stayed silent
}

} // namespace
