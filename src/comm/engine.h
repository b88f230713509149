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

namespace nx7 {

class LogPane;
class UserInteraction;

class TTComXDlg : public QObject {
    Q_OBJECT
public:
    // linkMode 0 = serial, 2 = TCP, anything else = no link. The serial port name "COM<n>" is
    // resolved through the COM-name map of `settingsPath` (section "PortMap"); section "ComDebug"
    // is read from and written to `settingsPath`.
    TTComXDlg(int listenPort, int isServer, int remotePort, const QString& remoteAddress, int linkMode,
              int portNumber, int speedCode, int parityCode, LogPane* logPane, UserInteraction* ui,
              const QString& settingsPath, QObject* parent = nullptr);
    ~TTComXDlg() override;

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

    // Builds STX, IDNo, 0x45, LEN, data, ETX, SUM, CR and sends it; writes the transmit trace line
    // through TraceLine when `traceTx`. Returns the frame that was built.
    std::vector<std::uint8_t> SendRequest(const std::vector<std::uint8_t>& data, bool traceTx);
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
    bool OtaResultArrived = false;
    bool OtaResultOk = false;

    codec::FrameAssembler& Assembler() { return m_assembler; }

private:
    class Impl;
    friend class Impl;
    std::unique_ptr<Impl> d;
    codec::FrameAssembler m_assembler;
    QString m_portName = QStringLiteral("COM1");
};

} // namespace nx7
