#pragma once
// The tool connects to the board (link mode 2, client role). A failed attempt is retried after a
// short pause; a connection the board closed (it does so whenever it reboots) is opened again by
// the engine when the next command is sent.
#include "comm/link.h"

#include <QTimer>

class QTcpSocket;

namespace nx7
{

class TcpClientLink : public Link
{
    Q_OBJECT
public:
    TcpClientLink(const QString& remoteAddress, int remotePort);
    ~TcpClientLink() override;

    bool Open() override;
    void Close() override;
    bool IsUp() const override;
    int Write(const std::uint8_t* bytes, int count) override;
    LinkKind Kind() const override { return LinkKind::Tcp; }
    bool ConnectsLater() const override { return true; }
    bool ReconnectsOnSend() const override { return true; }
    QString Describe() const override;

private:
    void OnRead();
    void OnError(int error);

    QString m_remoteAddress;
    int m_remotePort;
    QTcpSocket* m_socket;
    QTimer m_retry;
};

} // namespace nx7
