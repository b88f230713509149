// The whole write against the board simulator over a pseudo-terminal, with a stand-in uploader.
#include "comm/frame_codec.h"
#include "core/app_core.h"
#include "diag/diag_texts.h"
#include "diag/fake_network.h"
#include "diag/write_record.h"
#include "e2e/e2e_support.h"
#include "platform/adapters.h"
#include "platform/app_paths.h"
#include "platform/com_names.h"
#include "platform/tick_clock.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"
#include "update/auto_join.h"
#include "update/firmware_image.h"
#include "update/ota_update.h"
#include "update/tool_runner.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>

using namespace nx7;
using nx7::test::MemoryLog;
using nx7::test::ScriptedUi;

namespace
{

// Request frames as the simulator records them ("02 00 45 01 00 03 4B 0D").
QString Frame(std::initializer_list<std::uint8_t> data)
{
    const std::vector<std::uint8_t> bytes(data);
    const std::vector<std::uint8_t> f = codec::BuildFrame(0, codec::kIfbCommand, bytes);
    return QString::fromStdString(codec::HexBytes(f.data(), f.size())).trimmed();
}

const QString kApInfo = Frame({0x03, 0x71});
const QString kOtaMode = Frame({0x0B, 0x02, 0x01});
const QString kStatus = Frame({0x00});
const QString kRestart = Frame({0x0A});
const QString kModel = Frame({0x93});
const QString kRom = Frame({0x90});
const QString kRestoreMode1 = Frame({0x01, 0x01, 0x00});
// The restarted board is asked for its mode (the status request) until it answers.
const QString kProbe = kStatus;

// Records like ScriptedUi and lets a test act while the result dialog is open.
class FlowUi : public ScriptedUi
{
public:
    void ResultDialog(const ResultDialogRequest& r) override
    {
        ScriptedUi::ResultDialog(r);
        if (whileResultOpen)
            whileResultOpen();
    }
    void ProgressSetPercent(int p) override
    {
        ScriptedUi::ProgressSetPercent(p);
        if (onPercent)
            onPercent();
    }
    std::function<void()> whileResultOpen;
    std::function<void()> onPercent;
};

// The real clock plus a jump the test makes.
class JumpClock : public TickClock
{
public:
    JumpClock() { SetClock(this); }
    ~JumpClock() override { SetClock(nullptr); }
    std::uint32_t TickCount() override { return m_real.TickCount() + jump; }
    std::uint32_t jump = 0;

private:
    SteadyTickClock m_real;
};

// The number of milliseconds in the line that begins with `prefix`; -1 without such a line.
qint64 LoggedMs(const QStringList& lines, const QString& prefix)
{
    for (const QString& l : lines) {
        if (l.startsWith(prefix) && l.endsWith(QStringLiteral("ms")))
            return l.mid(prefix.size(), l.size() - prefix.size() - 2).toLongLong();
    }
    return -1;
}

// An uploader that met the board but never says the board took the image.
const QByteArray kUnconfirmedUpload = "Sending invitation to 192.168.4.1 \nAuthenticating...OK\n";

const QString kImageWriteError = QStringLiteral("ファームウェアを一時ファイルに書き込めませんでした。\n\n");

struct Uploader {
    QByteArray output =
        "Sending invitation to 192.168.4.1 \nAuthenticating...OK\n"
        "Uploading: [============================================================] 100% Done...\n";
    QByteArray after; // printed after the sleep
    double sleepSeconds = 0;
    int exitCode = 0;
    // Printed instead on every run after the first (the retry), which then exits with 0.
    std::optional<QByteArray> later;
};

class OtaFlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // No automatic join unless a test hands in its own: never the system's bus.
        SetAutoJoinFactory([] { return std::unique_ptr<AutoJoin>(); });
        // Blanks and a quote in every path the command line carries.
        root = dir.filePath(QStringLiteral("it's a tool"));
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/bin/Orvanta")));
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/fw")));
        SetExecutablePathOverride(root + QStringLiteral("/bin/nx7ifbprog"));
        ini = root + QStringLiteral("/bin/Orvanta/nx7ifbprog.ini");
        record = dir.filePath(QStringLiteral("requests.txt"));

        image = QByteArray(3000, 'i');
        image[0] = static_cast<char>(0xE9);
        QFile fw(root + QStringLiteral("/fw/3030KMT27"));
        ASSERT_TRUE(fw.open(QIODevice::WriteOnly));
        fw.write(image);
        fw.close();
        SetFirmwareResourceRoot(root + QStringLiteral("/fw"));

        UseAdapters(QStringLiteral("Wi-Fi=192.168.0.10"));
        // The PC joined the board's access point on its Wi-Fi adapter; the wired LAN is elsewhere.
        net->adapters = {
            diag::test::Adapter(QStringLiteral("wlan0"), true, {QStringLiteral("192.168.4.2/24")}),
            diag::test::Adapter(QStringLiteral("eth0"), false, {QStringLiteral("10.0.0.5/24")})};
        net->route = diag::test::Via(QStringLiteral("wlan0"));
        app.NetworkOverride = net;
        app.View.setMainEnabled = [this](bool on) { mainEnabled.append(on); };
        app.View.setWriteCommandAvailable = [this](bool on) { writeAvailable.append(on); };
    }

    void TearDown() override
    {
        app.DestroyEngine();
        sim.Stop();
        SetAdapterProvider({});
        SetFirmwareResourceRoot(QString());
        SetExecutablePathOverride(QString());
    }

    void UseAdapters(const QString& adapterText)
    {
        const QList<AdapterInfo> list = ParseAdapterList(adapterText);
        SetAdapterProvider([list] { return std::optional<QList<AdapterInfo>>(list); });
    }

    void WriteUploader(const Uploader& u)
    {
        uploader = root + QStringLiteral("/bin/espota");
        const QByteArray q = [](const QString& s) { return QuoteForInterpreter(s).toUtf8(); }(dir.path());
        QFile f(uploader);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n"
                "printf '%s\\0' \"$0\" \"$@\" > " +
                q +
                "/argv\n"
                "for a in \"$@\"; do last=\"$a\"; done\n"
                "cp \"$last\" " +
                q +
                "/image-copy\n"
                "stat -c %a \"$last\" > " +
                q + "/image-mode\n" +
                (u.later ? "if [ -e " + q + "/ran-once ]; then printf '%s' '" + *u.later + "'; exit 0; fi\n" +
                               "touch " + q + "/ran-once\n"
                         : QByteArray()) +
                "printf '%s' '" + u.output +
                "'\n"
                "sleep " +
                QByteArray::number(u.sleepSeconds) +
                "\n"
                "printf '%s' '" +
                u.after + "'\n" +
                (u.exitCode != 0 ? "exit " + QByteArray::number(u.exitCode) + "\n" : QByteArray()));
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    }

    // Starts the simulated board, pinned as COM9, and the tool's side of the link.
    void Start(const QStringList& simArgs, const Uploader& u = Uploader())
    {
        WriteUploader(u);
        ASSERT_TRUE(sim.Start(ini, 9, record,
                              QStringList{QStringLiteral("--restart-ms"), QStringLiteral("0")} + simArgs))
            << qPrintable(sim.Stderr());

        app.Initialise(ini);
        app.Settings.UseUSB = 0;
        app.Settings.ComPort = 9;
        app.Settings.CONECT_WAIT_TIME = 1000;
        app.Settings.Prog_WAIT_TIME = 1500;
        app.Settings.CHK_IFB_TIME = 1000;
        app.Settings.binPath_Mode = 1;
        app.Settings.App_ESPOta = uploader;
        // As the start-up left it: the board's mode word saved, verbose log on to see every line.
        app.SavedOperationMode = 0x0001;
        app.OperationModeKnown = true;
        app.RomVersion = QStringLiteral("3030KMT26");
        app.VerboseLog = true;
        app.CreateEngine();
        app.Timer1.start();
        ASSERT_TRUE(app.Engine()->IsConnected());
    }

    QStringList Frames() const
    {
        QFile f(record);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The frames after the polls, which vary in number.
    QStringList FramesAfterPolls() const
    {
        QStringList frames = Frames();
        EXPECT_GE(frames.size(), 3);
        if (frames.size() < 3)
            return {};
        EXPECT_EQ(frames.mid(0, 2), (QStringList{kApInfo, kOtaMode}));
        frames = frames.mid(2);
        EXPECT_FALSE(frames.isEmpty() || frames.first() != kStatus) << "no status poll";
        while (!frames.isEmpty() && frames.first() == kStatus)
            frames.removeFirst();
        return frames;
    }

    QStringList UploaderArgs() const
    {
        QFile f(dir.filePath(QStringLiteral("argv")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList args;
        const QList<QByteArray> parts = f.readAll().split('\0');
        for (qsizetype i = 0; i + 1 < parts.size(); ++i)
            args.append(QString::fromUtf8(parts.at(i)));
        return args;
    }

    // The image path the uploader was handed (empty before any upload).
    QString TempPath() const
    {
        const QStringList args = UploaderArgs();
        return args.size() >= 2 && args.at(args.size() - 2) == QStringLiteral("-f") ? args.last() : QString();
    }
    QString TempFolder() const { return root + QStringLiteral("/bin/Orvanta"); }
    // What is left in the image folder besides the settings file.
    QStringList TempLeftovers() const
    {
        QStringList names = QDir(TempFolder()).entryList(QDir::Files | QDir::System | QDir::Hidden);
        names.removeAll(QStringLiteral("nx7ifbprog.ini"));
        return names;
    }

    // The result box's fixed text of `outcome`, naming the configured uploader (its file is "espota").
    QString FixedDetail(WriteOutcome outcome) const
    {
        QString text = WriteResultFor(outcome).detail;
        return text.replace(QStringLiteral("espota.exe"), QFileInfo(app.Settings.App_ESPOta).fileName());
    }

    void ExpectResult(WriteOutcome outcome)
    {
        WriteResultTexts texts = WriteResultFor(outcome);
        texts.detail = FixedDetail(outcome);
        ASSERT_EQ(ui.results.size(), 1);
        EXPECT_EQ(ui.results.first().caption, QStringLiteral("書き込み結果"));
        EXPECT_EQ(ui.results.first().verdict, texts.verdict);
        EXPECT_EQ(ui.results.first().verdictRgb, texts.verdictRgb);
        // The fixed text first; what most likely went wrong below it.
        const QString& detail = ui.results.first().detail;
        EXPECT_TRUE(detail.startsWith(texts.detail)) << detail.toStdString();
        if (outcome == WriteOutcome::Success) {
            EXPECT_EQ(detail, texts.detail);
        }
        // The closing lines end the log, right after the elapsed time.
        ASSERT_GE(log.lines.size(), texts.closingLines.size() + 1);
        EXPECT_EQ(log.lines.mid(log.lines.size() - texts.closingLines.size()), texts.closingLines);
        const QString timeLine = log.lines.at(log.lines.size() - texts.closingLines.size() - 1);
        EXPECT_TRUE(timeLine.startsWith(QStringLiteral("実行時間: ")) &&
                    timeLine.endsWith(QStringLiteral("ms")))
            << timeLine.toStdString();
        EXPECT_TRUE(TempLeftovers().isEmpty()) << TempLeftovers().join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(ui.progressOpen, 0);
    }

    QTemporaryDir dir;
    QString root;
    QString ini;
    QString record;
    QString uploader;
    QByteArray image;
    e2e::Simulator sim;
    FlowUi ui;
    MemoryLog log;
    AppCore app{ui, log};
    std::shared_ptr<diag::test::FakeNetwork> net = std::make_shared<diag::test::FakeNetwork>();
    QList<bool> mainEnabled;
    QList<bool> writeAvailable;
};

TEST_F(OtaFlowTest, SuccessfulWrite)
{
    Start({});
    FileSave1Execute(app);
    EXPECT_EQ(mainEnabled, (QList<bool>{false, true}));

    ASSERT_EQ(ui.messageDialogs.size(), 1);
    const MessageDialogRequest& join = ui.messageDialogs.first();
    EXPECT_EQ(join.caption, QStringLiteral("OTA経由のアップデート開始"));
    EXPECT_EQ(join.message1, QStringLiteral("パソコンを以下のWi-Fiアクセスポイント\nに接続してください。"));
    EXPECT_EQ(join.message2, QStringLiteral("接続完了後OKを押してください。\n書き込みが開始されます。"));
    // The fixed lines, then what the write will change.
    EXPECT_EQ(join.memoLines, (QStringList{QStringLiteral("SSID      : IFB-SIM-OTA"),
                                           QStringLiteral("Password  : MervoxTqLu"),
                                           QStringLiteral("Version   : 3030KMT26 → 3030KMT27")}));
    EXPECT_TRUE(log.Contains(QStringLiteral("バージョン: 3030KMT26 → 3030KMT27")));

    // The network checks passed: the PC's address and the fixed host port go to the uploader.
    EXPECT_EQ(UploaderArgs(), (QStringList{uploader, "-i", "192.168.4.1", "-p", "3232", "-I", "192.168.4.2",
                                           "-P", "3233", "--auth=KW5GDH4072", "-f", TempPath()}));
    EXPECT_TRUE(ui.messages.isEmpty());
    // Verbose log on: the command line is logged as handed to the interpreter.
    EXPECT_TRUE(
        log.Contains(QuoteForInterpreter(uploader) +
                     QStringLiteral(" -i 192.168.4.1 -p 3232 -I 192.168.4.2 -P 3233 --auth=KW5GDH4072 -f ") +
                     QuoteForInterpreter(TempPath())));
    QFile copy(dir.filePath(QStringLiteral("image-copy")));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), image);
    // A fresh name in the settings folder, readable by the user only.
    EXPECT_TRUE(TempPath().startsWith(TempFolder() + QStringLiteral("/UOf-")));
    EXPECT_TRUE(TempPath().endsWith(QStringLiteral(".bin")));
    QFile mode(dir.filePath(QStringLiteral("image-mode")));
    ASSERT_TRUE(mode.open(QIODevice::ReadOnly));
    EXPECT_EQ(mode.readAll().trimmed(), QByteArray("600"));

    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestart, kProbe, kModel, kRom, kRestoreMode1, kRestart}));
    ExpectResult(WriteOutcome::Success);
    EXPECT_TRUE(log.Contains(QStringLiteral("IFB-ROMVer : 3030KMT27")));
    EXPECT_TRUE(log.Contains(QStringLiteral("OK: Program Update")));
    EXPECT_TRUE(log.raw.join(QString()).contains(QStringLiteral("100% Done...")));
    EXPECT_EQ(ui.percents.last(), 100);
    EXPECT_TRUE(std::any_of(log.lines.begin(), log.lines.end(), [](const QString& l) {
        return l.startsWith(QStringLiteral("Connection: ")) && l.endsWith(QStringLiteral("ms"));
    }));

    // The progress dialogs: the link wait, then the write with its banner.
    ASSERT_EQ(ui.progress.size(), 2);
    EXPECT_EQ(ui.progress.at(0).label, QStringLiteral("------- Check WiFi AP Connection ----------"));
    EXPECT_EQ(ui.progress.at(1).label, QStringLiteral("------- WiFi OTA Mode ----------"));
    EXPECT_EQ(ui.progress.at(0).caption, QStringLiteral("しばらくお待ちください"));
    EXPECT_FALSE(ui.progress.at(0).banner);
    EXPECT_FALSE(ui.progress.at(0).marquee || ui.progress.at(1).marquee);
    EXPECT_TRUE(ui.progress.at(1).banner);
    EXPECT_EQ(ui.progress.at(1).caption, QStringLiteral("しばらくお待ちください"));
    // The link wait puts its title into the status bar; the write empties it.
    EXPECT_EQ(ui.statusTexts, (QStringList{ui.progress.at(0).label, QString()}));

    EXPECT_EQ(writeAvailable, QList<bool>{false});
    EXPECT_FALSE(app.WriteCommandAvailable);
    EXPECT_EQ(app.Settings.ProgMode, 1);
    EXPECT_EQ(app.ApRecord.OtaPort, 3232);
    EXPECT_EQ(app.NetParams.Port, 3232);
    EXPECT_EQ(app.NetParams.IPAddr, 192u | (168u << 8) | (4u << 16) | (1u << 24));
    EXPECT_EQ(app.RomVersion, QStringLiteral("3030KMT27"));
    EXPECT_EQ(app.ModelName, QStringLiteral("PB-RL11"));
}

TEST_F(OtaFlowTest, BoardReportsFailure)
{
    Start({QStringLiteral("--ota-result"), QStringLiteral("BR")});
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestoreMode1, kRestart}));
    EXPECT_TRUE(log.Contains(QStringLiteral("NG: Program Update")));
    ExpectResult(WriteOutcome::Aborted);
    EXPECT_FALSE(app.WriteCommandAvailable);
}

// One guided retry: only for failures a fresh start of the board's update service may cure, asked
// once, the board restarted and put into OTA mode again before the uploader runs a second time.
struct RetryCase {
    const char* name;
    const char* output; // the first run's output (exit 1)
    bool laterOk;       // the second run prints a whole upload
    MsgResult answer;
    bool asked;
    bool retried;
    WriteOutcome outcome;
    const char* firstClass;
};

class OtaFlowRetryTest : public OtaFlowTest, public ::testing::WithParamInterface<RetryCase>
{
};

const char* const kTransferLost = "Sending invitation to 192.168.4.1 \nAuthenticating...OK\n"
                                  "Uploading: [====      ] 45% \n"
                                  "14:01:40 [ERROR]: Error Uploading: timed out\n";
const char* const kAuthNoAnswer =
    "Sending invitation to 192.168.4.1 \nAuthenticating...FAIL\n"
    "14:01:10 [ERROR]: Authentication Failed: No Answer to our Authentication\n";
const char* const kNoConnectBack = "Sending invitation to 192.168.4.1 \nAuthenticating...OK\n"
                                   "14:01:20 [ERROR]: No response from device\n";
const char* const kAuthRefused = "Sending invitation to 192.168.4.1 \nAuthenticating...FAIL\n"
                                 "14:01:00 [ERROR]: Authentication Failed: Authentication Failed\n";

TEST_P(OtaFlowRetryTest, TransientFailuresAreOfferedOneRetry)
{
    const RetryCase& c = GetParam();
    Uploader u;
    u.output = c.output;
    u.exitCode = 1;
    if (c.laterOk)
        u.later = Uploader().output;
    // The board announces nothing for the broken first upload, and OK for a whole second one.
    Start(c.laterOk ? QStringList{QStringLiteral("--ota-result-from-session"), QStringLiteral("2")}
                    : QStringList{QStringLiteral("--ota-result"), QStringLiteral("none")},
          u);
    ui.answers = {c.answer, c.answer};
    EXPECT_EQ(RunOtaUpdate(app).Ok(), c.outcome == WriteOutcome::Success);

    QList<MessageRequest> questions;
    for (const MessageRequest& m : ui.messages) {
        if (m.caption == QStringLiteral("書き込みの再試行"))
            questions.append(m);
    }
    ASSERT_EQ(questions.size(), c.asked ? 1 : 0);
    const QString first = QStringLiteral("書き込み 1 回目: NG（%1）").arg(QLatin1String(c.firstClass));
    EXPECT_EQ(log.Contains(first), c.asked);
    if (c.asked) {
        EXPECT_EQ(questions.first().buttons, MsgButtons::YesNo);
        // The question says what went wrong with the first attempt.
        EXPECT_TRUE(questions.first().text.contains(QStringLiteral("原因: ")));
    }
    // A retry is the board restarted and asked for OTA mode again, then a second upload.
    const int otaRequests = static_cast<int>(Frames().count(kOtaMode));
    EXPECT_EQ(otaRequests, c.retried ? 2 : 1);
    EXPECT_EQ(log.Contains(QStringLiteral(
                  "再試行します（2 回目）: I/Fボードを再起動して、アクセスポイントを待ちます。")),
              c.retried);
    if (c.retried) {
        EXPECT_TRUE(
            log.Contains(c.outcome == WriteOutcome::Success
                             ? QStringLiteral("書き込み 2 回目: OK")
                             : QStringLiteral("書き込み 2 回目: NG（%1）").arg(QLatin1String(c.firstClass))));
        const QStringList frames = Frames();
        const qsizetype firstOta = frames.indexOf(kOtaMode);
        const qsizetype secondOta = frames.indexOf(kOtaMode, firstOta + 1);
        EXPECT_TRUE(frames.mid(firstOta, secondOta - firstOta).contains(kRestart));
    }
    if (c.asked && !c.retried) {
        EXPECT_TRUE(log.Contains(QStringLiteral("再試行しませんでした。")));
    }
    ExpectResult(c.outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OtaFlowRetryTest,
    ::testing::Values(RetryCase{"TransferLostRetriedToOk", kTransferLost, true, MsgResult::Yes, true, true,
                                WriteOutcome::Success, "transfer-lost"},
                      RetryCase{"NoConnectBackRetriedToOk", kNoConnectBack, true, MsgResult::Yes, true, true,
                                WriteOutcome::Success, "no-connect-back"},
                      RetryCase{"AuthNoAnswerDeclined", kAuthNoAnswer, true, MsgResult::No, true, false,
                                WriteOutcome::UploaderError, "auth-no-answer"},
                      RetryCase{"SecondFailureIsNotAskedAgain", kTransferLost, false, MsgResult::Yes, true,
                                true, WriteOutcome::UploaderError, "transfer-lost"},
                      RetryCase{"RefusedPasswordIsNotRetried", kAuthRefused, true, MsgResult::Yes, false,
                                false, WriteOutcome::UploaderError, "auth-refused"}),
    [](const ::testing::TestParamInfo<RetryCase>& info) { return std::string(info.param.name); });

TEST_F(OtaFlowTest, BoardRejectingTheWholeImageIsNotRetried)
{
    Start({QStringLiteral("--ota-result"), QStringLiteral("BR")});
    ui.defaultAnswer = MsgResult::Yes;
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(Frames().count(kOtaMode), 1);
    ExpectResult(WriteOutcome::Aborted);
}

TEST_F(OtaFlowTest, NoNotificationTimesOutAndOffersTheWriteAgain)
{
    Uploader u;
    u.output = kUnconfirmedUpload;
    Start({QStringLiteral("--ota-result"), QStringLiteral("none")}, u);
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestoreMode1, kRestart}));
    EXPECT_TRUE(log.Contains(QStringLiteral("NG: Time Over")));
    ExpectResult(WriteOutcome::Timeout);
    EXPECT_EQ(writeAvailable, (QList<bool>{false, true}));
    EXPECT_TRUE(app.WriteCommandAvailable);
}

TEST_F(OtaFlowTest, HungUploaderIsEndedAtTheTimeLimit)
{
    Uploader u;
    u.sleepSeconds = 30;
    u.after = "uploader went on\n";
    Start({QStringLiteral("--ota-result"), QStringLiteral("none")}, u);
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_FALSE(log.raw.join(QString()).contains(QStringLiteral("uploader went on")));
    EXPECT_TRUE(log.Contains(QStringLiteral("NG: Time Over")));
    ExpectResult(WriteOutcome::Timeout);
}

TEST_F(OtaFlowTest, SuccessReportedDuringAHungUploadIsHonouredAfterTheLimit)
{
    Uploader u;
    u.sleepSeconds = 30;
    Start({}, u);
    EXPECT_TRUE(RunOtaUpdate(app));
    ExpectResult(WriteOutcome::Success);
}

TEST_F(OtaFlowTest, ErrorWordWhileTheBoardSaysOk)
{
    Uploader u;
    u.output = "Uploading....\n12:00:03 [Uploading] Error: transient\n";
    Start({}, u);
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_FALSE(app.ToolOutputClean);
    // The restarted board is still asked, but the unclean output decides.
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestart, kProbe, kModel, kRom, kRestoreMode1, kRestart}));
    EXPECT_FALSE(std::any_of(log.lines.begin(), log.lines.end(),
                             [](const QString& l) { return l.startsWith(QStringLiteral("IFB-ROMVer")); }));
    EXPECT_TRUE(log.Contains(QStringLiteral("NG: Program Update")));
    ExpectResult(WriteOutcome::Aborted);
}

TEST_F(OtaFlowTest, RomVersionOneCharacterLongerAfterTheRestart)
{
    Start({QStringLiteral("--rom-after-update"), QStringLiteral("3030KMT27X")});
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_TRUE(log.Contains(QStringLiteral("IFB-ROMVer : 3030KMT27X")));
    EXPECT_TRUE(log.Contains(QStringLiteral("NG: Program Update")));
    EXPECT_EQ(app.RomVersion, QStringLiteral("3030KMT27X"));
    ExpectResult(WriteOutcome::Aborted);
}

TEST_F(OtaFlowTest, UpperCaseErrorWithAWifiAddressOnTheBoardNetworkGoesOn)
{
    Uploader u;
    u.output = "12:00:01 [ERROR]: No response from the ESP\n";
    Start({}, u);
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_FALSE(log.Contains(QStringLiteral("PC側IPアドレスの自動割付に失敗しました。")));
    EXPECT_FALSE(log.Contains(QStringLiteral("NG: ERROR espota.exe")));
    ExpectResult(WriteOutcome::Aborted);
}

TEST_F(OtaFlowTest, UpperCaseErrorWithoutAWifiAddressIsAnUploaderError)
{
    UseAdapters(QStringLiteral("Ethernet=192.168.0.3;Wi-Fi=192.168.1.20"));
    Uploader u;
    u.output = "12:00:01 [ERROR]: No response from the ESP\n";
    u.sleepSeconds = 30;
    u.after = "uploader went on\n";
    Start({}, u);
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_LT(t.elapsed(), 10000);
    const qsizetype at = log.lines.indexOf(QStringLiteral("PC側IPアドレスの自動割付に失敗しました。"));
    ASSERT_GE(at, 0);
    EXPECT_EQ(log.lines.mid(at, 4),
              (QStringList{QStringLiteral("PC側IPアドレスの自動割付に失敗しました。"),
                           QStringLiteral("PCのセキュリティ設定などを確認してください。"), QString(),
                           QStringLiteral("NG: ERROR espota.exe")}));
    // No verdict is awaited: the board is restored at once.
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestoreMode1, kRestart}));
    ExpectResult(WriteOutcome::UploaderError);
    EXPECT_FALSE(app.WriteCommandAvailable);
}

TEST_F(OtaFlowTest, DecliningTheJoinDialogRestartsTheBoardWithoutAResult)
{
    ui.messageDialogAnswer = 2;
    Start({});
    QElapsedTimer t;
    t.start();
    FileSave1Execute(app);
    EXPECT_GE(t.elapsed(), 2000);
    EXPECT_EQ(Frames(), (QStringList{kApInfo, kOtaMode, kRestart}));
    EXPECT_TRUE(UploaderArgs().isEmpty());
    EXPECT_TRUE(ui.results.isEmpty());
    EXPECT_TRUE(writeAvailable.isEmpty());
    EXPECT_TRUE(app.WriteCommandAvailable);
    EXPECT_EQ(mainEnabled, (QList<bool>{false, true}));
}

TEST_F(OtaFlowTest, NoStationJoinsIsATimeOutAndTheWriteCanBeRetried)
{
    Start({QStringLiteral("--no-station")});
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_TRUE(log.Contains(QStringLiteral("Not Connection")));
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestoreMode1, kRestart}));
    EXPECT_TRUE(UploaderArgs().isEmpty());
    ExpectResult(WriteOutcome::Timeout);
    EXPECT_TRUE(app.WriteCommandAvailable);
    EXPECT_EQ(app.Settings.ProgMode, 0);
}

TEST_F(OtaFlowTest, ZeroConnectionTimeMakesExactlyOneStatusRequest)
{
    Start({QStringLiteral("--no-station")});
    app.Settings.CONECT_WAIT_TIME = 0;
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_EQ(Frames(), (QStringList{kApInfo, kOtaMode, kStatus, kRestoreMode1, kRestart}));
    ExpectResult(WriteOutcome::Timeout);
}

TEST_F(OtaFlowTest, StatusAnsweredAfterTheConnectionTimeStillCounts)
{
    // The first poll fails well inside the time, the second comes after the half-second sleep.
    Start({QStringLiteral("--station-after-polls"), QStringLiteral("2")});
    app.Settings.CONECT_WAIT_TIME = 450;
    EXPECT_TRUE(RunOtaUpdate(app));
    EXPECT_EQ(Frames().mid(0, 4), (QStringList{kApInfo, kOtaMode, kStatus, kStatus}));
    EXPECT_FALSE(log.Contains(QStringLiteral("Not Connection")));
    ExpectResult(WriteOutcome::Success);
}

TEST_F(OtaFlowTest, ElapsedTimeRunsFromTheLinkWaitUntilTheResultDialogClosed)
{
    JumpClock clock;
    ui.whileResultOpen = [&clock] { clock.jump += 100000; };
    Start({});
    EXPECT_TRUE(RunOtaUpdate(app));
    const qint64 connected = LoggedMs(log.lines, QStringLiteral("Connection: "));
    const qint64 elapsed = LoggedMs(log.lines, QStringLiteral("実行時間: "));
    EXPECT_GE(connected, 0);
    EXPECT_LT(connected, 100000);
    EXPECT_GE(elapsed, 100000);
    EXPECT_LT(elapsed, 200000);
}

TEST_F(OtaFlowTest, MissingImageLeavesOtaModeWithoutAResult)
{
    Start({});
    SetFirmwareResourceRoot(dir.filePath(QStringLiteral("empty-folder")));
    FileSave1Execute(app);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages.first().caption, QStringLiteral("エラー"));
    EXPECT_TRUE(ui.messages.first().text.contains(FirmwareResourcePath(QStringLiteral("3030KMT27"))));
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestoreMode1, kRestart}));
    EXPECT_TRUE(UploaderArgs().isEmpty());
    EXPECT_TRUE(ui.results.isEmpty());
    EXPECT_TRUE(app.WriteCommandAvailable);
    EXPECT_EQ(mainEnabled, (QList<bool>{false, true}));
    EXPECT_EQ(ui.progressOpen, 0);
}

TEST_F(OtaFlowTest, UnwritableTemporaryFileIsReportedAndTheBoardRestored)
{
    Start({});
    // A file where the image folder should be: no write succeeds there, whoever runs the test.
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    ASSERT_TRUE(QDir().mkpath(blocked));
    QFile plug(blocked + QStringLiteral("/Orvanta"));
    ASSERT_TRUE(plug.open(QIODevice::WriteOnly));
    plug.close();
    SetExecutablePathOverride(blocked + QStringLiteral("/nx7ifbprog"));
    // The per-user folder, the fallback for an unwritable executable folder, is blocked the same way.
    const QByteArray savedConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", (blocked + QStringLiteral("/Orvanta/config")).toLocal8Bit());
    const QString folder = SettingsFolder();
    FileSave1Execute(app);
    if (savedConfigHome.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", savedConfigHome);
    EXPECT_EQ(folder, blocked + QStringLiteral("/Orvanta/config/Orvanta/"));
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages.first().caption, QStringLiteral("エラー"));
    EXPECT_EQ(ui.messages.first().text, kImageWriteError + folder);
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestoreMode1, kRestart}));
    EXPECT_TRUE(UploaderArgs().isEmpty());
    EXPECT_TRUE(ui.results.isEmpty());
    EXPECT_TRUE(app.WriteCommandAvailable);
    EXPECT_EQ(mainEnabled, (QList<bool>{false, true}));
}

TEST_F(OtaFlowTest, PlantedLinkAtTheOldNameIsNeverWrittenThrough)
{
    Start({});
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    QFile v(victim);
    ASSERT_TRUE(v.open(QIODevice::WriteOnly));
    v.write("keep me");
    v.close();
    ASSERT_TRUE(QFile::link(victim, TempFolder() + QStringLiteral("/UOf.bin")));
    EXPECT_TRUE(RunOtaUpdate(app));
    ASSERT_TRUE(v.open(QIODevice::ReadOnly));
    EXPECT_EQ(v.readAll(), QByteArray("keep me"));
    EXPECT_NE(TempPath(), TempFolder() + QStringLiteral("/UOf.bin"));
    QFile::remove(TempFolder() + QStringLiteral("/UOf.bin"));
    ExpectResult(WriteOutcome::Success);
}

TEST_F(OtaFlowTest, WriteCommandRefusesWithoutAnEngine)
{
    FileSave1Execute(app);
    EXPECT_TRUE(mainEnabled.isEmpty());
    EXPECT_TRUE(ui.messageDialogs.isEmpty());
    EXPECT_FALSE(RunOtaUpdate(app));
}

// Which lines a write leaves with the verbose log off: the forced ones only.
struct LogCase {
    const char* name;
    QStringList simArgs;
    QString adapters;        // empty: a Wi-Fi adapter on the board's network
    QByteArray uploaderOut;  // empty: a clean upload
    QStringList forced;      // line prefixes that must be there
    QStringList verboseOnly; // line prefixes that must not
};

void PrintTo(const LogCase& c, std::ostream* os)
{
    *os << c.name;
}

class OtaFlowLogTest : public OtaFlowTest, public ::testing::WithParamInterface<LogCase>
{
};

TEST_P(OtaFlowLogTest, OnlyForcedLinesWithoutVerboseLog)
{
    const LogCase& c = GetParam();
    if (!c.adapters.isEmpty())
        UseAdapters(c.adapters);
    Uploader u;
    if (!c.uploaderOut.isEmpty())
        u.output = c.uploaderOut;
    Start(c.simArgs, u);
    app.VerboseLog = false;
    RunOtaUpdate(app);

    const auto has = [this](const QString& prefix) {
        return std::any_of(log.lines.begin(), log.lines.end(),
                           [&prefix](const QString& l) { return l.startsWith(prefix); });
    };
    for (const QString& line : c.forced)
        EXPECT_TRUE(has(line)) << line.toStdString();
    for (const QString& line : c.verboseOnly)
        EXPECT_FALSE(has(line)) << line.toStdString();
    // The command line carries the upload password.
    EXPECT_FALSE(log.lines.join(QLatin1Char('\n')).contains(QStringLiteral("--auth=")));
}

const QString kTimeOut1 = QStringLiteral("NG:タイムアウトしました。");
const QString kTimeOut2 = QStringLiteral("接続を確認し、もう一度書き込みを行ってください。");
const QString kAborted1 = QStringLiteral("NG:ファームウェアの書き込みを中止しました。");
const QString kAborted2 = QStringLiteral("ソフトを再起動し、もう一度書き込みを行ってください。");
const QString kElapsed = QStringLiteral("実行時間: ");

INSTANTIATE_TEST_SUITE_P(
    Endings, OtaFlowLogTest,
    ::testing::Values(LogCase{"success",
                              {},
                              {},
                              {},
                              {QStringLiteral("Connection: "), QStringLiteral("IFB-ROMVer : 3030KMT27"),
                               QStringLiteral("OK:ファームウェア書き込みが正常に完了しました。")},
                              {QStringLiteral("OK: Program Update"), kElapsed}},
                      LogCase{"board failure",
                              {QStringLiteral("--ota-result"), QStringLiteral("BR")},
                              {},
                              {},
                              {QStringLiteral("Connection: "), kAborted1, kAborted2},
                              {QStringLiteral("NG: Program Update"), kElapsed}},
                      LogCase{"time-out",
                              {QStringLiteral("--ota-result"), QStringLiteral("none")},
                              {},
                              kUnconfirmedUpload,
                              {QStringLiteral("Connection: "), kTimeOut1, kTimeOut2},
                              {QStringLiteral("NG: Time Over"), kElapsed}},
                      LogCase{"no station",
                              {QStringLiteral("--no-station")},
                              {},
                              {},
                              {QStringLiteral("Not Connection"), kTimeOut1},
                              {kElapsed}},
                      LogCase{"uploader error",
                              {},
                              QStringLiteral("Wi-Fi=192.168.1.20"),
                              "12:00:01 [ERROR]: No response from the ESP\n",
                              {QStringLiteral("PC側IPアドレスの自動割付に失敗しました。"), kAborted1},
                              {QStringLiteral("NG: ERROR espota.exe"), kElapsed}}),
    [](const ::testing::TestParamInfo<LogCase>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

} // namespace

namespace
{

TEST_F(OtaFlowTest, BoardThatRefusesOtaModeEndsTheWriteAtOnce)
{
    Start({QStringLiteral("--fault"), QStringLiteral("nack 0B 04")});
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_LT(t.elapsed(), 3000);
    // No join dialog, no link wait: the mode is restored and the board restarted.
    EXPECT_TRUE(ui.messageDialogs.isEmpty());
    EXPECT_EQ(Frames(), (QStringList{kApInfo, kOtaMode, kRestoreMode1, kRestart}));
    EXPECT_TRUE(log.Contains(QStringLiteral("I/FボードがOTAモードへの切り替えを拒否しました。")));
    EXPECT_FALSE(log.Contains(QStringLiteral("Not Connection")));
    ExpectResult(WriteOutcome::Aborted);
}

TEST_F(OtaFlowTest, SlowBootingBoardIsWaitedForAfterTheUpdate)
{
    // The board needs 1.5 s to boot; the probes bridge that within CHK_IFB_TIME.
    Start({QStringLiteral("--restart-ms"), QStringLiteral("1500")});
    app.Settings.CHK_IFB_TIME = 4000;
    EXPECT_TRUE(RunOtaUpdate(app));
    const QStringList after = FramesAfterPolls();
    ASSERT_GE(after.size(), 5);
    EXPECT_EQ(after.first(), kRestart);
    EXPECT_GE(after.count(kProbe), 2);
    // Model and version are asked only once the board answered, and only once each.
    EXPECT_EQ(after.mid(after.indexOf(kModel)), (QStringList{kModel, kRom, kRestoreMode1, kRestart}));
    ExpectResult(WriteOutcome::Success);
}

TEST_F(OtaFlowTest, FailedUploaderEndsAsUploaderErrorAfterAShortGrace)
{
    Uploader u;
    u.output = "Sending invitation to 192.168.4.1 ..........\n";
    u.after = "";
    Start({QStringLiteral("--ota-result"), QStringLiteral("none")}, u);
    // Make it fail: exit status 1 after its output.
    QFile f(uploader);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("exit 1\n");
    f.close();
    app.Settings.Prog_WAIT_TIME = 60000;
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_LT(t.elapsed(), 15000);
    EXPECT_TRUE(log.Contains(QStringLiteral("アップローダーが終了コード 1 で終了しました。")));
    EXPECT_TRUE(log.Contains(QStringLiteral("NG: ERROR espota.exe")));
    EXPECT_FALSE(log.Contains(QStringLiteral("NG: Time Over")));
    ExpectResult(WriteOutcome::UploaderError);
}

TEST_F(OtaFlowTest, FailedUploaderStillTakesTheBoardsOwnVerdict)
{
    Start({QStringLiteral("--ota-result-delay-ms"), QStringLiteral("1200")});
    QFile f(uploader);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("exit 1\n");
    f.close();
    EXPECT_TRUE(RunOtaUpdate(app));
    ExpectResult(WriteOutcome::Success);
}

TEST_F(OtaFlowTest, MissingUploaderIsReportedAtOnceWithItsPath)
{
    Start({QStringLiteral("--ota-result"), QStringLiteral("none")});
    app.Settings.App_ESPOta = root + QStringLiteral("/bin/no-such-espota");
    app.Settings.Prog_WAIT_TIME = 60000;
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_TRUE(log.Contains(QStringLiteral("アップローダーが見つかりません: 「") + app.Settings.App_ESPOta +
                             QStringLiteral("」")));
    ExpectResult(WriteOutcome::UploaderError);
}

TEST_F(OtaFlowTest, SlowTransferThatKeepsPrintingIsJudgedByTheBoard)
{
    // The transfer prints a dot every 0.3 s for 2.4 s; the limit is one second of silence.
    Uploader u;
    u.output = "Uploading";
    Start({QStringLiteral("--ota-result-delay-ms"), QStringLiteral("2600")}, u);
    QFile f(uploader);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("i=0; while [ $i -lt 8 ]; do printf '.'; sleep 0.3; i=$((i+1)); done; echo\n");
    f.close();
    app.Settings.Prog_WAIT_TIME = 1000;
    EXPECT_TRUE(RunOtaUpdate(app));
    EXPECT_FALSE(log.Contains(QStringLiteral("NG: Time Over")));
    ExpectResult(WriteOutcome::Success);
}

TEST_F(OtaFlowTest, AbortDuringTheUploadEndsItAndRestoresTheBoard)
{
    Uploader u;
    u.sleepSeconds = 30;
    Start({QStringLiteral("--ota-result"), QStringLiteral("none")}, u);
    app.Settings.Prog_WAIT_TIME = 60000;
    // The abort arrives from the event loop while the uploader runs, as a close or a signal would.
    ui.onPercent = [this] { QTimer::singleShot(200, &app, [this] { app.AbortWrite(); }); };
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_TRUE(log.Contains(QStringLiteral("書き込みの中止によりアップローダーを終了しました。")));
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestoreMode1, kRestart}));
    ExpectResult(WriteOutcome::Aborted);
    // A write asked to stop does not start again.
    ui.results.clear();
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_TRUE(ui.results.isEmpty());
}

TEST_F(OtaFlowTest, UnknownModeWordIsNotWrittenBack)
{
    Start({QStringLiteral("--fault"), QStringLiteral("nack 0B 04")});
    app.OperationModeKnown = false;
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_EQ(Frames(), (QStringList{kApInfo, kOtaMode}));
    EXPECT_TRUE(log.Contains(QStringLiteral("動作モードを読み取れなかったため、動作モードは変更しません。")));
}

} // namespace

namespace
{

TEST_F(OtaFlowTest, SilentBoardAfterARestartIsProbedAtMostForTheCheckTime)
{
    Start({QStringLiteral("--fault"), QStringLiteral("silent")});
    app.Settings.CHK_IFB_TIME = 700;
    app.BoardRestarting = true;
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(app.AwaitBoardBack());
    EXPECT_GE(t.elapsed(), 650);
    EXPECT_LT(t.elapsed(), 2000);
    // A probe every few hundred milliseconds, nothing else.
    const QStringList frames = Frames();
    EXPECT_GE(frames.size(), 2);
    EXPECT_LE(frames.size(), 4);
    EXPECT_EQ(frames.count(kProbe), frames.size());
    EXPECT_TRUE(log.Contains(QStringLiteral("I/Fボード再起動: 700ms 以内に応答がありません")));
    // Nothing is pending any more: no further probe.
    EXPECT_TRUE(app.AwaitBoardBack());
    EXPECT_EQ(Frames().size(), frames.size());
}

} // namespace

namespace
{

// Every failure a write can meet ends with its cause and action: in the log after the fixed lines,
// and below the fixed text of the result dialog, with the concrete values of the case.
struct WhyCase {
    const char* name;
    QStringList simArgs;
    QByteArray uploaderOut; // empty: a clean upload
    int exitCode;
    QString adapters;      // empty: a Wi-Fi adapter on the board's network
    bool activeUfw;        // the PC's firewall is on (the person goes on past the check)
    QStringList causeHas;  // pieces of the "原因: " line
    QStringList actionHas; // pieces of the "対処: " line
    QStringList partLines; // fixed lines that stay, before the cause
    WriteOutcome outcome;
};

void PrintTo(const WhyCase& c, std::ostream* os)
{
    *os << c.name;
}

class OtaFlowWhyTest : public OtaFlowTest, public ::testing::WithParamInterface<WhyCase>
{
};

TEST_P(OtaFlowWhyTest, CauseAndActionFollowTheFixedTexts)
{
    const WhyCase& c = GetParam();
    if (!c.adapters.isEmpty())
        UseAdapters(c.adapters);
    if (c.activeUfw) {
        net->firewall.kind = diag::FirewallKind::Ufw;
        net->firewall.active = true;
        ui.answers.push_back(MsgResult::Yes);
    }
    Uploader u;
    if (!c.uploaderOut.isEmpty())
        u.output = c.uploaderOut;
    u.exitCode = c.exitCode;
    Start(c.simArgs, u);
    EXPECT_FALSE(RunOtaUpdate(app));
    ExpectResult(c.outcome);

    // The last cause: a failed network check before the uploader has its own.
    const auto starts = [this](const QString& prefix) {
        for (qsizetype i = log.lines.size() - 1; i >= 0; --i) {
            if (log.lines.at(i).startsWith(prefix))
                return i;
        }
        return qsizetype(-1);
    };
    const qsizetype cause = starts(QStringLiteral("原因: "));
    ASSERT_GE(cause, 0) << log.lines.join(QLatin1Char('\n')).toStdString();
    ASSERT_LT(cause + 1, log.lines.size());
    const QString causeLine = log.lines.at(cause);
    const QString actionLine = log.lines.at(cause + 1);
    EXPECT_TRUE(actionLine.startsWith(QStringLiteral("対処: "))) << actionLine.toStdString();
    for (const QString& piece : c.causeHas)
        EXPECT_TRUE(causeLine.contains(piece)) << causeLine.toStdString() << " lacks " << piece.toStdString();
    for (const QString& piece : c.actionHas)
        EXPECT_TRUE(actionLine.contains(piece))
            << actionLine.toStdString() << " lacks " << piece.toStdString();
    for (const QString& line : c.partLines) {
        const qsizetype at = log.lines.indexOf(line);
        EXPECT_GE(at, 0) << line.toStdString();
        EXPECT_LT(at, cause) << line.toStdString();
    }
    // The result box: its fixed text, then the same two lines.
    EXPECT_EQ(ui.results.first().detail,
              FixedDetail(c.outcome) + QStringLiteral("\n\n") + causeLine + QLatin1Char('\n') + actionLine);
}

const QString kNoWifi = QStringLiteral("Wi-Fi=192.168.1.20");

INSTANTIATE_TEST_SUITE_P(
    Failures, OtaFlowWhyTest,
    ::testing::Values(
        WhyCase{"password_refused",
                {},
                "Sending invitation to 192.168.4.1 \nAuthenticating (MD5 protocol)...FAIL\n"
                "14:01:00 [ERROR]: Authentication Failed: Authentication Failed\n",
                1,
                kNoWifi,
                false,
                {QStringLiteral("アップロード用パスワード")},
                {},
                // The old advice stays, but is no longer all that is said.
                {QStringLiteral("PC側IPアドレスの自動割付に失敗しました。"),
                 QStringLiteral("NG: ERROR espota.exe")},
                WriteOutcome::UploaderError},
        WhyCase{"invitation_unanswered",
                {},
                "Sending invitation to 192.168.4.1 ..........\n14:02:40 [ERROR]: No response from the ESP\n",
                1,
                kNoWifi,
                false,
                {QStringLiteral("192.168.4.1")},
                {QStringLiteral("IFB-SIM-OTA")},
                {QStringLiteral("PC側IPアドレスの自動割付に失敗しました。")},
                WriteOutcome::UploaderError},
        WhyCase{"no_connect_back_behind_ufw",
                {QStringLiteral("--ota-result"), QStringLiteral("none")},
                "Sending invitation to 192.168.4.1 \nAuthenticating...OK\n14:01:20 [ERROR]: No response from "
                "device\n",
                1,
                {},
                true,
                {QStringLiteral("3233"), QStringLiteral("ufw")},
                {QStringLiteral("sudo ufw allow 3233/tcp")},
                {QStringLiteral("NG: ERROR espota.exe")},
                WriteOutcome::UploaderError},
        WhyCase{"transfer_lost",
                {QStringLiteral("--ota-result"), QStringLiteral("none")},
                "Sending invitation to 192.168.4.1 \nAuthenticating...OK\nUploading: [=====     ] 37% \n"
                "14:01:30 [ERROR]: Error Uploading: [Errno 104] Connection reset by peer\n",
                1,
                {},
                false,
                {QStringLiteral("37%")},
                {},
                {QStringLiteral("NG: ERROR espota.exe")},
                WriteOutcome::UploaderError},
        WhyCase{"board_reports_failure",
                {QStringLiteral("--ota-result"), QStringLiteral("BR")},
                {},
                0,
                {},
                false,
                {},
                {},
                {QStringLiteral("NG: Program Update")},
                WriteOutcome::Aborted},
        WhyCase{"no_result_in_time",
                {QStringLiteral("--ota-result"), QStringLiteral("none")},
                kUnconfirmedUpload,
                0,
                {},
                false,
                {diag::NoResultInTime(1500).cause},
                {},
                {QStringLiteral("NG: Time Over")},
                WriteOutcome::Timeout},
        WhyCase{"old_version_after_restart",
                {QStringLiteral("--rom-after-update"), QStringLiteral("3030KMT26")},
                {},
                0,
                {},
                false,
                {QStringLiteral("3030KMT26")},
                {},
                {QStringLiteral("IFB-ROMVer : 3030KMT26"), QStringLiteral("NG: Program Update")},
                WriteOutcome::Aborted},
        WhyCase{
            "access_point_not_joined",
            {QStringLiteral("--no-station")},
            {},
            0,
            {},
            false,
            {QStringLiteral("IFB-SIM-OTA"), QStringLiteral("wlan0 192.168.4.2/24"), QStringLiteral("eth0")},
            {QStringLiteral("IFB-SIM-OTA")},
            {QStringLiteral("Not Connection")},
            WriteOutcome::Timeout}),
    [](const ::testing::TestParamInfo<WhyCase>& info) { return std::string(info.param.name); });

TEST_F(OtaFlowTest, SerialPortLostDuringTheUploadIsNamed)
{
    Uploader u;
    u.sleepSeconds = 1.5;
    Start({}, u);
    const QString device = DeviceOfComName(QStringLiteral("COM9"), ini);
    ASSERT_FALSE(device.isEmpty());
    // The board's side goes away while the uploader runs: the pseudo-terminal vanishes.
    QTimer::singleShot(300, [this] { sim.Kill(); });
    EXPECT_FALSE(RunOtaUpdate(app));
    ASSERT_EQ(ui.results.size(), 1);
    EXPECT_TRUE(ui.results.first().detail.endsWith(diag::SerialPortVanished(device).Block()))
        << ui.results.first().detail.toStdString();
    EXPECT_TRUE(log.Contains(diag::SerialPortVanished(device).Lines().at(0)));
}

TEST_F(OtaFlowTest, LostPortEndsAHangingUploaderAtOnce)
{
    Uploader u;
    u.sleepSeconds = 30;
    Start({QStringLiteral("--ota-result"), QStringLiteral("none")}, u);
    app.Settings.Prog_WAIT_TIME = 60000;
    ui.onPercent = [this] { QTimer::singleShot(200, &app, [this] { sim.Kill(); }); };
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(RunOtaUpdate(app));
    // The board's verdict can no longer be heard: the write ends within moments, not at its limit.
    EXPECT_LT(t.elapsed(), 4000);
    EXPECT_TRUE(
        log.Contains(QStringLiteral("I/Fボードとの接続が切れたため、アップローダーを終了しました。")));
    ASSERT_EQ(ui.results.size(), 1);
    const QString device = DeviceOfComName(QStringLiteral("COM9"), ini);
    EXPECT_TRUE(ui.results.first().detail.endsWith(diag::SerialPortVanished(device).Block()))
        << ui.results.first().detail.toStdString();
    EXPECT_EQ(ui.results.first().verdict, QStringLiteral("NG"));
}

// Over TCP the same: a dropped connection ends the uploader and the write, and the cause names the
// link where it really led (the record too).
TEST_F(OtaFlowTest, DroppedTcpLinkEndsAHangingUploaderAtOnce)
{
    Uploader u;
    u.sleepSeconds = 30;
    WriteUploader(u);
    ASSERT_TRUE(sim.StartTcp({QStringLiteral("--tcp-server"), QStringLiteral("0")}, record,
                             {QStringLiteral("--restart-ms"), QStringLiteral("0"),
                              QStringLiteral("--ota-result"), QStringLiteral("none")}))
        << qPrintable(sim.Stderr());
    app.Initialise(ini);
    app.Settings.UseUSB = 2;
    app.Settings.fTCPServer = 0;
    app.Settings.TCPServAddr = QStringLiteral("127.0.0.1");
    app.Settings.TCPServPort = sim.tcpPort;
    app.Settings.TCPPort = 3335; // the listen port, which a client link does not use
    app.Settings.CONECT_WAIT_TIME = 1000;
    app.Settings.Prog_WAIT_TIME = 60000;
    app.Settings.CHK_IFB_TIME = 1000;
    app.Settings.App_ESPOta = uploader;
    app.SavedOperationMode = 0x0001;
    app.OperationModeKnown = true;
    app.VerboseLog = true;
    app.CreateEngine();
    app.Timer1.start();
    app.Engine()->WaitConnected(true);
    ASSERT_TRUE(app.Engine()->IsConnected());
    ui.onPercent = [this] { QTimer::singleShot(200, &app, [this] { sim.Kill(); }); };
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_TRUE(
        log.Contains(QStringLiteral("I/Fボードとの接続が切れたため、アップローダーを終了しました。")));
    ASSERT_EQ(ui.results.size(), 1);
    const QString place = QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort);
    EXPECT_TRUE(ui.results.first().detail.endsWith(diag::TcpLinkLost(place).Block()))
        << ui.results.first().detail.toStdString();
    QFile csv(diag::WriteRecordPath(SettingsFolder()));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QString last = QString::fromUtf8(csv.readAll()).trimmed().section(QStringLiteral("\r\n"), -1);
    EXPECT_EQ(last.section(QLatin1Char(','), 1, 1), place) << last.toStdString();
    EXPECT_EQ(last.section(QLatin1Char(','), 7, 7), QStringLiteral("link-lost")) << last.toStdString();
}

// The port vanishes while the tool waits for the PC to join the access point: the cause names the
// port, not the PC's Wi-Fi, and the wait ends at once.
TEST_F(OtaFlowTest, LostPortDuringTheAccessPointWaitNamesThePort)
{
    Start({QStringLiteral("--no-station")});
    app.Settings.CONECT_WAIT_TIME = 20000;
    QTimer::singleShot(600, [this] { sim.Kill(); });
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(RunOtaUpdate(app));
    EXPECT_LT(t.elapsed(), 5000);
    ASSERT_EQ(ui.results.size(), 1);
    const QString device = DeviceOfComName(QStringLiteral("COM9"), ini);
    EXPECT_TRUE(ui.results.first().detail.endsWith(diag::SerialPortVanished(device).Block()))
        << ui.results.first().detail.toStdString();
    EXPECT_FALSE(log.Contains(diag::ApNotJoined(app.ApRecord.NetworkName, {}, 20000).Lines().at(0)));
}

// A notification after an uploader that never reached the board is not this write's verdict, even
// when the board already runs the image's version.
TEST_F(OtaFlowTest, StrayOkAfterAnUploaderThatNeverReachedTheBoardIsIgnored)
{
    Uploader u;
    u.output = "Sending invitation to 192.168.4.1 ..........\n12:00:01 [ERROR]: No response from the ESP\n";
    u.exitCode = 1;
    Start({}, u);
    EXPECT_FALSE(RunOtaUpdate(app));
    const auto ignored = std::find_if(log.lines.begin(), log.lines.end(), [](const QString& l) {
        return l.startsWith(QStringLiteral("I/Fボードの書き込み結果通知「OK」（")) &&
               l.endsWith(QStringLiteral("）を無視しました: アップローダーがI/Fボードに届いていません。"));
    });
    EXPECT_NE(ignored, log.lines.end()) << log.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(log.Contains(QStringLiteral("OK: Program Update")));
    // The board is not restarted to be asked for a version that proves nothing.
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestoreMode1, kRestart}));
    ExpectResult(WriteOutcome::UploaderError);
    EXPECT_TRUE(ui.results.first().detail.contains(QStringLiteral("原因: ")));
    // No transfer happened: the record shows no transfer rate.
    QFile csv(diag::WriteRecordPath(SettingsFolder()));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QString last = QString::fromUtf8(csv.readAll()).trimmed().section(QStringLiteral("\r\n"), -1);
    EXPECT_EQ(last.section(QLatin1Char(','), 9, 9), QString()) << last.toStdString();
}

struct MissingNoteCase {
    const char* name;
    const char* romAfter; // the version the restarted board reports
    bool ok;
};

class OtaFlowMissingNoteTest : public OtaFlowTest, public ::testing::WithParamInterface<MissingNoteCase>
{
};

// The uploader saw the board take the whole image, and the board's notification never came: the
// restarted board's version decides.
TEST_P(OtaFlowMissingNoteTest, AcceptedImageIsJudgedByTheRestartedBoard)
{
    const MissingNoteCase& c = GetParam();
    Start({QStringLiteral("--ota-result"), QStringLiteral("none"), QStringLiteral("--rom-version"),
           QString::fromUtf8(c.romAfter)});
    EXPECT_EQ(RunOtaUpdate(app).Ok(), c.ok);
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestart, kProbe, kModel, kRom, kRestoreMode1, kRestart}));
    EXPECT_TRUE(
        log.Contains(QStringLiteral("I/Fボードから書き込み結果の通知がありません。アップローダーが書き込み"
                                    "の完了を確認したため、再起動後のバージョンで判定します。")));
    EXPECT_FALSE(log.Contains(QStringLiteral("NG: Time Over")));
    EXPECT_TRUE(log.Contains(QStringLiteral("IFB-ROMVer : ") + QString::fromUtf8(c.romAfter)));
    if (c.ok) {
        EXPECT_TRUE(log.Contains(
            QStringLiteral("書き込み結果の通知はありませんでしたが、再起動後のバージョンが一致しました。")));
        ExpectResult(WriteOutcome::Success);
    } else {
        EXPECT_TRUE(log.Contains(QStringLiteral("NG: Program Update")));
        ExpectResult(WriteOutcome::Aborted);
        EXPECT_TRUE(ui.results.first().detail.endsWith(
            diag::VersionAfterRestartDiffers(QString::fromUtf8(c.romAfter), app.FirmwareId).Block()));
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, OtaFlowMissingNoteTest,
                         ::testing::Values(MissingNoteCase{"ImageVersion", "3030KMT27", true},
                                           MissingNoteCase{"OldVersion", "3030KMT26", false}),
                         [](const ::testing::TestParamInfo<MissingNoteCase>& info) {
                             return std::string(info.param.name);
                         });

// A stop after the board reported OK, while the restarted board is checked, is a stop, not a
// silent board.
TEST_F(OtaFlowTest, StopDuringTheCheckAfterAGoodTransferIsRecordedAsAborted)
{
    Start({QStringLiteral("--restart-ms"), QStringLiteral("800")});
    // The board restarts after its OK; the stop comes while the tool waits for it to answer.
    ui.onPercent = [this] { QTimer::singleShot(400, &app, [this] { app.AbortWrite(); }); };
    EXPECT_FALSE(RunOtaUpdate(app));
    ASSERT_EQ(ui.results.size(), 1);
    EXPECT_EQ(ui.results.first().verdict, QStringLiteral("NG"));
    EXPECT_TRUE(ui.results.first().detail.endsWith(diag::WriteStopped(QStringLiteral("OK")).Block()))
        << ui.results.first().detail.toStdString();
    EXPECT_FALSE(ui.results.first().detail.contains(QStringLiteral("応答がありません")));
    EXPECT_TRUE(log.Contains(diag::WriteStopped(QStringLiteral("OK")).Lines().at(0)));
}

// While the write runs, the mode to give back is in the settings file, for a run after a crash.
TEST_F(OtaFlowTest, ModeToGiveBackIsKeptInTheSettingsUntilTheWriteEnds)
{
    Start({});
    int during = -2;
    ui.onPercent = [this, &during] {
        TOptionSettings now;
        LoadOptionSettings(ini, now);
        during = now.PendingDousaMode;
    };
    EXPECT_TRUE(RunOtaUpdate(app));
    EXPECT_EQ(during, 0x0001);
    TOptionSettings after;
    LoadOptionSettings(ini, after);
    EXPECT_EQ(after.PendingDousaMode, -1);
}

TEST_F(OtaFlowTest, UploaderThatCannotStartIsNamedWithItsPath)
{
    Start({});
    const QString missing = root + QStringLiteral("/bin/no-such-uploader");
    app.Settings.App_ESPOta = missing;
    EXPECT_FALSE(RunOtaUpdate(app));
    ExpectResult(WriteOutcome::UploaderError);
    const QString detail = ui.results.first().detail;
    EXPECT_TRUE(detail.contains(QStringLiteral("\n\n原因: ")) && detail.contains(missing))
        << detail.toStdString();
    EXPECT_TRUE(log.Contains(QStringLiteral("NG: ERROR espota.exe")));
}

// The checks before the uploader: a failed one is said with its cause and action and the person is
// asked; "no" ends the write before the uploader, "yes" runs it with what could be pinned.
TEST_F(OtaFlowTest, FailedNetworkCheckAsksAndNoEndsTheWriteBeforeTheUploader)
{
    net->adapters = {diag::test::Adapter(QStringLiteral("eth0"), false, {QStringLiteral("10.0.0.5/24")})};
    net->route = diag::test::Via(QStringLiteral("eth0"));
    Start({});
    EXPECT_FALSE(RunOtaUpdate(app));
    ASSERT_EQ(ui.messages.size(), 1);
    const MessageRequest& ask = ui.messages.first();
    EXPECT_EQ(ask.buttons, MsgButtons::YesNo);
    EXPECT_EQ(ask.caption, QStringLiteral("ネットワークの確認"));
    EXPECT_TRUE(ask.defaultNo) << "Enter must not go on despite the failed check";
    EXPECT_TRUE(ask.text.contains(QStringLiteral("原因: ")) &&
                ask.text.contains(QStringLiteral("192.168.4.1")) &&
                ask.text.contains(QStringLiteral("対処: ")))
        << ask.text.toStdString();
    EXPECT_TRUE(UploaderArgs().isEmpty());
    EXPECT_TRUE(std::any_of(log.lines.begin(), log.lines.end(),
                            [](const QString& l) { return l.startsWith(QStringLiteral("原因: ")); }));
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestoreMode1, kRestart}));
    ExpectResult(WriteOutcome::Aborted);
}

TEST_F(OtaFlowTest, GoingOnPastAFailedCheckPinsOnlyTheHostPort)
{
    net->adapters = {diag::test::Adapter(QStringLiteral("eth0"), false, {QStringLiteral("10.0.0.5/24")})};
    ui.answers.push_back(MsgResult::Yes);
    Start({});
    EXPECT_TRUE(RunOtaUpdate(app));
    EXPECT_EQ(UploaderArgs(), (QStringList{uploader, "-i", "192.168.4.1", "-p", "3232", "-P", "3233",
                                           "--auth=KW5GDH4072", "-f", TempPath()}));
    ExpectResult(WriteOutcome::Success);
}

TEST_F(OtaFlowTest, HostPortSettingZeroLeavesThePortToTheUploader)
{
    Start({});
    app.Settings.OtaHostPort = 0;
    EXPECT_TRUE(RunOtaUpdate(app));
    EXPECT_EQ(UploaderArgs(), (QStringList{uploader, "-i", "192.168.4.1", "-p", "3232", "-I", "192.168.4.2",
                                           "--auth=KW5GDH4072", "-f", TempPath()}));
    EXPECT_EQ(net->boundPort, 0);
}

TEST_F(OtaFlowTest, EqualVersionsAreSaidInTheJoinDialog)
{
    Start({});
    app.RomVersion = QStringLiteral("3030KMT27");
    EXPECT_TRUE(RunOtaUpdate(app));
    ASSERT_EQ(ui.messageDialogs.size(), 1);
    EXPECT_EQ(ui.messageDialogs.first().memoLines.last(),
              QStringLiteral("Version   : ") +
                  diag::VersionChangeText(QStringLiteral("3030KMT27"), QStringLiteral("3030KMT27")));
    EXPECT_TRUE(ui.messageDialogs.first().memoLines.last().contains(QStringLiteral("同じバージョン")));
}

// With the check after a second restart on, a good write restarts the board once more and reads
// its version again: an image the board rolls back on that start is NG with its cause and action.
struct SecondRestartCase {
    const char* name;
    QStringList simArgs;
    bool ok;
};

class OtaFlowSecondRestartTest : public OtaFlowTest, public ::testing::WithParamInterface<SecondRestartCase>
{
};

TEST_P(OtaFlowSecondRestartTest, VersionIsReadAgainAfterOneMoreRestart)
{
    const SecondRestartCase& c = GetParam();
    Start(c.simArgs);
    app.Settings.VerifyAfterReboot = 1;
    EXPECT_EQ(RunOtaUpdate(app).Ok(), c.ok);
    EXPECT_EQ(FramesAfterPolls(),
              (QStringList{kRestart, kProbe, kModel, kRom, kRestart, kProbe, kRom, kRestoreMode1, kRestart}));
    const auto romLines = std::count_if(log.lines.begin(), log.lines.end(), [](const QString& l) {
        return l.startsWith(QStringLiteral("IFB-ROMVer : "));
    });
    EXPECT_EQ(romLines, 2);
    if (c.ok) {
        ExpectResult(WriteOutcome::Success);
        return;
    }
    ExpectResult(WriteOutcome::Aborted);
    const diag::CauseAction why =
        diag::VersionAfterRestartDiffers(QStringLiteral("3030KMT26"), QStringLiteral("3030KMT27"));
    EXPECT_TRUE(ui.results.first().detail.endsWith(why.Block())) << ui.results.first().detail.toStdString();
    EXPECT_TRUE(log.Contains(why.Lines().at(0)));
    EXPECT_TRUE(log.Contains(QStringLiteral("IFB-ROMVer : 3030KMT26")));
    EXPECT_TRUE(log.Contains(QStringLiteral("NG: Program Update")));
    EXPECT_EQ(app.RomVersion, QStringLiteral("3030KMT26"));
    QFile results(TempFolder() + QStringLiteral("/log/results.csv"));
    ASSERT_TRUE(results.open(QIODevice::ReadOnly));
    EXPECT_TRUE(results.readAll().contains(",3030KMT26,3030KMT26,NG,version-after-restart,"));
}

INSTANTIATE_TEST_SUITE_P(
    Boards, OtaFlowSecondRestartTest,
    ::testing::Values(SecondRestartCase{"Stays", {}, true},
                      SecondRestartCase{"RollsBack",
                                        {QStringLiteral("--rom-version"), QStringLiteral("3030KMT26"),
                                         QStringLiteral("--rom-after-update"), QStringLiteral("3030KMT27"),
                                         QStringLiteral("--roll-back")},
                                        false}),
    [](const ::testing::TestParamInfo<SecondRestartCase>& info) { return std::string(info.param.name); });

TEST_F(OtaFlowTest, WithoutTheSettingNoSecondRestart)
{
    Start({QStringLiteral("--rom-version"), QStringLiteral("3030KMT26"), QStringLiteral("--rom-after-update"),
           QStringLiteral("3030KMT27"), QStringLiteral("--roll-back")});
    ASSERT_EQ(app.Settings.VerifyAfterReboot, 0);
    EXPECT_TRUE(RunOtaUpdate(app));
    EXPECT_EQ(FramesAfterPolls(), (QStringList{kRestart, kProbe, kModel, kRom, kRestoreMode1, kRestart}));
}

// The automatic join as the write sees it, recorded; the real one is tested on its own.
struct FakeJoinLog {
    bool available = true;
    AutoJoinResult result{true, {}, {}};
    int made = 0;
    int joins = 0;
    int restores = 0;
    QString ssid;
    QString password;
};

class FakeJoin : public AutoJoin
{
public:
    explicit FakeJoin(FakeJoinLog& log)
        : m_log(log)
    {
    }
    bool Available() override { return m_log.available; }
    AutoJoinResult Join(const QString& ssid, const QString& password, int,
                        const std::function<void(const QString&)>& progress,
                        const std::function<bool()>& abort) override
    {
        ++m_log.joins;
        m_log.ssid = ssid;
        m_log.password = password;
        progress(QStringLiteral("自動接続: 接続中..."));
        if (abort())
            return AutoJoinResult{false, QStringLiteral("cancelled"), {}};
        return m_log.result;
    }
    void Restore() override { ++m_log.restores; }

private:
    FakeJoinLog& m_log;
};

struct AutoJoinCase {
    const char* name;
    int setting; // AutoJoinAP
    bool available;
    bool joinOk;
    bool cancel;      // Cancel pressed while the join runs
    int dialogAnswer; // the answer to a question that stays open: 1 OK, else cancel
    bool written;     // the write went on to its verdict
    bool autoTexts;   // the join question says the join is automatic
    bool fellBack;    // the question turned into the manual one with the reason
    int joins;
    int restores;
};

class OtaFlowAutoJoinTest : public OtaFlowTest, public ::testing::WithParamInterface<AutoJoinCase>
{
protected:
    void TearDown() override
    {
        SetAutoJoinFactory([] { return std::unique_ptr<AutoJoin>(); });
        OtaFlowTest::TearDown();
    }
};

const QStringList kJoinMemo{QStringLiteral("SSID      : IFB-SIM-OTA"),
                            QStringLiteral("Password  : MervoxTqLu"),
                            QStringLiteral("Version   : 3030KMT26 → 3030KMT27")};
const QString kManual1 = QStringLiteral("パソコンを以下のWi-Fiアクセスポイント\nに接続してください。");
const QString kManual2 = QStringLiteral("接続完了後OKを押してください。\n書き込みが開始されます。");

TEST_P(OtaFlowAutoJoinTest, JoinsWhileTheQuestionShowsAndUndoesItOnTheWayOut)
{
    const AutoJoinCase& c = GetParam();
    FakeJoinLog joinLog;
    joinLog.available = c.available;
    const diag::CauseAction refused{QStringLiteral("refused by policy"), QStringLiteral("join by hand")};
    if (!c.joinOk)
        joinLog.result = AutoJoinResult{false, QStringLiteral("not allowed"), refused};
    SetAutoJoinFactory([&joinLog] {
        ++joinLog.made;
        return std::make_unique<FakeJoin>(joinLog);
    });
    ui.messageDialogAnswer = c.dialogAnswer == 1 ? 1 : 2;
    ui.cancelDuringWork = c.cancel;
    Start({});
    app.Settings.AutoJoinAP = c.setting;
    EXPECT_EQ(RunOtaUpdate(app).Ok(), c.written);
    EXPECT_EQ(ui.results.size(), c.written ? 1 : 0);

    EXPECT_EQ(joinLog.joins, c.joins);
    EXPECT_EQ(joinLog.restores, c.restores);
    if (c.setting == 0) {
        EXPECT_EQ(joinLog.made, 0);
    }
    ASSERT_EQ(ui.messageDialogs.size(), 1);
    const MessageDialogRequest& join = ui.messageDialogs.first();
    EXPECT_EQ(join.message1, c.autoTexts ? AutoJoinMessage1() : kManual1);
    EXPECT_EQ(join.message2, c.autoTexts ? AutoJoinMessage2() : kManual2);
    EXPECT_EQ(join.memoLines, kJoinMemo);
    // The join runs while the question shows: its progress is shown there.
    EXPECT_EQ(static_cast<bool>(join.whileShown), c.joins == 1);
    EXPECT_EQ(ui.dialogProgress.contains(QStringLiteral("自動接続: 接続中...")), c.joins == 1);
    // A failed join turns the question back into the manual one and says why below its lines.
    ASSERT_EQ(ui.messageDialogFallbacks.size(), c.fellBack ? 1 : 0);
    if (c.fellBack) {
        const MessageDialogRequest& manual = ui.messageDialogFallbacks.first();
        EXPECT_EQ(manual.message1, kManual1);
        EXPECT_EQ(manual.message2, kManual2);
        EXPECT_EQ(manual.memoLines, kJoinMemo + refused.Lines());
    }
    if (c.joins == 1) {
        EXPECT_EQ(joinLog.ssid, QStringLiteral("IFB-SIM-OTA"));
        EXPECT_EQ(joinLog.password, QStringLiteral("MervoxTqLu"));
        EXPECT_TRUE(log.Contains(QStringLiteral("自動接続: 接続中...")));
    }
    EXPECT_EQ(log.Contains(refused.Lines().at(0)), c.fellBack);
}

// A successful join needs no answer: the question closes by itself (the answer 0 is never given).
INSTANTIATE_TEST_SUITE_P(
    Cases, OtaFlowAutoJoinTest,
    ::testing::Values(
        AutoJoinCase{"JoinedClosesTheQuestion", 1, true, true, false, 0, true, true, false, 1, 1},
        AutoJoinCase{"CancelledDuringTheJoin", 1, true, true, true, 1, false, true, false, 1, 1},
        AutoJoinCase{"RefusedThenJoinedByHand", 1, true, false, false, 1, true, true, true, 1, 1},
        AutoJoinCase{"RefusedThenDeclined", 1, true, false, false, 0, false, true, true, 1, 1},
        AutoJoinCase{"NotAvailable", 1, false, true, false, 1, true, false, false, 0, 0},
        AutoJoinCase{"SettingOff", 0, true, true, false, 1, true, false, false, 0, 0}),
    [](const ::testing::TestParamInfo<AutoJoinCase>& info) { return std::string(info.param.name); });

TEST_F(OtaFlowAutoJoinTest, RetryJoinsTheAccessPointAgainAfterTheRestart)
{
    FakeJoinLog joinLog;
    SetAutoJoinFactory([&joinLog] { return std::make_unique<FakeJoin>(joinLog); });
    Uploader u;
    u.output = kTransferLost;
    u.exitCode = 1;
    u.later = Uploader().output;
    Start({QStringLiteral("--ota-result-from-session"), QStringLiteral("2")}, u);
    ui.answers = {MsgResult::Yes};
    EXPECT_TRUE(RunOtaUpdate(app));
    EXPECT_EQ(joinLog.joins, 2);
    EXPECT_EQ(joinLog.restores, 1);
}

// The record of writes: one line per write under the settings folder, the counters beside it.
class OtaFlowRecordTest : public OtaFlowTest
{
protected:
    QString RecordPath() const { return TempFolder() + QStringLiteral("/log/results.csv"); }

    // The record's lines after the byte-order mark, split into fields (no field here needs quotes).
    QList<QStringList> RecordRows() const
    {
        QFile f(RecordPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QByteArray bytes = f.readAll();
        EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
        EXPECT_TRUE(bytes.endsWith("\r\n"));
        QList<QStringList> rows;
        for (const QString& line :
             QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
            rows.append(line.split(QLatin1Char(',')));
        return rows;
    }

    void Board()
    {
        // As the start-up read them.
        app.ModelName = QStringLiteral("PB-RL11");
        app.TargetId = QStringLiteral("1234");
        app.View.showSessionCounters = [this](const QString& t) { counterTexts.append(t); };
    }

    QStringList counterTexts;
};

struct RecordCase {
    const char* name;
    QStringList simArgs;
    bool ok;
    const char* versionAfter;
    const char* failureClass;
    bool imageTaken; // the board said it took the whole image: the speed is known
};

class OtaFlowRecordCaseTest : public OtaFlowRecordTest, public ::testing::WithParamInterface<RecordCase>
{
};

TEST_P(OtaFlowRecordCaseTest, OneLinePerWriteWithVerdictAndFailureClass)
{
    const RecordCase& c = GetParam();
    Start(c.simArgs);
    Board();
    EXPECT_EQ(RunOtaUpdate(app).Ok(), c.ok);
    const QList<QStringList> rows = RecordRows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.at(0).join(QLatin1Char(',')),
              QStringLiteral("time,port,model,target id,version before,version after,verdict,failure class,"
                             "duration s,transfer KB/s"));
    const QStringList& r = rows.at(1);
    ASSERT_EQ(r.size(), 10) << rows.at(1).join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(QDateTime::fromString(r.at(0), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
    EXPECT_EQ(r.mid(1, 7),
              (QStringList{app.Engine()->PortName(), QStringLiteral("PB-RL11"), QStringLiteral("1234"),
                           QStringLiteral("3030KMT26"), QString::fromUtf8(c.versionAfter),
                           QLatin1String(c.ok ? "OK" : "NG"), QString::fromUtf8(c.failureClass)}));
    bool numeric = false;
    EXPECT_GE(r.at(8).toDouble(&numeric), 0.0);
    EXPECT_TRUE(numeric) << r.at(8).toStdString();
    // The speed only when the board took the whole image.
    if (c.imageTaken) {
        EXPECT_GT(r.at(9).toDouble(&numeric), 0.0);
        EXPECT_TRUE(numeric) << r.at(9).toStdString();
    } else {
        EXPECT_EQ(r.at(9), QString());
    }
    EXPECT_EQ(counterTexts,
              QStringList{c.ok ? QStringLiteral("OK 1 / NG 0") : QStringLiteral("OK 0 / NG 1")});
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, OtaFlowRecordCaseTest,
    ::testing::Values(RecordCase{"Ok", {}, true, "3030KMT27", "", true},
                      RecordCase{"BoardSaysBr",
                                 {QStringLiteral("--ota-result"), QStringLiteral("BR")},
                                 false,
                                 "",
                                 "board-rejected",
                                 false},
                      // The uploader saw the board take the image; the restarted board decides.
                      RecordCase{"NoVerdictAfterAnAcceptedImage",
                                 {QStringLiteral("--ota-result"), QStringLiteral("none")},
                                 true,
                                 "3030KMT27",
                                 "",
                                 true},
                      RecordCase{"OtherVersion",
                                 {QStringLiteral("--rom-after-update"), QStringLiteral("3030KMT28")},
                                 false,
                                 "3030KMT28",
                                 "version-differs",
                                 true},
                      RecordCase{
                          "NoStation", {QStringLiteral("--no-station")}, false, "", "ap-not-joined", false}),
    [](const ::testing::TestParamInfo<RecordCase>& info) { return std::string(info.param.name); });

TEST_F(OtaFlowRecordTest, WritesInARowAppendAndCount)
{
    Start({});
    Board();
    EXPECT_TRUE(RunOtaUpdate(app));
    app.Settings.App_ESPOta = root + QStringLiteral("/bin/no-such-uploader");
    EXPECT_FALSE(RunOtaUpdate(app));
    const QList<QStringList> rows = RecordRows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows.at(1).mid(4, 4), (QStringList{QStringLiteral("3030KMT26"), QStringLiteral("3030KMT27"),
                                                 QStringLiteral("OK"), QString()}));
    // The second write starts from the version the first one left.
    EXPECT_EQ(rows.at(2).mid(4, 4), (QStringList{QStringLiteral("3030KMT27"), QString(), QStringLiteral("NG"),
                                                 QStringLiteral("uploader-cannot-start")}));
    EXPECT_EQ(counterTexts, (QStringList{QStringLiteral("OK 1 / NG 0"), QStringLiteral("OK 1 / NG 1")}));
    EXPECT_EQ(app.Counters.Total(), 2);
}

TEST_F(OtaFlowRecordTest, UnwritableRecordIsSaidOnceAndTheVerdictStands)
{
    // A file where the record's folder should be.
    QFile blocker(TempFolder() + QStringLiteral("/log"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Start({});
    Board();
    EXPECT_TRUE(RunOtaUpdate(app));
    EXPECT_TRUE(RunOtaUpdate(app));
    const auto said = std::count_if(log.lines.begin(), log.lines.end(), [](const QString& l) {
        return l.startsWith(QStringLiteral("書き込み記録を保存できません: "));
    });
    EXPECT_EQ(said, 1);
    EXPECT_EQ(counterTexts.last(), QStringLiteral("OK 2 / NG 0"));
    EXPECT_EQ(ui.results.size(), 2);
    EXPECT_EQ(ui.results.last().verdict, QStringLiteral("OK"));
}

} // namespace
