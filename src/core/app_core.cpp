#include "core/app_core.h"

#include "diag/diag_texts.h"
#include "diag/lasting_log.h"
#include "diag/network_view.h"

#include "platform/com_names.h"
#include "platform/event_wait.h"
#include "platform/log_pane.h"
#include "platform/tick_clock.h"
#include "platform/ui_seam.h"

namespace nx7
{

QString MainWindowCaption(const QString& firmwareId)
{
    return QStringLiteral("I/Fボード ファームウェアアップデート") + QStringLiteral(" for PB-RL11") +
           QStringLiteral(" (") + firmwareId + QStringLiteral(")");
}

AppCore::AppCore(UserInteraction& ui, LogPane& log, QObject* parent)
    : QObject(parent)
    , Ui(ui)
    , Log(log)
{
    Timer1.setInterval(50);
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &AppCore::Timer1Timer);
}

AppCore::~AppCore()
{
    Timer1.stop();
    TComXDlg.reset();
}

void AppCore::Initialise(const QString& settingsPath)
{
    VerboseLog = false;
    SettingsPath = settingsPath;
    LoadOptionSettings(SettingsPath, Settings);
    // No time at all for the board's answers would fail every check at once.
    if (Settings.CHK_IFB_TIME <= 0) {
        const int fallback = TOptionSettings().CHK_IFB_TIME;
        AddLog(QStringLiteral("CHK_IFB_TIME が %1 のため、既定値 %2 ms を使います。")
                   .arg(Settings.CHK_IFB_TIME)
                   .arg(fallback),
               true);
        Settings.CHK_IFB_TIME = fallback;
    }
    ApRecord = AccessPointRecord{};
    UploadPassword = QString::fromLatin1(product::kUploadPassword);
    // Timer resolution: nothing to raise on this platform; Qt's precise timers serve Timer1.
    FirmwareId = QString::fromLatin1(product::kFirmwareId);
}

void AppCore::AddLog(const QString& text, bool force)
{
    if (!VerboseLog && !force)
        return;
    AppendLogLine(Log, text);
}

void AppCore::CreateEngine()
{
    const LinkSettings link = TTComXDlg::SettingsOf(
        Settings.TCPPort, Settings.fTCPServer, Settings.TCPServPort, Settings.TCPServAddr, Settings.UseUSB,
        Settings.ComPort, Settings.ComSpeed, Settings.Parity, SettingsPath);
    TComXDlg = std::make_unique<TTComXDlg>(link, MakeEngineLink, &Log, &Ui, SettingsPath);
    if (DiagnosticsOn) {
        TComXDlg->TxTrace = true;
        TComXDlg->RxTrace = true;
    }
    TComXDlg->SetInterruptCheck([this] {
        if (InterruptibleWaits && m_abortRequested)
            return true;
        // A start-up check on a serial port that has gone has nobody left to answer it.
        if (InterruptibleWaits && TComXDlg->Kind() == LinkKind::Serial && !TComXDlg->IsConnected())
            return true;
        return WatchLink && LinkLost();
    });
    m_linkDownSeen = false;
}

QString AppCore::BoardPlace() const
{
    return TComXDlg ? TComXDlg->DescribeLink() : QString();
}

diag::CauseAction AppCore::BoardSilentCause() const
{
    if (!TComXDlg)
        return {};
    const TTComXDlg& e = *TComXDlg;
    // A board that answers with refusals is there, and not silent.
    if (e.LastReplyWasNack())
        return diag::BoardRefused(BoardPlace());
    if (e.Kind() == LinkKind::Tcp) {
        // A server with no board connected names where it waits, not a peer it never had.
        if (e.IsServer != 0)
            return diag::BoardSilentTcp(QStringLiteral("0.0.0.0"), e.ListenPort);
        const QString place = BoardPlace();
        const qsizetype colon = place.lastIndexOf(QLatin1Char(':'));
        return diag::BoardSilentTcp(place.left(colon), place.mid(colon + 1).toInt());
    }
    return diag::BoardSilentSerial(SerialDevice(), e.BaudRate());
}

QString AppCore::SerialDevice() const
{
    if (!TComXDlg)
        return QString();
    const QString device = DeviceOfComName(TComXDlg->PortName(), SettingsPath);
    return device.isEmpty() ? TComXDlg->PortName() : device;
}

bool AppCore::LinkLost()
{
    if (!TComXDlg)
        return true;
    if (TComXDlg->IsConnected()) {
        m_linkDownSeen = false;
        return false;
    }
    // A serial port that is gone stays gone; a TCP peer may come back within a moment.
    if (TComXDlg->Kind() == LinkKind::Serial)
        return true;
    const std::uint32_t now = Clock().TickCount();
    if (!m_linkDownSeen) {
        m_linkDownSeen = true;
        m_linkDownSince = now;
    }
    return now - m_linkDownSince >= kLinkLostGraceMs;
}

void AppCore::DestroyEngine()
{
    Timer1.stop();
    TComXDlg.reset();
}

BoardCommands AppCore::Commands()
{
    return BoardCommands(*TComXDlg, [this](const QString& text, bool force) { AddLog(text, force); });
}

namespace
{
// One probe's wait for its answer, and the pace of the probes.
constexpr int kProbeMs = 300;
} // namespace

bool AppCore::RestartBoard(int timeoutMs)
{
    BoardRestarting = true;
    return Commands().ESP32_RestartCmd(timeoutMs);
}

bool AppCore::AwaitBoardBack()
{
    if (!BoardRestarting || !TComXDlg)
        return true;
    BoardRestarting = false;
    const std::uint32_t bound =
        Settings.CHK_IFB_TIME > 0 ? static_cast<std::uint32_t>(Settings.CHK_IFB_TIME) : 0;
    TickClock& clock = Clock();
    const std::uint32_t start = clock.TickCount();
    BoardCommands commands = Commands();
    for (int probe = 1;; ++probe) {
        const std::uint32_t sent = clock.TickCount();
        std::uint16_t word = 0;
        if (commands.GetIFBMode(kProbeMs, word)) {
            if (probe > 1)
                AddLog(QStringLiteral("I/Fボード再起動: %1ms で応答").arg(clock.TickCount() - start), false);
            return true;
        }
        const std::uint32_t elapsed = clock.TickCount() - start;
        if (InterruptibleWaits && m_abortRequested)
            return false;
        if (elapsed >= bound) {
            AddLog(QStringLiteral("I/Fボード再起動: %1ms 以内に応答がありません").arg(bound), false);
            return false;
        }
        // A probe that failed early (link down, refused) still keeps the pace.
        const std::uint32_t spent = clock.TickCount() - sent;
        if (spent < static_cast<std::uint32_t>(kProbeMs))
            PumpSleep(static_cast<std::uint32_t>(kProbeMs) - spent);
    }
}

void AppCore::AddCauseLog(const diag::CauseAction& why)
{
    if (why.IsEmpty())
        return;
    for (const QString& line : why.Lines())
        AddLog(line, true);
}

QStringList AppCore::Secrets() const
{
    QStringList secrets;
    for (const QString& s : {UploadPassword, ApRecord.Password, NetParams.Password}) {
        if (!s.isEmpty())
            secrets << s;
    }
    return secrets;
}

namespace
{
std::shared_ptr<const diag::NetworkView>& DefaultNetwork()
{
    static std::shared_ptr<const diag::NetworkView> view;
    return view;
}
} // namespace

const diag::NetworkView& AppCore::Network() const
{
    static const diag::SystemNetworkView system;
    if (NetworkOverride)
        return *NetworkOverride;
    return DefaultNetwork() ? *DefaultNetwork() : system;
}

void AppCore::SetDefaultNetwork(std::shared_ptr<const diag::NetworkView> view)
{
    DefaultNetwork() = std::move(view);
}

void AppCore::SwitchDiagnosticsOn()
{
    DiagnosticsOn = true;
    VerboseLog = true;
    if (Lasting)
        Lasting->SetDiagnostic(true);
    if (TComXDlg) {
        TComXDlg->TxTrace = true;
        TComXDlg->RxTrace = true;
    }
}

void AppCore::CloseMainWindow()
{
    if (View.closeMainWindow)
        View.closeMainWindow();
}

void AppCore::SetMainEnabled(bool enabled)
{
    if (View.setMainEnabled)
        View.setMainEnabled(enabled);
}

void AppCore::SetWriteCommandAvailable(bool available)
{
    WriteCommandAvailable = available;
    if (View.setWriteCommandAvailable)
        View.setWriteCommandAvailable(available);
}

void AppCore::Timer1Timer()
{
    // Assembly only while the engine exists and, on a serial link, its port is open.
    if (!TComXDlg)
        return;
    if (TComXDlg->Kind() != LinkKind::Serial || TComXDlg->SerialOpen())
        TComXDlg->AssembleFrames();
}

} // namespace nx7
