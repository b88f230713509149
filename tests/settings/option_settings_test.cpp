#include "comm/board_types.h"
#include "platform/code_page.h"
#include "platform/ini_file.h"
#include "settings/option_settings.h"
#include "settings/run_unprivileged.h"
#include "support/scripted_ui.h"
#include "support/small_disk.h"
#include "support/test_data.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using nx7::IniFile;
using nx7::LoadOptionSettings;
using nx7::SaveOptionSettings;
using nx7::TOptionSettings;

namespace
{

const QStringList kSavedKeys = {
    "ComPort",        "ComSpeed",    "Parity",       "UseUSB",       "TCPPort",      "fTCPServer",
    "TCPServPort",    "TCPServAddr", "fNoVerCheck",  "SPISpeed",     "SPIMode",      "ProgMode",
    "UploadSpeed",    "App_ESPOta",  "ProgAddr1",    "ProgAddr2",    "SpiffSOffset", "CONECT_WAIT_TIME",
    "Prog_WAIT_TIME", "fBoot",       "CHK_IFB_TIME", "OldDousaMode", "SelectModel",  "binPath_Mode",
    "USBWait_Mode",   "USBchange"};

using nx7::test::ReadAll;
using nx7::test::WriteAll;

// Every field, so a test can compare two records and name the field that differs.
QStringList Fields(const TOptionSettings& s)
{
    QStringList out;
    for (int v : {s.ComPort,      s.ComSpeed,     s.Parity,           s.UseUSB,         s.TCPPort,
                  s.fTCPServer,   s.TCPServPort,  s.fNoVerCheck,      s.SPISpeed,       s.SPIMode,
                  s.ProgMode,     s.UploadSpeed,  s.fProgFile2,       s.fWrSpiffs,      s.ProgAddr1,
                  s.ProgAddr2,    s.SpiffSOffset, s.CONECT_WAIT_TIME, s.Prog_WAIT_TIME, s.fBoot,
                  s.CHK_IFB_TIME, s.SelectModel,  s.binPath_Mode,     s.USBWait_Mode,   s.USBchange})
        out.append(QString::number(v));
    out << s.TCPServAddr << s.App_ESPTool << s.App_ESPOta << s.PartitionTables << s.ProgFile1 << s.ProgFile2
        << s.SpiffsFile;
    return out;
}

class OptionSettings : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    nx7::test::ScriptedUi ui;
    QString path = dir.filePath("Orvanta/nx7ifbprog.ini");

    void SetUp() override { ASSERT_TRUE(QDir(dir.path()).mkdir("Orvanta")); }

    void ExpectAccessMessage(const QString& file)
    {
        ASSERT_EQ(ui.messages.size(), 1);
        const nx7::MessageRequest& m = ui.messages.front();
        EXPECT_EQ(m.caption, QStringLiteral("例外エラー"));
        EXPECT_EQ(m.text,
                  QStringLiteral(
                      "iniファイルの生成・更新に失敗しました。\n\nアクセス権限を確認してください。\n\n") +
                      file);
        EXPECT_EQ(m.icon, nx7::MsgIcon::Error);
        EXPECT_EQ(m.buttons, nx7::MsgButtons::Ok);
        EXPECT_FALSE(m.ownedByMainWindow);
    }
};

TEST_F(OptionSettings, MissingFileGivesEveryDefault)
{
    TOptionSettings s;
    s.ComPort = 99;
    s.App_ESPOta = "stale";
    LoadOptionSettings(path, s);
    EXPECT_EQ(Fields(s), Fields(TOptionSettings{}));
    const TOptionSettings d;
    EXPECT_EQ(d.ComSpeed, 4);
    EXPECT_EQ(d.ProgAddr1, 65536);
    EXPECT_EQ(d.ProgAddr2, 32768);
    EXPECT_EQ(d.CONECT_WAIT_TIME, 15000);
    EXPECT_EQ(d.Prog_WAIT_TIME, 60000);
    EXPECT_EQ(d.CHK_IFB_TIME, 10000);
    EXPECT_FALSE(QFile::exists(path)); // the load creates nothing
}

TEST_F(OptionSettings, LoadReadsEveryKeyWithItsForms)
{
    ASSERT_TRUE(WriteAll(
        path, nx7::ToAnsi(QStringLiteral("[option]\r\n"
                                         "comport=3\r\nComSpeed=abc\r\nParity=\r\nUseUSB=2\r\n"
                                         "TCPPort=$D07\r\nfTCPServer=0\r\nTCPServPort=0X2A19\r\n"
                                         "TCPServAddr=10.0.0.5\r\nfNoVerCheck=0\r\nSPISpeed=0\r\n"
                                         "SPIMode=3\r\nProgMode=1\r\nUploadSpeed=9\r\nfProgFile2=1\r\n"
                                         "fWrSpiffs=1\r\nApp_ESPTool=C:\\道具\\esptool.exe\r\n"
                                         "App_ESPOta=C:\\espota.exe\r\nPartitionTables=p.csv\r\n"
                                         "ProgFile1=f1.bin\r\nProgFile2=f2.bin\r\nSpiffsFile=s.bin\r\n"
                                         "ProgAddr1=0x20000\r\nProgAddr2=12x\r\n"
                                         "SpiffSOffset=0x290000\r\nCONECT_WAIT_TIME=100\r\n"
                                         "Prog_WAIT_TIME=200\r\nfBoot=1\r\nCHK_IFB_TIME=300\r\n"
                                         "SelectModel=-1\r\nbinPath_Mode=0\r\nUSBWait_Mode=0\r\n"
                                         "USBchange=2\r\n"))));
    TOptionSettings s;
    LoadOptionSettings(path, s);
    EXPECT_EQ(s.ComPort, 3);
    EXPECT_EQ(s.ComSpeed, 4); // letters: default
    EXPECT_EQ(s.Parity, 0);   // nothing after '=': default
    EXPECT_EQ(s.UseUSB, 2);
    EXPECT_EQ(s.TCPPort, 3335);
    EXPECT_EQ(s.fTCPServer, 0);
    EXPECT_EQ(s.TCPServPort, 10777);
    EXPECT_EQ(s.TCPServAddr, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(s.fNoVerCheck, 0);
    EXPECT_EQ(s.SPISpeed, 0);
    EXPECT_EQ(s.SPIMode, 3);
    EXPECT_EQ(s.ProgMode, 1);
    EXPECT_EQ(s.UploadSpeed, 9);
    EXPECT_EQ(s.fProgFile2, 1);
    EXPECT_EQ(s.fWrSpiffs, 1);
    EXPECT_EQ(s.App_ESPTool, QStringLiteral("C:\\道具\\esptool.exe"));
    EXPECT_EQ(s.App_ESPOta, QStringLiteral("C:\\espota.exe"));
    EXPECT_EQ(s.PartitionTables, QStringLiteral("p.csv"));
    EXPECT_EQ(s.ProgFile1, QStringLiteral("f1.bin"));
    EXPECT_EQ(s.ProgFile2, QStringLiteral("f2.bin"));
    EXPECT_EQ(s.SpiffsFile, QStringLiteral("s.bin"));
    EXPECT_EQ(s.ProgAddr1, 131072);
    EXPECT_EQ(s.ProgAddr2, 32768);
    EXPECT_EQ(s.SpiffSOffset, 0x290000);
    EXPECT_EQ(s.CONECT_WAIT_TIME, 100);
    EXPECT_EQ(s.Prog_WAIT_TIME, 200);
    EXPECT_EQ(s.fBoot, 1);
    EXPECT_EQ(s.CHK_IFB_TIME, 300);
    EXPECT_EQ(s.SelectModel, -1);
    EXPECT_EQ(s.binPath_Mode, 0);
    EXPECT_EQ(s.USBWait_Mode, 0);
    EXPECT_EQ(s.USBchange, 2);
}

TEST_F(OptionSettings, FreshFileHoldsExactlyTheSavedKeysInOrder)
{
    TOptionSettings s;
    s.ComPort = 12;
    s.TCPServAddr = "3232235530";
    s.App_ESPOta = QStringLiteral("C:\\ツール\\espota.exe");
    s.SelectModel = -7;
    // Fields that are only read must not reach a fresh file.
    s.App_ESPTool = "tool";
    s.fWrSpiffs = 1;
    s.PartitionTables = "p.csv";
    s.ProgFile1 = "f.bin";
    ASSERT_TRUE(SaveOptionSettings(path, s, 0xFFF5, &ui));
    EXPECT_TRUE(ui.messages.isEmpty());

    const QByteArray bytes = ReadAll(path);
    IniFile ini = IniFile::Parse(bytes);
    EXPECT_EQ(ini.encoding(), IniFile::Encoding::Ansi);
    EXPECT_EQ(ini.Sections(), QStringList({"Option"}));
    EXPECT_EQ(ini.Keys("Option"), kSavedKeys);
    EXPECT_EQ(ini.Value("Option", "OldDousaMode"), QStringLiteral("5"));
    EXPECT_EQ(ini.Value("Option", "SelectModel"), QStringLiteral("-7"));
    EXPECT_EQ(ini.Value("Option", "TCPServAddr"), QStringLiteral("3232235530"));
    EXPECT_EQ(ini.Value("Option", "App_ESPOta"), QStringLiteral("C:\\ツール\\espota.exe"));
    EXPECT_TRUE(bytes.startsWith("[Option]\r\nComPort=12\r\nComSpeed=4\r\n"));
    EXPECT_EQ(QDir(dir.filePath("Orvanta")).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList({"nx7ifbprog.ini"}));

    TOptionSettings back;
    LoadOptionSettings(path, back);
    s.App_ESPTool = back.App_ESPTool;
    s.fWrSpiffs = back.fWrSpiffs;
    s.PartitionTables = back.PartitionTables;
    s.ProgFile1 = back.ProgFile1;
    EXPECT_EQ(Fields(back), Fields(s));
}

TEST_F(OptionSettings, SaveKeepsEverythingElseOfAnExistingFile)
{
    const QString before = QStringLiteral("; ローカル設定\r\n"
                                          "[ComDebug]\r\n"
                                          "BaudRate=0x4B00\r\n"
                                          "\r\n"
                                          "[Option]\r\n"
                                          "ProgAddr1=0x20000\r\n"
                                          "ComPort = 5\r\n"
                                          "App_ESPTool=C:\\old\\esptool.exe\r\n"
                                          "Custom=x\r\n"
                                          "\r\n"
                                          "[PortMap]\r\n"
                                          "COM9=/dev/pts/4\r\n");
    QStringEncoder utf16(QStringConverter::Utf16LE);
    ASSERT_TRUE(WriteAll(path, QByteArray("\xFF\xFE") + utf16.encode(before)));

    TOptionSettings s;
    LoadOptionSettings(path, s);
    ASSERT_EQ(s.ProgAddr1, 131072);
    ASSERT_EQ(s.ComPort, 5);
    s.App_ESPTool = "C:\\new\\esptool.exe"; // only read: the change is not saved
    ASSERT_TRUE(SaveOptionSettings(path, s, 1, &ui));

    const QByteArray bytes = ReadAll(path);
    const IniFile ini = IniFile::Parse(bytes);
    EXPECT_EQ(ini.encoding(), IniFile::Encoding::Utf16LE);
    EXPECT_EQ(ini.Sections(), QStringList({"ComDebug", "Option", "PortMap"}));
    EXPECT_EQ(ini.Value("Option", "ProgAddr1"), QStringLiteral("131072"));
    EXPECT_EQ(ini.Value("Option", "App_ESPTool"), QStringLiteral("C:\\old\\esptool.exe"));
    EXPECT_EQ(ini.Value("ComDebug", "BaudRate"), QStringLiteral("0x4B00"));
    QStringList expectedKeys = {"ProgAddr1", "ComPort", "App_ESPTool", "Custom"};
    for (const QString& k : kSavedKeys) {
        if (k != "ProgAddr1" && k != "ComPort")
            expectedKeys.append(k);
    }
    EXPECT_EQ(ini.Keys("Option"), expectedKeys);
    // The untouched lines before and after the section are byte-exact; the present ComPort value
    // is unchanged, so its line keeps its blanks.
    const QString text = QStringDecoder(QStringConverter::Utf16LE).decode(bytes.mid(2));
    EXPECT_TRUE(
        text.startsWith(QStringLiteral("; ローカル設定\r\n[ComDebug]\r\nBaudRate=0x4B00\r\n\r\n[Option]\r\n"
                                       "ProgAddr1=131072\r\nComPort = 5\r\n"
                                       "App_ESPTool=C:\\old\\esptool.exe\r\nCustom=x\r\nComSpeed=4\r\n")))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("USBchange=1\r\n\r\n[PortMap]\r\nCOM9=/dev/pts/4\r\n")));
}

TEST_F(OptionSettings, ReadOnlyFileIsLeftByteForByteAndTheUserIsTold)
{
    const QByteArray bytes("[Option]\r\nComPort=3\r\n");
    ASSERT_TRUE(WriteAll(path, bytes));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    TOptionSettings s;
    s.ComPort = 4;
    EXPECT_FALSE(SaveOptionSettings(path, s, 0, &ui));
    ExpectAccessMessage(path);
    EXPECT_EQ(ReadAll(path), bytes);
    EXPECT_EQ(QDir(dir.filePath("Orvanta")).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList({"nx7ifbprog.ini"}));
}

// The settings folder's disk is full: the file stays byte for byte (no half-written file takes its
// place) and the person is told once, with the path and the cause after the box's own text.
TEST_F(OptionSettings, FullDiskLeavesTheFileAndSaysWhyOnce)
{
    const QString folder = dir.filePath("Orvanta");
    const int status = nx7::test::RunOnSmallDisk(folder, 64, [&] {
        const QByteArray before("; kept\r\n[Option]\r\nComPort=3\r\n[Other]\r\nx=1\r\n");
        if (!WriteAll(path, before) || !nx7::test::FillDisk(folder))
            return 100;
        nx7::test::ScriptedUi childUi;
        TOptionSettings s;
        s.ComPort = 4;
        EXPECT_FALSE(SaveOptionSettings(path, s, 0, &childUi));
        EXPECT_FALSE(SaveOptionSettings(path, s, 0, &childUi)); // a second close says nothing new
        EXPECT_EQ(ReadAll(path), before);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System),
                  QStringList({"filler", "nx7ifbprog.ini"}));
        EXPECT_EQ(childUi.messages.size(), 1);
        if (!childUi.messages.isEmpty()) {
            EXPECT_EQ(childUi.messages.front().caption, QStringLiteral("例外エラー"));
            EXPECT_EQ(childUi.messages.front().text,
                      QStringLiteral(
                          "iniファイルの生成・更新に失敗しました。\n\nアクセス権限を確認してください。\n\n") +
                          path +
                          QStringLiteral("\n\nディスクの空き容量が不足しています (No space left on device)"));
        }
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    if (status == nx7::test::kNoSmallDisk)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(status, 0);
}

TEST_F(OptionSettings, FileThatCannotBeCreatedIsReported)
{
    const QString inMissingFolder = dir.filePath("NoSuchFolder/x.ini");
    EXPECT_FALSE(SaveOptionSettings(inMissingFolder, TOptionSettings{}, 0, &ui));
    // A second close of the same run says nothing new.
    EXPECT_FALSE(SaveOptionSettings(inMissingFolder, TOptionSettings{}, 0, &ui));
    ExpectAccessMessage(inMissingFolder);
    EXPECT_FALSE(QFile::exists(dir.filePath("NoSuchFolder")));
}

TEST_F(OptionSettings, UnreadableFileIsNeitherLoadedNorOverwritten)
{
    // A file that exists and opens but fails every read, whatever the rights of the test runner.
    ASSERT_TRUE(QFile::link("/proc/self/mem", path));
    TOptionSettings s;
    s.ComPort = 9;
    LoadOptionSettings(path, s);
    EXPECT_EQ(Fields(s), Fields(TOptionSettings{}));
    EXPECT_FALSE(SaveOptionSettings(path, s, 0, &ui));
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(QFileInfo(path).symLinkTarget(), QStringLiteral("/proc/self/mem"));
}

TEST_F(OptionSettings, GarbageFileGivesDefaultsAndSurvivesTheSave)
{
    QByteArray garbage;
    for (int i = 0; i < 512; ++i)
        garbage.append(static_cast<char>((i * 37 + 11) & 0xFF));
    garbage.replace('[', '('); // no section header by accident
    ASSERT_TRUE(WriteAll(path, garbage));
    TOptionSettings s;
    LoadOptionSettings(path, s);
    EXPECT_EQ(Fields(s), Fields(TOptionSettings{}));
    ASSERT_TRUE(SaveOptionSettings(path, s, 0, &ui));
    const QByteArray after = ReadAll(path);
    EXPECT_TRUE(after.startsWith(garbage));
    EXPECT_EQ(IniFile::Parse(after).Keys("Option"), kSavedKeys);
}

// A folder that cannot be written holding a file that can: the file is rewritten in place.
TEST_F(OptionSettings, FileInAFolderThatCannotBeWrittenIsRewrittenInPlace)
{
    ASSERT_TRUE(WriteAll(path, "[Other]\r\nx=1\r\n[Option]\r\nComPort=3\r\n"));
    const QFileDevice::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                          QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    const QFileDevice::Permissions closed = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                            QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(path, open));
    ASSERT_TRUE(QFile::setPermissions(dir.path(), closed));
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("Orvanta"), closed));
    const int status = nx7::test::RunUnprivileged([&] {
        nx7::test::ScriptedUi childUi;
        TOptionSettings s;
        LoadOptionSettings(path, s);
        s.ComPort = 7;
        if (!SaveOptionSettings(path, s, 2, &childUi))
            return 1;
        return childUi.messages.isEmpty() ? 0 : 2;
    });
    QFile::setPermissions(dir.filePath("Orvanta"),
                          open | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    QFile::setPermissions(dir.path(), open | QFile::ExeOwner);
    ASSERT_EQ(status, 0);
    const IniFile ini = IniFile::Parse(ReadAll(path));
    EXPECT_EQ(ini.Value("Option", "ComPort"), QStringLiteral("7"));
    EXPECT_EQ(ini.Value("Option", "OldDousaMode"), QStringLiteral("2"));
    EXPECT_EQ(ini.Value("Other", "x"), QStringLiteral("1"));
    EXPECT_EQ(QDir(dir.filePath("Orvanta")).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList({"nx7ifbprog.ini"}));
}

TEST_F(OptionSettings, LeftoversOfAnInterruptedSaveAreRemovedAtTheNextStart)
{
    ASSERT_TRUE(WriteAll(path, "[Option]\r\nComPort=5\r\n"));
    const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
    auto make = [&](const QString& name, bool aged) {
        const QString file = dir.filePath("Orvanta/" + name);
        ASSERT_TRUE(WriteAll(file, "[Option]\r\n"));
        if (aged) {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
        }
    };
    make("nx7ifbprog.ini.Ab3dE9", true);  // a leftover
    make("nx7ifbprog.ini.zZ0000", true);  // another
    make("nx7ifbprog.ini.Qw12Er", false); // a save running right now elsewhere
    make("nx7ifbprog.ini.bak", true);     // somebody's copy
    make("nx7ifbprog.ini.ABCDEFG", true); // not the save's pattern
    make("other.ini.Ab3dE9", true);       // another file's
    ASSERT_TRUE(
        QFile::link(dir.filePath("Orvanta/other.ini.Ab3dE9"), dir.filePath("Orvanta/nx7ifbprog.ini.Ln0000")));

    TOptionSettings s;
    LoadOptionSettings(path, s);
    EXPECT_EQ(s.ComPort, 5);
    QStringList left = QDir(dir.filePath("Orvanta")).entryList(QDir::Files | QDir::Hidden | QDir::System);
    left.sort();
    EXPECT_EQ(left, QStringList({"nx7ifbprog.ini", "nx7ifbprog.ini.ABCDEFG", "nx7ifbprog.ini.Ln0000",
                                 "nx7ifbprog.ini.Qw12Er", "nx7ifbprog.ini.bak", "other.ini.Ab3dE9"}));
}

// The write's host port: read from the file (default 3233, 0 kept: the uploader's choice), never
// written, so a value set by hand survives the save and the saved key list stays as it was.
TEST_F(OptionSettings, HostPortIsReadAndLeftAsSetByHand)
{
    TOptionSettings s;
    LoadOptionSettings(path, s);
    EXPECT_EQ(s.OtaHostPort, 3233);
    for (const char* value : {"0", "40000"}) {
        ASSERT_TRUE(WriteAll(path, QByteArray("[Option]\r\nOtaHostPort=") + value + "\r\n"));
        LoadOptionSettings(path, s);
        EXPECT_EQ(s.OtaHostPort, QByteArray(value).toInt());
        s.OtaHostPort = 1234;
        ASSERT_TRUE(SaveOptionSettings(path, s, 0, &ui));
        const QByteArray saved = ReadAll(path);
        EXPECT_TRUE(saved.contains(QByteArray("OtaHostPort=") + value + "\r\n")) << saved.constData();
        EXPECT_FALSE(saved.contains("OtaHostPort=1234"));
    }
}

// The write's switches (check after a second restart, automatic join): read from the file with
// their defaults, never written, so a value set by hand survives the save.
TEST_F(OptionSettings, WriteSwitchesAreReadAndLeftAsSetByHand)
{
    struct Switch {
        const char* key;
        int TOptionSettings::*field;
        int defaultValue;
    };
    for (const Switch& k : {Switch{"VerifyAfterReboot", &TOptionSettings::VerifyAfterReboot, 0},
                            Switch{"AutoJoinAP", &TOptionSettings::AutoJoinAP, 1}}) {
        SCOPED_TRACE(k.key);
        ASSERT_TRUE(WriteAll(path, QByteArray("[Option]\r\n")));
        TOptionSettings s;
        LoadOptionSettings(path, s);
        EXPECT_EQ(s.*k.field, k.defaultValue);
        const int byHand = 1 - k.defaultValue;
        ASSERT_TRUE(
            WriteAll(path, QByteArray("[Option]\r\n") + k.key + "=" + QByteArray::number(byHand) + "\r\n"));
        LoadOptionSettings(path, s);
        EXPECT_EQ(s.*k.field, byHand);
        s.*k.field = k.defaultValue;
        ASSERT_TRUE(SaveOptionSettings(path, s, 0, &ui));
        const QByteArray saved = ReadAll(path);
        EXPECT_TRUE(saved.contains(QByteArray(k.key) + "=" + QByteArray::number(byHand) + "\r\n"))
            << saved.constData();
        EXPECT_FALSE(saved.contains(QByteArray(k.key) + "=" + QByteArray::number(k.defaultValue)));
    }
}

} // namespace

TEST(MirrorNetParams, BoardBlockBecomesTheFourTcpSettings)
{
    struct Case {
        const char* name;
        std::uint16_t port;
        std::uint32_t address;
        std::uint16_t servPort;
        std::uint32_t servAddr;
        int fTCPServer;
        const char* servAddrText;
    };
    const Case cases[] = {
        {"private addresses", 3335, 0xC0A80414u, 10777, 0x0A000005u, static_cast<int>(0xC0A80414u),
         "167772165"},
        // The switch holds the address bit for bit, not a yes/no.
        {"low address", 1, 0x0A000001u, 2, 0x7FFFFFFFu, 0x0A000001, "2147483647"},
        // Text of the remote address stays unsigned above 2^31.
        {"high remote address", 65535, 0, 65535, 0xFFFFFFFFu, 0, "4294967295"},
        {"all zero", 0, 0, 0, 0, 0, "0"},
    };
    for (const Case& c : cases) {
        nx7::TCPIPPARAM board;
        board.Port = c.port;
        board.IPAddr = c.address;
        board.ServPort = c.servPort;
        board.ServAddr = c.servAddr;
        board.NetMask = 0xFFFFFF00u;
        TOptionSettings s;
        s.ComPort = 7;
        TOptionSettings expected = s;
        expected.TCPPort = c.port;
        expected.fTCPServer = c.fTCPServer;
        expected.TCPServPort = c.servPort;
        expected.TCPServAddr = QString::fromLatin1(c.servAddrText);
        nx7::MirrorNetParams(board, s);
        EXPECT_EQ(Fields(s), Fields(expected)) << c.name;
    }
}
