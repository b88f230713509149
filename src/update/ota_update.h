#pragma once
// The firmware write over Wi-Fi: access point, OTA mode, link wait, temporary image, the uploader
// run, the board's verdict, the restarted board's ROM version, and the result.
#include <QString>
#include <QStringList>
#include <cstdint>

namespace nx7
{

class AppCore;

enum UpdateOutcome : int {
    OutcomeSuccess = 0,
    OutcomeAborted = 1,
    OutcomeTimeout = 2,
    OutcomeUploaderError = 3,
};

// The uploader port; always used, whatever the board reported.
constexpr std::uint16_t kOtaUploadPort = 3232;

// The folder the image is put in for the uploader, under a fresh name "UOf-XXXXXX.bin": the
// settings folder for binPath_Mode 1, the per-user data folder otherwise. Ends with a separator.
QString TemporaryFirmwareFolder(int binPathMode);

// The access point's address, most significant byte first ("192.168.0.1").
QString FormatApAddress(std::uint32_t address);

// The text handed to RunTool: uploader, -i, -p, `extra` (the PC's address and host port), --auth=,
// -f, with the paths quoted for the interpreter.
QString BuildUploaderCommand(const QString& uploader, const QString& address, std::uint16_t port,
                             const QString& password, const QString& imagePath,
                             const QStringList& extra = {});

struct WriteResultTexts {
    QString verdict;
    unsigned verdictRgb = 0;
    QString detail;
    QStringList closingLines;
    bool offerWriteAgain = false;
};
WriteResultTexts WriteResultFor(int outcome);

// True only for a write the board confirmed with the expected ROM version. AppCore::AbortWrite
// ends a running write early with the aborted outcome (the board restored, the image removed);
// after such a request no new write starts.
bool RunOtaUpdate(AppCore& app);
// The result dialog of a write; `why` (the cause-and-action lines) goes below the fixed text.
void ShowWriteResult(AppCore& app, int outcome, const QString& why = QString());
// The write command: the main window is disabled for the sequence and enabled again on every
// way out. Does nothing while no board link exists.
void FileSave1Execute(AppCore& app);

} // namespace nx7
