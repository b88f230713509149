#include "e2e/e2e_support.h"

#include "comm/frame_codec.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QThread>

#include <csignal>
#include <sys/types.h>

namespace nx7::e2e
{

QString ToolPath()
{
    return QStringLiteral(NX7_BINARY_DIR "/src/app/nx7ifbprog-seamed");
}

QString EspotaPath()
{
    return QStringLiteral(NX7_BINARY_DIR "/tools/espota/espota");
}

QString DescribeRequest(const QString& hexLine)
{
    const QByteArray bytes = QByteArray::fromHex(hexLine.toLatin1());
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const int n = static_cast<int>(bytes.size());
    const QString unknown = QLatin1Char('?') + hexLine;
    if (n < codec::kMinFrame || b[0] != codec::kStx || b[2] != codec::kIfbCommand || b[3] + 7 != n ||
        b[n - 3] != codec::kEtx || b[n - 1] != codec::kCr || codec::FrameChecksum(b) != b[n - 2] || b[3] == 0)
        return unknown;
    const int len = b[3];
    const std::uint8_t* d = b + 4;
    const auto hexData = [&](int from) {
        return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(d + from), len - from).toHex(' '))
            .toUpper();
    };
    switch (d[0]) {
    case 0x00:
        return QStringLiteral("GetMode");
    case 0x01:
        if (len == 3)
            return QStringLiteral("ModeSet(") + QString::asprintf("%04X", d[1] | (d[2] << 8)) +
                   QLatin1Char(')');
        break;
    case 0x05:
        return QStringLiteral("TargetId");
    case 0x0A:
        return QStringLiteral("Restart");
    case 0x0B:
        return QStringLiteral("SetOtaMode(%1)").arg(hexData(1));
    case 0x90:
        return QStringLiteral("RomVersion");
    case 0x93:
        return QStringLiteral("ModelName");
    case 0x03:
        if (len == 2 && d[1] == 0x02)
            return QStringLiteral("GetWifiSsid");
        if (len == 2 && d[1] == 0x03)
            return QStringLiteral("GetWifiPassword");
        if (len == 2 && d[1] == 0x04)
            return QStringLiteral("GetNetParams");
        if (len == 2 && d[1] == 0x71)
            return QStringLiteral("GetApInfo");
        break;
    case 0x04:
        if (len >= 2 && d[1] == 0x02)
            return QStringLiteral("SetWifiSsid(%1)").arg(hexData(2));
        if (len >= 2 && d[1] == 0x03)
            return QStringLiteral("SetWifiPassword(%1)").arg(hexData(2));
        if (len == 27 && d[1] == 0x04)
            return QStringLiteral("SetNetParams(%1)").arg(hexData(2));
        break;
    default:
        break;
    }
    return unknown;
}

bool Simulator::Start(const QString& ini, int com, const QString& record, const QStringList& extra)
{
    m_record = record;
    QStringList args{QStringLiteral("--pty"), QStringLiteral("--pin"),    ini,   QStringLiteral("--com"),
                     QString::number(com),    QStringLiteral("--record"), record};
    if (!Launch(args + extra, QStringLiteral("PTY ")))
        return false;
    pty = m_ready;
    return true;
}

bool Simulator::StartTcp(const QStringList& link, const QString& record, const QStringList& extra)
{
    m_record = record;
    const bool server = link.contains(QStringLiteral("--tcp-server"));
    if (!Launch(link + QStringList{QStringLiteral("--record"), record} + extra,
                server ? QStringLiteral("TCP ") : QString()))
        return false;
    tcpPort = server ? m_ready.toInt() : 0;
    return true;
}

bool Simulator::Launch(const QStringList& args, const QString& readyPrefix)
{
    const QString line = m_process.Start(args, !readyPrefix.isEmpty());
    if (!m_process.Started())
        return false;
    if (readyPrefix.isEmpty())
        return true;
    if (!line.startsWith(readyPrefix))
        return false;
    m_ready = line.mid(readyPrefix.size()).trimmed();
    return true;
}

int FreeTcpPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QStringList Simulator::RawRequests() const
{
    QFile f(m_record);
    QStringList lines;
    if (!f.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            lines.append(QString::fromLatin1(line.trimmed()));
    }
    return lines;
}

QStringList Simulator::Requests() const
{
    QStringList named;
    for (const QString& line : RawRequests())
        named.append(DescribeRequest(line));
    return named;
}

QString Simulator::Stderr()
{
    return m_process.Stderr();
}

void Simulator::Kill()
{
    m_process.Kill();
}

void Simulator::Stop()
{
    m_process.Stop();
}

ToolFolder::ToolFolder()
{
    if (!m_dir.isValid())
        return;
    QDir().mkpath(m_dir.filePath(QStringLiteral("Orvanta")));
    m_ok = QFile::copy(ToolPath(), Exe()) &&
           QFile::setPermissions(Exe(),
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QString ToolFolder::Exe() const
{
    return m_dir.filePath(QStringLiteral("nx7ifbprog"));
}

QString ToolFolder::Ini() const
{
    return m_dir.filePath(QStringLiteral("Orvanta/nx7ifbprog.ini"));
}

void ToolFolder::AppendIni(const QString& text)
{
    QFile f(Ini());
    if (f.open(QIODevice::Append))
        f.write(text.toUtf8());
}

QString ToolFolder::ReadIni() const
{
    QFile f(Ini());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

namespace
{
void StartTool(QProcess& p, const QString& exe, const QStringList& args, const QStringList& env)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString& kv : env) {
        const qsizetype eq = kv.indexOf(QLatin1Char('='));
        e.insert(kv.left(eq), kv.mid(eq + 1));
    }
    p.setProcessEnvironment(e);
    p.start(exe, args);
}

RunResult Collect(QProcess& p, bool finished)
{
    RunResult r;
    r.finished = finished;
    if (!r.finished) {
        p.kill();
        p.waitForFinished(3000);
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    r.out = out.split(QLatin1Char('\n'));
    if (!r.out.isEmpty() && r.out.last().isEmpty())
        r.out.removeLast();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
} // namespace

bool SignalChild(const QProcess& p, int signo)
{
    // A process that never started or has been reaped reports id 0, and kill(0, ...) would hit
    // the whole process group: the test program and ctest with it.
    const qint64 pid = p.processId();
    if (pid <= 0 || p.state() == QProcess::NotRunning)
        return false;
    return ::kill(static_cast<pid_t>(pid), signo) == 0;
}

RunResult ToolFolder::Run(const QStringList& args, int timeoutMs, const QStringList& env)
{
    QProcess p;
    StartTool(p, Exe(), args, env);
    const bool finished = p.waitForFinished(timeoutMs);
    return Collect(p, finished);
}

RunResult ToolFolder::RunAndSignal(const QStringList& args, const QStringList& env,
                                   const std::function<bool()>& when, int signo, int timeoutMs)
{
    QProcess p;
    StartTool(p, Exe(), args, env);
    QElapsedTimer t;
    t.start();
    bool sent = false;
    bool finished = false;
    while (!finished && t.elapsed() < timeoutMs) {
        finished = p.waitForFinished(50);
        if (!finished && !sent && when()) {
            SignalChild(p, signo);
            sent = true;
        }
    }
    return Collect(p, finished);
}

QString WriteStandInUploader(const QString& dir, const QString& argsFile, const QString& output,
                             double sleepSec, int exitCode)
{
    const QString path = dir + QStringLiteral("/espota");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    QString script = QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '") +
                     argsFile + QStringLiteral("'\n");
    if (!output.isEmpty())
        script += QStringLiteral("cat <<'EOF'\n") + output + QStringLiteral("\nEOF\n");
    if (sleepSec > 0)
        script += QStringLiteral("sleep %1\n").arg(sleepSec);
    script += QStringLiteral("exit %1\n").arg(exitCode);
    f.write(script.toUtf8());
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace nx7::e2e
