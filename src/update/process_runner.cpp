#include "update/process_runner.h"

#include "platform/event_wait.h"
#include "platform/tick_clock.h"

#include <QProcess>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/types.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace nx7
{

namespace
{

// The event wait is bounded so an abort request or silence is seen even when nothing happens.
constexpr int kPassWaitMs = 50;

void EndChild(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
#ifndef Q_OS_WIN
    const qint64 pid = process.processId();
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
#endif
    process.kill();
    process.waitForFinished(3000);
}

// Takes what Qt has buffered, piece by piece; re-entry (a hook that processes events) is a no-op,
// the outer call goes on draining.
class Drain
{
public:
    Drain(QProcess& process, const ProcessHooks& hooks)
        : m_process(process)
        , m_hooks(hooks)
    {
    }

    void Run()
    {
        if (m_busy)
            return;
        m_busy = true;
        char buffer[kToolReadChunk];
        while (!m_failed && m_process.bytesAvailable() > 0) {
            const qint64 got = m_process.read(buffer, kToolReadChunk);
            if (got < 0) {
                m_failed = true;
                break;
            }
            if (got == 0)
                break;
            bytes += got;
            lastOutputTick = Clock().TickCount();
            if (m_hooks.output && !m_stopped && !m_hooks.output(QByteArray(buffer, static_cast<int>(got))))
                m_stopped = true;
        }
        m_busy = false;
    }

    bool Stopped() const { return m_stopped; }
    bool Failed() const { return m_failed; }

    qint64 bytes = 0;
    std::uint32_t lastOutputTick = 0;

private:
    QProcess& m_process;
    const ProcessHooks& m_hooks;
    bool m_busy = false;
    bool m_stopped = false;
    bool m_failed = false;
};

} // namespace

ProcessResult RunProcess(const ProcessSpec& job, const ProcessHooks& hooks)
{
    ProcessResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProgram(job.program);
    process.setArguments(job.arguments);
    if (!job.environment.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString& entry : job.environment) {
            const qsizetype eq = entry.indexOf(QLatin1Char('='));
            if (eq > 0)
                environment.insert(entry.left(eq), entry.mid(eq + 1));
        }
        process.setProcessEnvironment(environment);
    }
#ifdef Q_OS_WIN
    if (!job.nativeArguments.isEmpty())
        process.setNativeArguments(job.nativeArguments);
#else
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::setpgid(0, 0);
#ifdef Q_OS_LINUX
        // The child must not outlive the tool, even when the tool is killed outright (kill -9
        // leaves no chance to end it). A parent that died before this line is not noticed by the
        // kernel: then the child ends itself.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
#else
        Q_UNUSED(parent);
#endif
    });
#endif
    Drain drain(process, hooks);
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&drain] { drain.Run(); });

    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(10000)) {
        result.end = ProcessEnd::StartFailed;
        result.error = process.errorString();
        EndChild(process);
        return result;
    }
    drain.lastOutputTick = Clock().TickCount();

    bool ended = false;
    while (!ended) {
        if (process.state() != QProcess::NotRunning)
            WaitForEvents(kPassWaitMs);
        drain.Run();
        if (drain.Failed()) {
            result.end = ProcessEnd::ReadFailed;
            EndChild(process);
            break;
        }
        if (process.state() == QProcess::NotRunning) {
            result.end =
                process.exitStatus() == QProcess::CrashExit ? ProcessEnd::Crashed : ProcessEnd::Exited;
            result.exitCode = process.exitCode();
            ended = true;
        } else if (drain.Stopped()) {
            result.end = ProcessEnd::StoppedByOutput;
            ended = true;
        } else if (hooks.abort && hooks.abort()) {
            result.end = ProcessEnd::Aborted;
            ended = true;
        } else if (hooks.silenceLimitMs > 0 &&
                   static_cast<std::uint32_t>(Clock().TickCount() - drain.lastOutputTick) >=
                       hooks.silenceLimitMs) {
            result.end = ProcessEnd::Silent;
            ended = true;
        }
        if (ended) {
            EndChild(process);
            // What the child printed before its end is still handed on.
            drain.Run();
        }
        if (hooks.pass)
            hooks.pass();
        if (!ended)
            ProcessPendingEvents();
    }
    result.bytes = drain.bytes;
    return result;
}

} // namespace nx7
