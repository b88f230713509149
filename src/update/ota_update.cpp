#include "update/ota_update.h"

#include "core/app_core.h"
#include "diag/diag_texts.h"
#include "diag/write_record.h"
#include "platform/app_paths.h"
#include "platform/event_wait.h"
#include "platform/helpers.h"
#include "platform/tick_clock.h"
#include "platform/ui_seam.h"
#include "update/firmware_image.h"
#include "update/write_sequence.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <memory>

namespace nx7::write_steps
{

namespace
{

constexpr int kRestartWaitMs = 2000;
constexpr std::uint32_t kNoStartPauseMs = 2000;

void ShowUpdateError(AppCore& app, const QString& text)
{
    app.Ui.Message(ErrorBox(text, QStringLiteral("エラー")));
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

} // namespace

// The board answered the last request with a refusal rather than staying silent. The one place
// that reads the engine's reply state for this.
bool BoardRefusedLastRequest(const TTComXDlg& engine)
{
    return engine.LastReplyWasNack();
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
    const MessageRequest ask =
        YesNoBox(QStringLiteral("書き込みが途中で失敗しました。一時的な問題の可能性があります。\n\n") +
                     m_result.why.Block() +
                     QStringLiteral("\n\nI/Fボードを再起動して、もう一度書き込みますか？（再試行は1回です）"),
                 QStringLiteral("書き込みの再試行"));
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

} // namespace nx7::write_steps

namespace nx7
{

using write_steps::WriteSequence;

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
