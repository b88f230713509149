#include "discovery/connect_board.h"

#include "core/app_core.h"
#include "diag/diag_texts.h"
#include "discovery/enum_com.h"
#include "platform/com_names.h"
#include "platform/event_wait.h"
#include "platform/helpers.h"
#include "platform/ui_seam.h"

namespace nx7
{

QString UsbOfferText(int usbWaitMode)
{
    if (usbWaitMode == 0)
        return QStringLiteral(
            "I/Fボードに接続できませんでした。\n\n動作モードをUSBモードに変更して再接続しますか。\n"
            "(ソフト終了時に手動で動作モードを再選択する必要があります。)");
    return QStringLiteral(
        "I/Fボードに接続できませんでした。\n\n動作モードをUSBモードに変更して再接続しますか。\n"
        "※ ソフト終了時に手動で動作モードを再選択する必要があります。\n"
        "※ 接続検証に最長2分程かかる場合があります。");
}

namespace
{

// The port name of a list line: the text before its first "(".
QString PortNameOfLine(const QString& line)
{
    const qsizetype paren = line.indexOf(QLatin1Char('('));
    return paren < 0 ? line : line.left(paren);
}

void ShowConnectProblem(AppCore& app, const QString& text)
{
    app.Ui.Message(ErrorBox(text));
}

} // namespace

diag::CauseAction LinkOpenFailure(const AppCore& app, const TTComXDlg& engine)
{
    if (engine.Kind() == LinkKind::Serial)
        return diag::SerialPortFailure(app.SerialDevice(), QSerialPort::OpenError);
    if (engine.Kind() == LinkKind::Tcp)
        return BoardSilent(app, engine);
    return {};
}

diag::CauseAction BoardSilent(const AppCore& app, const TTComXDlg&)
{
    return app.BoardSilentCause();
}

namespace
{

// What one phase of the connection ends with.
struct Phase {
    enum class Next { Go, Connected, Failed, Close } next = Next::Go;
    QString resultText; // the closing log line ("Find NX7 IFB", "NG: Port Open", ...)
    diag::CauseAction failure;
};

Phase Go()
{
    return {};
}

Phase Ended(Phase::Next next, const QString& text, const diag::CauseAction& failure = {})
{
    return {next, text, failure};
}

PortDialogRequest FirstPortRequest(const AppCore& app)
{
    PortDialogRequest request;
    request.caption = QStringLiteral("シリアルポートのオープン");
    request.lines = PortListLines(app.SettingsPath);
    const QString wanted = PortNameOfNumber(app.Settings.ComPort);
    request.selected = request.lines.isEmpty() ? -1 : 0;
    for (int i = 0; i < request.lines.size(); ++i) {
        if (PortNameOfLine(request.lines.at(i)) == wanted) {
            request.selected = i;
            break;
        }
    }
    request.speedItem = SpeedItemOfCode(app.Settings.ComSpeed);
    request.parityItem = ParityItemOfCode(app.Settings.Parity);
    const QString settingsPath = app.SettingsPath;
    request.enumerate = [settingsPath] { return PortListLines(settingsPath); };
    request.serialLink = LinkKindOf(app.Settings.UseUSB) == LinkKind::Serial;
    return request;
}

// The port dialog until a usable choice or Cancel; the choice goes into the settings and the
// engine is made on it.
Phase ChoosePort(AppCore& app)
{
    PortDialogRequest request = FirstPortRequest(app);
    const bool serialLink = request.serialLink;
    for (;;) {
        const PortDialogResult answer = app.Ui.PortDialog(request);
        if (!answer.ok)
            return Ended(Phase::Next::Close, QString());
        request.lines = answer.lines;
        request.speedItem = answer.speedItem;
        int selected = answer.selected;
        if (selected < 0 && !answer.lines.isEmpty())
            selected = 0;
        if (selected >= 0 && selected < answer.lines.size()) {
            const QString name = PortNameOfLine(answer.lines.at(selected));
            const std::optional<int> number = PortNumberOfName(name);
            if (!number) {
                // A port whose name carries no number cannot be opened as COM<n>: let the user
                // pick another one instead of failing later.
                ShowConnectProblem(app, QStringLiteral("ポート名「") + name +
                                            QStringLiteral("」からポート番号を読み取れません。\n\n"
                                                           "別のポートを選択してください。"));
                request.selected = selected;
                continue;
            }
            app.Settings.ComPort = *number;
        } else if (serialLink) {
            // Open with an empty list: nothing could be opened; say so and keep the dialog, which
            // refreshes itself when an adapter is plugged in.
            ShowConnectProblem(app,
                               QStringLiteral("シリアルポートが見つかりません。\n\n"
                                              "I/Fボードとの接続を確認してから、ポートを選択してください。"));
            request.selected = -1;
            continue;
        }
        // Over TCP or no link the serial port is not used: an empty list keeps ComPort as it is.
        app.Settings.ComSpeed = SpeedCodeOfItem(answer.speedItem);
        app.Settings.Parity = answer.parityItem;
        app.CreateEngine();
        return Go();
    }
}

// The link comes up: a serial port opens at once; a TCP link only starts connecting or listening,
// so the peer gets the same time the link's own open gives it.
Phase OpenLink(AppCore& app)
{
    app.Timer1.start();
    TTComXDlg& engine = *app.Engine();
    if (engine.Kind() == LinkKind::Tcp && !engine.IsConnected())
        engine.WaitConnected(true);
    if (!engine.IsConnected())
        return Ended(Phase::Next::Close, QStringLiteral("NG: Port Open"), LinkOpenFailure(app, engine));
    return Go();
}

// The board check on the open link. A stop, or a port that went away meanwhile, ends it without
// the USB route, which would only wait for nobody.
Phase VerifyBoard(AppCore& app)
{
    TTComXDlg& engine = *app.Engine();
    app.Settings.fNoVerCheck = 0;
    app.UsbModeSelected = false;
    if (CheckIFB(app, app.Settings.CHK_IFB_TIME, false))
        return Ended(Phase::Next::Connected, QStringLiteral("Find NX7 IFB"));
    if (app.WriteAbortRequested())
        return Ended(Phase::Next::Failed, QStringLiteral("Not Find NX7 IFB"));
    if (engine.Kind() == LinkKind::Serial && !engine.IsConnected()) {
        const diag::CauseAction gone = diag::SerialPortVanished(app.SerialDevice());
        app.AddCauseLog(gone);
        return Ended(Phase::Next::Failed, QStringLiteral("Not Find NX7 IFB"), gone);
    }
    const diag::CauseAction silent = BoardSilent(app, engine);
    app.AddCauseLog(silent);
    return Ended(Phase::Next::Go, QString(), silent);
}

// A silent board may still be driven into USB mode: offered once, with why it was silent. Each
// try waits a second for the board first.
Phase OfferUsbRoute(AppCore& app, const diag::CauseAction& silent)
{
    const MessageRequest offer =
        YesNoBox(UsbOfferText(app.Settings.USBWait_Mode) + QStringLiteral("\n\n") + silent.Block(),
                 QStringLiteral("USBモードでの実行"), MsgIcon::Exclamation);
    if (app.Ui.Message(offer) != MsgResult::Yes)
        return Ended(Phase::Next::Failed, QString(), silent);
    app.UsbModeSelected = true;
    constexpr std::uint32_t kBeforeUsbTryMs = 1000;
    PumpSleep(kBeforeUsbTryMs);
    bool passed = CheckIFB(app, app.Settings.CHK_IFB_TIME, true);
    if (!passed) {
        PumpSleep(kBeforeUsbTryMs);
        passed = CheckIFB(app, app.Settings.CHK_IFB_TIME, true);
    }
    if (passed)
        return Ended(Phase::Next::Connected, QStringLiteral("Find NX7 IFB"));
    app.UsbModeSelected = false;
    return Ended(Phase::Next::Failed, QStringLiteral("Not Find NX7 IFB"), silent);
}

} // namespace

bool ConnectBoard(AppCore& app, diag::CauseAction* why)
{
    Phase phase = ChoosePort(app);
    app.SetMainEnabled(false);
    if (phase.next == Phase::Next::Go)
        phase = OpenLink(app);
    if (phase.next == Phase::Next::Go)
        phase = VerifyBoard(app);
    if (phase.next == Phase::Next::Go)
        phase = OfferUsbRoute(app, phase.failure);

    const bool connected = phase.next == Phase::Next::Connected;
    app.SetMainEnabled(true);
    app.AddLog(phase.resultText, false);
    if (!connected && phase.resultText == QStringLiteral("NG: Port Open"))
        app.AddCauseLog(phase.failure);
    if (why)
        *why = connected ? diag::CauseAction{} : phase.failure;
    if (phase.next == Phase::Next::Close)
        app.CloseMainWindow();
    return connected;
}

namespace
{
// A write that did not end (a crash, a kill) left the mode to give back in the settings: the board
// at hand now runs the mode that write had put it in, so the kept one is what the close restores.
// Only the board of the start-up is that board.
void TakePendingMode(AppCore& app)
{
    const int pending = app.Settings.PendingDousaMode;
    app.Settings.PendingDousaMode = -1;
    if (pending < 0)
        return;
    app.SavedOperationMode = static_cast<std::uint16_t>(pending);
    app.AddLog(
        QStringLiteral("前回の書き込みが終了しなかったため、その前の動作モード (0x%1) を終了時に戻します。")
            .arg(pending, 4, 16, QLatin1Char('0')),
        true);
}

// The USB route: the mode is set to USB without reading it first (the mode to give back is USB).
// With USBWait_Mode 1 a board that did not answer gets 45 s to announce itself.
bool SwitchStraightToUsb(AppCore& app, BoardCommands& cmd, int timeoutMs)
{
    bool passed = cmd.DousaModeSet(0, timeoutMs);
    app.SavedOperationMode = 0;
    app.OperationModeKnown = true;
    if (passed || app.Settings.USBWait_Mode != 1)
        return passed;
    PumpSleep(1000);
    if (app.Engine()->WaitReply(2, 45000)) {
        std::uint16_t word = 0;
        return cmd.GetIFBMode(timeoutMs, word) && (word & 7) == 0;
    }
    return cmd.DousaModeSet(0, timeoutMs);
}

// The mode word, read twice at most; a board left in OTA mode is restarted and read again.
bool ReadOperationMode(AppCore& app, BoardCommands& cmd, int timeoutMs, std::uint16_t& word)
{
    bool inOta = false;
    bool got = cmd.GetIFBMode(timeoutMs, word, &inOta);
    if (!got && !inOta)
        got = cmd.GetIFBMode(timeoutMs, word, &inOta);
    if (!inOta)
        return got;
    // Left in OTA mode by a write that did not end: its status is no mode word. A restart
    // brings the board back to its operation mode.
    app.AddLog(QStringLiteral("I/FボードがOTAモードのままです。再起動して動作モードを読み直します。"), true);
    app.RestartBoard(timeoutMs);
    app.AwaitBoardBack();
    return cmd.GetIFBMode(timeoutMs, word, &inOta);
}

// The normal route: the mode is kept to give back at the close, then the board is switched to
// USB mode (or only restarted, by USBchange) for the run.
bool ReadModeAndSwitch(AppCore& app, BoardCommands& cmd, int timeoutMs)
{
    std::uint16_t word = 0;
    if (!ReadOperationMode(app, cmd, timeoutMs, word))
        return false;
    app.SavedOperationMode = word;
    app.OperationModeKnown = true;
    TakePendingMode(app);
    app.AddLog(QStringLiteral("OK: GetIFBMode"), false);
    const bool acknowledged =
        app.Settings.USBchange == 1 ? cmd.DousaModeSet(0, timeoutMs) : app.RestartBoard(timeoutMs);
    if (acknowledged) {
        app.RestartBoard(timeoutMs);
        app.AddLog(QStringLiteral("OK: ESP32_RestartCmd"), false);
        PumpSleep(1000);
        return true;
    }
    app.RestartBoard(timeoutMs);
    PumpSleep(1000);
    app.AwaitBoardBack();
    cmd.DousaModeSet(0, timeoutMs);
    return false;
}

} // namespace

bool CheckIFB(AppCore& app, int timeoutMs, bool useUsbOta)
{
    const QString title = QStringLiteral("------- Check IFB ----------");
    ProgressRequest progress;
    progress.caption = QStringLiteral("しばらくお待ちください");
    progress.label = title;
    progress.marquee = true;
    app.Ui.SetStatusText(title);
    ProcessPendingEvents();
    app.Ui.ProgressBegin(progress);
    ProcessPendingEvents();
    app.SetMainEnabled(false);

    BoardCommands cmd = app.Commands();
    const bool passed =
        useUsbOta ? SwitchStraightToUsb(app, cmd, timeoutMs) : ReadModeAndSwitch(app, cmd, timeoutMs);

    bool result = false;
    if (passed) {
        PumpSleep(1000);
        // A board that boots slower than the fixed pauses would miss the reads that follow.
        app.AwaitBoardBack();
        result = ReadBoardNetParams(app, 2000);
    } else if (app.Settings.USBWait_Mode == 0) {
        app.RestartBoard(timeoutMs);
    }

    app.Ui.ProgressEnd();
    return result;
}

bool ReadBoardNetParams(AppCore& app, int timeoutMs)
{
    BoardCommands cmd = app.Commands();
    if (!cmd.ReadWifiSettings(timeoutMs, app.NetParams))
        return false;
    if (!cmd.GetNetParams(timeoutMs, app.NetParams))
        return false;
    MirrorNetParams(app.NetParams, app.Settings);
    return true;
}

} // namespace nx7
