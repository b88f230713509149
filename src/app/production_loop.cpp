#include "app/production_loop.h"

#include "app/startup_flow.h"
#include "core/app_core.h"
#include "discovery/enum_com.h"
#include "platform/event_wait.h"
#include "platform/tick_clock.h"
#include "update/ota_update.h"

#include <algorithm>
#include <optional>

namespace nx7
{

namespace
{

// A stop request is looked at this often while a wait paces itself.
constexpr std::uint32_t kStopSliceMs = 50;
// Probes left unanswered in a row before a board counts as gone: one lost answer on a busy link
// must not make the same board look new (and be written again).
constexpr int kMissesForGone = 2;

class Loop
{
public:
    Loop(AppCore& app, const ProductionLoopOptions& options)
        : m_app(app)
        , m_options(options)
    {
    }

    ProductionSummary Run();

private:
    bool StopRequested() const
    {
        return m_app.WriteAbortRequested() || (m_options.stopRequested && m_options.stopRequested());
    }
    void WritePresentBoard();
    // Empty when a stop was requested; else the id the new board answered with.
    std::optional<QString> AwaitNextBoard();
    // The serial port went away: reopen it once it is listed again. True when the link is up.
    bool ReopenVanishedPort(const QString& comName);
    // Waits out the rest of one poll from `since`, ending early on a stop request.
    void Pace(std::uint32_t since);

    AppCore& m_app;
    const ProductionLoopOptions& m_options;
    ProductionSummary m_summary;
    // The board the link leads to now: a second answer with its id is not a new board.
    QString m_present;
};

void Loop::WritePresentBoard()
{
    ProductionBoard board;
    board.targetId = m_app.TargetId;
    board.versionBefore = m_app.RomVersion;
    const WriteResult result = RunOtaUpdate(m_app);
    board.versionAfter = m_app.RomVersion;
    m_summary.presentBoardWritable = !result.verdict;
    if (!result.verdict) {
        board.result = ProductionBoard::Result::NotWritten;
        ++m_summary.notWritten;
        m_app.AddLog(QStringLiteral("I/Fボード %1 は書き込みませんでした。").arg(board.targetId), true);
    } else if (result.Ok()) {
        board.result = ProductionBoard::Result::Ok;
        ++m_summary.ok;
    } else {
        board.result = ProductionBoard::Result::Ng;
        ++m_summary.ng;
    }
    m_summary.boards.append(board);
}

void Loop::Pace(std::uint32_t since)
{
    const auto poll = static_cast<std::uint32_t>(std::max(m_options.pollMs, 1));
    for (;;) {
        const std::uint32_t spent = Clock().TickCount() - since;
        if (spent >= poll || StopRequested())
            return;
        PumpSleep(std::min(poll - spent, kStopSliceMs));
    }
}

bool Loop::ReopenVanishedPort(const QString& comName)
{
    bool listed = false;
    for (const QString& line : PortListLines(m_app.SettingsPath))
        listed = listed || line == comName || line.startsWith(comName + QLatin1Char('('));
    if (!listed)
        return false;
    // The same settings as before: no port dialog in the middle of a production run.
    m_app.DestroyEngine();
    m_app.CreateEngine();
    m_app.Timer1.start();
    if (!m_app.Engine()->IsConnected())
        return false;
    m_app.AddLog(QStringLiteral("シリアルポート %1 に再接続しました。").arg(comName), true);
    return true;
}

std::optional<QString> Loop::AwaitNextBoard()
{
    // The write's end restarted the board: it is heard again before it is asked anything.
    m_app.AwaitBoardBack();
    m_app.AddLog(QStringLiteral("次のI/Fボードを待っています。") + m_options.stopHint, true);
    const QString comName = m_app.Engine() ? m_app.Engine()->PortName() : QString();
    bool gone = false;
    int misses = 0;
    for (;;) {
        if (StopRequested() || !m_app.Engine())
            return std::nullopt;
        const std::uint32_t start = Clock().TickCount();
        TTComXDlg& engine = *m_app.Engine();
        if (engine.Kind() == LinkKind::Serial && !engine.IsConnected()) {
            if (!gone) {
                gone = true;
                m_app.AddLog(QStringLiteral("I/Fボードが外されました（シリアルポート %1 がありません）。")
                                 .arg(comName),
                             true);
            }
            ReopenVanishedPort(comName);
        } else {
            QString id;
            if (m_app.Commands().ProbeTargetId(m_options.probeMs, &id)) {
                misses = 0;
                // The same board that never went away is not written twice.
                if (gone || id != m_present) {
                    m_app.AddLog(
                        QStringLiteral("新しいI/Fボードを検出しました（ターゲットID: %1）。").arg(id), true);
                    return id;
                }
            } else if (++misses >= kMissesForGone && !gone) {
                gone = true;
                m_app.AddLog(QStringLiteral("I/Fボードが外されました。"), true);
            }
        }
        Pace(start);
    }
}

ProductionSummary Loop::Run()
{
    m_app.AddLog(QStringLiteral("連続書き込みを開始します。"), true);
    m_present = m_app.TargetId;
    bool writeNow = m_options.writePresentBoard;
    m_summary.presentBoardWritable = writeNow;
    while (!StopRequested()) {
        if (writeNow) {
            WritePresentBoard();
            m_present = m_app.TargetId;
            if (StopRequested())
                break;
        }
        writeNow = true;
        const std::optional<QString> next = AwaitNextBoard();
        if (!next)
            break;
        m_summary.presentBoardWritable = false;
        m_present = *next;
        // A board that fails before its id is read is still named by the id it answered with.
        m_app.TargetId = *next;
        const std::optional<BoardCheckFailure> failure = CheckNextBoard(m_app);
        m_app.SetMainEnabled(false);
        // A check cut short by a stop says nothing about the board.
        if (failure && StopRequested())
            break;
        if (failure) {
            QString text = failure->text;
            text.replace(QStringLiteral("\n\n"), QStringLiteral(" "))
                .replace(QLatin1Char('\n'), QLatin1Char(' '));
            m_app.AddLog(QStringLiteral("I/Fボードの確認に失敗しました: ") + text, true);
            m_app.AddCauseLog(failure->why);
            ProductionBoard board;
            board.targetId = *next;
            board.versionBefore = m_app.RomVersion;
            board.result = ProductionBoard::Result::CheckFailed;
            m_summary.boards.append(board);
            ++m_summary.checkFailed;
            writeNow = false;
            continue;
        }
        m_present = m_app.TargetId;
        m_summary.presentBoardWritable = true;
        // A new board may be written whatever the last one's failure withdrew.
        m_app.SetWriteCommandAvailable(true);
    }
    for (const QString& line : m_summary.Lines())
        m_app.AddLog(line, true);
    return m_summary;
}

QString ResultText(ProductionBoard::Result result)
{
    switch (result) {
    case ProductionBoard::Result::Ok:
        return QStringLiteral("OK");
    case ProductionBoard::Result::Ng:
        return QStringLiteral("NG");
    case ProductionBoard::Result::NotWritten:
        return QStringLiteral("書き込みなし");
    case ProductionBoard::Result::CheckFailed:
        return QStringLiteral("確認失敗");
    }
    return QString();
}

} // namespace

QStringList ProductionSummary::Lines() const
{
    QStringList lines;
    lines << QStringLiteral("連続書き込みを終了しました。");
    lines << QStringLiteral("書き込んだI/Fボード: %1 (OK %2 / NG %3)").arg(Written()).arg(ok).arg(ng);
    lines << QStringLiteral("確認に失敗したI/Fボード: %1").arg(checkFailed);
    if (notWritten > 0)
        lines << QStringLiteral("書き込まなかったI/Fボード: %1").arg(notWritten);
    for (const ProductionBoard& b : boards) {
        const QString id = b.targetId.isEmpty() ? QStringLiteral("----") : b.targetId;
        const QString before = b.versionBefore.isEmpty() ? QStringLiteral("?") : b.versionBefore;
        if (b.result == ProductionBoard::Result::CheckFailed) {
            lines << QStringLiteral("ID %1: %2 %3").arg(id, before, ResultText(b.result));
            continue;
        }
        const QString after = b.versionAfter.isEmpty() ? QStringLiteral("?") : b.versionAfter;
        lines << QStringLiteral("ID %1: %2 -> %3 %4").arg(id, before, after, ResultText(b.result));
    }
    return lines;
}

ProductionSummary RunProductionLoop(AppCore& app, const ProductionLoopOptions& options)
{
    return Loop(app, options).Run();
}

} // namespace nx7
