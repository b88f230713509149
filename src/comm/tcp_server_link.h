#pragma once
// The tool listens and the board connects (link mode 2, server role). One board at a time: while
// a peer is connected a second connection is refused and its address logged. When the board's
// address is known, only the board is accepted, and the tool listens on the adapter of the board's
// network only (where the PC has one).
#include "comm/link.h"

#include <QPointer>
#include <QString>
#include <QTcpSocket>

class QTcpServer;

namespace nx7
{

class TcpServerLink : public Link
{
    Q_OBJECT
public:
    // `listenAddress` empty: chosen by the board's network. `boardAddress`: see LinkSettings.
    TcpServerLink(const QString& listenAddress, int listenPort, std::uint32_t boardAddress = 0);
    ~TcpServerLink() override;

    bool Open() override;
    void Close() override;
    bool IsUp() const override;
    int Write(const std::uint8_t* bytes, int count) override;
    LinkKind Kind() const override { return LinkKind::Tcp; }
    bool ConnectsLater() const override { return true; }
    QString Describe() const override;
    int ActiveConnections() const override { return m_peer ? 1 : 0; }

private:
    void OnNewConnection();
    void OnPeerRead();
    void OnPeerGone();

    QString m_listenAddress;
    int m_listenPort;
    QString m_board; // dotted; empty: any peer
    QTcpServer* m_server;
    QPointer<QTcpSocket> m_peer;
};

} // namespace nx7
