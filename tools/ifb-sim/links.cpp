#include "links.h"

#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace ifbsim
{

PtyChannel::PtyChannel(QObject* parent)
    : Channel(parent)
{
}

PtyChannel::~PtyChannel()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyChannel::Open(QString* error)
{
    char name[256] = {};
    termios tio{};
    cfmakeraw(&tio);
    if (openpty(&m_master, &m_slave, name, &tio, nullptr) != 0) {
        *error = QStringLiteral("openpty failed: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        m_master = m_slave = -1;
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyChannel::OnReadable);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyChannel::OnWritable);
    return true;
}

void PtyChannel::OnReadable()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            emit Received(QByteArray(buf, static_cast<qsizetype>(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // Cannot happen while the slave is held open; never spin on a dead descriptor.
            m_readNotifier->setEnabled(false);
        }
        return;
    }
}

void PtyChannel::Write(const QByteArray& bytes)
{
    if (!IsUp())
        return;
    m_pending.append(bytes);
    OnWritable();
}

void PtyChannel::OnWritable()
{
    while (!m_pending.isEmpty()) {
        const ssize_t n = ::write(m_master, m_pending.constData(), static_cast<size_t>(m_pending.size()));
        if (n > 0) {
            m_pending.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            m_pending.clear();
        break;
    }
    m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

void PtyChannel::SetMuted(bool muted)
{
    m_muted = muted;
    if (muted)
        m_pending.clear();
}

SocketChannel::SocketChannel(QTcpSocket* socket, QObject* parent)
    : Channel(parent)
    , m_socket(socket)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, [this] {
        if (m_socket)
            emit Received(m_socket->readAll());
    });
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        emit Down();
        deleteLater();
    });
}

bool SocketChannel::IsUp() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void SocketChannel::Write(const QByteArray& bytes)
{
    if (IsUp())
        m_socket->write(bytes);
}

QString SocketChannel::Describe() const
{
    if (!m_socket)
        return QStringLiteral("tcp (closed)");
    return QStringLiteral("tcp %1:%2").arg(m_socket->peerAddress().toString()).arg(m_socket->peerPort());
}

void SocketChannel::Close()
{
    // Pending bytes go out first, then the peer sees the connection end.
    if (m_socket)
        m_socket->disconnectFromHost();
}

TcpServerLink::TcpServerLink(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* s = m_server->nextPendingConnection()) {
            s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            emit NewChannel(new SocketChannel(s, this));
        }
    });
}

bool TcpServerLink::Listen(quint16 port, QString* error)
{
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        *error = m_server->errorString();
        return false;
    }
    m_port = m_server->serverPort();
    return true;
}

void TcpServerLink::Stop()
{
    m_server->close();
    for (SocketChannel* c : findChildren<SocketChannel*>(Qt::FindDirectChildrenOnly))
        c->Close();
}

bool TcpServerLink::Resume()
{
    return m_server->isListening() || m_server->listen(QHostAddress::LocalHost, m_port);
}

TcpClientLink::TcpClientLink(const QString& host, quint16 port, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_port(port)
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(200);
    connect(&m_retry, &QTimer::timeout, this, &TcpClientLink::Attempt);
}

void TcpClientLink::Start()
{
    m_running = true;
    if (!m_channel && !m_socket)
        Attempt();
}

void TcpClientLink::Stop()
{
    m_running = false;
    m_retry.stop();
    if (m_channel) {
        m_channel->Close();
    } else if (m_socket) {
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
}

void TcpClientLink::Attempt()
{
    if (!m_running)
        return;
    auto* socket = new QTcpSocket(this);
    m_socket = socket;
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto* channel = new SocketChannel(socket, this);
        m_channel = channel;
        m_socket = nullptr;
        connect(channel, &Channel::Down, this, [this] {
            m_channel = nullptr;
            if (m_running)
                m_retry.start();
        });
        emit NewChannel(channel);
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
        // Failed attempts only: once connected the socket belongs to its channel, which reports the end.
        if (socket->parent() != this)
            return;
        if (m_socket == socket)
            m_socket = nullptr;
        socket->deleteLater();
        if (m_running)
            m_retry.start();
    });
    socket->connectToHost(m_host, m_port);
}

} // namespace ifbsim
