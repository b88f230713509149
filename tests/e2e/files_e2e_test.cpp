// The files the real tool leaves, headless against the simulator: a full disk under the settings
// folder destroys nothing, and no password reaches the run's log or the support zip, also with
// --verbose; the zip never replaces a file unless told to.
#include "e2e/e2e_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace nx7::e2e
{
namespace
{

constexpr int kNoSmallDisk = 253;
const QString kWifiPassword = QStringLiteral("StaWifi#77");
const QStringList kPasswords{QStringLiteral("KW5GDH4072"), QStringLiteral("MervoxTqLu"), kWifiPassword};
const QStringList kSimArgs{"--restart-ms",  "60",        "--mode",          "0x0105",
                           "--rom-version", "3020KMT27", "--ap-ip",         "192.168.0.1",
                           "--ap-name",     "IFB-AP-7",  "--wifi-password", kWifiPassword};

QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString Hex(const QString& text)
{
    return QString::fromLatin1(text.toLatin1().toHex(' ').toUpper());
}

class FilesE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.ok());
        const QString uploader = WriteStandInUploader(folder.Dir(), folder.Path(QStringLiteral("args.txt")),
                                                      QStringLiteral("Uploading: 100%"), 0.1, 0);
        folder.AppendIni(
            QStringLiteral("[Option]\r\nComPort=9\r\nCHK_IFB_TIME=1200\r\nCONECT_WAIT_TIME=1500\r\n"
                           "Prog_WAIT_TIME=3000\r\nApp_ESPOta=%1\r\n; kept as it is\r\n")
                .arg(uploader));
        ASSERT_TRUE(sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")), kSimArgs))
            << qPrintable(sim.Stderr());
    }

    // Runs the tool with a tmpfs of 64 KiB on its settings folder, filled up after the settings
    // file was copied in. The settings file and the folder's listing are copied out afterwards.
    RunResult RunOnFullDisk(const QStringList& args)
    {
        const QString seed = folder.Path(QStringLiteral("seed.ini"));
        QFile::remove(seed);
        QFile::copy(folder.Ini(), seed);
        const QString script =
            QStringLiteral("orv=\"$1\"; seed=\"$2\"; out=\"$3\"; shift 3\n"
                           "mount -t tmpfs -o size=64k tmpfs \"$orv\" || exit 253\n"
                           "cp \"$seed\" \"$orv/nx7ifbprog.ini\" || exit 252\n"
                           "dd if=/dev/zero of=\"$orv/filler\" bs=4k 2>/dev/null\n"
                           "dd if=/dev/zero of=\"$orv/filler\" bs=1 oflag=append conv=notrunc 2>/dev/null\n"
                           "\"$@\"; rc=$?\n"
                           "cp \"$orv/nx7ifbprog.ini\" \"$out/after.ini\"\n"
                           "ls -A \"$orv\" > \"$out/listing.txt\"\n"
                           "exit $rc\n");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("NX7IFBPROG_TIME_SCALE"), QStringLiteral("4"));
        env.insert(QStringLiteral("HOME"), folder.Dir());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("unshare"),
                QStringList{"-m", "--propagation", "private", "sh", "-c", script, "sh",
                            folder.Path(QStringLiteral("Orvanta")), seed, folder.Dir(), folder.Exe()} +
                    args);
        RunResult r;
        r.finished = p.waitForFinished(60000);
        if (!r.finished) {
            p.kill();
            p.waitForFinished(3000);
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'));
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    QString LogText() const
    {
        const QDir logs(folder.Path(QStringLiteral("Orvanta/log")));
        QString text;
        for (const QString& name : logs.entryList({QStringLiteral("nx7ifbprog-*.log")}, QDir::Files))
            text += QString::fromUtf8(ReadBytes(logs.filePath(name)));
        return text;
    }

    ToolFolder folder;
    Simulator sim;
};

// A plain start and close with the settings folder's disk full: the settings file stays byte for
// byte (it was replaced by a 125-byte file holding only [ComDebug]), the person is told once with
// the path and the cause, and nothing is written on top of the failed save.
TEST_F(FilesE2E, FullDiskLeavesTheSettingsFileAndSaysWhyOnce)
{
    const QByteArray before = ReadBytes(folder.Ini());
    const RunResult r = RunOnFullDisk({"--headless"});
    if (r.exitCode == kNoSmallDisk)
        GTEST_SKIP() << "no mount namespace here";
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(ReadBytes(folder.Path(QStringLiteral("after.ini"))), before);
    // Nothing left beside it: no temporary file, no second settings file.
    EXPECT_EQ(QString::fromUtf8(ReadBytes(folder.Path(QStringLiteral("listing.txt"))))
                  .split('\n', Qt::SkipEmptyParts),
              (QStringList{"filler", "log", "nx7ifbprog.ini"}));
    const QString message = QStringLiteral("[例外エラー] iniファイルの生成・更新に失敗しました。\n\n"
                                           "アクセス権限を確認してください。\n\n") +
                            folder.Ini() + QStringLiteral("\n\nディスクの空き容量が不足しています");
    EXPECT_EQ(r.err.count(QStringLiteral("[例外エラー]")), 1) << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains(message)) << qPrintable(r.err);
    // The run's log could not be written either: said once on the pane.
    EXPECT_EQ(r.out.filter(QStringLiteral("ログファイルに書き込めません")).size(), 1)
        << qPrintable(r.out.join('\n'));
}

// A verbose write (protocol trace on) reads the board's Wi-Fi password and hands the upload and
// access-point passwords around: none of them reaches the run's log, in text or in the trace's hex,
// nor the support zip made afterwards. The zip is not made over an existing file without --force.
TEST_F(FilesE2E, VerboseWriteLeavesNoPasswordInTheLogOrTheZip)
{
    const RunResult r = folder.Run({"--headless", "--write", "--yes", "--verbose"}, 60000,
                                   {QStringLiteral("NX7IFBPROG_TIME_SCALE=4")});
    ASSERT_TRUE(r.finished);
    const QString log = LogText();
    ASSERT_FALSE(log.isEmpty());
    // The trace was there, with the password's bytes masked.
    EXPECT_TRUE(log.contains(QStringLiteral("RX:02 00 30 0C 03 03 ** ** ** ** ** ** ** ** ** ** 03 ** 0D")))
        << qPrintable(log);
    for (const QString& p : kPasswords) {
        EXPECT_FALSE(log.contains(p)) << qPrintable(p);
        EXPECT_FALSE(log.contains(Hex(p))) << qPrintable(p);
    }

    const QString zip = folder.Path(QStringLiteral("support.zip"));
    const RunResult b = folder.Run({"--support-bundle", zip}, 30000);
    ASSERT_TRUE(b.finished);
    EXPECT_EQ(b.exitCode, 0) << qPrintable(b.err);
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), zip});
    ASSERT_TRUE(unzip.waitForFinished(20000));
    const QString content = QString::fromUtf8(unzip.readAllStandardOutput());
    EXPECT_TRUE(content.contains(QStringLiteral("[trace]")) || content.contains(QStringLiteral("RX:")));
    for (const QString& p : kPasswords) {
        EXPECT_FALSE(content.contains(p)) << qPrintable(p);
        EXPECT_FALSE(content.contains(Hex(p))) << qPrintable(p);
    }

    // Again onto the same name: refused without --force, the zip untouched; replaced with it.
    const QByteArray first = ReadBytes(zip);
    const RunResult again = folder.Run({"--support-bundle", zip}, 30000);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.err.contains(QStringLiteral("上書きするには --force を付けてください。")))
        << qPrintable(again.err);
    EXPECT_EQ(ReadBytes(zip), first);
    const RunResult forced = folder.Run({"--support-bundle", zip, "--force"}, 30000);
    EXPECT_EQ(forced.exitCode, 0) << qPrintable(forced.err);

    // Through a symbolic link: refused, with or without --force, and the link's target untouched.
    const QString victim = folder.Path(QStringLiteral("victim.txt"));
    QFile v(victim);
    ASSERT_TRUE(v.open(QIODevice::WriteOnly));
    v.write("precious");
    v.close();
    const QString link = folder.Path(QStringLiteral("link.zip"));
    ASSERT_TRUE(QFile::link(victim, link));
    const RunResult linked = folder.Run({"--support-bundle", link, "--force"}, 30000);
    EXPECT_EQ(linked.exitCode, 1);
    EXPECT_TRUE(linked.err.contains(QStringLiteral("シンボリックリンクには書き込みません")))
        << qPrintable(linked.err);
    EXPECT_EQ(ReadBytes(victim), QByteArray("precious"));
}

} // namespace
} // namespace nx7::e2e
