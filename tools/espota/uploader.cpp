#include "uploader.h"

#include "console_log.h"
#include "ota/ota_auth.h"
#include "ota/ota_protocol.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <utility>

namespace nx7::espota
{

namespace
{

constexpr int kInvitationTries = 10;
constexpr qint64 kChunk = 1024;
using ota::kCommandFileSystem;
using ota::kCommandFlash;
constexpr int kBarCells = 60;
constexpr int kListenTries = 10;

// The board's text for a log line: printable, without the trailing line break.
QString Shown(const QByteArray& text)
{
    QString s = QString::fromLatin1(text.trimmed());
    for (QChar& c : s) {
        if (c.unicode() < 0x20 || c.unicode() >= 0x7F)
            c = QLatin1Char('?');
    }
    return s.left(200);
}

int Remaining(const QDeadlineTimer& d)
{
    return static_cast<int>(qMax<qint64>(0, d.remainingTime()));
}

} // namespace

Uploader::Uploader(UploadOptions options, ConsoleLog& log)
    : m_opt(std::move(options))
    , m_log(log)
{
}

Uploader::~Uploader() = default;

int Uploader::Fail(const QString& text)
{
    m_log.Error(text);
    return 1;
}

int Uploader::Run()
{
    QFile file(m_opt.file);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(QStringLiteral("Cannot read %1: %2").arg(m_opt.file, file.errorString()));
    m_data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Fail(QStringLiteral("Cannot read %1: %2").arg(m_opt.file, file.errorString()));
    file.close();
    if (m_data.isEmpty())
        return Fail(QStringLiteral("The file %1 is empty").arg(m_opt.file));

    if (!Resolve(m_opt.ip, &m_target))
        return Fail(QStringLiteral("Host %1 Not Found").arg(m_opt.ip));
    m_local = QHostAddress(QHostAddress::Any);
    if (!m_opt.hostIp.isEmpty() && !Resolve(m_opt.hostIp, &m_local))
        return Fail(QStringLiteral("Host %1 Not Found").arg(m_opt.hostIp));

    // The listening socket comes first, so the board can connect back as soon as it agrees.
    QTcpServer server;
    if (!Listen(server, m_local))
        return Fail(QStringLiteral("Listen Failed: %1").arg(server.errorString()));
    m_log.Info(QStringLiteral("Starting on %1:%2")
                   .arg(m_opt.hostIp.isEmpty() ? QStringLiteral("0.0.0.0") : m_local.toString())
                   .arg(server.serverPort()));
    m_log.Info(QStringLiteral("Upload size: %1").arg(m_data.size()));

    const QByteArray md5 = m_opt.md5Target.isEmpty() ? ota::Md5Hex(m_data) : m_opt.md5Target;
    const QByteArray invitation = QByteArray::number(m_opt.spiffs ? kCommandFileSystem : kCommandFlash) +
                                  ' ' + QByteArray::number(server.serverPort()) + ' ' +
                                  QByteArray::number(m_data.size()) + ' ' + md5 + '\n';
    m_log.Debug(QStringLiteral("Invitation: %1").arg(Shown(invitation)));

    bool md5PasswordHash = false;
    for (;;) {
        QByteArray answer;
        std::unique_ptr<QUdpSocket> udp = Invite(invitation, &answer);
        if (!udp)
            return Fail(QStringLiteral("No response from the ESP"));
        m_log.Debug(QStringLiteral("Answer: %1").arg(Shown(answer)));
        if (answer.trimmed() == "OK")
            break;
        if (!answer.startsWith("AUTH "))
            return Fail(QStringLiteral("Bad Answer: %1").arg(Shown(answer)));
        const QByteArray nonce = answer.mid(5).trimmed();
        const std::optional<ota::AuthScheme> scheme = ota::SchemeOfNonce(nonce);
        if (!scheme)
            return Fail(QStringLiteral("Bad Answer: %1").arg(Shown(answer)));
        const QByteArray cnonce =
            ota::MakeCnonce(*scheme, m_opt.file.toUtf8(), m_data.size(), md5, m_opt.ip.toUtf8());
        const QByteArray response = ota::ResponseFor(*scheme, m_opt.password, nonce, cnonce, md5PasswordHash);
        m_log.Begin(QStringLiteral("Authenticating..."));
        udp->writeDatagram(QByteArray::number(ota::kCommandAuth) + ' ' + cnonce + ' ' + response + '\n',
                           m_target, m_opt.port);
        QByteArray reply;
        if (!ReceiveDatagram(*udp, &reply)) {
            m_log.Append(QStringLiteral("FAIL\n"), false);
            return Fail(QStringLiteral("No Answer to our Authentication"));
        }
        if (reply.trimmed() == "OK") {
            m_log.Append(QStringLiteral("OK\n"), false);
            break;
        }
        m_log.Append(QStringLiteral("FAIL\n"), false);
        m_log.Debug(QStringLiteral("Authentication answer: %1").arg(Shown(reply)));
        // Boards of the newer kind that keep the older password hash: one more try with it.
        if (*scheme == ota::AuthScheme::Sha256 && !md5PasswordHash) {
            md5PasswordHash = true;
            m_log.Info(QStringLiteral("Retrying with the MD5 password hash"));
            continue;
        }
        return Fail(QStringLiteral("Authentication Failed"));
    }

    m_log.Info(QStringLiteral("Waiting for device..."));
    if (!server.waitForNewConnection(m_opt.timeoutMs))
        return Fail(QStringLiteral("No response from device"));
    std::unique_ptr<QTcpSocket> conn(server.nextPendingConnection());
    server.close();
    if (!conn)
        return Fail(QStringLiteral("No response from device"));
    // Stop-and-wait with small chunks: waiting for coalescing would cost a round trip per chunk.
    conn->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return Transfer(*conn);
}

bool Uploader::Resolve(const QString& name, QHostAddress* out)
{
    if (out->setAddress(name))
        return true;
    // The system's resolver may take long without a network: the lookup gets the usual bound.
    QEventLoop loop;
    QHostInfo result;
    bool done = false;
    QObject context;
    const int id = QHostInfo::lookupHost(name, &context, [&](const QHostInfo& info) {
        result = info;
        done = true;
        loop.quit();
    });
    QTimer::singleShot(m_opt.timeoutMs, &loop, &QEventLoop::quit);
    if (!done)
        loop.exec();
    if (!done) {
        QHostInfo::abortHostLookup(id);
        return false;
    }
    if (result.error() != QHostInfo::NoError || result.addresses().isEmpty())
        return false;
    for (const QHostAddress& a : result.addresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            *out = a;
            return true;
        }
    }
    *out = result.addresses().first();
    return true;
}

bool Uploader::Listen(QTcpServer& server, const QHostAddress& local)
{
    if (m_opt.hostPort != 0)
        return server.listen(local, m_opt.hostPort);
    // A random port may be taken: a few more draws before giving up.
    for (int i = 0; i < kListenTries; ++i) {
        const auto port = static_cast<quint16>(QRandomGenerator::global()->bounded(10000, 60001));
        if (server.listen(local, port))
            return true;
        if (server.serverError() != QAbstractSocket::AddressInUseError)
            return false;
    }
    return false;
}

std::unique_ptr<QUdpSocket> Uploader::Invite(const QByteArray& invitation, QByteArray* answer)
{
    m_log.Begin(QStringLiteral("Sending invitation to %1 ").arg(m_opt.ip));
    for (int i = 0; i < kInvitationTries; ++i) {
        auto udp = std::make_unique<QUdpSocket>();
        if (!m_opt.hostIp.isEmpty())
            udp->bind(m_local, 0);
        const bool sent = udp->writeDatagram(invitation, m_target, m_opt.port) >= 0;
        if (!sent)
            m_log.Debug(QStringLiteral("Invitation not sent: %1").arg(udp->errorString()));
        if (sent && ReceiveDatagram(*udp, answer)) {
            m_log.EndLine();
            return udp;
        }
        m_log.Append(QStringLiteral("."));
    }
    m_log.EndLine();
    return nullptr;
}

bool Uploader::ReceiveDatagram(QUdpSocket& udp, QByteArray* data)
{
    const QDeadlineTimer deadline(m_opt.timeoutMs);
    for (;;) {
        while (udp.hasPendingDatagrams()) {
            const QNetworkDatagram d = udp.receiveDatagram();
            if (d.isValid()) {
                *data = d.data();
                return true;
            }
        }
        if (deadline.hasExpired())
            return false;
        if (!udp.waitForReadyRead(Remaining(deadline)) &&
            udp.error() != QAbstractSocket::SocketTimeoutError && !udp.hasPendingDatagrams())
            return false; // a socket error is a missed answer, not a reason to spin
    }
}

void Uploader::Absorb(QTcpSocket& conn)
{
    const QByteArray in = conn.readAll();
    for (char c : in) {
        if (m_text.isEmpty() && c >= '0' && c <= '9')
            m_countsSeen = true;
        else
            m_text.append(c);
    }
}

void Uploader::ShowProgress(qint64 sent)
{
    const int percent = static_cast<int>(sent * 100 / m_data.size());
    if (m_opt.progressBar) {
        if (percent == m_lastPercent)
            return;
        m_lastPercent = percent;
        const int cells = percent * kBarCells / 100;
        QString bar = QStringLiteral("\rUploading: [") + QString(cells, QLatin1Char('=')) +
                      QString(kBarCells - cells, QLatin1Char(' ')) + QStringLiteral("] %1% ").arg(percent);
        if (percent == 100)
            bar += QStringLiteral("Done...\r\n");
        m_log.Append(bar, percent != 100);
        return;
    }
    while (m_nextMark <= percent) {
        m_log.Append(QStringLiteral("Uploading: %1%\n").arg(m_nextMark), false);
        m_nextMark += 10;
    }
}

int Uploader::Transfer(QTcpSocket& conn)
{
    QElapsedTimer clock;
    clock.start();
    const qint64 size = m_data.size();
    qint64 sent = 0;
    auto boardEnded = [&]() {
        // The board closed or gave up: its own words say best why.
        Absorb(conn);
        if (!m_text.isEmpty())
            return Fail(QStringLiteral("Error Uploading: %1").arg(Shown(m_text)));
        return Fail(QStringLiteral("Error Uploading: connection closed by the device after %1 of %2 bytes")
                        .arg(sent)
                        .arg(size));
    };

    ShowProgress(0);
    while (sent < size) {
        const qint64 n = qMin(kChunk, size - sent);
        if (conn.write(m_data.constData() + sent, n) != n)
            return boardEnded();
        const QDeadlineTimer writeDeadline(m_opt.timeoutMs);
        while (conn.bytesToWrite() > 0) {
            if (!conn.waitForBytesWritten(Remaining(writeDeadline))) {
                if (conn.state() != QAbstractSocket::ConnectedState)
                    return boardEnded();
                return Fail(QStringLiteral("Error Uploading: timed out sending to the device"));
            }
        }
        sent += n;
        ShowProgress(sent);
        if (sent == size)
            break;

        // Stop and wait: any count (or several run together) lets the next chunk go.
        m_countsSeen = false;
        const QDeadlineTimer deadline(m_opt.timeoutMs);
        for (;;) {
            Absorb(conn);
            if (!m_text.isEmpty()) {
                // A text before the end is the board giving up; let the rest of it arrive.
                const QDeadlineTimer rest(qMin(m_opt.timeoutMs, 1000));
                while (!m_text.endsWith("\r\n") && conn.state() == QAbstractSocket::ConnectedState &&
                       conn.waitForReadyRead(Remaining(rest)))
                    Absorb(conn);
                return boardEnded();
            }
            if (m_countsSeen)
                break;
            if (!conn.waitForReadyRead(Remaining(deadline))) {
                if (conn.state() != QAbstractSocket::ConnectedState || conn.bytesAvailable() > 0)
                    return boardEnded();
                return Fail(QStringLiteral("Error Uploading: no answer from the device after %1 of %2 bytes")
                                .arg(sent)
                                .arg(size));
            }
        }
    }
    m_log.Debug(QStringLiteral("Sent %1 bytes in %2 ms").arg(size).arg(clock.elapsed()));

    m_log.Info(QStringLiteral("Waiting for result..."));
    const QDeadlineTimer deadline(m_opt.timeoutMs);
    for (;;) {
        Absorb(conn);
        if (m_text.startsWith("OK")) {
            m_log.Info(QStringLiteral("Result: OK"));
            return 0;
        }
        if (m_text.endsWith("\r\n"))
            return Fail(QStringLiteral("Error Uploading: %1").arg(Shown(m_text)));
        if (!conn.waitForReadyRead(Remaining(deadline))) {
            Absorb(conn);
            if (m_text.startsWith("OK")) {
                m_log.Info(QStringLiteral("Result: OK"));
                return 0;
            }
            if (!m_text.isEmpty())
                return Fail(QStringLiteral("Error Uploading: %1").arg(Shown(m_text)));
            if (conn.state() != QAbstractSocket::ConnectedState)
                return Fail(
                    QStringLiteral("Error Uploading: the device closed the connection without a result"));
            return Fail(QStringLiteral("Error Uploading: no result from the device"));
        }
    }
}

} // namespace nx7::espota
