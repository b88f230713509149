#pragma once
// The communication engine: the link to the board (serial line, TCP server or client, or none),
// the receive ring and frame assembly, the reply state and the waits, and the trace.
#include "comm/frame_codec.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

class QSerialPort;
class QTcpServer;
class QTcpSocket;

namespace nx7
{

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
    ~TTComXDlg() override;

    // Address the TCP server listens on, for engines created afterwards (default: every interface).
    static void SetListenAddress(const QString& address);

    // Link (transport).
    void OpenLink();
    void ReopenLink(int portNumber);
    bool IsConnected() const;
    int SendFrame(const std::uint8_t* bytes, int count);
    bool WaitConnected(bool state);
    void LoadComDebug();
    void SaveComDebug();
    void TraceLine(const QString& text, bool force = false);
    // The reset pulse of the hidden "リセット" item: RTS on, DTR on, DTR off, 100 ms, DTR on.
    void ResetPulse();

    // Reception.
    void AppendReceived(const std::uint8_t* bytes, int count);
    void AssembleFrames(); // driven by the main window's Timer1 only
    bool WaitReply(int kind, int timeoutMs);
    bool WaitAnyReply();
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

    // Serial port facts for the log ("COM3", 115200).
    QString PortName() const { return m_portName; }
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

    int ReplyKind = 0;
    std::array<std::uint8_t, codec::kMaxFrame> LastReply{};
    int LastReplyLength = 0; // bytes of the frame in LastReply (0: none yet); readers stay inside it
    bool OtaResultArrived = false;
    bool OtaResultOk = false;

    codec::FrameAssembler& Assembler() { return m_assembler; }
    // Number of TCP clients the server holds (link mode 2, server role).
    int ActiveConnections() const;

private:
    class Impl;
    friend class Impl;
    std::unique_ptr<Impl> d;
    codec::FrameAssembler m_assembler;
    QString m_portName = QStringLiteral("COM1");
};

// The trace text of a set of serial line errors, flags as the Windows CE_* bits:
// "<ComError:Frame,Parity>" or "<Ok>".
enum ComErrorFlag : unsigned {
    ComRxOver = 0x0001,
    ComOverrun = 0x0002,
    ComParity = 0x0004,
    ComFrame = 0x0008,
    ComBreak = 0x0010,
    ComTxFull = 0x0100,
    ComIo = 0x0400,
    ComMode = 0x8000,
};
QString ComErrorText(unsigned flags);

} // namespace nx7
