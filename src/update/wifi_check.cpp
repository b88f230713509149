#include "update/wifi_check.h"

#include "core/app_core.h"
#include "platform/event_wait.h"
#include "platform/helpers.h"
#include "platform/tick_clock.h"
#include "platform/ui_seam.h"

namespace nx7
{

namespace
{

const QLatin1String kBoardNetwork("192.168.0");
const QLatin1String kSelfAssigned("169.254.");

// Closes the link wait's progress dialog on every way out.
struct ProgressGuard {
    UserInteraction& ui;
    ~ProgressGuard() { ui.ProgressEnd(); }
};

} // namespace

void UpdateStopwatch::Start()
{
    m_start = Clock().TickCount();
}

std::uint32_t UpdateStopwatch::ElapsedMs() const
{
    return Clock().TickCount() - m_start;
}

bool EvaluateWifiAdapters(const QList<AdapterInfo>& adapters, QStringList* selfAssignedLines)
{
    bool answer = false;
    for (const AdapterInfo& adapter : adapters) {
        if (!IsWifiAdapter(adapter))
            continue;
        for (const QString& address : adapter.ipv4) {
            const QString text = QStringLiteral("IPv4:") + address;
            if (text.contains(kBoardNetwork)) {
                answer = true;
            } else if (text.contains(kSelfAssigned)) {
                answer = false;
                if (selfAssignedLines)
                    selfAssignedLines->append(text);
            }
        }
    }
    return answer;
}

QStringList AdapterTestLines(const std::optional<QList<AdapterInfo>>& adapters)
{
    QStringList lines;
    bool success = false;
    if (adapters) {
        for (const AdapterInfo& adapter : *adapters) {
            if (!IsWifiAdapter(adapter))
                continue;
            lines.append(QStringLiteral("Adapter Name : ") + adapter.friendlyName);
            for (const QString& address : adapter.ipv4) {
                const QString text = QStringLiteral("IPv4:") + address;
                lines.append(text);
                if (text.contains(kBoardNetwork))
                    success = true;
            }
        }
    }
    lines.append(success ? QStringLiteral("OK") : QStringLiteral("NG"));
    return lines;
}

bool WaitOtaLink(AppCore& app, std::uint16_t& port, std::uint32_t& address, int waitMs,
                 const UpdateStopwatch& sinceUpdateStart)
{
    if (!app.Engine())
        return false;
    const QString title = QStringLiteral("------- Check WiFi AP Connection ----------");
    ProgressRequest request;
    request.caption = QStringLiteral("しばらくお待ちください");
    request.label = title;
    app.Ui.SetStatusText(title);
    ProcessPendingEvents();
    app.Ui.ProgressBegin(request);
    ProgressGuard guard{app.Ui};
    ProcessPendingEvents();

    Deadline(0, 0);
    BoardCommands commands = app.Commands();
    for (;;) {
        if (commands.GetOtaStatus(port, address)) {
            app.AddLog(QStringLiteral("Connection: ") + QString::number(sinceUpdateStart.ElapsedMs()) +
                           QStringLiteral("ms"),
                       true);
            return true;
        }
        if (Deadline(1, static_cast<std::uint32_t>(waitMs < 0 ? 0 : waitMs)) || app.WriteAbortRequested())
            return false;
        // Nobody is left to report the station while the link to the board is down.
        if (app.WatchLink && app.LinkLost())
            return false;
        ProcessPendingEvents();
        PumpSleep(500);
    }
}

bool CheckWifiAdapter(AppCore& app)
{
    const std::optional<QList<AdapterInfo>> adapters = QueryAdapters();
    if (!adapters)
        return false;
    QStringList selfAssigned;
    const bool answer = EvaluateWifiAdapters(*adapters, &selfAssigned);
    for (const QString& line : selfAssigned)
        app.AddLog(line, true);
    return answer;
}

void N5Click(AppCore& app)
{
    for (const QString& line : AdapterTestLines(QueryAdapters()))
        app.AddLog(line, true);
}

} // namespace nx7
