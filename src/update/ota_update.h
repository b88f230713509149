#pragma once
// The firmware write over Wi-Fi: access point, OTA mode, link wait, temporary image, the uploader
// run, the board's verdict, the restarted board's ROM version, and the result.
#include "update/uploader_command.h"
#include "update/write_result.h"

#include <QString>

namespace nx7
{

class AppCore;

// The folder the image is put in for the uploader, under a fresh name "UOf-XXXXXX.bin": the
// settings folder for binPath_Mode 1, the per-user data folder otherwise. Ends with a separator.
QString TemporaryFirmwareFolder(int binPathMode);

// One write; true (as a bool) only for a write the board confirmed with the expected ROM version.
// The result says whether a verdict was reached, the outcome, the failure class and its cause.
// AppCore::AbortWrite ends a running write early with the aborted outcome (the board restored, the
// image removed); after such a request no new write starts.
WriteResult RunOtaUpdate(AppCore& app);
// The write command: the main window is disabled for the sequence and enabled again on every
// way out. Does nothing while no board link exists.
void FileSave1Execute(AppCore& app);

} // namespace nx7
