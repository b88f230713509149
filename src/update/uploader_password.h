#pragma once
// How the upload password reaches the uploader. The project's own uploader takes it from its
// environment, so it never shows in the process list (every user of the PC can read a command
// line); any other uploader takes it only as "--auth=<password>".
#include "update/tool_runner.h"

#include <QString>
#include <QStringList>

namespace nx7
{

// True when the file at `path` is the project's own uploader: its executable carries the handover
// marker. At most the first 64 MiB are read; a script, a missing or unreadable file is not.
bool IsOwnUploader(const QString& path);

// The arguments that carry `password` to the uploader of `launch`, in place of
// "--auth=<password>". For the project's own uploader they name the environment variable
// ("--auth-env", "NX7_OTA_PASSWORD"), and the password goes into `launch.environment`, which
// RunUploader hands to the uploader; otherwise they are {"--auth=<password>"}.
QStringList UploaderPasswordArguments(UploaderLaunch& launch, const QString& password);

} // namespace nx7
