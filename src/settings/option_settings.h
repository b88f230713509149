#pragma once
// Section "Option" of the settings file: one field per key, loaded once at start and saved at
// every close of the main window.
#include "settings/production_options.h"

#include <QString>
#include <cstdint>

namespace nx7
{

class UserInteraction;
struct TCPIPPARAM;

struct TOptionSettings {
    int ComPort = 1;
    int ComSpeed = 4;
    int Parity = 0;
    int UseUSB = 0;
    int TCPPort = 3335;
    int fTCPServer = 1;
    int TCPServPort = 10777;
    QString TCPServAddr = QStringLiteral("192.168.0.10");
    int fNoVerCheck = 1;
    int SPISpeed = 1;
    int SPIMode = 1;
    int ProgMode = 0;
    int UploadSpeed = 5;
    int fProgFile2 = 0;
    int fWrSpiffs = 0;
    QString App_ESPTool;
    QString App_ESPOta;
    QString PartitionTables;
    QString ProgFile1;
    QString ProgFile2;
    QString SpiffsFile;
    int ProgAddr1 = 65536;
    int ProgAddr2 = 32768;
    int SpiffSOffset = 0;
    int CONECT_WAIT_TIME = 15000;
    int Prog_WAIT_TIME = 60000;
    int fBoot = 0;
    int CHK_IFB_TIME = 10000;
    int SelectModel = 1;
    int binPath_Mode = 1;
    int USBWait_Mode = 1;
    int USBchange = 1;
    // The host port the board connects back to during a write over Wi-Fi; 0: the uploader's
    // choice. Read from the file, never written (a value set by hand is kept).
    int OtaHostPort = 3233;
    // 1: after a good version check the board is restarted once more and its version read again.
    int VerifyAfterReboot = kVerifyAfterRebootDefault;
    // 1: the write joins the board's access point by itself where it can; 0: always by hand.
    // Read only, like OtaHostPort.
    int AutoJoinAP = kAutoJoinApDefault;
    // The operation mode a write that did not end would have given back (-1: none). Written while
    // a write runs (SavePendingMode), read at start so that the board gets its mode back after a
    // crash.
    int PendingDousaMode = -1;
};

// Copies the board's network block into the four TCP link settings, each time it is read from the
// board or changed by the parameter dialog: TCPPort = Port, fTCPServer = IPAddr, TCPServPort =
// ServPort, TCPServAddr = the unsigned decimal text of ServAddr.
void MirrorNetParams(const TCPIPPARAM& board, TOptionSettings& settings);

// Fills every field from section "Option" (defaults for missing keys, empty values and texts that
// are no number). A missing or unreadable file gives all defaults; nothing is written. Temporaries
// left beside the file by an interrupted save are removed.
void LoadOptionSettings(const QString& path, TOptionSettings& settings);

// Key "PendingDousaMode" of section "Option": the board's operation mode, kept in the file from the
// start of a write until its mode is given back; `mode` < 0 empties the key. Only this key changes.
bool SavePendingMode(const QString& path, int mode);

// Writes the 26 saved keys in their order (OldDousaMode = low three bits of `savedOperationMode`),
// keeping every other key and section and the file's encoding. Where the folder cannot be written
// the file is rewritten in place. A read-only file, or one that can be neither created nor
// rewritten, shows the "例外エラー" message with the file's path through `ui` (once per file and
// run) and is left untouched; so does a file whose new content could not be written whole (a full
// disk), with the cause after the message's text. Returns whether the file was written.
bool SaveOptionSettings(const QString& path, const TOptionSettings& settings,
                        std::uint16_t savedOperationMode, UserInteraction* ui);

} // namespace nx7
