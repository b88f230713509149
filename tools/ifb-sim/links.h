#pragma once
// The simulator's links to the tool: a pseudo-terminal it owns, a TCP server on 127.0.0.1, or a
// TCP client that keeps trying to reach the tool. Each connection is one Channel.
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace ifbsim
{

// One byte stream to the tool. Writes never block: what the peer does not take yet is queued.
class Channel : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool IsUp() const = 0;
    virtual void Write(const QByteArray& bytes) = 0;
    virtual QString Describe() const = 0;

signals:
    void Received(const QByteArray& bytes);
    void Up();
    void Down();
};

class PtyChannel : public Channel
{
    Q_OBJECT
public:
    explicit PtyChannel(QObject* parent = nullptr);
    ~PtyChannel() override;
    bool Open(QString* error);
    QString SlavePath() const { return m_slavePath; }
    bool IsUp() const override { return m_master >= 0 && !m_muted; }
    void Write(const QByteArray& bytes) override;
    QString Describe() const override { return QStringLiteral("pty ") + m_slavePath; }
    // A pseudo-terminal cannot hang up while we hold its slave: a dropped link just goes quiet.
    void SetMuted(bool muted);

private:
    void OnReadable();
    void OnWritable();

    int m_master = -1;
    int m_slave = -1; // held open so the master never sees a hang-up while the tool reopens the port
    QString m_slavePath;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QByteArray m_pending;
    bool m_muted = false;
};

class SocketChannel : public Channel
{
    Q_OBJECT
public:
    SocketChannel(QTcpSocket* socket, QObject* parent);
    bool IsUp() const override;
    void Write(const QByteArray& bytes) override;
    QString Describe() const override;
    void Close();

private:
    QPointer<QTcpSocket> m_socket;
};

// Listens on 127.0.0.1; every accepted connection becomes a channel.
class TcpServerLink : public QObject
{
    Q_OBJECT
public:
    explicit TcpServerLink(QObject* parent = nullptr);
    bool Listen(quint16 port, QString* error);
    quint16 Port() const { return m_port; }
    void Stop();   // closes the server and every connection
    bool Resume(); // listens again on the same port

signals:
    void NewChannel(ifbsim::Channel* channel);

private:
    QTcpServer* m_server;
    quint16 m_port = 0;
};

// Connects to the tool, retrying until it is reached, and again whenever the connection ends.
class TcpClientLink : public QObject
{
    Q_OBJECT
public:
    TcpClientLink(const QString& host, quint16 port, QObject* parent = nullptr);
    void Start();
    void Stop(); // closes and stops retrying until Start()

signals:
    void NewChannel(ifbsim::Channel* channel);

private:
    void Attempt();

    QString m_host;
    quint16 m_port;
    QTimer m_retry;
    QPointer<QTcpSocket> m_socket;
    QPointer<SocketChannel> m_channel;
    bool m_running = false;
};

} // namespace ifbsim
