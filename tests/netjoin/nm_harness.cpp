#include "nm_harness.h"

#include "support/wait_until.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace nx7::test
{
namespace
{

const QString kNm = QStringLiteral("org.freedesktop.NetworkManager");
const QString kBusName = QStringLiteral("nx7-join-test");

QString StandInTemplate()
{
    return QStringLiteral(NX7_SOURCE_DIR "/tests/netjoin/nm_stand_in.py");
}

// A python that has dbusmock: the system's own first (a user's python may lack Debian's modules).
QString FindPython()
{
    QStringList candidates{QStringLiteral("/usr/bin/python3")};
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (!onPath.isEmpty())
        candidates << onPath;
    for (const QString& python : candidates) {
        if (!QFile::exists(python))
            continue;
        QProcess probe;
        probe.start(python, {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
        if (probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0)
            return python;
    }
    return {};
}

// A bus of our own: no service files, so nothing is ever started on it by name.
const char* kBusConfig = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

void StopProcess(QProcess* p)
{
    if (!p || p->state() == QProcess::NotRunning)
        return;
    p->terminate();
    if (!p->waitForFinished(5000)) {
        p->kill();
        p->waitForFinished(5000);
    }
}

struct BusState {
    QString python;
    QString address;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QProcess> daemon;
};

BusState& State()
{
    static BusState state;
    return state;
}

} // namespace

QString PrivateNetworkManager::StartBus()
{
    BusState& s = State();
    if (!s.address.isEmpty())
        return {};
    s.python = FindPython();
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty() || s.python.isEmpty())
        return QStringLiteral("needs dbus-daemon and python3-dbusmock (Debian packages dbus-daemon, "
                              "python3-dbusmock)");
    s.dir = std::make_unique<QTemporaryDir>();
    const QString config = s.dir->filePath(QStringLiteral("bus.conf"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write the bus configuration");
    f.write(QString::fromLatin1(kBusConfig).arg(s.dir->path()).toUtf8());
    f.close();
    s.daemon = std::make_unique<QProcess>();
    s.daemon->start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address=1"),
                             QStringLiteral("--nofork"), QStringLiteral("--nopidfile")});
    QDeadlineTimer deadline(10000);
    while (!s.daemon->canReadLine() && !deadline.hasExpired() && s.daemon->state() != QProcess::NotRunning)
        s.daemon->waitForReadyRead(100);
    s.address = QString::fromUtf8(s.daemon->readLine()).trimmed();
    if (s.address.isEmpty()) {
        const QString why = QStringLiteral("the private bus did not start: ") +
                            QString::fromLocal8Bit(s.daemon->readAllStandardError());
        StopProcess(s.daemon.get());
        return why;
    }
    QDBusConnection::connectToBus(s.address, kBusName);
    return {};
}

void PrivateNetworkManager::StopBus()
{
    BusState& s = State();
    QDBusConnection::disconnectFromBus(kBusName);
    StopProcess(s.daemon.get());
    s.daemon.reset();
    s.dir.reset();
    s.address.clear();
}

QString PrivateNetworkManager::Address()
{
    return State().address;
}

QDBusConnection PrivateNetworkManager::Bus()
{
    return QDBusConnection(kBusName);
}

PrivateNetworkManager::~PrivateNetworkManager()
{
    Stop();
}

QString PrivateNetworkManager::Start(const QString& parameters)
{
    Stop();
    m_standIn = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Both addresses point at the private bus, so nothing can reach the machine's own.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Address());
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), Address());
    m_standIn->setProcessEnvironment(env);
    m_standIn->setStandardOutputFile(QProcess::nullDevice());
    m_standIn->start(State().python, {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                      QStringLiteral("--session"), QStringLiteral("--template"),
                                      StandInTemplate(), QStringLiteral("--parameters"), parameters});
    WaitUntil(
        [this] {
            return Bus().interface()->isServiceRegistered(kNm).value() ||
                   m_standIn->state() == QProcess::NotRunning;
        },
        20000);
    if (Bus().interface()->isServiceRegistered(kNm).value())
        return {};
    return QStringLiteral("stand-in did not come up: ") +
           QString::fromLocal8Bit(m_standIn->readAllStandardError());
}

void PrivateNetworkManager::Stop()
{
    StopProcess(m_standIn.get());
    m_standIn.reset();
    WaitUntil([] { return !Bus().isConnected() || !Bus().interface()->isServiceRegistered(kNm).value(); });
}

QDBusMessage PrivateNetworkManager::Mock(const QString& method, const QVariantList& args)
{
    QDBusMessage msg = QDBusMessage::createMethodCall(kNm, QStringLiteral("/org/freedesktop"),
                                                      QStringLiteral("org.freedesktop.DBus.Mock"), method);
    msg.setArguments(args);
    const QDBusMessage reply = Bus().call(msg, QDBus::Block, 10000);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
        << method.toStdString() << ": " << reply.errorMessage().toStdString();
    return reply;
}

QString PrivateNetworkManager::MockText(const QString& method)
{
    const QDBusMessage reply = Mock(method);
    return reply.arguments().isEmpty() ? QString() : reply.arguments().constFirst().toString();
}

} // namespace nx7::test
