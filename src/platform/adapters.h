#pragma once
// The PC's network adapters with their IPv4 addresses, in the system's order. Tests inject a list.
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace nx7
{

struct AdapterInfo {
    QString friendlyName;
    bool wireless = false; // the system reports it as a Wi-Fi interface
    QStringList ipv4;      // dotted-decimal, in the system's order
};

// Wi-Fi: the friendly name contains "Wi-Fi" (as Windows names them), or the system reports the
// interface as wireless, or its name begins with "wl".
bool IsWifiAdapter(const AdapterInfo& adapter);

// std::nullopt when the adapter list cannot be obtained.
using AdapterProvider = std::function<std::optional<QList<AdapterInfo>>()>;
std::optional<QList<AdapterInfo>> QueryAdapters();
void SetAdapterProvider(AdapterProvider provider); // empty: back to the system's list

// This PC's IPv4 address on the network that holds `address` (the first adapter that is up and
// whose prefix contains it); empty when no adapter is on that network. Always the system's own
// list: the injected one carries no prefixes.
QString LocalAddressOnNetworkOf(const QString& address);

// Parses "name[~w]=ip,ip;name2=ip" (~w marks a wireless one) into a list; used to inject adapters
// into end-to-end runs.
QList<AdapterInfo> ParseAdapterList(const QString& text);

} // namespace nx7
