// The engine as a TCP client against the board simulator over loopback: the board closes the
// connection whenever it restarts, and the next command brings the link back.
#include "comm/board_commands.h"
#include "comm/engine.h"
#include "platform/event_wait.h"
#include "sim_harness.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"
#include "support/wait_until.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace
{

using namespace nx7;
using nx7::test::MemoryLog;
using nx7::test::ScriptedUi;
using nx7::test::WaitUntil;
using simtest::SimProcess;

// Every request the simulator recorded, as hex lines.
QStringList Recorded(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The command sequence of a write and of the close that follows, each restart dropping the
// connection: every command after a restart still reaches the board over a new connection.
TEST(EngineOverSimTcp, ClientComesBackAfterEveryRestart)
{
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("requests.txt"));
    SimProcess sim;
    const QString line =
        sim.Start({"--tcp-server", "0", "--restart-ms", "300", "--mode", "0x0005", "--record", record});
    ASSERT_TRUE(line.startsWith("TCP ")) << sim.Stderr().toStdString();
    const int port = line.mid(4).toInt();

    MemoryLog log;
    ScriptedUi ui;
    TTComXDlg engine(0, 0, port, QStringLiteral("127.0.0.1"), 2, 1, 4, 0, &log, &ui,
                     dir.filePath(QStringLiteral("nx7.ini")));
    QTimer timer1;
    QObject::connect(&timer1, &QTimer::timeout, [&] { engine.AssembleFrames(); });
    timer1.start(50);
    ASSERT_TRUE(WaitUntil([&] { return engine.IsConnected(); }));

    BoardCommands cmd(engine, [&log](const QString& text, bool) { log.AppendLine(text); });
    std::uint16_t saved = 0;
    ASSERT_TRUE(cmd.GetIFBMode(2000, saved));
    EXPECT_EQ(saved, 0x0005);
    ASSERT_TRUE(cmd.SetOtaMode(2, true, 1, {}));
    ASSERT_TRUE(cmd.ESP32_RestartCmd(2000));
    ASSERT_TRUE(WaitUntil([&] { return !engine.IsConnected(); }));

    // After the update: the version check reconnects first.
    QString rom;
    EXPECT_TRUE(cmd.ReadRomVersion(rom));
    EXPECT_EQ(rom, QStringLiteral("3030KMT27"));
    const QString again = QStringLiteral("TCP接続を再確立しました: 127.0.0.1:") + QString::number(port);
    EXPECT_EQ(log.lines.count(again), 1);

    // The close restores the mode read at the start and restarts, over the new connection.
    EXPECT_TRUE(cmd.DousaModeSet(saved, 2000));
    EXPECT_TRUE(cmd.ESP32_RestartCmd(2000));
    ASSERT_TRUE(WaitUntil([&] { return !engine.IsConnected(); }));
    std::uint16_t now = 0;
    EXPECT_TRUE(cmd.GetIFBMode(2000, now));
    EXPECT_EQ(now, 0x0005);
    EXPECT_EQ(log.lines.count(again), 2);

    EXPECT_EQ(Recorded(record), (QStringList{"02 00 45 01 00 03 4B 0D", "02 00 45 03 0B 02 01 03 5B 0D",
                                             "02 00 45 01 0A 03 55 0D", "02 00 45 01 90 03 DB 0D",
                                             "02 00 45 03 01 05 00 03 53 0D", "02 00 45 01 0A 03 55 0D",
                                             "02 00 45 01 00 03 4B 0D"}));
    EXPECT_TRUE(sim.Stop());
}

} // namespace
