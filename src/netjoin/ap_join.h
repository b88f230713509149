#pragma once
// Joining the board's Wi-Fi access point without the user, through NetworkManager's D-Bus API.
// The connection is volatile (never saved) and bound to this process's bus connection, so it also
// goes away if the tool dies; the device's previous connection is brought back on every way out.
// Where NetworkManager is missing, refuses, or the join does not complete in time, the caller
// falls back to asking the user to join by hand, with the failure's cause-and-action lines.
#include "diag/diag_texts.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace nx7::netjoin
{

// Why an automatic join did not happen.
enum class JoinFailure {
    None,
    Absent,  // NetworkManager not on the bus, or no usable Wi-Fi device
    Refused, // polkit says "no" to one of the needed actions, or NetworkManager refused the call
    Timeout, // the connection did not come up within the time given
    Failed,  // NetworkManager gave up (wrong password, access point out of reach, ...)
    Aborted, // the caller asked to stop
};

// The active connection's state (NetworkManager's NMActiveConnectionState).
enum class JoinState : unsigned {
    Unknown = 0,
    Activating = 1,
    Activated = 2,
    Deactivating = 3,
    Deactivated = 4,
};

// A few words for a state, for the join dialog's progress line ("接続中..." etc.).
QString JoinStateText(JoinState state);
// "自動接続: " and the state's words: the progress line of the join dialog and the log pane.
QString JoinProgressLine(JoinState state);

// The join dialog's two message lines while the join runs by itself; the manual texts come back
// when it fails.
QString AutoJoinMessage1();
QString AutoJoinMessage2();

struct JoinResult {
    JoinFailure failure = JoinFailure::None;
    QString detail; // the bus error or NetworkManager's reason, for the log
    diag::CauseAction explanation;

    bool Ok() const { return failure == JoinFailure::None; }
};

// The polkit actions a join needs: controlling the network and adding a connection of one's own.
QStringList RequiredPermissions();

// The cause-and-action lines of a failed join: the action is always joining `ssid` by hand.
// `detail`: NetworkManager's reason or the refused actions; `timeoutMs`: the bound that passed.
diag::CauseAction ExplainJoinFailure(JoinFailure failure, const QString& ssid, const QString& detail,
                                     int timeoutMs = 0);

class ApJoiner
{
public:
    using Progress = std::function<void(JoinState state)>;
    using AbortCheck = std::function<bool()>;

    // `bus`: the system bus in the tool, a private bus in tests.
    explicit ApJoiner(QDBusConnection bus = QDBusConnection::systemBus());
    // Brings the previous connection back if a join was made and not yet undone.
    ~ApJoiner();

    ApJoiner(const ApJoiner&) = delete;
    ApJoiner& operator=(const ApJoiner&) = delete;

    // Called for every state change seen while joining (also the first one).
    void SetProgress(Progress progress) { m_progress = std::move(progress); }
    // Asked while waiting; true ends the join with JoinFailure::Aborted.
    void SetAbortCheck(AbortCheck check) { m_abort = std::move(check); }
    // Bound for each single bus call (ms).
    void SetCallTimeout(int ms) { m_callTimeoutMs = ms; }

    // NetworkManager owns its name on the bus and has a managed Wi-Fi device that is not
    // unavailable. Picks that device for the join.
    bool Available();
    // The Wi-Fi device picked by Available() (its object path), or empty.
    QString DevicePath() const { return m_device; }
    QString DeviceInterface() const { return m_deviceIface; }

    // Asks NetworkManager whether this process may do what a join needs. "yes" and "auth" (polkit
    // asks the user) count as allowed; "no" or a missing answer do not. On refusal `refused`
    // receives the actions concerned.
    bool CheckPermission(QStringList* refused = nullptr);

    // Remembers the device's active connection, then adds and activates a volatile connection to
    // `ssid` (WPA-PSK with `password`, open when empty) and waits up to `timeoutMs` for it to be
    // up. A join that did not complete is undone before returning (the previous connection is
    // back); a successful one stays until Restore() or the destructor. Joining again while joined
    // replaces ours and keeps the connection from before the first join as the one to bring back.
    JoinResult Join(const QString& ssid, const QString& password, int timeoutMs);

    // The whole automatic join in one call, for the write flow: Available(), CheckPermission()
    // (a refusal gives JoinFailure::Refused naming the actions), then Join().
    JoinResult TryJoin(const QString& ssid, const QString& password, int timeoutMs);

    // Takes our connection down and reactivates the connection the device had before the join.
    // Does nothing when there is nothing to undo; safe to call more than once. A join request that
    // NetworkManager answered only after its time is undone by the first call after the answer.
    // False when a bus call failed (the tool's connection is gone anyway once the process ends).
    bool Restore();

    // The previous active connection's settings path ("" when the device was idle).
    QString PreviousConnection() const { return m_previousConnection; }
    // Our active connection while joined.
    QString ActiveConnection() const { return m_active; }

private:
    std::optional<QVariant> Property(const QString& path, const QString& iface, const QString& name);
    // One bus call, waited for with the event loop running. `unfinished` (optional) receives the
    // call when it outlived `timeoutMs`, so a late answer can still be picked up.
    QDBusMessage Call(const QString& path, const QString& iface, const QString& method,
                      const QVariantList& args, int timeoutMs = -1,
                      std::optional<QDBusPendingCall>* unfinished = nullptr);
    JoinResult Fail(JoinFailure failure, const QString& ssid, const QString& detail, int timeoutMs = 0);
    // The steps of Join. Undoes what stands in the way of a new join; true for a rejoin (ours is
    // taken down, the connection from before the first join stays the one to bring back).
    bool ClearForJoin();
    // Notes the device's active connection (and the access point it uses) to bring back later.
    void RememberPrevious();
    // The failure of a request to add and activate our connection that got no usable answer;
    // `late` holds the request when it outlived its time.
    JoinResult AddRefused(const QDBusMessage& reply, const std::optional<QDBusPendingCall>& late,
                          const QString& ssid, int timeoutMs);
    // Polls our active connection until it is up, NetworkManager gives up, the caller aborts or
    // `deadline` passes.
    JoinResult AwaitActivated(const QString& ssid, const QDeadlineTimer& deadline, int timeoutMs);
    QString DeviceReason();
    // Deactivates `active` and deletes `connection` (either may be empty).
    void TakeDown(const QString& active, const QString& connection);
    void Report(JoinState state);

    QDBusConnection m_bus;
    Progress m_progress;
    AbortCheck m_abort;
    int m_callTimeoutMs = 5000;
    QString m_device;
    QString m_deviceIface;
    QString m_previousConnection;               // settings path
    QString m_previousSpecific;                 // the access point it used, "/" when any
    QString m_active;                           // our active connection
    QString m_ourConnection;                    // our settings path
    bool m_joined = false;                      // something to undo
    std::optional<QDBusPendingCall> m_lateJoin; // a join request that outlived its time
    JoinState m_lastReported = JoinState::Unknown;
    bool m_reportedAny = false;
};

} // namespace nx7::netjoin
