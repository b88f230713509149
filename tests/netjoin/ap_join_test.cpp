// The automatic access-point join against a NetworkManager stand-in (python3-dbusmock's template
// plus tests/netjoin/nm_stand_in.py) on a private bus that the test starts itself: the system bus
// is never touched. Skipped where dbus-daemon or python3-dbusmock is missing.
#include "netjoin/ap_join.h"

#include "nm_harness.h"

#include "platform/event_wait.h"
#include "support/qt_printers.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>

#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace nx7::netjoin
{
namespace
{

const QString kNm = QStringLiteral("org.freedesktop.NetworkManager");
const QString kHome = QStringLiteral("/org/freedesktop/NetworkManager/Settings/HomeNet");
const QString kDevice = QStringLiteral("/org/freedesktop/NetworkManager/Devices/wlan0");

QString UserName()
{
#ifdef Q_OS_UNIX
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
#endif
    return {};
}

class ApJoinTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_skip = test::PrivateNetworkManager::StartBus(); }
    static void TearDownTestSuite() { test::PrivateNetworkManager::StopBus(); }

    void SetUp() override
    {
        if (!s_skip.isEmpty())
            GTEST_SKIP() << s_skip.toStdString();
        ASSERT_TRUE(Bus().isConnected()) << Bus().lastError().message().toStdString();
    }

    void TearDown() override { m_nm.Stop(); }

    static QDBusConnection Bus() { return test::PrivateNetworkManager::Bus(); }

    // Starts (or restarts) the stand-in with the template's parameters as JSON.
    void StartStandIn(const QString& parameters = QStringLiteral("{}"))
    {
        const QString problem = m_nm.Start(parameters);
        ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    }

    static QDBusMessage Mock(const QString& method, const QVariantList& args = {})
    {
        return test::PrivateNetworkManager::Mock(method, args);
    }

    // The settings path of the connection the Wi-Fi device runs ("" when idle).
    static QString DeviceConnection()
    {
        return test::PrivateNetworkManager::MockText(QStringLiteral("DeviceConnection"));
    }
    static QString LastJoin() { return test::PrivateNetworkManager::MockText(QStringLiteral("LastJoin")); }

    static QStringList SavedConnections()
    {
        QDBusMessage msg = QDBusMessage::createMethodCall(
            kNm, QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
            QStringLiteral("org.freedesktop.NetworkManager.Settings"), QStringLiteral("ListConnections"));
        const QDBusMessage reply = Bus().call(msg, QDBus::Block, 10000);
        QStringList out;
        if (reply.arguments().isEmpty())
            return out;
        for (const QDBusObjectPath& p :
             qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().constFirst().value<QDBusArgument>()))
            out << p.path();
        return out;
    }

    inline static QString s_skip;
    test::PrivateNetworkManager m_nm;
};

TEST_F(ApJoinTest, WithoutNetworkManagerNothingIsTriedAndTheUserIsToldToJoinByHand)
{
    ApJoiner joiner(Bus());
    EXPECT_FALSE(joiner.Available());
    EXPECT_TRUE(joiner.DevicePath().isEmpty());
    const JoinResult r = joiner.Join(QStringLiteral("IFB-AP-01"), QStringLiteral("pw"), 2000);
    EXPECT_EQ(r.failure, JoinFailure::Absent);
    EXPECT_TRUE(r.explanation.cause.startsWith(QStringLiteral("NetworkManager")));
    EXPECT_TRUE(r.explanation.action.contains(QStringLiteral("「IFB-AP-01」")));
}

TEST_F(ApJoinTest, OnlyAWifiDeviceCounts)
{
    StartStandIn(QStringLiteral(R"({"wifi": false})"));
    ApJoiner joiner(Bus());
    EXPECT_FALSE(joiner.Available());
    EXPECT_EQ(joiner.Join(QStringLiteral("IFB-AP-01"), {}, 2000).failure, JoinFailure::Absent);

    StartStandIn();
    EXPECT_TRUE(joiner.Available());
    EXPECT_EQ(joiner.DevicePath(), kDevice);
    EXPECT_EQ(joiner.DeviceInterface(), QStringLiteral("wlan0"));
}

TEST_F(ApJoinTest, PermissionNeedsControlAndOwnConnections)
{
    StartStandIn();
    const QString control = QStringLiteral("org.freedesktop.NetworkManager.network-control");
    const QString own = QStringLiteral("org.freedesktop.NetworkManager.settings.modify.own");
    const QString system = QStringLiteral("org.freedesktop.NetworkManager.settings.modify.system");
    const QString share = QStringLiteral("org.freedesktop.NetworkManager.wifi.share.open");
    const struct {
        QString action;
        QString answer;
        bool allowed;
    } cases[] = {
        {control, QStringLiteral("yes"), true},
        {control, QStringLiteral("auth"), true}, // polkit will ask the user: worth trying
        {control, QStringLiteral("no"), false},
        {own, QStringLiteral("no"), false},
        {own, QString(), false}, // no answer is no permission
        {system, QStringLiteral("no"), true},
        {share, QStringLiteral("no"), true},
    };
    ApJoiner joiner(Bus());
    for (const auto& c : cases) {
        SCOPED_TRACE((c.action + QLatin1Char('=') + c.answer).toStdString());
        Mock(QStringLiteral("SetPermission"), {c.action, c.answer});
        QStringList refused{QStringLiteral("left over")};
        EXPECT_EQ(joiner.CheckPermission(&refused), c.allowed);
        EXPECT_EQ(refused, c.allowed ? QStringList() : QStringList{c.action});
        Mock(QStringLiteral("SetPermission"), {c.action, QStringLiteral("yes")});
    }
}

TEST_F(ApJoinTest, TryJoinStopsAtARefusalBeforeTouchingTheNetwork)
{
    StartStandIn();
    const QString own = QStringLiteral("org.freedesktop.NetworkManager.settings.modify.own");
    Mock(QStringLiteral("SetPermission"), {own, QStringLiteral("no")});
    ApJoiner joiner(Bus());
    const JoinResult refused = joiner.TryJoin(QStringLiteral("IFB-AP-01"), QStringLiteral("pw"), 10000);
    EXPECT_EQ(refused.failure, JoinFailure::Refused);
    EXPECT_TRUE(refused.explanation.cause.contains(own)) << refused.explanation.cause.toStdString();
    EXPECT_EQ(LastJoin(), QString()); // never asked to join
    EXPECT_EQ(DeviceConnection(), kHome);

    Mock(QStringLiteral("SetPermission"), {own, QStringLiteral("auth")});
    EXPECT_TRUE(joiner.TryJoin(QStringLiteral("IFB-AP-01"), QStringLiteral("pw"), 10000).Ok());
    EXPECT_NE(DeviceConnection(), kHome);
}

TEST_F(ApJoinTest, JoinsWithAVolatileConnectionAndRestoreBringsThePreviousOneBack)
{
    StartStandIn();
    ApJoiner joiner(Bus());
    QList<JoinState> seen;
    joiner.SetProgress([&](JoinState s) { seen << s; });
    ASSERT_TRUE(joiner.Available());

    const JoinResult r = joiner.Join(QStringLiteral("IFB-AP-01"), QStringLiteral("pass, \"word\""), 10000);
    ASSERT_TRUE(r.Ok()) << r.detail.toStdString();
    EXPECT_TRUE(r.explanation.IsEmpty());
    EXPECT_EQ(seen, (QList<JoinState>{JoinState::Activating, JoinState::Activated}));
    EXPECT_EQ(LastJoin(),
              QStringLiteral("ssid=IFB-AP-01;key-mgmt=wpa-psk;psk=pass, \"word\";persist=volatile;"
                             "bind=dbus-client;device=%1;autoconnect=false;permissions=user:%2")
                  .arg(kDevice, UserName()));
    EXPECT_EQ(joiner.PreviousConnection(), kHome);
    const QString ours = DeviceConnection();
    EXPECT_FALSE(ours.isEmpty());
    EXPECT_NE(ours, kHome);
    EXPECT_TRUE(SavedConnections().contains(ours));

    EXPECT_TRUE(joiner.Restore());
    EXPECT_EQ(DeviceConnection(), kHome);
    EXPECT_EQ(SavedConnections(), QStringList{kHome}); // ours is gone
    EXPECT_TRUE(joiner.ActiveConnection().isEmpty());

    // Nothing more to undo: the home connection stays as it is.
    EXPECT_TRUE(joiner.Restore());
    EXPECT_EQ(DeviceConnection(), kHome);
}

TEST_F(ApJoinTest, OpenNetworkCarriesNoSecrets)
{
    StartStandIn();
    ApJoiner joiner(Bus());
    ASSERT_TRUE(joiner.Join(QStringLiteral("Open AP"), QString(), 10000).Ok());
    EXPECT_TRUE(LastJoin().startsWith(QStringLiteral("ssid=Open AP;key-mgmt=;psk=;persist=volatile;")))
        << LastJoin().toStdString();
}

TEST_F(ApJoinTest, GoingOutOfScopeRestores)
{
    StartStandIn();
    {
        ApJoiner joiner(Bus());
        ASSERT_TRUE(joiner.Join(QStringLiteral("IFB-AP-01"), QStringLiteral("pw"), 10000).Ok());
        ASSERT_NE(DeviceConnection(), kHome);
    }
    EXPECT_EQ(DeviceConnection(), kHome);
    EXPECT_EQ(SavedConnections(), QStringList{kHome});
}

TEST_F(ApJoinTest, AnIdleDeviceIsLeftIdle)
{
    StartStandIn(QStringLiteral(R"({"home": false})"));
    ApJoiner joiner(Bus());
    ASSERT_TRUE(joiner.Join(QStringLiteral("IFB-AP-01"), QStringLiteral("pw"), 10000).Ok());
    EXPECT_TRUE(joiner.PreviousConnection().isEmpty());
    EXPECT_FALSE(DeviceConnection().isEmpty());
    EXPECT_TRUE(joiner.Restore());
    EXPECT_EQ(DeviceConnection(), QString());
    EXPECT_TRUE(SavedConnections().isEmpty());
}

TEST_F(ApJoinTest, AJoinThatDoesNotCompleteIsUndoneAndExplained)
{
    const struct {
        const char* mode;
        int timeoutMs;
        bool abort;
        JoinFailure failure;
        QString inCause;
    } cases[] = {
        {"stall", 400, false, JoinFailure::Timeout, QStringLiteral("0.4秒以内")},
        {"fail", 10000, false, JoinFailure::Failed, QStringLiteral("パスワードが受け付けられませんでした")},
        {"refuse", 10000, false, JoinFailure::Refused, QStringLiteral("権限")},
        {"stall", 10000, true, JoinFailure::Aborted, QStringLiteral("中止")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode + std::string(c.abort ? " + abort" : ""));
        StartStandIn(QStringLiteral(R"({"join": "%1"})").arg(QLatin1String(c.mode)));
        ApJoiner joiner(Bus());
        QList<JoinState> seen;
        joiner.SetProgress([&](JoinState s) { seen << s; });
        if (c.abort)
            joiner.SetAbortCheck([&] { return !seen.isEmpty(); });
        const JoinResult r = joiner.Join(QStringLiteral("IFB-AP-01"), QStringLiteral("pw"), c.timeoutMs);
        EXPECT_EQ(r.failure, c.failure);
        EXPECT_TRUE(r.explanation.cause.contains(c.inCause)) << r.explanation.cause.toStdString();
        EXPECT_TRUE(r.explanation.action.contains(QStringLiteral("手動でネットワーク「IFB-AP-01」")))
            << r.explanation.action.toStdString();
        // Already back where it was, before anyone calls Restore().
        EXPECT_EQ(DeviceConnection(), kHome);
        EXPECT_EQ(SavedConnections(), QStringList{kHome});
        EXPECT_TRUE(joiner.ActiveConnection().isEmpty());
    }
}

TEST_F(ApJoinTest, AJoinAnsweredAfterItsTimeIsUndoneOnceTheAnswerArrives)
{
    StartStandIn(QStringLiteral(R"({"join": "late"})"));
    ApJoiner joiner(Bus());
    const JoinResult r = joiner.Join(QStringLiteral("IFB-AP-01"), QStringLiteral("pw"), 300);
    EXPECT_EQ(r.failure, JoinFailure::Timeout);
    // The stand-in made the connection after all, then took the previous one back on request.
    EXPECT_EQ(DeviceConnection(), kHome);
    EXPECT_EQ(SavedConnections().size(), 2);

    // The late answer has arrived by now: the next restore removes what it made.
    QDeadlineTimer deadline(5000);
    do {
        WaitForEvents(20);
        EXPECT_TRUE(joiner.Restore());
    } while (SavedConnections().size() > 1 && !deadline.hasExpired());
    EXPECT_EQ(SavedConnections(), QStringList{kHome});
    EXPECT_EQ(DeviceConnection(), kHome);
}

TEST(JoinTextsTest, EveryFailureSaysWhyAndHowToJoinByHand)
{
    for (JoinFailure f : {JoinFailure::Absent, JoinFailure::Refused, JoinFailure::Timeout,
                          JoinFailure::Failed, JoinFailure::Aborted}) {
        const diag::CauseAction t = ExplainJoinFailure(f, QStringLiteral("AP-X"), QString(), 15000);
        EXPECT_FALSE(t.cause.isEmpty());
        EXPECT_TRUE(t.action.contains(QStringLiteral("「AP-X」"))) << t.action.toStdString();
        EXPECT_FALSE(t.cause.contains(QStringLiteral("（）"))); // no empty detail brackets
    }
    EXPECT_TRUE(ExplainJoinFailure(JoinFailure::None, QStringLiteral("AP-X"), {}).IsEmpty());
    EXPECT_TRUE(ExplainJoinFailure(JoinFailure::Timeout, QStringLiteral("AP-X"), {}, 15000)
                    .cause.contains(QStringLiteral("15秒以内")));
}

struct DeviceCase {
    const char* name;
    const char* parameters; // the stand-in's
    QString chosen;         // the device joined with; empty: none can join
};

// A Wi-Fi device that NetworkManager reports as unavailable (radio off) or unmanaged cannot join:
// another adapter that can is chosen, and with none the user is told to join by hand.
TEST_F(ApJoinTest, OnlyAWifiDeviceThatCanJoinIsChosen)
{
    const QString wlan1 = QStringLiteral("/org/freedesktop/NetworkManager/Devices/wlan1");
    const DeviceCase cases[] = {
        {"radio off, second adapter", R"({"wifi_state": "unavailable", "second": true})", wlan1},
        {"unmanaged, second adapter", R"({"wifi_state": "unmanaged", "second": true})", wlan1},
        {"radio off, alone", R"({"wifi_state": "unavailable"})", QString()},
        {"unmanaged, alone", R"({"wifi_state": "unmanaged"})", QString()},
    };
    for (const DeviceCase& c : cases) {
        SCOPED_TRACE(c.name);
        StartStandIn(QString::fromLatin1(c.parameters));
        ApJoiner joiner(Bus());
        EXPECT_EQ(joiner.Available(), !c.chosen.isEmpty());
        EXPECT_EQ(joiner.DevicePath(), c.chosen);
        const JoinResult r = joiner.TryJoin(QStringLiteral("IFB-AP-01"), QStringLiteral("pw"), 10000);
        if (c.chosen.isEmpty()) {
            EXPECT_EQ(r.failure, JoinFailure::Absent);
            EXPECT_EQ(LastJoin(), QString()) << "no join asked of a device that cannot join";
        } else {
            EXPECT_TRUE(r.Ok()) << r.detail.toStdString();
            EXPECT_TRUE(LastJoin().contains(QStringLiteral(";device=%1;").arg(c.chosen)))
                << LastJoin().toStdString();
            EXPECT_EQ(joiner.DeviceInterface(), QStringLiteral("wlan1"));
        }
    }
}

// A join that NetworkManager starts tearing down has failed: said at once, not after the time-out,
// and the previous connection is back.
TEST_F(ApJoinTest, AJoinBeingTornDownHasFailedAtOnce)
{
    StartStandIn(QStringLiteral(R"({"join": "teardown"})"));
    ApJoiner joiner(Bus());
    QList<JoinState> seen;
    joiner.SetProgress([&](JoinState s) { seen << s; });
    QElapsedTimer t;
    t.start();
    const JoinResult r = joiner.Join(QStringLiteral("IFB-AP-01"), QStringLiteral("pw"), 5000);
    EXPECT_EQ(r.failure, JoinFailure::Failed);
    EXPECT_LT(t.elapsed(), 3000);
    EXPECT_EQ(seen, (QList<JoinState>{JoinState::Activating, JoinState::Deactivating}));
    EXPECT_EQ(DeviceConnection(), kHome);
    EXPECT_EQ(SavedConnections(), QStringList{kHome});
}

// A retried write joins the access point again (it went down with the board's restart): the new
// join replaces ours without bringing the previous connection back in between; that comes back
// exactly once, at the end, or at once when the second join fails or is refused.
TEST_F(ApJoinTest, JoiningAgainBringsThePreviousConnectionBackOnlyOnceAtTheEnd)
{
    for (const char* secondJoin : {"activate", "fail", "refuse"}) {
        SCOPED_TRACE(secondJoin);
        StartStandIn();
        ApJoiner joiner(Bus());
        ASSERT_TRUE(joiner.TryJoin(QStringLiteral("IFB-AP-01"), QStringLiteral("pw"), 10000).Ok());
        Mock(QStringLiteral("SetJoinMode"), {QString::fromLatin1(secondJoin)});
        const bool ok = joiner.Join(QStringLiteral("IFB-AP-01"), QStringLiteral("pw"), 10000).Ok();
        EXPECT_EQ(ok, QLatin1String(secondJoin) == QLatin1String("activate"));
        const QStringList between = Mock(QStringLiteral("Activations")).arguments().value(0).toStringList();
        if (ok) {
            EXPECT_NE(DeviceConnection(), kHome);
            EXPECT_EQ(SavedConnections().size(), 2) << "the first join's connection is left behind";
            EXPECT_EQ(joiner.PreviousConnection(), kHome);
            EXPECT_EQ(between, QStringList()) << "the home network came back between joins";
        } else {
            EXPECT_EQ(DeviceConnection(), kHome);
            EXPECT_EQ(between, QStringList{kHome});
        }

        EXPECT_TRUE(joiner.Restore());
        EXPECT_EQ(DeviceConnection(), kHome);
        EXPECT_EQ(SavedConnections(), QStringList{kHome});
        EXPECT_EQ(Mock(QStringLiteral("Activations")).arguments().value(0).toStringList(),
                  QStringList{kHome});
    }
}

} // namespace
} // namespace nx7::netjoin
