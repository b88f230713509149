#include "comm/link.h"

#include "comm/serial_link.h"
#include "comm/tcp_client_link.h"
#include "comm/tcp_server_link.h"

namespace nx7
{

namespace
{

// Link mode 1 and every unknown mode: nothing is opened and nothing is ever sent.
class NoLink : public Link
{
public:
    bool Open() override { return true; }
    void Close() override {}
    bool IsUp() const override { return false; }
    int Write(const std::uint8_t*, int) override { return 0; }
    QString Describe() const override { return QString(); }
};

} // namespace

std::unique_ptr<Link> MakeLink(const LinkSettings& settings)
{
    if (settings.linkMode == 0)
        return std::make_unique<SerialLink>(*settings.line, settings.settingsPath);
    if (settings.linkMode == 2) {
        if (settings.server)
            return std::make_unique<TcpServerLink>(settings.listenAddress, settings.listenPort,
                                                   settings.boardAddress);
        return std::make_unique<TcpClientLink>(settings.remoteAddress, settings.remotePort);
    }
    return std::make_unique<NoLink>();
}

} // namespace nx7
