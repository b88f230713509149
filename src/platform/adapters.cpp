#include "platform/adapters.h"

#include <QNetworkInterface>

namespace nx7
{

bool IsWifiAdapter(const AdapterInfo& adapter)
{
    return adapter.friendlyName.contains(QLatin1String("Wi-Fi")) || adapter.wireless ||
           adapter.friendlyName.startsWith(QLatin1String("wl"));
}

namespace
{
AdapterProvider& Provider()
{
    static AdapterProvider provider;
    return provider;
}
} // namespace

void SetAdapterProvider(AdapterProvider provider)
{
    Provider() = std::move(provider);
}

std::optional<QList<AdapterInfo>> QueryAdapters()
{
    if (Provider())
        return Provider()();
    QList<AdapterInfo> list;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        AdapterInfo info;
        info.friendlyName = iface.humanReadableName();
        info.wireless = iface.type() == QNetworkInterface::Wifi;
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                info.ipv4.append(entry.ip().toString());
        }
        list.append(info);
    }
    return list;
}

QString LocalAddressOnNetworkOf(const QString& address)
{
    const QHostAddress wanted(address);
    if (wanted.protocol() != QAbstractSocket::IPv4Protocol)
        return {};
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        if (!iface.flags().testFlag(QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && entry.prefixLength() > 0 &&
                wanted.isInSubnet(entry.ip(), entry.prefixLength()))
                return entry.ip().toString();
        }
    }
    return {};
}

QList<AdapterInfo> ParseAdapterList(const QString& text)
{
    QList<AdapterInfo> list;
    for (const QString& item : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        AdapterInfo info;
        QString name = eq < 0 ? item : item.left(eq);
        if (name.endsWith(QLatin1String("~w"))) {
            info.wireless = true;
            name.chop(2);
        }
        info.friendlyName = name;
        if (eq >= 0)
            info.ipv4 = item.mid(eq + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
        list.append(info);
    }
    return list;
}

} // namespace nx7
