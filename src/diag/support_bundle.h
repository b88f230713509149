#pragma once
// One zip for support: the current and the previous log, the settings file with passwords
// masked, versions (tool, image, Qt, OS), the PC's interfaces, addresses and routes, the serial
// ports seen and the firewall state. No password of any kind goes in: every text is masked again
// on the way (known passwords, password-shaped assignments, the password bytes of the protocol
// trace's hex), the logs too, whatever wrote them.
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

enum class BundleTarget {
    New,     // an existing file at the path is refused
    Replace, // an existing file is replaced (its overwrite was confirmed)
};

// Writes the zip in one piece (a failed write leaves whatever was at the path). Never through a
// symbolic link; over an existing file only with BundleTarget::Replace. False with `error` set
// (the path and the cause) when it is not written.
bool WriteSupportBundle(const SupportBundleInput& input, const QString& zipPath, QString* error,
                        BundleTarget target = BundleTarget::New);

} // namespace nx7::diag
