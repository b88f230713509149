#pragma once
// The automatic join of the board's access point as the write sees it: available or not, join,
// and undo. The tool's own one goes through NetworkManager on Linux; tests hand in their own.
#include "diag/diag_texts.h"

#include <QString>
#include <functional>
#include <memory>

namespace nx7
{

struct AutoJoinResult {
    bool ok = false;
    QString detail;                // the reason as the network service gave it, for the log
    diag::CauseAction explanation; // what went wrong and how to join by hand
};

class AutoJoin
{
public:
    virtual ~AutoJoin() = default;
    // Whether a join can be tried at all on this PC.
    virtual bool Available() = 0;
    // Joins `ssid` and waits up to `timeoutMs`; `progress` hears the states, `abort` may end it.
    virtual AutoJoinResult Join(const QString& ssid, const QString& password, int timeoutMs,
                                const std::function<void(const QString& progressLine)>& progress,
                                const std::function<bool()>& abort) = 0;
    // Brings back the PC's previous connection; harmless when there is nothing to undo.
    virtual void Restore() = 0;
};

using AutoJoinFactory = std::function<std::unique_ptr<AutoJoin>()>;

// The join question's two lines while the join runs by itself (empty where there is no join).
QString AutoJoinMessage1();
QString AutoJoinMessage2();

// Replaces the tool's own join (tests); an empty factory brings it back.
void SetAutoJoinFactory(AutoJoinFactory factory);
// The tool's own join through the NetworkManager on the bus at `busAddress` instead of the system
// bus (tests run their own bus); null where the platform has none.
std::unique_ptr<AutoJoin> MakeNetworkManagerJoinOn(const QString& busAddress);
// The join to use for one write; null where the platform has none.
std::unique_ptr<AutoJoin> MakeAutoJoin();

} // namespace nx7
