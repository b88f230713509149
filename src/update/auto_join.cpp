#include "update/auto_join.h"

#ifdef NX7_HAVE_NETJOIN
#include "netjoin/ap_join.h"
#endif

namespace nx7
{

namespace
{

AutoJoinFactory& Override()
{
    static AutoJoinFactory factory;
    return factory;
}

#ifdef NX7_HAVE_NETJOIN
class NetworkManagerJoin : public AutoJoin
{
public:
    NetworkManagerJoin() = default;
    explicit NetworkManagerJoin(const QDBusConnection& bus)
        : m_joiner(bus)
    {
    }
    bool Available() override { return m_joiner.Available(); }

    AutoJoinResult Join(const QString& ssid, const QString& password, int timeoutMs,
                        const std::function<void(const QString&)>& progress,
                        const std::function<bool()>& abort) override
    {
        m_joiner.SetProgress([progress](netjoin::JoinState state) {
            if (progress)
                progress(netjoin::JoinProgressLine(state));
        });
        m_joiner.SetAbortCheck(abort);
        const netjoin::JoinResult r = m_joiner.TryJoin(ssid, password, timeoutMs);
        return AutoJoinResult{r.Ok(), r.detail, r.explanation};
    }

    void Restore() override { m_joiner.Restore(); }

private:
    netjoin::ApJoiner m_joiner;
};
#endif

} // namespace

QString AutoJoinMessage1()
{
#ifdef NX7_HAVE_NETJOIN
    return netjoin::AutoJoinMessage1();
#else
    return QString();
#endif
}

QString AutoJoinMessage2()
{
#ifdef NX7_HAVE_NETJOIN
    return netjoin::AutoJoinMessage2();
#else
    return QString();
#endif
}

void SetAutoJoinFactory(AutoJoinFactory factory)
{
    Override() = std::move(factory);
}

std::unique_ptr<AutoJoin> MakeNetworkManagerJoinOn(const QString& busAddress)
{
#ifdef NX7_HAVE_NETJOIN
    return std::make_unique<NetworkManagerJoin>(
        QDBusConnection::connectToBus(busAddress, QStringLiteral("nx7-network-manager")));
#else
    Q_UNUSED(busAddress);
    return nullptr;
#endif
}

std::unique_ptr<AutoJoin> MakeAutoJoin()
{
    if (Override())
        return Override()();
#ifdef NX7_HAVE_NETJOIN
    return std::make_unique<NetworkManagerJoin>();
#else
    return nullptr;
#endif
}

} // namespace nx7
