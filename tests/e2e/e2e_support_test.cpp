// The end-to-end harness itself: a signal meant for the tool reaches the tool and nothing else.
#include "e2e/e2e_support.h"

#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>

namespace nx7::e2e
{
namespace
{

volatile std::sig_atomic_t g_received = 0;

void Count(int)
{
    g_received = g_received + 1;
}

// A tool that never started, or one already reaped, has process id 0: kill(0, ...) would signal
// the whole process group, this test program and ctest included.
TEST(E2eSupportTest, OnlyARunningChildIsSignalled)
{
    struct sigaction count = {};
    count.sa_handler = Count;
    struct sigaction before = {};
    ASSERT_EQ(::sigaction(SIGUSR1, &count, &before), 0);
    g_received = 0;

    QProcess neverStarted;
    EXPECT_FALSE(SignalChild(neverStarted, SIGUSR1));

    QProcess missing;
    missing.start(QStringLiteral("/nonexistent/nx7-no-such-tool"), {});
    missing.waitForFinished(5000);
    EXPECT_FALSE(SignalChild(missing, SIGUSR1));

    QProcess finished;
    finished.start(QStringLiteral("/bin/true"), {});
    ASSERT_TRUE(finished.waitForFinished(5000));
    EXPECT_FALSE(SignalChild(finished, SIGUSR1));
    EXPECT_EQ(g_received, 0) << "the test's own process group was signalled";

    // A running child gets it.
    QProcess sleeper;
    sleeper.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(sleeper.waitForStarted(5000));
    EXPECT_TRUE(SignalChild(sleeper, SIGTERM));
    EXPECT_TRUE(sleeper.waitForFinished(5000));
    EXPECT_EQ(sleeper.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(g_received, 0);

    ::sigaction(SIGUSR1, &before, nullptr);
}

} // namespace
} // namespace nx7::e2e
