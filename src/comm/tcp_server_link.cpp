#include "comm/tcp_server_link.h"

#include "platform/adapters.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace nx7
{

namespace
{
constexpr int kReadChunk = 256;

QHostAddress PeerAddress(const QTcpSocket& socket)
{
    QHostAddress address = socket.peerAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        address = QHostAddress(v4);
    return address;
}

QString PeerText(const QTcpSocket& socket)
{
    return PeerAddress(socket).toString() + QLatin1Char(':') + QString::number(socket.peerPort());
}

// The setting's default 1 (and 0.x.x.x in general), multicast and the reserved block name no board.
QString BoardText(std::uint32_t address)
{
    const std::uint32_t first = address >> 24;
    if (first == 0 || first >= 224)
        return {};
    return QHostAddress(address).toString();
}
} // namespace

TcpServerLink::TcpServerLink(const QString& listenAddress, int listenPort, std::uint32_t boardAddress)
    : m_listenAddress(listenAddress)
    , m_listenPort(listenPort)
    , m_board(BoardText(boardAddress))
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &TcpServerLink::OnNewConnection);
}

TcpServerLink::~TcpServerLink()
{
    QObject::disconnect(m_server, nullptr, this, nullptr);
    if (m_peer) {
        QObject::disconnect(m_peer, nullptr, this, nullptr);
        delete m_peer;
    }
}

bool TcpServerLink::Open()
{
    const auto port = static_cast<quint16>(m_listenPort);
    // Other networks of the PC (a wired office network beside the board's Wi-Fi) are not offered
    // the board's session; without an adapter on the board's network, every one is.
    QString local = m_listenAddress;
    if (local.isEmpty() && !m_board.isEmpty())
        local = LocalAddressOnNetworkOf(m_board);
    const QHostAddress address = local.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(local);
    if (m_server->isListening() && m_server->serverPort() == port && m_server->serverAddress() == address)
        return true;
    m_server->close();
    if (m_server->listen(address, port))
        emit Trace(QStringLiteral("ServerSocket1Listen"), false);
    return true;
}

void TcpServerLink::Close()
{
    m_server->close();
    if (m_peer) {
        m_peer->abort(); // emits disconnected, which forgets the peer
        OnPeerGone();    // a socket that did not report it
    }
}

bool TcpServerLink::IsUp() const
{
    return m_peer && m_peer->state() == QAbstractSocket::ConnectedState;
}

QString TcpServerLink::Describe() const
{
    // Before a board has come, where it is expected.
    return m_peer ? PeerText(*m_peer) : QStringLiteral("0.0.0.0:%1").arg(m_listenPort);
}

int TcpServerLink::Write(const std::uint8_t* bytes, int count)
{
    if (!m_peer)
        return 0;
    const qint64 n = m_peer->write(reinterpret_cast<const char*>(bytes), count);
    if (n <= 0)
        return 0;
    m_peer->flush();
    return static_cast<int>(n);
}

void TcpServerLink::OnNewConnection()
{
    while (m_server->hasPendingConnections()) {
        QTcpSocket* socket = m_server->nextPendingConnection();
        if (!socket)
            break;
        if (!m_board.isEmpty() && PeerAddress(*socket) != QHostAddress(m_board)) {
            // Only the board the settings name may talk to the tool.
            emit Trace(QStringLiteral("ボードのアドレス以外からの接続を拒否しました: ") + PeerText(*socket) +
                           QStringLiteral("（ボード: ") + m_board + QStringLiteral("）"),
                       true);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (m_peer) {
            // Another program must not take the board's session over.
            emit Trace(QStringLiteral("接続中のため新しい接続を拒否しました: ") + PeerText(*socket), true);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_peer = socket;
        connect(socket, &QTcpSocket::readyRead, this, &TcpServerLink::OnPeerRead);
        connect(socket, &QTcpSocket::disconnected, this, &TcpServerLink::OnPeerGone);
        emit Trace(QStringLiteral("ServerSocket1ClientConnect"), false);
        emit Trace(QStringLiteral("ActiveConnections: 1"), false);
        emit ConnectionChanged(true);
    }
}

void TcpServerLink::OnPeerRead()
{
    if (!m_peer)
        return;
    emit Trace(QStringLiteral("ServerSocket1ClientRead"), false);
    const QByteArray bytes = m_peer->read(kReadChunk);
    if (!bytes.isEmpty())
        emit Received(bytes);
    // Qt signals new data only once; the rest is taken by a further read event.
    if (m_peer && m_peer->bytesAvailable() > 0)
        QTimer::singleShot(0, m_peer, [this] { OnPeerRead(); });
}

void TcpServerLink::OnPeerGone()
{
    if (!m_peer)
        return;
    QTcpSocket* socket = m_peer;
    m_peer = nullptr;
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->deleteLater();
    emit Trace(QStringLiteral("ServerSocket1ClientDisconnect"), false);
    emit ConnectionChanged(false);
}

} // namespace nx7
