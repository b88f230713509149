// Parsers of the system tools' output, and the system view's own bind and route answers.
#include "diag/network_view.h"

#include "support/qt_printers.h"
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTimer>

#include <gtest/gtest.h>

namespace nx7::diag
{
namespace
{

TEST(NetworkParsers, IpRouteGet)
{
    auto direct =
        ParseIpRouteGet(QStringLiteral("192.168.4.1 dev wlp2s0 src 192.168.4.2 uid 1000 \\    cache "));
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct->adapter, QStringLiteral("wlp2s0"));
    EXPECT_EQ(direct->source, QHostAddress(QStringLiteral("192.168.4.2")));
    EXPECT_TRUE(direct->gateway.isNull());

    auto viaVpn = ParseIpRouteGet(
        QStringLiteral("192.168.4.1 via 10.8.0.1 dev tun0 table 51820 src 10.8.0.2 uid 0 \\    cache"));
    ASSERT_TRUE(viaVpn);
    EXPECT_EQ(viaVpn->adapter, QStringLiteral("tun0"));
    EXPECT_EQ(viaVpn->gateway, QHostAddress(QStringLiteral("10.8.0.1")));

    EXPECT_FALSE(ParseIpRouteGet(QStringLiteral("RTNETLINK answers: Network is unreachable")));
    EXPECT_FALSE(ParseIpRouteGet(QString()));
}

TEST(NetworkParsers, ProcRouteTakesLongestPrefixThenLowestMetric)
{
    // Default via eth0, 192.168.4.0/24 on wlan0 and on a VPN with a worse metric, 192.168.0.0/16 on eth0.
    const QString table =
        QStringLiteral("Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
                       "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                       "tun0\t0004A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n"
                       "wlan0\t0004A8C0\t00000000\t0001\t0\t0\t50\t00FFFFFF\t0\t0\t0\n"
                       "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t0000FFFF\t0\t0\t0\n"
                       "down0\t0104A8C0\t00000000\t0000\t0\t0\t0\tFFFFFFFF\t0\t0\t0\n");
    auto r = RouteFromProcTable(table, QHostAddress(QStringLiteral("192.168.4.1")));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->adapter, QStringLiteral("wlan0"));
    auto other = RouteFromProcTable(table, QHostAddress(QStringLiteral("192.168.9.9")));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->adapter, QStringLiteral("eth0"));
    EXPECT_TRUE(other->gateway.isNull());
    auto def = RouteFromProcTable(table, QHostAddress(QStringLiteral("8.8.8.8")));
    ASSERT_TRUE(def);
    EXPECT_EQ(def->gateway, QHostAddress(QStringLiteral("10.0.0.1")));
    EXPECT_FALSE(RouteFromProcTable(QString(), QHostAddress(QStringLiteral("192.168.4.1"))));
}

TEST(NetworkParsers, Ufw)
{
    auto active = ParseUfw(QStringLiteral("Status: active\n\nTo Action From\n3233/tcp ALLOW Anywhere\n"), {});
    ASSERT_TRUE(active);
    EXPECT_TRUE(active->active);
    EXPECT_TRUE(FirewallAllowsPort(*active, 3233));
    EXPECT_FALSE(FirewallAllowsPort(*active, 32330));
    EXPECT_FALSE(FirewallAllowsPort(*active, 0));
    auto inactive = ParseUfw(QStringLiteral("Status: inactive\n"), QStringLiteral("ENABLED=yes\n"));
    ASSERT_TRUE(inactive);
    EXPECT_FALSE(inactive->active);
    // Without root only the configuration can be read.
    auto fromConf = ParseUfw(QStringLiteral("ERROR: You need to be root to run this script"),
                             QStringLiteral("# comment\nENABLED=yes\nLOGLEVEL=low\n"));
    ASSERT_TRUE(fromConf);
    EXPECT_TRUE(fromConf->active);
    EXPECT_FALSE(FirewallAllowsPort(*fromConf, 3233));
    auto disabled = ParseUfw(QString(), QStringLiteral("ENABLED=no\n"));
    ASSERT_TRUE(disabled);
    EXPECT_FALSE(disabled->active);
    EXPECT_FALSE(ParseUfw(QString(), QString()));
}

TEST(NetworkParsers, NftablesInputPolicyDrop)
{
    const QString ruleset = QStringLiteral("table inet filter {\n"
                                           "\tchain input {\n"
                                           "\t\ttype filter hook input priority filter; policy drop;\n"
                                           "\t\tct state established,related accept\n"
                                           "\t\ttcp dport { 22, 3233 } accept\n"
                                           "\t}\n"
                                           "\tchain forward {\n"
                                           "\t\ttype filter hook forward priority filter; policy drop;\n"
                                           "\t}\n"
                                           "}\n");
    auto s = ParseNftRuleset(ruleset);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->kind, FirewallKind::Nftables);
    EXPECT_EQ(s->nftFamily, QStringLiteral("inet"));
    EXPECT_EQ(s->nftTable, QStringLiteral("filter"));
    EXPECT_EQ(s->nftChain, QStringLiteral("input"));
    EXPECT_TRUE(FirewallAllowsPort(*s, 3233));
    EXPECT_TRUE(FirewallAllowsPort(*s, 22));
    EXPECT_FALSE(FirewallAllowsPort(*s, 323));

    // Input accepting by default is no blocking firewall.
    EXPECT_FALSE(
        ParseNftRuleset(QStringLiteral("table ip nat {\n\tchain input {\n"
                                       "\t\ttype filter hook input priority 0; policy accept;\n\t}\n}\n")));
}

TEST(SystemNetworkView, BindAnswersForFreeAndTakenPorts)
{
    SystemNetworkView view;
    const QHostAddress lo(QHostAddress::LocalHost);
    QString why;
    EXPECT_TRUE(view.CanBind(lo, 0, &why));
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(lo, 0));
    EXPECT_FALSE(view.CanBind(lo, holder.serverPort(), &why));
    EXPECT_FALSE(why.isEmpty());
}

TEST(SystemNetworkView, LoopbackAdapterAndRoute)
{
    SystemNetworkView view;
    bool sawLoopback = false;
    for (const NetAdapter& a : view.Adapters()) {
        for (const NetAddress& n : a.addresses)
            sawLoopback = sawLoopback || n.ip == QHostAddress(QHostAddress::LocalHost);
    }
    EXPECT_TRUE(sawLoopback);
    const auto route = view.RouteTo(QHostAddress(QHostAddress::LocalHost));
    if (!QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty() ||
        !QStandardPaths::findExecutable(QStringLiteral("ip"),
                                        {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
             .isEmpty()) {
        ASSERT_TRUE(route);
        EXPECT_EQ(route->adapter, QStringLiteral("lo"));
    }
    // Never throws or hangs, whatever the machine has.
    (void)view.Firewall();
    (void)DescribeNetwork(view);
}

// The system tools run while the window stays alive: a tool that hangs is ended after its bound,
// and events are handled meanwhile.
TEST(SystemNetworkView, ToolOutputOnlyFromAToolThatSucceedsInTime)
{
    struct Case {
        const char* name;
        QString tool;
        QStringList args;
        QString output;
    };
    const Case cases[] = {
        {"prints and succeeds",
         QStringLiteral("sh"),
         {QStringLiteral("-c"), QStringLiteral("echo out; echo err >&2")},
         QStringLiteral("out\nerr\n")},
        {"fails",
         QStringLiteral("sh"),
         {QStringLiteral("-c"), QStringLiteral("echo partial; exit 1")},
         QString()},
        {"killed by a signal",
         QStringLiteral("sh"),
         {QStringLiteral("-c"), QStringLiteral("echo x; kill -9 $$")},
         QString()},
        {"missing", QStringLiteral("nx7-no-such-tool"), {}, QString()},
        {"hangs",
         QStringLiteral("sh"),
         {QStringLiteral("-c"), QStringLiteral("echo early; sleep 30")},
         QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool ticked = false;
        QObject scope; // no tick reaches a later case
        QTimer::singleShot(50, &scope, [&ticked] { ticked = true; });
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(SystemToolOutput(c.tool, c.args, 400), c.output);
        EXPECT_LT(t.elapsed(), 2000);
        if (t.elapsed() >= 200) {
            EXPECT_TRUE(ticked) << "the wait blocked the event loop";
        }
    }
}

} // namespace
} // namespace nx7::diag
