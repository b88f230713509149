#pragma once
// The main window's state and operations, shared by the Qt window and the headless front-end:
// settings, board facts, the engine and Timer1, AddLog, and the hooks through which flows reach
// the view (enable the window, withdraw the write command, show paths, close).
#include "comm/board_commands.h"
#include "comm/board_types.h"
#include "comm/engine.h"
#include "comm/product.h"
#include "diag/write_record.h"
#include "settings/option_settings.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

namespace nx7
{

class LogPane;
class UserInteraction;

namespace diag
{
struct CauseAction;
class LastingLog;
class NetworkView;
} // namespace diag

// How long a TCP link may be down before the write counts it as lost (a peer reconnecting after a
// glitch is back well within it).
constexpr std::uint32_t kLinkLostGraceMs = 1500;

struct ViewHooks {
    std::function<void(bool)> setMainEnabled;                // enable/disable the main window
    std::function<void(bool)> setWriteCommandAvailable;      // ToolButton2 enabled + FileSaveItem visible
    std::function<void(const QString&)> showUploaderPath;    // Sel_espota
    std::function<void(const QString&)> showFirmware;        // Sel_firm
    std::function<void()> closeMainWindow;                   // close (the shutdown runs)
    std::function<void(const QString&)> showSessionCounters; // "OK n / NG m" after each write
};

class AppCore : public QObject
{
    Q_OBJECT
public:
    AppCore(UserInteraction& ui, LogPane& log, QObject* parent = nullptr);
    ~AppCore() override;

    // Construction steps after the window is built: verbose log off, settings path and folder,
    // load "Option", access-point record and upload password, timer resolution, FirmwareId.
    void Initialise(const QString& settingsPath);

    void AddLog(const QString& text, bool force);
    // The "原因: " / "対処: " lines of a failure, always shown (nothing for an empty text).
    void AddCauseLog(const diag::CauseAction& why);

    // Every password the tool holds right now (upload, access point, the board's Wi-Fi), for
    // masking what goes to disk.
    QStringList Secrets() const;
    // The PC's network as the write's checks see it: the injected view, else the process-wide
    // one a test build installs (SetDefaultNetwork), else the system's.
    const diag::NetworkView& Network() const;
    static void SetDefaultNetwork(std::shared_ptr<const diag::NetworkView> view);

    // Creates the engine on the current link settings (ConnectBoard's link phase). The diagnostic
    // switch, if already on, switches the engine's traces on too.
    void CreateEngine();
    // Builds the engine's link from the settings; tests put an in-memory link here.
    LinkFactory MakeEngineLink = MakeLink;
    // Stops Timer1 and destroys the engine.
    void DestroyEngine();
    TTComXDlg* Engine() const { return TComXDlg.get(); }
    BoardCommands Commands();

    // Sends the restart request (`timeoutMs` for its acknowledgement) and notes that the board
    // must be heard again before the next command. Returns whether it was acknowledged.
    bool RestartBoard(int timeoutMs);
    // After a restart: repeats the mode read (harmless) every few hundred milliseconds until the
    // board answers, at most CHK_IFB_TIME. Returns at once when no restart is pending. False when
    // the board stayed silent (the caller goes on; its next command reports the failure).
    bool AwaitBoardBack();

    // The link to the board is gone: a serial port that vanished, or a TCP link that stayed down
    // longer than a reconnect takes (kLinkLostGraceMs). Polled by the waits that watch the link.
    bool LinkLost();

    // Where the board is, as the link itself names it, for texts and records: the COM name, the
    // TCP address and port the link uses (the server's peer once one is connected).
    QString BoardPlace() const;
    // The serial device as the user finds it on this system ("/dev/ttyUSB0"), else the COM name.
    QString SerialDevice() const;
    // The cause and action of a board that does not answer on this link.
    diag::CauseAction BoardSilentCause() const;

    // Turns on VerboseLog and, when the engine exists, both trace switches (About box, --verbose).
    void SwitchDiagnosticsOn();

    // Asks the view to close the main window (the shutdown runs there).
    void CloseMainWindow();
    void SetMainEnabled(bool enabled);
    void SetWriteCommandAvailable(bool available);

    void Timer1Timer();

    // Asks the running write to stop at its next step: the uploader is ended at once, the board's
    // mode is restored and the board restarted, the temporary image removed and the result shown
    // as aborted; the caller then closes as usual. Safe from a nested event loop (the window's
    // close question, the headless signal notifier). The request stays: a write that has not yet
    // started will not start.
    void AbortWrite() { m_abortRequested = true; }
    bool WriteAbortRequested() const { return m_abortRequested; }

    UserInteraction& Ui;
    LogPane& Log;
    ViewHooks View;

    QString SettingsPath;
    TOptionSettings Settings;
    AccessPointRecord ApRecord;
    QString UploadPassword = QString::fromLatin1(product::kUploadPassword);
    QString FirmwareId = QString::fromLatin1(product::kFirmwareId);
    QString RomVersion;
    QString ModelName;
    // The board's target id as read at start-up ("1234"); empty when not read.
    QString TargetId;
    TCPIPPARAM NetParams;
    std::uint16_t SavedOperationMode = 0;
    bool UsbModeSelected = false;
    // True once SavedOperationMode holds a mode the board reported (or the USB route chose):
    // only then is it written back.
    bool OperationModeKnown = false;
    // The board was sent a restart and has not answered since: wait for it before the next command.
    bool BoardRestarting = false;
    // A write sequence is running (RunOtaUpdate).
    bool WriteRunning = false;
    // A stop request (AbortWrite) also cuts the board's waits short while this is set: the
    // start-up check, whose waits may last long, sets it; the close, which must still restore
    // the board's mode after a stop, does not.
    bool InterruptibleWaits = false;
    // While set, a lost link (LinkLost) also cuts the board's waits short: the write sets it from
    // the join wait to the board's verdict, when the link must stay up.
    bool WatchLink = false;
    bool VerboseLog = false;
    bool ToolOutputClean = true;
    bool DiagnosticsOn = false;
    bool WriteCommandAvailable = true;
    // The writes of this session, and whether an unwritable record file has been said already.
    diag::SessionCounters Counters;
    bool WriteRecordErrorLogged = false;

    std::unique_ptr<TTComXDlg> TComXDlg;
    QTimer Timer1;

    // The on-disk log behind `Log` when the front-end keeps one (null otherwise): the uploader's
    // whole output goes there.
    diag::LastingLog* Lasting = nullptr;
    // Tests hand in their own network; null: the system's.
    std::shared_ptr<const diag::NetworkView> NetworkOverride;

private:
    bool m_abortRequested = false;
    // When the link was first seen down (tick).
    std::uint32_t m_linkDownSince = 0;
    bool m_linkDownSeen = false; // m_linkDownSince holds a time
};

// "I/Fボード ファームウェアアップデート for PB-RL11 (3030KMT27)"
QString MainWindowCaption(const QString& firmwareId);

} // namespace nx7
