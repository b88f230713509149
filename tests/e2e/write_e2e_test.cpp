// The firmware write of the real tool, headless, against ifb-sim with a stand-in uploader: for
// every outcome the requests the board received, the uploader's arguments, the log lines and the
// verdict.
#include "e2e/e2e_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace nx7::e2e
{
namespace
{

const QStringList kStart{"GetMode",         "ModeSet(0000)", "Restart",    "GetMode",   "GetWifiSsid",
                         "GetWifiPassword", "GetNetParams",  "RomVersion", "ModelName", "TargetId"};

struct WriteCase {
    const char* name;
    QStringList simArgs;
    QString uploaderOutput;
    QStringList env;
    QStringList toolArgs;
    int exitCode;
    QString verdict;      // expected "[書き込み結果] ..." text start; empty: no result dialog
    QStringList logLines; // lines that must appear on standard output, in this order
    bool uploaderRuns;
};

QString Lines(const QStringList& lines)
{
    return lines.join(QLatin1Char('\n'));
}

class WriteE2E : public ::testing::TestWithParam<WriteCase>
{
protected:
    ToolFolder folder;
    Simulator sim;
};

TEST_P(WriteE2E, Outcome)
{
    const WriteCase& c = GetParam();
    ASSERT_TRUE(folder.ok());
    const QString argsFile = folder.Path(QStringLiteral("args.txt"));
    const QString uploader = WriteStandInUploader(folder.Dir(), argsFile, c.uploaderOutput, 0.2);
    folder.AppendIni(QStringLiteral("[Option]\nComPort=9\nCHK_IFB_TIME=1200\nCONECT_WAIT_TIME=1500\n"
                                    "Prog_WAIT_TIME=6000\nApp_ESPOta=%1\n")
                         .arg(uploader));
    const QStringList simBase{
        "--restart-ms", "60",          "--mode",    "0x0105",   "--rom-version",         "3020KMT27",
        "--ap-ip",      "192.168.0.1", "--ap-name", "IFB-AP-7", "--ota-result-delay-ms", "100"};
    ASSERT_TRUE(sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")), simBase + c.simArgs));

    // The PC joined the board's access point: the network checks before the uploader pass.
    const RunResult r = folder.Run(
        QStringList{"--headless", "--write", "--verbose"} + c.toolArgs, 90000,
        QStringList{"NX7IFBPROG_TIME_SCALE=4", "NX7IFBPROG_NETWORK=wlan0=192.168.0.10/24"} + c.env);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, c.exitCode) << qPrintable(r.err);

    if (c.verdict.isEmpty())
        EXPECT_FALSE(r.err.contains(QStringLiteral("[書き込み結果]")));
    else
        EXPECT_TRUE(r.err.contains(QStringLiteral("[書き込み結果] ") + c.verdict)) << qPrintable(r.err);

    // The lines in order, not necessarily adjacent.
    qsizetype from = 0;
    for (const QString& line : c.logLines) {
        const qsizetype at = r.out.indexOf(line, from);
        EXPECT_GE(at, 0) << "missing or out of order: " << qPrintable(line) << "\n"
                         << qPrintable(Lines(r.out));
        if (at >= 0)
            from = at + 1;
    }

    const QStringList requests = sim.Requests();
    ASSERT_GE(requests.size(), kStart.size() + 2);
    EXPECT_EQ(requests.mid(0, kStart.size()), kStart);
    EXPECT_EQ(requests.mid(kStart.size(), 2), (QStringList{"GetApInfo", "SetOtaMode(02 01)"}));
    // The exit waits until the board is back from the write's own restart, then restores the mode
    // word again and restarts it.
    EXPECT_EQ(requests.mid(requests.size() - 2), (QStringList{"ModeSet(0105)", "Restart"}));
    if (c.uploaderRuns || !c.verdict.isEmpty()) {
        // The write's closing steps restored the mode and restarted the board.
        EXPECT_TRUE(requests.join(QLatin1Char(' ')).contains(QStringLiteral("ModeSet(0105) Restart")));
    }

    QFile args(argsFile);
    if (c.uploaderRuns) {
        ASSERT_TRUE(args.open(QIODevice::ReadOnly));
        const QStringList argv =
            QString::fromUtf8(args.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(argv.size(), 11);
        EXPECT_EQ(argv.mid(0, 10), (QStringList{"-i", "192.168.0.1", "-p", "3232", "-I", "192.168.0.10", "-P",
                                                "3233", "--auth=KW5GDH4072", "-f"}));
        const QString tempFile = argv.last();
        EXPECT_TRUE(tempFile.startsWith(folder.Path(QStringLiteral("Orvanta/UOf-")))) << qPrintable(tempFile);
        EXPECT_FALSE(QFileInfo::exists(tempFile)) << "the temporary image is deleted at the end";
    } else {
        EXPECT_FALSE(args.exists());
    }
}

const QString kOkDetail = QStringLiteral("OK\nファームウェア書き込みが正常に完了しました。");
const QString kAbortLine = QStringLiteral("NG:ファームウェアの書き込みを中止しました。");

INSTANTIATE_TEST_SUITE_P(
    Outcomes, WriteE2E,
    ::testing::Values(
        WriteCase{"Ok",
                  {"--ota-result", "OK", "--rom-after-update", "3030KMT27"},
                  "Uploading: 50%\nUploading: 100%",
                  {},
                  {"--yes"},
                  0,
                  kOkDetail,
                  {"AP  : IFB-AP-7", "Uploading: 50%", "OK: Program Update", "IFB-ROMVer : 3030KMT27",
                   "OK:ファームウェア書き込みが正常に完了しました。"},
                  true},
        WriteCase{"BoardReportsBR",
                  {"--ota-result", "BR"},
                  "done",
                  {},
                  {"--yes"},
                  1,
                  "NG",
                  {"NG: Program Update", kAbortLine, "ソフトを再起動し、もう一度書き込みを行ってください。"},
                  true},
        WriteCase{"NoNotificationTimesOut",
                  {"--ota-result", "none"},
                  "done",
                  {},
                  {"--yes"},
                  1,
                  "NG\nタイムアウトしました。",
                  {"NG: Time Over", "NG:タイムアウトしました。",
                   "接続を確認し、もう一度書き込みを行ってください。"},
                  true},
        WriteCase{"ErrorInOutputWhileBoardSaysOk",
                  {"--ota-result", "OK", "--rom-after-update", "3030KMT27"},
                  "Upload Error: something",
                  {},
                  {"--yes"},
                  1,
                  "NG",
                  {"Upload Error: something", "OK: Program Update", "NG: Program Update", kAbortLine},
                  true},
        WriteCase{"RomVersionNotEqualAfterRestart",
                  {"--ota-result", "OK", "--rom-after-update", "3030KMT27X"},
                  "done",
                  {},
                  {"--yes"},
                  1,
                  "NG",
                  {"OK: Program Update", "IFB-ROMVer : 3030KMT27X", "NG: Program Update", kAbortLine},
                  true},
        WriteCase{"ErrorWordWithWifiOnTheBoardsNetwork",
                  {"--ota-result", "OK", "--rom-after-update", "3030KMT27"},
                  "12:00:00 [ERROR]: No response from the ESP",
                  {"NX7IFBPROG_ADAPTERS=Wi-Fi 2=192.168.0.23"},
                  {"--yes"},
                  1,
                  "NG",
                  {"12:00:00 [ERROR]: No response from the ESP", "NG: Program Update", kAbortLine},
                  true},
        WriteCase{"ErrorWordWithoutWifiOnTheBoardsNetwork",
                  {"--ota-result", "none"},
                  "12:00:00 [ERROR]: No response from the ESP",
                  {"NX7IFBPROG_ADAPTERS=Wi-Fi=169.254.7.9;eth0=192.168.0.5"},
                  {"--yes"},
                  1,
                  "NG\nespotaでエラーが発生しました。",
                  {"IPv4:169.254.7.9", "PC側IPアドレスの自動割付に失敗しました。",
                   "PCのセキュリティ設定などを確認してください。", "NG: ERROR espota.exe", kAbortLine},
                  true},
        WriteCase{"UserDeclinesTheJoinDialog", {}, "", {}, {"--no"}, 1, "", {"AP  : IFB-AP-7"}, false},
        WriteCase{"NoStationJoins",
                  {"--no-station"},
                  "",
                  {},
                  {"--yes"},
                  1,
                  "NG\nタイムアウトしました。",
                  {"Not Connection", "NG:タイムアウトしました。"},
                  false}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

// An interrupt during the upload ends the run as a close would.
TEST(InterruptE2E, SignalDuringTheUploadRestoresTheBoardRemovesTheImageAndSavesTheSettings)
{
    const struct {
        int signo;
        int status;
    } cases[] = {{SIGTERM, 143}, {SIGINT, 130}, {SIGHUP, 129}, {SIGQUIT, 131}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signo);
        ToolFolder folder;
        Simulator sim;
        ASSERT_TRUE(folder.ok());
        // The uploader and a child of its own hang; both note their process numbers.
        const QString pids = folder.Path(QStringLiteral("pids"));
        const QString uploader = folder.Path(QStringLiteral("espota"));
        {
            QFile f(uploader);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(QStringLiteral("#!/bin/sh\necho Uploading\nsleep 60 &\necho $$ $! > '%1'\nwait\n")
                        .arg(pids)
                        .toUtf8());
            f.close();
            f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        folder.AppendIni(QStringLiteral("[Option]\nComPort=9\nCHK_IFB_TIME=1200\nCONECT_WAIT_TIME=1500\n"
                                        "Prog_WAIT_TIME=60000\nApp_ESPOta=%1\n")
                             .arg(uploader));
        ASSERT_TRUE(sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")),
                              {"--restart-ms", "60", "--mode", "0x0105", "--rom-version", "3020KMT27",
                               "--ota-result", "none"}));
        const RunResult r = folder.RunAndSignal(
            {"--headless", "--write", "--yes"}, {"NX7IFBPROG_TIME_SCALE=4"},
            [&pids] { return QFileInfo(pids).size() > 0; }, c.signo);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, c.status) << qPrintable(r.err);
        EXPECT_TRUE(r.err.contains(QStringLiteral("[書き込み結果] NG"))) << qPrintable(r.err);

        // The write's closing restored the mode; the close did it once more.
        const QStringList requests = sim.Requests();
        EXPECT_TRUE(requests.join(QLatin1Char(' ')).contains(QStringLiteral("ModeSet(0105) Restart")));
        QStringList tail = requests;
        if (!tail.isEmpty() && tail.last() == QStringLiteral("Restart"))
            tail.removeLast();
        ASSERT_FALSE(tail.isEmpty());
        EXPECT_EQ(tail.last(), QStringLiteral("ModeSet(0105)"));

        EXPECT_TRUE(
            QDir(folder.Path(QStringLiteral("Orvanta"))).entryList({QStringLiteral("UOf*")}).isEmpty());
        EXPECT_TRUE(folder.ReadIni().contains(QStringLiteral("ProgMode=1"))) << qPrintable(folder.ReadIni());

        // Neither the uploader nor its child is left running.
        QFile f(pids);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        for (const QByteArray& pid : f.readAll().trimmed().split(' ')) {
            bool gone = false;
            for (int i = 0; i < 100 && !gone; ++i) {
                QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
                gone = !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
                if (!gone)
                    QThread::msleep(20);
            }
            EXPECT_TRUE(gone) << pid.constData();
        }
    }
}

// The tool folder's uploader says it is uploading, notes its process id in `pids` and hangs.
void UseHangingUploader(ToolFolder& folder, const QString& pids)
{
    const QString uploader = folder.Path(QStringLiteral("espota"));
    QFile f(uploader);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("#!/bin/sh\necho Uploading\necho $$ > '%1'\nexec sleep 60\n").arg(pids).toUtf8());
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    folder.AppendIni(QStringLiteral("[Option]\nComPort=9\nCHK_IFB_TIME=1200\nCONECT_WAIT_TIME=1500\n"
                                    "Prog_WAIT_TIME=60000\nApp_ESPOta=%1\n")
                         .arg(uploader));
}

// A closed terminal often takes the reader of the tool's piped output along (`nx7ifbprog ... | tee`):
// after the hang-up the output goes nowhere, and the tool still puts the board back.
TEST(InterruptE2E, HangUpWithTheOutputsReaderGoneStillRestoresTheBoard)
{
    ToolFolder folder;
    Simulator sim;
    ASSERT_TRUE(folder.ok());
    const QString pids = folder.Path(QStringLiteral("pids"));
    UseHangingUploader(folder, pids);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    ASSERT_TRUE(sim.Start(
        folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")),
        {"--restart-ms", "60", "--mode", "0x0105", "--rom-version", "3020KMT27", "--ota-result", "none"}));
    QProcess tool;
    QProcess reader;
    tool.setStandardOutputProcess(&reader);
    reader.setStandardOutputFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("NX7IFBPROG_TIME_SCALE"), QStringLiteral("4"));
    tool.setProcessEnvironment(env);
    tool.start(folder.Exe(),
               {QStringLiteral("--headless"), QStringLiteral("--write"), QStringLiteral("--yes")});
    reader.start(QStringLiteral("/bin/cat"), QStringList{});
    ASSERT_TRUE(tool.waitForStarted(5000));
    ASSERT_TRUE(reader.waitForStarted(5000));
    QElapsedTimer t;
    t.start();
    while (QFileInfo(pids).size() == 0 && t.elapsed() < 30000)
        QThread::msleep(50);
    ASSERT_GT(QFileInfo(pids).size(), 0);
    reader.kill();
    ASSERT_TRUE(reader.waitForFinished(3000));
    ::kill(static_cast<pid_t>(tool.processId()), SIGHUP);
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tool.exitCode(), 129) << tool.readAllStandardError().constData();
    EXPECT_TRUE(sim.Requests().join(QLatin1Char(' ')).contains(QStringLiteral("ModeSet(0105) Restart")));
    EXPECT_TRUE(QDir(folder.Path(QStringLiteral("Orvanta"))).entryList({QStringLiteral("UOf*")}).isEmpty());
}

// kill -9 leaves the tool no way out of its own: the uploader still goes with it, and the image it
// leaves is removed at the next start, while the image another running tool holds stays.
TEST(InterruptE2E, KilledOutrightTheUploaderGoesWithItAndTheNextStartRemovesTheImage)
{
    ToolFolder folder;
    ASSERT_TRUE(folder.ok());
    const QString pids = folder.Path(QStringLiteral("pids"));
    UseHangingUploader(folder, pids);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    const QStringList board{"--restart-ms",  "60",        "--mode",       "0x0105",
                            "--rom-version", "3020KMT27", "--ota-result", "none"};
    const QDir images(folder.Path(QStringLiteral("Orvanta")));
    const QStringList pattern{QStringLiteral("UOf-*.bin")};
    {
        Simulator sim;
        ASSERT_TRUE(sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")), board));
        const RunResult r = folder.RunAndSignal(
            {"--headless", "--write", "--yes"}, {"NX7IFBPROG_TIME_SCALE=4"},
            [&pids] { return QFileInfo(pids).size() > 0; }, SIGKILL);
        ASSERT_TRUE(r.finished);
    }
    QFile f(pids);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString pid = QString::fromLatin1(f.readAll().trimmed());
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        gone = !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
        if (!gone)
            QThread::msleep(20);
    }
    EXPECT_TRUE(gone) << qPrintable(pid);
    const QStringList left = images.entryList(pattern);
    ASSERT_EQ(left.size(), 1);

    // Another tool's image, held by its lock.
    const QString held = images.filePath(QStringLiteral("UOf-Held01.bin"));
    const int heldFd = ::open(QFile::encodeName(held).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(heldFd, 0);
    ASSERT_EQ(::flock(heldFd, LOCK_EX | LOCK_NB), 0);

    Simulator sim;
    ASSERT_TRUE(sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record2.txt")), board));
    const RunResult r = folder.Run({"--headless"}, 30000, {"NX7IFBPROG_TIME_SCALE=4"});
    ::close(heldFd);
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(r.out.contains(QStringLiteral("前回の書き込みで残った一時ファイルを削除しました: ") +
                               images.filePath(left.first())))
        << qPrintable(r.out.join(QLatin1Char('\n')));
    EXPECT_EQ(images.entryList(pattern), QStringList{QStringLiteral("UOf-Held01.bin")});
}

// --repeat: three boards in a row (the second refuses its image), then Ctrl+C while the loop waits
// for a fourth: the summary, the record, the board's mode given back, the interrupt's status.
TEST(RepeatE2E, ThreeBoardsThenInterrupt)
{
    ToolFolder folder;
    Simulator sim;
    ASSERT_TRUE(folder.ok());
    const QString uploader = WriteStandInUploader(folder.Dir(), folder.Path(QStringLiteral("args.txt")),
                                                  QStringLiteral("Uploading: 100%"), 0.1);
    folder.AppendIni(QStringLiteral("[Option]\nComPort=9\nCHK_IFB_TIME=1200\nCONECT_WAIT_TIME=1500\n"
                                    "Prog_WAIT_TIME=6000\nApp_ESPOta=%1\n")
                         .arg(uploader));
    ASSERT_TRUE(sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")),
                          {"--restart-ms", "60", "--mode", "0x0105", "--rom-version", "3020KMT27", "--ap-ip",
                           "192.168.0.1", "--rom-after-update", "3030KMT27", "--ota-result-delay-ms", "100",
                           "--next-boards", "0x2222:BR,0x3333"}));
    const QString results = folder.Path(QStringLiteral("Orvanta/log/results.csv"));
    const auto recorded = [&results] {
        QFile f(results);
        return f.open(QIODevice::ReadOnly) ? f.readAll().count("\r\n") - 1 : 0;
    };
    const RunResult r = folder.RunAndSignal(
        {"--headless", "--write", "--yes", "--repeat"},
        {"NX7IFBPROG_TIME_SCALE=4", "NX7IFBPROG_NETWORK=wlan0=192.168.0.10/24"},
        [&] { return recorded() >= 3; }, SIGINT, 90000);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 130) << qPrintable(r.err);
    EXPECT_EQ(recorded(), 3);
    EXPECT_EQ(r.err.count(QStringLiteral("[書き込み結果] OK")), 2) << qPrintable(r.err);
    EXPECT_EQ(r.err.count(QStringLiteral("[書き込み結果] NG")), 1) << qPrintable(r.err);

    // In order: waiting, the boards found, then the summary.
    qsizetype from = 0;
    for (const QString& line :
         {QStringLiteral("連続書き込みを開始します。"),
          QStringLiteral("次のI/Fボードを待っています。終了するには Ctrl+C を押してください。"),
          QStringLiteral("新しいI/Fボードを検出しました（ターゲットID: 2222）。"),
          QStringLiteral("新しいI/Fボードを検出しました（ターゲットID: 3333）。"),
          QStringLiteral("連続書き込みを終了しました。"),
          QStringLiteral("書き込んだI/Fボード: 3 (OK 2 / NG 1)"),
          QStringLiteral("確認に失敗したI/Fボード: 0"), QStringLiteral("ID 1234: 3020KMT27 -> 3030KMT27 OK"),
          QStringLiteral("ID 2222: 3020KMT27 -> 3020KMT27 NG"),
          QStringLiteral("ID 3333: 3020KMT27 -> 3030KMT27 OK")}) {
        const qsizetype at = r.out.indexOf(line, from);
        EXPECT_GE(at, 0) << "missing or out of order: " << qPrintable(line) << "\n"
                         << qPrintable(Lines(r.out));
        if (at >= 0)
            from = at + 1;
    }
    // The close gave the last board its mode back.
    QStringList tail = sim.Requests();
    if (!tail.isEmpty() && tail.last() == QStringLiteral("Restart"))
        tail.removeLast();
    ASSERT_FALSE(tail.isEmpty());
    EXPECT_EQ(tail.last(), QStringLiteral("ModeSet(0105)"));
}

TEST(RepeatE2E, NeedsTheWrite)
{
    ToolFolder folder;
    ASSERT_TRUE(folder.ok());
    for (const QStringList& args : {QStringList{"--headless", "--repeat"}, QStringList{"--repeat"}}) {
        const RunResult r = folder.Run(args, 20000);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 2) << qPrintable(args.join(' '));
        EXPECT_TRUE(r.err.contains(QStringLiteral("--repeat"))) << "the usage names the option";
    }
}

// The shipped executable has no test seams: a user's environment cannot change its waits or its
// view of the network adapters.
TEST(ShippedExecutable, CarriesNoTestSeams)
{
    QFile exe(QStringLiteral(NX7_BINARY_DIR "/src/app/nx7ifbprog"));
    ASSERT_TRUE(exe.open(QIODevice::ReadOnly));
    const QByteArray bytes = exe.readAll();
    EXPECT_FALSE(bytes.contains("NX7IFBPROG_TIME_SCALE"));
    EXPECT_FALSE(bytes.contains("NX7IFBPROG_ADAPTERS"));
    // The test build does carry them, so the check looks at the right thing.
    QFile seamed(ToolPath());
    ASSERT_TRUE(seamed.open(QIODevice::ReadOnly));
    EXPECT_TRUE(seamed.readAll().contains("NX7IFBPROG_TIME_SCALE"));
}

} // namespace
} // namespace nx7::e2e
