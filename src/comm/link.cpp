#include "comm/link.h"

#include "comm/tcp_client_link.h"
#include "comm/tcp_server_link.h"

#ifdef Q_OS_WIN
#include "comm/win_serial_link.h"
#else
#include "comm/serial_link.h"
#endif

namespace nx7
{

namespace
{

#ifdef Q_OS_WIN
using PlatformSerialLink = WinSerialLink;
#else
using PlatformSerialLink = SerialLink;
#endif

// Link mode 1 and every unknown mode: nothing is opened and nothing is ever sent.
class NoLink : public Link
{
public:
    bool Open() override { return true; }
    void Close() override {}
    bool IsUp() const override { return false; }
    int Write(const std::uint8_t*, int) override { return 0; }
    LinkKind Kind() const override { return LinkKind::None; }
    QString Describe() const override { return QString(); }
};

} // namespace

LinkKind LinkKindOf(int linkMode)
{
    if (linkMode == 0)
        return LinkKind::Serial;
    return linkMode == 2 ? LinkKind::Tcp : LinkKind::None;
}

int LinkModeOf(LinkKind kind)
{
    if (kind == LinkKind::Serial)
        return 0;
    return kind == LinkKind::Tcp ? 2 : 1;
}

std::unique_ptr<Link> MakeLink(const LinkSettings& settings)
{
    if (settings.kind == LinkKind::Serial)
        return std::make_unique<PlatformSerialLink>(settings.line, settings.settingsPath);
    if (settings.kind == LinkKind::Tcp) {
        if (settings.server)
            return std::make_unique<TcpServerLink>(settings.listenAddress, settings.listenPort,
                                                   settings.boardAddress);
        return std::make_unique<TcpClientLink>(settings.remoteAddress, settings.remotePort);
    }
    return std::make_unique<NoLink>();
}

} // namespace nx7
