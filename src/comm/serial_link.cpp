#include "comm/serial_link.h"

#include "comm/engine.h"
#include "platform/com_names.h"
#include "platform/event_wait.h"
#include "platform/ini_file.h"

#include <QDeadlineTimer>
#include <QSerialPort>

namespace nx7
{

namespace
{

QSerialPort::Parity QtParity(Parity parity)
{
    switch (parity) {
    case Parity::Odd:
        return QSerialPort::OddParity;
    case Parity::Even:
        return QSerialPort::EvenParity;
    case Parity::Mark:
        return QSerialPort::MarkParity;
    case Parity::Space:
        return QSerialPort::SpaceParity;
    case Parity::None:
        break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits QtStopBits(StopBits bits)
{
    switch (bits) {
    case StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case StopBits::Two:
        return QSerialPort::TwoStop;
    case StopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

QSerialPort::FlowControl QtFlow(FlowControl flow)
{
    switch (flow) {
    case FlowControl::Hardware:
        return QSerialPort::HardwareControl;
    case FlowControl::Software:
        return QSerialPort::SoftwareControl;
    case FlowControl::None:
        break;
    }
    return QSerialPort::NoFlowControl;
}

} // namespace

template <typename F> void SerialLink::Quietly(F&& call)
{
    m_suppressErrors = true;
    call();
    m_port->clearError();
    m_suppressErrors = false;
}

SerialLink::SerialLink(const SerialLine& line, const QString& settingsPath)
    : m_line(line)
    , m_settingsPath(settingsPath)
    , m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, &SerialLink::OnReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { OnError(static_cast<int>(e)); });
}

SerialLink::~SerialLink()
{
    // Its last signals must not reach a half-destroyed owner.
    QObject::disconnect(m_port, nullptr, this, nullptr);
}

bool SerialLink::Open()
{
    m_device = DeviceOfComName(m_line.comName, m_settingsPath);
    if (m_device.isEmpty())
        return false;
    m_port->setPortName(m_device);
    m_port->setBaudRate(m_line.baudRate);
    m_port->setDataBits(static_cast<QSerialPort::DataBits>(m_line.dataBits));
    m_port->setParity(QtParity(m_line.parity));
    m_port->setStopBits(QtStopBits(m_line.stopBits));
    m_port->setFlowControl(QtFlow(m_line.flow));
    m_suppressErrors = true;
    const bool ok = m_port->open(QIODevice::ReadWrite);
    m_port->clearError();
    m_suppressErrors = false;
    if (!ok)
        return false;
    // Both lines are held off; with hardware flow control the driver owns RTS.
    Quietly([this] { m_port->setDataTerminalReady(false); });
    if (m_line.flow != FlowControl::Hardware)
        Quietly([this] { m_port->setRequestToSend(false); });
    return true;
}

void SerialLink::Close()
{
    if (m_port->isOpen())
        Quietly([this] { m_port->close(); });
}

bool SerialLink::IsUp() const
{
    return m_port->isOpen();
}

void SerialLink::ReadSettings(const IniFile& ini)
{
    ReadComDebugLine(ini, m_line);
}

void SerialLink::WriteSettings(IniFile& ini) const
{
    WriteComDebugLine(ini, m_line);
}

QString SerialLink::DeviceText() const
{
    if (m_device.isEmpty() || m_device == m_line.comName)
        return m_line.comName;
    return m_line.comName + QStringLiteral(" (") + m_device + QLatin1Char(')');
}

void SerialLink::OnReadyRead()
{
    const qint64 count = m_port->bytesAvailable();
    if (count > 0)
        emit Received(m_port->read(count));
}

void SerialLink::OnError(int error)
{
    if (m_suppressErrors || m_lossPending)
        return;
    switch (static_cast<QSerialPort::SerialPortError>(error)) {
    case QSerialPort::WriteError:
        emit Trace(ComErrorText(ComIo), false);
        return;
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
        break;
    default:
        return; // open failures are reported by the open; time-outs belong to the waits
    }
    emit Trace(ComErrorText(ComIo), false);
    // Said at once and whatever the trace switches: the long waits that follow need a cause.
    emit Trace(QStringLiteral("ポート ") + DeviceText() + QStringLiteral(" との接続が切れました"), true);
    // A tty that fails to read is gone (unplugged, hung up) and would report the same error on
    // every pass of the event loop: close it, so the link reads as down and can be reopened.
    m_lossPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_lossPending = false;
            Close();
            emit ConnectionChanged(false);
        },
        Qt::QueuedConnection);
}

int SerialLink::Write(const std::uint8_t* bytes, int count)
{
    if (!m_port->isOpen())
        return 0;
    QSerialPort& port = *m_port;
    if (port.write(reinterpret_cast<const char*>(bytes), count) < 0)
        return 0;
    // The write blocks until the bytes are out or the line's write time-out has passed.
    QDeadlineTimer deadline(100LL * count + 1000);
    while (port.isOpen() && port.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!port.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
            break;
    }
    if (!port.isOpen())
        return 0;
    const qint64 left = port.bytesToWrite();
    if (left > 0)
        port.clear(QSerialPort::Output); // what the time-out cut off is not sent later
    return count - static_cast<int>(left);
}

void SerialLink::ResetPulse()
{
    if (!m_port->isOpen())
        return;
    QSerialPort& port = *m_port;
    Quietly([&port] { port.setRequestToSend(true); });
    Quietly([&port] { port.setDataTerminalReady(true); });
    Quietly([&port] { port.setDataTerminalReady(false); });
    PumpSleep(100);
    if (port.isOpen())
        Quietly([&port] { port.setDataTerminalReady(true); });
}

} // namespace nx7
