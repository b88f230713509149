#pragma once
// One transport under the engine: a serial line, a TCP server that keeps one board, a TCP client,
// or no link at all. The engine keeps reception, reply state and waits; a link only moves bytes
// and reports its connection.
#include "comm/serial_line.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace nx7
{

class IniFile;

// What the settings' link mode integer selects.
enum class LinkKind { Serial, None, Tcp };
// 0 serial, 2 TCP, anything else none.
LinkKind LinkKindOf(int linkMode);
int LinkModeOf(LinkKind kind);

struct LinkSettings {
    LinkKind kind = LinkKind::None;
    bool server = false;
    int listenPort = 0;
    QString listenAddress; // empty: the adapter of the board's network if known, else every interface
    // Server: the board's address from the settings (its 32-bit value, first octet most significant);
    // when it is one, only that peer is accepted. 0, 1 and other non-addresses: any peer.
    std::uint32_t boardAddress = 0;
    int remotePort = 0;
    QString remoteAddress; // dotted text, or the decimal text of a 32-bit address
    SerialLine line;       // serial only
    QString settingsPath;  // serial only: where the port map lives
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
    virtual LinkKind Kind() const = 0;
    // Whether Open() only starts: the connection comes later and is reported by ConnectionChanged
    // (TCP). Otherwise Open() says at once whether the link is up.
    virtual bool ConnectsLater() const { return false; }
    // Whether a send on a lost connection should try Open() once before giving up.
    virtual bool ReconnectsOnSend() const { return false; }
    // Where the board is, for every log line, cause and record that names it: the COM name, the
    // TCP client's "address:port", the TCP server's peer or, before one came, "0.0.0.0:<port>".
    virtual QString Describe() const = 0;
    // The serial line (serial only): applied at every Open(); the port name may be changed for
    // the next Open().
    virtual const SerialLine* Line() const { return nullptr; }
    virtual void SetComName(const QString&) {}
    // The link's own keys of the "ComDebug" section (the serial line).
    virtual void ReadSettings(const IniFile&) {}
    virtual void WriteSettings(IniFile&) const {}
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

// The link that the settings describe: the production factory.
std::unique_ptr<Link> MakeLink(const LinkSettings& settings);
// Builds the engine's link; tests hand the engine an in-memory one.
using LinkFactory = std::function<std::unique_ptr<Link>(const LinkSettings&)>;

} // namespace nx7
