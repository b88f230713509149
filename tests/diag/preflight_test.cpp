// The pre-flight's four checks against injected networks, and the uploader arguments it adds.
#include "diag/preflight.h"

#include "diag/fake_network.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace nx7::diag
{
namespace
{

using test::Adapter;
using test::FakeNetwork;
using test::Via;

PreflightInput Input(int hostPort = kDefaultOtaHostPort)
{
    PreflightInput in;
    in.board = QHostAddress(QStringLiteral("192.168.4.1"));
    in.ssid = QStringLiteral("IFB-AP-0042");
    in.hostPort = hostPort;
    return in;
}

FakeNetwork JoinedPc()
{
    FakeNetwork net;
    net.adapters = {Adapter(QStringLiteral("lo"), false, {QStringLiteral("127.0.0.1/8")}),
                    Adapter(QStringLiteral("enp3s0"), false, {QStringLiteral("10.20.0.7/16")}),
                    Adapter(QStringLiteral("wlp2s0"), true, {QStringLiteral("192.168.4.2/24")})};
    net.route = Via(QStringLiteral("wlp2s0"));
    return net;
}

TEST(Preflight, JoinedPcPassesAndPinsAddressAndPort)
{
    const FakeNetwork net = JoinedPc();
    const PreflightResult r = RunNetworkPreflight(net, Input());
    EXPECT_TRUE(r.AllPassed()) << r.LogLines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(r.adapter, QStringLiteral("wlp2s0"));
    EXPECT_EQ(r.UploaderArguments(), (QStringList{QStringLiteral("-I"), QStringLiteral("192.168.4.2"),
                                                  QStringLiteral("-P"), QStringLiteral("3233")}));
    // The bind is tried where the uploader will listen.
    EXPECT_EQ(net.boundAddress, QHostAddress(QStringLiteral("192.168.4.2")));
    EXPECT_EQ(net.boundPort, 3233);
    for (const QString& line : r.LogLines())
        EXPECT_TRUE(line.startsWith(QStringLiteral("OK: "))) << line.toStdString();
}

// What could not be found out is said as "不明", never as a passed "OK:" check; it does not stop
// the write either.
TEST(Preflight, UnknownFirewallAndRouteAreNotReportedAsOk)
{
    FakeNetwork net = JoinedPc();
    net.firewall = FirewallState{FirewallKind::Unknown, false, {}, {}, {}, {}};
    net.route.reset();
    const PreflightResult r = RunNetworkPreflight(net, Input());
    EXPECT_TRUE(r.AllPassed());
    const QStringList lines = r.LogLines();
    EXPECT_TRUE(lines.contains(QStringLiteral("ファイアウォール: 不明"))) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("ボード 192.168.4.1 への経路: 不明")))
        << lines.join('\n').toStdString();
    for (const QString& line : lines)
        EXPECT_FALSE(line.startsWith(QStringLiteral("OK: ")) && line.contains(QStringLiteral("不明")))
            << line.toStdString();
}

TEST(Preflight, PortZeroLeavesThePortToTheUploader)
{
    EXPECT_EQ(OtaHostPortFromSetting(0), 0);
    EXPECT_EQ(OtaHostPortFromSetting(4000), 4000);
    EXPECT_EQ(OtaHostPortFromSetting(-1), kDefaultOtaHostPort);
    EXPECT_EQ(OtaHostPortFromSetting(70000), kDefaultOtaHostPort);
    const PreflightResult r = RunNetworkPreflight(JoinedPc(), Input(0));
    EXPECT_EQ(r.UploaderArguments(), (QStringList{QStringLiteral("-I"), QStringLiteral("192.168.4.2")}));
}

struct FailureCase {
    const char* name;
    std::function<void(FakeNetwork&)> change;
    PreflightCheckId failed;
    QStringList mentions;
};

TEST(Preflight, EachFindingFailsItsCheckWithCauseAndAction)
{
    const QList<FailureCase> cases = {
        {"not_joined",
         [](FakeNetwork& n) {
             n.adapters[2] = Adapter(QStringLiteral("wlp2s0"), true, {QStringLiteral("172.16.5.9/24")});
             n.route = Via(QStringLiteral("enp3s0"));
         },
         PreflightCheckId::Subnet,
         {QStringLiteral("IFB-AP-0042"), QStringLiteral("wlp2s0 172.16.5.9/24"),
          QStringLiteral("192.168.4.1")}},
        {"route_through_vpn",
         [](FakeNetwork& n) { n.route = Via(QStringLiteral("tun0")); },
         PreflightCheckId::Route,
         {QStringLiteral("tun0"), QStringLiteral("wlp2s0")}},
        {"overlapping_wired_subnet",
         [](FakeNetwork& n) {
             n.adapters[1] = Adapter(QStringLiteral("enp3s0"), false, {QStringLiteral("192.168.4.77/24")});
             n.route = Via(QStringLiteral("enp3s0"));
         },
         PreflightCheckId::Route,
         {QStringLiteral("enp3s0"), QStringLiteral("wlp2s0")}},
        {"port_taken",
         [](FakeNetwork& n) { n.bindError = QStringLiteral("Address already in use"); },
         PreflightCheckId::HostPort,
         {QStringLiteral("3233"), QStringLiteral("192.168.4.2"), QStringLiteral("Address already in use")}},
        {"ufw_active",
         [](FakeNetwork& n) {
             n.firewall =
                 FirewallState{FirewallKind::Ufw,
                               true,
                               QStringLiteral("Status: active\n\nTo Action From\n22/tcp ALLOW Anywhere\n"),
                               {},
                               {},
                               {}};
         },
         PreflightCheckId::Firewall,
         {QStringLiteral("ufw"), QStringLiteral("sudo ufw allow 3233/tcp")}},
        {"nft_input_drop",
         [](FakeNetwork& n) {
             n.firewall = FirewallState{FirewallKind::Nftables,   true,
                                        QStringLiteral("x"),      QStringLiteral("inet"),
                                        QStringLiteral("filter"), QStringLiteral("input")};
         },
         PreflightCheckId::Firewall,
         {QStringLiteral("nftables"),
          QStringLiteral("sudo nft add rule inet filter input tcp dport 3233 accept")}},
        {"firewalld_running",
         [](FakeNetwork& n) {
             n.firewall =
                 FirewallState{FirewallKind::Firewalld, true, QStringLiteral("22/tcp\n"), {}, {}, {}};
         },
         PreflightCheckId::Firewall,
         {QStringLiteral("firewalld"), QStringLiteral("sudo firewall-cmd --add-port=3233/tcp")}},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNetwork net = JoinedPc();
        c.change(net);
        const PreflightResult r = RunNetworkPreflight(net, Input());
        EXPECT_FALSE(r.AllPassed());
        for (const PreflightCheck& check : r.checks)
            EXPECT_EQ(check.passed, check.id != c.failed) << check.summary.toStdString();
        const PreflightCheck* bad = r.Find(c.failed);
        ASSERT_NE(bad, nullptr);
        const QString lines = r.LogLines().join(QLatin1Char('\n'));
        EXPECT_TRUE(lines.contains(QStringLiteral("原因: ") + bad->text.cause));
        EXPECT_TRUE(lines.contains(QStringLiteral("対処: ") + bad->text.action));
        for (const QString& m : c.mentions)
            EXPECT_TRUE(bad->text.Block().contains(m))
                << m.toStdString() << " not in " << bad->text.Block().toStdString();
    }
}

TEST(Preflight, FirewallThatAlreadyLetsThePortInPasses)
{
    FakeNetwork net = JoinedPc();
    net.firewall =
        FirewallState{FirewallKind::Ufw,
                      true,
                      QStringLiteral("Status: active\n\nTo                         Action      From\n"
                                     "--                         ------      ----\n"
                                     "3233/tcp                   ALLOW       Anywhere\n"),
                      {},
                      {},
                      {}};
    EXPECT_TRUE(RunNetworkPreflight(net, Input()).AllPassed());
    // The same rules do not cover another port.
    EXPECT_FALSE(RunNetworkPreflight(net, Input(4000)).AllPassed());
}

TEST(Preflight, WirelessAddressWinsAndUnknownRoutePasses)
{
    FakeNetwork net = JoinedPc();
    // Wired adapter listed first in the same subnet: the Wi-Fi one is the one to use.
    net.adapters = {Adapter(QStringLiteral("enp3s0"), false, {QStringLiteral("192.168.4.50/24")}),
                    Adapter(QStringLiteral("wlp2s0"), true, {QStringLiteral("192.168.4.2/24")})};
    net.route.reset();
    const PreflightResult r = RunNetworkPreflight(net, Input());
    EXPECT_EQ(r.pcAddress, QHostAddress(QStringLiteral("192.168.4.2")));
    EXPECT_TRUE(r.Find(PreflightCheckId::Route)->passed);
}

TEST(Preflight, BoardPrefixOverridesTheAdapters)
{
    FakeNetwork net = JoinedPc();
    net.adapters[2] = Adapter(QStringLiteral("wlp2s0"), true, {QStringLiteral("192.168.5.2/16")});
    PreflightInput in = Input();
    EXPECT_TRUE(RunNetworkPreflight(net, in).Find(PreflightCheckId::Subnet)->passed);
    in.boardPrefix = 24;
    EXPECT_FALSE(RunNetworkPreflight(net, in).Find(PreflightCheckId::Subnet)->passed);
}

// The host port from the settings at the edges of its range: every port a socket can have is
// used as given (0 leaves the choice to the uploader), anything else falls back to the default.
TEST(Preflight, HostPortSettingAtTheEdgesOfItsRange)
{
    const struct {
        int setting;
        int port;           // bound and allowed through the firewall
        QStringList pinned; // the uploader's arguments after the address
    } cases[] = {
        {0, 0, {}},
        {1, 1, {QStringLiteral("-P"), QStringLiteral("1")}},
        {65535, 65535, {QStringLiteral("-P"), QStringLiteral("65535")}},
        {65536, kDefaultOtaHostPort, {QStringLiteral("-P"), QString::number(kDefaultOtaHostPort)}},
        {-1, kDefaultOtaHostPort, {QStringLiteral("-P"), QString::number(kDefaultOtaHostPort)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        const FakeNetwork net = JoinedPc();
        const PreflightResult r = RunNetworkPreflight(net, Input(OtaHostPortFromSetting(c.setting)));
        EXPECT_EQ(r.hostPort, c.port);
        EXPECT_EQ(net.boundPort, c.port);
        EXPECT_EQ(r.UploaderArguments(),
                  QStringList({QStringLiteral("-I"), QStringLiteral("192.168.4.2")}) + c.pinned);
    }
}

} // namespace
} // namespace nx7::diag
