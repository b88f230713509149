// The Wi-Fi adapter checks over injected adapter lists.
#include "core/app_core.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"
#include "update/wifi_check.h"

#include <gtest/gtest.h>

using namespace nx7;
using nx7::test::MemoryLog;
using nx7::test::ScriptedUi;

namespace
{

AdapterInfo Adapter(const QString& name, const QStringList& ipv4, bool wireless = false)
{
    AdapterInfo a;
    a.friendlyName = name;
    a.ipv4 = ipv4;
    a.wireless = wireless;
    return a;
}

TEST(WifiAdapters, LastDecisiveAddressOfAWifiAdapterDecides)
{
    struct Case {
        const char* name;
        QList<AdapterInfo> adapters;
        bool answer;
        QStringList logged;
    };
    const Case cases[] = {
        {"Wi-Fi 2 on the board network", {Adapter("Wi-Fi 2", {"192.168.0.23"})}, true, {}},
        {"other network", {Adapter("Wi-Fi", {"192.168.1.23"})}, false, {}},
        {"plain substring", {Adapter("Wi-Fi", {"10.192.168.0"})}, true, {}},
        {"WLAN is no Wi-Fi name", {Adapter("WLAN", {"192.168.0.23"})}, false, {}},
        {"lower-case wi-fi", {Adapter("wi-fi", {"192.168.0.23"})}, false, {}},
        {"wired adapter", {Adapter("Ethernet", {"192.168.0.5"})}, false, {}},
        {"reported wireless", {Adapter("Funk", {"192.168.0.5"}, true)}, true, {}},
        {"Linux wl name", {Adapter("wlp3s0", {"192.168.0.7"})}, true, {}},
        {"self-assigned after",
         {Adapter("Wi-Fi", {"192.168.0.5", "169.254.7.9"})},
         false,
         {"IPv4:169.254.7.9"}},
        {"self-assigned before",
         {Adapter("Wi-Fi", {"169.254.7.9", "192.168.0.5"})},
         true,
         {"IPv4:169.254.7.9"}},
        {"across adapters",
         {Adapter("Wi-Fi", {"192.168.0.5"}), Adapter("Ethernet", {"169.254.1.1"}),
          Adapter("Wi-Fi 2", {"169.254.2.2"})},
         false,
         {"IPv4:169.254.2.2"}},
        {"other addresses leave it", {Adapter("Wi-Fi", {"192.168.0.5", "10.1.1.1"})}, true, {}},
        {"no adapters", {}, false, {}},
        {"no addresses", {Adapter("Wi-Fi", {})}, false, {}},
    };
    for (const Case& c : cases) {
        QStringList logged;
        EXPECT_EQ(EvaluateWifiAdapters(c.adapters, &logged), c.answer) << c.name;
        EXPECT_EQ(logged, c.logged) << c.name;
    }
}

TEST(WifiAdapters, AdapterTestLines)
{
    struct Case {
        const char* name;
        std::optional<QList<AdapterInfo>> adapters;
        QStringList lines;
    };
    const Case cases[] = {
        {"one adapter on the network",
         QList<AdapterInfo>{Adapter("Wi-Fi", {"192.168.0.5"})},
         {"Adapter Name : Wi-Fi", "IPv4:192.168.0.5", "OK"}},
        {"query failed", std::nullopt, {"NG"}},
        {"only wired", QList<AdapterInfo>{Adapter("Ethernet", {"192.168.0.5"})}, {"NG"}},
        {"self-assigned gets no special treatment",
         QList<AdapterInfo>{Adapter("Wi-Fi", {"192.168.0.5", "169.254.7.9"}), Adapter("Wi-Fi 2", {})},
         {"Adapter Name : Wi-Fi", "IPv4:192.168.0.5", "IPv4:169.254.7.9", "Adapter Name : Wi-Fi 2", "OK"}},
        {"no address on the network",
         QList<AdapterInfo>{Adapter("Wi-Fi", {"192.168.4.2"})},
         {"Adapter Name : Wi-Fi", "IPv4:192.168.4.2", "NG"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AdapterTestLines(c.adapters), c.lines) << c.name;
}

class WifiCheckTest : public ::testing::Test
{
protected:
    void TearDown() override { SetAdapterProvider({}); }
    ScriptedUi ui;
    MemoryLog log;
    AppCore app{ui, log};
};

TEST_F(WifiCheckTest, CheckWifiAdapterLogsSelfAssignedAddressesForced)
{
    SetAdapterProvider([] {
        return std::optional<QList<AdapterInfo>>(
            QList<AdapterInfo>{Adapter("Wi-Fi", {"192.168.0.5", "169.254.7.9"})});
    });
    ASSERT_FALSE(app.VerboseLog);
    EXPECT_FALSE(CheckWifiAdapter(app));
    EXPECT_EQ(log.lines, QStringList{"IPv4:169.254.7.9"});
}

TEST_F(WifiCheckTest, FailedQueryIsFalseWithoutALine)
{
    SetAdapterProvider([] { return std::optional<QList<AdapterInfo>>(); });
    EXPECT_FALSE(CheckWifiAdapter(app));
    EXPECT_TRUE(log.lines.isEmpty());
    N5Click(app);
    EXPECT_EQ(log.lines, QStringList{"NG"});
}

TEST_F(WifiCheckTest, N5ClickWritesForcedLines)
{
    SetAdapterProvider([] {
        return std::optional<QList<AdapterInfo>>(
            QList<AdapterInfo>{Adapter("Ethernet", {"10.0.0.1"}), Adapter("Wi-Fi", {"192.168.0.5"})});
    });
    N5Click(app);
    EXPECT_EQ(log.lines, (QStringList{"Adapter Name : Wi-Fi", "IPv4:192.168.0.5", "OK"}));
}

} // namespace
