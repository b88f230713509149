#include "diag/diag_texts.h"
#include "platform/event_wait.h"
#include "platform/helpers.h"
#include "platform/ui_seam.h"
#include "update/uploader_command.h"
#include "update/write_sequence.h"

namespace nx7::write_steps
{

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
    MessageRequest ask = YesNoBox(
        QStringLiteral("書き込みの前のネットワークの確認で問題が見つかりました。\n\n") +
            blocks.join(QStringLiteral("\n\n")) + QStringLiteral("\n\nこのまま書き込みを続けますか？"),
        QStringLiteral("ネットワークの確認"), MsgIcon::Exclamation);
    ask.defaultNo = true;
    if (m_app.Ui.Message(ask) == MsgResult::Yes && !m_app.WriteAbortRequested()) {
        m_app.AddLog(QStringLiteral("ネットワークの確認の問題を残したまま書き込みを続けます。"), true);
        return true;
    }
    m_app.AddLog(QStringLiteral("ネットワークの確認の結果、書き込みを中止しました。"), true);
    Fail(WriteOutcome::Aborted, FailureClass::NetworkCheck);
    return false;
}

} // namespace nx7::write_steps
