#pragma once
// Every cause-and-action text of the tool, in one place. Each failure a user can meet gets two
// lines in plain Japanese with the concrete values: "原因: " (what most likely happened) and
// "対処: " (what to do). They go below the fixed message of the failure, never instead of it.
#include "comm/product.h"
#include "diag/network_view.h"
#include "diag/uploader_output.h"

#include <QList>
#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace nx7::diag
{

struct CauseAction {
    QString cause;
    QString action;

    bool IsEmpty() const { return cause.isEmpty() && action.isEmpty(); }
    // {"原因: ...", "対処: ..."} for the log pane and headless output.
    QStringList Lines() const;
    // The two lines joined by a line break, to add below a message or result box's text.
    QString Block() const;
};

// Serial port failures; `port` as the user knows it ("/dev/ttyUSB0", "COM3").
CauseAction SerialPortMissing(const QString& port);
CauseAction SerialPortBusy(const QString& port);
// `group`: the device's group (DeviceGroup), empty when unknown.
CauseAction SerialPortPermission(const QString& port, const QString& group);
CauseAction SerialPortVanished(const QString& port);
// The group owning a serial device (stat + getgrgid); a bare name is looked up under /dev/.
// Empty on Windows or when unknown.
QString DeviceGroup(const QString& port);

// Why a serial port could not be opened, from the port's error and a look at the device: Qt
// reports both a port held by another program and missing rights as a permission error, so the
// device's access rights decide between the two.
enum class SerialFailure { Missing, Busy, Permission, Vanished, Other };
SerialFailure ClassifySerialError(const QString& port, QSerialPort::SerialPortError error);
// The texts for a failed open or a port lost mid-run, in one call.
CauseAction SerialPortFailure(const QString& port, QSerialPort::SerialPortError error);

// No answer from the board on an open link.
// The board answered the tool's requests with refusals (NACK); `place` is where it is.
CauseAction BoardRefused(const QString& place);
// A TCP link to the board that went down during the write; `place` is "address:port".
CauseAction TcpLinkLost(const QString& place);
// A write stopped by the person (signal, 停止, closing the window); `boardReport` is the result the
// board had notified by then ("OK", "BR"), empty for none.
CauseAction WriteStopped(const QString& boardReport);
CauseAction BoardSilentSerial(const QString& port, int baud);
CauseAction BoardSilentTcp(const QString& address, int port);

// The PC did not join the board's access point within `waitMs`; `seen`: the PC's adapters then.
CauseAction ApNotJoined(const QString& ssid, const QList<NetAdapter>& seen, int waitMs);

// The uploader could not be started: `why` is the system's reason (missing file, no permission).
CauseAction UploaderCannotStart(const QString& path, const QString& why);

// What the update knew when the uploader failed, for the concrete values of the texts.
struct UploadContext {
    QString boardAddress;              // the address the uploader was given (-i)
    int boardPort = product::kOtaPort; // the board's update service (-p)
    QString pcAddress;                 // -I, empty when not given
    int hostPort = 0;                  // -P; 0: the uploader chose a random port 10000-60000
    QString ssid;                      // the board's access point
    FirewallState firewall;
    QString passwordName = QStringLiteral("アップロード用パスワード");
    QString uploaderPath;
};

// Cause and action for the uploader's failure; empty for UploaderClass::Success.
CauseAction UploaderFailure(const UploaderFacts& facts, const UploadContext& ctx);
// Classifies the run and words it; `facts` (optional) receives what the classifier found.
CauseAction ExplainUploaderRun(const UploaderRun& run, const UploadContext& ctx,
                               UploaderFacts* facts = nullptr);

// The board's own verdict on the update was a failure (BR).
CauseAction BoardReportedFailure(const QString& reason);
// No update notification within `waitMs`.
CauseAction NoResultInTime(int waitMs);
// The board restarted with `running` instead of `expected`.
CauseAction VersionAfterRestartDiffers(const QString& running, const QString& expected);

// Network pre-flight findings (after the PC joined the board's access point).
CauseAction PcNotInBoardSubnet(const QString& boardAddress, const QString& ssid,
                               const QList<NetAdapter>& seen);
CauseAction RouteThroughOtherAdapter(const QString& boardAddress, const QString& routeAdapter,
                                     const QString& expectedAdapter);
CauseAction HostPortUnbindable(const QString& pcAddress, int hostPort, const QString& why);
CauseAction FirewallActive(const FirewallState& firewall, int hostPort);

// "wlan0 192.168.4.2/24, eth0 (アドレスなし)": the adapters as the texts list them.
QString AdapterSummary(const QList<NetAdapter>& adapters);

// The firewall rule letting the board connect back to the PC on `hostPort` (0: the uploader's
// random range), as one command line; empty when no firewall is known.
QString FirewallRule(const FirewallState& firewall, int hostPort);

// "3030KMT26 → 3030KMT27" for the log and the write question; when both are equal, the line
// saying so. An unknown running version shows as "不明".
QString VersionChangeText(const QString& running, const QString& image);
bool VersionsEqual(const QString& running, const QString& image);

} // namespace nx7::diag
