#pragma once
// The communication engine: the link to the board (serial line, TCP server or client, or none),
// the receive ring and frame assembly, the reply state and the waits, and the trace.
#include "comm/frame_codec.h"
#include "comm/link.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTime>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace nx7
{

class IniFile;
class LogPane;
class UserInteraction;

class TTComXDlg : public QObject
{
    Q_OBJECT
public:
    // linkMode 0 = serial, 2 = TCP, anything else = no link. The serial port name "COM<n>" is
    // resolved through the COM-name map of `settingsPath` (section "PortMap"); section "ComDebug"
    // is read from and written to `settingsPath`.
    TTComXDlg(int listenPort, int isServer, int remotePort, const QString& remoteAddress, int linkMode,
              int portNumber, int speedCode, int parityCode, LogPane* logPane, UserInteraction* ui,
              const QString& settingsPath, QObject* parent = nullptr);
    // The engine on the link that `makeLink` builds for `settings` (tests hand in an in-memory
    // link); "ComDebug" gives the engine's own keys here, the line comes with the settings.
    TTComXDlg(const LinkSettings& settings, const LinkFactory& makeLink, LogPane* logPane,
              UserInteraction* ui, const QString& settingsPath, QObject* parent = nullptr);
    // The link settings of the first constructor's arguments: the serial line is "ComDebug"'s,
    // with the port, speed and parity of the arguments.
    static LinkSettings SettingsOf(int listenPort, int isServer, int remotePort, const QString& remoteAddress,
                                   int linkMode, int portNumber, int speedCode, int parityCode,
                                   const QString& settingsPath);
    ~TTComXDlg() override;

    // Address the TCP server listens on, for engines created afterwards (default: every interface).
    static void SetListenAddress(const QString& address);

    // Link (transport).
    LinkKind Kind() const;
    void OpenLink();
    void ReopenLink(int portNumber);
    bool IsConnected() const;
    // Sends a request frame; from here on it is the pending request, whose reply the waits take.
    // A TCP client whose connection was lost connects again first (one attempt, bounded by the
    // connect wait) and logs "TCP接続を再確立しました: <address>:<port>" when that succeeds.
    int SendFrame(const std::uint8_t* bytes, int count);
    bool WaitConnected(bool state);
    // "ComDebug": the link's keys (the serial line) and the engine's (IDNo, fDispCont1, MAX_REC_NO).
    void LoadComDebug();
    void SaveComDebug();
    void TraceLine(const QString& text, bool force = false);
    // The reset pulse of the hidden "リセット" item: RTS on, DTR on, DTR off, 100 ms, DTR on.
    void ResetPulse();

    // Reception.
    void AppendReceived(const std::uint8_t* bytes, int count);
    // Driven by the main window's Timer1 and, through the link, whenever bytes arrive.
    void AssembleFrames();
    // The reply to the pending request is an ACK whose DATA begins with the request's sub-code
    // echo (sub-code and item for the item requests), or a NACK while the request is pending.
    // Any other ACK or NACK appears in the verbose trace only; notifications never end a wait.
    // WaitReply(2, t): true on the ACK; a NACK does not end it (false after t).
    // WaitAnyReply(): true on the ACK, false at once on a NACK, false after 2000 ms.
    bool WaitReply(int kind, int timeoutMs);
    bool WaitAnyReply();
    // While `check` says true the waits end early, as a time-out: an interrupted check of the
    // board stops within one wait slice instead of after its whole time.
    void SetInterruptCheck(std::function<bool()> check);
    // Whether the last request sent was answered by a NACK (so a caller can tell a refusal from
    // silence after either wait returned false).
    bool LastReplyWasNack() const;
    // Whether the last request sent is still waiting for its reply.
    bool ReplyPending() const;
    bool TickTimer(int mode, std::uint32_t ms);
    // Trace lines and update-result flags of one valid frame (called by the assembly).
    void DecodeReply(const std::uint8_t* frame, int length);

    // Builds STX, IDNo, 0x45, LEN, data, ETX, SUM, CR and sends it; writes the transmit trace line
    // through TraceLine when `traceTx`. Returns the frame that was built.
    std::vector<std::uint8_t> SendRequest(const std::vector<std::uint8_t>& data, bool traceTx);
    // The request frame for `data` with this engine's IDNo (empty when data exceeds 255 bytes).
    std::vector<std::uint8_t> BuildRequest(const std::vector<std::uint8_t>& data) const;
    // The engine's own requests (sent; the caller waits with WaitAnyReply).
    void RequestRomVersion();
    void RequestModelName();

    // Where the link leads, as the link names it ("COM3 (/dev/ttyUSB2)", "192.168.0.10:10777", the
    // TCP server's peer); empty without a link or a peer.
    QString DescribeLink() const;
    // Serial port facts for the log ("COM3", 115200).
    QString PortName() const { return Line().comName; }
    int BaudRate() const;
    bool SerialOpen() const;

    // State named as the board protocol's engine always named it.
    int LinkMode = 1;
    int IsServer = 0;
    int ListenPort = 0;
    int RemotePort = 0;
    QString RemoteAddress;
    bool Connected = false;
    std::uint8_t IDNo = 0;
    int DispCont1 = 1;
    int MaxRecNo = 200;
    bool TxTrace = false;
    bool RxTrace = false;

    // Kind of the accepted reply (2 ACK, 6 NACK) or of the last notification since the last send.
    int ReplyKind = 0;
    // The last accepted reply (the ACK or NACK of a request), never a notification.
    std::array<std::uint8_t, codec::kMaxFrame> LastReply{};
    int LastReplyLength = 0; // bytes of the frame in LastReply (0: none yet); readers stay inside it
    bool OtaResultArrived = false;
    bool OtaResultOk = false;
    // When the last update-result notification arrived (time of day), for the log of one that
    // does not count.
    QTime OtaResultTime;

    codec::FrameAssembler& Assembler() { return m_assembler; }
    // Number of TCP clients the server holds (link mode 2, server role).
    int ActiveConnections() const;

private:
    class Impl;
    friend class Impl;
    std::unique_ptr<Impl> d;
    // IDNo, fDispCont1 and MAX_REC_NO from `ini`, or from the settings file when null.
    void LoadEngineKeys(const IniFile* ini = nullptr);
    // The serial line, or the defaults on the other links.
    const SerialLine& Line() const;
    codec::FrameAssembler m_assembler;
};

} // namespace nx7
