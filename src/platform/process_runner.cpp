#include "platform/process_runner.h"

#include "platform/event_wait.h"
#include "platform/tick_clock.h"

#include <QProcess>
#include <optional>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/types.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif
#ifdef Q_OS_WIN
#include "platform/win_api.h"
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

// The tool's own environment with the job's "NAME=value" entries put in.
QProcessEnvironment ChildEnvironment(const QStringList& entries)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : entries) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq > 0)
            environment.insert(entry.left(eq), entry.mid(eq + 1));
    }
    return environment;
}

#ifndef Q_OS_WIN
// The child leads a process group of its own, so one kill reaches whatever it starts.
void TieChildToTool(QProcess& process)
{
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
}
#endif

#ifdef Q_OS_WIN
// The child and whatever it starts run in a job that ends with the run: when the job's handle
// closes (at the end of the run, or when the system ends the tool), every process left in it ends.
class ChildJob
{
public:
    ChildJob()
        : m_job(CreateJobObjectW(nullptr, nullptr))
    {
        if (!m_job)
            return;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    ~ChildJob()
    {
        if (m_job)
            CloseHandle(m_job);
    }
    ChildJob(const ChildJob&) = delete;
    ChildJob& operator=(const ChildJob&) = delete;

    void Take(const QProcess& process)
    {
        const HANDLE child = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE,
                                         static_cast<DWORD>(process.processId()));
        if (!child)
            return;
        if (m_job)
            AssignProcessToJobObject(m_job, child);
        CloseHandle(child);
    }

private:
    HANDLE m_job;
};
#endif

void Prepare(QProcess& process, const ProcessSpec& job)
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProgram(job.program);
    process.setArguments(job.arguments);
    if (!job.environment.isEmpty())
        process.setProcessEnvironment(ChildEnvironment(job.environment));
#ifdef Q_OS_WIN
    if (!job.nativeArguments.isEmpty())
        process.setNativeArguments(job.nativeArguments);
#else
    TieChildToTool(process);
#endif
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
            Hand(QByteArray(buffer, static_cast<int>(got)));
        }
        m_busy = false;
    }

    bool Stopped() const { return m_stopped; }
    bool Failed() const { return m_failed; }

    qint64 bytes = 0;
    std::uint32_t lastOutputTick = 0;

private:
    void Hand(const QByteArray& piece)
    {
        bytes += piece.size();
        lastOutputTick = Clock().TickCount();
        if (m_hooks.output && !m_stopped && !m_hooks.output(piece))
            m_stopped = true;
    }

    QProcess& m_process;
    const ProcessHooks& m_hooks;
    bool m_busy = false;
    bool m_stopped = false;
    bool m_failed = false;
};

bool SilenceExceeded(const Drain& drain, const ProcessHooks& hooks)
{
    return hooks.silenceLimitMs > 0 &&
           static_cast<std::uint32_t>(Clock().TickCount() - drain.lastOutputTick) >= hooks.silenceLimitMs;
}

// Why the run ends after this pass; nothing while it goes on. The child's own end comes first.
std::optional<ProcessEnd> EndOfPass(const QProcess& process, const Drain& drain, const ProcessHooks& hooks)
{
    if (process.state() == QProcess::NotRunning)
        return process.exitStatus() == QProcess::CrashExit ? ProcessEnd::Crashed : ProcessEnd::Exited;
    if (drain.Stopped())
        return ProcessEnd::StoppedByOutput;
    if (hooks.abort && hooks.abort())
        return ProcessEnd::Aborted;
    if (SilenceExceeded(drain, hooks))
        return ProcessEnd::Silent;
    return std::nullopt;
}

// Passes of the wait until the run ends: wait for events, hand on the output, decide.
ProcessEnd WaitForEnd(QProcess& process, Drain& drain, const ProcessHooks& hooks)
{
    for (;;) {
        if (process.state() != QProcess::NotRunning)
            WaitForEvents(kPassWaitMs);
        drain.Run();
        if (drain.Failed()) {
            EndChild(process);
            return ProcessEnd::ReadFailed;
        }
        const std::optional<ProcessEnd> end = EndOfPass(process, drain, hooks);
        if (end) {
            EndChild(process);
            // What the child printed before its end is still handed on.
            drain.Run();
        }
        if (hooks.pass)
            hooks.pass();
        if (end)
            return *end;
        ProcessPendingEvents();
    }
}

} // namespace

ProcessResult RunProcess(const ProcessSpec& job, const ProcessHooks& hooks)
{
    ProcessResult result;
#ifdef Q_OS_WIN
    ChildJob childJob; // outlives the process: what the child started ends with the job
#endif
    QProcess process;
    Prepare(process, job);
    Drain drain(process, hooks);
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&drain] { drain.Run(); });

    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(10000)) {
        result.end = ProcessEnd::StartFailed;
        result.error = process.errorString();
        EndChild(process);
        return result;
    }
#ifdef Q_OS_WIN
    childJob.Take(process);
#endif
    drain.lastOutputTick = Clock().TickCount();
    result.end = WaitForEnd(process, drain, hooks);
    if (result.end == ProcessEnd::Exited || result.end == ProcessEnd::Crashed)
        result.exitCode = process.exitCode();
    result.bytes = drain.bytes;
    return result;
}

} // namespace nx7
