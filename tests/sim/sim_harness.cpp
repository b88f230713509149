#include "sim_harness.h"

#include <QElapsedTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace simtest
{

QByteArray Request(const QByteArray& data)
{
    const auto* d = reinterpret_cast<const std::uint8_t*>(data.constData());
    const std::vector<std::uint8_t> f =
        nx7::codec::BuildFrame(0, nx7::codec::kIfbCommand, {d, d + data.size()});
    return QByteArray(reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size()));
}

QByteArray Request(std::initializer_list<std::uint8_t> data)
{
    return Request(
        QByteArray(reinterpret_cast<const char*>(data.begin()), static_cast<qsizetype>(data.size())));
}

QString Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QByteArray FromHex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

PtyPeer::PtyPeer(const QString& slavePath)
{
    m_fd = ::open(slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0)
        return;
    termios tio{};
    tcgetattr(m_fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_fd, TCSANOW, &tio);
}

PtyPeer::~PtyPeer()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PtyPeer::Write(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EAGAIN) {
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        if (n < 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray PtyPeer::Read(int waitMs)
{
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0 || !(p.revents & POLLIN))
        return {};
    char buf[4096];
    const ssize_t n = ::read(m_fd, buf, sizeof buf);
    return n > 0 ? QByteArray(buf, static_cast<qsizetype>(n)) : QByteArray();
}

bool SocketPeer::Write(const QByteArray& bytes)
{
    if (m_socket->write(bytes) != bytes.size())
        return false;
    return m_socket->waitForBytesWritten(1000) || m_socket->bytesToWrite() == 0;
}

QByteArray SocketPeer::Read(int waitMs)
{
    if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(waitMs))
        return {};
    return m_socket->readAll();
}

Conversation::Conversation(Peer& peer)
    : m_peer(peer)
    , m_assembler(std::make_unique<nx7::codec::FrameAssembler>())
{
}

void Conversation::Clear()
{
    frames.clear();
    badFrames.clear();
    chunks.clear();
    raw.clear();
}

QByteArray Conversation::Ask(const QByteArray& request, int waitMs)
{
    Clear();
    m_assembler->DropPartialFrame();
    if (!m_peer.Write(request))
        return {};
    WaitFrames(1, waitMs);
    return frames.empty() ? QByteArray() : frames.front();
}

bool Conversation::WaitFrames(std::size_t count, int waitMs)
{
    QElapsedTimer t;
    t.start();
    while (frames.size() + badFrames.size() < count) {
        const int left = waitMs - static_cast<int>(t.elapsed());
        if (left <= 0)
            return false;
        const QByteArray chunk = m_peer.Read(left);
        if (chunk.isEmpty())
            continue;
        chunks.push_back(chunk);
        raw += chunk;
        m_assembler->AppendReceived(reinterpret_cast<const std::uint8_t*>(chunk.constData()),
                                    static_cast<std::size_t>(chunk.size()));
        m_assembler->Assemble(*this, false);
    }
    return true;
}

void Conversation::OnValidFrame(const std::uint8_t* frame, int length)
{
    frames.emplace_back(reinterpret_cast<const char*>(frame), length);
}

void Conversation::OnChecksumError(const std::uint8_t* frame, int length)
{
    badFrames.emplace_back(reinterpret_cast<const char*>(frame), length);
}

} // namespace simtest
