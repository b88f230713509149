#pragma once
// The checks around the PC joining the board's OTA access point: the wait for the board to report
// a station, the look at the PC's own Wi-Fi adapters, and the adapter test of the hidden menu.
#include "platform/adapters.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace nx7
{

class AppCore;

// The update's stopwatch, from just before the link wait until the result dialog has closed. It
// runs on the program's tick clock, so compressed end-to-end runs report compressed times.
class UpdateStopwatch
{
public:
    void Start();
    std::uint32_t ElapsedMs() const;

private:
    std::uint32_t m_start = 0;
};

// The verdict of the Wi-Fi adapter check over a given adapter list: the last decisive IPv4
// address decides (on the board's network: true; self-assigned: false). `selfAssignedLines`
// receives the "IPv4:..." line of each self-assigned address met, in order.
bool EvaluateWifiAdapters(const QList<AdapterInfo>& adapters, QStringList* selfAssignedLines);

// The log lines of the adapter test (N5Click) for an adapter list (std::nullopt: the query failed).
QStringList AdapterTestLines(const std::optional<QList<AdapterInfo>>& adapters);

// Polls the board's OTA status every half second until it reports a connected station (true) or
// `waitMs` have passed or the write is aborted (false). `port` and `address` receive what the board reported.
bool WaitOtaLink(AppCore& app, std::uint16_t& port, std::uint32_t& address, int waitMs,
                 const UpdateStopwatch& sinceUpdateStart);

// True when a Wi-Fi adapter of the PC holds an address on the board's network.
bool CheckWifiAdapter(AppCore& app);

// The hidden "テスト" menu item: the PC's Wi-Fi adapters and addresses into the log.
void N5Click(AppCore& app);

} // namespace nx7
