#pragma once
// Pins the simulator's pseudo-terminal as a COM number in the tool's settings file: the line
// "COM<n>=<path>" in section "PortMap", leaving everything else in the file as it was.
#include <QByteArray>
#include <QString>

namespace ifbsim
{

// The edit on the file's bytes (encoding by byte-order mark kept; no mark: bytes kept as read).
QByteArray PinPortInIni(const QByteArray& original, int number, const QString& devicePath);
// Reads, edits and atomically replaces the file (created when missing). False with `error` set on failure.
bool PinPortFile(const QString& iniPath, int number, const QString& devicePath, QString* error);

} // namespace ifbsim
