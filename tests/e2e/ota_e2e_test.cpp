// The tool's main job end to end: the real executable, the simulated board over a pseudo-terminal,
// the project's own uploader and a real OTA transfer of the built-in image on loopback.
#include "e2e/e2e_support.h"
#include "support/test_data.h"

#include <QFile>
#include <gtest/gtest.h>

namespace nx7::e2e
{
namespace
{

using test::OwnLoopbackAddress;
using test::ReadAll;

class OtaE2E : public ::testing::Test
{
protected:
    void Start(const QStringList& extra)
    {
        ASSERT_TRUE(folder.ok());
        folder.AppendIni(QStringLiteral("[Option]\nComPort=9\nCHK_IFB_TIME=2000\nCONECT_WAIT_TIME=3000\n"
                                        "Prog_WAIT_TIME=30000\nApp_ESPOta=%1\n")
                             .arg(EspotaPath()));
        // An address of its own on loopback, so the fixed uploader port 3232 is free for it.
        const QStringList args{"--restart-ms",  "60",           "--mode",  "0x0003",
                               "--rom-version", "3020KMT27",    "--ap-ip", OwnLoopbackAddress(201),
                               "--ota-service", "--save-image", received};
        ASSERT_TRUE(sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")), args + extra))
            << qPrintable(sim.Stderr());
    }

    ToolFolder folder;
    Simulator sim;
    const QString received = folder.Path(QStringLiteral("received.bin"));
};

TEST_F(OtaE2E, BuiltInImageTravelsByteForByteAndTheBoardReportsTheNewVersion)
{
    Start({});
    const RunResult r = folder.Run({"--headless", "--write", "--yes"}, 120000, {"NX7IFBPROG_TIME_SCALE=2"});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.err) << qPrintable(r.out.join(QLatin1Char('\n')));
    EXPECT_TRUE(r.err.contains(QStringLiteral("[書き込み結果] OK")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("書き込み中 100%")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("IFB-ROMVer : 3030KMT27")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("OK:ファームウェア書き込みが正常に完了しました。")));

    const QByteArray builtIn = ReadAll(QStringLiteral(NX7_EMBEDDED_FIRMWARE));
    ASSERT_GE(builtIn.size(), 1024 * 1024);
    const QByteArray got = ReadAll(received);
    EXPECT_EQ(got.size(), builtIn.size());
    EXPECT_TRUE(got == builtIn) << "the board received another image";
}

TEST_F(OtaE2E, TransferBrokenMidwayIsRetriedOnceAndTheSecondUploadIsWhole)
{
    // The board drops the first transfer a quarter in (and reports BR); the second one is whole.
    Start({"--fault", "ota-drop after 300000 once"});
    const RunResult r = folder.Run({"--headless", "--write", "--yes"}, 120000, {"NX7IFBPROG_TIME_SCALE=2"});
    ASSERT_TRUE(r.finished);
    const QString out = r.out.join(QLatin1Char('\n'));
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.err) << qPrintable(out);
    EXPECT_TRUE(r.err.contains(QStringLiteral("[書き込みの再試行] 書き込みが途中で失敗しました。")));
    EXPECT_TRUE(out.contains(QStringLiteral("書き込み 1 回目: NG（transfer-lost）")));
    EXPECT_TRUE(out.contains(QStringLiteral("書き込み 2 回目: OK")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("[書き込み結果] OK")));
    EXPECT_EQ(sim.Requests().count(QStringLiteral("SetOtaMode(02 01)")), 2)
        << qPrintable(sim.Requests().join(' '));
    EXPECT_TRUE(ReadAll(received) == ReadAll(QStringLiteral(NX7_EMBEDDED_FIRMWARE)));
}

TEST_F(OtaE2E, WrongPasswordOnTheBoardEndsWithTheUploaderError)
{
    Start({"--fault", "ota-wrong-password"});
    const RunResult r = folder.Run({"--headless", "--write", "--yes"}, 120000,
                                   {"NX7IFBPROG_TIME_SCALE=2", "NX7IFBPROG_ADAPTERS=eth0=10.1.2.3"});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    // The uploader's error line: no Wi-Fi address on the board's network, so the runner stops.
    EXPECT_TRUE(r.out.join(QLatin1Char('\n')).contains(QStringLiteral("Authentication Failed")))
        << qPrintable(r.out.join(QLatin1Char('\n')));
    EXPECT_TRUE(r.err.contains(QStringLiteral("[書き込み結果] NG\nespotaでエラーが発生しました。")));
}

// The project's own uploader takes the upload password from its environment: no command line, not
// even the verbose log's, shows it.
TEST_F(OtaE2E, UploadPasswordStaysOffTheCommandLine)
{
    Start({});
    const RunResult r =
        folder.Run({"--headless", "--write", "--yes", "--verbose"}, 120000, {"NX7IFBPROG_TIME_SCALE=2"});
    ASSERT_TRUE(r.finished);
    const QString out = r.out.join(QLatin1Char('\n'));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(out.contains(QStringLiteral(" --auth-env NX7_OTA_PASSWORD -f ")));
    EXPECT_FALSE(out.contains(QStringLiteral("KW5GDH4072")));
    EXPECT_FALSE(out.contains(QStringLiteral("--auth=")));
}

} // namespace
} // namespace nx7::e2e
