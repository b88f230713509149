#include "platform/com_names_system.h"

#include <QRegularExpression>
#include <QSerialPortInfo>

namespace nx7
{

int ComNumberOfDevice(const QString& devicePath)
{
    static const QRegularExpression re(QStringLiteral("^/dev/tty(S|USB|ACM)([0-9]+)$"));
    const auto match = re.match(devicePath);
    if (!match.hasMatch())
        return 0;
    bool ok = false;
    const int k = match.captured(2).toInt(&ok);
    if (!ok)
        return 0;
    const QString kind = match.captured(1);
    int number = 0;
    int limit = 0;
    if (kind == QLatin1String("S")) {
        number = k + 1;
        limit = 32;
    } else if (kind == QLatin1String("USB")) {
        number = k + 33;
        limit = 96;
    } else {
        number = k + 97;
        limit = 160;
    }
    return number <= limit ? number : 0;
}

QString TableDeviceOfNumber(int number)
{
    if (number >= 1 && number <= 32)
        return QStringLiteral("/dev/ttyS%1").arg(number - 1);
    if (number >= 33 && number <= 96)
        return QStringLiteral("/dev/ttyUSB%1").arg(number - 33);
    if (number >= 97 && number <= 160)
        return QStringLiteral("/dev/ttyACM%1").arg(number - 97);
    return {};
}

QList<SerialDevice> SystemSerialDevices()
{
    QList<SerialDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialDevice d;
        d.device = info.systemLocation();
        d.description = info.description();
        d.manufacturer = info.manufacturer();
        d.serialNumber = info.serialNumber();
        d.vendorId = info.hasVendorIdentifier() ? info.vendorIdentifier() : -1;
        d.productId = info.hasProductIdentifier() ? info.productIdentifier() : -1;
        devices.append(d);
    }
    return devices;
}

} // namespace nx7
