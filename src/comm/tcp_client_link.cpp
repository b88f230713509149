#include "comm/tcp_client_link.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace nx7
{

namespace
{
constexpr int kReadChunk = 1024;
// A refused connection fails at once; retrying without a pause would spin a core.
constexpr int kRetryDelayMs = 200;
} // namespace

TcpClientLink::TcpClientLink(const QString& remoteAddress, int remotePort)
    : m_remoteAddress(remoteAddress)
    , m_remotePort(remotePort)
    , m_socket(new QTcpSocket(this))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { Open(); });
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpClientLink::OnRead);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        emit ReceiveReset();
        emit Trace(QStringLiteral("ClientSocket1Connect00"), false);
        emit ConnectionChanged(true);
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        emit ReceiveReset();
        emit Trace(QStringLiteral("ClientSocket1Disconnect00"), false);
        emit ConnectionChanged(false);
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError e) { OnError(static_cast<int>(e)); });
}

TcpClientLink::~TcpClientLink()
{
    m_retry.stop();
    QObject::disconnect(m_socket, nullptr, this, nullptr);
}

bool TcpClientLink::Open()
{
    m_retry.stop();
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    const auto port = static_cast<quint16>(m_remotePort);
    const QString text = m_remoteAddress.trimmed();
    bool numeric = false;
    const qulonglong value = text.toULongLong(&numeric, 10);
    if (numeric && value <= 0xFFFFFFFFull)
        m_socket->connectToHost(QHostAddress(static_cast<quint32>(value)), port);
    else
        m_socket->connectToHost(text, port);
    return true;
}

void TcpClientLink::Close()
{
    m_socket->abort();
}

bool TcpClientLink::IsUp() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

QString TcpClientLink::Describe() const
{
    const QString text = m_remoteAddress.trimmed();
    bool numeric = false;
    const qulonglong value = text.toULongLong(&numeric, 10);
    const QString host =
        numeric && value <= 0xFFFFFFFFull ? QHostAddress(static_cast<quint32>(value)).toString() : text;
    return host + QLatin1Char(':') + QString::number(m_remotePort);
}

int TcpClientLink::Write(const std::uint8_t* bytes, int count)
{
    const qint64 n = m_socket->write(reinterpret_cast<const char*>(bytes), count);
    if (n <= 0)
        return 0;
    m_socket->flush();
    return static_cast<int>(n);
}

void TcpClientLink::OnRead()
{
    const QByteArray bytes = m_socket->read(kReadChunk);
    if (!bytes.isEmpty())
        emit Received(bytes);
    // Qt signals new data only once; the rest is taken by a further read event.
    if (m_socket->bytesAvailable() > 0)
        QTimer::singleShot(0, m_socket, [this] { OnRead(); });
}

void TcpClientLink::OnError(int error)
{
    // A peer's orderly close is a disconnect, not an error.
    if (static_cast<QAbstractSocket::SocketError>(error) == QAbstractSocket::RemoteHostClosedError)
        return;
    m_socket->abort();
    m_retry.start(kRetryDelayMs);
    emit Trace(QStringLiteral("ClientSocket1Error"), false);
}

} // namespace nx7
