// Entry point of the test build only: end-to-end runs compress the protocol's long fixed waits
// (NX7IFBPROG_TIME_SCALE), inject the adapter list (NX7IFBPROG_ADAPTERS), the network the write's
// checks see (NX7IFBPROG_NETWORK) and the bus of a NetworkManager stand-in (NX7IFBPROG_JOIN_BUS).
// The shipped executable has no such entry.
#include "app/app_main.h"
#include "core/app_core.h"
#include "diag/network_view.h"
#include "platform/adapters.h"
#include "platform/tick_clock.h"
#include "update/auto_join.h"

#include <QList>
#include <QString>
#include <cstdlib>
#include <memory>
#include <optional>

namespace
{

// "wlan0=192.168.4.2/24,eth0=10.0.0.5/24;firewall=ufw": the adapters with their addresses, and an
// active firewall (ufw, firewalld, nftables) or none. A route leaves through the adapter that shares
// the destination's subnet (else the first one); every host port can be bound.
class SeamNetwork : public nx7::diag::NetworkView
{
public:
    explicit SeamNetwork(const QString& text)
    {
        for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (part.startsWith(QLatin1String("firewall="))) {
                const QString kind = part.mid(9);
                m_firewall.kind = kind == QLatin1String("ufw")         ? nx7::diag::FirewallKind::Ufw
                                  : kind == QLatin1String("firewalld") ? nx7::diag::FirewallKind::Firewalld
                                  : kind == QLatin1String("nftables")  ? nx7::diag::FirewallKind::Nftables
                                                                       : nx7::diag::FirewallKind::None;
                m_firewall.active = m_firewall.kind != nx7::diag::FirewallKind::None;
                continue;
            }
            for (const QString& entry : part.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const QStringList nameAddr = entry.split(QLatin1Char('='));
                nx7::diag::NetAdapter a;
                a.name = nameAddr.at(0);
                a.wireless = a.name.startsWith(QLatin1String("wl"));
                if (nameAddr.size() > 1) {
                    const QStringList cidr = nameAddr.at(1).split(QLatin1Char('/'));
                    a.addresses.append({QHostAddress(cidr.at(0)), cidr.size() > 1 ? cidr.at(1).toInt() : 24});
                }
                m_adapters.append(a);
            }
        }
        m_firewall.kind = m_firewall.active ? m_firewall.kind : nx7::diag::FirewallKind::None;
    }
    QList<nx7::diag::NetAdapter> Adapters() const override { return m_adapters; }
    std::optional<nx7::diag::RouteInfo> RouteTo(const QHostAddress& destination) const override
    {
        for (const nx7::diag::NetAdapter& a : m_adapters) {
            for (const nx7::diag::NetAddress& n : a.addresses) {
                if (destination.isInSubnet(n.ip, n.prefixLength))
                    return nx7::diag::RouteInfo{a.name, n.ip, {}};
            }
        }
        if (m_adapters.isEmpty())
            return std::nullopt;
        return nx7::diag::RouteInfo{m_adapters.first().name, {}, {}};
    }
    bool CanBind(const QHostAddress&, quint16, QString*) const override { return true; }
    nx7::diag::FirewallState Firewall() const override { return m_firewall; }
    QStringList RouteTable() const override { return {}; }

private:
    QList<nx7::diag::NetAdapter> m_adapters;
    nx7::diag::FirewallState m_firewall;
};

} // namespace

int main(int argc, char** argv)
{
    std::unique_ptr<nx7::SteadyTickClock> clock;
    if (const char* scale = std::getenv("NX7IFBPROG_TIME_SCALE")) {
        const double factor = std::atof(scale);
        if (factor > 0) {
            clock = std::make_unique<nx7::SteadyTickClock>(factor);
            nx7::SetClock(clock.get());
        }
    }
    if (const char* adapters = std::getenv("NX7IFBPROG_ADAPTERS")) {
        const QList<nx7::AdapterInfo> list = nx7::ParseAdapterList(QString::fromUtf8(adapters));
        nx7::SetAdapterProvider([list] { return std::optional<QList<nx7::AdapterInfo>>(list); });
    }
    if (const char* network = std::getenv("NX7IFBPROG_NETWORK"))
        nx7::AppCore::SetDefaultNetwork(std::make_shared<SeamNetwork>(QString::fromUtf8(network)));
    // The test build never joins an access point through the system's bus: only through the
    // NetworkManager on a bus a test started itself (NX7IFBPROG_JOIN_BUS), or not at all.
    if (const char* bus = std::getenv("NX7IFBPROG_JOIN_BUS")) {
        const QString address = QString::fromUtf8(bus);
        nx7::SetAutoJoinFactory([address] { return nx7::MakeNetworkManagerJoinOn(address); });
    } else {
        nx7::SetAutoJoinFactory([] { return std::unique_ptr<nx7::AutoJoin>(); });
    }
    const int status = nx7::RunApplication(argc, argv);
    nx7::SetClock(nullptr);
    return status;
}
