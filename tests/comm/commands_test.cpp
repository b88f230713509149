// Every board command against a board on an in-memory link: the bytes it sends, how it waits,
// which reply fields it reads and what it logs. Reopening a port that is down runs on a real
// pseudo-terminal.
#include "comm/board_commands.h"
#include "platform/code_page.h"
#include "platform/event_wait.h"
#include "platform/tick_clock.h"

#include "comm_fixture.h"

#include <utility>

using namespace nx7;
using namespace nx7::test;

namespace
{

struct Logged {
    QString text;
    bool force;
    bool operator==(const Logged& o) const { return text == o.text && force == o.force; }
};

void PrintTo(const Logged& l, std::ostream* os)
{
    *os << (l.force ? "forced " : "") << '"' << l.text.toStdString() << '"';
}

struct FastClock {
    FastClock()
        : clock(20.0)
    {
        SetClock(&clock);
    }
    ~FastClock() { SetClock(nullptr); }
    SteadyTickClock clock;
};

template <typename Base> class CommandsOn : public Base
{
protected:
    void SetUp() override
    {
        Base::SetUp();
        this->CreateSerial();
    }
    BoardCommands Cmd()
    {
        return BoardCommands(*this->engine, [this](const QString& text, bool force) {
            logged.push_back({text, force});
        });
    }
    // Answers every request with `reply`.
    void AnswerAll(const QByteArray& reply)
    {
        this->board.script = [reply](const Bytes&) { return reply; };
    }
    // A bare ACK carrying the echo of whatever was asked.
    void AcknowledgeEach()
    {
        this->board.script = [](const Bytes& request) {
            const Bytes data(request.begin() + 4, request.end() - 3);
            return Qb(codec::BuildFrame(0, 0x30, codec::RequestEcho(data)));
        };
    }
    std::string LastRequest() const
    {
        return this->board.requests.empty() ? "" : ToHex(this->board.requests.back());
    }

    std::vector<Logged> logged;
};

using Commands = CommandsOn<EngineInMemory>;
using CommandsOnPty = CommandsOn<EngineOnPty>;

Logged L(const char* text, bool force = false)
{
    return {QString::fromUtf8(text), force};
}

} // namespace

TEST_F(Commands, RequestBytes)
{
    const struct {
        const char* name;
        std::function<void(BoardCommands&, TTComXDlg&)> run;
        const char* request;
    } cases[] = {
        {"GetIFBMode",
         [](BoardCommands& c, TTComXDlg&) {
             std::uint16_t m = 0;
             c.GetIFBMode(2000, m);
         },
         "02 00 45 01 00 03 4B 0D "},
        {"GetOtaStatus",
         [](BoardCommands& c, TTComXDlg&) {
             std::uint16_t p = 0;
             std::uint32_t a = 0;
             c.GetOtaStatus(p, a);
         },
         "02 00 45 01 00 03 4B 0D "},
        {"DousaModeSet 0", [](BoardCommands& c, TTComXDlg&) { c.DousaModeSet(0, 2000); },
         "02 00 45 03 01 00 00 03 4E 0D "},
        {"DousaModeSet 0x0102", [](BoardCommands& c, TTComXDlg&) { c.DousaModeSet(0x0102, 2000); },
         "02 00 45 03 01 02 01 03 51 0D "},
        {"ESP32_RestartCmd", [](BoardCommands& c, TTComXDlg&) { c.ESP32_RestartCmd(2000); },
         "02 00 45 01 0A 03 55 0D "},
        {"SetOtaMode flag", [](BoardCommands& c, TTComXDlg&) { c.SetOtaMode(2, true, kPinnedPort, {}); },
         "02 00 45 03 0B 02 01 03 5B 0D "},
        {"SetOtaMode", [](BoardCommands& c, TTComXDlg&) { c.SetOtaMode(2, false, kPinnedPort, {}); },
         "02 00 45 02 0B 02 03 59 0D "},
        {"GetTargetId", [](BoardCommands& c, TTComXDlg&) { c.GetTargetId(); }, "02 00 45 01 05 03 50 0D "},
        {"GetWifiSsid",
         [](BoardCommands& c, TTComXDlg&) {
             TCPIPPARAM r;
             c.GetWifiSsid(2000, r);
         },
         "02 00 45 02 03 02 03 51 0D "},
        {"GetWifiPassword",
         [](BoardCommands& c, TTComXDlg&) {
             TCPIPPARAM r;
             c.GetWifiPassword(2000, r);
         },
         "02 00 45 02 03 03 03 52 0D "},
        {"GetNetParams",
         [](BoardCommands& c, TTComXDlg&) {
             TCPIPPARAM r;
             c.GetNetParams(2000, r);
         },
         "02 00 45 02 03 04 03 53 0D "},
        {"GetApInfo",
         [](BoardCommands& c, TTComXDlg&) {
             AccessPointRecord ap;
             c.GetApInfo(false, ap);
         },
         "02 00 45 02 03 71 03 C0 0D "},
        {"SetWifiSsid", [](BoardCommands& c, TTComXDlg&) { c.SetWifiSsid(QStringLiteral("AB"), 2000); },
         "02 00 45 04 04 02 41 42 03 D7 0D "},
        {"SetWifiPassword",
         [](BoardCommands& c, TTComXDlg&) { c.SetWifiPassword(QStringLiteral("x"), 2000); },
         "02 00 45 03 04 03 78 03 CC 0D "},
        {"SetNetParams",
         [](BoardCommands& c, TTComXDlg&) {
             TCPIPPARAM r;
             r.Flags = 0x60;
             r.NetMask = 0x00FFFFFF;
             r.Port = 3335;
             r.IPAddr = 0x0104A8C0;
             r.ServPort = 10777;
             r.ServAddr = 0x0A01A8C0;
             r.Extra1 = 0x11223344;
             r.Extra2 = 0x55667788;
             c.SetNetParams(r, 2000);
         },
         "02 00 45 1B 04 04 60 FF FF FF 00 07 0D C0 A8 04 01 19 2A C0 A8 01 0A 44 33 22 11 88 77 66 55 03 65 "
         "0D "},
        {"RequestRomVersion", [](BoardCommands&, TTComXDlg& e) { e.RequestRomVersion(); },
         "02 00 45 01 90 03 DB 0D "},
        {"RequestModelName", [](BoardCommands&, TTComXDlg& e) { e.RequestModelName(); },
         "02 00 45 01 93 03 DE 0D "},
    };
    AcknowledgeEach();
    BoardCommands cmd = Cmd();
    for (const auto& c : cases) {
        const std::size_t before = board.requests.size();
        c.run(cmd, *engine);
        if (board.requests.size() == before) // the engine's own senders do not wait
            engine->WaitAnyReply();
        ASSERT_EQ(board.requests.size(), before + 1) << c.name;
        EXPECT_EQ(LastRequest(), c.request) << c.name;
    }
}

// With the transmit trace on, main-window senders log the request through AddLog (not forced),
// the engine's own senders through its trace.
TEST_F(Commands, TransmitTraceLines)
{
    AnswerAll(Ack("0A"));
    engine->TxTrace = true;
    EXPECT_TRUE(Cmd().ESP32_RestartCmd(2000));
    EXPECT_EQ(logged, (std::vector<Logged>{L("RESTART_CMD: "), L("02 00 45 01 0A 03 55 0D ")}));
    EXPECT_TRUE(log.lines.isEmpty());

    logged.clear();
    QString rom;
    AnswerAll(Ack("90 56 31 2E 30 30"));
    EXPECT_TRUE(Cmd().ReadRomVersion(rom));
    EXPECT_EQ(logged, std::vector<Logged>{L("I/FボードのＲＯＭのバージョン情報")});
    EXPECT_EQ(log.lines, QStringList{QStringLiteral("02 00 45 01 90 03 DB 0D ")});

    engine->TxTrace = false;
    logged.clear();
    AnswerAll(Ack("0A"));
    EXPECT_TRUE(Cmd().ESP32_RestartCmd(2000));
    EXPECT_EQ(logged, std::vector<Logged>{L("RESTART_CMD: ")});
}

// With both traces on (as --verbose does), the board's Wi-Fi password shows neither in the hex of
// the request that writes it nor in the hex of the reply that reads it.
TEST_F(Commands, TracesKeepTheWifiPasswordOutOfTheHex)
{
    engine->TxTrace = true;
    engine->RxTrace = true;
    AcknowledgeEach();
    EXPECT_TRUE(Cmd().SetWifiPassword(QStringLiteral("Secret"), 2000));
    AnswerAll(Ack("03 03 53 65 63 72 65 74"));
    TCPIPPARAM record;
    EXPECT_TRUE(Cmd().GetWifiPassword(2000, record));
    EXPECT_EQ(record.Password, QStringLiteral("Secret"));

    QStringList hex = log.lines;
    for (const Logged& l : logged)
        hex << l.text;
    const QString all = hex.join(QLatin1Char('\n'));
    EXPECT_FALSE(all.contains(QStringLiteral("53 65 63"))) << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("02 00 45 08 04 03 ** ** ** ** ** ** 03 ** 0D ")))
        << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("RX:02 00 30 08 03 03 ** ** ** ** ** ** 03 ** 0D ")))
        << all.toStdString();
}

TEST_F(Commands, OperationModeWord)
{
    AnswerAll(Ack("00 05 00 01 00"));
    std::uint16_t mode = 0xFFFF;
    EXPECT_TRUE(Cmd().GetIFBMode(2000, mode));
    EXPECT_EQ(mode, 5);

    // An acknowledgement too short to hold the word is no answer.
    AnswerAll(Ack(""));
    mode = 0x1234;
    EXPECT_FALSE(Cmd().GetIFBMode(2000, mode));
    EXPECT_EQ(mode, 0x1234);

    AnswerAll({});
    EXPECT_FALSE(Cmd().GetIFBMode(200, mode));
    EXPECT_EQ(mode, 0x1234);
}

TEST_F(Commands, OtaStatus)
{
    std::uint16_t port = 0;
    std::uint32_t address = 0;
    AnswerAll(Ack("00 00 00 01 00 0A 0D C0 A8 04 01"));
    EXPECT_TRUE(Cmd().GetOtaStatus(port, address));
    EXPECT_EQ(port, 3338);
    EXPECT_EQ(address, 0x0104A8C0u);
    EXPECT_EQ(logged, (std::vector<Logged>{L("OTA Port        : 3338"), L("OTA IP Address  : 192.168.4.1")}));

    // LEN 10: the last address byte is the frame's ETX.
    logged.clear();
    AnswerAll(Ack("00 00 00 01 00 0B 0D C0 A8 04"));
    EXPECT_TRUE(Cmd().GetOtaStatus(port, address));
    EXPECT_EQ(port, 3339);
    EXPECT_EQ(logged.back(), L("OTA IP Address  : 192.168.4.3"));

    logged.clear();
    AnswerAll(Ack("00 00 00 00 00 0A 0D C0 A8 04 01"));
    port = 1;
    address = 2;
    EXPECT_FALSE(Cmd().GetOtaStatus(port, address));
    EXPECT_EQ(port, 1);
    EXPECT_EQ(address, 2u);
    EXPECT_TRUE(logged.empty());
}

TEST_F(Commands, TargetId)
{
    AnswerAll(Ack("05 00 00 00 00 34 12"));
    EXPECT_TRUE(Cmd().GetTargetId());
    EXPECT_EQ(logged, (std::vector<Logged>{L("ターゲットID情報"), L("ID : 1234", true)}));
    logged.clear();
    AnswerAll(Ack("05 00 00 00 00 0C AB"));
    EXPECT_TRUE(Cmd().GetTargetId());
    EXPECT_EQ(logged.back(), L("ID : AB0C", true));

    logged.clear();
    AnswerAll(Ack("05 00 00 00 00 34"));
    EXPECT_FALSE(Cmd().GetTargetId());
    EXPECT_TRUE(logged.empty());
}

TEST_F(Commands, WifiTexts)
{
    TCPIPPARAM record;
    record.SSID = QStringLiteral("old");
    record.Password = QStringLiteral("oldpass");
    board.script = [](const Bytes& r) {
        if (r[5] == 0x02)
            return Ack("03 02 83 65 83 58 83 67 2D 41 50"); // "テスト-AP" in CP932
        return Ack("03 03 70 77");
    };
    EXPECT_TRUE(Cmd().ReadWifiSettings(2000, record));
    EXPECT_EQ(record.SSID, QStringLiteral("テスト-AP"));
    EXPECT_EQ(record.Password, QStringLiteral("pw"));
    EXPECT_EQ(logged, (std::vector<Logged>{L("テスト-AP"), L("pw")}));

    AnswerAll(Ack("03 02"));
    EXPECT_TRUE(Cmd().GetWifiSsid(2000, record));
    EXPECT_TRUE(record.SSID.isEmpty());

    AnswerAll({});
    EXPECT_FALSE(Cmd().GetWifiPassword(200, record));
    EXPECT_EQ(record.Password, QStringLiteral("pw"));
}

TEST_F(Commands, NetParams)
{
    TCPIPPARAM record;
    AnswerAll(Ack("03 04 60 00 FF FF FF 07 0D C0 A8 04 01 19 2A C0 A8 01 0A 01 00 00 00 02 00 00 00"));
    EXPECT_TRUE(Cmd().GetNetParams(2000, record));
    EXPECT_EQ(record.Flags, 0x60);
    EXPECT_EQ(record.NetMask, 0xFFFFFF00u);
    EXPECT_EQ(record.Port, 3335);
    EXPECT_EQ(record.IPAddr, 0x0104A8C0u);
    EXPECT_EQ(record.ServPort, 10777);
    EXPECT_EQ(record.ServAddr, 0x0A01A8C0u);
    EXPECT_EQ(record.Extra1, 1u);
    EXPECT_EQ(record.Extra2, 2u);
    EXPECT_EQ(logged, std::vector<Logged>{L("OK")});

    // LEN 26: acknowledged, the record is left as it was.
    const TCPIPPARAM kept = record;
    AnswerAll(Ack("03 04 61 00 FF FF FF 07 0D C0 A8 04 01 19 2A C0 A8 01 0A 01 00 00 00 02 00 00"));
    EXPECT_TRUE(Cmd().GetNetParams(2000, record));
    EXPECT_EQ(record.Flags, kept.Flags);
    EXPECT_EQ(record.ToBlock(), kept.ToBlock());

    logged.clear();
    AnswerAll({});
    EXPECT_FALSE(Cmd().GetNetParams(200, record));
    EXPECT_EQ(logged, std::vector<Logged>{L("NG")});

    // The block round-trips through the write command's bytes.
    TCPIPPARAM copy;
    copy.FromBlock(record.ToBlock().data());
    EXPECT_EQ(copy.ToBlock(), record.ToBlock());
}

TEST_F(Commands, AccessPointInfo)
{
    AccessPointRecord ap;
    AnswerAll(Ack("03 71 C0 A8 04 01 0A 0D 4E 58 37 2D 41 50"));
    EXPECT_TRUE(Cmd().GetApInfo(true, ap));
    EXPECT_EQ(ap.IpAddr & 0xFF, 192u);
    EXPECT_EQ(ap.IpAddr, 0x0104A8C0u);
    EXPECT_EQ(ap.OtaPort, 3338);
    EXPECT_EQ(ap.NetworkName, QStringLiteral("NX7-AP"));
    EXPECT_EQ(logged, (std::vector<Logged>{L("IP  : 1.4.168.192", true), L("Port: 3338", true),
                                           L("AP  : NX7-AP", true)}));

    logged.clear();
    AnswerAll(Ack("03 72 C0 A8 04 01 0A 0D"));
    EXPECT_FALSE(Cmd().GetApInfo(false, ap));
    EXPECT_EQ(logged, std::vector<Logged>{L("NG")});
    EXPECT_EQ(ap.NetworkName, QStringLiteral("NX7-AP"));

    logged.clear();
    AnswerAll(Reply(0x31, {0x44, 0x00}));
    EXPECT_FALSE(Cmd().GetApInfo(true, ap));
    EXPECT_EQ(logged, std::vector<Logged>{L("NG", true)});
}

TEST_F(Commands, WritesAndTheirLogLines)
{
    AnswerAll(Ack("04 02"));
    EXPECT_TRUE(Cmd().SetWifiSsid(QStringLiteral("net"), 2000));
    EXPECT_EQ(logged, std::vector<Logged>{L("OK")});
    logged.clear();
    AnswerAll({});
    EXPECT_FALSE(Cmd().SetWifiSsid(QStringLiteral("net"), 200));
    EXPECT_TRUE(logged.empty()); // the name write logs only its success
    EXPECT_FALSE(Cmd().SetWifiPassword(QStringLiteral("pw"), 200));
    EXPECT_FALSE(Cmd().SetNetParams(TCPIPPARAM{}, 200));
    EXPECT_EQ(logged, (std::vector<Logged>{L("NG"), L("NG")}));

    logged.clear();
    AcknowledgeEach();
    EXPECT_TRUE(Cmd().WriteWifiSettings(QStringLiteral("ネット"), QStringLiteral("pw"), 2000));
    ASSERT_GE(board.requests.size(), 2u);
    const Bytes& name = board.requests[board.requests.size() - 2];
    EXPECT_EQ(ToHex(Bytes(name.begin() + 3, name.end() - 3)), "08 04 02 83 6C 83 62 83 67 ");
    EXPECT_EQ(logged, (std::vector<Logged>{L("OK"), L("OK")}));
}

TEST_F(Commands, TextsLongerThan253BytesAreRefused)
{
    AnswerAll(Ack("04 02"));
    const QString fits = QString(126, QChar(0x3042)) + QLatin1Char('a'); // 253 bytes in CP932
    const QString tooLong = QString(127, QChar(0x3042));                 // 254 bytes
    ASSERT_EQ(ToAnsi(fits).size(), 253);
    ASSERT_EQ(ToAnsi(tooLong).size(), 254);

    EXPECT_TRUE(Cmd().SetWifiSsid(fits, 2000));
    ASSERT_EQ(board.requests.size(), 1u);
    EXPECT_EQ(board.requests[0].size(), 262u);
    EXPECT_EQ(board.requests[0][3], 255);

    logged.clear();
    EXPECT_FALSE(Cmd().SetWifiSsid(tooLong, 2000));
    EXPECT_FALSE(Cmd().SetWifiPassword(QString(254, QLatin1Char('p')), 2000));
    EXPECT_FALSE(Cmd().WriteWifiSettings(QStringLiteral("ok"), QString(300, QLatin1Char('p')), 2000));
    WaitForEvents(50);
    EXPECT_EQ(board.requests.size(), 1u); // nothing more was sent, not even the fitting name
    ASSERT_EQ(logged.size(), 3u);
    for (const Logged& l : logged) {
        EXPECT_TRUE(l.force);
        EXPECT_TRUE(l.text.startsWith(QStringLiteral("NG"))) << l.text.toStdString();
        EXPECT_TRUE(l.text.contains(QStringLiteral("253"))) << l.text.toStdString();
    }
}

TEST_F(CommandsOnPty, OtaModeReopensADownLink)
{
    AnswerAll(Ack("0B"));
    int reopened = 0;
    EXPECT_TRUE(Cmd().SetOtaMode(2, true, 99, [&] { ++reopened; }));
    EXPECT_EQ(reopened, 0); // the link is up: the port is not touched
    EXPECT_EQ(engine->PortName(), QStringLiteral("COM9"));
    EXPECT_EQ(logged, std::vector<Logged>{L("OK")});

    // Link down (the engine was created on a port that is not there): reopen on ComPort first.
    ASSERT_TRUE(PinPort(iniPath, 5, dir.filePath(QStringLiteral("gone"))));
    engine = std::make_unique<TTComXDlg>(0, 0, 0, QString(), 0, 5, 4, 0, &log, &ui, iniPath);
    ASSERT_FALSE(engine->IsConnected());
    logged.clear();
    EXPECT_TRUE(Cmd().SetOtaMode(2, true, kPinnedPort, [&] { ++reopened; }));
    EXPECT_EQ(reopened, 1);
    EXPECT_TRUE(engine->IsConnected());
    EXPECT_EQ(engine->PortName(), QStringLiteral("COM9"));
    EXPECT_EQ(LastRequest(), "02 00 45 03 0B 02 01 03 5B 0D ");

    FastClock fast;
    AnswerAll({});
    logged.clear();
    EXPECT_FALSE(Cmd().SetOtaMode(2, true, kPinnedPort, {}));
    EXPECT_TRUE(logged.empty());
}

TEST_F(Commands, RomVersionAndModelName)
{
    QString rom = QStringLiteral("stale");
    QString model = QStringLiteral("PB-RL11");
    AnswerAll(Ack("90 56 31 2E 30 30"));
    EXPECT_TRUE(Cmd().ReadRomVersion(rom));
    EXPECT_EQ(rom, QStringLiteral("V1.00"));
    AnswerAll(Ack("93 50 42 2D 52 4C 31 32"));
    EXPECT_TRUE(Cmd().ReadModelName(model));
    EXPECT_EQ(model, QStringLiteral("PB-RL12"));
    EXPECT_EQ(logged.back(), L("機種名（ModelName）の取得"));

    // No answer: the version is emptied, the model name kept.
    FastClock fast;
    AnswerAll({});
    EXPECT_FALSE(Cmd().ReadRomVersion(rom));
    EXPECT_TRUE(rom.isEmpty());
    EXPECT_FALSE(Cmd().ReadModelName(model));
    EXPECT_EQ(model, QStringLiteral("PB-RL12"));
}
