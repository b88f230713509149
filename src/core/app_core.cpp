#include "core/app_core.h"

#include "platform/log_pane.h"
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
    ApRecord = AccessPointRecord{};
    UploadPassword = QStringLiteral("KW5GDH4072");
    // Timer resolution: nothing to raise on this platform; Qt's precise timers serve Timer1.
    FirmwareId = QStringLiteral("3030KMT27");
}

void AppCore::AddLog(const QString& text, bool force)
{
    if (!VerboseLog && !force)
        return;
    AppendLogLine(Log, text);
}

void AppCore::CreateEngine()
{
    TComXDlg = std::make_unique<TTComXDlg>(Settings.TCPPort, Settings.fTCPServer, Settings.TCPServPort,
                                           Settings.TCPServAddr, Settings.UseUSB, Settings.ComPort,
                                           Settings.ComSpeed, Settings.Parity, &Log, &Ui, SettingsPath);
    if (DiagnosticsOn) {
        TComXDlg->TxTrace = true;
        TComXDlg->RxTrace = true;
    }
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

void AppCore::SwitchDiagnosticsOn()
{
    DiagnosticsOn = true;
    VerboseLog = true;
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
    if (TComXDlg->LinkMode != 0 || TComXDlg->SerialOpen())
        TComXDlg->AssembleFrames();
}

} // namespace nx7
