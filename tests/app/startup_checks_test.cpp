// The board checks of the first show at their edges: which ROM versions and model names the tool
// accepts, run in process against the board simulator over a pseudo-terminal.
#include "app/startup_flow.h"
#include "core/app_core.h"
#include "diag/diag_texts.h"
#include "discovery/connect_board.h"
#include "e2e/e2e_support.h"
#include "platform/app_paths.h"
#include "platform/com_names.h"
#include "platform/tick_clock.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <ostream>

using namespace nx7;
using nx7::test::MemoryLog;
using nx7::test::ScriptedUi;

namespace
{

// Requests as the simulator records them, written out by hand.
const QString kRomRequest = QStringLiteral("02 00 45 01 90 03 DB 0D");
const QString kModelRequest = QStringLiteral("02 00 45 01 93 03 DE 0D");
const QString kTargetIdRequest = QStringLiteral("02 00 45 01 05 03 50 0D");

const QString kUnsupported =
    QStringLiteral("対応外のI/Fボードです。\n\nお使いのI/Fボード対応のツールをお使いください。");

enum Verdict { Accepted, RomRefused, ModelRefused };

struct Board {
    const char* rom;
    const char* model;
    int selectModel;
    Verdict verdict;
};

void PrintTo(const Board& b, std::ostream* os)
{
    *os << "ROM \"" << b.rom << "\", model \"" << b.model << "\", SelectModel " << b.selectModel;
}

class StartupFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("tool/Orvanta"))));
        SetExecutablePathOverride(dir.filePath(QStringLiteral("tool/nx7ifbprog")));
        SetClock(&clock);
        ini = dir.filePath(QStringLiteral("tool/Orvanta/nx7ifbprog.ini"));
        record = dir.filePath(QStringLiteral("requests.txt"));
        uploader = dir.filePath(QStringLiteral("tool/espota"));
        QFile u(uploader);
        ASSERT_TRUE(u.open(QIODevice::WriteOnly));
        u.close();
        app.View.closeMainWindow = [this] { ++closeRequests; };
    }

    void TearDown() override
    {
        app.DestroyEngine();
        sim.Stop();
        SetClock(nullptr);
        SetExecutablePathOverride(QString());
    }

    // The settings file with `selectModel`, then the simulated board pinned there as COM9.
    void StartBoard(const Board& b)
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral(
                    "[Option]\nComPort=9\nUseUSB=0\nCHK_IFB_TIME=2000\nSelectModel=%1\nApp_ESPOta=%2\n")
                    .arg(b.selectModel)
                    .arg(uploader)
                    .toUtf8());
        f.close();

        ASSERT_TRUE(sim.Start(ini, 9, record,
                              QStringList{QStringLiteral("--restart-ms"), QStringLiteral("0"),
                                          QStringLiteral("--rom-version"), QString::fromUtf8(b.rom),
                                          QStringLiteral("--model"), QString::fromUtf8(b.model)} +
                                  extraSimArgs))
            << qPrintable(sim.Stderr());
        app.Initialise(ini);
        ASSERT_EQ(app.Settings.SelectModel, b.selectModel);
    }

    QStringList Requests() const { return sim.RawRequests(); }

    QTemporaryDir dir;
    // The board check's fixed pauses and every reply wait pass four times faster: a board that
    // answers takes some 50 ms, one that does not fails the case within a second or two.
    SteadyTickClock clock{4.0};
    QString ini;
    QString record;
    QString uploader;
    e2e::Simulator sim;
    ScriptedUi ui;
    MemoryLog log;
    AppCore app{ui, log};
    int closeRequests = 0;
    QStringList extraSimArgs;
};

class StartupChecks : public StartupFixture, public ::testing::WithParamInterface<Board>
{
};

TEST_P(StartupChecks, AcceptsOrRefusesTheBoard)
{
    const Board b = GetParam();
    StartBoard(b);
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_EQ(FormShow(app), b.verdict == Accepted);
    EXPECT_TRUE(log.Contains(QStringLiteral("IFB-ROMVer : ") + QString::fromUtf8(b.rom)))
        << log.lines.join('\n').toStdString();
    EXPECT_EQ(log.Contains(QStringLiteral("IFB-ModelName : ") + QString::fromUtf8(b.model)),
              b.verdict != RomRefused);
    const QStringList requests = Requests();
    ASSERT_TRUE(requests.contains(kRomRequest));
    if (b.verdict == Accepted) {
        EXPECT_TRUE(ui.messages.isEmpty()) << ui.messageTexts().join('\n').toStdString();
        EXPECT_EQ(closeRequests, 0);
        EXPECT_EQ(requests.mid(requests.indexOf(kRomRequest)),
                  (QStringList{kRomRequest, kModelRequest, kTargetIdRequest}));
        return;
    }
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages.first().text, kUnsupported);
    EXPECT_EQ(ui.messages.first().caption, QStringLiteral("エラー"));
    EXPECT_EQ(closeRequests, 1);
    // A refused board is asked nothing further.
    EXPECT_EQ(requests.last(), b.verdict == RomRefused ? kRomRequest : kModelRequest);
    EXPECT_EQ(requests.contains(kModelRequest), b.verdict == ModelRefused);
    EXPECT_FALSE(requests.contains(kTargetIdRequest));
}

const QString kNotConfirmed = QStringLiteral("I/Fボードの接続を確認できませんでした。\n\n"
                                             "接続と設定の確認およびソフトと接続製品を再起動してください。");

// A board that never answers: the device and speed tried are named in the log, below the USB-mode
// offer's text and below the closing message's.
TEST_F(StartupChecks, SilentBoardIsNamedWithItsPortAndSpeed)
{
    extraSimArgs = {QStringLiteral("--fault"), QStringLiteral("silent")};
    StartBoard(Board{"3030KMT27", "PB-RL11", 1, Accepted});
    ASSERT_FALSE(HasFatalFailure());
    const QString device = DeviceOfComName(QStringLiteral("COM9"), ini);
    ASSERT_FALSE(device.isEmpty());

    EXPECT_FALSE(FormShow(app));
    ASSERT_EQ(ui.messages.size(), 2) << ui.messageTexts().join('\n').toStdString();
    const diag::CauseAction why = diag::BoardSilentSerial(device, 115200);
    EXPECT_EQ(ui.messages.at(0).text,
              UsbOfferText(app.Settings.USBWait_Mode) + QStringLiteral("\n\n") + why.Block());
    EXPECT_EQ(ui.messages.at(1).text, kNotConfirmed + QStringLiteral("\n\n") + why.Block());
    EXPECT_TRUE(log.Contains(why.Lines().at(0)) && log.Contains(why.Lines().at(1)))
        << log.lines.join('\n').toStdString();
}

// A port another program holds: the open fails, and the closing message says who to look for.
TEST_F(StartupChecks, PortHeldByAnotherProgramIsSaidSo)
{
    StartBoard(Board{"3030KMT27", "PB-RL11", 1, Accepted});
    ASSERT_FALSE(HasFatalFailure());
    const QString device = DeviceOfComName(QStringLiteral("COM9"), ini);
    QSerialPort holder(device);
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite)) << holder.errorString().toStdString();

    EXPECT_FALSE(FormShow(app));
    if (!log.Contains(QStringLiteral("NG: Port Open")))
        GTEST_SKIP() << "this system lets a second program open the same device";
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages.first().text,
              kNotConfirmed + QStringLiteral("\n\n") + diag::SerialPortBusy(device).Block());
    EXPECT_TRUE(log.Contains(diag::SerialPortBusy(device).Lines().at(0)));
    EXPECT_EQ(closeRequests, 1);
}

// The port disappears while the board is checked: the check ends, and neither the USB route nor its
// long wait is offered for a port that is gone.
TEST_F(StartupChecks, VanishedPortEndsTheCheckWithoutTheUsbOffer)
{
    extraSimArgs = {QStringLiteral("--fault"), QStringLiteral("silent")};
    StartBoard(Board{"3030KMT27", "PB-RL11", 1, Accepted});
    ASSERT_FALSE(HasFatalFailure());
    const QString device = DeviceOfComName(QStringLiteral("COM9"), ini);
    QTimer::singleShot(100, [this] { sim.Kill(); });
    EXPECT_FALSE(FormShow(app));
    for (const QString& text : ui.messageTexts())
        EXPECT_FALSE(text.startsWith(UsbOfferText(app.Settings.USBWait_Mode))) << text.toStdString();
    ASSERT_EQ(ui.messages.size(), 1) << ui.messageTexts().join('\n').toStdString();
    EXPECT_EQ(ui.messages.first().text,
              kNotConfirmed + QStringLiteral("\n\n") + diag::SerialPortVanished(device).Block());
}

// A board that refuses the mode read is there: it is named as refusing, not as silent.
TEST_F(StartupChecks, RefusingBoardIsNamedAsRefusing)
{
    extraSimArgs = {QStringLiteral("--fault"), QStringLiteral("nack 00 44")};
    StartBoard(Board{"3030KMT27", "PB-RL11", 1, Accepted});
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_FALSE(FormShow(app));
    ASSERT_FALSE(ui.messages.isEmpty());
    EXPECT_EQ(ui.messages.last().text,
              kNotConfirmed + QStringLiteral("\n\n") + diag::BoardRefused(QStringLiteral("COM9")).Block())
        << ui.messageTexts().join('\n').toStdString();
}

struct UsbRouteCase {
    const char* name;
    QStringList faults; // the board's silence
    MsgResult answer;   // to the USB-mode offer
    bool connected;
};

class UsbRouteChecks : public StartupFixture, public ::testing::WithParamInterface<UsbRouteCase>
{
};

// A board silent to the mode read is offered the USB route; it connects when the board takes the
// USB mode, and fails with the silent board's cause otherwise.
TEST_P(UsbRouteChecks, SilentBoardAndTheUsbRoute)
{
    const UsbRouteCase& c = GetParam();
    for (const QString& fault : c.faults)
        extraSimArgs << QStringLiteral("--fault") << fault;
    StartBoard(Board{"3030KMT27", "PB-RL11", 1, Accepted});
    ASSERT_FALSE(HasFatalFailure());
    app.Settings.USBWait_Mode = 0;
    ui.answers.push_back(c.answer);
    const QString device = DeviceOfComName(QStringLiteral("COM9"), ini);
    const diag::CauseAction why = diag::BoardSilentSerial(device, 115200);

    EXPECT_EQ(FormShow(app), c.connected) << log.lines.join('\n').toStdString();
    ASSERT_FALSE(ui.messages.isEmpty());
    EXPECT_EQ(ui.messages.first().caption, QStringLiteral("USBモードでの実行"));
    EXPECT_EQ(ui.messages.first().text, UsbOfferText(0) + QStringLiteral("\n\n") + why.Block());
    EXPECT_EQ(app.UsbModeSelected, c.connected);
    if (c.connected) {
        EXPECT_EQ(ui.messages.size(), 1);
        EXPECT_TRUE(log.Contains(QStringLiteral("IFB-ROMVer : 3030KMT27")));
        // The USB route sets the USB mode, which is the mode the close gives back.
        EXPECT_TRUE(Requests().contains(QStringLiteral("02 00 45 03 01 00 00 03 4E 0D")));
        EXPECT_EQ(app.SavedOperationMode, 0);
        return;
    }
    ASSERT_EQ(ui.messages.size(), 2) << ui.messageTexts().join('\n').toStdString();
    EXPECT_EQ(ui.messages.at(1).text, kNotConfirmed + QStringLiteral("\n\n") + why.Block());
}

INSTANTIATE_TEST_SUITE_P(
    Offer, UsbRouteChecks,
    ::testing::Values(UsbRouteCase{"Declined", {QStringLiteral("silent 00")}, MsgResult::No, false},
                      UsbRouteCase{
                          "TakenByTheBoard", {QStringLiteral("silent 00 times 2")}, MsgResult::Yes, true},
                      UsbRouteCase{"BoardStaysSilent", {QStringLiteral("silent")}, MsgResult::Yes, false}),
    [](const ::testing::TestParamInfo<UsbRouteCase>& info) { return std::string(info.param.name); });

// A write that died left the board in OTA mode and its mode in the settings: the next start takes
// the board's OTA status for no mode word, restarts it, and gives back the mode kept in the file.
TEST_F(StartupChecks, BoardLeftInOtaModeAndTheKeptModeAfterACrash)
{
    StartBoard(Board{"3030KMT27", "PB-RL11", 1, Accepted});
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(SavePendingMode(ini, 3));
    app.Initialise(ini);
    ASSERT_EQ(app.Settings.PendingDousaMode, 3);
    // The board still in OTA mode, as the killed write left it.
    QSerialPort port(DeviceOfComName(QStringLiteral("COM9"), ini));
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    port.write(QByteArray::fromHex("020045030B0201035B0D"));
    ASSERT_TRUE(port.waitForBytesWritten(1000));
    ASSERT_TRUE(port.waitForReadyRead(1000));
    port.close();

    EXPECT_TRUE(FormShow(app)) << log.lines.join('\n').toStdString();
    EXPECT_TRUE(
        log.Contains(QStringLiteral("I/FボードがOTAモードのままです。再起動して動作モードを読み直します。")));
    EXPECT_TRUE(log.Contains(QStringLiteral(
        "前回の書き込みが終了しなかったため、その前の動作モード (0x0003) を終了時に戻します。")));
    EXPECT_TRUE(app.OperationModeKnown);
    EXPECT_EQ(app.SavedOperationMode, 3);
    const QString restart = QStringLiteral("02 00 45 01 0A 03 55 0D");
    const QStringList requests = Requests();
    ASSERT_GE(requests.size(), 3);
    EXPECT_EQ(requests.at(2), restart) << requests.join('\n').toStdString();

    // The close gives the kept mode back, then the file no longer holds it.
    FormCloseQuery(app);
    EXPECT_TRUE(Requests().contains(QStringLiteral("02 00 45 03 01 03 00 03 51 0D")))
        << Requests().join('\n').toStdString();
    TOptionSettings after;
    LoadOptionSettings(ini, after);
    EXPECT_EQ(after.PendingDousaMode, -1);
}

// The tool carries 3030KMT27: characters 5 to 9 of the board's ROM version must read KMT27.
INSTANTIATE_TEST_SUITE_P(RomVersion, StartupChecks,
                         ::testing::Values(Board{"3030KMT27", "PB-RL11", 1, Accepted},
                                           Board{"3030KMT28", "PB-RL11", 1, RomRefused}, // last of the five
                                           Board{"3030JMT27", "PB-RL11", 1, RomRefused}, // first of the five
                                           Board{"3030KMT27-B2", "PB-RL11", 1, Accepted},
                                           // 1 to 4 are not compared:
                                           Board{"9999KMT27", "PB-RL11", 1, Accepted},
                                           Board{"3030kmt27", "PB-RL11", 1, RomRefused},
                                           Board{"3030 KMT27", "PB-RL11", 1, RomRefused}, // window one later
                                           Board{"303KMT27", "PB-RL11", 1, RomRefused}, // window one earlier
                                           Board{"3030KMT2", "PB-RL11", 1, RomRefused}, // four of the five
                                           Board{"3030", "PB-RL11", 1, RomRefused})); // nothing in the window

// Model choice: 0 wants PB-RL12, 1 wants PB-RL11 (case-sensitive, anywhere in the name), any
// other value takes every board.
INSTANTIATE_TEST_SUITE_P(ModelChoice, StartupChecks,
                         ::testing::Values(Board{"3030KMT27", "PB-RL12", 0, Accepted},
                                           Board{"3030KMT27", "PB-RL11", 0, ModelRefused},
                                           Board{"3030KMT27", "IFB PB-RL12 rev2", 0, Accepted},
                                           Board{"3030KMT27", "PB-RL11", 1, Accepted},
                                           Board{"3030KMT27", "PB-RL12", 1, ModelRefused},
                                           Board{"3030KMT27", "IFB PB-RL11 rev2", 1, Accepted},
                                           Board{"3030KMT27", "pb-rl11", 1, ModelRefused},
                                           Board{"3030KMT27", "PB-RL12", 2, Accepted},
                                           Board{"3030KMT27", "PB-RL11", 2, Accepted},
                                           Board{"3030KMT27", "XYZ", 7, Accepted}));

} // namespace
