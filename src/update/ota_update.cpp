#include "update/ota_update.h"

#include "core/app_core.h"
#include "diag/diag_texts.h"
#include "diag/preflight.h"
#include "diag/write_record.h"
#include "platform/app_paths.h"
#include "platform/event_wait.h"
#include "platform/helpers.h"
#include "platform/tick_clock.h"
#include "platform/ui_seam.h"
#include "update/auto_join.h"
#include "update/firmware_image.h"
#include "update/tool_runner.h"
#include "update/uploader_password.h"
#include "update/wifi_check.h"
#include "update/write_verdict.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <memory>
#include <optional>

namespace nx7
{

namespace
{

constexpr int kRestartWaitMs = 2000;
constexpr std::uint32_t kNoStartPauseMs = 2000;
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

void ShowUpdateError(AppCore& app, const QString& text)
{
    MessageRequest m;
    m.text = text;
    m.caption = QStringLiteral("エラー");
    m.icon = MsgIcon::Error;
    m.buttons = MsgButtons::Ok;
    app.Ui.Message(m);
}

// The board is left as it was asked to be before the write: restart, then a pause before anyone
// talks to it again.
void GiveUpBeforeStart(AppCore& app)
{
    app.RestartBoard(kRestartWaitMs);
    PumpSleep(kNoStartPauseMs);
    // The restart took the board out of OTA mode: the close gives its mode back as usual.
    SavePendingMode(app.SettingsPath, -1);
}

// Restores the saved operation mode and, once acknowledged, restarts the board. The mode kept in
// the settings for a crash is dropped once the board has it back.
void RestoreBoard(AppCore& app)
{
    app.AwaitBoardBack();
    if (!app.OperationModeKnown) {
        app.AddLog(QStringLiteral("動作モードを読み取れなかったため、動作モードは変更しません。"), true);
        return;
    }
    if (app.Commands().DousaModeSet(app.SavedOperationMode, kRestartWaitMs)) {
        SavePendingMode(app.SettingsPath, -1);
        app.RestartBoard(kRestartWaitMs);
    }
}

// The board answered the last request with a refusal rather than staying silent. The one place
// that reads the engine's reply state for this.
bool BoardRefusedLastRequest(const TTComXDlg& engine)
{
    return engine.LastReplyWasNack();
}

// The image under a fresh name in `folder`, readable by the user only. Created exclusively, so
// neither an existing file nor a planted link is ever written through. Removed when dropped.
std::unique_ptr<QTemporaryFile> SaveImage(const QByteArray& image, const QString& folder, QString* error)
{
    QDir().mkpath(folder);
    auto file = std::make_unique<QTemporaryFile>(folder + QStringLiteral("UOf-XXXXXX.bin"));
    // Locked while it exists, so that another tool's start-up clean-up leaves it alone.
    bool ok = file->open() && LockImageFile(*file);
    if (ok) {
        file->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        ok = file->write(image) == image.size() && file->flush();
        file->close();
        ok = ok && file->error() == QFileDevice::NoError;
    }
    if (!ok) {
        *error = QStringLiteral("ファームウェアを一時ファイルに書き込めませんでした。\n\n") +
                 QDir::toNativeSeparators(folder);
        return nullptr;
    }
    return file;
}

std::uint32_t TicksSince(std::uint32_t mark)
{
    return Clock().TickCount() - mark;
}

// One write from the OTA-mode request to the result: each phase returns whether the write goes
// on; a phase that ends it leaves its outcome here.
class WriteSequence
{
public:
    explicit WriteSequence(AppCore& app)
        : m_app(app)
        , m_engine(*app.Engine())
        , m_commands(app.Commands())
    {
        m_result.outcome = WriteOutcome::Timeout;
    }

    WriteResult Run();

private:
    enum class Prepared { Ready, GiveUp, Refused };

    Prepared Prepare();
    void TryAutoJoin(MessageDialogRequest& join);
    void LeaveAutoJoin();
    bool JoinAccessPoint(const std::function<void(const QString&)>& progress,
                         const std::function<bool()>& cancelled);
    bool JoinLink();
    bool CheckNetwork();
    bool WriteImageFile();
    void UploadAndAwaitVerdict();
    bool RetryWanted();
    bool PrepareRetry();
    void LogAttempt(int attempt);
    void AwaitNote(std::uint32_t from, std::uint32_t limitMs);
    BoardNote HeardNote() const;
    void IgnoreNote();
    VersionCheck ReadVersionAfterRestart();
    void ExplainVerdict(const VerdictInput& in, const VerdictRow& row, std::uint32_t waitedMs);
    diag::UploaderRun OwnRun(diag::BoardVerdict verdict) const;
    void VerifyAfterSecondRestart(VerdictRow& row);
    void JudgeUploaderRun(diag::BoardVerdict verdict, int waitedMs);
    void Record();
    WriteResult Finish();
    // The one way a failure is set: outcome, class and cause together.
    void Fail(WriteOutcome outcome, FailureClass cls, const diag::CauseAction& why = {});

    AppCore& m_app;
    TTComXDlg& m_engine;
    BoardCommands m_commands;
    UpdateStopwatch m_stopwatch;
    std::unique_ptr<QTemporaryFile> m_image;
    // What the write ends with; the phases fill it in, Finish completes it.
    WriteResult m_result;
    diag::PreflightResult m_preflight;
    UploaderRun m_run;
    QString m_uploaderPath;
    // For the write record: the version the board ran before, the version read after the restart,
    // a short name for what failed, and the upload's time when the board took the whole image.
    QString m_versionBefore;
    QString m_versionAfter;
    qint64 m_uploadMs = -1;
    qint64 m_imageSize = 0;
    // The access point joined by the tool itself; undone on every way out.
    std::unique_ptr<AutoJoin> m_autoJoin;
    bool m_autoJoined = false;
    diag::CauseAction m_joinFailure;
    // The failed upload is of a kind that a second try after a restart often cures.
    bool m_transient = false;
    // The link to the board went down while the write needed it.
    bool m_linkLost = false;
};

WriteSequence::Prepared WriteSequence::Prepare()
{
    m_app.ToolOutputClean = true;
    m_versionBefore = m_app.RomVersion;
    if (!m_commands.GetApInfo(true, m_app.ApRecord))
        return Prepared::GiveUp;
    m_engine.OtaResultArrived = false;
    m_engine.OtaResultOk = false;
    // Should the tool die from here on, the next start still gives the board its mode back.
    if (m_app.OperationModeKnown)
        SavePendingMode(m_app.SettingsPath, m_app.SavedOperationMode);
    if (!m_commands.SetOtaMode(2, true, m_app.Settings.ComPort, [this] { m_app.Timer1.start(); }) &&
        BoardRefusedLastRequest(m_engine)) {
        m_app.AddLog(QStringLiteral("I/FボードがOTAモードへの切り替えを拒否しました。"), true);
        Fail(WriteOutcome::Aborted, FailureClass::OtaModeRefused);
        return Prepared::Refused;
    }

    // What the write will change, before the person is asked to go on.
    const QString change = diag::VersionChangeText(m_app.RomVersion, m_app.FirmwareId);
    m_app.AddLog(QStringLiteral("バージョン: ") + change, true);

    MessageDialogRequest join;
    join.caption = QStringLiteral("OTA経由のアップデート開始");
    join.message1 = QStringLiteral("パソコンを以下のWi-Fiアクセスポイント\nに接続してください。");
    join.message2 = QStringLiteral("接続完了後OKを押してください。\n書き込みが開始されます。");
    join.memoLines = {QStringLiteral("SSID      : ") + m_app.ApRecord.NetworkName,
                      QStringLiteral("Password  : ") + m_app.ApRecord.Password,
                      QStringLiteral("Version   : ") + change};
    TryAutoJoin(join);
    if (m_app.Ui.MessageDialog(join) != 1 || m_app.WriteAbortRequested())
        return Prepared::GiveUp;
    return Prepared::Ready;
}

// Where the PC can join the access point by itself, it does so while the join question shows,
// which says so and shows the join's progress, and closes by itself once joined: the write goes
// on without another click. A failed join turns the question back into the manual one, with the
// reason below its lines, for the person to join by hand and press OK.
void WriteSequence::TryAutoJoin(MessageDialogRequest& join)
{
    if (m_app.Settings.AutoJoinAP != 1)
        return;
    std::unique_ptr<AutoJoin> joiner = MakeAutoJoin();
    if (!joiner || !joiner->Available())
        return;
    m_autoJoin = std::move(joiner);
    const MessageDialogRequest manual = join;
    if (!AutoJoinMessage1().isEmpty()) {
        join.message1 = AutoJoinMessage1();
        join.message2 = AutoJoinMessage2();
    }
    join.whileShown = [this, manual](MessageDialogRequest& shown,
                                     const std::function<void(const QString&)>& progress,
                                     const std::function<bool()>& cancelled) {
        if (JoinAccessPoint(progress, cancelled))
            return true;
        shown.message1 = manual.message1;
        shown.message2 = manual.message2;
        shown.memoLines = manual.memoLines + m_joinFailure.Lines();
        return false;
    };
}

// One join of the board's access point: progress into the log (and to `progress`), a failure
// logged with its cause and kept for the dialog.
bool WriteSequence::JoinAccessPoint(const std::function<void(const QString&)>& progress,
                                    const std::function<bool()>& cancelled)
{
    AppCore& app = m_app;
    const AutoJoinResult r = m_autoJoin->Join(
        m_app.ApRecord.NetworkName, m_app.ApRecord.Password, m_app.Settings.CONECT_WAIT_TIME,
        [&app, &progress](const QString& line) {
            app.AddLog(line, true);
            progress(line);
        },
        [&app, &cancelled] { return app.WriteAbortRequested() || cancelled(); });
    m_autoJoined = r.ok;
    m_joinFailure = r.explanation;
    if (r.ok)
        return true;
    if (!r.detail.isEmpty())
        m_app.AddLog(QStringLiteral("自動接続: ") + r.detail, false);
    m_app.AddCauseLog(r.explanation);
    return false;
}

void WriteSequence::LeaveAutoJoin()
{
    if (m_autoJoin)
        m_autoJoin->Restore();
    m_autoJoin.reset();
}

bool WriteSequence::JoinLink()
{
    {
        // The link must stay up meanwhile: its loss cuts the board's waits short.
        const ScopedFlag watching(m_app.WatchLink);
        if (WaitOtaLink(m_app, m_app.NetParams.Port, m_app.NetParams.IPAddr, m_app.Settings.CONECT_WAIT_TIME,
                        m_stopwatch))
            return true;
        m_linkLost = m_app.LinkLost();
    }
    if (m_app.WriteAbortRequested() || m_linkLost) {
        if (m_linkLost)
            m_app.AddLog(QStringLiteral("Not Connection"), true);
        m_result.outcome = WriteOutcome::Aborted;
        return false;
    }
    // Reported as a time-out: its texts ask to check the connection and the write can be retried.
    m_app.AddLog(QStringLiteral("Not Connection"), true);
    Fail(WriteOutcome::Timeout, FailureClass::ApNotJoined,
         diag::ApNotJoined(m_app.ApRecord.NetworkName, m_app.Network().Adapters(),
                           m_app.Settings.CONECT_WAIT_TIME));
    return false;
}

// The PC's side of the connection the uploader needs, checked before it runs: a failed check is
// said with its cause and action, and the person decides whether to go on anyway.
bool WriteSequence::CheckNetwork()
{
    diag::PreflightInput input;
    input.board = QHostAddress(FormatApAddress(m_app.ApRecord.IpAddr));
    input.ssid = m_app.ApRecord.NetworkName;
    input.hostPort = diag::OtaHostPortFromSetting(m_app.Settings.OtaHostPort);
    m_preflight = diag::RunNetworkPreflight(m_app.Network(), input);
    const bool passed = m_preflight.AllPassed();
    for (const QString& line : m_preflight.LogLines())
        m_app.AddLog(line, !passed);
    if (passed)
        return true;

    QStringList blocks;
    for (const diag::PreflightCheck& check : m_preflight.checks) {
        if (!check.passed)
            blocks << check.text.Block();
    }
    MessageRequest ask;
    ask.defaultNo = true;
    ask.caption = QStringLiteral("ネットワークの確認");
    ask.text = QStringLiteral("書き込みの前のネットワークの確認で問題が見つかりました。\n\n") +
               blocks.join(QStringLiteral("\n\n")) + QStringLiteral("\n\nこのまま書き込みを続けますか？");
    ask.icon = MsgIcon::Exclamation;
    ask.buttons = MsgButtons::YesNo;
    if (m_app.Ui.Message(ask) == MsgResult::Yes && !m_app.WriteAbortRequested()) {
        m_app.AddLog(QStringLiteral("ネットワークの確認の問題を残したまま書き込みを続けます。"), true);
        return true;
    }
    m_app.AddLog(QStringLiteral("ネットワークの確認の結果、書き込みを中止しました。"), true);
    Fail(WriteOutcome::Aborted, FailureClass::NetworkCheck);
    return false;
}

bool WriteSequence::WriteImageFile()
{
    QString error;
    const QByteArray image = LoadFirmwareImage(m_app.FirmwareId, &error);
    if (!image.isEmpty())
        m_image = SaveImage(image, TemporaryFirmwareFolder(m_app.Settings.binPath_Mode), &error);
    if (m_image) {
        m_imageSize = image.size();
        return true;
    }
    // The board must not stay in OTA mode; no verdict, the write may simply be tried again.
    ShowUpdateError(m_app, error);
    RestoreBoard(m_app);
    return false;
}

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

// A transfer that broke off, or a board that fell silent during the handshake, is often cured by
// starting the board's update service afresh: offered once, the person decides (headless: --yes).
bool WriteSequence::RetryWanted()
{
    // The uploader ran and ended by itself, or was stopped at its error line.
    const bool uploaderEnded = m_run.end == UploaderEnd::Finished || m_run.end == UploaderEnd::Failed ||
                               m_run.end == UploaderEnd::Refused;
    if (m_result.outcome == WriteOutcome::Success || !m_transient || !uploaderEnded ||
        m_app.WriteAbortRequested() || !m_engine.IsConnected())
        return false;
    LogAttempt(1);
    m_app.AddCauseLog(m_result.why);
    MessageRequest ask;
    ask.caption = QStringLiteral("書き込みの再試行");
    ask.text = QStringLiteral("書き込みが途中で失敗しました。一時的な問題の可能性があります。\n\n") +
               m_result.why.Block() +
               QStringLiteral("\n\nI/Fボードを再起動して、もう一度書き込みますか？（再試行は1回です）");
    ask.icon = MsgIcon::Question;
    ask.buttons = MsgButtons::YesNo;
    if (m_app.Ui.Message(ask) != MsgResult::Yes || m_app.WriteAbortRequested()) {
        m_app.AddLog(QStringLiteral("再試行しませんでした。"), true);
        return false;
    }
    m_app.AddLog(
        QStringLiteral("再試行します（2 回目）: I/Fボードを再起動して、アクセスポイントを待ちます。"), true);
    return true;
}

// The board restarted (leaving OTA mode and its access point), then asked for OTA mode again; the
// PC joins the access point again and the same image goes up once more.
bool WriteSequence::PrepareRetry()
{
    m_app.RestartBoard(m_app.Settings.CHK_IFB_TIME);
    m_app.AwaitBoardBack();
    Fail(WriteOutcome::Aborted, FailureClass::None);
    m_transient = false;
    m_run = UploaderRun{};
    // The second run's output is judged on its own.
    m_app.ToolOutputClean = true;
    m_engine.OtaResultArrived = false;
    m_engine.OtaResultOk = false;
    if (m_app.WriteAbortRequested())
        return false;
    if (!m_commands.GetApInfo(true, m_app.ApRecord)) {
        Fail(WriteOutcome::Aborted, FailureClass::BoardSilent, m_app.BoardSilentCause());
        return false;
    }
    if (!m_commands.SetOtaMode(2, true, m_app.Settings.ComPort, [this] { m_app.Timer1.start(); }) &&
        BoardRefusedLastRequest(m_engine)) {
        m_app.AddLog(QStringLiteral("I/FボードがOTAモードへの切り替えを拒否しました。"), true);
        Fail(WriteOutcome::Aborted, FailureClass::OtaModeRefused);
        return false;
    }
    if (m_autoJoin && m_autoJoined) {
        // The access point went down with the restart; the PC's connection to it with it.
        JoinAccessPoint([](const QString&) {}, [] { return false; });
    }
    m_result.outcome = WriteOutcome::Timeout;
    return JoinLink();
}

void WriteSequence::LogAttempt(int attempt)
{
    QString line = QStringLiteral("書き込み %1 回目: ").arg(attempt);
    if (m_result.outcome == WriteOutcome::Success)
        line += QStringLiteral("OK");
    else
        line += QStringLiteral("NG（%1）")
                    .arg(FailureClassName(m_result.cls == FailureClass::None ? FailureClass::Unspecified
                                                                             : m_result.cls));
    m_app.AddLog(line, true);
}

// One line in the record of writes and one more in the session's counters. A record file that
// cannot be written is said once per session; the write's verdict stands regardless.
void WriteSequence::Record()
{
    const bool ok = m_result.outcome == WriteOutcome::Success;
    diag::WriteRecord r;
    r.time = QDateTime::currentDateTime();
    r.port = m_app.BoardPlace();
    r.model = m_app.ModelName;
    r.targetId = m_app.TargetId;
    r.versionBefore = m_versionBefore;
    r.versionAfter = m_versionAfter;
    r.verdict = ok ? QStringLiteral("OK") : QStringLiteral("NG");
    if (!ok)
        r.failureClass = m_result.ClassText();
    r.durationMs = m_stopwatch.ElapsedMs();
    if (m_imageSize > 0 && m_uploadMs > 0)
        r.transferKBps = m_imageSize / 1024.0 / (m_uploadMs / 1000.0);
    QString error;
    if (!diag::AppendWriteRecord(diag::WriteRecordPath(SettingsFolder()), r, &error) &&
        !m_app.WriteRecordErrorLogged) {
        m_app.WriteRecordErrorLogged = true;
        m_app.AddLog(QStringLiteral("書き込み記録を保存できません: ") + error, true);
    }
    m_app.Counters.Count(ok);
    if (m_app.View.showSessionCounters)
        m_app.View.showSessionCounters(m_app.Counters.Text());
}

void WriteSequence::Fail(WriteOutcome outcome, FailureClass cls, const diag::CauseAction& why)
{
    m_result.outcome = outcome;
    m_result.cls = cls;
    m_result.why = why;
}

WriteResult WriteSequence::Finish()
{
    // A link that went away during the write explains everything after it; a stop is said as a
    // stop, with what the board had reported by then.
    m_result.verdict = true;
    if (m_result.outcome != WriteOutcome::Success && m_engine.Kind() == LinkKind::Serial &&
        !m_engine.IsConnected()) {
        Fail(m_result.outcome, FailureClass::PortVanished, diag::SerialPortVanished(m_app.SerialDevice()));
    } else if (m_result.outcome != WriteOutcome::Success && m_linkLost) {
        Fail(WriteOutcome::Aborted, FailureClass::LinkLost, diag::TcpLinkLost(m_app.BoardPlace()));
    } else if (m_result.outcome != WriteOutcome::Success && m_app.WriteAbortRequested()) {
        const BoardNote heard = HeardNote();
        m_result.boardReport = heard == BoardNote::Ok       ? QStringLiteral("OK")
                               : heard == BoardNote::Failed ? QStringLiteral("BR")
                                                            : QString();
        Fail(WriteOutcome::Aborted, FailureClass::Aborted, diag::WriteStopped(m_result.boardReport));
    }
    m_app.AddCauseLog(m_result.why);
    LeaveAutoJoin();
    if (m_linkLost || (m_engine.Kind() == LinkKind::Serial && !m_engine.IsConnected())) {
        // Nobody to tell; the mode stays kept in the settings for the next run to give back.
        m_app.AddLog(QStringLiteral("I/Fボードとの接続が切れているため、動作モードは変更しません。"), true);
    } else {
        RestoreBoard(m_app);
    }
    m_image.reset();
    ShowWriteResult(m_app, m_result.outcome, m_result.why.IsEmpty() ? QString() : m_result.why.Block());
    Record();
    m_app.AddLog(QStringLiteral("実行時間: ") + QString::number(m_stopwatch.ElapsedMs()) +
                     QStringLiteral("ms"),
                 false);
    const WriteResultTexts texts = WriteResultFor(m_result.outcome);
    for (const QString& line : texts.closingLines)
        m_app.AddLog(line, true);
    if (texts.offerWriteAgain)
        m_app.SetWriteCommandAvailable(true);
    return m_result;
}

WriteResult WriteSequence::Run()
{
    switch (Prepare()) {
    case Prepared::GiveUp:
        LeaveAutoJoin();
        GiveUpBeforeStart(m_app);
        return {};
    case Prepared::Refused:
        m_stopwatch.Start();
        return Finish();
    case Prepared::Ready:
        break;
    }
    m_stopwatch.Start();
    if (JoinLink() && CheckNetwork()) {
        if (!WriteImageFile()) {
            LeaveAutoJoin();
            return {};
        }
        UploadAndAwaitVerdict();
        if (RetryWanted()) {
            if (PrepareRetry())
                UploadAndAwaitVerdict();
            LogAttempt(2);
        }
    }
    return Finish();
}

} // namespace

QString TemporaryFirmwareFolder(int binPathMode)
{
    return binPathMode == 1 ? SettingsFolder() : UserDataFolder();
}

WriteResult RunOtaUpdate(AppCore& app)
{
    if (!app.Engine() || app.WriteAbortRequested())
        return {};
    const ScopedFlag running(app.WriteRunning);
    // A board restarted just before (a failed write's restore) is heard again first.
    app.AwaitBoardBack();
    return WriteSequence(app).Run();
}

void FileSave1Execute(AppCore& app)
{
    // A second write cannot start while one runs (the window is disabled, but shortcuts may still
    // reach a headless front-end); and without a board link there is nothing to write to.
    static bool running = false;
    if (running || !app.Engine())
        return;
    running = true;
    struct Restore {
        AppCore& app;
        bool& running;
        ~Restore()
        {
            app.SetMainEnabled(true);
            running = false;
        }
    } restore{app, running};
    app.SetMainEnabled(false);
    RunOtaUpdate(app);
}

} // namespace nx7
