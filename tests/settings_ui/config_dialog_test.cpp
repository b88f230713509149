#include "app/config_dialog.h"
#include "comm/frame_codec.h"
#include "core/app_core.h"
#include "platform/tick_clock.h"
#include "support/memory_log.h"
#include "support/pty_pair.h"
#include "support/scripted_ui.h"
#include "support/wait_until.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <unistd.h>

using nx7::MnSetConfigClick;
using nx7::TConfig1Dlg;
using nx7::TUpdownNumberEdit;

namespace
{

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

void Type(TUpdownNumberEdit* edit, const QString& text)
{
    edit->clear();
    QTest::keyClicks(edit, text);
}

QByteArray Request(const QByteArray& data)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.constData());
    const auto frame =
        nx7::codec::BuildFrame(0, nx7::codec::kIfbCommand, {p, static_cast<std::size_t>(data.size())});
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));
}

QByteArray Block(const nx7::TCPIPPARAM& record)
{
    const auto block = record.ToBlock();
    return QByteArray(reinterpret_cast<const char*>(block.data()), static_cast<qsizetype>(block.size()));
}

// Plays the board on the master side of the pseudo-terminal: records every request frame and
// acknowledges it (echoing the sub-code bytes) unless `answers` says no.
class FakeBoard : public QObject
{
public:
    explicit FakeBoard(int fd)
        : m_fd(fd)
        , m_notifier(fd, QSocketNotifier::Read)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    }

    QList<QByteArray> requests;
    std::function<bool(const QByteArray& data)> answers = [](const QByteArray&) { return true; };

    // Lets bytes that are still on their way arrive.
    void Settle(int ms = 150)
    {
        nx7::test::WaitUntil([] { return false; }, ms);
    }

private:
    void OnReadable()
    {
        char buf[512];
        ssize_t n;
        while ((n = ::read(m_fd, buf, sizeof buf)) > 0)
            m_buffer.append(buf, n);
        for (;;) {
            const qsizetype stx = m_buffer.indexOf('\x02');
            if (stx < 0) {
                m_buffer.clear();
                return;
            }
            m_buffer.remove(0, stx);
            if (m_buffer.size() < 4)
                return;
            const int total = static_cast<unsigned char>(m_buffer.at(3)) + 7;
            if (m_buffer.size() < total)
                return;
            const QByteArray frame = m_buffer.left(total);
            m_buffer.remove(0, total);
            requests.append(frame);
            const QByteArray data = frame.mid(4, static_cast<unsigned char>(frame.at(3)));
            if (!answers(data))
                continue;
            const QByteArray echo =
                data.left(data.size() >= 2 && (data.at(0) == 3 || data.at(0) == 4) ? 2 : 1);
            const auto* p = reinterpret_cast<const std::uint8_t*>(echo.constData());
            const auto ack = nx7::codec::BuildFrame(static_cast<std::uint8_t>(frame.at(1)), 0x30,
                                                    {p, static_cast<std::size_t>(echo.size())});
            [[maybe_unused]] const ssize_t w = ::write(m_fd, ack.data(), ack.size());
        }
    }

    int m_fd;
    QSocketNotifier m_notifier;
    QByteArray m_buffer;
};

// The dialog against an engine whose serial line is a pseudo-terminal played by FakeBoard.
class ConfigFlow : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString ini = dir.filePath("nx7ifbprog.ini");
    nx7::test::PtyPair pty;
    nx7::test::ScriptedUi ui;
    nx7::test::MemoryLog log;
    std::unique_ptr<nx7::AppCore> app;
    std::unique_ptr<FakeBoard> board;
    nx7::TCPIPPARAM baseline;

    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        ASSERT_TRUE(nx7::test::PinPort(ini, 240, pty.slavePath()));
        app = std::make_unique<nx7::AppCore>(ui, log);
        app->Initialise(ini);
        app->Settings.UseUSB = 0;
        app->Settings.ComPort = 240;
        app->CreateEngine();
        ASSERT_TRUE(app->Engine()->SerialOpen());
        app->Timer1.start();
        app->VerboseLog = true;
        board = std::make_unique<FakeBoard>(pty.masterFd());

        baseline.SSID = QStringLiteral("IFB-0001");
        baseline.Password = QStringLiteral("secret");
        baseline.Flags = 0x40 | 0x01; // AP mode, fixed address, an unrelated bit that is carried
        baseline.NetMask = 0xFFFFFF00;
        baseline.Port = 3335;
        baseline.IPAddr = 0xC0A80A14; // 192.168.10.20
        baseline.ServPort = 10777;
        baseline.ServAddr = 0xC0A80A0A; // above 2^31: its text must be unsigned
        baseline.Extra1 = 0x11223344;
        baseline.Extra2 = 0xA5A5A5A5;
        app->NetParams = baseline;
    }

    void TearDown() override
    {
        board.reset();
        app.reset();
    }

    void Run(const std::function<void(TConfig1Dlg&)>& edit, int result = 1)
    {
        MnSetConfigClick(*app, nullptr, [&](TConfig1Dlg& d) {
            edit(d);
            return result;
        });
        board->Settle();
    }
};

TEST_F(ConfigFlow, OkWithoutChangeSendsNothing)
{
    app->Settings.TCPPort = 1;
    Run([](TConfig1Dlg&) {});
    EXPECT_TRUE(board->requests.isEmpty());
    EXPECT_EQ(log.lines, QStringList({"OK: 設定"}));
    EXPECT_EQ(Block(app->NetParams), Block(baseline));
    EXPECT_EQ(app->Settings.TCPPort, 1); // no refresh without a network change
    EXPECT_FALSE(nx7::Config1Dlg);

    // The line is not forced: without the verbose log nothing shows.
    app->VerboseLog = false;
    Run([](TConfig1Dlg&) {});
    EXPECT_EQ(log.lines, QStringList({"OK: 設定"}));
}

TEST_F(ConfigFlow, BoardWithoutAccessPointBitGetsItEvenWithoutEdits)
{
    baseline.Flags = 0x01;
    app->NetParams = baseline;
    Run([](TConfig1Dlg&) {});
    ASSERT_EQ(board->requests.size(), 1);
    nx7::TCPIPPARAM expected = baseline;
    expected.Flags = 0x41;
    EXPECT_EQ(board->requests.at(0), Request(QByteArray("\x04\x04", 2) + Block(expected)));
    EXPECT_EQ(app->NetParams.Flags, 0x41);
}

TEST_F(ConfigFlow, PasswordOnlySendsBothWifiWritesAndNoNetworkBlock)
{
    Run([](TConfig1Dlg& d) { QTest::keyClicks(d.EdPass, "2"); });
    ASSERT_EQ(board->requests.size(), 2);
    EXPECT_EQ(board->requests.at(0), Request(QByteArray("\x04\x02IFB-0001")));
    EXPECT_EQ(board->requests.at(1), Request(QByteArray("\x04\x03secret2")));
    EXPECT_EQ(app->NetParams.Password, QStringLiteral("secret2"));
    EXPECT_EQ(app->NetParams.SSID, QStringLiteral("IFB-0001"));
    EXPECT_EQ(log.lines.last(), QStringLiteral("OK: 設定"));
}

TEST_F(ConfigFlow, DhcpOnlySendsTheBlockWithTheCarriedFieldsUnchanged)
{
    Run([](TConfig1Dlg& d) { d.RGDHCP2->Item(1)->click(); });
    ASSERT_EQ(board->requests.size(), 1);
    const QByteArray frame = board->requests.at(0);
    ASSERT_EQ(frame.size(), 34);
    nx7::TCPIPPARAM expected = baseline;
    expected.Flags = 0x61;
    EXPECT_EQ(frame, Request(QByteArray("\x04\x04", 2) + Block(expected)));
    // ServPort, ServAddr, Extra1, Extra2 at block offsets 11..24 (frame bytes 17..30).
    EXPECT_EQ(frame.mid(17, 14), Block(baseline).mid(11, 14));

    const nx7::TOptionSettings& s = app->Settings;
    EXPECT_EQ(s.TCPPort, 3335);
    EXPECT_EQ(s.fTCPServer, static_cast<int>(0xC0A80A14u));
    EXPECT_EQ(s.TCPServPort, 10777);
    EXPECT_EQ(s.TCPServAddr, QStringLiteral("3232238090"));
    EXPECT_EQ(log.lines.last(), QStringLiteral("OK: 設定"));
}

TEST_F(ConfigFlow, TypedAddressPortAndMaskMakeTheBlock)
{
    Run([](TConfig1Dlg& d) {
        Type(d.EdTCIP1, "10");
        Type(d.EdTCIP4, "300"); // held at 255
        Type(d.EdTCPPort, "70000");
        Type(d.EdMask3, "0");
    });
    ASSERT_EQ(board->requests.size(), 1);
    nx7::TCPIPPARAM expected = baseline;
    expected.IPAddr = 0x0AA80AFF;
    expected.Port = 65535;
    expected.NetMask = 0xFFFF0000;
    EXPECT_EQ(board->requests.at(0), Request(QByteArray("\x04\x04", 2) + Block(expected)));
    EXPECT_EQ(app->NetParams.IPAddr, 0x0AA80AFFu);
    EXPECT_EQ(app->Settings.fTCPServer, 0x0AA80AFF);
    EXPECT_EQ(app->Settings.TCPPort, 65535);
}

TEST_F(ConfigFlow, CancelAfterEditsChangesNothing)
{
    const nx7::TOptionSettings before = app->Settings;
    Run(
        [](TConfig1Dlg& d) {
            QTest::keyClicks(d.EdPass, "x");
            d.CBSSID->setEditText("other");
            d.RGDHCP2->Item(1)->click();
            Type(d.EdTCIP2, "1");
            d.Edespota->setText("/tmp/espota");
            d.CBUseSpiffs->setChecked(true);
            d.RGUploadSpeed->SetItemIndex(0);
        },
        2);
    EXPECT_TRUE(board->requests.isEmpty());
    EXPECT_TRUE(log.lines.isEmpty());
    EXPECT_EQ(Block(app->NetParams), Block(baseline));
    EXPECT_EQ(app->NetParams.Password, baseline.Password);
    EXPECT_EQ(app->Settings.App_ESPOta, before.App_ESPOta);
    EXPECT_EQ(app->Settings.fWrSpiffs, before.fWrSpiffs);
    EXPECT_EQ(app->Settings.UploadSpeed, before.UploadSpeed);
}

TEST_F(ConfigFlow, OutcomeIsThatOfTheLastCommandGroup)
{
    // The engine's 2000 ms waits pass in a tenth of the time.
    nx7::SteadyTickClock fast(20.0);
    nx7::SetClock(&fast);
    struct Case {
        const char* name;
        bool wifiAnswered;
        bool netAnswered;
        const char* line;
    };
    const Case cases[] = {
        {"wifi silent, network acknowledged", false, true, "OK: 設定"},
        {"wifi acknowledged, network silent", true, false, "NG: 設定"},
    };
    for (const Case& c : cases) {
        app->NetParams = baseline;
        board->requests.clear();
        board->answers = [&c](const QByteArray& data) {
            return data.startsWith("\x04\x04") ? c.netAnswered : c.wifiAnswered;
        };
        Run([](TConfig1Dlg& d) {
            d.EdPass->setText("changed");
            d.RGDHCP2->SetItemIndex(1);
        });
        EXPECT_EQ(board->requests.size(), 3) << c.name;
        EXPECT_EQ(log.lines.last(), QString::fromUtf8(c.line)) << c.name;
        // The record keeps the new values either way.
        EXPECT_EQ(app->NetParams.Password, QStringLiteral("changed")) << c.name;
        EXPECT_EQ(app->NetParams.Flags, 0x61) << c.name;
    }
    nx7::SetClock(nullptr);
}

TEST_F(ConfigFlow, WithoutAnEngineTheChangeFailsQuietly)
{
    app->DestroyEngine();
    Run([](TConfig1Dlg& d) { d.EdPass->setText("p"); });
    EXPECT_EQ(log.lines.last(), QStringLiteral("NG: 設定"));
    EXPECT_EQ(app->NetParams.Password, QStringLiteral("p"));
}

TEST_F(ConfigFlow, FillShowsTheRecordsAndOkStoresTheToolOptions)
{
    nx7::TOptionSettings& s = app->Settings;
    s.fWrSpiffs = 1;
    s.App_ESPTool = "/opt/esptool";
    s.App_ESPOta = "/opt/espota";
    s.PartitionTables = "/opt/p.csv";
    s.SpiffSOffset = -1;
    s.SPISpeed = 0;
    s.SPIMode = -1;    // none selected
    s.UploadSpeed = 9; // past the last entry
    baseline.Flags |= 0x20;
    app->NetParams = baseline;
    Run([](TConfig1Dlg& d) {
        EXPECT_TRUE(d.CBUseSpiffs->isChecked());
        EXPECT_TRUE(d.EdPartationFile->isEnabled());
        EXPECT_EQ(d.Edesptool->text(), QStringLiteral("/opt/esptool"));
        EXPECT_EQ(d.Edespota->text(), QStringLiteral("/opt/espota"));
        EXPECT_EQ(d.EdPartationFile->text(), QStringLiteral("/opt/p.csv"));
        EXPECT_EQ(d.EdspiffsOffset->text(), QStringLiteral("FFFFFFFF"));
        EXPECT_EQ(d.RGSPISpeed->ItemIndex(), 0);
        EXPECT_EQ(d.RGSPIMode->ItemIndex(), -1);
        EXPECT_EQ(d.RGUploadSpeed->ItemIndex(), 5);
        QStringList octets;
        for (auto* e :
             {d.EdTCIP1, d.EdTCIP2, d.EdTCIP3, d.EdTCIP4, d.EdMask1, d.EdMask2, d.EdMask3, d.EdMask4})
            octets.append(e->text());
        EXPECT_EQ(octets, QStringList({"192", "168", "10", "20", "255", "255", "255", "0"}));
        EXPECT_EQ(d.EdTCPPort->text(), QStringLiteral("3335"));
        EXPECT_EQ(d.CBSSID->count(), 1);
        EXPECT_EQ(d.CBSSID->currentText(), QStringLiteral("IFB-0001"));
        EXPECT_EQ(d.EdPass->text(), QStringLiteral("secret"));
        EXPECT_TRUE(d.CBAPMode->isChecked());
        EXPECT_EQ(d.RGDHCP2->ItemIndex(), 1);
        EXPECT_EQ(d.PageControl1->currentWidget(), d.TS_USB);

        Type(d.EdspiffsOffset, "290000");
        d.CBUseSpiffs->click();
        d.Edesptool->setText("/new/esptool");
    });
    EXPECT_TRUE(board->requests.isEmpty());
    EXPECT_EQ(s.fWrSpiffs, 0);
    EXPECT_EQ(s.App_ESPTool, QStringLiteral("/new/esptool"));
    EXPECT_EQ(s.SpiffSOffset, 0x290000);
    EXPECT_EQ(s.SPISpeed, 0);
    EXPECT_EQ(s.SPIMode, -1);
    EXPECT_EQ(s.UploadSpeed, 5);
}

// ---- the dialog's own controls

class ConfigDialog : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    nx7::test::ScriptedUi ui;
    TConfig1Dlg dlg{ui};

    QString File(const QString& name, const QByteArray& bytes = "x")
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
};

TEST_F(ConfigDialog, LayoutNamesAndFixedStates)
{
    EXPECT_EQ(dlg.objectName(), QStringLiteral("Config1Dlg"));
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("プログラムの設定"));
    ASSERT_EQ(dlg.PageControl1->count(), 2);
    EXPECT_EQ(dlg.PageControl1->tabText(0), QStringLiteral("USB/RS232C"));
    EXPECT_EQ(dlg.PageControl1->tabText(1), QStringLiteral("OTA"));
    EXPECT_EQ(dlg.PageControl1->widget(0)->objectName(), QStringLiteral("TS_USB"));
    EXPECT_EQ(dlg.PageControl1->widget(1)->objectName(), QStringLiteral("TS_OTA"));
    for (const char* name :
         {"Edesptool",      "SBesptool", "RGSPISpeed",  "RGSPIMode",       "RGUploadSpeed",   "CB_fBoot",
          "CBUseSpiffs",    "GroupBox3", "StaticText5", "EdPartationFile", "BTPartationFile", "StaticText6",
          "EdspiffsOffset", "Edespota",  "SBEdespota",  "CBAPMode",        "GroupBox1",       "CBSSID",
          "EdPass",         "GroupBox2", "RGDHCP2",     "EdTCIP1",         "EdTCIP4",         "EdTCPPort",
          "EdMask1",        "EdMask4",   "OKBtn",       "CancelBtn"})
        EXPECT_NE(dlg.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(dlg.RGUploadSpeed->Count(), 6);
    EXPECT_EQ(dlg.RGUploadSpeed->Item(5)->text(), QStringLiteral("1500000"));
    EXPECT_EQ(dlg.RGDHCP2->Item(0)->text(), QStringLiteral("手動（IP指定）"));
    EXPECT_EQ(dlg.RGDHCP2->Item(1)->text(), QStringLiteral("自動（DHCP）"));
    EXPECT_EQ(dlg.OKBtn->text(), QStringLiteral("OK"));
    EXPECT_TRUE(dlg.OKBtn->isDefault());
    EXPECT_EQ(dlg.CancelBtn->text(), QStringLiteral("キャンセル"));
    EXPECT_TRUE(dlg.CBAPMode->isChecked());
    EXPECT_FALSE(dlg.CBAPMode->isEnabled());
    EXPECT_EQ(dlg.EdPass->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(dlg.EdspiffsOffset->Hexadecimal());

    // The spiffs group follows its box.
    const QList<QWidget*> group = {dlg.StaticText5, dlg.EdPartationFile, dlg.BTPartationFile, dlg.StaticText6,
                                   dlg.EdspiffsOffset};
    for (QWidget* w : group)
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    dlg.CBUseSpiffs->click();
    for (QWidget* w : group)
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
}

TEST_F(ConfigDialog, ButtonsCloseWithTheirResults)
{
    struct Case {
        const char* name;
        std::function<void()> act;
        int expected;
    };
    const Case cases[] = {
        {"OK button", [&] { dlg.OKBtn->click(); }, 1},
        {"Enter", [&] { QTest::keyClick(&dlg, Qt::Key_Return); }, 1},
        {"Cancel button", [&] { dlg.CancelBtn->click(); }, 2},
        {"Esc", [&] { QTest::keyClick(&dlg, Qt::Key_Escape); }, 2},
        {"close box", [&] { dlg.close(); }, 2},
    };
    for (const Case& c : cases) {
        QTimer::singleShot(0, &dlg, c.act);
        EXPECT_EQ(dlg.exec(), c.expected) << c.name;
    }
}

TEST_F(ConfigDialog, NumberFieldsClampCutAndShowHexadecimal)
{
    struct Case {
        TUpdownNumberEdit* edit;
        const char* typed;
        const char* shown;
        qint64 value;
    };
    TUpdownNumberEdit unlimited;
    dlg.CBUseSpiffs->setChecked(true); // the offset field takes input only then
    const Case cases[] = {
        {dlg.EdTCIP1, "300", "255", 255},
        {dlg.EdTCIP1, "-5", "0", 0},
        {dlg.EdTCIP1, "12.9", "12.9", 12},
        {dlg.EdTCIP1, "1x", "1", 1}, // the letter is refused as it is typed
        {dlg.EdTCPPort, "65536", "65535", 65535},
        {dlg.EdspiffsOffset, "1a2b", "1A2B", 0x1A2B},
        {dlg.EdspiffsOffset, "123456789", "12345678", 0x12345678}, // eight digits at most
        {dlg.EdspiffsOffset, "ffffffff", "FFFFFFFF", 0xFFFFFFFFll},
        {&unlimited, "-3.7", "-3.7", -3},
        {&unlimited, "5000000000", "5000000000", 5000000000ll},
    };
    for (const Case& c : cases) {
        Type(c.edit, QString::fromLatin1(c.typed));
        // Read before the field is left, as OK does.
        EXPECT_EQ(c.edit->IntValue(), c.value) << c.typed;
        QTest::keyClick(c.edit, Qt::Key_Return);
        EXPECT_EQ(c.edit->text(), QString::fromLatin1(c.shown)) << c.typed;
        EXPECT_EQ(c.edit->IntValue(), c.value) << c.typed;
    }

    // An emptied field goes back to its value.
    Type(dlg.EdTCIP2, "7");
    QTest::keyClick(dlg.EdTCIP2, Qt::Key_Return);
    Type(dlg.EdTCIP2, "");
    QTest::keyClick(dlg.EdTCIP2, Qt::Key_Return);
    EXPECT_EQ(dlg.EdTCIP2->text(), QStringLiteral("7"));

    // The buttons stop at the limits.
    dlg.EdTCIP3->SetValue(254);
    dlg.EdTCIP3->stepBy(1);
    dlg.EdTCIP3->stepBy(1);
    EXPECT_EQ(dlg.EdTCIP3->IntValue(), 255);
    dlg.EdTCIP3->SetValue(999);
    EXPECT_EQ(dlg.EdTCIP3->text(), QStringLiteral("255"));
    dlg.EdspiffsOffset->SetValue(-2);
    EXPECT_EQ(dlg.EdspiffsOffset->text(), QStringLiteral("FFFFFFFE"));
    dlg.EdspiffsOffset->stepBy(5);
    EXPECT_EQ(dlg.EdspiffsOffset->text(), QStringLiteral("FFFFFFFF"));
}

TEST_F(ConfigDialog, RadioGroupIndexes)
{
    nx7::TRadioGroup* g = dlg.RGSPIMode;
    struct Case {
        int set;
        int selected;
    };
    for (const Case& c : {Case{2, 2}, Case{4, 3}, Case{100, 3}, Case{-1, -1}, Case{0, 0}, Case{-7, -1}}) {
        g->SetItemIndex(c.set);
        EXPECT_EQ(g->ItemIndex(), c.selected) << c.set;
        int checked = 0;
        for (int i = 0; i < g->Count(); ++i)
            checked += g->Item(i)->isChecked() ? 1 : 0;
        EXPECT_EQ(checked, c.selected < 0 ? 0 : 1) << c.set;
    }
    g->Item(1)->click();
    EXPECT_EQ(g->ItemIndex(), 1);
}

TEST_F(ConfigDialog, SpiffsOffsetComesFromTheLastMatchingLine)
{
    const QString table = File("partitions.csv", "# Name,   Type, SubType, Offset,  Size, Flags\r\n"
                                                 "nvs,      data, nvs,     0x9000,  0x5000,\r\n"
                                                 "app0,     app,  ota_0,   0x10000, 0x140000,\r\n"
                                                 "spiffs,   data, spiffs,  0x290000,0x170000,\r\n"
                                                 "\"my part\",data,SPIFFS, $300000, 0x10000\r\n"
                                                 "short,    data, spiffs,  0x1\r\n");
    dlg.EdspiffsOffset->SetValue(0x1234);
    EXPECT_TRUE(dlg.ReadSpiffsOffset(table));
    EXPECT_EQ(dlg.EdspiffsOffset->text(), QStringLiteral("300000"));

    struct Case {
        const char* content;
        const char* shown;
    };
    const Case cases[] = {
        {"spiffs,data,spiffs,0x290000,0x170000\n", "290000"},
        {"spiffs data spiffs 4096 8192\n", "1000"},    // blanks separate too; decimal
        {"spiffs,data,spiffs,zz,0x170000\n", "0"},     // no number
        {"nvs,data,nvs,0x9000,0x5000\n", "ABC"},       // no match: unchanged
        {"spiffs,data,\"spiffs\",0x1000,,\n", "1000"}, // quoted field, empty fields count
    };
    for (const Case& c : cases) {
        dlg.EdspiffsOffset->SetValue(0xABC);
        EXPECT_TRUE(dlg.ReadSpiffsOffset(File("t.csv", c.content))) << c.content;
        EXPECT_EQ(dlg.EdspiffsOffset->text(), QString::fromLatin1(c.shown)) << c.content;
    }
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(ConfigDialog, CommaTextSplitting)
{
    struct Case {
        const char* line;
        QStringList fields;
    };
    const Case cases[] = {
        {"a,b,c", {"a", "b", "c"}},
        {"  a , b ,c  ", {"a", "b", "c"}},
        {"a b\tc", {"a", "b", "c"}},
        {"a,,b", {"a", "", "b"}},
        {"a,", {"a", ""}},
        {"\"x y\",z", {"x y", "z"}},
        {"\"say \"\"hi\"\"\",1", {"say \"hi\"", "1"}},
        {"", {}},
        {"# Name, Type", {"#", "Name", "Type"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nx7::SplitCommaText(QString::fromLatin1(c.line)), c.fields) << c.line;
}

TEST_F(ConfigDialog, UnreadableTableIsReportedAndChangesNothing)
{
    dlg.OpenFile = [&](QWidget*, const QString&, const QString&) { return dir.filePath("missing.csv"); };
    dlg.EdspiffsOffset->SetValue(0x55);
    dlg.BTPartationFile->setEnabled(true);
    dlg.BTPartationFileClick();
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages.front().icon, nx7::MsgIcon::Error);
    EXPECT_TRUE(ui.messages.front().text.contains(QStringLiteral("missing.csv")));
    EXPECT_EQ(dlg.EdPartationFile->text(), QDir::toNativeSeparators(dir.filePath("missing.csv")));
    EXPECT_EQ(dlg.EdspiffsOffset->text(), QStringLiteral("55"));
}

TEST_F(ConfigDialog, DropsOnThePartitionField)
{
    dlg.EdspiffsOffset->SetValue(0x10);
    const QString upper = File("TABLE.CSV", "spiffs,data,spiffs,0x290000,0x170000\n");
    dlg.FileDrop2Drop({upper, File("second.csv", "spiffs,data,spiffs,0x1,0x1\n")});
    EXPECT_EQ(dlg.EdPartationFile->text(), upper);
    EXPECT_EQ(dlg.EdspiffsOffset->text(), QStringLiteral("290000"));

    dlg.FileDrop2Drop({File("notes.txt", "spiffs,data,spiffs,0x1,0x1\n")});
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages.front().text,
              QStringLiteral("ファイルの種別が違います。CSVファイルをDropしてください"));
    EXPECT_EQ(ui.messages.front().icon, nx7::MsgIcon::Error);
    EXPECT_EQ(ui.messages.front().buttons, nx7::MsgButtons::Ok);
    EXPECT_EQ(dlg.EdPartationFile->text(), upper);
    EXPECT_EQ(dlg.EdspiffsOffset->text(), QStringLiteral("290000"));

    dlg.FileDrop2Drop({dir.filePath("gone.csv")});
    dlg.FileDrop2Drop({dir.path()});
    EXPECT_EQ(ui.beeps, 2);
    EXPECT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(dlg.EdPartationFile->text(), upper);
}

TEST_F(ConfigDialog, DropsOnTheToolFieldsUseTheFirstPath)
{
    const QString first = File("espota.py");
    dlg.FileDrop3Drop({first, File("other.exe")});
    EXPECT_EQ(dlg.Edespota->text(), first);
    dlg.FileDrop3Drop({dir.filePath("none"), first});
    EXPECT_EQ(ui.beeps, 1);
    EXPECT_EQ(dlg.Edespota->text(), first);
    dlg.FileDrop1Drop({File("esptool")});
    EXPECT_EQ(dlg.Edesptool->text(), dir.filePath("esptool"));
}

TEST_F(ConfigDialog, RealDropEventsReachTheHandlers)
{
    auto send = [](QWidget* target, QMimeData* mime, QEvent::Type type) {
        QDropEvent event(QPointF(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier, type);
        QCoreApplication::sendEvent(target, &event);
        return event.isAccepted();
    };
    const QString path = File("espota.exe");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(path), QUrl::fromLocalFile(File("b.exe"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(dlg.Edespota, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(send(dlg.Edespota, &files, QEvent::Drop));
    EXPECT_EQ(dlg.Edespota->text(), path);

    // Dragged text is refused and never edits the field.
    QMimeData text;
    text.setText("injected");
    EXPECT_FALSE(send(dlg.Edesptool, &text, QEvent::Drop));
    EXPECT_EQ(dlg.Edesptool->text(), QString());
}

TEST_F(ConfigDialog, BrowseButtonsUseTheirFiltersAndFolders)
{
    QStringList folders;
    QStringList filters;
    QString answer;
    dlg.OpenFile = [&](QWidget*, const QString& folder, const QString& filter) {
        folders.append(folder);
        filters.append(filter);
        return answer;
    };
    dlg.Edespota->setText("/opt/tools/espota.exe");
    answer = "/picked/espota.exe";
    dlg.SBEdespota->click();
    EXPECT_EQ(dlg.Edespota->text(), QStringLiteral("/picked/espota.exe"));

    dlg.Edesptool->setText("/keep/me");
    answer.clear(); // cancelled: the field stays
    dlg.SBesptool->click();
    EXPECT_EQ(dlg.Edesptool->text(), QStringLiteral("/keep/me"));

    answer = File("p.csv", "spiffs,data,spiffs,0x3000,0x1000\n");
    dlg.BTPartationFileClick();
    EXPECT_EQ(dlg.EdPartationFile->text(), answer);
    EXPECT_EQ(dlg.EdspiffsOffset->text(), QStringLiteral("3000"));

    EXPECT_EQ(folders, QStringList({"/opt/tools/", "/keep/", ""}));
    EXPECT_EQ(filters, QStringList({"espota実行ファイル (*.exe)", "esptool実行ファイル (*.exe)",
                                    "Partition Tablesファイル (*.csv)"}));
}

TEST(FileFilter, WindowsFormToQtForm)
{
    EXPECT_EQ(nx7::QtFileFilter("espota実行ファイル|*.exe"), QStringLiteral("espota実行ファイル (*.exe)"));
    EXPECT_EQ(nx7::QtFileFilter("A|*.a;*.b|All|*.*"), QStringLiteral("A (*.a *.b);;All (*.*)"));
    EXPECT_EQ(nx7::QtFileFilter(""), QString());
    EXPECT_EQ(nx7::FolderOfPath("/a/b/c.exe"), QStringLiteral("/a/b/"));
    EXPECT_EQ(nx7::FolderOfPath("c.exe"), QString());
}

} // namespace
