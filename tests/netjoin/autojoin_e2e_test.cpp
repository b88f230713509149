// The real tool, headless, joins the board's access point by itself: the simulated board over a
// pseudo-terminal, a NetworkManager stand-in on a private bus handed to the test build. No answer
// is given to the join question: a join that comes up is the go-ahead; one that fails leaves the
// manual question, which headless declines without --yes.
#include "e2e/e2e_support.h"
#include "nm_harness.h"

#include <QDBusMessage>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace nx7::e2e
{
namespace
{

const QString kHome = QStringLiteral("/org/freedesktop/NetworkManager/Settings/HomeNet");

struct JoinCase {
    const char* name;
    const char* joinMode; // the stand-in's answer to the join
    int exitCode;
    bool written;
};

// The private bus with the NetworkManager stand-in, a tool folder and a simulated board.
class AutoJoinFixture : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_skip = test::PrivateNetworkManager::StartBus(); }
    static void TearDownTestSuite() { test::PrivateNetworkManager::StopBus(); }
    void SetUp() override
    {
        if (!s_skip.isEmpty())
            GTEST_SKIP() << s_skip.toStdString();
        ASSERT_TRUE(folder.ok());
    }

    inline static QString s_skip;
    test::PrivateNetworkManager nm;
    ToolFolder folder;
    Simulator sim;
};

class AutoJoinE2E : public AutoJoinFixture, public ::testing::WithParamInterface<JoinCase>
{
};

TEST_P(AutoJoinE2E, TheWriteJoinsByItselfAndBringsTheHomeNetworkBack)
{
    const JoinCase& c = GetParam();
    const QString problem = nm.Start(QStringLiteral(R"({"join": "%1"})").arg(QLatin1String(c.joinMode)));
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    ASSERT_EQ(test::PrivateNetworkManager::MockText(QStringLiteral("DeviceConnection")), kHome);

    const QString uploader = WriteStandInUploader(
        folder.Dir(), folder.Path(QStringLiteral("args.txt")),
        QStringLiteral(
            "Sending invitation to 192.168.4.1 \nAuthenticating...OK\n"
            "Uploading: [============================================================] 100% Done..."));
    folder.AppendIni(QStringLiteral("[Option]\nComPort=9\nCHK_IFB_TIME=2000\nCONECT_WAIT_TIME=3000\n"
                                    "Prog_WAIT_TIME=8000\nApp_ESPOta=%1\n")
                         .arg(uploader));
    ASSERT_TRUE(sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")),
                          {QStringLiteral("--restart-ms"), QStringLiteral("60"),
                           QStringLiteral("--rom-version"), QStringLiteral("3020KMT27"),
                           QStringLiteral("--rom-after-update"), QStringLiteral("3030KMT27")}))
        << qPrintable(sim.Stderr());

    const RunResult r = folder.Run(
        {QStringLiteral("--headless"), QStringLiteral("--write")}, 120000,
        {QStringLiteral("NX7IFBPROG_TIME_SCALE=4"), QStringLiteral("NX7IFBPROG_NETWORK=wlan0=192.168.4.2/24"),
         QStringLiteral("NX7IFBPROG_JOIN_BUS=") + test::PrivateNetworkManager::Address()});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, c.exitCode) << qPrintable(r.err);
    // The question says the join is automatic; its progress follows.
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("[OTA経由のアップデート開始] パソコンを以下のWi-Fiアクセスポイント\n"
                                      "に自動で接続しています。")))
        << qPrintable(r.err);
    EXPECT_EQ(r.err.contains(QStringLiteral("自動接続: 接続しました")), c.written);
    EXPECT_EQ(r.err.contains(QStringLiteral("[書き込み結果] OK")), c.written);
    if (!c.written) {
        // The manual question again, with the reason below its lines.
        EXPECT_TRUE(
            r.err.contains(QStringLiteral("パソコンを以下のWi-Fiアクセスポイント\nに接続してください。")));
        EXPECT_TRUE(r.err.contains(QStringLiteral("原因: ")));
    }

    // The board's network and password were asked for, and the home network is back afterwards.
    const QString join = test::PrivateNetworkManager::MockText(QStringLiteral("LastJoin"));
    EXPECT_TRUE(join.contains(QStringLiteral("ssid=IFB-SIM-OTA;"))) << qPrintable(join);
    const QRegularExpressionMatch shown =
        QRegularExpression(QStringLiteral("Password  : (\\S+)")).match(r.err);
    ASSERT_TRUE(shown.hasMatch());
    EXPECT_TRUE(join.contains(QStringLiteral("psk=") + shown.captured(1) + QLatin1Char(';')))
        << qPrintable(join);
    EXPECT_EQ(test::PrivateNetworkManager::MockText(QStringLiteral("DeviceConnection")), kHome);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutoJoinE2E,
    ::testing::Values(JoinCase{"JoinedWithoutAnAnswer", "activate", 0, true},
                      JoinCase{"RefusedFallsBackToTheManualQuestion", "refuse", 1, false}),
    [](const ::testing::TestParamInfo<JoinCase>& info) { return std::string(info.param.name); });

class AutoJoinRetryE2E : public AutoJoinFixture
{
};

// A write retried after a broken transfer joins the access point again (it went down with the
// board's restart); the home network comes back once, when the write is over, not in between.
TEST_F(AutoJoinRetryE2E, ARetriedWriteBringsTheHomeNetworkBackOnceAtTheEnd)
{
    const QString problem = nm.Start();
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    // The first upload breaks off, the second one goes through.
    const QString uploader = folder.Path(QStringLiteral("espota"));
    QFile u(uploader);
    ASSERT_TRUE(u.open(QIODevice::WriteOnly));
    u.write(
        QStringLiteral(
            "#!/bin/sh\nn=$(cat '%1' 2>/dev/null || echo 0)\nn=$((n+1))\necho $n > '%1'\n"
            "echo 'Sending invitation to 192.168.4.1 '\necho 'Authenticating...OK'\n"
            "if [ $n = 1 ]; then\n  echo 'Uploading: [====      ] 45% '\n"
            "  echo '14:01:40 [ERROR]: Error Uploading: timed out'\n  exit 1\nfi\n"
            "echo 'Uploading: [============================================================] 100% Done...'\n")
            .arg(folder.Path(QStringLiteral("runs")))
            .toUtf8());
    u.close();
    u.setPermissions(u.permissions() | QFileDevice::ExeOwner);
    folder.AppendIni(QStringLiteral("[Option]\nComPort=9\nCHK_IFB_TIME=2000\nCONECT_WAIT_TIME=3000\n"
                                    "Prog_WAIT_TIME=8000\nApp_ESPOta=%1\n")
                         .arg(uploader));
    ASSERT_TRUE(sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")),
                          {QStringLiteral("--restart-ms"), QStringLiteral("60"),
                           QStringLiteral("--rom-version"), QStringLiteral("3020KMT27"),
                           QStringLiteral("--rom-after-update"), QStringLiteral("3030KMT27"),
                           QStringLiteral("--ota-result-from-session"), QStringLiteral("2")}))
        << qPrintable(sim.Stderr());

    const RunResult r = folder.Run(
        {QStringLiteral("--headless"), QStringLiteral("--write"), QStringLiteral("--yes")}, 120000,
        {QStringLiteral("NX7IFBPROG_TIME_SCALE=4"), QStringLiteral("NX7IFBPROG_NETWORK=wlan0=192.168.4.2/24"),
         QStringLiteral("NX7IFBPROG_JOIN_BUS=") + test::PrivateNetworkManager::Address()});
    ASSERT_TRUE(r.finished);
    const QString out = r.out.join(QLatin1Char('\n'));
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.err) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("書き込み 2 回目: OK"))) << qPrintable(out);
    EXPECT_EQ(out.count(QStringLiteral("自動接続: 接続しました")), 2) << qPrintable(out);

    const QDBusMessage activations = test::PrivateNetworkManager::Mock(QStringLiteral("Activations"));
    EXPECT_EQ(activations.arguments().value(0).toStringList(), QStringList{kHome});
    EXPECT_EQ(test::PrivateNetworkManager::MockText(QStringLiteral("DeviceConnection")), kHome);
}

} // namespace
} // namespace nx7::e2e
