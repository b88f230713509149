// Why a write failed, headless end to end: the cause and action on standard output and in the
// result dialog, the network check before the uploader, the run's log file and the support zip,
// neither of which may hold a password.
#include "e2e/e2e_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace nx7::e2e
{
namespace
{

const QStringList kPasswords{"KW5GDH4072", "MervoxTqLu", "simpass01"};

class DiagnosticsE2E : public ::testing::Test
{
protected:
    // The board's access point is 192.168.0.1; `uploaderOutput` is what the stand-in prints.
    RunResult Write(const QString& uploaderOutput, int uploaderExit, const QStringList& env,
                    const QStringList& simExtra = {})
    {
        EXPECT_TRUE(folder.ok());
        const QString uploader =
            WriteStandInUploader(folder.Dir(), argsFile, uploaderOutput, 0.1, uploaderExit);
        folder.AppendIni(QStringLiteral("[Option]\nComPort=9\nCHK_IFB_TIME=1200\nCONECT_WAIT_TIME=1500\n"
                                        "Prog_WAIT_TIME=3000\nApp_ESPOta=%1\n")
                             .arg(uploader));
        const QStringList simArgs{"--restart-ms", "60",      "--mode",      "0x0105",    "--rom-version",
                                  "3020KMT27",    "--ap-ip", "192.168.0.1", "--ap-name", "IFB-AP-7"};
        EXPECT_TRUE(
            sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")), simArgs + simExtra));
        return folder.Run({"--headless", "--write", "--yes"}, 60000,
                          QStringList{"NX7IFBPROG_TIME_SCALE=4"} + env);
    }

    QStringList UploaderArgs() const
    {
        QFile f(argsFile);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The "原因: " line of the output (the last one) and the line after it.
    static QStringList Why(const QStringList& out)
    {
        for (qsizetype i = out.size() - 2; i >= 0; --i) {
            if (out.at(i).startsWith(QStringLiteral("原因: ")))
                return {out.at(i), out.at(i + 1)};
        }
        return {};
    }

    QString LogText() const
    {
        const QDir logs(folder.Path(QStringLiteral("Orvanta/log")));
        const QStringList files = logs.entryList({QStringLiteral("nx7ifbprog-*.log")}, QDir::Files);
        EXPECT_EQ(files.size(), 1) << qPrintable(files.join(' '));
        if (files.isEmpty())
            return {};
        QFile f(logs.filePath(files.first()));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return QString::fromUtf8(f.readAll());
    }

    ToolFolder folder;
    Simulator sim;
    const QString argsFile = folder.Path(QStringLiteral("args.txt"));
};

TEST_F(DiagnosticsE2E, RefusedPasswordIsNamedBesideTheOldAdviceAndKeptInTheLogWithoutPasswords)
{
    const RunResult r = Write(
        QStringLiteral("Sending invitation to 192.168.0.1 \n"
                       "Authenticating (MD5 protocol)...FAIL\n"
                       "14:01:00 [ERROR]: Authentication Failed: Authentication Failed"),
        1,
        {"NX7IFBPROG_NETWORK=wlan0=192.168.0.10/24", "NX7IFBPROG_ADAPTERS=Wi-Fi=169.254.7.9;eth0=10.1.2.3"});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    const QString out = r.out.join(QLatin1Char('\n'));
    EXPECT_TRUE(r.out.contains(QStringLiteral("PC側IPアドレスの自動割付に失敗しました。")))
        << qPrintable(out);
    const QStringList why = Why(r.out);
    ASSERT_EQ(why.size(), 2) << qPrintable(out);
    EXPECT_TRUE(why.at(0).contains(QStringLiteral("アップロード用パスワード"))) << qPrintable(why.at(0));
    EXPECT_TRUE(why.at(1).startsWith(QStringLiteral("対処: ")));
    // The result dialog: the fixed text, then the same lines.
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("[書き込み結果] "
                       "NG\nespotaでエラーが発生しました。\n\n接続製品とソフトを再起動してください。\n\n") +
        why.join(QLatin1Char('\n'))))
        << qPrintable(r.err);
    // The write question showed what would change.
    EXPECT_TRUE(r.err.contains(QStringLiteral("Version   : 3020KMT27 → 3030KMT27"))) << qPrintable(r.err);

    // The run's log: pane lines, dialogs, the uploader's own output; passwords masked.
    const QString log = LogText();
    EXPECT_TRUE(log.contains(why.at(0)));
    EXPECT_TRUE(log.contains(QStringLiteral("[dialog] OTA経由のアップデート開始")));
    EXPECT_TRUE(log.contains(QStringLiteral("[uploader] 14:01:00 [ERROR]: Authentication Failed")));
    EXPECT_TRUE(log.contains(QStringLiteral("Password  : ***")));
    for (const QString& p : kPasswords)
        EXPECT_FALSE(log.contains(p)) << qPrintable(p);

    // The support zip of the same folder: the log and the settings inside, no password anywhere.
    const QString zip = folder.Path(QStringLiteral("support.zip"));
    const RunResult b = folder.Run({"--support-bundle", zip}, 30000);
    ASSERT_TRUE(b.finished);
    EXPECT_EQ(b.exitCode, 0) << qPrintable(b.err);
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), zip});
    ASSERT_TRUE(unzip.waitForFinished(20000));
    const QString content = QString::fromUtf8(unzip.readAllStandardOutput());
    EXPECT_TRUE(content.contains(why.at(0)));
    EXPECT_TRUE(content.contains(QStringLiteral("App_ESPOta=")));
    for (const QString& p : kPasswords)
        EXPECT_FALSE(content.contains(p)) << qPrintable(p);
}

TEST_F(DiagnosticsE2E, FailedNetworkCheckIsSaidAndYesGoesOnWithTheHostPortPinned)
{
    const RunResult r = Write(QStringLiteral("Uploading: 100%"), 0,
                              {"NX7IFBPROG_NETWORK=eth0=10.0.0.5/24;firewall=ufw"}, {"--ota-result", "none"});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    const qsizetype at = r.err.indexOf(QStringLiteral("[ネットワークの確認] "));
    ASSERT_GE(at, 0) << qPrintable(r.err);
    const QString ask = r.err.mid(at);
    EXPECT_TRUE(ask.contains(QStringLiteral("原因: ")) &&
                ask.contains(QStringLiteral("sudo ufw allow 3233/tcp")))
        << qPrintable(ask);
    // No address of the PC on the board's network to pin; the host port is.
    EXPECT_EQ(UploaderArgs().mid(0, 6), (QStringList{"-i", "192.168.0.1", "-p", "3232", "-P", "3233"}));
    // The board gave no verdict: said with the time waited.
    const QStringList why = Why(r.out);
    ASSERT_EQ(why.size(), 2) << qPrintable(r.out.join('\n'));
    EXPECT_TRUE(r.out.indexOf(QStringLiteral("NG: Time Over")) < r.out.indexOf(why.at(0)));
}

// Passwords turn up where nothing labels them (an uploader that echoes what it was given, a line
// of its own): the run's log masks them wherever they stand, by value.
TEST_F(DiagnosticsE2E, TheRunsLogMasksPasswordsThatNothingLabels)
{
    const RunResult r = Write(QStringLiteral("Sending invitation to 192.168.0.1 \n"
                                             "debug: KW5GDH4072 / MervoxTqLu\n"
                                             "simpass01\n"
                                             "14:01:00 [ERROR]: No response from the ESP"),
                              1, {"NX7IFBPROG_NETWORK=wlan0=192.168.0.10/24"});
    ASSERT_TRUE(r.finished);
    const QString log = LogText();
    // The lines are there, the passwords are not.
    EXPECT_TRUE(log.contains(QStringLiteral("[uploader] debug: "))) << qPrintable(log);
    EXPECT_TRUE(log.contains(QStringLiteral("No response from the ESP")));
    for (const QString& p : kPasswords)
        EXPECT_FALSE(log.contains(p)) << qPrintable(p) << "\n" << qPrintable(log);
}

} // namespace
} // namespace nx7::e2e
