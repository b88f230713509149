#pragma once
// Runs the real executable against the real board simulator over a pseudo-terminal.
#include "support/qt_printers.h"
#include "support/sim_process.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

namespace nx7::e2e
{

QString ToolPath();
using nx7::test::SimPath;
QString EspotaPath();

// A request frame as recorded by the simulator ("02 00 45 01 00 03 4B 0D"), named:
// "GetMode", "ModeSet(0005)", "Restart", "SetOtaMode(02 01)", "GetWifiSsid", ... or "?<hex>".
QString DescribeRequest(const QString& hexLine);

// The simulator with its requests recorded into a file, on a port pinned in the settings or on
// loopback TCP.
class Simulator
{
public:
    // Starts ifb-sim on a pseudo-terminal pinned as COM<com> in `ini`, recording into `record`.
    bool Start(const QString& ini, int com, const QString& record, const QStringList& extra);
    // Starts ifb-sim on a TCP link only (`--tcp-server 0` or `--tcp-client host:port` in `link`);
    // `tcpPort` receives the port a TCP server listens on.
    bool StartTcp(const QStringList& link, const QString& record, const QStringList& extra);
    int tcpPort = 0;
    QStringList Requests() const; // named, in order
    QStringList RawRequests() const;
    QString Stderr();
    void Stop();
    // Ends it at once, as a board whose port vanishes.
    void Kill();
    QString pty;

private:
    bool Launch(const QStringList& args, const QString& readyPrefix);
    nx7::test::SimProcess m_process;
    QString m_record;
    QString m_ready;
};

// A TCP port that was free a moment ago on 127.0.0.1.
int FreeTcpPort();

struct RunResult {
    int exitCode = -1;
    bool finished = false;
    QStringList out; // standard output lines (the log pane)
    QString err;     // standard error (dialogs)
};

// A folder with a copy of the executable and its settings file, so every test has its own
// settings beside "its" executable.
class ToolFolder
{
public:
    ToolFolder();
    bool ok() const { return m_ok; }
    QString Dir() const { return m_dir.path(); }
    QString Exe() const;
    QString Ini() const; // <dir>/Orvanta/nx7ifbprog.ini
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    // Appends text to the settings file (creating it).
    void AppendIni(const QString& text);
    QString ReadIni() const;
    RunResult Run(const QStringList& args, int timeoutMs = 60000, const QStringList& env = {});
    // As Run, and sends `signo` to the tool once `when` (polled every 50 ms) has said true.
    RunResult RunAndSignal(const QStringList& args, const QStringList& env, const std::function<bool()>& when,
                           int signo, int timeoutMs = 60000);

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};

// Sends `signo` to the process itself, never to a process group: false (and nothing sent) when
// it is not running.
bool SignalChild(const QProcess& p, int signo);

// A stand-in uploader script: records its arguments (one per line) into `argsFile`, prints
// `output`, sleeps `sleepSec`, exits with `exitCode`.
QString WriteStandInUploader(const QString& dir, const QString& argsFile, const QString& output,
                             double sleepSec = 0, int exitCode = 0);

} // namespace nx7::e2e
