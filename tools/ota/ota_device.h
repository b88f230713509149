#pragma once
// The board side of an OTA upload: answers the UDP invitation, runs the password challenge,
// connects back to the uploader and receives the image the way the board's OTA service does.
// Scripted faults let tests and the simulator make the transfer fail on purpose.
#include <QByteArray>
#include <QCryptographicHash>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpSocket;
class QTimer;
class QUdpSocket;

namespace nx7::ota
{

enum class DeviceAuth {
    Md5,             // older challenge: 32-character nonce
    Sha256,          // newer challenge keyed by SHA256hex(password): 64-character nonce
    Sha256Md5PwHash, // newer challenge keyed by MD5hex(password) (boards that keep the older hash)
};

struct OtaDeviceFaults {
    bool wrongPassword = false;     // the board expects a password other than the uploader's
    qint64 dropAfterBytes = -1;     // abort the connection once this many image bytes arrived
    qint64 corruptOffset = -1;      // flip the received byte at this offset (the MD5 check then fails)
    bool firstTransferOnly = false; // the faults apply to the first transfer that starts, then stop
};

struct OtaDeviceConfig {
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 3232; // 0: any free port, see Port()
    QByteArray password; // empty: the board answers the invitation with "OK"
    DeviceAuth auth = DeviceAuth::Md5;
    qint64 maxImageSize = 0;      // larger images get "Not Enough Space"; 0: 16 MiB, the largest flash
    int authTimeoutMs = 10000;    // how long a challenge stays open
    int connectTimeoutMs = 10000; // connecting back to the uploader
    int idleMs = 1000;            // silence before the last count is repeated
    int idleRepeats = 3;          // repeats before the board gives up
    OtaDeviceFaults faults;
};

class OtaDeviceService : public QObject
{
    Q_OBJECT
public:
    explicit OtaDeviceService(OtaDeviceConfig config, QObject* parent = nullptr);
    ~OtaDeviceService() override;

    // Binds the UDP port; false with the reason in `error` when that fails.
    bool Start(QString* error = nullptr);
    // Closes every socket and forgets a running transfer without emitting a signal.
    void Stop();
    // The bound UDP port (meaningful after Start(), also when configured as 0).
    quint16 Port() const;

signals:
    // The board has connected back and is about to receive `size` bytes (command 0 application,
    // 100 file system).
    void TransferStarted(int command, qint64 size);
    // The transfer ended: `ok` after "OK" was sent; `message` is the text sent to the uploader or
    // why the board gave up. `image` holds what was received. Do not delete the service from a
    // slot connected to this signal (use deleteLater).
    void TransferFinished(bool ok, QByteArray image, QString message);

private:
    enum class State { Idle, WaitAuth, Connecting, Receiving };

    void OnDatagrams();
    void HandleInvitation(const QByteArray& text, const QHostAddress& from, quint16 fromPort);
    void HandleAuth(const QByteArray& text, const QHostAddress& from, quint16 fromPort);
    void Reply(const QByteArray& text, const QHostAddress& to, quint16 toPort);
    void ConnectBack(const QHostAddress& to);
    void OnConnected();
    void OnReadyRead();
    void OnIdle();
    void OnSocketGone();
    void Finish(bool ok, const QString& message, const QByteArray& reply);
    void DropSocket(bool graceful);
    QByteArray ExpectedPassword() const;

    OtaDeviceConfig m_config;
    QUdpSocket* m_udp = nullptr;
    QTcpSocket* m_tcp = nullptr;
    QTimer* m_authTimer = nullptr;
    QTimer* m_connectTimer = nullptr;
    QTimer* m_idleTimer = nullptr;
    State m_state = State::Idle;

    // The invitation being served.
    int m_command = 0;
    quint16 m_tcpPort = 0;
    qint64 m_size = 0;
    QByteArray m_md5;
    QByteArray m_nonce;

    QByteArray m_image;
    QCryptographicHash m_hash{QCryptographicHash::Md5};
    QByteArray m_lastCount;
    int m_idleCount = 0;
};

} // namespace nx7::ota
