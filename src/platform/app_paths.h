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
// <exe dir>/Orvanta/ (trailing separator): the portable place, beside the executable.
QString PortableSettingsFolder();
// Per-user place used when the executable's folder cannot be written (an installed copy, a
// read-only mount): <GenericConfigLocation>/Orvanta/ (~/.config/Orvanta/ here).
QString UserSettingsFolder();
// The settings folder in use (trailing separator), creating no folder: the portable one when its
// file, the folder itself or the nearest existing folder above it can be written (tried with a
// probe file that is removed at once), else the per-user one. Logs and the temporary firmware file
// (binPath_Mode 1) go here too.
QString SettingsFolder();
// <settings folder><exe base name>.ini; creates the folder (failure ignored).
QString SettingsFilePath();
// The log line that says which settings file a run uses: "Settings file : <path>".
QString SettingsFileLogLine(const QString& path);
// Removes temporaries "<file name>.XXXXXX" that a save interrupted by a kill left beside `path`
// (regular files older than `minAgeSeconds` only, so a save running at that moment in another
// instance is not disturbed). Returns how many were removed.
int RemoveSaveLeftovers(const QString& path, int minAgeSeconds = 60);
// Per-user folder for the temporary firmware file: <GenericDataLocation>/novalk/<exe base name>/
QString UserDataFolder();

} // namespace nx7
