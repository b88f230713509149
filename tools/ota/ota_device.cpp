#include "ota/ota_device.h"

#include "ota/ota_auth.h"
#include "ota/ota_protocol.h"

#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <utility>

namespace nx7::ota
{

namespace
{
// The board's TCP receive window hands over at most one segment per read.
constexpr qint64 kMaxRead = 1460;
constexpr int kMd5HexLength = 32;
// No ESP32 flash holds more, whatever the partition table says.
constexpr qint64 kLargestFlash = 16 * 1024 * 1024;
} // namespace

OtaDeviceService::OtaDeviceService(OtaDeviceConfig config, QObject* parent)
    : QObject(parent)
    , m_config(std::move(config))
{
    m_authTimer = new QTimer(this);
    m_authTimer->setSingleShot(true);
    connect(m_authTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::WaitAuth)
            m_state = State::Idle;
    });
    m_connectTimer = new QTimer(this);
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Connecting)
            Finish(false, QStringLiteral("Cannot connect to the uploader"), {});
    });
    m_idleTimer = new QTimer(this);
    m_idleTimer->setSingleShot(true);
    connect(m_idleTimer, &QTimer::timeout, this, &OtaDeviceService::OnIdle);
}

OtaDeviceService::~OtaDeviceService()
{
    Stop();
}

bool OtaDeviceService::Start(QString* error)
{
    Stop();
    m_udp = new QUdpSocket(this);
    if (!m_udp->bind(m_config.address, m_config.port)) {
        if (error)
            *error = m_udp->errorString();
        delete m_udp;
        m_udp = nullptr;
        return false;
    }
    connect(m_udp, &QUdpSocket::readyRead, this, &OtaDeviceService::OnDatagrams);
    return true;
}

void OtaDeviceService::Stop()
{
    m_authTimer->stop();
    m_connectTimer->stop();
    m_idleTimer->stop();
    // Deleted later: Stop() may run inside a slot called by one of these sockets.
    if (m_tcp) {
        m_tcp->disconnect(this);
        m_tcp->abort();
        m_tcp->deleteLater();
        m_tcp = nullptr;
    }
    if (m_udp) {
        m_udp->disconnect(this);
        m_udp->close();
        m_udp->deleteLater();
        m_udp = nullptr;
    }
    m_state = State::Idle;
}

quint16 OtaDeviceService::Port() const
{
    return m_udp ? m_udp->localPort() : 0;
}

void OtaDeviceService::OnDatagrams()
{
    while (m_udp && m_udp->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_udp->receiveDatagram();
        if (!d.isValid())
            continue;
        if (m_state == State::Idle)
            HandleInvitation(d.data(), d.senderAddress(), static_cast<quint16>(d.senderPort()));
        else if (m_state == State::WaitAuth)
            HandleAuth(d.data(), d.senderAddress(), static_cast<quint16>(d.senderPort()));
        // While connecting or receiving the board has no ear for the UDP port.
    }
}

void OtaDeviceService::HandleInvitation(const QByteArray& text, const QHostAddress& from, quint16 fromPort)
{
    const QList<QByteArray> f = text.simplified().split(' ');
    if (f.size() != 4)
        return;
    bool okCmd = false, okPort = false, okSize = false;
    const int command = f[0].toInt(&okCmd);
    const uint port = f[1].toUInt(&okPort);
    const qint64 size = f[2].toLongLong(&okSize);
    if (!okCmd || (command != kCommandFlash && command != kCommandFileSystem))
        return;
    if (!okPort || port == 0 || port > 65535 || !okSize || size <= 0 || f[3].size() != kMd5HexLength)
        return;
    m_command = command;
    m_tcpPort = static_cast<quint16>(port);
    m_size = size;
    m_md5 = f[3].toLower();

    if (m_config.password.isEmpty() && !m_config.faults.wrongPassword) {
        Reply("OK", from, fromPort);
        ConnectBack(from);
        return;
    }
    m_nonce = MakeNonce(m_config.auth == DeviceAuth::Md5 ? AuthScheme::Md5 : AuthScheme::Sha256);
    m_state = State::WaitAuth;
    m_authTimer->start(m_config.authTimeoutMs);
    Reply("AUTH " + m_nonce, from, fromPort);
}

void OtaDeviceService::HandleAuth(const QByteArray& text, const QHostAddress& from, quint16 fromPort)
{
    const QList<QByteArray> f = text.simplified().split(' ');
    const AuthScheme scheme = m_config.auth == DeviceAuth::Md5 ? AuthScheme::Md5 : AuthScheme::Sha256;
    const int len = TokenLength(scheme);
    // Anything but a well-formed answer is ignored, as the board does.
    if (f.size() != 3 || f[0] != QByteArray::number(kCommandAuth) || f[1].size() != len || f[2].size() != len)
        return;
    m_authTimer->stop();
    const QByteArray expected =
        ResponseFor(scheme, ExpectedPassword(), m_nonce, f[1], m_config.auth == DeviceAuth::Sha256Md5PwHash);
    if (f[2].toLower() != expected) {
        m_state = State::Idle;
        Reply("Authentication Failed", from, fromPort);
        return;
    }
    Reply("OK", from, fromPort);
    ConnectBack(from);
}

QByteArray OtaDeviceService::ExpectedPassword() const
{
    return m_config.faults.wrongPassword ? m_config.password + "#not-this-one" : m_config.password;
}

void OtaDeviceService::Reply(const QByteArray& text, const QHostAddress& to, quint16 toPort)
{
    m_udp->writeDatagram(text, to, toPort);
}

void OtaDeviceService::ConnectBack(const QHostAddress& to)
{
    m_state = State::Connecting;
    m_image.clear();
    m_hash.reset();
    m_lastCount.clear();
    m_idleCount = 0;
    m_tcp = new QTcpSocket(this);
    connect(m_tcp, &QTcpSocket::connected, this, &OtaDeviceService::OnConnected);
    connect(m_tcp, &QTcpSocket::readyRead, this, &OtaDeviceService::OnReadyRead);
    connect(m_tcp, &QTcpSocket::disconnected, this, &OtaDeviceService::OnSocketGone);
    connect(m_tcp, &QTcpSocket::errorOccurred, this, &OtaDeviceService::OnSocketGone);
    m_connectTimer->start(m_config.connectTimeoutMs);
    m_tcp->connectToHost(to, m_tcpPort);
}

void OtaDeviceService::OnConnected()
{
    m_connectTimer->stop();
    // Every count must leave at once: the uploader waits for it before its next chunk.
    m_tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_state = State::Receiving;
    emit TransferStarted(m_command, m_size);
    if (m_state != State::Receiving)
        return;
    const qint64 room = m_config.maxImageSize > 0 ? m_config.maxImageSize : kLargestFlash;
    if (m_size > room) {
        Finish(false, QStringLiteral("Not Enough Space"), "Not Enough Space\r\n");
        return;
    }
    m_idleTimer->start(m_config.idleMs);
    OnReadyRead();
}

void OtaDeviceService::OnReadyRead()
{
    const OtaDeviceFaults& faults = m_config.faults;
    while (m_state == State::Receiving && m_tcp) {
        if (faults.dropAfterBytes >= 0 && m_image.size() >= faults.dropAfterBytes) {
            Finish(false, QStringLiteral("Connection dropped after %1 bytes").arg(m_image.size()), {});
            return;
        }
        if (m_tcp->bytesAvailable() <= 0)
            break;
        qint64 n = qMin(qMin(kMaxRead, m_tcp->bytesAvailable()), m_size - m_image.size());
        if (faults.dropAfterBytes >= 0)
            n = qMin(n, faults.dropAfterBytes - m_image.size());
        if (n <= 0)
            break;
        QByteArray chunk = m_tcp->read(n);
        if (chunk.isEmpty())
            break;
        const qint64 at = m_image.size();
        if (faults.corruptOffset >= at && faults.corruptOffset < at + chunk.size())
            chunk[faults.corruptOffset - at] = static_cast<char>(chunk[faults.corruptOffset - at] ^ 0xFF);
        if (at == 0 && m_command == kCommandFlash && static_cast<quint8>(chunk.at(0)) != 0xE9) {
            Finish(false, QStringLiteral("Wrong Magic Byte"), "Wrong Magic Byte\r\n");
            return;
        }
        m_image.append(chunk);
        m_hash.addData(chunk);
        m_lastCount = QByteArray::number(chunk.size());
        m_idleCount = 0;
        m_tcp->write(m_lastCount);

        if (m_image.size() == m_size) {
            if (m_hash.result().toHex() != m_md5)
                Finish(false, QStringLiteral("MD5 Check Failed"), "MD5 Check Failed\r\n");
            else
                Finish(true, QStringLiteral("OK"), "OK");
            return;
        }
    }
    if (m_state == State::Receiving)
        m_idleTimer->start(m_config.idleMs);
}

void OtaDeviceService::OnIdle()
{
    if (m_state != State::Receiving || !m_tcp)
        return;
    if (m_idleCount >= m_config.idleRepeats) {
        Finish(false, QStringLiteral("Receive timeout after %1 of %2 bytes").arg(m_image.size()).arg(m_size),
               {});
        return;
    }
    ++m_idleCount;
    if (!m_lastCount.isEmpty())
        m_tcp->write(m_lastCount);
    m_idleTimer->start(m_config.idleMs);
}

void OtaDeviceService::OnSocketGone()
{
    if (m_state == State::Connecting) {
        Finish(false, QStringLiteral("Cannot connect to the uploader: %1").arg(m_tcp->errorString()), {});
    } else if (m_state == State::Receiving) {
        // Bytes that arrived with the close still count.
        OnReadyRead();
        if (m_state == State::Receiving)
            Finish(false,
                   QStringLiteral("Connection lost after %1 of %2 bytes").arg(m_image.size()).arg(m_size),
                   {});
    }
}

void OtaDeviceService::Finish(bool ok, const QString& message, const QByteArray& reply)
{
    m_connectTimer->stop();
    m_idleTimer->stop();
    m_state = State::Idle;
    if (m_tcp) {
        if (!reply.isEmpty() && m_tcp->state() == QAbstractSocket::ConnectedState)
            m_tcp->write(reply);
        DropSocket(!reply.isEmpty());
    }
    const QByteArray image = m_image;
    m_image.clear();
    if (m_config.faults.firstTransferOnly)
        m_config.faults = OtaDeviceFaults{};
    emit TransferFinished(ok, image, message);
}

void OtaDeviceService::DropSocket(bool graceful)
{
    QTcpSocket* s = m_tcp;
    m_tcp = nullptr;
    s->disconnect(this);
    if (!graceful || s->state() != QAbstractSocket::ConnectedState) {
        s->abort();
        s->deleteLater();
        return;
    }
    // Let the final answer leave before the close; a peer that never reads cannot hold it open.
    // Unread bytes at the close would turn it into a reset that can destroy the answer in transit.
    s->readAll();
    connect(s, &QTcpSocket::readyRead, s, [s] { s->readAll(); });
    connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    QTimer::singleShot(m_config.connectTimeoutMs, s, [s] {
        s->abort();
        s->deleteLater();
    });
    s->disconnectFromHost();
}

} // namespace nx7::ota
