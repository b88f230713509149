#include "update/tool_runner.h"

#include "core/app_core.h"
#include "platform/code_page.h"
#include "platform/event_wait.h"
#include "platform/log_pane.h"
#include "platform/ui_seam.h"
#include "update/wifi_check.h"

#include <QProcess>
#include <QRegularExpression>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace nx7
{

namespace
{

constexpr qint64 kReadChunk = 2049;
// The event wait is bounded so an abort request is seen even when nothing else happens.
constexpr int kPassWaitMs = 50;

QString& InterpreterOverride()
{
    static QString program;
    return program;
}

void ShowToolError(AppCore& app, const QString& text)
{
    MessageRequest m;
    m.text = text;
    m.caption = QStringLiteral("エラー");
    m.icon = MsgIcon::None;
    m.buttons = MsgButtons::Ok;
    m.ownedByMainWindow = false;
    app.Ui.Message(m);
}

// Ends the interpreter together with whatever it started (the uploader runs as its child).
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

// Trailing decimal digits of `text`: a percentage may be split across two reads.
QString TrailingDigits(const QString& text)
{
    qsizetype i = text.size();
    while (i > 0 && text.at(i - 1).isDigit() && text.size() - i < 3)
        --i;
    return text.mid(i);
}

} // namespace

QString ProgressDots(int n)
{
    static const QString table[5] = {
        QStringLiteral("・　　"), QStringLiteral("・・　"), QStringLiteral("・・・"),
        QStringLiteral("　・・"), QStringLiteral("　　・"),
    };
    const int k = ((n % 10) + 10) % 10;
    return table[k / 2];
}

QString QuoteForInterpreter(const QString& piece)
{
#ifdef Q_OS_WIN
    return QLatin1Char('"') + piece + QLatin1Char('"');
#else
    QString quoted = piece;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
#endif
}

int ParseUploadPercent(const QString& text)
{
    static const QRegularExpression percent(QStringLiteral("(\\d{1,3})%"));
    int found = -1;
    auto it = percent.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const int value = m.captured(1).toInt();
        if (value <= 100)
            found = value;
    }
    return found;
}

void SetToolInterpreter(const QString& program)
{
    InterpreterOverride() = program;
}

bool RunTool(AppCore& app, const QString& command, LogPane* logPane, const std::function<bool()>& abortCheck)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
#ifdef Q_OS_WIN
    process.setProgram(InterpreterOverride().isEmpty() ? QStringLiteral("cmd.exe") : InterpreterOverride());
    process.setNativeArguments(QStringLiteral("/C ") + command);
#else
    process.setProgram(InterpreterOverride().isEmpty() ? QStringLiteral("/bin/sh") : InterpreterOverride());
    process.setArguments({QStringLiteral("-c"), command});
    // Its own process group, so an abort ends the uploader too and not only the shell.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(10000)) {
        ShowToolError(app, QStringLiteral("プロセスの作成に失敗しました"));
        return false;
    }

    char buffer[kReadChunk + 1];
    QString percentCarry;
    int lastPercent = -1;
    bool exited = false;
    int n = 0;
    while (!exited) {
        if (process.state() != QProcess::NotRunning)
            WaitForEvents(kPassWaitMs);
        if (process.state() == QProcess::NotRunning)
            exited = true;
        // What the ended tool had already printed is still read and searched below.
        if (!exited && abortCheck && abortCheck()) {
            EndChild(process);
            exited = true;
        }

        const qint64 waiting = process.bytesAvailable();
        if (waiting > 0) {
            const qint64 got = process.read(buffer, kReadChunk);
            if (got < 0) {
                EndChild(process);
                return false;
            }
            buffer[got] = '\0';
            // A byte that arrives alone (a lone CR of a progress line) is neither shown nor searched.
            if (got != 1) {
                const QString text = FromAnsi(buffer, got);
                const QString scanned = percentCarry + text;
                percentCarry = TrailingDigits(text);
                const int percent = ParseUploadPercent(scanned);
                if (percent >= 0 && percent != lastPercent) {
                    lastPercent = percent;
                    app.Ui.ProgressSetPercent(percent);
                }
                if (logPane) {
                    logPane->AppendRaw(text);
                    if (text.contains(QLatin1String("Error")))
                        app.ToolOutputClean = false;
                    if (text.contains(QLatin1String("ERROR"))) {
                        app.ToolOutputClean = false;
                        if (!CheckWifiAdapter(app)) {
                            app.AddLog(QStringLiteral("PC側IPアドレスの自動割付に失敗しました。"), true);
                            app.AddLog(QStringLiteral("PCのセキュリティ設定などを確認してください。"), true);
                            app.AddLog(QString(), true);
                            EndChild(process);
                            return false;
                        }
                    }
                }
            }
            // The rest is read in the next passes, also after the process has ended.
            if (got < waiting)
                exited = false;
        }

        app.Ui.ProgressSetDots(ProgressDots(n));
        n = (n + 1) % 10;
        ProcessPendingEvents();
    }
    return true;
}

} // namespace nx7
