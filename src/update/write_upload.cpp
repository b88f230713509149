#include "diag/diag_texts.h"
#include "platform/event_wait.h"
#include "platform/helpers.h"
#include "platform/tick_clock.h"
#include "platform/ui_seam.h"
#include "update/uploader_command.h"
#include "update/uploader_password.h"
#include "update/write_sequence.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>

namespace nx7::write_steps
{

namespace
{

// After an uploader that failed by itself, the board's own verdict may still be on its way.
constexpr std::uint32_t kVerdictGraceMs = 3000;

// Closes the write-progress dialog on every way out of the upload phase.
struct ProgressGuard {
    UserInteraction& ui;
    bool open = false;
    void Begin(const ProgressRequest& request)
    {
        ui.ProgressBegin(request);
        open = true;
    }
    void End()
    {
        if (open)
            ui.ProgressEnd();
        open = false;
    }
    ~ProgressGuard() { End(); }
};

std::uint32_t TicksSince(std::uint32_t mark)
{
    return Clock().TickCount() - mark;
}

} // namespace

void WriteSequence::UploadAndAwaitVerdict()
{
    m_app.SetWriteCommandAvailable(false);
    const auto progWait =
        static_cast<std::uint32_t>(m_app.Settings.Prog_WAIT_TIME < 0 ? 0 : m_app.Settings.Prog_WAIT_TIME);
    m_app.Settings.ProgMode = 1;

    m_app.ApRecord.OtaPort = kOtaUploadPort;
    const QString imagePath = QDir::toNativeSeparators(m_image->fileName());
    const QString address = FormatApAddress(m_app.ApRecord.IpAddr);
    // The PC's address and a fixed host port, so that one firewall rule lets the board connect back.
    const QStringList pinned = m_preflight.UploaderArguments();
    // The project's own uploader takes the password out of band, so no command line shows it.
    UploaderLaunch launch = ResolveUploader(m_app.Settings.App_ESPOta);
    const QStringList auth = UploaderPasswordArguments(launch, m_app.UploadPassword);
    const bool outOfBand = !launch.environment.isEmpty();
    m_app.AddLog(BuildUploaderCommand(m_app.Settings.App_ESPOta, address, m_app.ApRecord.OtaPort,
                                      m_app.UploadPassword, imagePath, pinned,
                                      outOfBand ? auth : QStringList()),
                 false);
    const QStringList arguments = QStringList{QStringLiteral("-i"), address, QStringLiteral("-p"),
                                              QString::number(m_app.ApRecord.OtaPort)} +
                                  pinned + auth + QStringList{QStringLiteral("-f"), imagePath};

    ProgressGuard progress{m_app.Ui};
    ProgressRequest request;
    request.caption = QStringLiteral("しばらくお待ちください");
    request.label = QStringLiteral("------- WiFi OTA Mode ----------");
    request.banner = true;
    m_app.Ui.SetStatusText(QString());
    ProcessPendingEvents();
    progress.Begin(request);
    ProcessPendingEvents();

    // A hung uploader (silent for the write's time limit) is ended; one that keeps printing runs on.
    // A lost link ends it too: the board's verdict could no longer be heard.
    AppCore& app = m_app;
    m_uploaderPath = launch.path;
    std::optional<ScopedFlag> watching(std::in_place, m_app.WatchLink);
    const std::uint32_t uploadStart = Clock().TickCount();
    m_run = RunUploader(m_app, launch, arguments, &m_app.Log, progWait,
                        [&app] { return app.WriteAbortRequested() || app.LinkLost(); });
    const qint64 uploadMs = TicksSince(uploadStart);
    if (m_run.end == UploaderEnd::Aborted && !m_app.WriteAbortRequested()) {
        m_linkLost = true;
        m_run.detail = QStringLiteral("I/Fボードとの接続が切れたため、アップローダーを終了しました。");
    }
    const UploaderRun& run = m_run;
    switch (run.end) {
    case UploaderEnd::CannotStart:
    case UploaderEnd::Aborted:
    case UploaderEnd::Failed:
    case UploaderEnd::Silent:
        m_app.AddLog(run.detail, true);
        break;
    case UploaderEnd::Refused:
    case UploaderEnd::Finished:
        break;
    }

    VerdictInput in;
    in.end = run.end;
    in.reach = ReachOf(run.end, OwnRun(diag::BoardVerdict::None));
    std::uint32_t waited = 0;
    switch (WaitFor(run.end, in.reach)) {
    case VerdictWait::None:
        break;
    case VerdictWait::Grace:
        AwaitNote(Clock().TickCount(), kVerdictGraceMs);
        break;
    case VerdictWait::Limit:
        waited = progWait;
        AwaitNote(run.lastOutputTick, progWait);
        break;
    }
    watching.reset();
    // A stop or a lost link during the wait ends the write as it stands.
    if (m_app.WriteAbortRequested() || m_linkLost)
        in.end = UploaderEnd::Aborted;
    in.note = HeardNote();
    in.outputClean = m_app.ToolOutputClean;
    VerdictRow row = DecideVerdict(in);
    if (!row.line.isEmpty())
        m_app.AddLog(row.line, false);
    if (row.noteIgnored)
        IgnoreNote();
    if (row.askVersion) {
        if (row.noteMissing)
            m_app.AddLog(
                QStringLiteral("I/Fボードから書き込み結果の通知がありません。アップローダーが書き込みの完了を"
                               "確認したため、再起動後のバージョンで判定します。"),
                true);
        in.version = ReadVersionAfterRestart();
        row = DecideVerdict(in);
        if (row.outcome == WriteOutcome::Success && row.noteMissing)
            m_app.AddLog(QStringLiteral(
                             "書き込み結果の通知はありませんでしたが、再起動後のバージョンが一致しました。"),
                         true);
        if (row.outcome == WriteOutcome::Success && m_app.Settings.VerifyAfterReboot == 1)
            VerifyAfterSecondRestart(row);
        if (!row.line.isEmpty())
            m_app.AddLog(row.line, false);
    }
    m_result.outcome = row.outcome;
    progress.End();
    // The whole image reached the board only when it said so, or the uploader saw it accepted.
    if (in.reach != UploadReach::NotReached && (in.note == BoardNote::Ok || row.noteMissing) &&
        in.end != UploaderEnd::Aborted)
        m_uploadMs = uploadMs;
    ExplainVerdict(in, row, waited);
}

// Why the write ended as it did, for the cause-and-action lines and the record.
void WriteSequence::ExplainVerdict(const VerdictInput& in, const VerdictRow& row, std::uint32_t waitedMs)
{
    if (row.outcome == WriteOutcome::Success || m_result.cls != FailureClass::None)
        return;
    switch (in.end) {
    case UploaderEnd::CannotStart:
        Fail(row.outcome, FailureClass::UploaderCannotStart,
             diag::UploaderCannotStart(m_uploaderPath, m_run.detail));
        return;
    case UploaderEnd::Aborted:
        // Said in Finish, with what the board last reported.
        return;
    default:
        break;
    }
    if (in.version == VersionCheck::Unread) {
        Fail(row.outcome, FailureClass::BoardSilent, m_app.BoardSilentCause());
    } else if (in.version == VersionCheck::Differs) {
        Fail(row.outcome, FailureClass::VersionDiffers,
             diag::VersionAfterRestartDiffers(m_app.RomVersion, m_app.FirmwareId));
    } else if (in.reach != UploadReach::NotReached && in.note == BoardNote::Failed) {
        JudgeUploaderRun(diag::BoardVerdict::Failed, 0);
    } else if (in.reach != UploadReach::NotReached && in.note == BoardNote::Ok) {
        // The board took the image, but the uploader's output showed an error.
        JudgeUploaderRun(diag::BoardVerdict::Ok, 0);
    } else {
        // Only a wait for the board's verdict is "no result in time"; a failed uploader is not.
        JudgeUploaderRun(diag::BoardVerdict::None,
                         row.outcome == WriteOutcome::Timeout ? static_cast<int>(waitedMs) : 0);
    }
}

// The board's notification is tested before the limit in every pass, so one that arrived during
// the upload counts even after the limit.
void WriteSequence::AwaitNote(std::uint32_t from, std::uint32_t limitMs)
{
    while (!m_engine.OtaResultArrived && !m_app.WriteAbortRequested() && TicksSince(from) < limitMs) {
        if (m_app.LinkLost()) {
            m_linkLost = true;
            return;
        }
        WaitForEvents(20);
    }
}

BoardNote WriteSequence::HeardNote() const
{
    if (!m_engine.OtaResultArrived)
        return BoardNote::None;
    return m_engine.OtaResultOk ? BoardNote::Ok : BoardNote::Failed;
}

// A notification that is not about this write's transfer is logged with its time and forgotten.
void WriteSequence::IgnoreNote()
{
    const QString text = m_engine.OtaResultOk ? QStringLiteral("OK") : QStringLiteral("BR");
    m_app.AddLog(QStringLiteral("I/Fボードの書き込み結果通知「%1」（%2）を無視しました: "
                                "アップローダーがI/Fボードに届いていません。")
                     .arg(text, m_engine.OtaResultTime.toString(QStringLiteral("HH:mm:ss.zzz"))),
                 true);
    m_engine.OtaResultArrived = false;
    m_engine.OtaResultOk = false;
}

// The restarted board's ROM version, as the verdict table wants it.
VersionCheck WriteSequence::ReadVersionAfterRestart()
{
    m_app.RestartBoard(m_app.Settings.CHK_IFB_TIME);
    m_app.AwaitBoardBack();
    // Stopped meanwhile: the write ends as a stop, not as a board that did not answer.
    if (m_app.WriteAbortRequested())
        return VersionCheck::Unread;
    m_commands.ReadModelName(m_app.ModelName);
    if (!m_commands.ReadRomVersion(m_app.RomVersion))
        return VersionCheck::Unread;
    m_versionAfter = m_app.RomVersion;
    if (m_app.ToolOutputClean)
        m_app.AddLog(QStringLiteral("IFB-ROMVer : ") + m_app.RomVersion, true);
    return m_app.RomVersion == m_app.FirmwareId ? VersionCheck::Same : VersionCheck::Differs;
}

diag::UploaderRun WriteSequence::OwnRun(diag::BoardVerdict verdict) const
{
    diag::UploaderRun run;
    run.output = m_run.output;
    if (m_run.end == UploaderEnd::Finished || m_run.end == UploaderEnd::Failed)
        run.exitCode = m_run.exitCode;
    run.verdict = verdict;
    run.imageSize = m_imageSize;
    return run;
}

// An image the board takes once and rolls back on its next start is caught by one more restart.
void WriteSequence::VerifyAfterSecondRestart(VerdictRow& row)
{
    m_app.AddLog(QStringLiteral("再起動後のバージョンを確認します。"), true);
    m_app.RestartBoard(m_app.Settings.CHK_IFB_TIME);
    m_app.AwaitBoardBack();
    QString again;
    const bool read = m_commands.ReadRomVersion(again);
    m_versionAfter = again;
    if (read && again == m_app.FirmwareId) {
        m_app.AddLog(QStringLiteral("IFB-ROMVer : ") + again, true);
        return;
    }
    if (read) {
        m_app.AddLog(QStringLiteral("IFB-ROMVer : ") + again, true);
        m_app.RomVersion = again;
    }
    row.outcome = WriteOutcome::Aborted;
    row.line = QStringLiteral("NG: Program Update");
    Fail(row.outcome, FailureClass::VersionAfterRestart,
         diag::VersionAfterRestartDiffers(read ? again : QString(), m_app.FirmwareId));
}

// The one place the uploader's run is judged: its output tells the phase it stopped at, the board's
// verdict what happened after the transfer.
void WriteSequence::JudgeUploaderRun(diag::BoardVerdict verdict, int waitedMs)
{
    diag::UploaderRun run = OwnRun(verdict);
    diag::UploadContext context;
    context.boardAddress = FormatApAddress(m_app.ApRecord.IpAddr);
    context.boardPort = m_app.ApRecord.OtaPort;
    if (!m_preflight.pcAddress.isNull())
        context.pcAddress = m_preflight.pcAddress.toString();
    context.hostPort = m_preflight.hostPort;
    context.ssid = m_app.ApRecord.NetworkName;
    context.firewall = m_app.Network().Firewall();
    context.uploaderPath = m_uploaderPath;
    m_transient = verdict != diag::BoardVerdict::Ok && diag::TransientUploadFailure(run).has_value();
    // A board that reports failure after the transfer broke off only reports the break.
    if (m_transient)
        run.verdict = diag::BoardVerdict::None;
    diag::UploaderFacts facts;
    m_result.why = diag::ExplainUploaderRun(run, context, &facts);
    if (facts.cls != diag::UploaderClass::Success)
        m_result.cls = FromUploaderClass(facts.cls);
    else if (m_result.cls == FailureClass::None && verdict == diag::BoardVerdict::Failed)
        m_result.cls = FailureClass::BoardRejected;
    if (verdict == diag::BoardVerdict::Failed && m_result.why.IsEmpty())
        m_result.why = diag::BoardReportedFailure(facts.reason);
    if (m_result.why.IsEmpty() && waitedMs > 0) {
        m_result.why = diag::NoResultInTime(waitedMs);
        m_result.cls = FailureClass::NoResultInTime;
    }
}

} // namespace nx7::write_steps
