// The board simulator, run as the real executable and spoken to like the tool speaks to a board.
#include "sim_harness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

using namespace simtest;

namespace
{

int Byte(const QByteArray& frame, int index)
{
    return index < frame.size() ? static_cast<std::uint8_t>(frame.at(index)) : -1;
}

QByteArray Reply(std::uint8_t code, const QByteArray& data)
{
    const auto* d = reinterpret_cast<const std::uint8_t*>(data.constData());
    const std::vector<std::uint8_t> f = nx7::codec::BuildFrame(0, code, {d, d + data.size()});
    return QByteArray(reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size()));
}

QByteArray Ack(const char* hex)
{
    return Reply(0x30, FromHex(hex));
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class SimTest : public ::testing::Test
{
protected:
    void StartPty(const QStringList& args)
    {
        const QString line = sim.Start(args);
        ASSERT_TRUE(line.startsWith(QLatin1String("PTY /")))
            << line.toStdString() << sim.Stderr().toStdString();
        ptyPath = line.mid(4);
        pty = std::make_unique<PtyPeer>(ptyPath);
        ASSERT_TRUE(pty->ok());
        talk = std::make_unique<Conversation>(*pty);
    }
    void TearDown() override
    {
        talk.reset();
        pty.reset();
        EXPECT_TRUE(sim.Stop()) << "the simulator did not end cleanly on SIGTERM: "
                                << sim.Stderr().toStdString();
    }

    SimProcess sim;
    QString ptyPath;
    std::unique_ptr<PtyPeer> pty;
    std::unique_ptr<Conversation> talk;
};

TEST_F(SimTest, AnswersEveryRequestFromItsState)
{
    StartPty({"--mode", "0x0105", "--rom-version", "V1.00", "--model", "PB-RL11 rev2", "--target-id",
              "0x1234", "--ssid", "Net1", "--wifi-password", "pw", "--ap-ip", "192.168.0.1", "--ap-port",
              "3232", "--ap-name", "AP1"});
    struct Case {
        const char* name;
        QByteArray request;
        QByteArray reply;
    };
    const Case cases[] = {
        // Mode form: a 32-bit value whose low 16 bits (frame bytes 5, 6) are the mode word.
        {"mode get", Request({0x00}), Ack("00 05 01 00 00")},
        {"rom version", Request({0x90}), FromHex("02 00 30 06 90 56 31 2E 30 30 03 E0 0D")},
        {"model name", Request({0x93}), Reply(0x30, QByteArray("\x93PB-RL11 rev2"))},
        {"target id at bytes 9..10", Request({0x05}), Ack("05 00 00 00 00 34 12")},
        {"wifi name", Request({0x03, 0x02}), Reply(0x30, QByteArray("\x03\x02Net1"))},
        {"wifi password", Request({0x03, 0x03}), Reply(0x30, QByteArray("\x03\x03pw"))},
        {"network block", Request({0x03, 0x04}),
         Ack("03 04 40 FFFFFF00 A00C C0A80401 0000 00000000 00000000 00000000")},
        // Address as a little-endian number whose top byte is the first dotted number, then port, name.
        {"access point", Request({0x03, 0x71}), Reply(0x30, FromHex("03 71 01 00 A8 C0 A0 0C") + "AP1")},
        {"unknown sub-code", Request({0x77}), Reply(0x31, FromHex("44 00"))},
        {"unknown read", Request({0x03, 0x09}), Reply(0x31, FromHex("44 00"))},
        {"mode set too short", Request({0x01, 0x00}), Reply(0x31, FromHex("41 00"))},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Hex(talk->Ask(c.request)), Hex(c.reply)) << c.name;
}

TEST_F(SimTest, WritesPersistAndAreReadBack)
{
    StartPty({"--restart-ms", "50"});
    EXPECT_EQ(Hex(talk->Ask(Request({0x01, 0x02, 0x01}))), Hex(Ack("01")));
    const QByteArray block = FromHex("21 00FFFFFF 3930 0A000005 D204 0A000001 11223344 55667788");
    ASSERT_EQ(block.size(), 25);
    EXPECT_EQ(Hex(talk->Ask(Request(FromHex("04 02") + "Other Net"))), Hex(Ack("04 02")));
    EXPECT_EQ(Hex(talk->Ask(Request(FromHex("04 03") + "secret9"))), Hex(Ack("04 03")));
    EXPECT_EQ(Hex(talk->Ask(Request(FromHex("04 04") + block))), Hex(Ack("04 04")));

    // A restart keeps what was written.
    EXPECT_EQ(Hex(talk->Ask(Request({0x0A}))), Hex(Ack("0A")));
    QThread::msleep(120);
    const QByteArray mode = talk->Ask(Request({0x00}));
    EXPECT_EQ(Byte(mode, 5), 0x02);
    EXPECT_EQ(Byte(mode, 6), 0x01);
    EXPECT_EQ(talk->Ask(Request({0x03, 0x02})).mid(6, 9), QByteArray("Other Net"));
    EXPECT_EQ(talk->Ask(Request({0x03, 0x03})).mid(6, 7), QByteArray("secret9"));
    const QByteArray params = talk->Ask(Request({0x03, 0x04}));
    EXPECT_EQ(Byte(params, 3), 27);
    EXPECT_EQ(Hex(params.mid(6, 25)), Hex(block));
    // A block of the wrong length is refused and changes nothing.
    EXPECT_EQ(Hex(talk->Ask(Request(FromHex("04 04") + block.left(24)))), Hex(Reply(0x31, FromHex("41 00"))));
    EXPECT_EQ(Hex(talk->Ask(Request({0x03, 0x04})).mid(6, 25)), Hex(block));
}

TEST_F(SimTest, RecordsEveryRequestFrameInOrder)
{
    QTemporaryDir dir;
    const QString record = dir.filePath("requests.txt");
    StartPty({"--record", record, "--fault", "silent 90"});
    talk->Ask(Request({0x00}));
    talk->Ask(Request({0x90}), 200); // unanswered, still recorded
    QByteArray damaged = Request({0x0A});
    damaged[damaged.size() - 2] = 0x00;
    EXPECT_EQ(Hex(talk->Ask(damaged)), Hex(Reply(0x31, FromHex("42 00"))));
    talk->Ask(Request({0x01, 0x00, 0x00}));
    // Each line is flushed as the frame arrives: readable while the simulator runs.
    EXPECT_EQ(QString::fromLatin1(ReadFile(record)), QStringLiteral("02 00 45 01 00 03 4B 0D\n"
                                                                    "02 00 45 01 90 03 DB 0D\n"
                                                                    "02 00 45 01 0A 03 00 0D\n"
                                                                    "02 00 45 03 01 00 00 03 4E 0D\n"));
}

TEST_F(SimTest, OtaStatusReportsTheStationFromTheConfiguredPoll)
{
    StartPty({"--station-after-polls", "3", "--ota-port", "3338", "--ota-ip", "192.168.4.1", "--ota-result",
              "none", "--restart-ms", "150"});
    // The status request has the same bytes as the mode request: outside OTA mode it gets the mode form.
    EXPECT_EQ(Byte(talk->Ask(Request({0x00})), 3), 5);
    EXPECT_EQ(Hex(talk->Ask(Request({0x0B, 0x02, 0x01}))), Hex(Ack("0B")));
    for (int poll = 1; poll <= 4; ++poll) {
        const QByteArray status = talk->Ask(Request({0x00}));
        ASSERT_EQ(Byte(status, 3), 11) << poll;
        EXPECT_EQ(Byte(status, 7), poll >= 3 ? 1 : 0) << poll;
        EXPECT_EQ(Hex(status.mid(9, 2)), "0A 0D") << poll;
        EXPECT_EQ(Hex(status.mid(11, 4)), "C0 A8 04 01") << poll;
    }
    // The restart is acknowledged, the board is silent while it restarts, then out of OTA mode.
    EXPECT_EQ(Hex(talk->Ask(Request({0x0A}))), Hex(Ack("0A")));
    EXPECT_TRUE(talk->Ask(Request({0x00}), 60).isEmpty());
    QThread::msleep(150);
    EXPECT_EQ(Byte(talk->Ask(Request({0x00})), 3), 5);
    // A new OTA session counts its polls afresh.
    talk->Ask(Request({0x0B, 0x02}));
    EXPECT_EQ(Byte(talk->Ask(Request({0x00})), 7), 0);
}

TEST_F(SimTest, StationJoinsAfterTheConfiguredTime)
{
    StartPty({"--station-after-ms", "300", "--ota-result", "none"});
    talk->Ask(Request({0x0B, 0x02, 0x01}));
    EXPECT_EQ(Byte(talk->Ask(Request({0x00})), 7), 0);
    QThread::msleep(350);
    EXPECT_EQ(Byte(talk->Ask(Request({0x00})), 7), 1);
}

TEST_F(SimTest, NoStationMeansNoVerdict)
{
    StartPty({"--no-station", "--ota-result", "OK"});
    talk->Ask(Request({0x0B, 0x02, 0x01}));
    for (int poll = 0; poll < 3; ++poll)
        EXPECT_EQ(Byte(talk->Ask(Request({0x00})), 7), 0);
    talk->Clear();
    EXPECT_FALSE(talk->WaitFrames(1, 300));
}

struct VerdictCase {
    const char* verdict;
    const char* romAfterRestart;
};

class UpdateVerdict : public SimTest, public ::testing::WithParamInterface<VerdictCase>
{
};

TEST_P(UpdateVerdict, FollowsTheFirstJoinedPollAndSetsTheNextRomVersion)
{
    const VerdictCase c = GetParam();
    StartPty({"--rom-version", "3030KMT26", "--rom-after-update", "3030KMT27", "--ota-result", c.verdict,
              "--ota-result-delay-ms", "150", "--restart-ms", "50"});
    talk->Ask(Request({0x0B, 0x02, 0x01}));
    QElapsedTimer sinceJoin;
    sinceJoin.start();
    EXPECT_EQ(Byte(talk->Ask(Request({0x00})), 7), 1);
    talk->Clear();
    const bool announced = talk->WaitFrames(1, QByteArray(c.verdict) == "none" ? 500 : 3000);
    if (QByteArray(c.verdict) == "none") {
        EXPECT_FALSE(announced);
    } else {
        ASSERT_TRUE(announced);
        EXPECT_GE(sinceJoin.elapsed(), 140);
        EXPECT_EQ(Hex(talk->frames.at(0)), Hex(Reply(0x44, c.verdict)));
    }
    talk->Ask(Request({0x0A}));
    QThread::msleep(100);
    EXPECT_EQ(talk->Ask(Request({0x90})).mid(5, 9), QByteArray(c.romAfterRestart));
}

INSTANTIATE_TEST_SUITE_P(Verdicts, UpdateVerdict,
                         ::testing::Values(VerdictCase{"OK", "3030KMT27"}, VerdictCase{"BR", "3030KMT26"},
                                           VerdictCase{"none", "3030KMT26"}));

// The board the simulator plays now: target id, ROM version and mode word.
struct Played {
    int targetId;
    QByteArray rom;
    int mode;
};

class NextBoards : public SimTest
{
protected:
    Played Now()
    {
        const QByteArray id = talk->Ask(Request({0x05}));
        const QByteArray rom = talk->Ask(Request({0x90}));
        const QByteArray mode = talk->Ask(Request({0x00}));
        return {Byte(id, 9) | (Byte(id, 10) << 8), rom.mid(5, rom.size() - 8),
                Byte(mode, 5) | (Byte(mode, 6) << 8)};
    }
    void Restart()
    {
        talk->Ask(Request({0x0A}));
        QThread::msleep(100);
    }
    // OTA mode, a joined poll, and the verdict that follows; empty when none came.
    QByteArray Update()
    {
        talk->Ask(Request({0x0B, 0x02, 0x01}));
        talk->Ask(Request({0x00}));
        talk->Clear();
        if (!talk->WaitFrames(1, 1500))
            return {};
        return talk->frames.at(0).mid(4, Byte(talk->frames.at(0), 3));
    }
};

// Each session ends with a verdict, a mode set and a restart; only then does the next board
// answer, as configured, with its own verdict. A mode set and restart without a verdict is no end.
TEST_F(NextBoards, FollowOneAnotherAtTheEndOfEachSession)
{
    StartPty({"--rom-version", "3030KMT26", "--rom-after-update", "3030KMT27", "--mode", "0x0003",
              "--target-id", "0x1111", "--restart-ms", "50", "--ota-result-delay-ms", "100", "--next-boards",
              "0x2222:BR, 4660"});
    EXPECT_EQ(Update(), QByteArray("OK"));
    Restart(); // the check of the new version: the same board, updated
    Played p = Now();
    EXPECT_EQ(p.targetId, 0x1111);
    EXPECT_EQ(p.rom, QByteArray("3030KMT27"));
    talk->Ask(Request({0x01, 0x05, 0x00}));
    Restart();
    p = Now();
    EXPECT_EQ(p.targetId, 0x2222);
    EXPECT_EQ(p.rom, QByteArray("3030KMT26"));
    EXPECT_EQ(p.mode, 0x0003);

    talk->Ask(Request({0x01, 0x01, 0x00}));
    Restart();
    EXPECT_EQ(Now().targetId, 0x2222) << "no verdict yet: the same board";
    EXPECT_EQ(Update(), QByteArray("BR"));
    talk->Ask(Request({0x01, 0x01, 0x00}));
    Restart();
    p = Now();
    EXPECT_EQ(p.targetId, 0x1234);
    EXPECT_EQ(p.rom, QByteArray("3030KMT26"));

    EXPECT_EQ(Update(), QByteArray("OK"));
    talk->Ask(Request({0x01, 0x01, 0x00}));
    Restart();
    p = Now();
    EXPECT_EQ(p.targetId, 0x1234) << "the list is used up: the last board stays";
    EXPECT_EQ(p.rom, QByteArray("3030KMT27"));
}

TEST(SimOptions, RefusesABadNextBoardList)
{
    for (const char* list : {"0x1111:MAYBE", "zz", "1:OK:2", ","}) {
        SimProcess bad;
        bad.Start({"--next-boards", list});
        ASSERT_TRUE(bad.process().state() == QProcess::NotRunning || bad.process().waitForFinished(5000));
        EXPECT_EQ(bad.process().exitCode(), 2) << list;
        EXPECT_TRUE(bad.Stderr().contains("--next-boards")) << list;
    }
}

TEST_F(SimTest, ScriptedFaults)
{
    struct Case {
        const char* name;
        const char* directive;
        std::function<void(Conversation&)> check;
    };
    const QByteArray modeGet = Request({0x00});
    const QByteArray modeReply = Ack("00 01 00 00 00");
    const Case cases[] = {
        {"silent only the first time", "silent 90 times 1",
         [](Conversation& t) {
             EXPECT_TRUE(t.Ask(Request({0x90}), 250).isEmpty());
             EXPECT_EQ(Hex(t.Ask(Request({0x90}))), Hex(Reply(0x30, "\x90"
                                                                    "3030KMT27")));
         }},
        {"silent to everything without a selector", "silent",
         [](Conversation& t) {
             EXPECT_TRUE(t.Ask(Request({0x00}), 150).isEmpty());
             EXPECT_TRUE(t.Ask(Request({0x01, 0x00, 0x00}), 150).isEmpty());
         }},
        {"nack with code and detail", "nack 93 05 02",
         [](Conversation& t) { EXPECT_EQ(Hex(t.Ask(Request({0x93}))), Hex(Reply(0x31, FromHex("05 02")))); }},
        {"nack leaves the state alone", "nack 01 44",
         [&](Conversation& t) {
             EXPECT_EQ(Byte(t.Ask(Request({0x01, 0x00, 0x00})), 2), 0x31);
             EXPECT_EQ(Hex(t.Ask(modeGet)), Hex(modeReply));
         }},
        {"an acknowledgement cut short, and nothing carried out", "short 01 times 1",
         [&](Conversation& t) {
             EXPECT_EQ(Hex(t.Ask(Request({0x01, 0x05, 0x00}))), Hex(Ack("01")));
             EXPECT_EQ(Hex(t.Ask(modeGet)), Hex(modeReply));
         }},
        {"wrong checksum", "bad-checksum 00 times 1",
         [&](Conversation& t) {
             EXPECT_TRUE(t.Ask(modeGet).isEmpty());
             ASSERT_EQ(t.badFrames.size(), 1u);
             EXPECT_EQ(t.badFrames[0].left(10), modeReply.left(10));
             EXPECT_EQ(Hex(t.Ask(modeGet)), Hex(modeReply));
         }},
        {"misplaced CR", "misplaced-cr 00 times 1",
         [&](Conversation& t) {
             EXPECT_TRUE(t.Ask(modeGet, 300).isEmpty());
             EXPECT_TRUE(t.badFrames.empty());
             EXPECT_EQ(Hex(t.raw.right(3)), Hex(modeReply.right(2).insert(1, '\x0A')));
             EXPECT_EQ(Hex(t.Ask(modeGet)), Hex(modeReply));
         }},
        {"noise before the frame", "noise 00 40",
         [&](Conversation& t) {
             EXPECT_EQ(Hex(t.Ask(modeGet)), Hex(modeReply));
             EXPECT_EQ(t.raw.size(), 40 + modeReply.size());
             EXPECT_FALSE(t.raw.left(40).contains('\x02'));
         }},
        {"split into single bytes", "split 00 10",
         [&](Conversation& t) {
             QElapsedTimer e;
             e.start();
             EXPECT_EQ(Hex(t.Ask(modeGet)), Hex(modeReply));
             EXPECT_GE(e.elapsed(), 10 * (modeReply.size() - 1) - 5);
             EXPECT_EQ(t.chunks.front().size(), 1);
         }},
        {"notification in the same write as the answer", "with-note 00 44 4F 4B times 1",
         [&](Conversation& t) {
             ASSERT_EQ(Hex(t.Ask(modeGet)), Hex(modeReply));
             ASSERT_TRUE(t.WaitFrames(2, 1000));
             EXPECT_EQ(Hex(t.frames[1]), Hex(Reply(0x44, "OK")));
             EXPECT_EQ(Hex(t.chunks.front()), Hex(modeReply + Reply(0x44, "OK")));
             t.Clear();
             EXPECT_EQ(Hex(t.Ask(modeGet)), Hex(modeReply));
             EXPECT_FALSE(t.WaitFrames(2, 150));
         }},
        {"late acknowledgement", "late 00 400",
         [&](Conversation& t) {
             QElapsedTimer e;
             e.start();
             EXPECT_TRUE(t.Ask(modeGet, 200).isEmpty());
             ASSERT_TRUE(t.WaitFrames(1, 3000));
             EXPECT_GE(e.elapsed(), 390);
             EXPECT_EQ(Hex(t.frames[0]), Hex(modeReply));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess one;
        const QString line = one.Start({"--fault", c.directive});
        ASSERT_TRUE(line.startsWith(QLatin1String("PTY "))) << one.Stderr().toStdString();
        PtyPeer peer(line.mid(4));
        Conversation t(peer);
        c.check(t);
        EXPECT_TRUE(one.Stop());
    }
}

TEST_F(SimTest, AnswersOnlyOnceUsbModeIsSet)
{
    StartPty({"--mode", "0x0003", "--fault", "usb-only"});
    EXPECT_TRUE(talk->Ask(Request({0x00}), 200).isEmpty());
    EXPECT_TRUE(talk->Ask(Request({0x90}), 200).isEmpty());
    EXPECT_TRUE(talk->Ask(Request({0x01, 0x02, 0x00}), 200).isEmpty());     // not USB mode
    EXPECT_EQ(Hex(talk->Ask(Request({0x01, 0x08, 0x00}))), Hex(Ack("01"))); // bits 0..2 are 0
    EXPECT_EQ(Hex(talk->Ask(Request({0x00}))), Hex(Ack("00 08 00 00 00")));
    // Back to another mode: that request is still answered, the next ones are not.
    EXPECT_EQ(Hex(talk->Ask(Request({0x01, 0x03, 0x00}))), Hex(Ack("01")));
    EXPECT_TRUE(talk->Ask(Request({0x00}), 200).isEmpty());
}

TEST_F(SimTest, PtyLinkDropGoesQuietButKeepsRecording)
{
    QTemporaryDir dir;
    const QString record = dir.filePath("r.txt");
    StartPty({"--fault", "drop after 1", "--record", record});
    EXPECT_FALSE(talk->Ask(Request({0x00})).isEmpty());
    EXPECT_TRUE(talk->Ask(Request({0x90}), 250).isEmpty());
    EXPECT_EQ(ReadFile(record).count('\n'), 2);
}

TEST_F(SimTest, ScenarioFileSendsNotificationsInOrder)
{
    QTemporaryDir dir;
    const QString scenario = dir.filePath("notify.txt");
    QFile f(scenario);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("# notifications on cue\n"
            "\n"
            "message hello board after 40\n"
            "send 6C 08 02 E2 00 01 AA 00 after 80   # protocol notification\n"
            "send 49 0102030405060708 after 120\n"
            "send 47 - after 160\n");
    f.close();
    StartPty({"--scenario", scenario});
    ASSERT_TRUE(talk->WaitFrames(4, 3000));
    EXPECT_EQ(Hex(talk->frames[0]), Hex(Reply(0x45, "Mhello board")));
    EXPECT_EQ(Hex(talk->frames[1]), Hex(Reply(0x6C, FromHex("08 02 E2 00 01 AA 00"))));
    EXPECT_EQ(Hex(talk->frames[2]), Hex(Reply(0x49, FromHex("0102030405060708"))));
    EXPECT_EQ(Hex(talk->frames[3]), Hex(Reply(0x47, {})));
}

TEST(SimOptions, RefusesABadDirectiveAndEndsOnTime)
{
    SimProcess bad;
    bad.Start({"--fault", "frobnicate 00"});
    ASSERT_TRUE(bad.process().state() == QProcess::NotRunning || bad.process().waitForFinished(5000));
    EXPECT_EQ(bad.process().exitCode(), 2);
    EXPECT_TRUE(bad.Stderr().contains("frobnicate"));

    SimProcess timed;
    QElapsedTimer e;
    e.start();
    EXPECT_TRUE(timed.Start({"--exit-after-ms", "150"}).startsWith("PTY "));
    ASSERT_TRUE(timed.process().state() == QProcess::NotRunning || timed.process().waitForFinished(5000));
    EXPECT_GE(e.elapsed(), 140);
    EXPECT_EQ(timed.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(timed.process().exitCode(), 0);
}

struct PinCase {
    const char* name;
    const char* before; // nullptr: no file yet
    const char* after;  // with %1 for the pseudo-terminal's path
};

TEST(SimPin, WritesThePortMapEntryAndKeepsTheRest)
{
    const PinCase cases[] = {
        {"replaces the entry, any case",
         "[Option]\r\nComPort=9\r\n\r\n[portmap]\r\nCOM3=/dev/ttyX\r\ncom9=/dev/old\r\n\r\n"
         "[ComDebug]\r\nIDNo=0\r\n",
         "[Option]\r\nComPort=9\r\n\r\n[portmap]\r\nCOM3=/dev/"
         "ttyX\r\nCOM9=%1\r\n\r\n[ComDebug]\r\nIDNo=0\r\n"},
        {"adds to the end of the section", "[PortMap]\r\nCOM3=/dev/ttyX\r\n\r\n[Option]\r\nA=1\r\n",
         "[PortMap]\r\nCOM3=/dev/ttyX\r\nCOM9=%1\r\n\r\n[Option]\r\nA=1\r\n"},
        {"adds the section, keeps LF lines", "[Option]\nA=1", "[Option]\nA=1\n[PortMap]\nCOM9=%1\n"},
        {"creates the file", nullptr, "[PortMap]\r\nCOM9=%1\r\n"},
    };
    for (const PinCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString ini = dir.filePath("Orvanta/tool.ini");
        QDir().mkpath(dir.filePath("Orvanta"));
        if (c.before) {
            QFile f(ini);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.before);
        }
        SimProcess sim;
        const QString line = sim.Start({"--pin", ini, "--com", "9"});
        ASSERT_TRUE(line.startsWith("PTY /")) << sim.Stderr().toStdString();
        EXPECT_EQ(QString::fromLatin1(ReadFile(ini)), QString::fromLatin1(c.after).arg(line.mid(4)));
        EXPECT_TRUE(sim.Stop());
    }
}

TEST(SimTcp, ServerKeepsStateAcrossConnectionsAndDropsOnCue)
{
    SimProcess sim;
    const QString line = sim.Start({"--tcp-server", "0", "--fault", "drop after 3 for 400"});
    ASSERT_TRUE(line.startsWith("TCP ")) << sim.Stderr().toStdString();
    const quint16 port = line.mid(4).toUShort();
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(s.waitForConnected(2000));
        SocketPeer peer(&s);
        Conversation t(peer);
        EXPECT_EQ(Hex(t.Ask(Request({0x01, 0x00, 0x00}))), Hex(Ack("01")));
        s.disconnectFromHost();
    }
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(s.waitForConnected(2000));
    SocketPeer peer(&s);
    Conversation t(peer);
    EXPECT_EQ(Hex(t.Ask(Request({0x00}))), Hex(Ack("00 00 00 00 00")));
    // The third request is answered, then the board closes the connection and stops listening.
    EXPECT_EQ(Hex(t.Ask(Request({0x01, 0x05, 0x00}))), Hex(Ack("01")));
    EXPECT_TRUE(s.state() == QAbstractSocket::UnconnectedState || s.waitForDisconnected(2000));
    QTcpSocket refused;
    refused.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_FALSE(refused.waitForConnected(150));

    // It listens again once the drop time is over.
    QTcpSocket again;
    QElapsedTimer sinceDrop;
    sinceDrop.start();
    for (;;) {
        again.connectToHost(QHostAddress::LocalHost, port);
        if (again.waitForConnected(2000) || sinceDrop.elapsed() > 3000)
            break;
        again.abort();
        QThread::msleep(50);
    }
    ASSERT_EQ(again.state(), QAbstractSocket::ConnectedState);
    EXPECT_GE(sinceDrop.elapsed(), 200);
    SocketPeer peer2(&again);
    Conversation t2(peer2);
    EXPECT_EQ(Hex(t2.Ask(Request({0x00}))), Hex(Ack("00 05 00 00 00")));
    EXPECT_TRUE(sim.Stop());
}

// A restart closes the TCP connection once its ACK is out, as a rebooting board does; new
// connections are refused until the restart time is over.
TEST(SimTcp, RestartClosesTheConnectionUntilTheBoardIsBack)
{
    SimProcess sim;
    const QString line = sim.Start({"--tcp-server", "0", "--restart-ms", "400"});
    ASSERT_TRUE(line.startsWith("TCP ")) << sim.Stderr().toStdString();
    const quint16 port = line.mid(4).toUShort();
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(s.waitForConnected(2000));
    SocketPeer peer(&s);
    Conversation t(peer);
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    EXPECT_EQ(Hex(t.Ask(Request({0x0A}))), Hex(Ack("0A")));
    EXPECT_TRUE(s.state() == QAbstractSocket::UnconnectedState || s.waitForDisconnected(2000));
    QTcpSocket early;
    early.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_FALSE(early.waitForConnected(100));

    QTcpSocket again;
    for (;;) {
        again.connectToHost(QHostAddress::LocalHost, port);
        if (again.waitForConnected(2000) || sinceRestart.elapsed() > 3000)
            break;
        again.abort();
        QThread::msleep(50);
    }
    ASSERT_EQ(again.state(), QAbstractSocket::ConnectedState);
    EXPECT_GE(sinceRestart.elapsed(), 380);
    SocketPeer peer2(&again);
    Conversation t2(peer2);
    EXPECT_EQ(Byte(t2.Ask(Request({0x00})), 2), 0x30);
    EXPECT_TRUE(sim.Stop());
}

TEST(SimTcp, ClientRetriesUntilTheToolListens)
{
    quint16 port = 0;
    {
        QTcpServer probe; // a free port, closed again so the first attempts are refused
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    SimProcess sim;
    sim.Start({"--tcp-client", QStringLiteral("127.0.0.1:%1").arg(port), "--fault",
               "send 62 03 05 30 14 09 12 03 24 after 50", "--fault", "split 90 2"},
              false);
    QThread::msleep(400);
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
    ASSERT_TRUE(server.waitForNewConnection(3000));
    QTcpSocket* s = server.nextPendingConnection();
    SocketPeer peer(s);
    Conversation t(peer);
    ASSERT_TRUE(t.WaitFrames(1, 2000));
    EXPECT_EQ(Hex(t.frames[0]), Hex(Reply(0x62, FromHex("03 05 30 14 09 12 03 24"))));
    EXPECT_EQ(Hex(t.Ask(Request({0x90}))), Hex(Reply(0x30, "\x90"
                                                           "3030KMT27")));
    EXPECT_TRUE(sim.Stop());
}

// Faults appended to the control file while the simulator runs shape the answers from the next
// request on, counting their times from then; a half-written line waits for its newline, and a
// directive that cannot be added while running is refused on standard error.
TEST_F(SimTest, ControlFileAddsAnswerFaultsWhileRunning)
{
    QTemporaryDir dir;
    const QString control = dir.filePath("control.txt");
    StartPty({"--control", control});
    auto append = [&](const QByteArray& text) {
        QFile f(control);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append));
        f.write(text);
    };
    const QByteArray id = Ack("05 00 00 00 00 34 12");
    EXPECT_EQ(Hex(talk->Ask(Request({0x05}))), Hex(id));
    append("silent 05 times 2\nnack 9");
    EXPECT_EQ(Hex(talk->Ask(Request({0x05}), 300)), QString());
    EXPECT_EQ(Hex(talk->Ask(Request({0x05}), 300)), QString());
    EXPECT_EQ(Hex(talk->Ask(Request({0x05}))), Hex(id));
    // The rest of the line arrives: refusing the ROM version from now on.
    append("0 44\nsend 44 4F 4B\n");
    EXPECT_EQ(Hex(talk->Ask(Request({0x90}))), Hex(Reply(0x31, FromHex("44 00"))));
    EXPECT_EQ(Hex(talk->Ask(Request({0x05}))), Hex(id));
    EXPECT_TRUE(sim.Stop());
    EXPECT_TRUE(sim.Stderr().contains(QStringLiteral("--control"))) << sim.Stderr().toStdString();
}

} // namespace
