#pragma once
// The PC's network as the pre-flight and the support bundle see it: adapters, routes, whether a
// host port can be bound, and the host firewall. Tests hand in their own view; the system view
// asks the operating system and tolerates every failure (a missing tool, no permission).
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace nx7::diag
{

struct NetAddress {
    QHostAddress ip;
    int prefixLength = -1; // -1: unknown
};

struct NetAdapter {
    QString name;
    bool wireless = false;
    bool up = true;
    QList<NetAddress> addresses; // IPv4 only
};

struct RouteInfo {
    QString adapter;      // the adapter the route leaves through
    QHostAddress source;  // the PC's address used on that route (may be null)
    QHostAddress gateway; // null: the destination is on the link
};

enum class FirewallKind { None, Unknown, Ufw, Firewalld, Nftables };

struct FirewallState {
    FirewallKind kind = FirewallKind::Unknown;
    bool active = false;
    // The rules as read (ufw status, nft ruleset), empty when they could not be read.
    QString rules;
    // For nftables: the table and chain of the input hook with policy drop.
    QString nftFamily, nftTable, nftChain;
};

class NetworkView
{
public:
    virtual ~NetworkView() = default;
    virtual QList<NetAdapter> Adapters() const = 0;
    // std::nullopt when the route cannot be found out.
    virtual std::optional<RouteInfo> RouteTo(const QHostAddress& destination) const = 0;
    // Whether a TCP port can be listened on at `local` (port 0: any free port). `why` gets the
    // system's reason on failure.
    virtual bool CanBind(const QHostAddress& local, quint16 port, QString* why) const = 0;
    virtual FirewallState Firewall() const = 0;
    // The routing table as text lines, for the support bundle.
    virtual QStringList RouteTable() const = 0;
};

// The running system. Linux: QNetworkInterface, `ip -o route get` or /proc/net/route, ufw,
// firewalld and nftables. Elsewhere the routes and the firewall are unknown.
class SystemNetworkView : public NetworkView
{
public:
    QList<NetAdapter> Adapters() const override;
    std::optional<RouteInfo> RouteTo(const QHostAddress& destination) const override;
    bool CanBind(const QHostAddress& local, quint16 port, QString* why) const override;
    FirewallState Firewall() const override;
    QStringList RouteTable() const override;
};

// How long a system tool may run before it is ended and counted as failed.
constexpr int kSystemToolLimitMs = 3000;
// What the system tool `name` (looked up in PATH, then in the system folders) prints with `args`,
// standard error included; empty when it is missing, cannot start, fails (a non-zero status, a
// signal) or has not ended within `limitMs`. It waits in the event loop, so the window stays alive.
QString SystemToolOutput(const QString& name, const QStringList& args, int limitMs = kSystemToolLimitMs);

// Parsers of what the system tools print; pure, so tests feed them recorded text.
// `ip -o route get <addr>`: "192.168.4.1 dev wlan0 src 192.168.4.2 uid 1000 \    cache"
std::optional<RouteInfo> ParseIpRouteGet(const QString& text);
// /proc/net/route: the longest matching prefix, then the lowest metric.
std::optional<RouteInfo> RouteFromProcTable(const QString& table, const QHostAddress& destination);
// `ufw status` (root) or ufw.conf (ENABLED=yes): active or not, rules kept.
std::optional<FirewallState> ParseUfw(const QString& status, const QString& conf);
// `nft list ruleset`: an input hook whose policy is drop, with its table and chain.
std::optional<FirewallState> ParseNftRuleset(const QString& ruleset);
// Whether the rules read already let TCP `port` in (ufw "3233/tcp ALLOW", nft "tcp dport 3233
// accept"); false when unknown.
bool FirewallAllowsPort(const FirewallState& state, int port);

QString FirewallName(FirewallKind kind);
// Lines describing adapters, addresses, routes and firewall, for logs and the support bundle.
QStringList DescribeNetwork(const NetworkView& view);

} // namespace nx7::diag
