#pragma once
// Where the program lives and where it keeps its files.
#include <QString>

namespace nx7
{

// Full path of the running executable (tests may override it).
QString ExecutablePath();
void SetExecutablePathOverride(const QString& path); // empty: back to the real one

// Executable's folder, with a trailing separator.
QString ExecutableDir();
// Executable's file name without its extension.
QString ExecutableBaseName();
// <exe dir>/Orvanta/ (trailing separator).
QString SettingsFolder();
// <exe dir>/Orvanta/<exe base name>.ini; creates the folder (failure ignored).
QString SettingsFilePath();
// Per-user folder for the temporary firmware file: <GenericDataLocation>/novalk/<exe base name>/
QString UserDataFolder();

} // namespace nx7
