// The engine over a real pseudo-terminal, loopback TCP and no link: opening, sending, reception,
// the waits with their NACK and time-out rules, the trace, and section "ComDebug".
#include "comm/engine.h"
#include "comm/frame_codec.h"
#include "platform/event_wait.h"
#include "platform/ini_file.h"
#include "platform/tick_clock.h"
#include "support/fake_clock.h"
#include "support/small_disk.h"
#include "support/wait_until.h"

#include "comm_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

using namespace nx7;
using namespace nx7::test;

namespace
{

// The tick clock runs `scale` times faster than real time, so fixed 2000 ms waits end quickly.
struct FastClock {
    explicit FastClock(double scale = 20.0)
        : clock(scale)
    {
        SetClock(&clock);
    }
    ~FastClock() { SetClock(nullptr); }
    SteadyTickClock clock;
};

// A manual clock moved forward by a timer, so the test knows exactly what time a wait saw.
struct SteppedClock {
    SteppedClock(std::uint32_t start, std::uint32_t step)
        : clock(start)
    {
        timer.setInterval(2);
        QObject::connect(&timer, &QTimer::timeout, [this, step] { clock.Advance(step); });
        timer.start();
    }
    ManualClock clock;
    QTimer timer;
};

const QString kTimeOver = QStringLiteral("レスポンス待ち　タイムオーバー");
const QString kNack = QStringLiteral("NACK 受信");

QString ComDebugValue(const QString& iniPath, const QString& key)
{
    IniFile ini;
    ini.Load(iniPath);
    return ini.Value(QStringLiteral("ComDebug"), key).value_or(QStringLiteral("<missing>"));
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(ComErrorText, NamesTheSetFlagsInOrder)
{
    EXPECT_EQ(ComErrorText(0), QStringLiteral("<Ok>"));
    EXPECT_EQ(ComErrorText(ComIo), QStringLiteral("<ComError:IO>"));
    EXPECT_EQ(
        ComErrorText(ComTxFull | ComRxOver | ComMode | ComIo | ComBreak | ComOverrun | ComParity | ComFrame),
        QStringLiteral("<ComError:Frame,Parity,Overrun,Break,IO,Mode,RxOver,TxFull>"));
    EXPECT_EQ(ComErrorText(ComRxOver | ComFrame), QStringLiteral("<ComError:Frame,RxOver>"));
}

TEST_F(EngineOnPty, RequestGoesOutAndReplyIsRecorded)
{
    CreateSerial();
    board.script = [](const Bytes&) { return Ack("90 56 31 2E 30 30"); };
    const Bytes frame = engine->SendRequest({0x90}, false);
    EXPECT_EQ(ToHex(frame), "02 00 45 01 90 03 DB 0D ");
    ASSERT_TRUE(engine->WaitAnyReply());
    ASSERT_EQ(board.requests.size(), 1u);
    EXPECT_EQ(board.requests[0], frame);
    EXPECT_EQ(engine->ReplyKind, 2);
    EXPECT_EQ(engine->LastReplyLength, 13);
    EXPECT_EQ(ToHex(Bytes(engine->LastReply.begin(), engine->LastReply.begin() + 13)),
              "02 00 30 06 90 56 31 2E 30 30 03 E0 0D ");
    EXPECT_TRUE(log.lines.isEmpty()); // traces are off
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(EngineOnPty, TracesWhenSwitchedOn)
{
    CreateSerial();
    engine->TxTrace = true;
    engine->RxTrace = true;
    board.script = [](const Bytes&) { return Reply(0x31, {0x44, 0x00}); };
    engine->RequestModelName();
    EXPECT_FALSE(engine->WaitAnyReply());
    // The decoder's line comes during the run, the run's "RX:" line at its end.
    EXPECT_EQ(log.lines,
              (QStringList{QStringLiteral("機種名（ModelName）の取得"),
                           QStringLiteral("02 00 45 01 93 03 DE 0D "), QStringLiteral("不正なコマンド"),
                           QStringLiteral("RX:02 00 31 02 44 00 03 7C 0D "), kNack}));
}

TEST_F(EngineOnPty, ChecksumErrorShowsTheFrameAndTheWaitTimesOut)
{
    CreateSerial();
    engine->TxTrace = true;
    board.script = [](const Bytes&) {
        return QByteArray::fromHex("02003001000399"
                                   "0D");
    };
    engine->SendRequest({0x00}, false);
    EXPECT_FALSE(engine->WaitReply(2, 1000));
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("SUM EEROR: 02 00 30 01 00 03 99 "));
    EXPECT_EQ(ui.messages[0].buttons, MsgButtons::Yes);
    EXPECT_EQ(log.lines, (QStringList{QStringLiteral("SUM EEROR"), kTimeOver}));
    EXPECT_EQ(engine->ReplyKind, 0);
    EXPECT_EQ(engine->LastReplyLength, 0);
}

// A NACK does not end a wait for an ACK: that caller sees the whole time-out. The same NACK ends
// the wait for any reply at once.
TEST_F(EngineOnPty, NackEndsOnlyTheWaitForAnyReply)
{
    CreateSerial();
    engine->TxTrace = true;
    board.script = [](const Bytes&) { return Reply(0x31, {0x01, 0x00}); };
    {
        SteppedClock t(1000, 20);
        engine->SendRequest({0x00}, false);
        const std::uint32_t start = t.clock.TickCount();
        EXPECT_FALSE(engine->WaitReply(2, 1500));
        EXPECT_GE(t.clock.TickCount() - start, 1500u);
        EXPECT_EQ(engine->ReplyKind, 6);
        EXPECT_EQ(log.lines, (QStringList{QStringLiteral("CRCエラー"), kTimeOver}));
    }
    log.lines.clear();
    {
        SteppedClock t(1000, 1);
        engine->SendRequest({0x00}, false);
        const std::uint32_t start = t.clock.TickCount();
        EXPECT_FALSE(engine->WaitAnyReply());
        EXPECT_LT(t.clock.TickCount() - start, 2000u);
        EXPECT_EQ(log.lines, (QStringList{QStringLiteral("CRCエラー"), kNack}));
        EXPECT_TRUE(ui.messages.isEmpty());
    }
    // Error code 0 also shows the plain box.
    board.script = [](const Bytes&) { return Reply(0x31, {0x00, 0x00}); };
    engine->SendRequest({0x00}, false);
    EXPECT_FALSE(engine->WaitAnyReply());
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("NACK : 0x00"));
    EXPECT_EQ(ui.messages[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(ui.messages[0].icon, MsgIcon::None);
}

TEST_F(EngineOnPty, WaitWithNoReplyLastsItsTimeOut)
{
    CreateSerial();
    engine->TxTrace = true;
    FastClock fast;
    const std::uint32_t start = Clock().TickCount();
    EXPECT_FALSE(engine->WaitAnyReply());
    EXPECT_GE(Clock().TickCount() - start, 2000u);
    EXPECT_EQ(log.lines, QStringList{kTimeOver});
}

// The tick count wraps during the wait: it still lasts its whole time-out.
TEST_F(EngineOnPty, WaitAcrossTheTickWrapLastsItsTimeOut)
{
    CreateSerial();
    SteppedClock t(0xFFFFFFFFu, 25);
    const std::uint32_t start = t.clock.TickCount();
    EXPECT_FALSE(engine->WaitReply(2, 1000));
    const std::uint32_t elapsed = t.clock.TickCount() - start;
    EXPECT_GE(elapsed, 1000u);
    EXPECT_LT(elapsed, 1500u);
}

TEST_F(EngineOnPty, NotificationsSetTheirKindButDoNotEndTheWait)
{
    CreateSerial();
    engine->TxTrace = true;
    // 'E' with DATA[0] 'M' is traced (board text in CP932) and leaves the kind; the 'D' that follows
    // sets its kind and the update result; neither is the reply, which comes last.
    board.script = [this](const Bytes&) {
        QTimer::singleShot(150, [this] { pty.Write(Reply(0x44, {'B', 'R'})); });
        QTimer::singleShot(300, [this] { pty.Write(Ack("00 05 00 00 00")); });
        return Reply(0x45, {0x4D, 0x83, 0x65, 0x83, 0x58, 0x83, 0x67});
    };
    engine->OtaResultArrived = engine->OtaResultOk = true;
    engine->SendRequest({0x00}, false);
    QTimer::singleShot(250, [this] { EXPECT_EQ(engine->ReplyKind, 3); });
    EXPECT_TRUE(engine->WaitAnyReply());
    EXPECT_EQ(engine->ReplyKind, 2);
    EXPECT_EQ(engine->LastReply[5], 0x05);
    EXPECT_TRUE(engine->OtaResultArrived);
    EXPECT_FALSE(engine->OtaResultOk);
    EXPECT_EQ(log.lines, QStringList{QStringLiteral("テスト")});
}

// Replies are taken by their request: a late ACK of an earlier request, an ACK or NACK nobody
// asked for, and a notification in the same write as the ACK never stand in for the reply.
TEST_F(EngineOnPty, OnlyTheReplyToThePendingRequestCounts)
{
    CreateSerial();
    const QByteArray lateRom = Ack("90 56 31 2E 30 30");
    const QByteArray model = Ack("93 50 42");
    const struct {
        const char* name;
        std::vector<std::uint8_t> request;
        QByteArray answer; // written in one piece after the request
        bool acked;
        std::uint8_t lastReplyEcho;
    } cases[] = {
        {"late ACK of an earlier request first", {0x93}, lateRom + model, true, 0x93},
        {"notification right after the ACK",
         {0x00},
         Ack("00 05 00 00 00") + Reply(0x44, {'O', 'K'}),
         true,
         0x00},
        {"G frame right after the ACK", {0x0A}, Ack("0A") + Reply(0x47, {0x01, 0x02}), true, 0x0A},
        {"only a foreign ACK", {0x05}, lateRom, false, 0},
        {"item echo must match too", {0x03, 0x71}, Ack("03 02 41"), false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.lines.clear();
        engine->TxTrace = true;
        const QByteArray answer = c.answer;
        board.script = [answer](const Bytes&) { return answer; };
        engine->SendRequest(c.request, false);
        if (c.acked) {
            // With the reply in, the wait returns at its first pass after the bytes.
            EXPECT_TRUE(engine->WaitReply(2, 2000));
            EXPECT_EQ(engine->LastReply[2], 0x30);
            EXPECT_EQ(engine->LastReply[4], c.lastReplyEcho);
            EXPECT_FALSE(engine->ReplyPending());
        } else {
            EXPECT_FALSE(engine->WaitReply(2, 300));
            EXPECT_TRUE(engine->ReplyPending());
        }
        // Whatever did not match shows in the verbose trace only.
        const bool foreign = answer.startsWith(lateRom);
        EXPECT_EQ(log.Contains(
                      QStringLiteral("要求と一致しない応答を無視: 02 00 30 06 90 56 31 2E 30 30 03 E0 0D")),
                  foreign);
    }

    // With the trace off an unmatched reply writes nothing.
    log.lines.clear();
    engine->TxTrace = false;
    board.script = [lateRom](const Bytes&) { return lateRom; };
    engine->SendRequest({0x05}, false);
    EXPECT_FALSE(engine->WaitReply(2, 200));
    EXPECT_TRUE(log.lines.isEmpty());
}

// A NACK answers only a pending request; the engine says whether the last request was refused.
TEST_F(EngineOnPty, NackOnlyWhileARequestIsPending)
{
    CreateSerial();
    // Nothing asked yet: a NACK is not a reply.
    pty.Write(Reply(0x31, {0x44, 0x00}));
    ASSERT_TRUE(
        WaitUntil([this] { return engine->Assembler().Unread() == 0 && !engine->Assembler().InFrame; }));
    WaitForEvents(60);
    EXPECT_EQ(engine->ReplyKind, 0);
    EXPECT_FALSE(engine->LastReplyWasNack());
    EXPECT_EQ(engine->LastReplyLength, 0);

    board.script = [](const Bytes&) { return Reply(0x31, {0x44, 0x00}); };
    engine->SendRequest({0x0B, 0x02, 0x01}, false);
    EXPECT_FALSE(engine->WaitAnyReply());
    EXPECT_TRUE(engine->LastReplyWasNack());
    EXPECT_FALSE(engine->ReplyPending());

    // A second NACK after the first was taken is foreign; the next send starts afresh.
    board.script = [](const Bytes&) { return Ack("0B") + Reply(0x31, {0x44, 0x00}); };
    engine->SendRequest({0x0B, 0x02, 0x01}, false);
    EXPECT_TRUE(engine->WaitAnyReply());
    WaitForEvents(60);
    EXPECT_FALSE(engine->LastReplyWasNack());
    EXPECT_EQ(engine->LastReply[2], 0x30);
}

TEST_F(EngineOnPty, UpdateResultIsKeptWithTracesOff)
{
    CreateSerial();
    pty.Write(Reply(0x44, {'O', 'K'}));
    ASSERT_TRUE(WaitUntil([this] { return engine->ReplyKind == 3; }));
    EXPECT_TRUE(engine->OtaResultArrived);
    EXPECT_TRUE(engine->OtaResultOk);
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(EngineOnPty, SendDropsAHalfAssembledFrame)
{
    CreateSerial();
    const QByteArray reply = Ack("00 05 00 01 00");
    pty.Write(reply.left(6));
    ASSERT_TRUE(WaitUntil([this] { return engine->Assembler().InFrame; }));
    engine->SendRequest({0x00}, false);
    pty.Write(reply.mid(6));
    EXPECT_FALSE(engine->WaitReply(2, 300));
    pty.Write(reply);
    EXPECT_TRUE(engine->WaitReply(2, 2000));
}

TEST_F(EngineOnPty, ManyRepliesInOneBurstAreAllAssembled)
{
    CreateSerial();
    QByteArray burst;
    for (int i = 0; i < 60; ++i)
        burst += QByteArray(37, '\x55') + Reply(0x64, Bytes(200, static_cast<std::uint8_t>(i)));
    burst += Ack("00");
    engine->SendRequest({0x00}, false);
    // About 14 kB, more than the pty buffers: written as fast as the engine takes it.
    qsizetype done = 0;
    while (done < burst.size()) {
        const ssize_t n =
            ::write(pty.masterFd(), burst.constData() + done, static_cast<size_t>(burst.size() - done));
        if (n > 0)
            done += n;
        else
            WaitForEvents(5);
    }
    EXPECT_TRUE(engine->WaitReply(2, 3000));
    EXPECT_EQ(engine->ReplyKind, 2);
}

TEST_F(EngineOnPty, TraceLineEmptiesAFullPane)
{
    CreateSerial();
    for (int i = 0; i < 2000; ++i)
        log.lines.append(QString::number(i));
    engine->TraceLine(QStringLiteral("off"));
    EXPECT_EQ(log.LineCount(), 2000);
    engine->TraceLine(QStringLiteral("forced"), true);
    EXPECT_EQ(log.lines, QStringList{QStringLiteral("forced")});
    for (int i = 0; i < 1998; ++i)
        log.lines.append(QString::number(i));
    engine->TxTrace = true;
    engine->TraceLine(QStringLiteral("on"));
    EXPECT_EQ(log.LineCount(), 2000);
    EXPECT_EQ(log.lines.last(), QStringLiteral("on"));
}

TEST_F(EngineOnPty, ResetPulseKeepsThePortAndSendsNothing)
{
    CreateSerial();
    engine->TxTrace = true;
    QElapsedTimer t;
    t.start();
    engine->ResetPulse();
    EXPECT_GE(t.elapsed(), 95);
    EXPECT_TRUE(engine->IsConnected());
    WaitForEvents(50);
    EXPECT_TRUE(board.raw.isEmpty());
    EXPECT_TRUE(log.lines.isEmpty());
    EXPECT_TRUE(ui.messages.isEmpty());
    // The port still works afterwards.
    board.script = [](const Bytes&) { return Ack("0A"); };
    engine->SendRequest({0x0A}, false);
    EXPECT_TRUE(engine->WaitReply(2, 2000));
}

TEST_F(EngineOnPty, OpenFailureShowsTheErrorBox)
{
    ASSERT_TRUE(PinPort(iniPath, 7, dir.filePath(QStringLiteral("no-such-device"))));
    for (int number : {7, 200}) {
        ui.messages.clear();
        TTComXDlg e(0, 0, 0, QString(), 0, number, 4, 0, &log, &ui, iniPath);
        EXPECT_FALSE(e.IsConnected());
        EXPECT_FALSE(e.Connected);
        ASSERT_EQ(ui.messages.size(), 1);
        const MessageRequest& box = ui.messages[0];
        EXPECT_EQ(
            box.text,
            QStringLiteral("COM%1がオープン出来ません!!\n\n  ポート及びパラメータ設定を再確認してください。")
                .arg(number));
        EXPECT_TRUE(box.caption.isEmpty());
        EXPECT_EQ(box.icon, MsgIcon::Error);
        EXPECT_EQ(box.buttons, MsgButtons::Ok);
        EXPECT_EQ(e.SendFrame(reinterpret_cast<const std::uint8_t*>("\x02"), 1), 0);
    }
    // No interaction seam (tests, headless): the failure is still only in IsConnected.
    TTComXDlg quiet(0, 0, 0, QString(), 0, 7, 4, 0, &log, nullptr, iniPath);
    EXPECT_FALSE(quiet.IsConnected());
}

TEST_F(EngineOnPty, ReopenLinkCutsThePortNumberToEightBits)
{
    ASSERT_TRUE(PinPort(iniPath, 4, pty.slavePath()));
    ASSERT_TRUE(PinPort(iniPath, 9, dir.filePath(QStringLiteral("gone"))));
    engine = std::make_unique<TTComXDlg>(0, 0, 0, QString(), 0, 9, 4, 0, &log, &ui, iniPath);
    EXPECT_FALSE(engine->IsConnected());
    engine->ReopenLink(260);
    EXPECT_EQ(engine->PortName(), QStringLiteral("COM4"));
    ASSERT_TRUE(engine->IsConnected());
    EXPECT_TRUE(engine->Connected);
    board.script = [](const Bytes&) { return Ack("00 01 00"); };
    engine->SendRequest({0x00}, false);
    EXPECT_TRUE(engine->WaitReply(2, 2000));
    // Reopening an open port closes it first and drops what was not yet assembled.
    pty.Write(Ack("00").left(3));
    ASSERT_TRUE(WaitUntil([this] { return engine->Assembler().InFrame; }));
    engine->OpenLink();
    EXPECT_TRUE(engine->IsConnected());
    EXPECT_FALSE(engine->Assembler().InFrame);
    EXPECT_EQ(engine->Assembler().Unread(), 0);
}

TEST_F(EngineOnPty, LineSettingsFromTheConstructionArguments)
{
    const struct {
        int speedCode;
        int parityCode;
        int baud;
        const char* parityBits;
    } cases[] = {{0, 0, 19200, "0"}, {1, 1, 9600, "1"},   {2, 2, 38400, "2"},
                 {3, 5, 57600, "2"}, {4, 0, 115200, "0"}, {7, 0, 19200, "0"}};
    for (const auto& c : cases) {
        TTComXDlg e(0, 0, 0, QString(), 0, kPinnedPort, c.speedCode, c.parityCode, &log, &ui, iniPath);
        ASSERT_TRUE(e.IsConnected());
        EXPECT_EQ(e.BaudRate(), c.baud) << c.speedCode;
        e.SaveComDebug();
        EXPECT_EQ(ComDebugValue(iniPath, QStringLiteral("BaudRate")), QString::number(c.baud));
        EXPECT_EQ(ComDebugValue(iniPath, QStringLiteral("ParityBits")), QLatin1String(c.parityBits));
    }
}

// The [ComDebug] save on a full disk: the settings file stays byte for byte (no half-written file
// replaces it) and the "例外エラー" box says so once, with the cause after the path.
TEST_F(EngineOnPty, ComDebugSaveOnAFullDiskLeavesTheFileAndSaysWhyOnce)
{
    CreateSerial();
    const QString folder = dir.path();
    const int status = RunOnSmallDisk(folder, 64, [&] {
        const QByteArray before("; kept\r\n[Option]\r\nComPort=9\r\n");
        if (!WriteAll(iniPath, before) || !FillDisk(folder))
            return 100;
        engine->SaveComDebug();
        engine->SaveComDebug();
        EXPECT_EQ(ReadAll(iniPath), before);
        EXPECT_EQ(ui.messages.size(), 1);
        if (!ui.messages.isEmpty()) {
            EXPECT_EQ(ui.messages.front().caption, QStringLiteral("例外エラー"));
            EXPECT_TRUE(ui.messages.front().text.endsWith(
                QStringLiteral("\n\n") + iniPath +
                QStringLiteral("\n\nディスクの空き容量が不足しています (No space left on device)")))
                << ui.messages.front().text.toStdString();
        }
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    if (status == kNoSmallDisk)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(status, 0);
}

TEST_F(EngineOnPty, ComDebugIsLoadedAppliedAndWrittenBack)
{
    IniFile ini;
    ASSERT_TRUE(ini.Load(iniPath));
    const QString s = QStringLiteral("ComDebug");
    ini.WriteString(s, QStringLiteral("Port"), QStringLiteral("3"));
    ini.WriteString(s, QStringLiteral("BaudRate"), QStringLiteral("230400"));
    ini.WriteString(s, QStringLiteral("ByteSize"), QStringLiteral("7"));
    ini.WriteString(s, QStringLiteral("StopBits"), QStringLiteral("2"));
    ini.WriteString(s, QStringLiteral("FlowCont"), QStringLiteral("2"));
    ini.WriteString(s, QStringLiteral("IDNo"), QStringLiteral("0x1A5"));
    ini.WriteString(s, QStringLiteral("fDispCont1"), QStringLiteral("5"));
    ini.WriteString(s, QStringLiteral("MAX_REC_NO"), QStringLiteral("$12C"));
    ini.WriteString(QStringLiteral("Option"), QStringLiteral("ComPort"), QStringLiteral("9"));
    ASSERT_TRUE(ini.Save(iniPath));

    CreateSerial(2, 1);
    EXPECT_EQ(engine->IDNo, 0xA5);
    EXPECT_EQ(engine->DispCont1, 5);
    EXPECT_EQ(engine->MaxRecNo, 300);
    EXPECT_EQ(engine->BaudRate(), 38400); // the construction overrides 230400 (which reads as 9600)
    EXPECT_EQ(engine->PortName(), QStringLiteral("COM9"));

    // The ID byte goes into every request.
    board.script = [](const Bytes&) { return Ack("0A"); };
    engine->SendRequest({0x0A}, false);
    EXPECT_TRUE(engine->WaitReply(2, 2000));
    ASSERT_EQ(board.requests.size(), 1u);
    EXPECT_EQ(board.requests[0][1], 0xA5);

    engine->SaveComDebug();
    const struct {
        const char* key;
        const char* value;
    } expected[] = {{"Port", "9"},     {"BaudRate", "38400"}, {"ParityBits", "1"},
                    {"ByteSize", "7"}, {"StopBits", "2"},     {"FlowCont", "2"},
                    {"IDNo", "165"},   {"fDispCont1", "5"},   {"MAX_REC_NO", "300"}};
    for (const auto& e : expected)
        EXPECT_EQ(ComDebugValue(iniPath, QLatin1String(e.key)), QLatin1String(e.value)) << e.key;
    IniFile after;
    ASSERT_TRUE(after.Load(iniPath));
    EXPECT_EQ(after.ReadString(QStringLiteral("PortMap"), QStringLiteral("COM9"), QString()),
              pty.slavePath());
    EXPECT_EQ(after.ReadString(QStringLiteral("Option"), QStringLiteral("ComPort"), QString()),
              QStringLiteral("9"));

    // Reloading the section in serial mode applies it to the port at once: 230400 gives 9600.
    after.WriteString(s, QStringLiteral("BaudRate"), QStringLiteral("230400"));
    ASSERT_TRUE(after.Save(iniPath));
    engine->LoadComDebug();
    EXPECT_EQ(engine->BaudRate(), 9600);
}

// A file without the section gets all nine keys, in their fixed order, with the port's values.
TEST_F(EngineOnPty, ComDebugKeysAreWrittenInTheirOrder)
{
    CreateSerial();
    engine->SaveComDebug();
    const struct {
        const char* key;
        const char* value;
    } expected[] = {{"Port", "9"},     {"BaudRate", "115200"}, {"ParityBits", "0"},
                    {"ByteSize", "8"}, {"StopBits", "0"},      {"FlowCont", "0"},
                    {"IDNo", "0"},     {"fDispCont1", "1"},    {"MAX_REC_NO", "200"}};
    IniFile saved;
    ASSERT_TRUE(saved.Load(iniPath));
    QStringList keys;
    for (const auto& e : expected) {
        keys.append(QLatin1String(e.key));
        EXPECT_EQ(ComDebugValue(iniPath, QLatin1String(e.key)), QLatin1String(e.value)) << e.key;
    }
    EXPECT_EQ(saved.Keys(QStringLiteral("ComDebug")), keys);
}

TEST_F(EngineOnPty, ComDebugSaveLeavesAReadOnlyFileAlone)
{
    CreateSerial();
    const QByteArray before = ReadFile(iniPath);
    ASSERT_TRUE(QFile::setPermissions(iniPath, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    engine->SaveComDebug();
    EXPECT_EQ(ReadFile(iniPath), before);
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_TRUE(log.lines.isEmpty());
    QFile::setPermissions(iniPath, QFile::ReadOwner | QFile::WriteOwner);
}

TEST(EngineNoLink, NothingIsOpenedOrSent)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("nx7.ini"));
    MemoryLog log;
    ScriptedUi ui;
    FastClock fast;
    for (int mode : {1, 7, -1}) {
        TTComXDlg e(3335, 1, 10777, QStringLiteral("127.0.0.1"), mode, 9, 4, 0, &log, &ui, ini);
        EXPECT_FALSE(e.IsConnected());
        EXPECT_FALSE(e.SerialOpen());
        EXPECT_EQ(e.ActiveConnections(), 0);
        e.ReplyKind = 5;
        const std::uint8_t frame[] = {0x02, 0x00, 0x45, 0x01, 0x90, 0x03, 0xDB, 0x0D};
        EXPECT_EQ(e.SendFrame(frame, 8), 0);
        EXPECT_EQ(e.ReplyKind, 0);
        e.OpenLink();
        EXPECT_FALSE(e.WaitAnyReply());
        EXPECT_FALSE(e.WaitReply(2, 300));
        e.ResetPulse();
    }
    EXPECT_TRUE(ui.messages.isEmpty());
    // Saving in a mode other than serial writes only the three common keys; a missing file is created.
    {
        TTComXDlg e(0, 0, 0, QString(), 1, 9, 4, 0, &log, &ui, ini);
        e.SaveComDebug();
    }
    IniFile saved;
    ASSERT_TRUE(saved.Load(ini));
    EXPECT_EQ(
        saved.Keys(QStringLiteral("ComDebug")),
        (QStringList{QStringLiteral("IDNo"), QStringLiteral("fDispCont1"), QStringLiteral("MAX_REC_NO")}));
    EXPECT_EQ(ComDebugValue(ini, QStringLiteral("IDNo")), QStringLiteral("0"));
    EXPECT_EQ(ComDebugValue(ini, QStringLiteral("fDispCont1")), QStringLiteral("1"));
    EXPECT_EQ(ComDebugValue(ini, QStringLiteral("MAX_REC_NO")), QStringLiteral("200"));
}

namespace
{

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

struct Peer {
    QTcpSocket socket;
    QByteArray received;
    Peer()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
    }
    bool Connect(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return WaitUntil([this] { return socket.state() == QAbstractSocket::ConnectedState; });
    }
    // From another address of this machine (loopback holds all of 127.0.0.0/8).
    bool ConnectFrom(const QString& local, const QString& to, quint16 port)
    {
        socket.bind(QHostAddress(local), 0);
        socket.connectToHost(QHostAddress(to), port);
        WaitUntil([this] {
            return socket.state() == QAbstractSocket::ConnectedState ||
                   socket.error() != QAbstractSocket::UnknownSocketError;
        });
        return socket.state() == QAbstractSocket::ConnectedState;
    }
};

class EngineTcp : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TTComXDlg::SetListenAddress(QStringLiteral("127.0.0.1"));
        ini = dir.filePath(QStringLiteral("nx7.ini"));
    }
    void TearDown() override
    {
        engine.reset();
        TTComXDlg::SetListenAddress(QString());
    }
    QTemporaryDir dir;
    QString ini;
    MemoryLog log;
    ScriptedUi ui;
    std::unique_ptr<TTComXDlg> engine;
    Timer1 timer1{engine};
};

} // namespace

// One board at a time: a second connection is refused and logged, the first keeps the session.
TEST_F(EngineTcp, ServerKeepsItsFirstPeer)
{
    const quint16 port = FreePort();
    engine = std::make_unique<TTComXDlg>(port, 1, 0, QString(), 2, 1, 4, 0, &log, &ui, ini);
    engine->TxTrace = true;
    EXPECT_FALSE(engine->IsConnected());

    Peer first, second;
    ASSERT_TRUE(first.Connect(port));
    ASSERT_TRUE(WaitUntil([this] { return engine->ActiveConnections() == 1; }));
    EXPECT_TRUE(log.Contains(QStringLiteral("ActiveConnections: 1")));
    engine->TxTrace = false;
    second.Connect(port);
    const quint16 secondPort = second.socket.localPort();
    ASSERT_TRUE(WaitUntil([&] { return second.socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(log.Contains(QStringLiteral("接続中のため新しい接続を拒否しました: 127.0.0.1:") +
                             QString::number(secondPort)));
    EXPECT_EQ(engine->ActiveConnections(), 1);
    EXPECT_TRUE(engine->IsConnected());

    engine->TxTrace = true;
    const Bytes frame = engine->SendRequest({0x90}, false);
    ASSERT_TRUE(WaitUntil([&] { return first.received.size() == 8; }));
    EXPECT_EQ(first.received, Qb(frame));
    EXPECT_TRUE(second.received.isEmpty());

    // More than one read's worth arrives at once: every byte is taken.
    log.lines.clear();
    first.socket.write(QByteArray(700, '\x55') + Ack("90 56 31 2E 30 30"));
    EXPECT_TRUE(engine->WaitReply(2, 2000));
    EXPECT_GE(log.lines.count(QStringLiteral("ServerSocket1ClientRead")), 3);

    // The peer leaving marks the link down; the next one is taken.
    first.socket.disconnectFromHost();
    ASSERT_TRUE(WaitUntil([this] { return !engine->IsConnected(); }));
    EXPECT_TRUE(log.Contains(QStringLiteral("ServerSocket1ClientDisconnect")));
    EXPECT_EQ(engine->SendFrame(frame.data(), 8), 0);

    Peer third;
    ASSERT_TRUE(third.Connect(port));
    ASSERT_TRUE(WaitUntil([this] { return engine->IsConnected(); }));
    EXPECT_EQ(engine->SendFrame(frame.data(), 8), 8);
    ASSERT_TRUE(WaitUntil([&] { return third.received.size() == 8; }));
}

// When the settings name the board (its address as the server setting's 32-bit value), only the
// board may connect, and the tool listens on the adapter of the board's network only: here the
// loopback adapter, 127.0.0.1/8, for a board at 127.0.0.2.
TEST_F(EngineTcp, ServerAcceptsOnlyTheConfiguredBoardOnItsNetwork)
{
    TTComXDlg::SetListenAddress(QString());
    const quint16 port = FreePort();
    engine = std::make_unique<TTComXDlg>(port, 0x7F000002, 0, QString(), 2, 1, 4, 0, &log, &ui, ini);

    // Another address of the machine is not listened on.
    Peer elsewhere;
    EXPECT_FALSE(elsewhere.ConnectFrom(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.5"), port));
    EXPECT_EQ(elsewhere.socket.error(), QAbstractSocket::ConnectionRefusedError);

    Peer stranger;
    stranger.ConnectFrom(QStringLiteral("127.0.0.3"), QStringLiteral("127.0.0.1"), port);
    const quint16 strangerPort = stranger.socket.localPort();
    ASSERT_TRUE(WaitUntil([&] { return stranger.socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(log.Contains(QStringLiteral("ボードのアドレス以外からの接続を拒否しました: 127.0.0.3:") +
                             QString::number(strangerPort) + QStringLiteral("（ボード: 127.0.0.2）")))
        << log.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(engine->IsConnected());

    Peer board;
    ASSERT_TRUE(board.ConnectFrom(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.1"), port));
    ASSERT_TRUE(WaitUntil([this] { return engine->IsConnected(); }));
    const Bytes frame = engine->SendRequest({0x90}, false);
    ASSERT_TRUE(WaitUntil([&] { return board.received.size() == 8; }));
    EXPECT_EQ(board.received, Qb(frame));
}

TEST_F(EngineTcp, ServerOpenLinkWaitsForAClient)
{
    const quint16 port = FreePort();
    engine = std::make_unique<TTComXDlg>(port, 1, 0, QString(), 2, 1, 4, 0, &log, &ui, ini);
    Peer peer;
    QTimer::singleShot(100, [&] { peer.socket.connectToHost(QHostAddress::LocalHost, port); });
    engine->OpenLink();
    EXPECT_TRUE(engine->IsConnected());
    // Reopening drops the client, listens anew and waits for the next one.
    engine->TxTrace = true;
    Peer next;
    QTimer::singleShot(100, [&] { next.socket.connectToHost(QHostAddress::LocalHost, port); });
    engine->OpenLink();
    EXPECT_TRUE(engine->IsConnected());
    EXPECT_EQ(engine->ActiveConnections(), 1);
    EXPECT_TRUE(WaitUntil([&] { return peer.socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(
        log.lines,
        (QStringList{QStringLiteral("ServerSocket1ClientDisconnect"), QStringLiteral("ServerSocket1Listen"),
                     QStringLiteral("ServerSocket1ClientConnect"), QStringLiteral("ActiveConnections: 1")}));
}

TEST_F(EngineTcp, ServerOpenLinkGivesUpAfterTwelveSeconds)
{
    FastClock fast(100.0);
    engine = std::make_unique<TTComXDlg>(FreePort(), 1, 0, QString(), 2, 1, 4, 0, &log, &ui, ini);
    const std::uint32_t start = Clock().TickCount();
    engine->OpenLink();
    EXPECT_FALSE(engine->IsConnected());
    EXPECT_GE(Clock().TickCount() - start, 12000u);
}

TEST_F(EngineTcp, ClientReconnectsAfterErrors)
{
    const quint16 port = FreePort();
    // Nobody listens yet: the connection is refused and tried again.
    engine =
        std::make_unique<TTComXDlg>(0, 0, port, QStringLiteral("2130706433"), 2, 1, 4, 0, &log, &ui, ini);
    engine->TxTrace = true;
    ASSERT_TRUE(WaitUntil([this] { return log.Contains(QStringLiteral("ClientSocket1Error")); }));
    EXPECT_FALSE(engine->IsConnected());

    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
    ASSERT_TRUE(WaitUntil([this] { return engine->IsConnected(); }));
    EXPECT_TRUE(log.Contains(QStringLiteral("ClientSocket1Connect00")));
    ASSERT_TRUE(server.hasPendingConnections() || server.waitForNewConnection(1000));
    QTcpSocket* board = server.nextPendingConnection();
    ASSERT_NE(board, nullptr);

    QByteArray received;
    QObject::connect(board, &QTcpSocket::readyRead, [&] {
        received += board->readAll();
        if (received.size() >= 8)
            board->write(Ack("0A"));
    });
    engine->SendRequest({0x0A}, false);
    EXPECT_TRUE(engine->WaitReply(2, 2000));
    EXPECT_EQ(received, QByteArray::fromHex("020045010A03550D"));

    // The board closes: a disconnect, not an error; no new attempt is made.
    log.lines.clear();
    board->disconnectFromHost();
    ASSERT_TRUE(WaitUntil([this] { return !engine->IsConnected(); }));
    EXPECT_TRUE(log.Contains(QStringLiteral("ClientSocket1Disconnect00")));
    EXPECT_FALSE(log.Contains(QStringLiteral("ClientSocket1Error")));

    // The next send connects again first and says so whatever the trace switches.
    engine->TxTrace = false;
    EXPECT_EQ(engine->SendFrame(reinterpret_cast<const std::uint8_t*>("\x02"), 1), 1);
    EXPECT_TRUE(engine->IsConnected());
    EXPECT_EQ(log.lines.count(QStringLiteral("TCP接続を再確立しました: 127.0.0.1:") + QString::number(port)),
              1);
    ASSERT_TRUE(server.hasPendingConnections() || server.waitForNewConnection(1000));
    QTcpSocket* again = server.nextPendingConnection();
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return again->bytesAvailable() == 1; }));

    // Opening the link again connects and waits for it.
    engine->OpenLink();
    EXPECT_TRUE(engine->IsConnected());
}

// The client's connect and disconnect events each empty the receive state and trace their line;
// reopening a connected client goes through both.
TEST_F(EngineTcp, ClientEventsResetReceptionAndTrace)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    engine = std::make_unique<TTComXDlg>(0, 0, server.serverPort(), QStringLiteral("127.0.0.1"), 2, 1, 4, 0,
                                         &log, &ui, ini);
    engine->TxTrace = true;
    ASSERT_TRUE(WaitUntil([this] { return engine->IsConnected(); }));
    ASSERT_TRUE(server.hasPendingConnections() || server.waitForNewConnection(1000));
    QTcpSocket* board = server.nextPendingConnection();
    ASSERT_NE(board, nullptr);

    // Half a frame assembled and two more bytes waiting when the board goes away.
    timer1.stop();
    const QByteArray reply = Ack("00");
    engine->AppendReceived(reinterpret_cast<const std::uint8_t*>(reply.constData()), 3);
    engine->AssembleFrames();
    ASSERT_TRUE(engine->Assembler().InFrame);
    engine->AppendReceived(reinterpret_cast<const std::uint8_t*>(reply.constData()) + 3, 2);
    log.lines.clear();
    board->disconnectFromHost();
    ASSERT_TRUE(WaitUntil([this] { return !engine->IsConnected(); }));
    EXPECT_FALSE(engine->Assembler().InFrame);
    EXPECT_EQ(engine->Assembler().Unread(), 0);
    EXPECT_EQ(log.lines, QStringList{QStringLiteral("ClientSocket1Disconnect00")});

    log.lines.clear();
    engine->OpenLink();
    ASSERT_TRUE(engine->IsConnected());
    EXPECT_EQ(log.lines, QStringList{QStringLiteral("ClientSocket1Connect00")});

    log.lines.clear();
    engine->OpenLink();
    EXPECT_TRUE(engine->IsConnected());
    EXPECT_EQ(log.lines, (QStringList{QStringLiteral("ClientSocket1Disconnect00"),
                                      QStringLiteral("ClientSocket1Connect00")}));
}

// The device vanishes under an open port: one line-error trace, the port is closed so the link
// reads as down (and SetOtaMode would reopen it), and nothing keeps firing.
TEST(EngineSerialLoss, VanishedDeviceClosesThePort)
{
    for (const bool trace : {true, false}) {
        SCOPED_TRACE(trace ? "trace on" : "trace off");
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("nx7.ini"));
        auto pty = std::make_unique<PtyPair>();
        ASSERT_TRUE(PinPort(ini, 9, pty->slavePath()));
        MemoryLog log;
        ScriptedUi ui;
        TTComXDlg e(0, 0, 0, QString(), 0, 9, 4, 0, &log, &ui, ini);
        ASSERT_TRUE(e.IsConnected());
        e.TxTrace = trace;
        const QString slave = pty->slavePath();
        pty.reset();
        ASSERT_TRUE(WaitUntil([&] { return !e.IsConnected(); }));
        EXPECT_FALSE(e.Connected);
        WaitForEvents(100);
        // The loss is said at once with the port's name, whatever the trace switch.
        const QString gone =
            QStringLiteral("ポート COM9 (") + slave + QStringLiteral(") との接続が切れました");
        EXPECT_EQ(log.lines,
                  trace ? (QStringList{QStringLiteral("<ComError:IO>"), gone}) : QStringList{gone});
        EXPECT_TRUE(ui.messages.isEmpty());
        EXPECT_EQ(e.SendFrame(reinterpret_cast<const std::uint8_t*>("\x02"), 1), 0);
    }
}
