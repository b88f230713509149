#pragma once
// Talks to the real ifb-sim executable (started by the shared launcher) over its pseudo-terminal
// or loopback TCP with the tool's own frame codec.
#include "comm/frame_codec.h"
#include "support/sim_process.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

#include <initializer_list>
#include <memory>
#include <vector>

namespace simtest
{

using nx7::test::SimPath;
using nx7::test::SimProcess;

// A request frame with ID 0 and command 0x45.
QByteArray Request(std::initializer_list<std::uint8_t> data);
QByteArray Request(const QByteArray& data);
// "02 00 45 01 00 03 4B 0D": upper-case hex, blanks between bytes.
QString Hex(const QByteArray& bytes);
QByteArray FromHex(const char* text);

// One byte stream to the simulator.
class Peer
{
public:
    virtual ~Peer() = default;
    virtual bool Write(const QByteArray& bytes) = 0;
    // What arrives within `waitMs` (returns as soon as something has arrived).
    virtual QByteArray Read(int waitMs) = 0;
};

class PtyPeer : public Peer
{
public:
    explicit PtyPeer(const QString& slavePath);
    ~PtyPeer() override;
    bool ok() const { return m_fd >= 0; }
    bool Write(const QByteArray& bytes) override;
    QByteArray Read(int waitMs) override;

private:
    int m_fd = -1;
};

class SocketPeer : public Peer
{
public:
    explicit SocketPeer(QTcpSocket* socket)
        : m_socket(socket)
    {
    }
    bool Write(const QByteArray& bytes) override;
    QByteArray Read(int waitMs) override;

private:
    QTcpSocket* m_socket;
};

// Requests and the frames that come back, assembled exactly as the tool assembles them.
class Conversation : private nx7::codec::FrameAssembler::Sink
{
public:
    explicit Conversation(Peer& peer);
    // Sends a request and returns the first frame that comes back within `waitMs` (empty if none).
    QByteArray Ask(const QByteArray& request, int waitMs = 2000);
    // Reads until `count` frames (valid or not) have come since the last Clear(), or `waitMs` passed.
    bool WaitFrames(std::size_t count, int waitMs);
    void Clear();

    std::vector<QByteArray> frames;    // valid frames, in order
    std::vector<QByteArray> badFrames; // frames with their CR in place but a wrong checksum
    std::vector<QByteArray> chunks;    // the raw reads
    QByteArray raw;

private:
    void OnValidFrame(const std::uint8_t* frame, int length) override;
    void OnChecksumError(const std::uint8_t* frame, int length) override;
    void OnRxTrace(const std::string&) override {}

    Peer& m_peer;
    std::unique_ptr<nx7::codec::FrameAssembler> m_assembler;
};

} // namespace simtest
