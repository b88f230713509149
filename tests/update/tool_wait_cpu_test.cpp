// The longest wait of a write is the uploader's run: while it prints nothing, the runner must sleep
// in the event loop rather than spin or wake every millisecond.
#include "core/app_core.h"
#include "support/cpu_usage.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"
#include "update/tool_runner.h"

using namespace nx7;
using namespace nx7::test;

namespace
{

TEST(QuietToolWait, SilentToolSleepsInTheEventLoop)
{
    ScriptedUi ui;
    MemoryLog log;
    AppCore app{ui, log};
    ExpectQuietWait(MeasureWait([&] { EXPECT_TRUE(RunTool(app, QStringLiteral("sleep 1.5"), &log)); }), 1500);
    EXPECT_TRUE(log.raw.isEmpty());
}

} // namespace
