#pragma once
// One transport under the engine: a serial line, a TCP server that keeps one board, a TCP client,
// or no link at all. The engine keeps reception, reply state and waits; a link only moves bytes
// and reports its connection.
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <cstdint>
#include <memory>

namespace nx7
{

// Serial line settings, kept by the engine and applied by the serial link at every open.
struct SerialLine {
    QString comName = QStringLiteral("COM1"); // resolved to a device through the settings' port map
    int baudRate = 19200;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::FlowControl flow = QSerialPort::NoFlowControl;
};

struct LinkSettings {
    int linkMode = 1; // 0 serial, 2 TCP, anything else none
    bool server = false;
    int listenPort = 0;
    QString listenAddress; // empty: the adapter of the board's network if known, else every interface
    // Server: the board's address from the settings (its 32-bit value, first octet most significant);
    // when it is one, only that peer is accepted. 0, 1 and other non-addresses: any peer.
    std::uint32_t boardAddress = 0;
    int remotePort = 0;
    QString remoteAddress;            // dotted text, or the decimal text of a 32-bit address
    const SerialLine* line = nullptr; // serial only; owned by the engine
    QString settingsPath;             // serial only: where the port map lives
};

class Link : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Opens the port, or starts listening / connecting (a TCP link reports the connection later).
    // False only when a serial port could not be opened.
    virtual bool Open() = 0;
    // Takes the link down; a TCP link reports the loss through ConnectionChanged.
    virtual void Close() = 0;
    virtual bool IsUp() const = 0;
    // Hands bytes to the transport; the number taken, 0 when nothing could be sent.
    virtual int Write(const std::uint8_t* bytes, int count) = 0;
    // Whether a send on a lost connection should try Open() once before giving up.
    virtual bool ReconnectsOnSend() const { return false; }
    // Where the link leads, for log lines ("127.0.0.1:5000", "COM3").
    virtual QString Describe() const = 0;
    // Accepted TCP peers (server only).
    virtual int ActiveConnections() const { return 0; }
    // The reset pulse on the serial control lines (serial only).
    virtual void ResetPulse() {}

signals:
    void Received(const QByteArray& bytes);
    // A trace line; `force` lines are written whatever the trace switches say.
    void Trace(const QString& text, bool force);
    void ConnectionChanged(bool up);
    // The receive state must be emptied (a TCP client connected or disconnected).
    void ReceiveReset();
};

std::unique_ptr<Link> MakeLink(const LinkSettings& settings);

} // namespace nx7
