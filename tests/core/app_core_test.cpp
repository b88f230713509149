#include "comm/memory_link.h"
#include "core/app_core.h"
#include "diag/diag_texts.h"
#include "platform/event_wait.h"
#include "support/fake_clock.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace nx7
{
namespace
{

class AppCoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        app.Initialise(dir.filePath(QStringLiteral("nx7ifbprog.ini")));
    }
    QTemporaryDir dir;
    test::ScriptedUi ui;
    test::MemoryLog log;
    AppCore app{ui, log};
};

TEST_F(AppCoreTest, StartsWithDefaultsAndTheBuiltInIdentity)
{
    EXPECT_FALSE(app.VerboseLog);
    EXPECT_EQ(app.FirmwareId, QStringLiteral("3030KMT27"));
    EXPECT_EQ(app.ApRecord.Password, QStringLiteral("MervoxTqLu"));
    EXPECT_EQ(app.UploadPassword, QStringLiteral("KW5GDH4072"));
    EXPECT_EQ(app.Settings.ComSpeed, 4);
    EXPECT_EQ(app.Timer1.interval(), 50);
    EXPECT_FALSE(app.Timer1.isActive());
    EXPECT_EQ(app.Engine(), nullptr);
    EXPECT_EQ(MainWindowCaption(app.FirmwareId),
              QStringLiteral("I/Fボード ファームウェアアップデート for PB-RL11 (3030KMT27)"));
}

// No time for the board's answers at all would fail every check: a zero or negative check time
// is taken as the default, and the log says so.
TEST_F(AppCoreTest, CheckTimeOfZeroTakesTheDefault)
{
    struct Case {
        const char* value;
        int used;
        bool said;
    };
    for (const Case& c :
         {Case{"0", 10000, true}, Case{"-5", 10000, true}, Case{"1", 1, false}, Case{"2500", 2500, false}}) {
        QFile f(dir.filePath(QStringLiteral("nx7ifbprog.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("[Option]\nCHK_IFB_TIME=") + c.value + "\n");
        f.close();
        log.lines.clear();
        app.Initialise(f.fileName());
        EXPECT_EQ(app.Settings.CHK_IFB_TIME, c.used) << c.value;
        EXPECT_EQ(log.Contains(QStringLiteral("CHK_IFB_TIME が %1 のため、既定値 10000 ms を使います。")
                                   .arg(QString::fromLatin1(c.value))),
                  c.said)
            << c.value;
    }
}

TEST_F(AppCoreTest, UnforcedLinesOnlyWithVerboseLog)
{
    app.AddLog(QStringLiteral("quiet"), false);
    app.AddLog(QStringLiteral("forced"), true);
    EXPECT_EQ(log.lines, QStringList({"forced"}));
    app.VerboseLog = true;
    app.AddLog(QStringLiteral("verbose"), false);
    EXPECT_EQ(log.lines, QStringList({"forced", "verbose"}));
}

TEST_F(AppCoreTest, PaneHoldingTwoThousandLinesIsEmptiedBeforeTheNextLine)
{
    for (int i = 0; i < 1999; ++i)
        app.AddLog(QString::number(i), true);
    app.AddLog(QStringLiteral("2000th"), true);
    EXPECT_EQ(log.LineCount(), 2000);
    app.AddLog(QStringLiteral("next"), true);
    EXPECT_EQ(log.lines, QStringList({"next"}));
}

TEST_F(AppCoreTest, DiagnosticSwitchTurnsOnVerboseLogAndLaterEngineTraces)
{
    app.SwitchDiagnosticsOn();
    EXPECT_TRUE(app.VerboseLog);
    app.Settings.UseUSB = 1; // no link: nothing is opened
    app.CreateEngine();
    ASSERT_NE(app.Engine(), nullptr);
    EXPECT_TRUE(app.Engine()->TxTrace);
    EXPECT_TRUE(app.Engine()->RxTrace);
    app.DestroyEngine();
    EXPECT_EQ(app.Engine(), nullptr);
}

// The engine's link is the injected one: where the board is, why it is silent and whether the link
// is lost all come from it, without a port or a socket.
class AppCoreOnMemoryLink : public AppCoreTest
{
protected:
    void Create(int useUsb)
    {
        app.Settings.UseUSB = useUsb;
        app.Settings.ComPort = 9;
        app.Settings.ComSpeed = 4;
        app.MakeEngineLink = test::MemoryLinkFactory(board, &link);
        app.CreateEngine();
        ASSERT_NE(link, nullptr);
        ProcessPendingEvents(); // a TCP-kind link reports its connection on the event loop
        ASSERT_TRUE(app.Engine()->IsConnected());
    }
    test::MemoryBoard board;
    test::MemoryLink* link = nullptr;
};

TEST_F(AppCoreOnMemoryLink, SerialPlaceAndSilenceNameThePortAndALossIsAtOnce)
{
    Create(0);
    EXPECT_EQ(app.Engine()->Kind(), LinkKind::Serial);
    EXPECT_EQ(app.BoardPlace(), QStringLiteral("COM9"));
    EXPECT_EQ(app.BoardSilentCause().cause, diag::BoardSilentSerial(app.SerialDevice(), 115200).cause);
    EXPECT_FALSE(app.LinkLost());
    link->Lose();
    EXPECT_TRUE(app.LinkLost()); // a port that is gone stays gone: no grace
}

TEST_F(AppCoreOnMemoryLink, TcpLossCountsOnlyAfterTheGraceAndEndsWhenThePeerIsBack)
{
    test::ManualClock clock(1000);
    Create(2);
    EXPECT_EQ(app.Engine()->Kind(), LinkKind::Tcp);
    EXPECT_EQ(app.BoardPlace(), QStringLiteral("mem:1"));
    link->Lose();
    EXPECT_FALSE(app.LinkLost());
    clock.Advance(kLinkLostGraceMs - 1);
    EXPECT_FALSE(app.LinkLost());
    clock.Advance(1);
    EXPECT_TRUE(app.LinkLost());

    // Back within the grace: the next loss starts its own grace.
    link->Open();
    ProcessPendingEvents();
    EXPECT_FALSE(app.LinkLost());
    link->Lose();
    EXPECT_FALSE(app.LinkLost());
    clock.Advance(kLinkLostGraceMs);
    EXPECT_TRUE(app.LinkLost());
}

} // namespace
} // namespace nx7
