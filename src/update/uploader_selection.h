#pragma once
// The choice of the OTA uploader executable (App_ESPOta): a dialog loop that accepts only an
// existing file with one of the uploader's names.
#include "platform/ui_seam.h"

#include <QString>

namespace nx7
{

class AppCore;

// The page the uploader can be downloaded from.
QString UploaderDownloadUrl();

// True when `fileName` is one of the uploader's file names on this platform (case-insensitive).
bool IsUploaderFileName(const QString& fileName);
// True when a file (not a folder) exists at `path` and its name is an uploader's name.
bool IsAcceptableUploaderPath(const QString& path);

// The uploader's file name as the texts give it: the configured file's own name ("espota",
// "espota.py"), or "espota.exe" when none is configured.
QString UploaderFileName(const QString& path);

// A text that names "espota.exe", naming the configured uploader's own file instead: unchanged
// where that file is espota.exe (or none is configured).
QString NameUploaderIn(QString text, const QString& uploaderPath);

// The uploader that comes with this program, where it is: `libexec/nx7ifbprog/espota` under the
// install prefix (the executable in its `bin/`), or the build's `tools/espota/espota` when run
// from the build tree. Empty when there is none (always on Windows, where it is not shipped).
QString PackagedUploaderPath();

// The dialog's texts, with `path` in the path field. With a `packaged` uploader the dialog names
// that one and offers it (in the path field unless `path` already is a usable uploader) instead
// of the download link.
UploaderDialogRequest UploaderSelectionRequest(const QString& path, const QString& packaged = {});

// True when the user confirmed an acceptable file (then App_ESPOta holds it). With `askOnCancel`
// a cancel asks whether to give up the write; without it a cancel gives up at once.
bool SelectUploader(AppCore& app, bool askOnCancel);

// The menu item "実行ファイル再設定" (and the hidden toolbar button): selection, then the path shown.
void N7Click(AppCore& app);

} // namespace nx7
