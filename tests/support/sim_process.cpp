#include "support/sim_process.h"

#include <QElapsedTimer>

namespace nx7::test
{

namespace
{
constexpr int kReadyMs = 5000;
} // namespace

QString SimPath()
{
    return QStringLiteral(NX7_BINARY_DIR "/tools/ifb-sim/ifb-sim");
}

SimProcess::SimProcess()
    : m_process(std::make_unique<QProcess>())
{
}

SimProcess::~SimProcess()
{
    Stop();
}

QString SimProcess::Start(const QStringList& args, bool readLine)
{
    Stop();
    // A fresh process each time: what the previous run left in its pipes stays behind with it.
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(SimPath());
    m_process->setArguments(args);
    m_process->start();
    m_started = m_process->waitForStarted(kReadyMs);
    m_stopped = !m_started;
    if (!m_started || !readLine)
        return {};
    QElapsedTimer t;
    t.start();
    while (!m_process->canReadLine() && t.elapsed() < kReadyMs) {
        if (!m_process->waitForReadyRead(kReadyMs - static_cast<int>(t.elapsed())))
            break;
    }
    return QString::fromLocal8Bit(m_process->readLine()).trimmed();
}

bool SimProcess::Stop()
{
    if (m_stopped)
        return true;
    m_stopped = true;
    const auto endedCleanly = [this] {
        return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
    };
    if (m_process->state() == QProcess::NotRunning)
        return endedCleanly();
    m_process->terminate();
    if (!m_process->waitForFinished(5000)) {
        m_process->kill();
        m_process->waitForFinished(3000);
        return false;
    }
    return endedCleanly();
}

void SimProcess::Kill()
{
    m_process->kill();
}

QString SimProcess::Stderr()
{
    if (!m_started)
        return {};
    return QString::fromLocal8Bit(m_process->readAllStandardError());
}

} // namespace nx7::test
