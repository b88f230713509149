#include "netjoin/ap_join.h"

#include "platform/event_wait.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QMap>
#include <QUuid>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace nx7::netjoin
{

namespace
{

using SettingsMap = QMap<QString, QVariantMap>;

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManagerIface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kDeviceIface = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kActiveIface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kConnectionIface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kPropertiesIface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kNoObject = QStringLiteral("/");

// NMDeviceType and NMDeviceState values used here.
constexpr uint kDeviceTypeWifi = 2;
constexpr uint kDeviceStateUnavailable = 20;

// How often the active connection's state is read while waiting (ms). The state is polled rather
// than followed by signal so a signal sent before we looked cannot be missed.
constexpr int kPollMs = 50;

// How long a join request that outlived its time is still listened to, so a connection that
// NetworkManager makes after all (polkit asked the user, who answered late) can be undone.
constexpr int kLateAnswerMs = 10 * 60 * 1000;

void RegisterTypes()
{
    static const bool once = [] {
        qDBusRegisterMetaType<SettingsMap>();
        qDBusRegisterMetaType<QMap<QString, QString>>();
        return true;
    }();
    (void)once;
}

QString UserName()
{
#ifdef Q_OS_UNIX
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
#endif
    return qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
}

QString PathOf(const QVariant& v)
{
    return v.value<QDBusObjectPath>().path();
}

bool IsRefusal(const QString& errorName)
{
    return errorName.endsWith(QStringLiteral("PermissionDenied")) ||
           errorName.endsWith(QStringLiteral("AccessDenied")) ||
           errorName.endsWith(QStringLiteral("NotAuthorized"));
}

// NMDeviceStateReason: the few a failed join to an access point ends with, in words.
QString ReasonText(uint reason)
{
    switch (reason) {
    case 7:
    case 8:
    case 9:
    case 10:
        return QStringLiteral("パスワードが受け付けられませんでした");
    case 11:
        return QStringLiteral("アクセスポイントが応答しませんでした");
    case 5:
    case 6:
        return QStringLiteral("IPアドレスを取得できませんでした");
    case 53:
        return QStringLiteral("アクセスポイントが見つかりませんでした");
    default:
        return QStringLiteral("理由コード %1").arg(reason);
    }
}

} // namespace

QString JoinStateText(JoinState state)
{
    switch (state) {
    case JoinState::Activating:
        return QStringLiteral("接続中...");
    case JoinState::Activated:
        return QStringLiteral("接続しました");
    case JoinState::Deactivating:
        return QStringLiteral("切断中...");
    case JoinState::Deactivated:
        return QStringLiteral("切断されました");
    case JoinState::Unknown:
        break;
    }
    return QStringLiteral("状態不明");
}

QString JoinProgressLine(JoinState state)
{
    return QStringLiteral("自動接続: ") + JoinStateText(state);
}

QString AutoJoinMessage1()
{
    return QStringLiteral("パソコンを以下のWi-Fiアクセスポイント\nに自動で接続しています。");
}

QString AutoJoinMessage2()
{
    return QStringLiteral("接続が完了すると書き込みが開始されます。");
}

QStringList RequiredPermissions()
{
    // Activating a connection, and adding one owned by this user (its permissions name the
    // user, so the system-wide modify right is not needed).
    return {QStringLiteral("org.freedesktop.NetworkManager.network-control"),
            QStringLiteral("org.freedesktop.NetworkManager.settings.modify.own")};
}

diag::CauseAction ExplainJoinFailure(JoinFailure failure, const QString& ssid, const QString& detail,
                                     int timeoutMs)
{
    const QString byHand =
        QStringLiteral("PCのWi-Fiを手動でネットワーク「%1」に接続し、接続完了後OKを押してください。")
            .arg(ssid);
    const QString inParens = detail.isEmpty() ? QString() : QStringLiteral("（%1）").arg(detail);
    switch (failure) {
    case JoinFailure::None:
        return {};
    case JoinFailure::Absent:
        return {QStringLiteral(
                    "NetworkManagerが動作していないか、使えるWi-Fiアダプタがないため、自動接続できません%1。")
                    .arg(inParens),
                byHand};
    case JoinFailure::Refused:
        return {QStringLiteral("このユーザーにはWi-Fi接続を変更する権限がありません%1。").arg(inParens),
                byHand +
                    QStringLiteral("自動接続を使うには、管理者に権限（polkit）の設定を依頼してください。")};
    case JoinFailure::Timeout:
        return {QStringLiteral("%1秒以内にネットワーク「%2」への自動接続が完了しませんでした。")
                    .arg(QString::number(timeoutMs / 1000.0), ssid),
                QStringLiteral("ボードの近くで、") + byHand};
    case JoinFailure::Failed:
        return {QStringLiteral("ネットワーク「%1」への自動接続に失敗しました%2。").arg(ssid, inParens),
                QStringLiteral("ボードのアクセスポイントが出ていることを確かめ、") + byHand};
    case JoinFailure::Aborted:
        return {QStringLiteral("自動接続を中止しました。"), byHand};
    }
    return {};
}

ApJoiner::ApJoiner(QDBusConnection bus)
    : m_bus(std::move(bus))
{
    RegisterTypes();
}

ApJoiner::~ApJoiner()
{
    Restore();
}

QDBusMessage ApJoiner::Call(const QString& path, const QString& iface, const QString& method,
                            const QVariantList& args, int timeoutMs,
                            std::optional<QDBusPendingCall>* unfinished)
{
    if (!QCoreApplication::instance()) // torn down already: no bus to talk to
        return QDBusMessage::createError(QDBusError::Disconnected, QStringLiteral("no application"));
    QDBusMessage msg = QDBusMessage::createMethodCall(kService, path, iface, method);
    msg.setArguments(args);
    const int bound = timeoutMs < 0 ? m_callTimeoutMs : timeoutMs;
    // A caller that wants a late answer lets the bus wait longer than it does itself.
    QDBusPendingCall pending = m_bus.asyncCall(msg, unfinished ? kLateAnswerMs : bound);
    // Wait with the event loop running: polkit may ask the user, and the window stays alive.
    QDeadlineTimer deadline(bound);
    while (!pending.isFinished() && !deadline.hasExpired())
        WaitForEvents(20);
    if (!pending.isFinished()) {
        if (unfinished)
            unfinished->emplace(pending);
        return QDBusMessage::createError(QDBusError::Timeout,
                                         QStringLiteral("%1 gave no answer").arg(method));
    }
    return pending.reply();
}

std::optional<QVariant> ApJoiner::Property(const QString& path, const QString& iface, const QString& name)
{
    const QDBusMessage reply = Call(path, kPropertiesIface, QStringLiteral("Get"), {iface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

bool ApJoiner::Available()
{
    m_device.clear();
    m_deviceIface.clear();
    if (!m_bus.isConnected() || !m_bus.interface() ||
        !m_bus.interface()->isServiceRegistered(kService).value())
        return false;
    const QDBusMessage reply = Call(kManagerPath, kManagerIface, QStringLiteral("GetDevices"), {});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const auto devices =
        qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().constFirst().value<QDBusArgument>());
    for (const QDBusObjectPath& device : devices) {
        const auto type = Property(device.path(), kDeviceIface, QStringLiteral("DeviceType"));
        const auto state = Property(device.path(), kDeviceIface, QStringLiteral("State"));
        if (!type || !state || type->toUInt() != kDeviceTypeWifi ||
            state->toUInt() <= kDeviceStateUnavailable)
            continue;
        m_device = device.path();
        m_deviceIface =
            Property(m_device, kDeviceIface, QStringLiteral("Interface")).value_or(QVariant()).toString();
        return true;
    }
    return false;
}

bool ApJoiner::CheckPermission(QStringList* refused)
{
    const QDBusMessage reply = Call(kManagerPath, kManagerIface, QStringLiteral("GetPermissions"), {});
    QMap<QString, QString> answers;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        answers = qdbus_cast<QMap<QString, QString>>(reply.arguments().constFirst().value<QDBusArgument>());
    QStringList no;
    for (const QString& action : RequiredPermissions()) {
        const QString answer = answers.value(action);
        if (answer != QLatin1String("yes") && answer != QLatin1String("auth"))
            no << action;
    }
    if (refused)
        *refused = no;
    return no.isEmpty();
}

void ApJoiner::Report(JoinState state)
{
    if (m_reportedAny && state == m_lastReported)
        return;
    m_reportedAny = true;
    m_lastReported = state;
    if (m_progress)
        m_progress(state);
}

QString ApJoiner::DeviceReason()
{
    const auto v = Property(m_device, kDeviceIface, QStringLiteral("StateReason"));
    if (!v || !v->canConvert<QDBusArgument>())
        return {};
    const QDBusArgument arg = v->value<QDBusArgument>();
    uint state = 0;
    uint reason = 0;
    arg.beginStructure();
    arg >> state >> reason;
    arg.endStructure();
    return reason == 0 ? QString() : ReasonText(reason);
}

JoinResult ApJoiner::Fail(JoinFailure failure, const QString& ssid, const QString& detail, int timeoutMs)
{
    Restore();
    JoinResult result;
    result.failure = failure;
    result.detail = detail;
    result.explanation = ExplainJoinFailure(failure, ssid, detail, timeoutMs);
    return result;
}

namespace
{
// A volatile WPA-PSK (open when `password` is empty) connection to `ssid`, owned by this user.
SettingsMap ConnectionSettings(const QString& ssid, const QString& password)
{
    SettingsMap settings;
    settings[QStringLiteral("connection")] = {
        {QStringLiteral("id"), QStringLiteral("nx7ifbprog %1").arg(ssid)},
        {QStringLiteral("type"), QStringLiteral("802-11-wireless")},
        {QStringLiteral("uuid"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {QStringLiteral("autoconnect"), false},
        {QStringLiteral("permissions"), QStringList{QStringLiteral("user:") + UserName()}},
    };
    settings[QStringLiteral("802-11-wireless")] = {
        {QStringLiteral("ssid"), ssid.toUtf8()},
        {QStringLiteral("mode"), QStringLiteral("infrastructure")},
    };
    if (!password.isEmpty()) {
        settings[QStringLiteral("802-11-wireless")][QStringLiteral("security")] =
            QStringLiteral("802-11-wireless-security");
        settings[QStringLiteral("802-11-wireless-security")] = {
            {QStringLiteral("key-mgmt"), QStringLiteral("wpa-psk")},
            {QStringLiteral("psk"), password},
        };
    }
    settings[QStringLiteral("ipv4")] = {{QStringLiteral("method"), QStringLiteral("auto")}};
    settings[QStringLiteral("ipv6")] = {{QStringLiteral("method"), QStringLiteral("ignore")}};
    return settings;
}

bool IsNoAnswer(const QString& errorName)
{
    return errorName == QDBusError::errorString(QDBusError::Timeout) ||
           errorName == QDBusError::errorString(QDBusError::NoReply);
}
} // namespace

bool ApJoiner::ClearForJoin()
{
    // Joining again while joined (a retried write): ours is replaced, and the connection from
    // before the first join stays the one to bring back, once, at the end; bringing it back in
    // between would switch the PC's network twice for nothing.
    const bool rejoin = m_joined && !m_device.isEmpty();
    if (rejoin) {
        // Still joined as far as undoing goes: a failure from here brings the previous one back.
        TakeDown(m_active, m_ourConnection);
        m_active.clear();
        m_ourConnection.clear();
    } else {
        Restore(); // a join left from before is undone first
    }
    return rejoin;
}

void ApJoiner::RememberPrevious()
{
    const QString previousActive =
        PathOf(Property(m_device, kDeviceIface, QStringLiteral("ActiveConnection")).value_or(QVariant()));
    m_previousConnection.clear();
    m_previousSpecific = kNoObject;
    if (previousActive.isEmpty() || previousActive == kNoObject)
        return;
    m_previousConnection =
        PathOf(Property(previousActive, kActiveIface, QStringLiteral("Connection")).value_or(QVariant()));
    const QString specific =
        PathOf(Property(previousActive, kActiveIface, QStringLiteral("SpecificObject")).value_or(QVariant()));
    if (!specific.isEmpty())
        m_previousSpecific = specific;
}

JoinResult ApJoiner::AddRefused(const QDBusMessage& reply, const std::optional<QDBusPendingCall>& late,
                                const QString& ssid, int timeoutMs)
{
    const QString name = reply.errorName();
    if (late) {
        // NetworkManager may still join later: keep listening, and bring the previous
        // connection back now and again once the late connection shows up.
        m_lateJoin = late;
        m_joined = true;
    }
    if (IsNoAnswer(name))
        return Fail(JoinFailure::Timeout, ssid, reply.errorMessage(), timeoutMs);
    if (name == QDBusError::errorString(QDBusError::ServiceUnknown))
        return Fail(JoinFailure::Absent, ssid, reply.errorMessage());
    return Fail(IsRefusal(name) ? JoinFailure::Refused : JoinFailure::Failed, ssid,
                reply.errorMessage().isEmpty() ? name : reply.errorMessage());
}

JoinResult ApJoiner::AwaitActivated(const QString& ssid, const QDeadlineTimer& deadline, int timeoutMs)
{
    for (;;) {
        const auto state = Property(m_active, kActiveIface, QStringLiteral("State"));
        // The active connection object disappears once NetworkManager has given up on it.
        const JoinState now = state ? static_cast<JoinState>(state->toUInt()) : JoinState::Deactivated;
        Report(now);
        if (now == JoinState::Activated)
            return {};
        if (now == JoinState::Deactivated || now == JoinState::Deactivating)
            return Fail(JoinFailure::Failed, ssid, DeviceReason());
        if (m_abort && m_abort())
            return Fail(JoinFailure::Aborted, ssid, {});
        if (deadline.hasExpired())
            return Fail(JoinFailure::Timeout, ssid, {}, timeoutMs);
        QDeadlineTimer pause(kPollMs);
        while (!pause.hasExpired())
            WaitForEvents(static_cast<int>(qMax<qint64>(1, pause.remainingTime())));
    }
}

JoinResult ApJoiner::Join(const QString& ssid, const QString& password, int timeoutMs)
{
    const bool rejoin = ClearForJoin();
    m_reportedAny = false;
    if (m_device.isEmpty() && !Available())
        return Fail(JoinFailure::Absent, ssid, {});
    const QDeadlineTimer deadline(timeoutMs);
    // What to bring back afterwards; a rejoin keeps what the first join remembered.
    if (!rejoin)
        RememberPrevious();

    const QVariantMap options{
        {QStringLiteral("persist"), QStringLiteral("volatile")},
        {QStringLiteral("bind-activation"), QStringLiteral("dbus-client")},
    };
    const int left = static_cast<int>(qMax<qint64>(1, deadline.remainingTime()));
    std::optional<QDBusPendingCall> late;
    const QDBusMessage reply = Call(kManagerPath, kManagerIface, QStringLiteral("AddAndActivateConnection2"),
                                    {QVariant::fromValue(ConnectionSettings(ssid, password)),
                                     QVariant::fromValue(QDBusObjectPath(m_device)),
                                     QVariant::fromValue(QDBusObjectPath(kNoObject)), options},
                                    left, &late);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return AddRefused(reply, late, ssid, timeoutMs);
    m_ourConnection = PathOf(reply.arguments().at(0));
    m_active = PathOf(reply.arguments().at(1));
    m_joined = true;
    return AwaitActivated(ssid, deadline, timeoutMs);
}

JoinResult ApJoiner::TryJoin(const QString& ssid, const QString& password, int timeoutMs)
{
    if (!Available())
        return Fail(JoinFailure::Absent, ssid, {});
    QStringList refused;
    if (!CheckPermission(&refused))
        return Fail(JoinFailure::Refused, ssid, refused.join(QStringLiteral(", ")));
    return Join(ssid, password, timeoutMs);
}

void ApJoiner::TakeDown(const QString& active, const QString& connection)
{
    if (!active.isEmpty()) {
        // Already gone when NetworkManager gave up on it: that error is expected.
        Call(kManagerPath, kManagerIface, QStringLiteral("DeactivateConnection"),
             {QVariant::fromValue(QDBusObjectPath(active))});
    }
    if (!connection.isEmpty()) {
        // A volatile connection vanishes by itself once down; delete it where it did not.
        Call(connection, kConnectionIface, QStringLiteral("Delete"), {});
    }
}

bool ApJoiner::Restore()
{
    bool lateJoined = false;
    if (m_lateJoin && m_lateJoin->isFinished()) {
        const QDBusMessage reply = m_lateJoin->reply();
        m_lateJoin.reset();
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() >= 2) {
            TakeDown(PathOf(reply.arguments().at(1)), PathOf(reply.arguments().at(0)));
            lateJoined = true;
        }
    }
    if (!m_joined && !lateJoined)
        return true;
    if (m_joined)
        TakeDown(m_active, m_ourConnection);
    m_joined = false;
    m_active.clear();
    m_ourConnection.clear();
    if (m_previousConnection.isEmpty())
        return true;
    const QDBusMessage reply = Call(kManagerPath, kManagerIface, QStringLiteral("ActivateConnection"),
                                    {QVariant::fromValue(QDBusObjectPath(m_previousConnection)),
                                     QVariant::fromValue(QDBusObjectPath(m_device)),
                                     QVariant::fromValue(QDBusObjectPath(m_previousSpecific))});
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace nx7::netjoin
