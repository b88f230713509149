#pragma once
// The tool listens and the board connects (link mode 2, server role). One board at a time: while
// a peer is connected a second connection is refused and its address logged.
#include "comm/link.h"

#include <QPointer>
#include <QTcpSocket>

class QTcpServer;

namespace nx7
{

class TcpServerLink : public Link
{
    Q_OBJECT
public:
    TcpServerLink(const QString& listenAddress, int listenPort);
    ~TcpServerLink() override;

    bool Open() override;
    void Close() override;
    bool IsUp() const override;
    int Write(const std::uint8_t* bytes, int count) override;
    QString Describe() const override;
    int ActiveConnections() const override { return m_peer ? 1 : 0; }

private:
    void OnNewConnection();
    void OnPeerRead();
    void OnPeerGone();

    QString m_listenAddress;
    int m_listenPort;
    QTcpServer* m_server;
    QPointer<QTcpSocket> m_peer;
};

} // namespace nx7
