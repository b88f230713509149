#pragma once
// A network view made of plain values, for the pre-flight and the support bundle.
#include "diag/network_view.h"

#include <QMap>

namespace nx7::diag::test
{

inline NetAdapter Adapter(const QString& name, bool wireless, const QStringList& cidrs)
{
    NetAdapter a;
    a.name = name;
    a.wireless = wireless;
    for (const QString& c : cidrs) {
        const auto parts = c.split(QLatin1Char('/'));
        a.addresses.append({QHostAddress(parts.at(0)), parts.size() > 1 ? parts.at(1).toInt() : -1});
    }
    return a;
}

class FakeNetwork : public NetworkView
{
public:
    QList<NetAdapter> adapters;
    std::optional<RouteInfo> route;
    QString bindError; // non-empty: binding fails with this reason
    FirewallState firewall{FirewallKind::None, false, {}, {}, {}, {}};
    QStringList routeTable;

    mutable QHostAddress boundAddress;
    mutable int boundPort = -1;

    QList<NetAdapter> Adapters() const override { return adapters; }
    std::optional<RouteInfo> RouteTo(const QHostAddress&) const override { return route; }
    bool CanBind(const QHostAddress& local, quint16 port, QString* why) const override
    {
        boundAddress = local;
        boundPort = port;
        if (why)
            *why = bindError;
        return bindError.isEmpty();
    }
    FirewallState Firewall() const override { return firewall; }
    QStringList RouteTable() const override { return routeTable; }
};

inline RouteInfo Via(const QString& adapter)
{
    RouteInfo r;
    r.adapter = adapter;
    return r;
}

} // namespace nx7::diag::test
