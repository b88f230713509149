#pragma once
// Network checks after the PC joined the board's access point and before the uploader runs: the
// PC has an address in the board's subnet, the route to the board leaves through that adapter,
// the host port for the board's connection back can be bound, and no active firewall is in the
// way. Also gives the uploader arguments that pin the PC's address and host port, so one firewall
// rule is enough.
#include "diag/diag_texts.h"
#include "diag/network_view.h"

#include <QList>
#include <QStringList>

namespace nx7::diag
{

// The [Option] key of the host port the board connects back to, and its default; 0 in the
// setting: the uploader's own choice (a random port, no -P).
inline const QString kOtaHostPortKey = QStringLiteral("OtaHostPort");
constexpr int kDefaultOtaHostPort = 3233;
// The setting's value as a port: out of range gives the default.
int OtaHostPortFromSetting(int value);

struct PreflightInput {
    QHostAddress board;   // the board's address on its access point
    int boardPrefix = -1; // the board's netmask as a prefix; -1: the PC adapter's own, else /24
    QString ssid;         // the access point's name, for the texts
    int hostPort = kDefaultOtaHostPort;
};

enum class PreflightCheckId { Subnet, Route, HostPort, Firewall };

struct PreflightCheck {
    PreflightCheckId id;
    bool passed = true;
    QString summary;  // one line for the log: what was found
    CauseAction text; // empty when passed
    // Passed only because nothing could be found out (the state is "不明"): logged without "OK:".
    bool unknown = false;
};

struct PreflightResult {
    QList<PreflightCheck> checks;
    QString adapter;        // the adapter holding the PC's address in the board's subnet
    QHostAddress pcAddress; // that address (null when none)
    int hostPort = 0;

    bool AllPassed() const;
    const PreflightCheck* Find(PreflightCheckId id) const;
    // "-I <pc address>" when known, "-P <port>" when the port is fixed.
    QStringList UploaderArguments() const;
    // Summaries, and for each failed check its 原因/対処 lines.
    QStringList LogLines() const;
};

PreflightResult RunNetworkPreflight(const NetworkView& view, const PreflightInput& input);

} // namespace nx7::diag
