#pragma once
// One zip for support: the current and the previous log, the settings file with passwords
// masked, versions (tool, image, Qt, OS), the PC's interfaces, addresses and routes, the serial
// ports seen and the firewall state. No password of any kind goes in: every text is masked on the
// way, the logs too (they may have been written with the diagnostic switch on).
#include "diag/network_view.h"

#include <QString>
#include <QStringList>

namespace nx7::diag
{

struct SupportBundleInput {
    QString logFolder;    // this tool's log files (LogFolder())
    QString currentLog;   // the running log's path; empty: the newest file in logFolder
    QString settingsPath; // the settings file
    QStringList secrets;  // every password the tool knows right now
    QString toolVersion;
    QString imageVersion;                 // the firmware the tool carries
    QString boardVersion;                 // what the board reported, if known
    const NetworkView* network = nullptr; // null: the system's view
    // The serial ports seen; empty: asked from the system.
    QStringList serialPorts;
};

// Writes the zip (replacing an existing file). False with `error` set when it cannot be written.
bool WriteSupportBundle(const SupportBundleInput& input, const QString& zipPath, QString* error);

} // namespace nx7::diag
