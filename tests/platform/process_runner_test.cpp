// The process runner on its own, over real /bin/sh, /bin/echo and sleep children: how a run ends,
// what the hooks see, and that nothing of the child's process group is left behind.
#include "platform/process_runner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nx7;

namespace
{

ProcessSpec Shell(const QString& script)
{
    return {QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, {}, {}};
}

// Every piece the output hook was handed, in order.
struct Pieces {
    QList<QByteArray> list;
    ProcessHooks Hooks()
    {
        ProcessHooks hooks;
        hooks.output = [this](const QByteArray& piece) {
            list.append(piece);
            return true;
        };
        return hooks;
    }
    QByteArray Joined() const { return list.join(); }
};

TEST(ProcessRunner, ProgramThatCannotStart)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString plain = dir.filePath(QStringLiteral("plain"));
    {
        QFile f(plain);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\necho hi\n");
    }
    struct Case {
        const char* name;
        QString program;
    };
    const Case cases[] = {
        {"missing", dir.filePath(QStringLiteral("nothing-here"))},
        {"not executable", plain},
        {"a folder", dir.path()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pieces seen;
        QElapsedTimer t;
        t.start();
        const ProcessResult r = RunProcess({c.program, {}, {}, {}}, seen.Hooks());
        EXPECT_EQ(r.end, ProcessEnd::StartFailed);
        EXPECT_FALSE(r.error.isEmpty());
        EXPECT_EQ(r.bytes, 0);
        EXPECT_TRUE(seen.list.isEmpty());
        EXPECT_LT(t.elapsed(), 2000);
    }
}

TEST(ProcessRunner, ExitStatusOrSignal)
{
    struct Case {
        const char* name;
        QString script;
        ProcessEnd end;
        int exitCode; // -1: not looked at
    };
    const Case cases[] = {
        {"success", QStringLiteral("exit 0"), ProcessEnd::Exited, 0},
        {"failure status", QStringLiteral("echo failing; exit 3"), ProcessEnd::Exited, 3},
        {"killed by a signal", QStringLiteral("kill -TERM $$; sleep 5"), ProcessEnd::Crashed, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult r = RunProcess(Shell(c.script), {});
        EXPECT_EQ(r.end, c.end);
        if (c.exitCode >= 0) {
            EXPECT_EQ(r.exitCode, c.exitCode);
        }
    }
}

// Silence counts from the last output: steady output keeps a run going past the bound, a pause
// longer than it ends the run, output or not before it.
TEST(ProcessRunner, SilenceEndsAQuietProgram)
{
    struct Case {
        const char* name;
        QString script;
        std::uint32_t silenceMs;
        ProcessEnd end;
        qint64 atLeastMs;
        qint64 belowMs;
    };
    const Case cases[] = {
        {"never prints", QStringLiteral("sleep 5"), 300, ProcessEnd::Silent, 300, 1500},
        // The last output comes about 200 ms in: the end one bound after that.
        {"prints, then hangs", QStringLiteral("echo started; sleep 0.2; echo more; sleep 5"), 400,
         ProcessEnd::Silent, 580, 1800},
        {"prints every 100 ms", QStringLiteral("for i in 1 2 3 4 5 6 7 8; do echo $i; sleep 0.1; done"), 600,
         ProcessEnd::Exited, 700, 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessHooks hooks;
        hooks.silenceLimitMs = c.silenceMs;
        QElapsedTimer t;
        t.start();
        const ProcessResult r = RunProcess(Shell(c.script), hooks);
        EXPECT_EQ(r.end, c.end);
        EXPECT_GE(t.elapsed(), c.atLeastMs);
        EXPECT_LT(t.elapsed(), c.belowMs);
    }
}

TEST(ProcessRunner, OutputArrivesInOrderInBoundedPieces)
{
    struct Case {
        const char* name;
        ProcessSpec job;
        QByteArray expected;
        int minPieces;
    };
    QByteArray counted;
    for (int i = 1; i <= 3000; ++i)
        counted += QByteArray::number(i) + '\n';
    const Case cases[] = {
        {"echo",
         {QStringLiteral("/bin/echo"), {QStringLiteral("one"), QStringLiteral("two")}, {}, {}},
         "one two\n",
         1},
        // Standard error comes through the same channel, in the order written.
        {"standard error merged", Shell(QStringLiteral("echo out; echo err >&2; echo out2")),
         "out\nerr\nout2\n", 1},
        // Each printf is a read of its own: a line cut in two arrives as two pieces that join up.
        {"cut between reads", Shell(QStringLiteral("printf 'Uploa'; sleep 0.2; printf 'ding 5%%\\n'")),
         "Uploading 5%\n", 2},
        {"more than one piece holds",
         Shell(QStringLiteral("i=1; while [ $i -le 3000 ]; do echo $i; i=$((i+1)); done")), counted, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pieces seen;
        const ProcessResult r = RunProcess(c.job, seen.Hooks());
        EXPECT_EQ(r.end, ProcessEnd::Exited);
        EXPECT_EQ(seen.Joined(), c.expected);
        EXPECT_EQ(r.bytes, c.expected.size());
        EXPECT_GE(seen.list.size(), c.minPieces);
        for (const QByteArray& piece : seen.list) {
            EXPECT_GE(piece.size(), 1);
            EXPECT_LE(piece.size(), kToolReadChunk);
        }
    }
}

TEST(ProcessRunner, OutputHookThatRefusesEndsTheProgramAndStillSeesWhatCameBefore)
{
    QByteArray seen;
    ProcessHooks hooks;
    hooks.output = [&seen](const QByteArray& piece) {
        seen += piece;
        return !seen.contains("STOP");
    };
    QElapsedTimer t;
    t.start();
    const ProcessResult r =
        RunProcess(Shell(QStringLiteral("echo before; sleep 0.2; echo STOP; sleep 30")), hooks);
    EXPECT_EQ(r.end, ProcessEnd::StoppedByOutput);
    EXPECT_EQ(seen, QByteArray("before\nSTOP\n"));
    EXPECT_LT(t.elapsed(), 3000);
}

// The abort check is asked once per pass; here a timer sets it, which also shows the wait runs the
// event loop.
TEST(ProcessRunner, AbortEndsARunningSleep)
{
    bool stop = false;
    QObject scope;
    QTimer::singleShot(200, &scope, [&stop] { stop = true; });
    int passes = 0;
    ProcessHooks hooks;
    hooks.abort = [&stop] { return stop; };
    hooks.pass = [&passes] { ++passes; };
    QElapsedTimer t;
    t.start();
    const ProcessResult r = RunProcess({QStringLiteral("sleep"), {QStringLiteral("30")}, {}, {}}, hooks);
    EXPECT_EQ(r.end, ProcessEnd::Aborted);
    EXPECT_GE(t.elapsed(), 150);
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_GE(passes, 2);
}

// The abort comes while the child's last words still wait in the pipe, unread: they are handed on.
TEST(ProcessRunner, OutputPrintedBeforeAnAbortIsStillHandedOn)
{
    Pieces seen;
    ProcessHooks hooks = seen.Hooks();
    hooks.abort = [] {
        ::usleep(300000);
        return true;
    };
    const ProcessResult r = RunProcess(Shell(QStringLiteral("echo last words; sleep 30")), hooks);
    EXPECT_EQ(r.end, ProcessEnd::Aborted);
    EXPECT_EQ(seen.Joined(), QByteArray("last words\n"));
}

TEST(ProcessRunner, EnvironmentEntriesReachTheChild)
{
    ProcessSpec job = Shell(QStringLiteral("printf '%s|%s' \"$NX7_RUNNER_A\" \"$NX7_RUNNER_B\""));
    job.environment = {QStringLiteral("NX7_RUNNER_A=one=1"), QStringLiteral("NX7_RUNNER_B=")};
    Pieces seen;
    EXPECT_EQ(RunProcess(job, seen.Hooks()).end, ProcessEnd::Exited);
    EXPECT_EQ(seen.Joined(), QByteArray("one=1|"));
    EXPECT_FALSE(qEnvironmentVariableIsSet("NX7_RUNNER_A"));
}

// True once no process of `group` is left (kill(-group, 0) fails with ESRCH), within 2 s. The
// group's orphans are this process's children here (child subreaper): their remains are reaped.
bool GroupGone(pid_t group)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        while (::waitpid(-group, nullptr, WNOHANG) > 0) {
        }
        errno = 0;
        if (::kill(-group, 0) == -1 && errno == ESRCH)
            return true;
        if (t.elapsed() > 2000)
            return false;
        ::usleep(10000);
    }
}

// Whatever the child started goes with it: after an abort (or silence, or a refusing hook) no
// process of its group is left. The test takes the orphans in (child subreaper) so that the killed
// grandchildren are reaped here and the group really is empty afterwards.
TEST(ProcessRunner, EndingTheRunEndsTheWholeProcessGroup)
{
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    struct Case {
        const char* name;
        ProcessHooks hooks;
        ProcessEnd end;
    };
    std::vector<Case> cases(3);
    bool printed = false;
    cases[0] = {"abort", {}, ProcessEnd::Aborted};
    cases[0].hooks.abort = [&printed] { return printed; };
    cases[1] = {"silence", {}, ProcessEnd::Silent};
    cases[1].hooks.silenceLimitMs = 300;
    cases[2] = {"refusing hook", {}, ProcessEnd::StoppedByOutput};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        printed = false;
        QByteArray ids; // what the shell printed
        const bool refuse = c.end == ProcessEnd::StoppedByOutput;
        c.hooks.output = [&ids, &printed, refuse](const QByteArray& piece) {
            ids += piece;
            printed = ids.endsWith('\n');
            return !(refuse && printed);
        };
        // The shell prints its pid, which names its process group, and leaves a sleep behind.
        const ProcessResult r = RunProcess(Shell(QStringLiteral("sleep 30 & echo $$; sleep 30")), c.hooks);
        EXPECT_EQ(r.end, c.end);
        const pid_t group = ids.trimmed().toInt();
        ASSERT_GT(group, 0) << ids.toStdString();
        EXPECT_TRUE(GroupGone(group)) << "a process of the group outlived the run";
        ::kill(-group, SIGKILL);
        GroupGone(group);
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

} // namespace
