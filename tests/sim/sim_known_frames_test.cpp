// The simulator's answers to requests written out by hand, compared byte for byte with replies
// written out by hand: no codec on this side, so a fault the simulator shares with the tool shows.
#include "sim_harness.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace simtest;

namespace
{

// What arrives within `waitMs`, read until `size` bytes are in (or the time is up), plus whatever
// follows within a short grace so that extra bytes show too.
QByteArray ReadReply(Peer& peer, qsizetype size, int waitMs = 1000)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < size && t.elapsed() < waitMs)
        got += peer.Read(50);
    got += peer.Read(30);
    return got;
}

TEST(SimKnownFrames, AnswersEveryRequestWithTheKnownBytes)
{
    // A board whose every answer is short enough to write out.
    const QStringList board{
        "--mode=0x0105",       "--rom-version=3030KMT27",
        "--model=PB-RL11",     "--target-id=0x1234",
        "--ssid=Net1",         "--wifi-password=pw",
        "--ap-ip=192.168.4.1", "--ap-port=3417",
        "--ap-name=AP",        "--net-params=60 FFFFFF00 070D C0A80401 192A C0A8010A 44332211 88776655"};
    SimProcess sim;
    const QString line = sim.Start(QStringList{"--pty", "--restart-ms=0", "--ota-result=none"} + board);
    ASSERT_TRUE(line.startsWith(QLatin1String("PTY /"))) << line.toStdString() << sim.Stderr().toStdString();
    PtyPeer pty(line.mid(4));
    ASSERT_TRUE(pty.ok());

    const struct {
        const char* name;
        const char* request;
        const char* reply;
    } cases[] = {
        {"mode word", "02 00 45 01 00 03 4B 0D", "02 00 30 05 00 05 01 00 00 03 40 0D"},
        {"rom version", "02 00 45 01 90 03 DB 0D", "02 00 30 0A 90 33 30 33 30 4B 4D 54 32 37 03 EA 0D"},
        {"model name", "02 00 45 01 93 03 DE 0D", "02 00 30 08 93 50 42 2D 52 4C 31 31 03 8F 0D"},
        {"target id", "02 00 45 01 05 03 50 0D", "02 00 30 07 05 00 00 00 00 34 12 03 87 0D"},
        {"wifi name", "02 00 45 02 03 02 03 51 0D", "02 00 30 06 03 02 4E 65 74 31 03 98 0D"},
        {"wifi password", "02 00 45 02 03 03 03 52 0D", "02 00 30 04 03 03 70 77 03 26 0D"},
        {"network block", "02 00 45 02 03 04 03 53 0D",
         "02 00 30 1B 03 04 60 FF FF FF 00 07 0D C0 A8 04 01 19 2A C0 A8 01 0A 44 33 22 11 88 77 66 55 03 4F "
         "0D"},
        // Address as a little-endian number whose top byte is the first dotted number.
        {"access point", "02 00 45 02 03 71 03 C0 0D", "02 00 30 0A 03 71 01 04 A8 C0 59 0D 41 50 03 17 0D"},
        {"set wifi name", "02 00 45 04 04 02 41 42 03 D7 0D", "02 00 30 02 04 02 03 3D 0D"},
        {"set wifi password", "02 00 45 03 04 03 78 03 CC 0D", "02 00 30 02 04 03 03 3E 0D"},
        {"set network block",
         "02 00 45 1B 04 04 60 FF FF FF 00 07 0D C0 A8 04 01 19 2A C0 A8 01 0A 44 33 22 11 88 77 66 55 03 65 "
         "0D",
         "02 00 30 02 04 04 03 3F 0D"},
        {"set mode word", "02 00 45 03 01 05 01 03 54 0D", "02 00 30 01 01 03 37 0D"},
        {"ota mode", "02 00 45 03 0B 02 01 03 5B 0D", "02 00 30 01 0B 03 41 0D"},
        // In OTA mode: the value sent, a joined station at frame byte 7, port, address in dotted order.
        {"ota status", "02 00 45 01 00 03 4B 0D", "02 00 30 0B 00 02 00 01 01 59 0D C0 A8 04 01 03 17 0D"},
        {"restart", "02 00 45 01 0A 03 55 0D", "02 00 30 01 0A 03 40 0D"},
        {"unknown sub-code", "02 00 45 01 77 03 C2 0D", "02 00 31 02 44 00 03 7C 0D"},
        {"wrong length", "02 00 45 02 01 00 03 4D 0D", "02 00 31 02 41 00 03 79 0D"},
        {"wrong checksum", "02 00 45 01 90 03 DC 0D", "02 00 31 02 42 00 03 7A 0D"},
    };
    for (const auto& c : cases) {
        const QByteArray reply = FromHex(c.reply);
        ASSERT_TRUE(pty.Write(FromHex(c.request))) << c.name;
        EXPECT_EQ(Hex(ReadReply(pty, reply.size())).toStdString(), Hex(reply).toStdString()) << c.name;
    }
}

} // namespace
