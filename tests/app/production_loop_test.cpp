// Board after board in process: the start-up checks, then the loop against the board simulator
// playing several boards over a pseudo-terminal, with a stand-in uploader.
#include "app/production_loop.h"
#include "app/startup_flow.h"
#include "core/app_core.h"
#include "diag/fake_network.h"
#include "diag/write_record.h"
#include "e2e/e2e_support.h"
#include "platform/adapters.h"
#include "platform/app_paths.h"
#include "platform/event_wait.h"
#include "platform/tick_clock.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"
#include "update/auto_join.h"
#include "update/firmware_image.h"
#include "update/ota_update.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

using namespace nx7;
using nx7::test::MemoryLog;
using nx7::test::ScriptedUi;

namespace
{

class ProductionLoopTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // No automatic join: never the system's bus.
        SetAutoJoinFactory([] { return std::unique_ptr<AutoJoin>(); });
        ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("tool/Orvanta"))));
        ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("fw"))));
        SetExecutablePathOverride(dir.filePath(QStringLiteral("tool/nx7ifbprog")));
        SetClock(&clock);
        ini = dir.filePath(QStringLiteral("tool/Orvanta/nx7ifbprog.ini"));

        QByteArray image(3000, 'i');
        image[0] = static_cast<char>(0xE9);
        QFile fw(dir.filePath(QStringLiteral("fw/3030KMT27")));
        ASSERT_TRUE(fw.open(QIODevice::WriteOnly));
        fw.write(image);
        fw.close();
        SetFirmwareResourceRoot(dir.filePath(QStringLiteral("fw")));

        uploader = dir.filePath(QStringLiteral("tool/espota"));
        QFile u(uploader);
        ASSERT_TRUE(u.open(QIODevice::WriteOnly));
        u.write(
            "#!/bin/sh\nprintf 'Sending invitation to 192.168.4.1 \\nAuthenticating...OK\\n"
            "Uploading: [============================================================] 100% Done...\\n'\n");
        u.close();
        u.setPermissions(u.permissions() | QFileDevice::ExeOwner);

        const QList<AdapterInfo> adapters = ParseAdapterList(QStringLiteral("Wi-Fi=192.168.0.10"));
        SetAdapterProvider([adapters] { return std::optional<QList<AdapterInfo>>(adapters); });
        net->adapters = {
            diag::test::Adapter(QStringLiteral("wlan0"), true, {QStringLiteral("192.168.4.2/24")})};
        net->route = diag::test::Via(QStringLiteral("wlan0"));
        app.NetworkOverride = net;
        app.View.closeMainWindow = [this] { ++closeRequests; };
    }

    void TearDown() override
    {
        app.DestroyEngine();
        sim.Stop();
        SetAdapterProvider({});
        SetFirmwareResourceRoot(QString());
        SetClock(nullptr);
        SetExecutablePathOverride(QString());
    }

    // The settings, the simulated board pinned as COM9, and the start-up checks of the first board.
    // `tcp`: the board serves its link on loopback TCP and the tool connects to it as a client.
    void Start(const QStringList& simArgs, bool tcp = false)
    {
        if (tcp) {
            ASSERT_TRUE(sim.StartTcp({QStringLiteral("--tcp-server"), QStringLiteral("0")},
                                     dir.filePath(QStringLiteral("requests.txt")), kBoardArgs + simArgs))
                << qPrintable(sim.Stderr());
        }
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const QString link =
            tcp ? QStringLiteral("UseUSB=2\nfTCPServer=0\nTCPServAddr=127.0.0.1\nTCPServPort=%1\n")
                      .arg(sim.tcpPort)
                : QStringLiteral("UseUSB=0\n");
        f.write(QStringLiteral("[Option]\nComPort=9\n%1CHK_IFB_TIME=4000\nCONECT_WAIT_TIME=4000\n"
                               "Prog_WAIT_TIME=6000\nbinPath_Mode=1\nAutoJoinAP=0\nApp_ESPOta=%2\n")
                    .arg(link, uploader)
                    .toUtf8());
        f.close();
        if (!tcp)
            StartSim(simArgs);
        ASSERT_FALSE(HasFatalFailure());
        app.Initialise(ini);
        ASSERT_TRUE(FormShow(app)) << ui.messageTexts().join(QLatin1Char('\n')).toStdString();
        ASSERT_EQ(closeRequests, 0);
        options.pollMs = 400;
        options.probeMs = 1000;
    }

    // The simulated board on a fresh pseudo-terminal pinned as COM9.
    void StartSim(const QStringList& simArgs)
    {
        ASSERT_TRUE(sim.Start(ini, 9, dir.filePath(QStringLiteral("requests.txt")), kBoardArgs + simArgs))
            << qPrintable(sim.Stderr());
    }

    // The record's lines after the header: {target id, verdict} of each.
    QList<QStringList> RecordedWrites() const
    {
        QFile f(diag::WriteRecordPath(SettingsFolder()));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const QStringList columns = diag::WriteRecordColumns();
        const qsizetype idColumn = columns.indexOf(QStringLiteral("target id"));
        const qsizetype verdictColumn = columns.indexOf(QStringLiteral("verdict"));
        QList<QStringList> writes;
        const QStringList lines =
            QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QStringList fields = lines.at(i).split(QLatin1Char(','));
            writes.append({fields.value(idColumn), fields.value(verdictColumn)});
        }
        return writes;
    }

    const QStringList kBoardArgs{QStringLiteral("--restart-ms"),       QStringLiteral("0"),
                                 QStringLiteral("--rom-version"),      QStringLiteral("3020KMT27"),
                                 QStringLiteral("--rom-after-update"), QStringLiteral("3030KMT27")};
    QTemporaryDir dir;
    // The fixed pauses of the board check and every wait pass four times faster.
    SteadyTickClock clock{4.0};
    QString ini;
    QString uploader;
    e2e::Simulator sim;
    ScriptedUi ui;
    MemoryLog log;
    AppCore app{ui, log};
    std::shared_ptr<diag::test::FakeNetwork> net = std::make_shared<diag::test::FakeNetwork>();
    int closeRequests = 0;
    ProductionLoopOptions options;
};

// Three boards in a row, the second refusing its image: each is found by its new target id,
// checked, written and recorded; the stop after the third verdict ends the loop with the summary.
TEST_F(ProductionLoopTest, ThreeBoardsAreWrittenRecordedAndSummed)
{
    Start({QStringLiteral("--target-id"), QStringLiteral("0x1111"), QStringLiteral("--next-boards"),
           QStringLiteral("0x2222:BR,13107")});
    ASSERT_FALSE(HasFatalFailure());
    options.stopRequested = [this] { return app.Counters.Total() >= 3; };
    const ProductionSummary summary = RunProductionLoop(app, options);

    EXPECT_EQ(summary.ok, 2);
    EXPECT_EQ(summary.ng, 1);
    EXPECT_EQ(summary.checkFailed, 0);
    EXPECT_EQ(summary.notWritten, 0);
    EXPECT_FALSE(summary.AllOk());
    ASSERT_EQ(summary.boards.size(), 3);
    EXPECT_EQ(app.Counters.Text(), QStringLiteral("OK 2 / NG 1"));
    EXPECT_EQ(RecordedWrites(), (QList<QStringList>{{QStringLiteral("1111"), QStringLiteral("OK")},
                                                    {QStringLiteral("2222"), QStringLiteral("NG")},
                                                    {QStringLiteral("3333"), QStringLiteral("OK")}}));
    EXPECT_EQ(ui.results.size(), 3);

    // The log says when it waits and what it found, and ends with the summary.
    for (const char* id : {"2222", "3333"})
        EXPECT_TRUE(log.lines.contains(
            QStringLiteral("新しいI/Fボードを検出しました（ターゲットID: %1）。").arg(QLatin1String(id))))
            << id;
    EXPECT_EQ(log.lines.count(QStringLiteral("次のI/Fボードを待っています。")), 2);
    const QStringList tail{QStringLiteral("連続書き込みを終了しました。"),
                           QStringLiteral("書き込んだI/Fボード: 3 (OK 2 / NG 1)"),
                           QStringLiteral("確認に失敗したI/Fボード: 0"),
                           QStringLiteral("ID 1111: 3020KMT27 -> 3030KMT27 OK"),
                           QStringLiteral("ID 2222: 3020KMT27 -> 3020KMT27 NG"),
                           QStringLiteral("ID 3333: 3020KMT27 -> 3030KMT27 OK")};
    ASSERT_GE(log.lines.size(), tail.size());
    EXPECT_EQ(log.lines.mid(log.lines.size() - tail.size()), tail) << log.lines.join('\n').toStdString();
}

// Over a TCP link the board closes its connection at every restart: the loop's probes connect
// again, and the next board is found, checked and written as over a serial port.
TEST_F(ProductionLoopTest, BoardsFollowOneAnotherOverATcpLink)
{
    Start({QStringLiteral("--target-id"), QStringLiteral("0x1111"), QStringLiteral("--next-boards"),
           QStringLiteral("0x2222")},
          true);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(app.Engine()->LinkMode, 2);
    options.stopRequested = [this] { return app.Counters.Total() >= 2; };
    const ProductionSummary summary = RunProductionLoop(app, options);
    EXPECT_EQ(summary.ok, 2);
    EXPECT_EQ(RecordedWrites(), (QList<QStringList>{{QStringLiteral("1111"), QStringLiteral("OK")},
                                                    {QStringLiteral("2222"), QStringLiteral("OK")}}));
    EXPECT_TRUE(log.lines.contains(QStringLiteral("新しいI/Fボードを検出しました（ターゲットID: 2222）。")));
}

// The board that answers with the id just written, and never went away, is the same board: the
// loop keeps waiting instead of writing it again.
TEST_F(ProductionLoopTest, TheSameBoardIsNotWrittenTwice)
{
    Start({QStringLiteral("--target-id"), QStringLiteral("0x1234"), QStringLiteral("--next-boards"),
           QStringLiteral("0x1234")});
    ASSERT_FALSE(HasFatalFailure());
    QElapsedTimer sinceVerdict;
    // About a dozen probes after the first verdict.
    options.stopRequested = [&] {
        if (app.Counters.Total() == 0)
            return false;
        if (!sinceVerdict.isValid())
            sinceVerdict.start();
        return sinceVerdict.elapsed() > 1500;
    };
    const ProductionSummary summary = RunProductionLoop(app, options);
    EXPECT_EQ(summary.ok, 1);
    EXPECT_EQ(summary.Written(), 1);
    EXPECT_TRUE(summary.AllOk());
    EXPECT_EQ(RecordedWrites().size(), 1);
    EXPECT_EQ(ui.messageDialogs.size(), 1) << "a second join question means a second write";
    for (const QString& line : log.lines) {
        EXPECT_FALSE(line.startsWith(QStringLiteral("新しいI/Fボード"))) << line.toStdString();
        EXPECT_NE(line, QStringLiteral("I/Fボードが外されました。"));
    }
}

// A next board that fails the start-up checks is said in the log and counted, without closing
// anything; the loop waits for another board instead of checking the same one again.
TEST_F(ProductionLoopTest, ABoardFailingTheChecksIsCountedAndPassedOver)
{
    Start({QStringLiteral("--target-id"), QStringLiteral("0x1111"), QStringLiteral("--next-boards"),
           QStringLiteral("0x2222")});
    ASSERT_FALSE(HasFatalFailure());
    const QString failed = QStringLiteral("I/Fボードの確認に失敗しました: 対応外のI/Fボードです。 "
                                          "お使いのI/Fボード対応のツールをお使いください。");
    QElapsedTimer sinceFailure;
    options.stopRequested = [&] {
        // From the second board on, only the other model is accepted.
        if (app.Counters.Total() == 1)
            app.Settings.SelectModel = 0;
        if (!log.lines.contains(failed))
            return false;
        if (!sinceFailure.isValid())
            sinceFailure.start();
        return sinceFailure.elapsed() > 1000;
    };
    const ProductionSummary summary = RunProductionLoop(app, options);
    EXPECT_EQ(summary.ok, 1);
    EXPECT_EQ(summary.checkFailed, 1);
    EXPECT_FALSE(summary.AllOk());
    EXPECT_EQ(RecordedWrites().size(), 1);
    EXPECT_EQ(closeRequests, 0);
    EXPECT_TRUE(ui.messages.isEmpty()) << "no dialog inside the loop";
    EXPECT_EQ(log.lines.count(failed), 1) << "the same board is not checked again";
    EXPECT_TRUE(log.lines.contains(QStringLiteral("確認に失敗したI/Fボード: 1")));
    EXPECT_EQ(log.lines.last(), QStringLiteral("ID 2222: 3020KMT27 確認失敗"));
}

// The serial port goes away after the write (the adapter unplugged) and comes back with another
// board: the link is opened again on the same settings, without a port dialog, and the board is
// checked and written.
TEST_F(ProductionLoopTest, APortThatComesBackBringsTheNextBoard)
{
    Start({QStringLiteral("--target-id"), QStringLiteral("0x1111")});
    ASSERT_FALSE(HasFatalFailure());
    const qsizetype portDialogs = ui.portDialogs.size();
    bool swapped = false;
    options.stopRequested = [&] {
        if (!swapped && log.lines.contains(QStringLiteral("次のI/Fボードを待っています。"))) {
            swapped = true;
            sim.Stop();
            // Gone for a few probes before the next board is plugged in.
            PumpSleep(2000);
            StartSim({QStringLiteral("--target-id"), QStringLiteral("0x5678")});
        }
        return app.Counters.Total() >= 2 || (swapped && HasFatalFailure());
    };
    const ProductionSummary summary = RunProductionLoop(app, options);
    ASSERT_TRUE(swapped);
    EXPECT_EQ(summary.ok, 2);
    EXPECT_EQ(RecordedWrites(), (QList<QStringList>{{QStringLiteral("1111"), QStringLiteral("OK")},
                                                    {QStringLiteral("5678"), QStringLiteral("OK")}}));
    EXPECT_EQ(ui.portDialogs.size(), portDialogs) << "no port dialog inside the loop";
    qsizetype from = 0;
    for (const QString& line :
         {QStringLiteral("I/Fボードが外されました（シリアルポート COM9 がありません）。"),
          QStringLiteral("シリアルポート COM9 に再接続しました。"),
          QStringLiteral("新しいI/Fボードを検出しました（ターゲットID: 5678）。")}) {
        const qsizetype at = log.lines.indexOf(line, from);
        EXPECT_GE(at, 0) << "missing or out of order: " << qPrintable(line) << "\n"
                         << qPrintable(log.lines.join('\n'));
        if (at >= 0)
            from = at + 1;
    }
}

// The next-board detection at its edges: probe answers lost on purpose (the simulator's control
// file, read before each request) and boards taken out and put back with the same id.
class NextBoardDetectionTest : public ProductionLoopTest
{
protected:
    const QString kWaiting = QStringLiteral("次のI/Fボードを待っています。");

    QStringList ControlArgs() const { return {QStringLiteral("--control"), controlPath}; }

    // An answer fault from now on, as if the link lost it.
    void Control(const QString& directive)
    {
        QFile f(controlPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append));
        f.write(directive.toUtf8() + '\n');
    }

    int TargetIdReads() const { return static_cast<int>(sim.Requests().count(QStringLiteral("TargetId"))); }

    const QString controlPath = dir.filePath(QStringLiteral("control.txt"));
};

struct ProbeLossCase {
    const char* name;
    // Each step: this many probes in a row go unanswered, then this many are answered.
    QList<QPair<int, int>> steps;
    int writes;
};

void PrintTo(const ProbeLossCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProbeLossTest : public NextBoardDetectionTest, public ::testing::WithParamInterface<ProbeLossCase>
{
};

// Only two unanswered probes in a row mean the board was taken out: a single lost answer, or two
// lost far apart, leave it the present board (written once); two in a row followed by the same id
// are a board put back, written again.
TEST_P(ProbeLossTest, LostProbeAnswersDecideWhetherTheSameIdIsANewBoard)
{
    const ProbeLossCase& c = GetParam();
    Start(QStringList{QStringLiteral("--target-id"), QStringLiteral("0x1234")} + ControlArgs());
    ASSERT_FALSE(HasFatalFailure());
    qsizetype step = -1;
    int mark = 0;
    QElapsedTimer guard;
    guard.start();
    options.stopRequested = [&] {
        if (app.Counters.Total() >= 2 || guard.elapsed() > 20000 || step == c.steps.size())
            return true;
        if (!log.lines.contains(kWaiting))
            return false;
        const int reads = TargetIdReads();
        if (step >= 0 && reads < mark + c.steps[step].first + c.steps[step].second)
            return false;
        if (++step == c.steps.size())
            return true;
        Control(QStringLiteral("silent 05 times %1").arg(c.steps[step].first));
        mark = reads;
        return false;
    };
    const ProductionSummary summary = RunProductionLoop(app, options);
    EXPECT_LT(guard.elapsed(), 20000);
    EXPECT_EQ(summary.Written(), c.writes);
    const QList<QStringList> records = RecordedWrites();
    EXPECT_EQ(records.size(), c.writes);
    for (const QStringList& r : records)
        EXPECT_EQ(r.value(0), QStringLiteral("1234"));
    const bool again = c.writes == 2;
    if (!again) {
        EXPECT_EQ(step, c.steps.size()) << "the script did not run to its end";
    }
    EXPECT_EQ(log.lines.contains(QStringLiteral("I/Fボードが外されました。")), again)
        << qPrintable(log.lines.join('\n'));
    EXPECT_EQ(log.lines.contains(QStringLiteral("新しいI/Fボードを検出しました（ターゲットID: 1234）。")),
              again);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProbeLossTest,
                         ::testing::Values(ProbeLossCase{"OneLostAnswer", {{1, 4}}, 1},
                                           ProbeLossCase{"TwoLostFarApart", {{1, 3}, {1, 4}}, 1},
                                           ProbeLossCase{"TwoLostInARowThenTheSameId", {{2, 6}}, 2}),
                         [](const ::testing::TestParamInfo<ProbeLossCase>& info) {
                             return std::string(info.param.name);
                         });

// The serial adapter unplugged and the same board plugged back in: its port comes back, it
// answers with the id just written, and it is written again.
TEST_F(NextBoardDetectionTest, TheSameBoardPutBackOnAVanishedPortIsWrittenAgain)
{
    const QStringList board{QStringLiteral("--target-id"), QStringLiteral("0x1111")};
    Start(board);
    ASSERT_FALSE(HasFatalFailure());
    bool swapped = false;
    QElapsedTimer guard;
    guard.start();
    options.stopRequested = [&] {
        if (!swapped && log.lines.contains(kWaiting)) {
            swapped = true;
            sim.Stop();
            PumpSleep(1000);
            StartSim(board);
        }
        return app.Counters.Total() >= 2 || guard.elapsed() > 20000 || (swapped && HasFatalFailure());
    };
    const ProductionSummary summary = RunProductionLoop(app, options);
    ASSERT_TRUE(swapped);
    EXPECT_EQ(summary.ok, 2);
    EXPECT_EQ(RecordedWrites(), (QList<QStringList>{{QStringLiteral("1111"), QStringLiteral("OK")},
                                                    {QStringLiteral("1111"), QStringLiteral("OK")}}));
    EXPECT_TRUE(log.lines.contains(QStringLiteral("新しいI/Fボードを検出しました（ターゲットID: 1111）。")));
}

// The presence probes come one poll apart, counted from the start of each probe: not back to back,
// and an unanswered probe (waited for shorter than a poll) does not push the next one a whole
// poll further. Times are the simulator's own, from its log.
TEST_F(NextBoardDetectionTest, ProbesComeOnePollApartEvenAfterALostAnswer)
{
    Start(QStringList{QStringLiteral("--target-id"), QStringLiteral("0x1234"), QStringLiteral("-v")} +
          ControlArgs());
    ASSERT_FALSE(HasFatalFailure());
    // At four times the clock's pace: a poll every 500 ms, an answer waited for 300 ms.
    options.pollMs = 2000;
    options.probeMs = 1200;
    QString simLog;
    int waitingFrom = -1;
    bool lost = false;
    QElapsedTimer guard;
    guard.start();
    options.stopRequested = [&] {
        simLog += sim.Stderr();
        if (!log.lines.contains(kWaiting) || guard.elapsed() > 20000)
            return guard.elapsed() > 20000;
        const int reads = TargetIdReads();
        if (waitingFrom < 0)
            waitingFrom = reads;
        if (!lost && reads >= waitingFrom + 3) {
            lost = true;
            Control(QStringLiteral("silent 05 times 1"));
        }
        return reads >= waitingFrom + 7;
    };
    RunProductionLoop(app, options);
    PumpSleep(50);
    simLog += sim.Stderr();

    // Request times of the target-id reads while waiting (the last few of the log), and which
    // of them went unanswered.
    const QRegularExpression request(
        QStringLiteral(R"(ifb-sim\s+(\d+) ms: request \d+: 02 [0-9A-F]{2} 45 01 05 )"));
    QList<qint64> at;
    QList<bool> unanswered;
    const QStringList lines = simLog.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = request.match(lines.at(i));
        if (!m.hasMatch())
            continue;
        at << m.captured(1).toLongLong();
        unanswered << (i + 1 < lines.size() && lines.at(i + 1).contains(QStringLiteral("fault: no answer")));
    }
    ASSERT_GE(at.size(), 7) << qPrintable(simLog);
    at = at.mid(at.size() - 7);
    unanswered = unanswered.mid(unanswered.size() - 7);
    ASSERT_EQ(unanswered.count(true), 1) << qPrintable(simLog);
    // Bounds leave room for the delivery of each request on a busy machine.
    qint64 afterLoss = 0;
    qint64 shortestAnswered = std::numeric_limits<qint64>::max();
    for (qsizetype i = 1; i < at.size(); ++i) {
        SCOPED_TRACE(i);
        const qint64 gap = at.at(i) - at.at(i - 1);
        EXPECT_GE(gap, 400) << "probes too close";
        EXPECT_LE(gap, 900) << "probes too far apart";
        if (unanswered.at(i - 1))
            afterLoss = gap;
        else
            shortestAnswered = std::min(shortestAnswered, gap);
    }
    // After the lost answer: its 300 ms of waiting are part of the poll, not added to it.
    EXPECT_LT(afterLoss - shortestAnswered, 200) << qPrintable(simLog);
}

// The restart's presence probes, paced: one every 300 ms whether the board stays silent (each
// probe waited for 300 ms) or gives an answer that is no answer at once (the rest of the 300 ms
// slept). On the real clock, timed by the simulator.
TEST_F(NextBoardDetectionTest, RestartProbesComeEvery300Ms)
{
    Start(QStringList{QStringLiteral("--target-id"), QStringLiteral("0x1234"), QStringLiteral("-v")} +
          ControlArgs());
    ASSERT_FALSE(HasFatalFailure());
    SteadyTickClock realTime{1.0};
    SetClock(&realTime);
    QString simLog = sim.Stderr();
    // After the restart: two answers cut short, then two silences, then the answer.
    Control(QStringLiteral("short 00 times 2"));
    Control(QStringLiteral("silent 00 times 2"));
    app.RestartBoard(4000);
    EXPECT_TRUE(app.AwaitBoardBack());
    SetClock(&clock);
    PumpSleep(50);
    simLog = sim.Stderr();

    // The mode reads after the restart request, with their times.
    const QRegularExpression entry(
        QStringLiteral(R"(ifb-sim\s+(\d+) ms: request \d+: 02 [0-9A-F]{2} 45 (\S\S) (\S\S) )"));
    QList<qint64> at;
    bool restarted = false;
    for (const QString& line : simLog.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = entry.match(line);
        if (!m.hasMatch())
            continue;
        if (m.captured(2) == QLatin1String("01") && m.captured(3) == QLatin1String("0A"))
            restarted = true;
        else if (restarted && m.captured(2) == QLatin1String("01") && m.captured(3) == QLatin1String("00"))
            at << m.captured(1).toLongLong();
    }
    ASSERT_EQ(at.size(), 5) << qPrintable(simLog);
    for (qsizetype i = 1; i < at.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(at.at(i) - at.at(i - 1), 250) << qPrintable(simLog);
        EXPECT_LT(at.at(i) - at.at(i - 1), 600) << qPrintable(simLog);
    }
}

// An uploader that prints and then hangs, on a board that never gives a verdict: the write ends
// one write time limit after the uploader's last output (the silence ends the uploader, and the
// wait for the verdict counts from the same last output), not two limits.
TEST_F(NextBoardDetectionTest, AHungUploaderEndsTheWriteOneLimitAfterItsLastOutput)
{
    const QString stamp = dir.filePath(QStringLiteral("last-output"));
    QFile u(uploader);
    ASSERT_TRUE(u.open(QIODevice::WriteOnly | QIODevice::Truncate));
    u.write(QStringLiteral("#!/bin/sh\nprintf 'Sending invitation to 192.168.4.1 \\nAuthenticating...OK\\n"
                           "Uploading: [=====                    ] 20%%\\n'\ndate +%s%3N > '%1'\nsleep 30\n")
                .arg(stamp)
                .toUtf8());
    u.close();
    Start({QStringLiteral("--target-id"), QStringLiteral("0x1234"), QStringLiteral("--ota-result"),
           QStringLiteral("none")});
    ASSERT_FALSE(HasFatalFailure());
    // Prog_WAIT_TIME 6000 at four times the clock's pace: 1.5 s.
    EXPECT_FALSE(RunOtaUpdate(app));
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    QFile f(stamp);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const qint64 lastOutput = f.readAll().trimmed().toLongLong();
    ASSERT_GT(lastOutput, 0);
    EXPECT_GE(end - lastOutput, 1400);
    EXPECT_LT(end - lastOutput, 2600) << "the verdict was waited for a second limit";
    EXPECT_EQ(RecordedWrites().value(0).value(1), QStringLiteral("NG"));
}
} // namespace
