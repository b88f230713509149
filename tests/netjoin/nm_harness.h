#pragma once
// A NetworkManager stand-in (python3-dbusmock's template plus tests/netjoin/nm_stand_in.py) on a
// private bus that the test starts itself: the machine's own buses are never touched.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QVariantList>
#include <memory>

namespace nx7::test
{

class PrivateNetworkManager
{
public:
    // Starts the private bus (once per test program). Returns why tests must be skipped, empty
    // when the bus is up: dbus-daemon or python3-dbusmock may be missing.
    static QString StartBus();
    static void StopBus();
    // The bus's address, for programs started by the test (DBUS_SYSTEM_BUS_ADDRESS).
    static QString Address();
    // The test's own connection to it.
    static QDBusConnection Bus();

    ~PrivateNetworkManager();
    // Starts (or restarts) the stand-in with the template's parameters as JSON; empty on success,
    // else what went wrong.
    QString Start(const QString& parameters = QStringLiteral("{}"));
    void Stop();

    // The stand-in's own methods (SetPermission, SetJoinMode, LastJoin, DeviceConnection).
    static QDBusMessage Mock(const QString& method, const QVariantList& args = {});
    static QString MockText(const QString& method);

private:
    std::unique_ptr<QProcess> m_standIn;
};

} // namespace nx7::test
