#include "diag/preflight.h"

namespace nx7::diag
{

namespace
{

constexpr int kFallbackPrefix = 24;

quint32 MaskOf(int prefix)
{
    return prefix <= 0 ? 0u : (prefix >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefix));
}

bool SameSubnet(const QHostAddress& a, const QHostAddress& b, int prefix)
{
    const quint32 mask = MaskOf(prefix);
    return (a.toIPv4Address() & mask) == (b.toIPv4Address() & mask);
}

PreflightCheck Passed(PreflightCheckId id, const QString& summary)
{
    return {id, true, summary, {}};
}

PreflightCheck Unknown(PreflightCheckId id, const QString& summary)
{
    return {id, true, summary, {}, true};
}

PreflightCheck Failed(PreflightCheckId id, const QString& summary, CauseAction text)
{
    return {id, false, summary, std::move(text)};
}

// 1. An address of the PC in the board's subnet; a wireless adapter wins over another one.
void FindPcAddress(const QList<NetAdapter>& adapters, const PreflightInput& input, PreflightResult& result)
{
    bool foundWireless = false;
    for (const NetAdapter& a : adapters) {
        for (const NetAddress& n : a.addresses) {
            const int prefix = input.boardPrefix >= 0
                                   ? input.boardPrefix
                                   : (n.prefixLength > 0 ? n.prefixLength : kFallbackPrefix);
            if (n.ip == input.board || !SameSubnet(n.ip, input.board, prefix))
                continue;
            if (result.pcAddress.isNull() || (a.wireless && !foundWireless)) {
                result.pcAddress = n.ip;
                result.adapter = a.name;
                foundWireless = a.wireless;
            }
        }
    }
}

PreflightCheck SubnetCheck(const PreflightResult& result, const PreflightInput& input,
                           const QList<NetAdapter>& adapters)
{
    const QString board = input.board.toString();
    if (result.pcAddress.isNull()) {
        return Failed(PreflightCheckId::Subnet,
                      QStringLiteral("PCにボード %1 と同じネットワークのアドレスがありません").arg(board),
                      PcNotInBoardSubnet(board, input.ssid, adapters));
    }
    return Passed(PreflightCheckId::Subnet,
                  QStringLiteral("PCのアドレス %1（%2）").arg(result.pcAddress.toString(), result.adapter));
}

// 2. The route to the board leaves through that adapter (not the wired LAN or a VPN).
PreflightCheck RouteCheck(const NetworkView& view, const PreflightInput& input, const PreflightResult& result)
{
    const QString board = input.board.toString();
    const std::optional<RouteInfo> route = view.RouteTo(input.board);
    if (!route)
        return Unknown(PreflightCheckId::Route, QStringLiteral("ボード %1 への経路: 不明").arg(board));
    if (!result.adapter.isEmpty() && route->adapter != result.adapter) {
        return Failed(PreflightCheckId::Route,
                      QStringLiteral("ボード %1 への経路が %2 を通っています").arg(board, route->adapter),
                      RouteThroughOtherAdapter(board, route->adapter, result.adapter));
    }
    return Passed(PreflightCheckId::Route,
                  QStringLiteral("ボード %1 への経路: %2").arg(board, route->adapter));
}

// 3. The host port for the board's connection back.
PreflightCheck HostPortCheck(const NetworkView& view, const PreflightResult& result)
{
    const QHostAddress local =
        result.pcAddress.isNull() ? QHostAddress(QHostAddress::AnyIPv4) : result.pcAddress;
    QString why;
    if (view.CanBind(local, static_cast<quint16>(result.hostPort), &why)) {
        return Passed(PreflightCheckId::HostPort,
                      QStringLiteral("待ち受けポート %1:%2").arg(local.toString()).arg(result.hostPort));
    }
    return Failed(
        PreflightCheckId::HostPort,
        QStringLiteral("待ち受けポート %1:%2 を使えません").arg(local.toString()).arg(result.hostPort),
        HostPortUnbindable(local.toString(), result.hostPort, why));
}

// 4. An active host firewall that does not already let the port in.
PreflightCheck FirewallCheck(const NetworkView& view, int hostPort)
{
    const FirewallState fw = view.Firewall();
    if (fw.active && !FirewallAllowsPort(fw, hostPort)) {
        return Failed(PreflightCheckId::Firewall,
                      QStringLiteral("ファイアウォール %1 が有効です").arg(FirewallName(fw.kind)),
                      FirewallActive(fw, hostPort));
    }
    if (fw.kind == FirewallKind::Unknown && !fw.active)
        return Unknown(PreflightCheckId::Firewall, QStringLiteral("ファイアウォール: 不明"));
    return Passed(
        PreflightCheckId::Firewall,
        QStringLiteral("ファイアウォール: %1%2")
            .arg(FirewallName(fw.kind), fw.active ? QStringLiteral("（ポート許可済み）") : QString()));
}

} // namespace

int OtaHostPortFromSetting(int value)
{
    return value >= 0 && value <= 65535 ? value : kDefaultOtaHostPort;
}

bool PreflightResult::AllPassed() const
{
    for (const PreflightCheck& c : checks) {
        if (!c.passed)
            return false;
    }
    return true;
}

const PreflightCheck* PreflightResult::Find(PreflightCheckId id) const
{
    for (const PreflightCheck& c : checks) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

QStringList PreflightResult::UploaderArguments() const
{
    QStringList args;
    if (!pcAddress.isNull())
        args << QStringLiteral("-I") << pcAddress.toString();
    if (hostPort > 0)
        args << QStringLiteral("-P") << QString::number(hostPort);
    return args;
}

QStringList PreflightResult::LogLines() const
{
    QStringList lines;
    for (const PreflightCheck& c : checks) {
        lines << (c.unknown ? QString() : (c.passed ? QStringLiteral("OK: ") : QStringLiteral("NG: "))) +
                     c.summary;
        if (!c.passed)
            lines << c.text.Lines();
    }
    return lines;
}

PreflightResult RunNetworkPreflight(const NetworkView& view, const PreflightInput& input)
{
    PreflightResult result;
    result.hostPort = qMax(0, input.hostPort);
    const QList<NetAdapter> adapters = view.Adapters();
    FindPcAddress(adapters, input, result);
    // The checks in this order: each asks the view once, in the order the log shows them.
    result.checks << SubnetCheck(result, input, adapters);
    result.checks << RouteCheck(view, input, result);
    result.checks << HostPortCheck(view, result);
    result.checks << FirewallCheck(view, result.hostPort);
    return result;
}

} // namespace nx7::diag
