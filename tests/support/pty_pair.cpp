#include "support/pty_pair.h"

#include "platform/ini_file.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace nx7::test
{

PtyPair::PtyPair()
{
    char name[256] = {};
    termios tio{};
    cfmakeraw(&tio);
    if (openpty(&m_master, &m_slave, name, &tio, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyPair::Write(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray PtyPair::Read(int waitMs)
{
    QByteArray out;
    pollfd p{m_master, POLLIN, 0};
    while (::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN)) {
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
        waitMs = 20; // drain what follows closely
    }
    return out;
}

bool PinPort(const QString& iniPath, int number, const QString& devicePath)
{
    IniFile ini;
    if (!ini.Load(iniPath))
        return false;
    ini.WriteString(QStringLiteral("PortMap"), QStringLiteral("COM%1").arg(number), devicePath);
    return ini.Save(iniPath);
}

} // namespace nx7::test
