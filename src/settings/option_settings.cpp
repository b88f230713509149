#include "settings/option_settings.h"

#include "comm/board_types.h"
#include "platform/app_paths.h"
#include "platform/ini_file.h"
#include "platform/ui_seam.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace nx7
{

namespace
{
const QString kSection = QStringLiteral("Option");
}

void LoadOptionSettings(const QString& path, TOptionSettings& settings)
{
    const TOptionSettings d;
    // Temporaries of a save that a kill interrupted are of no use to anyone.
    RemoveSaveLeftovers(path);
    IniFile ini;
    // An unreadable file reads as an empty one: every field takes its default.
    if (!ini.Load(path))
        ini = IniFile();
    auto integer = [&](const char* key, int def) {
        return ini.ReadInteger(kSection, QLatin1String(key), def);
    };
    auto text = [&](const char* key, const QString& def) {
        return ini.ReadString(kSection, QLatin1String(key), def);
    };

    settings.ComPort = integer("ComPort", d.ComPort);
    settings.ComSpeed = integer("ComSpeed", d.ComSpeed);
    settings.Parity = integer("Parity", d.Parity);
    settings.UseUSB = integer("UseUSB", d.UseUSB);
    settings.TCPPort = integer("TCPPort", d.TCPPort);
    settings.fTCPServer = integer("fTCPServer", d.fTCPServer);
    settings.TCPServPort = integer("TCPServPort", d.TCPServPort);
    settings.TCPServAddr = text("TCPServAddr", d.TCPServAddr);
    settings.fNoVerCheck = integer("fNoVerCheck", d.fNoVerCheck);
    settings.SPISpeed = integer("SPISpeed", d.SPISpeed);
    settings.SPIMode = integer("SPIMode", d.SPIMode);
    settings.ProgMode = integer("ProgMode", d.ProgMode);
    settings.UploadSpeed = integer("UploadSpeed", d.UploadSpeed);
    settings.fProgFile2 = integer("fProgFile2", d.fProgFile2);
    settings.fWrSpiffs = integer("fWrSpiffs", d.fWrSpiffs);
    settings.App_ESPTool = text("App_ESPTool", d.App_ESPTool);
    settings.App_ESPOta = text("App_ESPOta", d.App_ESPOta);
    settings.PartitionTables = text("PartitionTables", d.PartitionTables);
    settings.ProgFile1 = text("ProgFile1", d.ProgFile1);
    settings.ProgFile2 = text("ProgFile2", d.ProgFile2);
    settings.SpiffsFile = text("SpiffsFile", d.SpiffsFile);
    settings.ProgAddr1 = integer("ProgAddr1", d.ProgAddr1);
    settings.ProgAddr2 = integer("ProgAddr2", d.ProgAddr2);
    settings.SpiffSOffset = integer("SpiffSOffset", d.SpiffSOffset);
    settings.CONECT_WAIT_TIME = integer("CONECT_WAIT_TIME", d.CONECT_WAIT_TIME);
    settings.Prog_WAIT_TIME = integer("Prog_WAIT_TIME", d.Prog_WAIT_TIME);
    settings.fBoot = integer("fBoot", d.fBoot);
    settings.CHK_IFB_TIME = integer("CHK_IFB_TIME", d.CHK_IFB_TIME);
    settings.SelectModel = integer("SelectModel", d.SelectModel);
    settings.binPath_Mode = integer("binPath_Mode", d.binPath_Mode);
    settings.USBWait_Mode = integer("USBWait_Mode", d.USBWait_Mode);
    settings.USBchange = integer("USBchange", d.USBchange);
    settings.OtaHostPort = integer("OtaHostPort", d.OtaHostPort);
    settings.VerifyAfterReboot = integer(kVerifyAfterRebootKey, d.VerifyAfterReboot);
    settings.AutoJoinAP = integer(kAutoJoinApKey, d.AutoJoinAP);
    settings.PendingDousaMode = integer("PendingDousaMode", d.PendingDousaMode);
    if (settings.PendingDousaMode > 0xFFFF)
        settings.PendingDousaMode = d.PendingDousaMode;
}

bool SaveOptionSettings(const QString& path, const TOptionSettings& s, std::uint16_t savedOperationMode,
                        UserInteraction* ui)
{
    auto fail = [&](const QString& cause) {
        ReportIniSaveFailure(ui, path, cause);
        return false;
    };

    const QFileInfo info(path);
    const bool existed = info.exists();
    if (existed && (info.isDir() || !(info.permissions() & QFileDevice::WriteOwner)))
        return fail(QString());

    IniFile ini;
    // A file that exists but cannot be read is left alone: writing our keys into an empty document
    // would replace everything else it holds, and nothing tells us what that is.
    if (!ini.Load(path))
        return false;

    auto integer = [&](const char* key, int value) { ini.WriteInteger(kSection, QLatin1String(key), value); };
    auto text = [&](const char* key, const QString& value) {
        ini.WriteString(kSection, QLatin1String(key), value);
    };
    integer("ComPort", s.ComPort);
    integer("ComSpeed", s.ComSpeed);
    integer("Parity", s.Parity);
    integer("UseUSB", s.UseUSB);
    integer("TCPPort", s.TCPPort);
    integer("fTCPServer", s.fTCPServer);
    integer("TCPServPort", s.TCPServPort);
    text("TCPServAddr", s.TCPServAddr);
    integer("fNoVerCheck", s.fNoVerCheck);
    integer("SPISpeed", s.SPISpeed);
    integer("SPIMode", s.SPIMode);
    integer("ProgMode", s.ProgMode);
    integer("UploadSpeed", s.UploadSpeed);
    text("App_ESPOta", s.App_ESPOta);
    integer("ProgAddr1", s.ProgAddr1);
    integer("ProgAddr2", s.ProgAddr2);
    integer("SpiffSOffset", s.SpiffSOffset);
    integer("CONECT_WAIT_TIME", s.CONECT_WAIT_TIME);
    integer("Prog_WAIT_TIME", s.Prog_WAIT_TIME);
    integer("fBoot", s.fBoot);
    integer("CHK_IFB_TIME", s.CHK_IFB_TIME);
    integer("OldDousaMode", savedOperationMode & 7);
    integer("SelectModel", s.SelectModel);
    integer("binPath_Mode", s.binPath_Mode);
    integer("USBWait_Mode", s.USBWait_Mode);
    integer("USBchange", s.USBchange);
    // OtaHostPort, VerifyAfterReboot and AutoJoinAP are read only: the file written keeps its fixed key list,
    // and a value set by hand stays because the save rewrites only its own keys.

    // The file is replaced in one piece only once everything was written, so a failed save leaves
    // the old one byte for byte. A file that can be neither made nor rewritten is the access
    // problem the box describes; a write that failed (a full disk) adds its cause after it.
    const FileSaveResult saved = ini.Write(path);
    if (saved.Saved())
        return true;
    return fail(saved.kind == FileSaveResult::Kind::NoAccess ? QString() : saved.cause);
}

bool SavePendingMode(const QString& path, int mode)
{
    IniFile ini;
    if (path.isEmpty() || !ini.Load(path))
        return false;
    const QString key = QStringLiteral("PendingDousaMode");
    const std::optional<QString> old = ini.Value(kSection, key);
    // Nothing to take back that was never written: the file stays untouched.
    if (mode < 0 && (!old || old->isEmpty()))
        return true;
    ini.WriteString(kSection, key,
                    mode < 0 ? QString() : QStringLiteral("0x%1").arg(mode, 4, 16, QLatin1Char('0')));
    return ini.Save(path);
}

void MirrorNetParams(const TCPIPPARAM& board, TOptionSettings& settings)
{
    settings.TCPPort = board.Port;
    // fTCPServer is the switch "the tool is the TCP server" (non-zero), yet it takes the board's own
    // address: a board with an address keeps the tool the server, one at 0.0.0.0 makes it a client
    // of TCPServAddr. The 32 bits are kept, so an address from 128.0.0.0 up reads back negative.
    settings.fTCPServer = static_cast<int>(board.IPAddr);
    settings.TCPServPort = board.ServPort;
    settings.TCPServAddr = QString::number(board.ServAddr);
}

} // namespace nx7
