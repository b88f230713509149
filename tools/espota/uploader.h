#pragma once
// The PC side of an OTA upload: invitation, password challenge, waiting for the board to connect
// back, stop-and-wait transfer and the board's final answer.
#include "comm/product.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QUdpSocket;

namespace nx7::espota
{

class ConsoleLog;

struct UploadOptions {
    QString ip;                            // the board, as given
    QString hostIp;                        // local address to use; empty: any
    quint16 port = nx7::product::kOtaPort; // the board's OTA port
    quint16 hostPort = 0;                  // local TCP port; 0: random in 10000..60000
    QByteArray password;
    QString file; // as given
    bool spiffs = false;
    bool progressBar = false;
    int timeoutMs = 10000;
    QByteArray md5Target; // announced instead of the file's own MD5 when set
};

class Uploader
{
public:
    Uploader(UploadOptions options, ConsoleLog& log);
    ~Uploader();
    // Runs the whole upload; the exit code (0 success, 1 failure).
    int Run();

private:
    int Fail(const QString& text);
    bool Resolve(const QString& name, QHostAddress* out);
    bool Listen(QTcpServer& server, const QHostAddress& local);
    std::unique_ptr<QUdpSocket> Invite(const QByteArray& invitation, QByteArray* answer);
    bool ReceiveDatagram(QUdpSocket& udp, QByteArray* data);
    int Transfer(QTcpSocket& conn);
    // Takes what arrived: leading counts are consumed, anything else is the board's final text.
    void Absorb(QTcpSocket& conn);
    void ShowProgress(qint64 sent);

    UploadOptions m_opt;
    ConsoleLog& m_log;
    QByteArray m_data;
    QHostAddress m_target;
    QHostAddress m_local;
    bool m_countsSeen = false;
    QByteArray m_text; // non-count answer of the board
    int m_lastPercent = -1;
    int m_nextMark = 0;
};

} // namespace nx7::espota
