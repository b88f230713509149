#include "diag/network_view.h"

#include "platform/process_runner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QtEndian>

namespace nx7::diag
{

namespace
{

#ifdef Q_OS_UNIX
QString ReadTextFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(f.readAll());
}
#endif

// /proc/net/route keeps addresses as host-order hex of the little-endian word.
quint32 ProcHex(const QString& text)
{
    bool ok = false;
    const quint32 v = text.toUInt(&ok, 16);
    return ok ? qFromBigEndian(qToLittleEndian(v)) : 0;
}

int PrefixOf(quint32 mask)
{
    int n = 0;
    while (n < 32 && (mask & (0x80000000u >> n)))
        ++n;
    return n;
}

} // namespace

std::optional<RouteInfo> ParseIpRouteGet(const QString& text)
{
    static const QRegularExpression dev(QStringLiteral(R"(\bdev\s+(\S+))"));
    static const QRegularExpression src(QStringLiteral(R"(\bsrc\s+(\S+))"));
    static const QRegularExpression via(QStringLiteral(R"(\bvia\s+(\S+))"));
    const auto d = dev.match(text);
    if (!d.hasMatch())
        return std::nullopt;
    RouteInfo info;
    info.adapter = d.captured(1);
    if (const auto s = src.match(text); s.hasMatch())
        info.source = QHostAddress(s.captured(1));
    if (const auto v = via.match(text); v.hasMatch())
        info.gateway = QHostAddress(v.captured(1));
    return info;
}

std::optional<RouteInfo> RouteFromProcTable(const QString& table, const QHostAddress& destination)
{
    const quint32 dest = destination.toIPv4Address();
    std::optional<RouteInfo> best;
    int bestPrefix = -1;
    int bestMetric = 0;
    const QStringList lines = table.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        if (f.size() < 8 || f.at(0) == QLatin1String("Iface"))
            continue;
        const quint32 net = ProcHex(f.at(1));
        const quint32 gateway = ProcHex(f.at(2));
        const quint32 mask = ProcHex(f.at(7));
        const int flags = f.at(3).toInt(nullptr, 16);
        const int metric = f.at(6).toInt();
        if (!(flags & 0x1) || (dest & mask) != net)
            continue;
        const int prefix = PrefixOf(mask);
        if (prefix > bestPrefix || (prefix == bestPrefix && metric < bestMetric)) {
            RouteInfo info;
            info.adapter = f.at(0);
            if (gateway != 0)
                info.gateway = QHostAddress(gateway);
            best = info;
            bestPrefix = prefix;
            bestMetric = metric;
        }
    }
    return best;
}

std::optional<FirewallState> ParseUfw(const QString& status, const QString& conf)
{
    FirewallState state;
    state.kind = FirewallKind::Ufw;
    if (status.contains(QLatin1String("Status: active"))) {
        state.active = true;
        state.rules = status;
        return state;
    }
    if (status.contains(QLatin1String("Status: inactive")))
        return state;
    static const QRegularExpression enabled(QStringLiteral(R"(^\s*ENABLED\s*=\s*yes\s*$)"),
                                            QRegularExpression::MultilineOption |
                                                QRegularExpression::CaseInsensitiveOption);
    if (conf.isEmpty())
        return std::nullopt;
    state.active = enabled.match(conf).hasMatch();
    return state;
}

std::optional<FirewallState> ParseNftRuleset(const QString& ruleset)
{
    static const QRegularExpression table(QStringLiteral(R"(^\s*table\s+(\S+)\s+(\S+)\s*\{)"));
    static const QRegularExpression chain(QStringLiteral(R"(^\s*chain\s+(\S+)\s*\{)"));
    QString family, tableName, chainName;
    for (const QString& line : ruleset.split(QLatin1Char('\n'))) {
        if (const auto t = table.match(line); t.hasMatch()) {
            family = t.captured(1);
            tableName = t.captured(2);
        } else if (const auto c = chain.match(line); c.hasMatch()) {
            chainName = c.captured(1);
        } else if (line.contains(QLatin1String("hook input")) &&
                   line.contains(QLatin1String("policy drop"))) {
            FirewallState state;
            state.kind = FirewallKind::Nftables;
            state.active = true;
            state.rules = ruleset;
            state.nftFamily = family;
            state.nftTable = tableName;
            state.nftChain = chainName;
            return state;
        }
    }
    return std::nullopt;
}

bool FirewallAllowsPort(const FirewallState& state, int port)
{
    if (port <= 0 || state.rules.isEmpty())
        return false;
    const QString p = QString::number(port);
    switch (state.kind) {
    case FirewallKind::Ufw: {
        const QRegularExpression re(QStringLiteral(R"(^\s*%1(/tcp)?\s+ALLOW)").arg(p),
                                    QRegularExpression::MultilineOption);
        return re.match(state.rules).hasMatch();
    }
    case FirewallKind::Firewalld:
        return state.rules.split(QRegularExpression(QStringLiteral(R"(\s+)")))
            .contains(p + QStringLiteral("/tcp"));
    case FirewallKind::Nftables: {
        const QRegularExpression re(
            QStringLiteral(R"(tcp dport (%1|\{[^}\n]*\b%1\b[^}\n]*\})[^\n]*accept)").arg(p));
        return re.match(state.rules).hasMatch();
    }
    case FirewallKind::None:
    case FirewallKind::Unknown:
        break;
    }
    return false;
}

QString FirewallName(FirewallKind kind)
{
    switch (kind) {
    case FirewallKind::None:
        return QStringLiteral("なし");
    case FirewallKind::Ufw:
        return QStringLiteral("ufw");
    case FirewallKind::Firewalld:
        return QStringLiteral("firewalld");
    case FirewallKind::Nftables:
        return QStringLiteral("nftables");
    case FirewallKind::Unknown:
        break;
    }
    return QStringLiteral("不明");
}

QStringList DescribeNetwork(const NetworkView& view)
{
    QStringList lines;
    lines << QStringLiteral("[adapters]");
    for (const NetAdapter& a : view.Adapters()) {
        QStringList addrs;
        for (const NetAddress& n : a.addresses)
            addrs << n.ip.toString() +
                         (n.prefixLength >= 0 ? QStringLiteral("/%1").arg(n.prefixLength) : QString());
        lines << QStringLiteral("%1 [%2, %3]: %4")
                     .arg(a.name, a.wireless ? QStringLiteral("wireless") : QStringLiteral("wired/other"),
                          a.up ? QStringLiteral("up") : QStringLiteral("down"),
                          addrs.isEmpty() ? QStringLiteral("(no IPv4 address)")
                                          : addrs.join(QStringLiteral(", ")));
    }
    lines << QString() << QStringLiteral("[routes]");
    const QStringList routes = view.RouteTable();
    lines << (routes.isEmpty() ? QStringList{QStringLiteral("(unknown)")} : routes);
    const FirewallState fw = view.Firewall();
    lines << QString() << QStringLiteral("[firewall]")
          << QStringLiteral("%1: %2").arg(FirewallName(fw.kind),
                                          fw.active ? QStringLiteral("active") : QStringLiteral("inactive"));
    if (!fw.nftTable.isEmpty())
        lines << QStringLiteral("input hook: %1 %2 chain %3, policy drop")
                     .arg(fw.nftFamily, fw.nftTable, fw.nftChain);
    if (!fw.rules.isEmpty())
        lines << fw.rules.trimmed().split(QLatin1Char('\n'));
    return lines;
}

QString SystemToolOutput(const QString& name, const QStringList& args, int limitMs)
{
    ProcessSpec job;
    job.program = QStandardPaths::findExecutable(name);
    if (job.program.isEmpty())
        job.program =
            QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                  QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    if (job.program.isEmpty())
        return {};
    job.arguments = args;
    QByteArray output;
    QElapsedTimer running;
    running.start();
    ProcessHooks hooks;
    hooks.output = [&output](const QByteArray& piece) {
        output += piece;
        return true;
    };
    hooks.abort = [&running, limitMs] { return running.hasExpired(limitMs); };
    const ProcessResult r = RunProcess(job, hooks);
    if (r.end != ProcessEnd::Exited || r.exitCode != 0)
        return {};
    return QString::fromLocal8Bit(output);
}

QList<NetAdapter> SystemNetworkView::Adapters() const
{
    QList<NetAdapter> list;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        NetAdapter a;
        a.name = iface.humanReadableName();
        a.wireless = iface.type() == QNetworkInterface::Wifi || iface.name().startsWith(QLatin1String("wl"));
        a.up = iface.flags().testFlag(QNetworkInterface::IsUp) &&
               iface.flags().testFlag(QNetworkInterface::IsRunning);
        for (const QNetworkAddressEntry& e : iface.addressEntries()) {
            if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
                a.addresses.append({e.ip(), e.prefixLength()});
        }
        list.append(a);
    }
    return list;
}

std::optional<RouteInfo> SystemNetworkView::RouteTo(const QHostAddress& destination) const
{
#ifdef Q_OS_UNIX
    // A routing-table query only: nothing is sent.
    const QString got =
        SystemToolOutput(QStringLiteral("ip"), {QStringLiteral("-o"), QStringLiteral("route"),
                                                QStringLiteral("get"), destination.toString()});
    if (auto r = ParseIpRouteGet(got))
        return r;
    return RouteFromProcTable(ReadTextFile(QStringLiteral("/proc/net/route")), destination);
#else
    Q_UNUSED(destination);
    return std::nullopt;
#endif
}

bool SystemNetworkView::CanBind(const QHostAddress& local, quint16 port, QString* why) const
{
    QTcpServer server;
    if (server.listen(local, port)) {
        server.close();
        return true;
    }
    if (why)
        *why = server.errorString();
    return false;
}

FirewallState SystemNetworkView::Firewall() const
{
#ifdef Q_OS_UNIX
    if (auto ufw = ParseUfw(SystemToolOutput(QStringLiteral("ufw"), {QStringLiteral("status")}),
                            ReadTextFile(QStringLiteral("/etc/ufw/ufw.conf")));
        ufw && ufw->active)
        return *ufw;
    if (SystemToolOutput(QStringLiteral("firewall-cmd"), {QStringLiteral("--state")}).trimmed() ==
        QLatin1String("running")) {
        FirewallState state;
        state.kind = FirewallKind::Firewalld;
        state.active = true;
        state.rules = SystemToolOutput(QStringLiteral("firewall-cmd"), {QStringLiteral("--list-ports")});
        return state;
    }
    const QString ruleset =
        SystemToolOutput(QStringLiteral("nft"), {QStringLiteral("list"), QStringLiteral("ruleset")});
    if (auto nft = ParseNftRuleset(ruleset))
        return *nft;
    FirewallState state;
    // An empty ruleset we could read means no filtering; otherwise we cannot tell.
    state.kind = ruleset.isEmpty() ? FirewallKind::Unknown : FirewallKind::None;
    return state;
#else
    return {};
#endif
}

QStringList SystemNetworkView::RouteTable() const
{
#ifdef Q_OS_UNIX
    QString text = SystemToolOutput(QStringLiteral("ip"), {QStringLiteral("route"), QStringLiteral("show")});
    if (text.isEmpty())
        text = ReadTextFile(QStringLiteral("/proc/net/route"));
    return text.trimmed().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
#else
    return {};
#endif
}

} // namespace nx7::diag
