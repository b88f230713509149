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
    const UploaderLaunch sleeper = ResolveUploader(QStringLiteral("/bin/sleep"));
    UploaderEnd end = UploaderEnd::Failed;
    ExpectQuietWait(
        MeasureWait([&] { end = RunUploader(app, sleeper, {QStringLiteral("1.5")}, &log, 0).end; }), 1500);
    EXPECT_EQ(end, UploaderEnd::Finished);
    EXPECT_TRUE(log.raw.isEmpty());
}

} // namespace
