// Every board command against fixed byte sequences written out by hand (checksums included), so a
// fault shared by the tool and the simulator, which link the same codec, cannot hide: the bytes the
// tool puts on the line, and what it reads from a reply the board is known to send.
#include "comm/board_commands.h"
#include "comm/engine.h"
#include "comm/frame_codec.h"
#include "platform/tick_clock.h"
#include "support/memory_log.h"
#include "support/pty_pair.h"
#include "support/scripted_ui.h"
#include "support/test_data.h"

#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace nx7;
using nx7::test::FromHex;

namespace
{

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::pair<QString, bool>>; // AddLog text, forced

std::string Hex(const Bytes& b)
{
    std::string s;
    static const char digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i)
            s += ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

std::pair<QString, bool> Line(const char* text, bool forced = false)
{
    return {QString::fromUtf8(text), forced};
}

struct Known {
    const char* name;
    const char* request; // what the tool must send
    const char* reply;   // what the board answers
    std::function<void(BoardCommands&, const Lines&)> run;
};

// The record of the network block in the parameter frames below (60 FF FF FF 00 07 0D ...): flags
// 0x60, mask 255.255.255.0, port 3335, address 192.168.4.1, server port 10777, server address
// 192.168.1.10, two extra words.
TCPIPPARAM BlockRecord()
{
    TCPIPPARAM r;
    r.Flags = 0x60;
    r.NetMask = 0x00FFFFFF;
    r.Port = 3335;
    r.IPAddr = 0x0104A8C0;
    r.ServPort = 10777;
    r.ServAddr = 0x0A01A8C0;
    r.Extra1 = 0x11223344;
    r.Extra2 = 0x55667788;
    return r;
}

const std::vector<Known>& Table()
{
    static const std::vector<Known> table = {
        {"GetIFBMode", "02 00 45 01 00 03 4B 0D", "02 00 30 05 00 05 00 01 00 03 40 0D",
         [](BoardCommands& c, const Lines&) {
             std::uint16_t mode = 0;
             EXPECT_TRUE(c.GetIFBMode(2000, mode));
             EXPECT_EQ(mode, 5);
         }},
        {"GetIFBMode NACK", "02 00 45 01 00 03 4B 0D", "02 00 31 02 44 00 03 7C 0D",
         [](BoardCommands& c, const Lines&) {
             std::uint16_t mode = 7;
             EXPECT_FALSE(c.GetIFBMode(2000, mode));
             EXPECT_EQ(mode, 7);
         }},
        {"GetOtaStatus", "02 00 45 01 00 03 4B 0D", "02 00 30 0B 00 00 00 01 00 0A 0D C0 A8 04 01 03 C5 0D",
         [](BoardCommands& c, const Lines& log) {
             std::uint16_t port = 0;
             std::uint32_t address = 0;
             EXPECT_TRUE(c.GetOtaStatus(port, address));
             EXPECT_EQ(port, 3338);
             EXPECT_EQ(address, 0x0104A8C0u);
             EXPECT_EQ(log, (Lines{Line("OTA Port        : 3338"), Line("OTA IP Address  : 192.168.4.1")}));
         }},
        // LEN 10: the last address byte is the ETX.
        {"GetOtaStatus LEN 10", "02 00 45 01 00 03 4B 0D",
         "02 00 30 0A 00 00 00 01 00 0B 0D C0 A8 04 03 C4 0D",
         [](BoardCommands& c, const Lines& log) {
             std::uint16_t port = 0;
             std::uint32_t address = 0;
             EXPECT_TRUE(c.GetOtaStatus(port, address));
             EXPECT_EQ(port, 3339);
             EXPECT_EQ(log, (Lines{Line("OTA Port        : 3339"), Line("OTA IP Address  : 192.168.4.3")}));
         }},
        {"ESP32_RestartCmd", "02 00 45 01 0A 03 55 0D", "02 00 30 01 0A 03 40 0D",
         [](BoardCommands& c, const Lines&) { EXPECT_TRUE(c.ESP32_RestartCmd(2000)); }},
        {"DousaModeSet 0", "02 00 45 03 01 00 00 03 4E 0D", "02 00 30 01 01 03 37 0D",
         [](BoardCommands& c, const Lines&) { EXPECT_TRUE(c.DousaModeSet(0, 2000)); }},
        {"DousaModeSet 0x0102", "02 00 45 03 01 02 01 03 51 0D", "02 00 30 01 01 03 37 0D",
         [](BoardCommands& c, const Lines&) { EXPECT_TRUE(c.DousaModeSet(0x0102, 2000)); }},
        {"SetOtaMode 2 with flag", "02 00 45 03 0B 02 01 03 5B 0D", "02 00 30 01 0B 03 41 0D",
         [](BoardCommands& c, const Lines& log) {
             EXPECT_TRUE(c.SetOtaMode(2, true, 9, {}));
             EXPECT_EQ(log, Lines{Line("OK")});
         }},
        {"SetOtaMode 2", "02 00 45 02 0B 02 03 59 0D", "02 00 30 01 0B 03 41 0D",
         [](BoardCommands& c, const Lines&) { EXPECT_TRUE(c.SetOtaMode(2, false, 9, {})); }},
        {"GetTargetId", "02 00 45 01 05 03 50 0D", "02 00 30 07 05 00 00 00 00 34 12 03 87 0D",
         [](BoardCommands& c, const Lines& log) {
             EXPECT_TRUE(c.GetTargetId());
             EXPECT_EQ(log, (Lines{Line("ターゲットID情報"), Line("ID : 1234", true)}));
         }},
        {"GetWifiSsid", "02 00 45 02 03 02 03 51 0D", "02 00 30 06 03 02 4E 65 74 31 03 98 0D",
         [](BoardCommands& c, const Lines&) {
             TCPIPPARAM r;
             EXPECT_TRUE(c.GetWifiSsid(2000, r));
             EXPECT_EQ(r.SSID, QStringLiteral("Net1"));
         }},
        // LEN 2: an empty name replaces the old one.
        {"GetWifiSsid empty", "02 00 45 02 03 02 03 51 0D", "02 00 30 02 03 02 03 3C 0D",
         [](BoardCommands& c, const Lines&) {
             TCPIPPARAM r;
             r.SSID = QStringLiteral("old");
             EXPECT_TRUE(c.GetWifiSsid(2000, r));
             EXPECT_EQ(r.SSID, QString());
         }},
        {"GetWifiPassword", "02 00 45 02 03 03 03 52 0D", "02 00 30 04 03 03 70 77 03 26 0D",
         [](BoardCommands& c, const Lines&) {
             TCPIPPARAM r;
             EXPECT_TRUE(c.GetWifiPassword(2000, r));
             EXPECT_EQ(r.Password, QStringLiteral("pw"));
         }},
        {"GetNetParams", "02 00 45 02 03 04 03 53 0D",
         "02 00 30 1B 03 04 60 FF FF FF 00 07 0D C0 A8 04 01 19 2A C0 A8 01 0A 44 33 22 11 88 77 66 55 03 4F "
         "0D",
         [](BoardCommands& c, const Lines&) {
             TCPIPPARAM r;
             EXPECT_TRUE(c.GetNetParams(2000, r));
             const TCPIPPARAM want = BlockRecord();
             EXPECT_EQ(r.Flags, want.Flags);
             EXPECT_EQ(r.NetMask, want.NetMask);
             EXPECT_EQ(r.Port, want.Port);
             EXPECT_EQ(r.IPAddr, want.IPAddr);
             EXPECT_EQ(r.ServPort, want.ServPort);
             EXPECT_EQ(r.ServAddr, want.ServAddr);
             EXPECT_EQ(r.Extra1, want.Extra1);
             EXPECT_EQ(r.Extra2, want.Extra2);
         }},
        // LEN 26: acknowledged, but the block is not taken.
        {"GetNetParams LEN 26", "02 00 45 02 03 04 03 53 0D",
         "02 00 30 1A 03 04 60 FF FF FF 00 07 0D C0 A8 04 01 19 2A C0 A8 01 0A 44 33 22 11 88 77 66 03 F9 0D",
         [](BoardCommands& c, const Lines&) {
             TCPIPPARAM r;
             EXPECT_TRUE(c.GetNetParams(2000, r));
             EXPECT_EQ(r.Flags, 0);
             EXPECT_EQ(r.NetMask, 0u);
             EXPECT_EQ(r.Extra1, 0u);
         }},
        {"GetApInfo", "02 00 45 02 03 71 03 C0 0D", "02 00 30 0A 03 71 C0 A8 04 01 59 0D 41 50 03 17 0D",
         [](BoardCommands& c, const Lines& log) {
             AccessPointRecord ap;
             EXPECT_TRUE(c.GetApInfo(true, ap));
             EXPECT_EQ(ap.IpAddr, 0x0104A8C0u);
             EXPECT_EQ(ap.OtaPort, 3417);
             EXPECT_EQ(ap.NetworkName, QStringLiteral("AP"));
             EXPECT_EQ(log, (Lines{Line("IP  : 1.4.168.192", true), Line("Port: 3417", true),
                                   Line("AP  : AP", true)}));
         }},
        {"SetWifiSsid", "02 00 45 04 04 02 41 42 03 D7 0D", "02 00 30 02 04 02 03 3D 0D",
         [](BoardCommands& c, const Lines&) { EXPECT_TRUE(c.SetWifiSsid(QStringLiteral("AB"), 2000)); }},
        {"SetWifiPassword", "02 00 45 03 04 03 78 03 CC 0D", "02 00 30 02 04 03 03 3E 0D",
         [](BoardCommands& c, const Lines&) { EXPECT_TRUE(c.SetWifiPassword(QStringLiteral("x"), 2000)); }},
        {"SetNetParams",
         "02 00 45 1B 04 04 60 FF FF FF 00 07 0D C0 A8 04 01 19 2A C0 A8 01 0A 44 33 22 11 88 77 66 55 03 65 "
         "0D",
         "02 00 30 02 04 04 03 3F 0D",
         [](BoardCommands& c, const Lines&) { EXPECT_TRUE(c.SetNetParams(BlockRecord(), 2000)); }},
        {"RequestRomVersion", "02 00 45 01 90 03 DB 0D", "02 00 30 0A 90 33 30 33 30 4B 4D 54 32 37 03 EA 0D",
         [](BoardCommands& c, const Lines&) {
             QString rom;
             EXPECT_TRUE(c.ReadRomVersion(rom));
             EXPECT_EQ(rom, QStringLiteral("3030KMT27"));
         }},
        {"RequestModelName", "02 00 45 01 93 03 DE 0D", "02 00 30 08 93 50 42 2D 52 4C 31 31 03 8F 0D",
         [](BoardCommands& c, const Lines&) {
             QString model;
             EXPECT_TRUE(c.ReadModelName(model));
             EXPECT_EQ(model, QStringLiteral("PB-RL11"));
         }},
    };
    return table;
}

// The board end of a pseudo-terminal, without any codec: keeps every byte the tool sends and
// answers with the fixed reply once as many bytes as the expected request have arrived.
class RawBoard
{
public:
    explicit RawBoard(nx7::test::PtyPair& pty)
        : m_pty(pty)
        , m_notifier(pty.masterFd(), QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this] { OnReadable(); });
    }
    void Expect(std::size_t requestSize, const Bytes& reply)
    {
        received.clear();
        m_requestSize = requestSize;
        m_reply = reply;
    }
    Bytes received;

private:
    void OnReadable()
    {
        std::uint8_t buf[512];
        const ssize_t n = ::read(m_pty.masterFd(), buf, sizeof buf);
        if (n <= 0)
            return;
        const bool complete = received.size() >= m_requestSize;
        received.insert(received.end(), buf, buf + n);
        if (!complete && received.size() >= m_requestSize)
            m_pty.Write(QByteArray(reinterpret_cast<const char*>(m_reply.data()),
                                   static_cast<qsizetype>(m_reply.size())));
    }
    nx7::test::PtyPair& m_pty;
    QSocketNotifier m_notifier;
    std::size_t m_requestSize = 0;
    Bytes m_reply;
};

// Reply waits pass four times faster, so a fault that silences every command fails in seconds.
struct FastClock {
    FastClock() { SetClock(&clock); }
    ~FastClock() { SetClock(nullptr); }
    SteadyTickClock clock{4.0};
};

TEST(KnownFrames, EachCommandSendsItsBytesAndReadsTheKnownReply)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    nx7::test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const QString ini = dir.filePath(QStringLiteral("nx7.ini"));
    ASSERT_TRUE(nx7::test::PinPort(ini, 9, pty.slavePath()));
    RawBoard board(pty);
    FastClock fast;
    nx7::test::MemoryLog pane;
    nx7::test::ScriptedUi ui;
    TTComXDlg engine(0, 0, 0, QString(), 0, 9, 4, 0, &pane, &ui, ini);
    ASSERT_TRUE(engine.IsConnected());
    QTimer timer1;
    timer1.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer1, &QTimer::timeout, [&engine] { engine.AssembleFrames(); });
    timer1.start(50);

    for (const Known& k : Table()) {
        SCOPED_TRACE(k.name);
        const Bytes request = FromHex(k.request);
        board.Expect(request.size(), FromHex(k.reply));
        Lines log;
        BoardCommands cmd(engine, [&log](const QString& text, bool force) { log.emplace_back(text, force); });
        // Engine-side log lines ("I/Fボード…" and the like) are not part of this check.
        k.run(cmd, log);
        EXPECT_EQ(Hex(board.received), Hex(request));
    }
}

struct Sink : codec::FrameAssembler::Sink {
    void OnValidFrame(const std::uint8_t* frame, int length) override
    {
        valid.emplace_back(frame, frame + length);
    }
    void OnChecksumError(const std::uint8_t* frame, int length) override
    {
        bad.emplace_back(frame, frame + length);
    }
    void OnRxTrace(const std::string&) override {}
    std::vector<Bytes> valid;
    std::vector<Bytes> bad;
};

// The codec builds exactly these frames from their parts and takes each of them whole; a frame
// with its checksum off by one is reported, not taken.
TEST(KnownFrames, CodecBuildsAndAssemblesEveryKnownFrame)
{
    for (const Known& k : Table()) {
        for (const char* text : {k.request, k.reply}) {
            const Bytes frame = FromHex(text);
            SCOPED_TRACE(std::string(k.name) + ": " + text);
            ASSERT_GE(frame.size(), 7u);
            const std::size_t len = frame[3];
            ASSERT_EQ(frame.size(), len + 7);
            const Bytes data(frame.begin() + 4, frame.begin() + 4 + static_cast<std::ptrdiff_t>(len));
            EXPECT_EQ(Hex(codec::BuildFrame(frame[1], frame[2], data)), Hex(frame));
            EXPECT_EQ(codec::FrameChecksum(frame.data()), frame[frame.size() - 2]);

            codec::FrameAssembler assembler;
            Sink sink;
            assembler.AppendReceived(frame.data(), frame.size());
            assembler.Assemble(sink, false);
            ASSERT_EQ(sink.valid.size(), 1u);
            EXPECT_EQ(Hex(sink.valid.front()), Hex(frame));
            EXPECT_TRUE(sink.bad.empty());

            Bytes off = frame;
            off[off.size() - 2] = static_cast<std::uint8_t>(off[off.size() - 2] + 1);
            codec::FrameAssembler second;
            Sink offSink;
            second.AppendReceived(off.data(), off.size());
            second.Assemble(offSink, false);
            EXPECT_TRUE(offSink.valid.empty());
            EXPECT_EQ(offSink.bad.size(), 1u);
        }
    }
}

} // namespace
