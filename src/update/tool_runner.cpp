#include "update/tool_runner.h"

#include "core/app_core.h"
#include "diag/lasting_log.h"
#include "diag/output_limiter.h"
#include "platform/app_paths.h"
#include "platform/code_page.h"
#include "platform/event_wait.h"
#include "platform/log_pane.h"
#include "platform/tick_clock.h"
#include "platform/ui_seam.h"
#include "update/process_runner.h"
#include "update/wifi_check.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <memory>
#include <optional>

namespace nx7
{

namespace
{

QString& InterpreterOverride()
{
    static QString program;
    return program;
}

void ShowToolError(AppCore& app, const QString& text)
{
    MessageRequest m = OkBox(text, QStringLiteral("エラー"));
    m.ownedByMainWindow = false;
    app.Ui.Message(m);
}

// Trailing decimal digits of `text`: a percentage may be split across two reads.
QString TrailingDigits(const QString& text)
{
    qsizetype i = text.size();
    while (i > 0 && text.at(i - 1).isDigit() && text.size() - i < 3)
        --i;
    return text.mid(i);
}

// "Error" and "ERROR".
constexpr qsizetype kErrorWordLength = 5;

// Pieces cut so that no double-byte character is split between two: a lead byte at a piece's end
// waits for the next one. Wraps the output hook; Finish hands on what is still waiting.
class CharacterJoiner
{
public:
    using Hook = std::function<bool(const QByteArray&)>;

    Hook Wrap(Hook inner)
    {
        m_inner = std::move(inner);
        return [this](const QByteArray& piece) {
            QByteArray whole = m_pending + piece;
            const qsizetype complete = CompleteAnsiLength(whole);
            m_pending = whole.mid(complete);
            whole.truncate(complete);
            return whole.isEmpty() || m_inner(whole);
        };
    }

    void Finish(ProcessEnd end)
    {
        if (!m_pending.isEmpty() && end != ProcessEnd::StoppedByOutput && m_inner)
            m_inner(m_pending);
        m_pending.clear();
    }

private:
    Hook m_inner;
    QByteArray m_pending;
};

// What the uploader's output means to the write: each piece is shown (within bounds), searched for
// the error words and for the upload percentage; the dots advance once per pass.
class OutputWatch
{
public:
    OutputWatch(AppCore& app, LogPane* logPane)
        : m_app(app)
        , m_logPane(logPane)
    {
        if (logPane)
            m_limiter = std::make_unique<OutputLimiter>(*logPane);
    }

    ProcessHooks Hooks(const std::function<bool()>& abortCheck)
    {
        ProcessHooks hooks;
        hooks.output = [this](const QByteArray& piece) { return Piece(piece); };
        hooks.abort = abortCheck;
        hooks.pass = [this] {
            m_app.Ui.ProgressSetDots(ProgressDots(m_n));
            m_n = (m_n + 1) % 10;
        };
        return hooks;
    }

    void Finish()
    {
        if (m_limiter)
            m_limiter->Finish();
    }

    bool Refused() const { return m_refused; }

private:
    // False once "ERROR" came with no Wi-Fi adapter on the board's network.
    bool Piece(const QByteArray& piece)
    {
        // A control byte that arrives alone (a lone CR of a progress line) is neither shown nor
        // searched, and nothing is joined across it. Any other lone byte is text that was cut off.
        if (piece.size() == 1 && static_cast<unsigned char>(piece.at(0)) < 0x20) {
            m_percentCarry.clear();
            m_wordCarry.clear();
            return true;
        }
        const QString text = FromAnsi(piece.constData(), static_cast<int>(piece.size()));
        const QString scanned = m_percentCarry + text;
        m_percentCarry = TrailingDigits(text);
        const int percent = ParseUploadPercent(scanned);
        if (percent >= 0 && percent != m_lastPercent) {
            m_lastPercent = percent;
            m_app.Ui.ProgressSetPercent(percent);
        }
        if (!m_logPane)
            return true;
        m_limiter->Append(text);
        // An error word cut between two reads is still found: the end of the previous text is
        // searched along, too short to hold a whole word, so no word is counted twice.
        const QString searched = m_wordCarry + text;
        m_wordCarry = searched.right(kErrorWordLength - 1);
        if (searched.contains(QLatin1String("Error")))
            m_app.ToolOutputClean = false;
        if (searched.contains(QLatin1String("ERROR"))) {
            m_app.ToolOutputClean = false;
            if (!CheckWifiAdapter(m_app)) {
                m_limiter->Finish();
                m_app.AddLog(QStringLiteral("PC側IPアドレスの自動割付に失敗しました。"), true);
                m_app.AddLog(QStringLiteral("PCのセキュリティ設定などを確認してください。"), true);
                m_app.AddLog(QString(), true);
                m_refused = true;
                return false;
            }
        }
        return true;
    }

    AppCore& m_app;
    LogPane* m_logPane;
    std::unique_ptr<OutputLimiter> m_limiter;
    QString m_percentCarry;
    QString m_wordCarry;
    int m_lastPercent = -1;
    int m_n = 0;
    bool m_refused = false;
};

// The uploader's output as kept for the classifier: the phases it went through are at the start,
// its failure at the end.
class OutputKeeper
{
public:
    void Add(const QString& text)
    {
        if (m_head.size() < kHead) {
            m_head += text;
            return;
        }
        m_tail += text;
        if (m_tail.size() > 2 * kTail) {
            m_tail = m_tail.right(kTail);
            m_cut = true;
        }
    }
    QString Text() const
    {
        return m_cut ? m_head + QStringLiteral("\n...\n") + m_tail.right(kTail) : m_head + m_tail;
    }

private:
    static constexpr qsizetype kHead = 64 * 1024;
    static constexpr qsizetype kTail = 64 * 1024;
    QString m_head;
    QString m_tail;
    bool m_cut = false;
};

#ifndef Q_OS_WIN
std::optional<QString> Python3()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (found.isEmpty())
        return std::nullopt;
    return found;
}
#endif

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
    ProcessSpec job;
#ifdef Q_OS_WIN
    // cmd.exe takes the rest of its command line as it is: no per-argument quoting by Qt.
    job.program = InterpreterOverride().isEmpty() ? QStringLiteral("cmd.exe") : InterpreterOverride();
    job.nativeArguments = QStringLiteral("/C ") + command;
#else
    job.program = InterpreterOverride().isEmpty() ? QStringLiteral("/bin/sh") : InterpreterOverride();
    job.arguments = {QStringLiteral("-c"), command};
#endif
    OutputWatch watch(app, logPane);
    ProcessHooks hooks = watch.Hooks(abortCheck);
    CharacterJoiner joiner;
    hooks.output = joiner.Wrap(hooks.output);
    const ProcessResult r = RunProcess(job, hooks);
    joiner.Finish(r.end);
    watch.Finish();
    switch (r.end) {
    case ProcessEnd::StartFailed:
        ShowToolError(app, QStringLiteral("プロセスの作成に失敗しました"));
        return false;
    case ProcessEnd::ReadFailed:
    case ProcessEnd::StoppedByOutput:
        return false;
    default:
        return true;
    }
}

UploaderLaunch ResolveUploader(const QString& configured)
{
    UploaderLaunch launch;
    QString path = QDir::fromNativeSeparators(configured.trimmed());
    if (!path.isEmpty() && QDir::isRelativePath(path))
        path = QFileInfo(ExecutablePath()).absolutePath() + QLatin1Char('/') + path;
    launch.path = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    const QString shown = QStringLiteral("「") + launch.path + QStringLiteral("」");
    if (path.isEmpty() || !info.exists()) {
        launch.problem = QStringLiteral("アップローダーが見つかりません: ") + shown;
        return launch;
    }
    if (info.isDir()) {
        launch.problem = QStringLiteral("アップローダーのパスがフォルダーです: ") + shown;
        return launch;
    }
#ifndef Q_OS_WIN
    if (!info.isExecutable()) {
        // A script saved by a browser has no run bit: run it through python3.
        if (info.suffix().compare(QLatin1String("py"), Qt::CaseInsensitive) == 0) {
            const std::optional<QString> python = Python3();
            if (!python) {
                launch.problem =
                    QStringLiteral("python3 が見つからないため、アップローダーを実行できません: ") + shown;
                return launch;
            }
            launch.program = *python;
            launch.arguments = {info.absoluteFilePath()};
            return launch;
        }
        launch.problem = QStringLiteral("アップローダーに実行権限がありません: ") + shown;
        return launch;
    }
#endif
    launch.program = info.absoluteFilePath();
    return launch;
}

UploaderRun RunUploader(AppCore& app, const UploaderLaunch& launch, const QStringList& arguments,
                        LogPane* logPane, std::uint32_t silenceLimitMs,
                        const std::function<bool()>& abortCheck)
{
    UploaderRun run;
    run.lastOutputTick = Clock().TickCount();
    if (!launch.problem.isEmpty()) {
        run.end = UploaderEnd::CannotStart;
        run.detail = launch.problem;
        return run;
    }
    ProcessSpec job;
    job.program = launch.program;
    job.arguments = launch.arguments + arguments;
    job.environment = launch.environment;
    OutputWatch watch(app, logPane);
    ProcessHooks hooks = watch.Hooks(abortCheck);
    hooks.silenceLimitMs = silenceLimitMs;
    const auto output = hooks.output;
    OutputKeeper kept;
    diag::LastingLog* lasting = app.Lasting;
    hooks.output = [&run, &kept, lasting, output](const QByteArray& piece) {
        run.lastOutputTick = Clock().TickCount();
        const QString text = FromAnsi(piece.constData(), static_cast<int>(piece.size()));
        kept.Add(text);
        if (lasting)
            lasting->LogUploaderOutput(text);
        return output(piece);
    };
    // Every hook above sees whole characters.
    CharacterJoiner joiner;
    hooks.output = joiner.Wrap(hooks.output);
    const ProcessResult r = RunProcess(job, hooks);
    joiner.Finish(r.end);
    watch.Finish();
    if (lasting)
        lasting->EndUploaderOutput();
    run.output = kept.Text();
    run.exitCode = r.exitCode;
    switch (r.end) {
    case ProcessEnd::Exited:
        run.end = r.exitCode == 0 ? UploaderEnd::Finished : UploaderEnd::Failed;
        run.detail = QStringLiteral("アップローダーが終了コード %1 で終了しました。").arg(r.exitCode);
        break;
    case ProcessEnd::Crashed:
        run.end = UploaderEnd::Failed;
        run.detail = QStringLiteral("アップローダーが異常終了しました（シグナルによる終了）。");
        break;
    case ProcessEnd::StartFailed:
        run.end = UploaderEnd::CannotStart;
        run.detail = QStringLiteral("アップローダーを起動できません: 「") + launch.path +
                     QStringLiteral("」（") + r.error + QStringLiteral("）");
        break;
    case ProcessEnd::ReadFailed:
        run.end = UploaderEnd::Failed;
        run.detail = QStringLiteral("アップローダーの出力を読み取れませんでした。");
        break;
    case ProcessEnd::StoppedByOutput:
        run.end = UploaderEnd::Refused;
        break;
    case ProcessEnd::Silent:
        run.end = UploaderEnd::Silent;
        run.detail =
            QStringLiteral("アップローダーの出力が %1 ms 途絶えたため、アップローダーを終了しました。")
                .arg(silenceLimitMs);
        break;
    case ProcessEnd::Aborted:
        run.end = UploaderEnd::Aborted;
        run.detail = QStringLiteral("書き込みの中止によりアップローダーを終了しました。");
        break;
    }
    return run;
}

} // namespace nx7
