// Start and close of the real tool, headless, against ifb-sim over a pseudo-terminal: the exact
// requests the board received, in order, and what the person was told.
#include "e2e/e2e_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <csignal>
#include <gtest/gtest.h>

namespace nx7::e2e
{
namespace
{

// Fixed waits of the protocol (1000 ms pauses, 2000 ms replies) run four times faster here; the
// simulated restart is short enough for that.
const QStringList kFastClock{QStringLiteral("NX7IFBPROG_TIME_SCALE=4")};

class StartupE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.ok());
        uploader = WriteStandInUploader(folder.Dir(), folder.Path(QStringLiteral("args.txt")), QString());
    }
    // Writes section Option (plus `options`, one "key=value" line each) and starts the simulator.
    void StartSim(const QStringList& extra)
    {
        if (!options.contains(QStringLiteral("App_ESPOta")))
            options += QStringLiteral("App_ESPOta=%1\n").arg(uploader);
        if (!options.contains(QStringLiteral("CHK_IFB_TIME")))
            options += QStringLiteral("CHK_IFB_TIME=1200\n");
        folder.AppendIni(QStringLiteral("[Option]\nComPort=9\n") + options);
        QStringList args{QStringLiteral("--restart-ms"),  QStringLiteral("60"),
                         QStringLiteral("--mode"),        QStringLiteral("0x0105"),
                         QStringLiteral("--rom-version"), QStringLiteral("3020KMT27"),
                         QStringLiteral("--model"),       QStringLiteral("PB-RL11 IFB"),
                         QStringLiteral("--target-id"),   QStringLiteral("0x1234")};
        ASSERT_TRUE(sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")), args + extra))
            << qPrintable(sim.Stderr());
    }
    RunResult Run(const QStringList& args)
    {
        return folder.Run(QStringList{QStringLiteral("--headless")} + args, 60000, kFastClock);
    }

    ToolFolder folder;
    Simulator sim;
    QString uploader;
    QString options;
};

// After its restart the board is asked for its mode until it answers, before the reads go on.
const QStringList kNormalCheck{"GetMode",         "ModeSet(0000)", "Restart",    "GetMode",   "GetWifiSsid",
                               "GetWifiPassword", "GetNetParams",  "RomVersion", "ModelName", "TargetId"};

TEST_F(StartupE2E, NormalStartAndCloseRestoresTheModeWord)
{
    StartSim({});
    const RunResult r = Run({QStringLiteral("--verbose")});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.err);
    EXPECT_EQ(sim.Requests(), kNormalCheck + QStringList({"ModeSet(0105)", "Restart"}));
    EXPECT_TRUE(r.out.contains(QStringLiteral("OK: GetIFBMode")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("Find NX7 IFB")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("COM Port : COM9")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("IFB-ROMVer : 3020KMT27")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("IFB-ModelName : PB-RL11 IFB")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("ID : 1234")));
    EXPECT_TRUE(folder.ReadIni().contains(QStringLiteral("OldDousaMode=5")));
    EXPECT_TRUE(folder.ReadIni().contains(QStringLiteral("fNoVerCheck=0")));
}

TEST_F(StartupE2E, WithoutVerboseOnlyForcedLinesAreWritten)
{
    StartSim({});
    const RunResult r = Run({});
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.err);
    EXPECT_EQ(r.out, (QStringList{"IFB-ROMVer : 3020KMT27", "IFB-ModelName : PB-RL11 IFB", "ID : 1234"}));
}

TEST_F(StartupE2E, UsbChangeZeroRestartsTwiceInsteadOfSettingTheMode)
{
    options = QStringLiteral("USBchange=0\n");
    StartSim({});
    const RunResult r = Run({});
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.err);
    const QStringList requests = sim.Requests();
    ASSERT_GE(requests.size(), 3);
    EXPECT_EQ(requests.mid(0, 3), (QStringList{"GetMode", "Restart", "Restart"}));
    EXPECT_FALSE(requests.mid(0, requests.size() - 2).contains(QStringLiteral("ModeSet(0000)")));
}

TEST_F(StartupE2E, BoardThatAnswersOnlyInUsbModeIsReachedThroughTheUsbRoute)
{
    options = QStringLiteral("USBWait_Mode=0\n");
    StartSim({QStringLiteral("--fault"), QStringLiteral("usb-only")});
    const RunResult r = Run({QStringLiteral("--yes"), QStringLiteral("--verbose")});
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains(QStringLiteral("[USBモードでの実行] I/Fボードに接続できませんでした。")));
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("[動作モードの再設定] 動作モードが「USBモード」に切り替わっています。")));
    const QStringList requests = sim.Requests();
    // First check: two unanswered mode reads and, with USBWait_Mode 0, a restart. Then the USB
    // route: mode 0 set at once; at exit only a restart, the board stays in USB mode.
    ASSERT_GE(requests.size(), 5);
    EXPECT_EQ(requests.mid(0, 4), (QStringList{"GetMode", "GetMode", "Restart", "ModeSet(0000)"}));
    EXPECT_EQ(requests.last(), QStringLiteral("Restart"));
    EXPECT_EQ(requests.count(QStringLiteral("ModeSet(0000)")), 1);
    EXPECT_TRUE(folder.ReadIni().contains(QStringLiteral("OldDousaMode=0")));
}

TEST_F(StartupE2E, SilentBoardAndNoToTheOfferEndsWithTheConnectionMessage)
{
    StartSim({QStringLiteral("--fault"), QStringLiteral("silent")});
    const RunResult r = Run({QStringLiteral("--no")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("[USBモードでの実行]")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("[エラー] I/Fボードの接続を確認できませんでした。")));
    // The mode word was never read: the exit leaves the mode alone and says why.
    EXPECT_EQ(sim.Requests(), (QStringList{"GetMode", "GetMode"}));
    EXPECT_TRUE(
        r.out.contains(QStringLiteral("動作モードを読み取れなかったため、動作モードは変更しません。")));
}

struct Refusal {
    const char* name;
    QStringList simArgs;
    QString message;
    QStringList check; // requests of the check as far as it went
};

class RefusalE2E : public StartupE2E, public ::testing::WithParamInterface<Refusal>
{
};

TEST_P(RefusalE2E, RefusedBoardStillGetsItsModeBack)
{
    StartSim(GetParam().simArgs);
    const RunResult r = Run({});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(GetParam().message)) << qPrintable(r.err);
    EXPECT_EQ(sim.Requests(), GetParam().check + QStringList({"ModeSet(0105)", "Restart"}));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusalE2E,
    ::testing::Values(
        Refusal{"RomVersion",
                {"--rom-version", "3030ABC27"},
                "[エラー] 対応外のI/Fボードです。\n\nお使いのI/Fボード対応のツールをお使いください。",
                kNormalCheck.mid(0, 8)},
        Refusal{"Model", {"--model", "PB-RL12"}, "[エラー] 対応外のI/Fボードです。", kNormalCheck.mid(0, 9)},
        Refusal{"TargetId",
                {"--fault", "silent 05"},
                "[エラー] ファームウェアの異常を検出しました。",
                kNormalCheck}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(StartupE2E, MissingUploaderAndCancelledSelectionCloses)
{
    options = QStringLiteral("App_ESPOta=%1\n").arg(folder.Path(QStringLiteral("nowhere/espota")));
    StartSim({});
    const RunResult r = Run({});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("[OTA書換ツールの選択]")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("[ファームウェア書き込みの中止]")));
    EXPECT_EQ(sim.Requests(), kNormalCheck + QStringList({"ModeSet(0105)", "Restart"}));
}

TEST_F(StartupE2E, CancelInThePortDialogCreatesNoEngineAndSavesTheSettings)
{
    StartSim({});
    const RunResult r = Run({QStringLiteral("--port"), QStringLiteral("COM200")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("[シリアルポートのオープン]")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("[エラー] I/Fボードの接続を確認できませんでした。")));
    EXPECT_TRUE(sim.Requests().isEmpty());
    EXPECT_TRUE(folder.ReadIni().contains(QStringLiteral("USBchange=1")));
}

// The settings file as a headless run leaves it.
TEST(SettingsE2E, FreshRunWritesExactlyTheSavedKeysInTheirOrder)
{
    ToolFolder folder;
    ASSERT_TRUE(folder.ok());
    ASSERT_TRUE(QFile::remove(folder.Ini()) || !QFile::exists(folder.Ini()));
    const RunResult r =
        folder.Run({QStringLiteral("--headless"), QStringLiteral("--port"), QStringLiteral("COM200")});
    EXPECT_EQ(r.exitCode, 1);
    const QStringList expected{"[Option]",
                               "ComPort=1",
                               "ComSpeed=4",
                               "Parity=0",
                               "UseUSB=0",
                               "TCPPort=3335",
                               "fTCPServer=1",
                               "TCPServPort=10777",
                               "TCPServAddr=192.168.0.10",
                               "fNoVerCheck=1",
                               "SPISpeed=1",
                               "SPIMode=1",
                               "ProgMode=0",
                               "UploadSpeed=5",
                               "App_ESPOta=",
                               "ProgAddr1=65536",
                               "ProgAddr2=32768",
                               "SpiffSOffset=0",
                               "CONECT_WAIT_TIME=15000",
                               "Prog_WAIT_TIME=60000",
                               "fBoot=0",
                               "CHK_IFB_TIME=10000",
                               "OldDousaMode=0",
                               "SelectModel=1",
                               "binPath_Mode=1",
                               "USBWait_Mode=1",
                               "USBchange=1"};
    QStringList lines =
        folder.ReadIni().split(QRegularExpression(QStringLiteral("\r?\n")), Qt::SkipEmptyParts);
    EXPECT_EQ(lines, expected);
}

TEST(SettingsE2E, ReadOnlySettingsFileIsReportedAndLeftUnchanged)
{
    ToolFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.AppendIni(
        QStringLiteral("; kept\r\n[Option]\r\nComPort=0x3\r\nProgAddr1=0x20000\r\n[Other]\r\nx=1\r\n"));
    const QByteArray before = folder.ReadIni().toUtf8();
    QFile::setPermissions(folder.Ini(),
                          QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    const RunResult r =
        folder.Run({QStringLiteral("--headless"), QStringLiteral("--port"), QStringLiteral("COM200")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral(
        "[例外エラー] iniファイルの生成・更新に失敗しました。\n\nアクセス権限を確認してください。")))
        << qPrintable(r.err);
    EXPECT_EQ(folder.ReadIni().toUtf8(), before);
}

TEST(SettingsE2E, ExistingFileKeepsItsOtherKeysAndSectionsAndGetsDecimalIntegers)
{
    ToolFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.AppendIni(
        QStringLiteral("; kept\r\n[Option]\r\nProgAddr1=0x20000\r\nMyKey=abc\r\nComSpeed=fast\r\n"
                       "App_ESPTool=/opt/esptool\r\n[Other]\r\nx=1\r\n"));
    const RunResult r =
        folder.Run({QStringLiteral("--headless"), QStringLiteral("--port"), QStringLiteral("COM200")});
    EXPECT_EQ(r.exitCode, 1);
    const QString ini = folder.ReadIni();
    EXPECT_TRUE(
        ini.startsWith(QStringLiteral("; kept\r\n[Option]\r\nProgAddr1=131072\r\nMyKey=abc\r\nComSpeed=4\r\n"
                                      "App_ESPTool=/opt/esptool\r\nComPort=1\r\n")))
        << qPrintable(ini);
    EXPECT_TRUE(ini.endsWith(QStringLiteral("USBchange=1\r\n[Other]\r\nx=1\r\n"))) << qPrintable(ini);
}

// The TCP link: the tool waits for its peer before it tests the connection, as a client and as a
// server, and then runs the same check as on a serial line.
class TcpE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.ok());
        uploader = WriteStandInUploader(folder.Dir(), folder.Path(QStringLiteral("args.txt")), QString());
    }
    RunResult Run()
    {
        return folder.Run({QStringLiteral("--headless"), QStringLiteral("--verbose")}, 60000, kFastClock);
    }
    const QStringList board{"--restart-ms", "60", "--mode", "0x0105", "--rom-version", "3020KMT27"};
    ToolFolder folder;
    Simulator sim;
    QString uploader;
};

TEST_F(TcpE2E, ToolAsClientOfTheBoardsServer)
{
    ASSERT_TRUE(sim.StartTcp({"--tcp-server", "0"}, folder.Path(QStringLiteral("record.txt")), board));
    folder.AppendIni(
        QStringLiteral("[Option]\nUseUSB=2\nfTCPServer=0\nTCPServAddr=127.0.0.1\nTCPServPort=%1\n"
                       "CHK_IFB_TIME=1200\nApp_ESPOta=%2\n")
            .arg(sim.tcpPort)
            .arg(uploader));
    const RunResult r = Run();
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.err);
    EXPECT_TRUE(r.out.contains(QStringLiteral("Find NX7 IFB")));
    EXPECT_EQ(sim.Requests(), kNormalCheck + QStringList({"ModeSet(0105)", "Restart"}));
}

TEST_F(TcpE2E, ToolAsServerForTheBoardsClient)
{
    const int port = FreeTcpPort();
    ASSERT_NE(port, 0);
    folder.AppendIni(
        QStringLiteral("[Option]\nUseUSB=2\nfTCPServer=1\nTCPPort=%1\nCHK_IFB_TIME=1200\nApp_ESPOta=%2\n")
            .arg(port)
            .arg(uploader));
    ASSERT_TRUE(sim.StartTcp({"--tcp-client", QStringLiteral("127.0.0.1:%1").arg(port)},
                             folder.Path(QStringLiteral("record.txt")), board));
    const RunResult r = Run();
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.err);
    EXPECT_TRUE(r.out.contains(QStringLiteral("ServerSocket1ClientConnect")));
    EXPECT_EQ(sim.Requests(), kNormalCheck + QStringList({"ModeSet(0105)", "Restart"}));
}

TEST_F(TcpE2E, NoLinkEndsWithPortOpenFailure)
{
    folder.AppendIni(QStringLiteral("[Option]\nUseUSB=1\nApp_ESPOta=%1\n").arg(uploader));
    const RunResult r = Run();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains(QStringLiteral("NG: Port Open")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("[エラー] I/Fボードの接続を確認できませんでした。")));
}

// Ctrl+C during the board check ends its waits at once, without the boxes that would blame the
// board; the close then restores the mode only where it was read.
struct InterruptCase {
    const char* name;
    const char* fault;       // the board falls silent here
    const char* signalAfter; // the request after which the interrupt comes
    bool modeRestored;
};

class StartupInterruptE2E : public StartupE2E, public ::testing::WithParamInterface<InterruptCase>
{
};

TEST_P(StartupInterruptE2E, InterruptCutsTheCheckShort)
{
    const InterruptCase& c = GetParam();
    // Long waits: without the cut the silent board would hold the check for half a minute.
    options = QStringLiteral("CHK_IFB_TIME=60000\n");
    StartSim({QStringLiteral("--fault"), QLatin1String(c.fault)});
    QElapsedTimer t;
    t.start();
    const RunResult r = folder.RunAndSignal(
        {QStringLiteral("--headless")}, kFastClock,
        [this, &c] { return sim.Requests().contains(QLatin1String(c.signalAfter)); }, SIGINT);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 130) << qPrintable(r.err);
    EXPECT_LT(t.elapsed(), 12000);
    EXPECT_TRUE(r.out.contains(QStringLiteral("I/Fボードの確認を中断しました。")))
        << qPrintable(r.out.join('\n'));
    EXPECT_FALSE(r.err.contains(QStringLiteral("I/Fボードの接続を確認できませんでした。")));
    EXPECT_FALSE(r.err.contains(QStringLiteral("[USBモードでの実行]")));
    EXPECT_EQ(sim.Requests().contains(QStringLiteral("ModeSet(0105)")), c.modeRestored)
        << qPrintable(sim.Requests().join(' '));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupInterruptE2E,
    ::testing::Values(InterruptCase{"SilentBoard", "silent", "GetMode", false},
                      InterruptCase{"SilentAfterTheModeRead", "silent 90", "RomVersion", true}),
    [](const ::testing::TestParamInfo<InterruptCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace nx7::e2e
